"""The real program on desktops that the tests start themselves: weston (headless backend, desktop
shell, one 2560x1440 output) and openbox on a 1600x900 Xvfb screen, with the GL census shim
preloaded to see every frame's viewport and the light mask's size from outside, and a PulseAudio
server whose null sink is the default playback device."""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import unittest
from array import array
from pathlib import Path
from subprocess import DEVNULL

from velmora_process import (ASSETS, RATE, TIMEOUT, VELMORA, Display, VelmoraTest, census, decode,
                             first_sound, run, wait_for, workdir)

SHIM = Path(os.environ.get("VELMORA_GL_CENSUS_SHIM",
                           VELMORA.parent / "tools/libvelmora-gl-census.so"))
CAPTURE = Path(os.environ.get("VELMORA_CAPTURE", VELMORA.parent / "tools/velmora-capture"))
FRAME_MS = 6000  # the frame time the shim gives every frame
# Printed by libraries on these desktops, not by the program: Mesa trying its drivers under
# Wayland, libdecor without plugins, libpipewire without a configuration (SDL tries PipeWire
# before PulseAudio).
NOTICES = ("MESA", "plugin", "pw.conf")
SILENCE = re.compile(rb"\0{128,}")  # 32 or more stereo frames of 16-bit zeros


class Weston:
    """weston with its headless backend and desktop shell: one output of `output` pixels drawn by
    its software renderer, a seat (without one the fullscreen window is never activated and the
    panel stays above it), and the debug protocol that its screenshooter needs."""

    output = (2560, 1440)

    def __enter__(self):
        self.folder = Path(tempfile.mkdtemp(prefix="velmora-weston-"))  # mode 0700
        # No DISPLAY: SDL has nothing but its Wayland driver to fall back on.
        self.env = {"XDG_RUNTIME_DIR": str(self.folder), "WAYLAND_DISPLAY": "wayland-velmora",
                    "SDL_VIDEO_DRIVER": "wayland"}
        self.process = subprocess.Popen(
            ["weston", "--backend=headless", "--renderer=pixman", "--width=%d" % self.output[0],
             "--height=%d" % self.output[1], "--fake-seat", "--debug", "--no-config",
             "--socket=wayland-velmora", f"--log={self.folder / 'weston.log'}"],
            env=dict(os.environ, **self.env), stdout=DEVNULL, stderr=DEVNULL)
        wait_for(lambda: (self.folder / "wayland-velmora").exists(), "weston did not start")
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)

    def screenshot(self, folder):
        subprocess.run(["weston-screenshooter"], cwd=folder, env=dict(os.environ, **self.env),
                       check=True, capture_output=True, timeout=TIMEOUT)
        return next(folder.glob("wayland-screenshot-*.png"))


class Openbox(Display):
    """openbox with its default configuration (Alt+F4 closes a window) on an Xvfb screen."""

    def __init__(self, output=(1600, 900)):
        self.output = output
        super().__init__("%dx%d" % output)

    def __enter__(self):
        super().__enter__()
        self.env = {"DISPLAY": self.name}
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=dict(os.environ, **self.env),
                                   stdout=DEVNULL, stderr=DEVNULL)
        # Set on the root window once openbox manages the screen.
        wait_for(lambda: b"window id" in self.tool("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"),
                 "openbox did not start")
        return self

    def __exit__(self, *exc):
        self.wm.terminate()
        self.wm.wait()
        super().__exit__(*exc)

    def screenshot(self, folder):
        self.tool("import", "-window", "root", folder / "screen.png")
        return folder / "screen.png"


