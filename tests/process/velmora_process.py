"""Runs the real velmora executable the way a user would, on a virtual X display of its own,
with SDL's disk audio driver capturing what the mixer plays, and collects what it printed."""

import ctypes
import math
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from array import array
from dataclasses import dataclass
from pathlib import Path

VELMORA = Path(os.environ.get("VELMORA_EXECUTABLE", "build/release/velmora")).resolve()
SOURCE_DIR = Path(os.environ.get("VELMORA_SOURCE_DIR", Path(__file__).resolve().parents[2]))
ASSETS = SOURCE_DIR / "assets"

# Startup on llvmpipe, with the tile mesh upload and shader builds, takes a few seconds; under
# the sanitizers several times that.
STARTUP_TIMEOUT = float(os.environ.get("VELMORA_STARTUP_TIMEOUT", "60"))

RATE = 44100  # frames per second of the capture; two S16LE samples per frame
SILENT = 10  # RMS, of a full scale of 32767
AUDIBLE = 300
WINDOW = 0.05  # seconds


@dataclass
class Run:
    returncode: int
    stdout: str
    stderr: str
    audio: Path  # the disk driver's capture: S16LE, stereo, 44100 Hz
    workdir: Path

    def stderr_lines(self):
        """Standard error without SDL's own notices about the headless environment."""
        noise = ("XDG_RUNTIME_DIR", "SDL disk i/o audio driver", "Writing to file [")
        return [line for line in self.stderr.splitlines() if not any(n in line for n in noise)]


class Display:
    """A virtual X display, WIDTHxHEIGHT, for the duration of a with-block."""

    def __init__(self, size="320x180"):
        self.size = size

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{self.size}x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            number = reader.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.name = f":{number}"
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait()

    def tool(self, *args, check=True):
        """Runs an X client (xdotool, import, ...) on this display; returns its stdout bytes."""
        env = dict(os.environ, DISPLAY=self.name)
        return subprocess.run(args, env=env, check=check, capture_output=True, timeout=30).stdout

    def velmora_window(self):
        """The X id of velmora's window."""
        ids = self.tool("xdotool", "search", "--name", "^Velmora$").split()
        if not ids:
            raise AssertionError("no Velmora window on the display")
        return int(ids[0])

    def key(self, *keys):
        """Types keys into velmora's window, given the focus first."""
        window = str(self.velmora_window())
        self.tool("xdotool", "windowfocus", "--sync", window, "key", "--delay", "20", *keys)

    def request_close(self):
        """Asks velmora's window to close the way a window manager does: a WM_DELETE_WINDOW
        client message."""
        window = self.velmora_window()
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.c_void_p]
        x11.XFlush.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

        class ClientMessage(ctypes.Structure):  # XClientMessageEvent, format 32
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                        ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                        ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                        ("format", ctypes.c_int), ("data", ctypes.c_long * 5),
                        ("pad", ctypes.c_long * 24)]  # an XEvent is 24 longs; room to spare

        connection = x11.XOpenDisplay(self.name.encode())
        if not connection:
            raise AssertionError(f"cannot open {self.name}")
        event = ClientMessage(type=33, window=window, format=32,
                              message_type=x11.XInternAtom(connection, b"WM_PROTOCOLS", 0))
        event.data[0] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
        x11.XSendEvent(connection, window, 0, 0, ctypes.byref(event))
        x11.XFlush(connection)
        x11.XCloseDisplay(connection)

    def max_texture_size(self):
        """GL_MAX_TEXTURE_SIZE of the driver that renders on this display."""
        for line in self.tool("glxinfo", "-l").decode().splitlines():
            if "GL_MAX_TEXTURE_SIZE" in line:
                return int(line.split("=")[1])
        raise AssertionError("glxinfo reports no GL_MAX_TEXTURE_SIZE")

    def screenshot(self):
        """The whole screen as a list of (r, g, b) pixels, row by row."""
        data = self.tool("import", "-window", "root", "-depth", "8", "rgb:-")
        return [tuple(data[i:i + 3]) for i in range(0, len(data), 3)]

    def tile_colours(self, timeout=20.0):
        """Shares of the screen showing lifted (mint) and flat (grey) tiles, once a frame of
        tiles is on screen (or the time is up): {"mint": share, "grey": share}."""
        deadline = time.monotonic() + timeout
        while True:
            shares = tile_colours(self.screenshot())
            if shares["mint"] + shares["grey"] > 0.5 or time.monotonic() > deadline:
                return shares
            time.sleep(0.2)


def tile_colours(pixels):
    """Lifted tiles are mint (0.1, 1.0, 0.85), flat ones grey (0.5, 0.5, 0.5); the light shafts
    added over them keep green saturated on mint and red equal to green on grey."""
    mint = sum(1 for r, g, b in pixels if g >= 240 and r < 160)
    grey = sum(1 for r, g, b in pixels if r == g and r >= 100)
    return {"mint": mint / len(pixels), "grey": grey / len(pixels)}


