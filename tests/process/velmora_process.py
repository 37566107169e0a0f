# Runs the real velmora executable as a user would: on a virtual X display of its own (with a
# window manager if asked), with SDL's disk audio driver capturing what the mixer plays (S16LE,
# stereo, 44100 Hz). VELMORA_LAUNCHER names a command that runs it (wine, for the Windows build).

import contextlib
import math
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from array import array
from fnmatch import fnmatchcase
from pathlib import Path
from types import SimpleNamespace

import Xlib.display
from Xlib import X
from Xlib.protocol.event import ClientMessage

VELMORA = Path(os.environ.get("VELMORA_EXECUTABLE", "build/release/velmora")).resolve()
CAPTURE = Path(os.environ.get("VELMORA_CAPTURE", "build/release/tools/velmora-capture")).resolve()
SHIM = Path(os.environ.get("VELMORA_GL_CENSUS",
                           "build/release/tests/libvelmora-gl-census.so")).resolve()
LAUNCHER = os.environ.get("VELMORA_LAUNCHER", "").split()
SOURCE = Path(os.environ.get("VELMORA_SOURCE_DIR", Path(__file__).parents[2]))
ASSETS = SOURCE / "assets"
ON_HOST = SOURCE / "build/tests/on-host"  # working folders the host sees at the same path
# Start-up on llvmpipe takes a few seconds; under the sanitizers several times that.
TIMEOUT = float(os.environ.get("VELMORA_STARTUP_TIMEOUT", "60"))
RATE = 44100  # frames a second
SDL_NOTICES = ("XDG_RUNTIME_DIR", "SDL disk i/o audio driver", "Writing to file [")
NO_ASSETS = ["Failed to load texture: /textures/text1.jpg", "Failed to load music: ?*",
             "Failed to play music: ?*"]


# Polls `condition()` until it holds; fails with `what` once `timeout` seconds have passed.
def wait_for(condition, what, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(what)
        time.sleep(0.1)


# A program running for the duration of a with-block, its output dropped.
@contextlib.contextmanager
def background(*command, **options):
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               **options)
    try:
        yield process
    finally:
        process.terminate()
        process.wait()


# A virtual X display for a with-block; with `manager`, openbox's.
class Display(contextlib.ExitStack):

    def __init__(self, size="320x180", manager=False):
        super().__init__()
        self.size, self.manager = size, manager

    def __enter__(self):
        super().__enter__()
        read_end, write_end = os.pipe()
        self.server = self.enter_context(background(
            "Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{self.size}x24", "-nolisten",
            "tcp", "-noreset", pass_fds=(write_end,)))
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            self.name = ":" + reader.readline().strip()
        self.env = {"DISPLAY": self.name}
        if self.manager:
            self.enter_context(background("openbox", "--sm-disable",
                                          env=dict(os.environ, **self.env)))
            wait_for(lambda: b"window id" in self.tool("xprop", "-root",
                                                       "_NET_SUPPORTING_WM_CHECK"),
                     "openbox did not start")
        return self

    # Runs an X client on this display; returns its standard output.
    def tool(self, *args, timeout=30):
        return subprocess.run(args, env=dict(os.environ, **self.env), check=True,
                              capture_output=True, timeout=timeout).stdout

    def window(self):
        return self.tool("xdotool", "search", "--name", "^Velmora$").split()[0]

    def key(self, *keys):
        self.tool("xdotool", "windowfocus", "--sync", self.window(), "key", "--delay", "20", *keys)

    # Sends velmora's window WM_DELETE_WINDOW, as a window manager does; or asks the window manager
    # to close it (_NET_CLOSE_WINDOW to the root window, as a taskbar does: no time, source 2, a
    # pager).
    def request_close(self, through_manager=False):
        x = Xlib.display.Display(self.name)
        window, atom = x.create_resource_object("window", int(self.window())), x.intern_atom
        target, mask, kind, data = (
            (x.screen().root, X.SubstructureRedirectMask | X.SubstructureNotifyMask,
             "_NET_CLOSE_WINDOW", [0, 2]) if through_manager else
            (window, 0, "WM_PROTOCOLS", [atom("WM_DELETE_WINDOW"), 0]))
        target.send_event(ClientMessage(
            window=window, client_type=atom(kind), data=(32, data + [0] * 3)), event_mask=mask)
        x.sync()  # a round trip first: close() alone was seen to drop the event
        x.close()

    def screenshot(self, folder):
        self.tool("import", "-window", "root", folder / "screen.png")
        return folder / "screen.png"

    # Shares of the screen showing lifted (mint: green saturated) and flat (grey: red = green)
    # tiles, once they pass `enough` together or time is up.
    def tiles(self, enough=0.5, timeout=20.0):
        deadline = time.monotonic() + timeout
        while True:
            data = self.tool("import", "-window", "root", "-depth", "8", "rgb:-")
            pixels = list(zip(data[0::3], data[1::3], data[2::3]))
            mint = sum(g >= 240 and r < 160 for r, g, b in pixels) / len(pixels)
            grey = sum(r == g >= 100 for r, g, b in pixels) / len(pixels)
            if mint + grey > enough or time.monotonic() > deadline:
                return mint, grey
            time.sleep(0.2)


