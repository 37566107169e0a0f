# The real program on desktops that the tests start themselves (weston, openbox on Xvfb, sway,
# mutter with Xwayland, KWin at 200 %), with the GL census shim preloaded to see from outside
# every frame's viewport, the light mask's size and the GL objects, to fix the frame time and,
# where the desktop gives a test no screenshot, to read the frame back as it is presented; and the
# sound servers (PulseAudio, PipeWire), each with a null sink as the default device.

import contextlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from fnmatch import fnmatchcase
from pathlib import Path

from velmora_process import (ASSETS, RATE, SHIM, TIMEOUT, Display, VelmoraTest, background,
                             capture, census, decode, first_sound, locate, run, wait_for, workdir)

FRAME_MS = 6000  # the frame time the shim gives every frame
READ_BACK_AT = 4  # the frame the shim reads back, where a desktop gives a test no screenshot
FEW_FRAMES = 4  # frames from a change of the output's mode until the window has its new size
# Printed by libraries on these desktops, not by the program: Mesa trying its drivers under
# Wayland, libdecor without plugins, libpipewire without a configuration (SDL tries PipeWire
# before PulseAudio).
NOTICES = ("MESA", "plugin", "pw.conf")
SILENCE = re.compile(rb"\0{128,}")  # 32 or more stereo frames of 16-bit zeros
# Kept from start-up to shutdown: four programs, the tile, backdrop and full-screen quad meshes
# (a vertex array and a buffer each), the height map and light mask textures, the light mask
# framebuffer; shaders are deleted once linked. The context releases the quad and the height map.
KEPT = {"buffers": 3, "vertex_arrays": 3, "textures": 2, "framebuffers": 1, "renderbuffers": 0,
        "samplers": 0, "queries": 0, "programs": 4, "shaders": 0}
WITH_CONTEXT = {"buffers": 1, "vertex_arrays": 1, "textures": 1}
# GL errors after any pass of any frame, and the debug output's high and medium messages.
GL_TROUBLE = ("gl_errors", "gl_debug_high", "gl_debug_medium")


# weston with its headless backend and desktop shell: one 2560x1440 output drawn by its software
# renderer, a seat (without one the fullscreen window is never activated and the panel stays
# above it), and the debug protocol that its screenshooter needs. No DISPLAY: SDL can only use
# Wayland.
class Weston(contextlib.ExitStack):

    size = "2560x1440"

    def __enter__(self):
        folder = self.enter_context(tempfile.TemporaryDirectory(prefix="velmora-weston-"))
        self.env = {"XDG_RUNTIME_DIR": folder, "WAYLAND_DISPLAY": "velmora",
                    "SDL_VIDEO_DRIVER": "wayland"}
        width, height = self.size.split("x")
        self.server = self.enter_context(background(
            "weston", "--backend=headless", "--renderer=pixman", f"--width={width}",
            f"--height={height}",
            "--fake-seat", "--debug", "--no-config", "--socket=velmora",
            env=dict(os.environ, **self.env)))
        wait_for(lambda: Path(folder, "velmora").exists(), "weston did not start")
        return self

    def screenshot(self, folder):
        subprocess.run(["weston-screenshooter"], cwd=folder, env=dict(os.environ, **self.env),
                       check=True, capture_output=True, timeout=TIMEOUT)
        return next(folder.glob("wayland-screenshot-*.png"))


# A program and everything it starts (a compositor's Xwayland, a D-Bus session) for a with-block,
# in a process group of its own that is ended as a whole; output in `log` when given.
@contextlib.contextmanager
def group(*command, log=None, **options):
    with open(log or os.devnull, "w") as out:
        process = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, start_new_session=True, **options)
    try:
        yield process
    finally:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, signal.SIGTERM)
        process.wait()
        time.sleep(0.2)
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, signal.SIGKILL)


