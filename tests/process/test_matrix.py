# The real program among the programs around it (scripts/environment.sh), one row a test: desktops
# (weston, openbox on Xvfb, sway, mutter with Xwayland, KWin at 200 %), a second GL
# implementation (zink), the sound servers (PulseAudio, PipeWire) and the display server killed
# during a run (desktop.weston is Matrix.test_weston); the portable build on the host's own
# driver, its tarball and C library; and ./dev on a desktop. The frame probe
# (tools/frame_probe.c) fixes the frame time, notes the sizes each frame is drawn at and,
# where a desktop gives a test no screenshot, reads the frame back as it is presented.

import os
import re
import signal
import subprocess
import tarfile
import time
import unittest
from collections import namedtuple
from fnmatch import fnmatchcase
from pathlib import Path

from harness import (CLOSE, NO_ASSETS, ON_HOST, READ_BACK_AT, SOURCE, Environment, VelmoraTest,
                     capture, probed, rms, run, wait_for, workdir)
from test_program import ESCAPE

FRAME_MS = 6000  # the frame time the probe gives every frame

# A row: the environment and its screen size; whether the frame is taken from the screen or read
# back by the probe (where the desktop gives a script no screenshot); how the run ends (a signal where the desktop offers a script no close,
# the close request, keys typed); the pixel sizes a user sees: the light mask at start-up, the
# first frame, the window once settled; the share of pixels that may be off; the renderer line.
# sway makes a window fullscreen only after its first frame, at SDL's default size. zink over
# lavapipe gives one whole row of pixels to the other tile where the edge between two rows of
# tiles passes through the pixels' centres: one row beyond the capture tolerance.
Row = namedtuple("Row", "environment size shot stop sizes tolerance renderer",
                 defaults=(0.001, "Renderer: ?*"))
DESKTOPS = {
    "weston": Row("weston", "2560x1440", True, signal.SIGTERM, ("2560x1440",) * 3),
    "openbox": Row("openbox", "1600x900", True, CLOSE, ("1600x900",) * 3),
    "openbox_escape": Row("openbox", "1600x900", True, ESCAPE, ("1600x900",) * 3),
    "sway": Row("sway", "1366x768", True, CLOSE, ("1920x1080", "1920x1080", "1366x768")),
    "mutter": Row("mutter", "1280x720", False, signal.SIGTERM, ("1280x720",) * 3),
    "kwin": Row("kwin", "1366x768", False, CLOSE, ("1366x768",) * 3),
    "zink": Row("zink", "480x270", True, signal.SIGTERM, ("480x270",) * 3, 0.001 + 1 / 270,
                "Renderer: zink *(llvmpipe *"),
}
SOUND_SERVERS = ("pulseaudio", "pipewire")
# The display server killed as a crash would end it, once three frames have been presented (under
# Wayland a frame callback may then be queued for a swap that waits for one): the demo ends within
# SERVER_GONE_S with one line (under X11 Xlib's, which ends the process) and status 1; small
# screens, so that the frame being drawn when the server dies is soon done: only then does the
# demo find out. SDL's own line
# when it notices the closed Wayland connection first is not counted.
SERVER_GONE_S = 2.0
SERVERS = {"xvfb": ("openbox", "X connection to :* broken (explicit kill or server shutdown)."),
           "weston": ("weston", "Lost the display: the Wayland connection failed (*)")}
SDL_WAYLAND_CLOSED = "Wayland display connection closed by server (fatal)"


# The portable build (the test's environment names where it is built and packaged): Debian 12's
# Mesa offers OpenGL 4.5 core; with Mesa's override it draws the frames velmora-capture draws.
TARBALL = Path(os.environ.get("VELMORA_LINUX_PACKAGE", "dist/velmora-linux-x86_64.tar.gz"))
PORTABLE = Path(os.environ.get("VELMORA_PORTABLE", "build/portable/velmora")).resolve()
OVERRIDE = {"MESA_GL_VERSION_OVERRIDE": "4.6", "MESA_GLSL_VERSION_OVERRIDE": "460"}
# ./dev on the host itself (scripts/on-host.sh), as the test's user.
HOST = [str(SOURCE / "scripts/on-host.sh")]
FALLBACK = "dev: this machine's OpenGL driver offers no 4.6 core context*"
PASSED_ON = ("http_proxy", "https_proxy", "no_proxy", "VELMORA_DEBIAN_MIRROR")