class PulseAudio:
    """A PulseAudio server of its own whose one sink, the default playback device, is a null sink;
    `recorded()` is what that sink has played, recorded from its monitor by parec since start."""

    def __enter__(self):
        self.folder = Path(tempfile.mkdtemp(prefix="velmora-pulse-"))
        socket = self.folder / "native"
        self.env = {"PULSE_SERVER": f"unix:{socket}", "SDL_AUDIO_DRIVER": None}
        self.process = subprocess.Popen(
            ["pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1",
             f"--load=module-native-protocol-unix socket={socket} auth-anonymous=1",
             f"--load=module-null-sink sink_name=velmora rate={RATE} channels=2 format=s16le"],
            env=dict(os.environ, HOME=str(self.folder), XDG_RUNTIME_DIR=str(self.folder)),
            stdout=DEVNULL, stderr=DEVNULL)
        wait_for(lambda: subprocess.run(["pactl", "-s", self.env["PULSE_SERVER"], "info"],
                                        capture_output=True).returncode == 0,
                 "PulseAudio did not start")
        self.recording = self.folder / "monitor.raw"
        with open(self.recording, "wb") as out:
            self.recorder = subprocess.Popen(
                ["parec", "-s", self.env["PULSE_SERVER"], "-d", "velmora.monitor",
                 "--format=s16le", f"--rate={RATE}", "--channels=2"], stdout=out, stderr=DEVNULL)
        return self

    def __exit__(self, *exc):
        for process in (self.recorder, self.process):
            process.terminate()
            process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)

    def recorded(self):
        data = self.recording.read_bytes()
        return array("h", data[:len(data) // 4 * 4])

    def sounding(self):
        """Seconds recorded since the sound began."""
        recorded = self.recorded()
        return (len(recorded) // 2 - first_sound(recorded, 100)) / RATE


def different_share(a, b):
    """The share of pixels in which some channel of pictures `a` and `b` differs by more than 2,
    the capture test's tolerance."""
    largest = subprocess.run(
        ["convert", a, b, "-alpha", "off", "-compose", "difference", "-composite", "-separate",
         "-evaluate-sequence", "max", "-depth", "8", "gray:-"],
        check=True, capture_output=True).stdout
    return 1 - sum(map(largest.count, (0, 1, 2))) / len(largest)


def stretches(samples):
    """(first, end) frames of the stretches of stereo `samples` between runs of exact silence:
    what a sound server plays where its client fell behind (it drops a little of what comes late
    then)."""
    bounds, start, frames = [], 0, len(samples) // 2
    for silence in SILENCE.finditer(samples.tobytes()):
        first, last = -(-silence.start() // 4), silence.end() // 4
        if last - first >= 32:
            bounds += [(start, first)] if first > start else []
            start = last
    return bounds + ([(start, frames)] if frames > start else [])


def locate(samples, first, music, low, high, probe=128):
    """The frame of `music` from `low` to `high` where `samples` from frame `first` fit best."""
    part = samples[2 * first:2 * first + probe]
    return min(range(max(0, low), high), key=lambda frame: sum(
        abs(a - b) for a, b in zip(part, music[2 * frame:2 * frame + probe])))


class Desktop(VelmoraTest):
    def desktop_run(self, desktop, during, stop=None, env=()):
        """Runs velmora on `desktop` with the census shim preloaded and the frame time fixed;
        `during(process, census path)` once it has started. Returns the census written at
        exit."""
        folder = workdir(self)
        path = folder / "census.txt"
        result = run(folder, None, lambda process: during(process, path), stop=stop,
                     env=dict(desktop.env, LD_PRELOAD=str(SHIM), VELMORA_GL_CENSUS_FILE=str(path),
                              VELMORA_FIXED_TICKS=str(FRAME_MS), **dict(env)))
        result.stderr = [line for line in result.stderr if not any(n in line for n in NOTICES)]
        self.assertRun(result)
        return census(path)

    def wait_frames(self, process, path, count):
        """Waits until `count` more frames have been presented."""
        frames = lambda: (census(path) or {}).get("frames", 0)  # noqa: E731
        seen = frames()
        wait_for(lambda: process.poll() is not None or frames() >= seen + count,
                 f"no {count} frames in time")
        self.assertIsNone(process.poll(), "velmora ended")


# name: (desktop, keys typed once a frame is on the screen, then the signal sent)
SCREENS = {"weston, SIGTERM": ("weston", (), signal.SIGTERM),
           "openbox, its Alt+F4 binding": ("openbox", ("alt+F4",), None),
           "openbox, Escape": ("openbox", ("Escape",), None)}


class Screens(Desktop):
    @classmethod
    def setUpClass(cls):
        cls.weston, cls.openbox = cls.enterClassContext(Weston()), cls.enterClassContext(Openbox())
        cls.folder = Path(tempfile.mkdtemp(prefix="velmora-frames-"))
        cls.addClassCleanup(shutil.rmtree, cls.folder, ignore_errors=True)

    def reference(self, size):
        """The frame velmora-capture draws at `size` for the fixed frame time."""
        text = "%dx%d" % size
        path = self.folder / f"{text}.png"
        if not path.exists():
            with Display(text) as display:
                subprocess.run([CAPTURE, "--size", text, "--frame", str(FRAME_MS / 1000), path],
                               cwd=ASSETS.parent, env=dict(os.environ, DISPLAY=display.name),
                               check=True, capture_output=True, timeout=TIMEOUT)
        return path

    def test_the_window_fills_the_output_and_shows_the_frame_for_its_size(self):
        for name, (desktop, keys, stop) in SCREENS.items():
            with self.subTest(name):
                desktop, shots = getattr(self, desktop), []

                def look(process, path):
                    self.wait_frames(process, path, 2)
                    shots.append(desktop.screenshot(path.parent))
                    if keys:
                        desktop.key(*keys)

                seen = self.desktop_run(desktop, look, stop)
                size = "%dx%d" % desktop.output
                with self.subTest("every viewport and the light mask at the output's size"):
                    self.assertEqual((seen["first_viewport"], seen["other_viewports"],
                                      seen["empty_texture"]), (size, 0, size))
                with self.subTest("the output shows the frame drawn for that size"):
                    picture = subprocess.run(["identify", "-format", "%wx%h", shots[0]],
                                             check=True, capture_output=True).stdout.decode()
                    self.assertEqual(picture, size)
                    share = different_share(shots[0], self.reference(desktop.output))
                    self.assertLessEqual(share, 0.001)


class Sound(Desktop):
    @classmethod
    def setUpClass(cls):
        cls.openbox = cls.enterClassContext(Openbox((640, 360)))  # little load on the sound
        cls.music = decode(ASSETS / "audio/test.mp3")

    def test_the_sink_plays_the_music_as_decoded(self):
        with PulseAudio() as pulse:
            def listen(process, path):
                wait_for(lambda: pulse.sounding() > 4, "no four seconds of music recorded")
                self.openbox.key("alt+F4")

            self.desktop_run(self.openbox, listen, env=pulse.env)
            recorded = pulse.recorded()
        # Each stretch is the music where it left off before the silence, or a little later.
        position, heard, gaps = None, 0, 0
        for first, end in stretches(recorded):
            heard += end - first
            if end - first < 2048:
                continue  # too short to place
            low = first_sound(self.music) - RATE // 10 if position is None else position - 64
            at = locate(recorded, first, self.music, low, low + RATE // 5)
            self.assertSameSound(recorded[2 * first:2 * end],
                                 self.music[2 * at:2 * (at + end - first)], at / RATE)
            position, gaps = at + end - first, gaps + (position is not None)
        self.assertGreater(heard, 3 * RATE, "less than three seconds of the music")
        self.assertGreater(heard, 0.8 * position,
                           f"more than a fifth of the music left out, at {gaps} gaps")

    def test_the_sound_server_going_away_leaves_the_demo_running(self):
        with PulseAudio() as pulse:
            def kill(process, path):
                wait_for(lambda: pulse.sounding() > 1, "no music recorded")
                pulse.process.kill()
                pulse.process.wait()
                self.wait_frames(process, path, 3)
                self.openbox.key("alt+F4")

            self.desktop_run(self.openbox, kill, env=pulse.env)


if __name__ == "__main__":
    unittest.main()