# A screenshot of `display` while `process` runs, and the frame times it may show: the program's
# clock starts when SDL does, later than the process (under Wine by seconds), so from `within`
# seconds before the time since the process started (or 0) to that time.
def screenshot(display, process, folder, within=None):
    seconds = time.monotonic() - process.started
    return display.screenshot(folder), seconds - (within or seconds), seconds


# A folder of the test's own with a copy of the assets (in `parent`, for the host to see).
def workdir(test, parent=None):
    if parent:
        Path(parent).mkdir(parents=True, exist_ok=True)
    folder = Path(tempfile.mkdtemp(prefix="velmora-", dir=parent))
    test.addCleanup(shutil.rmtree, folder, ignore_errors=True)
    shutil.copytree(ASSETS, folder / "assets")
    return folder


# What the audio device has received so far: interleaved stereo samples.
def capture(folder):
    data = (folder / "audio.raw").read_bytes() if (folder / "audio.raw").exists() else b""
    return array("h", data[:len(data) // 4 * 4])


# The last census of the GL census shim (tests/probes/gl_census.c), None before the first.
def census(path):
    if path.exists():
        pairs = (line.split() for line in path.read_text().splitlines())
        return {key: value if re.fullmatch(r"[a-z][a-z0-9]*|\d+x\d+", value) else float(value)
                for key, value in pairs}


# Runs velmora (or `command`) in `folder`; once it has printed its renderer line (unless it ended
# first) and run `seconds`, calls `before_stop(process)`, then sends `stop`: a signal, keys typed
# on `display` (a string; under Wine a signal would end Wine, not the program), a call (a close
# request) or nothing (None), and waits for the end. `env` adds to the environment; None there
# unsets a variable. Returns status, stdout, stderr (less SDL's notices), audio and folder.
def run(folder, display=None, before_stop=None, stop=signal.SIGTERM, seconds=0.0, env=None,
        command=None):
    environment = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    environment.update(SDL_AUDIO_DRIVER="disk", SDL_AUDIO_DISK_OUTPUT_FILE="audio.raw")
    environment.update(env or {}, **(display.env if display else {}))
    environment = {k: v for k, v in environment.items() if v is not None}
    out, err = folder / "stdout.txt", folder / "stderr.txt"
    with open(out, "w") as out_file, open(err, "w") as err_file:
        process = subprocess.Popen(command or [*LAUNCHER, VELMORA], cwd=folder, env=environment,
                                   stdout=out_file, stderr=err_file, stdin=subprocess.DEVNULL)
    process.started = time.monotonic()
    try:
        wait_for(lambda: process.poll() is not None or "Renderer: " in out.read_text(),
                 "velmora did not start in time")
        if process.poll() is None:
            time.sleep(seconds)
            if before_stop:
                before_stop(process)
            if isinstance(stop, str):
                display.key(stop)
            elif callable(stop):
                stop()
            elif stop:
                process.send_signal(stop)
        process.wait(timeout=TIMEOUT)
    finally:
        process.kill()
        process.wait()
    stderr = [line for line in err.read_text().splitlines()
              if not any(notice in line for notice in SDL_NOTICES)]
    return SimpleNamespace(status=process.returncode, stdout=out.read_text().splitlines(),
                           stderr=stderr, audio=capture(folder), folder=folder)


# A sound file decoded by ffmpeg into the capture's format.
def decode(path):
    return array("h", subprocess.run(
        ["ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-ac", "2", "-ar", str(RATE), "-"],
        check=True, capture_output=True).stdout)


def rms(samples):
    return math.sqrt(sum(x * x for x in samples) / len(samples)) if samples else 0.0


# RMS of each whole window of `seconds`.
def levels(samples, seconds):
    size = 2 * int(RATE * seconds)
    return [rms(samples[i:i + size]) for i in range(0, len(samples) - size + 1, size)]


# The frame of the first sample louder than `level`, or the frame count if none is.
def first_sound(samples, level=1):
    return next((i // 2 for i, x in enumerate(samples) if abs(x) > level), len(samples) // 2)


# The frame of `music` from `low` to `high` at which `samples` from frame `first` fit best.
def locate(samples, first, music, low, high, probe=512):
    part = samples[2 * first:2 * first + probe]
    return min(range(max(0, low), high), key=lambda frame: sum(
        abs(a - b) for a, b in zip(part, music[2 * frame:2 * frame + probe])))


class VelmoraTest(unittest.TestCase):
    # Exit `status`, the two normal lines (none after a failed start), `stderr` patterns.
    def assertRun(self, result, stderr=(), status=0):
        stdout = ["OpenGL version: 4.6*", "Renderer: ?*"] if status == 0 else []
        self.assertEqual(result.status, status, result.stderr)
        for lines, patterns in ((result.stdout, stdout), (result.stderr, list(stderr))):
            self.assertTrue(len(lines) == len(patterns) and all(map(fnmatchcase, lines, patterns)),
                            f"{lines} do not match {patterns}")

    # The picture at `size` is velmora-capture's frame at a time (whole ms) from `low` to `high`
    # s within the capture tolerance (0.1 % of the pixels off, unless `tolerance` says otherwise),
    # a time that moves (1 s or more). Returns the share of pixels off.
    def assertFrameShown(self, picture, low, high, size, tolerance=0.001):
        with Display(size) as display:
            found = display.tool(CAPTURE, "--size", size, "--match", picture,
                                 f"{max(0, low):.3f}", f"{high:.3f}", timeout=20 * TIMEOUT).split()
        self.assertLessEqual(float(found[1]), tolerance, f"closest frame at {found[0]} s")
        self.assertGreaterEqual(float(found[0]), 1.0, "the frame time does not move")
        return float(found[1])

    # Loudness per 100 ms within 10 %, and what is left after subtracting the expected under
    # `residual` (2 %) of it (`at`: where `heard` starts, in seconds). Returns the largest
    # loudness difference and what is left, as shares.
    def assertSameSound(self, heard, expected, at=0.0, residual=0.02):
        loudness = 0.0
        for tenth, (got, want) in enumerate(zip(levels(heard, 0.1), levels(expected, 0.1))):
            self.assertAlmostEqual(got / want, 1.0, delta=0.1, msg=f"at {at + tenth / 10:.1f} s")
            loudness = max(loudness, abs(got / want - 1.0))
        left = rms([a - b for a, b in zip(heard, expected)]) / rms(expected)
        self.assertLess(left, residual, f"the waveform from {at:.2f} s")
        return loudness, left


# Tests that share one virtual X display, self.display.
class OnDisplay(VelmoraTest):
    @classmethod
    def setUpClass(cls):
        cls.display = cls.enterClassContext(Display())