# The command line of ./dev in `folder` on the host, with a clean environment.
def dev(folder, *arguments, home, cache, env=()):
    passed = [f"{name}={os.environ[name]}" for name in PASSED_ON if name in os.environ]
    return [*HOST, "env", "-i", f"HOME={home}", "PATH=/usr/sbin:/usr/bin:/sbin:/bin",
            f"VELMORA_CACHE={cache}", *passed, *env, "sh", "-c", 'cd "$0" && exec ./dev "$@"',
            str(folder), *arguments]


class Matrix(VelmoraTest):
    # Runs velmora with the probe under `desktop`, `during(process, folder)` until `stop`; checks
    # the end, the lines and the renderer; returns the probe's last lines and the run's folder.
    def probed_run(self, desktop, during, stop, renderer="Renderer: ?*"):
        folder = workdir(self)
        result = run(folder, desktop, lambda process: during(process, folder), stop=stop,
                     probe=FRAME_MS)
        self.assertRun(result)
        self.assertTrue(fnmatchcase(result.stdout[1], renderer), result.stdout)
        return probed(folder), folder

    # Until `count` more frames have been presented, or the probe's `key` reads `value`.
    def wait_frames(self, process, folder, count=0, key=None, value=None):
        seen = probed(folder).get("frames", 0)
        wait_for(lambda: process.poll() is not None or (probed(folder).get(key) == value if key
                 else probed(folder).get("frames", 0) >= seen + count), f"no frames: {key}")
        self.assertIsNone(process.poll(), "velmora ended")

    # The window fills the output, the light mask follows it in the frame whose size changed, and
    # the screen (or the frame presented) is velmora-capture's frame for that size.
    def desktop(self, name):
        environment, size, shot, stop, sizes, tolerance, renderer = DESKTOPS[name]
        with Environment(environment, size) as desktop:
            def shown(process, folder):
                self.wait_frames(process, folder, key="viewport", value=sizes[2])
                self.wait_frames(process, folder, max(2, READ_BACK_AT - probed(folder)["frames"]))
                shot and desktop.do("shot", desktop.folder / "screen.png")
            seen, folder = self.probed_run(desktop, shown, stop, renderer)
            self.assertFrameShown(desktop.folder / "screen.png" if shot else folder / "frame.ppm",
                                  FRAME_MS / 1000, FRAME_MS / 1000, sizes[2], tolerance)
        self.assertEqual([seen[key] for key in ("first_mask", "first_viewport", "viewport", "mask")],
                         [*sizes, sizes[2]])
        self.assertEqual(seen["mask_frame"], seen["viewport_frame"])

    # The server's default device gets the music; the server killed while it plays (SDL and the
    # mixer say nothing), the frames go on and the demo closes normally.
    def sound(self, name):
        with Environment("openbox", "640x360") as openbox, Environment(name) as server:
            def listen(process, folder):
                wait_for(lambda: rms(capture(server.folder)) > 100, "no music recorded")
                server.do("crash")
                self.wait_frames(process, folder, 3)
            openbox.env.update(server.env)
            seen, _ = self.probed_run(openbox, listen, CLOSE)
        self.assertEqual(seen["audio_driver"], name)

    def server_gone(self, name):
        environment, line = SERVERS[name]
        with Environment(environment, "640x360") as desktop:
            folder, killed = workdir(self), []

            def kill(process):
                self.wait_frames(process, folder, 3)
                desktop.do("crash")
                killed.append(time.monotonic())
            result = run(folder, desktop, kill, stop=None, probe=FRAME_MS)
            self.assertLess(time.monotonic() - killed[0], SERVER_GONE_S)
        self.assertEqual(result.status, 1, result.stderr)
        self.assertLines([text for text in result.stderr if SDL_WAYLAND_CLOSED not in text],
                         [line])

    def test_portable_needs_only_the_c_library_of_debian_12(self):
        def read(*command):
            return subprocess.run([*command, PORTABLE], check=True, capture_output=True,
                                  text=True).stdout
        needed = set(re.findall(r"\(NEEDED\).*\[(.*)\]", read("readelf", "-d", "-W")))
        self.assertEqual(needed, {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"})
        versions = re.findall(r"\(GLIBC_([0-9.]+)\)", read("objdump", "-T"))
        self.assertLessEqual(max(tuple(map(int, v.split("."))) for v in versions), (2, 36))

    # On the host's own Mesa (outside the environment, its shader cache in the folder: the
    # account's home is not the user's own there when the suite runs as an ordinary user) and in
    # the environment's, another Mesa; from the unpacked tarball's launcher in another folder,
    # with and without the assets beside it. The launcher's runs end once frames show, as the
    # window manager destroys the frame it made: status 0 only if SDL's X11 code takes that
    # without a fatal BadWindow.
    def test_portable_on_the_hosts_driver_in_the_environment_and_from_its_launcher(self):
        folder, elsewhere, versions = workdir(self, ON_HOST), workdir(self), set()
        with tarfile.open(TARBALL) as tar:
            tar.extractall(folder, filter="tar")
        launcher = folder / "velmora-linux-x86_64/velmora"
        host = ["chroot", "/run/host", "sh", "-c", 'cd "$0" && exec "$@"', str(folder), PORTABLE]
        with Environment("openbox", "480x270") as display:
            for name, command, env, where in (
                    ("host", host, dict(OVERRIDE, XDG_CACHE_HOME=str(folder)), folder),
                    ("environment", [PORTABLE], {}, folder), ("launcher", [launcher], {}, elsewhere),
                    ("launcher without assets", [launcher], {}, elsewhere)):
                with self.subTest(name):
                    subprocess.run(["rm", "-rf", elsewhere / "assets"] + [
                        launcher.parent / "assets"] * ("without" in name), check=True)
                    shots = []  # two seconds in, once frames show, however loaded the machine
                    result = run(where, display, lambda process: shots.append(
                        display.tiles() and display.screenshot(process)), command=command,
                                 env=env, seconds=2)
                    self.assertRun(result, NO_ASSETS * ("without" in name))
                    versions.add(result.stdout[0])
                    if where == folder:
                        self.assertFrameShown(*shots[0], display.size)
        self.assertEqual(len(versions), 2, f"the same Mesa on both sides: {versions}")

    # ./dev run on a desktop runs the portable build on the machine's own OpenGL driver; where that
    # offers no 4.6 core context, it falls back to Mesa's software renderer after the build's own
    # report.
    def test_dev_run_on_a_desktop_uses_the_machines_driver_or_falls_back(self):
        home, cache, versions = os.environ["HOME"], os.environ["VELMORA_CACHE"], set()
        with Environment("xvfb", "480x270") as display:
            for env, fallback in (([f"{k}={v}" for k, v in OVERRIDE.items()], False), ([], True)):
                with self.subTest(fallback=fallback):
                    result = run(workdir(self, ON_HOST), display, stop=ESCAPE, command=dev(
                        SOURCE, "run", home=home, cache=cache, env=[
                            f"DISPLAY={display.env['DISPLAY']}", "SDL_AUDIO_DRIVER=disk",
                            "SDL_AUDIO_DISK_OUTPUT_FILE=/dev/null", *env]))
                    self.assertEqual(result.status, 0, result.stderr)
                    for line in ("SDL_GL_CreateContext failed: ?*", FALLBACK):
                        self.assertEqual(any(fnmatchcase(text, line) for text in result.stderr),
                                         fallback, line)
                    versions.add(next(line for line in result.stdout if line.startswith("OpenGL")))
        self.assertEqual(len(versions), 2, f"the same driver on both paths: {versions}")


for _table, _check, _suffix in ((DESKTOPS, Matrix.desktop, ""), (SOUND_SERVERS, Matrix.sound, ""),
                                (SERVERS, Matrix.server_gone, "_gone")):
    for _name in _table:
        setattr(Matrix, f"test_{_name}{_suffix}", lambda self, n=_name, c=_check: c(self, n))

if __name__ == "__main__":
    unittest.main()