def make_workdir(test, with_assets=True):
    """A working directory of the test's own, with a copy of the real assets unless told not to."""
    workdir = Path(tempfile.mkdtemp(prefix="velmora-"))
    test.addCleanup(shutil.rmtree, workdir, ignore_errors=True)
    if with_assets:
        shutil.copytree(ASSETS, workdir / "assets")
    return workdir


def run_velmora(workdir, display=None, env=None, stop=signal.SIGTERM, run_seconds=1.0,
                before_stop=None, timeout=STARTUP_TIMEOUT):
    """Starts velmora in `workdir`, waits until it has printed its renderer line (or exited),
    lets it run `run_seconds`, calls `before_stop(process)` if given, sends `stop` (a signal, or
    None to let it end by itself) and waits for it to end."""
    environment = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    environment.update(SDL_AUDIO_DRIVER="disk", SDL_AUDIO_DISK_OUTPUT_FILE="audio.raw")
    if display is not None:
        environment["DISPLAY"] = display.name
    environment.update(env or {})
    stdout_path, stderr_path = workdir / "stdout.txt", workdir / "stderr.txt"
    with open(stdout_path, "w") as out, open(stderr_path, "w") as err:
        process = subprocess.Popen([str(VELMORA)], cwd=workdir, env=environment, stdout=out,
                                   stderr=err, stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + timeout
        while process.poll() is None and "Renderer: " not in stdout_path.read_text():
            if time.monotonic() > deadline:
                process.kill()
                raise AssertionError("velmora did not start in time")
            time.sleep(0.05)
        if process.poll() is None:
            time.sleep(run_seconds)
            if before_stop:
                before_stop(process)
            if stop is not None:
                process.send_signal(stop)
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            raise AssertionError("velmora did not end in time")
    return Run(process.returncode, stdout_path.read_text(), stderr_path.read_text(),
               workdir / "audio.raw", workdir)


def read_audio(path):
    """Interleaved S16LE stereo samples of a capture."""
    samples = array("h")
    samples.frombytes(Path(path).read_bytes())
    return samples


def decode_audio(path):
    """A sound file decoded to samples in the capture's format."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", str(path), "-f", "s16le", "-ac", "2",
                          "-ar", str(RATE), "-"], check=True, capture_output=True).stdout
    samples = array("h")
    samples.frombytes(raw)
    return samples


def rms(samples):
    return math.sqrt(sum(x * x for x in samples) / len(samples)) if samples else 0.0


def rms_windows(samples, seconds):
    """RMS of each consecutive window of `seconds` (the last partial window dropped)."""
    size = 2 * int(RATE * seconds)
    return [rms(samples[i:i + size]) for i in range(0, len(samples) - size + 1, size)]


def audible_span(capture):
    """Seconds from the first to the last audible window, the level of every window, and whether
    a window in between is silent."""
    levels = rms_windows(capture, WINDOW)
    loud = [i for i, level in enumerate(levels) if level > AUDIBLE]
    gap = any(levels[i] < SILENT for i in range(loud[0], loud[-1])) if loud else False
    return ((loud[-1] - loud[0] + 1) * WINDOW if loud else 0.0), levels, gap


def first_sound(samples, level=1):
    """The frame of the first sample louder than `level`, or None."""
    return next((i // 2 for i, x in enumerate(samples) if abs(x) > level), None)


def make_sound(path, *sox_effects):
    """A short MP3 made with sox: e.g. make_sound(p, "synth", "1", "sine", "440")."""
    subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "2", str(path), *sox_effects],
                   check=True, capture_output=True)


class VelmoraTestCase(unittest.TestCase):
    def assertNormalStdout(self, run):
        lines = run.stdout.splitlines()
        self.assertEqual(len(lines), 2, run.stdout)
        self.assertTrue(lines[0].startswith("OpenGL version: 4.6"), lines[0])
        self.assertTrue(lines[1].startswith("Renderer: "), lines[1])

    def assertCleanRun(self, run, stderr=()):
        """Status 0, the two version lines and exactly `stderr` on standard error."""
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertNormalStdout(run)
        self.assertEqual(run.stderr_lines(), list(stderr))

    def assertFailedStart(self, run, prefix):
        """Status 1, nothing on standard output and one line: `prefix` and SDL's reason.
        Returns the reason."""
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertEqual(run.stdout, "")
        lines = run.stderr_lines()
        self.assertEqual(len(lines), 1, run.stderr)
        self.assertTrue(lines[0].startswith(prefix), lines)
        reason = lines[0][len(prefix):]
        self.assertTrue(reason.strip(), lines)
        return reason