# A compositor started by the test in a runtime folder of its own (its sockets, HOME for what it
# writes there). `size` is the window's settled pixel size.
class Compositor(contextlib.ExitStack):

    def __init__(self, size):
        super().__init__()
        self.size = size

    def __enter__(self):
        super().__enter__()
        self.folder = Path(self.enter_context(tempfile.TemporaryDirectory(prefix="velmora-")))
        self.env = {"XDG_RUNTIME_DIR": str(self.folder), "SDL_VIDEO_DRIVER": None}
        self.base = dict(os.environ, XDG_RUNTIME_DIR=str(self.folder), HOME=str(self.folder))
        return self

    def start(self, *command, ready, **env):
        self.process = self.enter_context(group(*command, log=self.folder / "log", cwd=self.folder,
                                                env=dict(self.base, **env)))
        wait_for(lambda: self.process.poll() is not None or ready(),
                 f"{command[0]} did not start")
        self.assertRunning(command[0])

    def assertRunning(self, what):
        if self.process.poll() is not None:
            raise AssertionError(f"{what} ended: {(self.folder / 'log').read_text()[-2000:]}")


# sway, the wlroots reference compositor: headless backend, pixman renderer, one output of `size`
# at scale 1, no Xwayland (SDL uses Wayland). sway refuses to run as root, so it runs as uid 1000
# of a user namespace of its own (mapped to the test's own uid, root or not). It makes a window
# fullscreen only after its first frame: that frame is 1920x1080, SDL's default.
class Sway(Compositor):

    first = "1920x1080"

    def __enter__(self):
        super().__enter__()
        width, height = self.size.split("x")
        (self.folder / "config").write_text(
            f"output HEADLESS-1 resolution {width}x{height} scale 1\nxwayland disable\n")
        self.start("unshare", "--user", "--map-user=1000", "--map-group=1000", "sway", "-c",
                   "config", ready=lambda: list(self.folder.glob("sway-ipc.*.sock")),
                   WLR_BACKENDS="headless", WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1")
        wait_for(lambda: (self.folder / "wayland-1").exists(), "sway made no Wayland socket")
        self.env["WAYLAND_DISPLAY"] = "wayland-1"
        return self

    def message(self, *command):
        socket = next(self.folder.glob("sway-ipc.*.sock"))
        return subprocess.run(["swaymsg", "-s", socket, *command], check=True, capture_output=True,
                              timeout=TIMEOUT).stdout

    def close(self):
        self.message("[title=^Velmora$]", "kill")  # the close request, as a title bar's button

    def screenshot(self, folder):
        subprocess.run(["grim", folder / "screen.png"],
                       env=dict(self.base, WAYLAND_DISPLAY=self.env["WAYLAND_DISPLAY"]),
                       check=True, capture_output=True, timeout=TIMEOUT)
        return folder / "screen.png"


# GNOME's compositor as a GNOME session runs it: mutter in a D-Bus session of its own, headless,
# one virtual monitor of `size`, and Xwayland, so that both WAYLAND_DISPLAY and DISPLAY are set
# and SDL picks its video driver itself. The Xwayland display and its authority file are read
# from the Xwayland command line. No screenshot for a test: the shim reads the frame back.
class Mutter(Compositor):

    def __enter__(self):
        super().__enter__()
        self.start("dbus-run-session", "--", "mutter", "--headless", "--wayland",
                   "--wayland-display=velmora", "--virtual-monitor", self.size,
                   ready=lambda: self.xwayland() is not None)
        display, auth = self.xwayland()
        self.env.update(WAYLAND_DISPLAY="velmora", DISPLAY=display, XAUTHORITY=auth)
        return self

    # (display, authority file) of the Xwayland that this mutter started, None before it runs.
    def xwayland(self):
        for command in Path("/proc").glob("[0-9]*/cmdline"):
            with contextlib.suppress(OSError):
                args = command.read_bytes().decode(errors="replace").split("\0")
                if Path(args[0]).name == "Xwayland" and str(self.folder) in "".join(args):
                    return args[1], args[args.index("-auth") + 1]
        return None


# KDE's KWin as a Plasma session on a HiDPI laptop runs it: a virtual output of `size` pixels at
# scale 2, Xwayland, Qt's offscreen platform, in a D-Bus session of its own. The installed binary
# carries file capabilities that a sandbox refuses to execute; a plain copy runs. KWin starts a
# program of ours once Xwayland is up, which notes the X display and authority KWin gives it and
# ends (KWin runs on: no --exit-with-session).
class KWin(Compositor):

    def __enter__(self):
        super().__enter__()
        width, height = (int(n) // 2 for n in self.size.split("x"))
        shutil.copy(shutil.which("kwin_wayland"), self.folder / "kwin_wayland")
        (self.folder / "session").write_text(
            '#!/bin/sh\necho "$DISPLAY $XAUTHORITY" > x11\n')
        (self.folder / "session").chmod(0o755)
        self.start("dbus-run-session", "--", "sh", "-c",
                   'echo "$DBUS_SESSION_BUS_ADDRESS" > bus && exec "$@"', "kwin",
                   self.folder / "kwin_wayland", "--virtual", "--width", str(width), "--height",
                   str(height), "--scale", "2", "--socket", "velmora", "--xwayland",
                   self.folder / "session", ready=lambda: (self.folder / "x11").exists(),
                   QT_QPA_PLATFORM="offscreen")
        display, auth = ((self.folder / "x11").read_text().split() + [""])[:2]
        self.env.update(WAYLAND_DISPLAY="velmora", DISPLAY=display, XAUTHORITY=auth or None)
        return self

    # Asks KWin to close the window, as its title bar's button does, through a KWin script.
    def close(self):
        script = self.folder / "close.js"
        script.write_text('for (const window of workspace.windowList())\n'
                          '  if (window.caption === "Velmora") window.closeWindow();\n')
        bus = (self.folder / "bus").read_text().strip()
        for call in (["org.kde.kwin.Scripting.loadScript", f"string:{script}", "string:close"],
                     ["org.kde.kwin.Scripting.start"]):
            subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.kde.KWin",
                            "/Scripting", *call], env=dict(self.base, DBUS_SESSION_BUS_ADDRESS=bus),
                           check=True, capture_output=True, timeout=TIMEOUT)


# A sound server of its own whose default playback device is a null sink; parec records what it
# plays from its monitor into audio.raw in `folder`. `kill()` ends the server as a crash would.
class SoundServer(contextlib.ExitStack):

    def __enter__(self):
        super().__enter__()
        self.folder = Path(self.enter_context(tempfile.TemporaryDirectory(prefix="velmora-")))
        self.base = dict(os.environ, HOME=str(self.folder), XDG_RUNTIME_DIR=str(self.folder))
        return self

    def record(self, server):
        wait_for(lambda: subprocess.run(["pactl", "-s", server, "info"], env=self.base,
                                        capture_output=True).returncode == 0,
                 f"{type(self).__name__} did not start")
        self.enter_context(background("sh", "-c", f'exec parec -s {server} -d velmora.monitor '
                                      f'--format=s16le --rate={RATE} --channels=2 > audio.raw',
                                      cwd=self.folder, env=self.base))

    # Seconds recorded since the sound began.
    def sounding(self):
        recorded = capture(self.folder)
        return (len(recorded) // 2 - first_sound(recorded, 100)) / RATE


# PulseAudio 17 with the null sink as its one sink.
class PulseAudio(SoundServer):

    driver = "pulseaudio"

    def __enter__(self):
        super().__enter__()
        server = f"unix:{self.folder}/native"
        # A runtime folder without PipeWire's socket: the user's own PipeWire is not found.
        self.env = {"PULSE_SERVER": server, "XDG_RUNTIME_DIR": str(self.folder),
                    "SDL_AUDIO_DRIVER": None}
        self.server = self.enter_context(background(
            "pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1",
            f"--load=module-native-protocol-unix socket={self.folder}/native auth-anonymous=1",
            f"--load=module-null-sink sink_name=velmora rate={RATE} channels=2 format=s16le",
            env=self.base))
        self.record(server)
        return self

    def kill(self):
        self.server.kill()


# PipeWire as desktops run it: the daemon, WirePlumber (its session manager, which links streams
# to the default device) and pipewire-pulse in one D-Bus session; the null sink is made and made
# the default through pipewire-pulse, as a user's sound settings do. SDL finds the daemon's
# socket in XDG_RUNTIME_DIR and takes its PipeWire driver, since it sees a device.
class PipeWire(SoundServer):

    driver = "pipewire"

    def __enter__(self):
        super().__enter__()
        server = f"unix:{self.folder}/pulse/native"
        self.env = {"XDG_RUNTIME_DIR": str(self.folder), "SDL_AUDIO_DRIVER": None}
        # The graph at the music's rate, as on a desktop set to 44.1 kHz: no resampling between
        # the mixer and the recording (at PipeWire's default 48 kHz, resampled twice, the
        # waveform is 13 % off while each tenth of a second keeps its loudness).
        drop_in = self.folder / "config/pipewire/pipewire.conf.d/rate.conf"
        drop_in.parent.mkdir(parents=True)
        drop_in.write_text(f"context.properties = {{ default.clock.rate = {RATE} }}\n")
        self.base["XDG_CONFIG_HOME"] = str(self.folder / "config")
        self.enter_context(group(
            "dbus-run-session", "--", "sh", "-c",
            "pipewire & echo $! > pipewire.pid; wireplumber & exec pipewire-pulse",
            log=self.folder / "log", cwd=self.folder, env=self.base))
        wait_for(lambda: subprocess.run(["pactl", "-s", server, "info"], env=self.base,
                                        capture_output=True).returncode == 0,
                 "PipeWire did not start")
        pactl = ["pactl", "-s", server]
        subprocess.run([*pactl, "load-module", "module-null-sink", "sink_name=velmora",
                        f"rate={RATE}", "channels=2", "format=s16le"], env=self.base, check=True,
                       capture_output=True, timeout=TIMEOUT)
        # The sink's node comes to the graph a little after the module is loaded.
        wait_for(lambda: subprocess.run([*pactl, "set-default-sink", "velmora"], env=self.base,
                                        capture_output=True).returncode == 0,
                 "PipeWire's null sink did not come")
        self.record(server)
        return self

    def kill(self):
        os.kill(int((self.folder / "pipewire.pid").read_text()), signal.SIGKILL)


# (first, end) frames of the stretches of stereo `samples` between runs of exact silence: what a
# sound server plays where its client fell behind (it drops a little of what comes late then).
def stretches(samples):
    bounds, start = [], 0
    for silence in SILENCE.finditer(samples.tobytes()):
        first, last = -(-silence.start() // 4), silence.end() // 4
        if last - first >= 32:
            bounds += [(start, first)] if first > start else []
            start = last
    return bounds + ([(start, len(samples) // 2)] if len(samples) // 2 > start else [])


class Desktop(VelmoraTest):
    # Runs velmora on `desktop` with the census shim and the fixed frame time, and `during(process,
    # census path)` after two frames, then `stop` (see run); checks that it keeps its GL objects
    # from then on, creates none later and deletes them at shutdown. Returns the exit census.
    def desktop_run(self, desktop, during, stop, env=()):
        folder, running = workdir(self), []
        path = folder / "census.txt"

        def watched(process):
            self.wait_frames(process, path, 2)
            running.append(census(path))
            during(process, path)
        result = run(folder, desktop, watched, stop=stop,
                     env=dict(env, LD_PRELOAD=str(SHIM), VELMORA_GL_CENSUS_FILE=str(path),
                              VELMORA_FIXED_TICKS=str(FRAME_MS),
                              VELMORA_GL_CENSUS_FRAME=str(folder / "frame.ppm"),
                              VELMORA_GL_CENSUS_FRAME_NUMBER=str(READ_BACK_AT)))
        result.stderr = [line for line in result.stderr if not any(n in line for n in NOTICES)]
        self.assertRun(result)
        left = census(path)
        self.assertEqual({kind: running[0][kind] for kind in KEPT}, KEPT)
        self.assertEqual((left["phase"], left["created"]), ("exit", running[0]["created"]))
        self.assertTrue(all(left[kind] <= WITH_CONTEXT.get(kind, 0) for kind in KEPT), left)
        self.assertEqual([left[key] for key in GL_TROUBLE], [0] * len(GL_TROUBLE), left)
        return left

    # Waits until `count` more frames have been presented.
    def wait_frames(self, process, path, count):
        frames = lambda: (census(path) or {}).get("frames", 0)  # noqa: E731
        seen = frames()
        wait_for(lambda: process.poll() is not None or frames() >= seen + count,
                 f"no {count} frames in time")
        self.assertIsNone(process.poll(), "velmora ended")


# The desktops, one case a row: name, group (one ctest test each, so that two ctest jobs run
# groups side by side), the desktop, how the run ends once the frame is shown, and the pixel sizes
# a user sees: the light mask at start-up, the first frame, the window once it has settled. How a
# run ends: a signal (where the desktop offers a test no close), a close request (a call on the
# desktop: openbox asked as a taskbar asks it, _NET_CLOSE_WINDOW, which openbox turns into the
# close request; sway asked as its title bar's button asks it), or keys typed (headless weston
# takes no input). Openbox's own Alt+F4, typed through xdotool, was lost about once in twenty runs
# under load: the loop drew on, and a second Alt+F4 closed the window at once.
DESKTOPS = (
    ("weston, SIGTERM", "screens", lambda: Weston(), signal.SIGTERM, ("2560x1440",) * 3),
    ("openbox, closed through it", "screens", lambda: Display("1600x900", manager=True),
     lambda openbox: openbox.request_close(through_manager=True), ("1600x900",) * 3),
    ("openbox, Escape", "screens", lambda: Display("1600x900", manager=True), "Escape",
     ("1600x900",) * 3),
    ("sway 1366x768, closed through it", "wlroots", lambda: Sway("1366x768"), Sway.close,
     ("1920x1080", "1920x1080", "1366x768")),
    ("mutter 1280x720 with Xwayland, SIGTERM", "gnome_kde", lambda: Mutter("1280x720"),
     signal.SIGTERM, ("1280x720",) * 3),
    ("KWin 1366x768 at 200 % with Xwayland, closed through it", "gnome_kde",
     lambda: KWin("1366x768"), KWin.close, ("1366x768",) * 3),
)


class Screens(Desktop):
    group = "screens"

    def test_the_window_fills_the_output_and_shows_the_frame_for_its_size(self):
        for name, _, make, stop, (mask, first, settled) in (
                row for row in DESKTOPS if row[1] == self.group):
            with self.subTest(name), make() as desktop:
                began, pictures = time.monotonic(), []

                def shown(process, path):
                    if hasattr(desktop, "screenshot"):
                        wait_for(lambda: process.poll() is not None or
                                 census(path)["viewport"] == settled, "the window kept its size")
                        self.wait_frames(process, path, 2)
                        pictures.append(desktop.screenshot(path.parent))
                    else:  # the shim's read-back
                        wait_for(lambda: process.poll() is not None or
                                 census(path)["frames"] >= READ_BACK_AT, "no frames to read back")
                        pictures.append(path.parent / "frame.ppm")
                ending = (lambda: stop(desktop)) if callable(stop) else stop
                seen = self.desktop_run(desktop, shown, ending)
                off = self.assertFrameShown(pictures[0], FRAME_MS / 1000, FRAME_MS / 1000, settled)
                self.assertEqual((seen["first_empty_texture"], seen["first_viewport"],
                                  seen["viewport"], seen["empty_texture"]),
                                 (mask, first, settled, settled))
                # The mask follows in the frame whose viewport changed.
                self.assertEqual(seen["empty_texture_frame"], seen["viewport_frame"])
                report(name, seen, off, began)


# A line for the log: what a user sees on a desktop, and what the case took.
def report(name, seen, off, began):
    print(f"{name}: {seen['video_driver']}, mask {seen['first_empty_texture']} at start-up, first "
          f"frame {seen['first_viewport']}, then {seen['viewport']} from frame "
          f"{seen['viewport_frame']:.0f}, mask {seen['empty_texture']} from frame "
          f"{seen['empty_texture_frame']:.0f} ({seen['empty_textures']:.0f} made), "
          f"{off:.4%} of the pixels off, {time.monotonic() - began:.1f} s", file=sys.stderr)


class Wlroots(Screens):
    group = "wlroots"

    # The output's mode changes during the run (a display's resolution changed, a laptop docked):
    # within a few frames the window, its viewport and the mask have the new size, and the screen
    # shows the frame for it.
    def test_the_picture_follows_a_change_of_the_outputs_mode(self):
        with Sway("1024x576") as sway:
            began, seen = time.monotonic(), []

            def reaches(process, path, size):
                wait_for(lambda: process.poll() is not None or census(path)["viewport"] == size,
                         f"the window did not reach {size}")

            def change(process, path):
                reaches(process, path, "1024x576")
                self.wait_frames(process, path, 1)  # a census just written: its frame count
                seen.append(census(path))
                sway.message("output", "HEADLESS-1", "resolution", "1280x720")
                reaches(process, path, "1280x720")
                self.wait_frames(process, path, 2)
                seen.append(census(path))
                seen.append(sway.screenshot(path.parent))
            self.desktop_run(sway, change, sway.close)
            before, after, shot = seen
            off = self.assertFrameShown(shot, FRAME_MS / 1000, FRAME_MS / 1000, "1280x720")
            self.assertEqual((after["empty_texture"], after["empty_texture_frame"]),
                             ("1280x720", after["viewport_frame"]))
            self.assertLessEqual(after["viewport_frame"] - before["frames"], FEW_FRAMES)
            report(f"sway 1024x576 to 1280x720 after frame {before['frames']:.0f}", after, off,
                   began)


class GnomeKde(Screens):
    group = "gnome_kde"


class Sound(Desktop):
    def test_the_sink_plays_the_music_and_the_demo_outlives_the_server(self):
        openbox = self.enterContext(Display("640x360", manager=True))  # a light load
        music = decode(ASSETS / "audio/test.mp3")
        for server in (PulseAudio, PipeWire):
            with self.subTest(server.__name__), server() as sound:
                self.check_music(openbox, sound, music)

    def check_music(self, openbox, sound, music):
        began, recorded = time.monotonic(), []

        def listen(process, path):
            wait_for(lambda: sound.sounding() > 4, "no four seconds of music recorded")
            recorded.append(capture(sound.folder))
            sound.kill()  # SDL and the mixer say nothing; the frames go on
            self.wait_frames(process, path, 3)

        seen = self.desktop_run(openbox, listen, openbox.request_close, env=sound.env)
        self.assertEqual(seen["audio_driver"], sound.driver)
        # Each stretch is the music where it left off before the silence, or a little later.
        position, heard, placed = None, 0, []
        for first, end in stretches(recorded[0]):
            heard += end - first
            if end - first < 2048:
                continue  # too short to place
            low = first_sound(music) - RATE // 10 if position is None else position - 64
            at = locate(recorded[0], first, music, low, low + RATE // 5, 128)
            placed.append(self.assertSameSound(recorded[0][2 * first:2 * end],
                                               music[2 * at:2 * (at + end - first)], at / RATE))
            position = at + end - first
        self.assertGreater(heard, 3 * RATE, "less than three seconds of the music")
        self.assertGreater(heard, 0.8 * position, "more than a fifth of the music left out")
        print(f"{type(sound).__name__}: {seen['audio_driver']}, {heard / RATE:.2f} s heard in "
              f"{len(placed)} stretches up to {position / RATE:.2f} s of the music, loudness "
              f"within {max(p[0] for p in placed):.3%}, waveform off by at most "
              f"{max(p[1] for p in placed):.3%}, {time.monotonic() - began:.1f} s", file=sys.stderr)


# The display server killed during a run, as a crash would end it: the demo ends within
# SERVER_GONE_S with one line on standard error (under X11 Xlib's, which ends the process) and
# status 1, never hanging and never dumping core; the music ends with it. Small screens, so that
# the frame being drawn when the server dies is soon done: only then does the demo find out.
class SmallWeston(Weston):
    size = "640x360"


SERVER_GONE_S = 2.0
SERVERS = {  # name: (the desktop, the line on standard error)
    "Xvfb": (lambda: Display("640x360", manager=True),  # fullscreen at its size
             "X connection to :* broken (explicit kill or server shutdown)."),
    "weston": (SmallWeston, "Lost the display: the Wayland connection failed (*)"),
}
# SDL's own line, when it notices the closed Wayland connection first.
SDL_WAYLAND_CLOSED = "Wayland display connection closed by server (fatal)"


class ServerGone(Desktop):
    def test_the_demo_ends_at_once_with_one_line_when_the_display_server_is_killed(self):
        for name, (server, line) in SERVERS.items():
            with self.subTest(name), server() as desktop:
                folder, killed = workdir(self), []
                path = folder / "census.txt"

                def kill(process):
                    self.wait_frames(process, path, 2)
                    desktop.server.kill()
                    killed.append(time.monotonic())
                result = run(folder, desktop, kill, stop=None,
                             env=dict(LD_PRELOAD=str(SHIM), VELMORA_GL_CENSUS_FILE=str(path)))
                seconds = time.monotonic() - killed[0]
                stderr = [text for text in result.stderr if not any(
                    notice in text for notice in (*NOTICES, SDL_WAYLAND_CLOSED))]
                self.assertEqual(result.status, 1, result.stderr)
                self.assertEqual(len(stderr), 1, result.stderr)
                self.assertTrue(fnmatchcase(stderr[0], line), stderr)
                self.assertLess(seconds, SERVER_GONE_S)


if __name__ == "__main__":
    unittest.main()
