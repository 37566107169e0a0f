# The one harness of the process tests, the matrix and the browser tests: environments (display
# and sound servers, desktops: scripts/environment.sh) started by name, the real velmora run in
# one as a user runs it, its frame compared with velmora-capture's, its sound captured. Without a sound server
# the program plays into SDL's disk audio driver (S16LE, stereo, 44100 Hz). VELMORA_LAUNCHER
# names a command that runs the program (wine, for the Windows build).

import contextlib
import math
import os
import signal
import subprocess
import tempfile
import time
import unittest
from array import array
from fnmatch import fnmatchcase
from pathlib import Path
from types import SimpleNamespace

SOURCE = Path(os.environ.get("VELMORA_SOURCE_DIR", Path(__file__).parents[2]))
VELMORA = Path(os.environ.get("VELMORA_EXECUTABLE", "build/release/velmora")).resolve()
CAPTURE = Path(os.environ.get("VELMORA_CAPTURE", "build/release/tools/velmora-capture")).resolve()
PROBE = Path(os.environ.get("VELMORA_PROBE", "build/release/libvelmora-probe.so")).resolve()
LAUNCHER = os.environ.get("VELMORA_LAUNCHER", "").split()
ASSETS = SOURCE / "assets"
ON_HOST = SOURCE / "build/tests/on-host"  # working folders the host sees at the same path
# Start-up on llvmpipe takes a few seconds; under the sanitizers several times that.
TIMEOUT = float(os.environ.get("VELMORA_STARTUP_TIMEOUT", "60"))
RATE = 44100  # frames a second
# Lines that SDL and the libraries print, not the program: SDL's notices, Mesa trying its drivers
# under Wayland, libdecor without plugins, libpipewire without a configuration.
NOTICES = ("XDG_RUNTIME_DIR", "SDL disk i/o audio driver", "Writing to file [", "MESA", "plugin",
           "pw.conf")
NO_ASSETS = ["Failed to load texture: /textures/text1.jpg", "Failed to load music: ?*",
             "Failed to play music: ?*"]
READ_BACK_AT = 4  # the frame the probe reads back

ENVIRONMENT = SOURCE / "scripts/environment.sh"  # the environments, by name
CLOSE = "close"  # a run's end by the environment's close request

# Polls `condition()` until it holds; fails with `what` once `timeout` seconds have passed.
def wait_for(condition, what, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(what)
        time.sleep(0.1)


# An environment of scripts/environment.sh, started in a folder of its own for a with-block.
class Environment(contextlib.ExitStack):
    def __init__(self, name="xvfb", size="320x180", *args):
        super().__init__()
        self.name, self.size, self.args = name, size, args

    def __enter__(self):
        super().__enter__()
        self.folder = Path(self.enter_context(tempfile.TemporaryDirectory(prefix="velmora-")))
        self.callback(self.do, "end")
        self.do("start", self.size, *self.args, timeout=900)
        self.env = {name: value or None for name, value in (
            line.split("=", 1) for line in (self.folder / "env").read_text().split())}
        return self

    # The environment's own actions: "start", "shot" (into a file), "close", "crash", "end".
    def do(self, action, *args, timeout=30):
        result = subprocess.run([ENVIRONMENT, action, self.name, self.folder, *args],
                                capture_output=True, text=True, timeout=timeout)
        if result.returncode:
            raise AssertionError(f"{self.name} {action}: {result.stderr[-3000:]}")

    # The variables of `base` (the test's own) with the environment's.
    def environ(self, base=os.environ):
        return {k: v for k, v in (dict(base) | self.env).items() if v is not None}

    # A program of the test's run from `cwd` (the source folder, where the assets are); its output.
    def tool(self, *args, timeout=30, cwd=SOURCE):
        return subprocess.run(args, cwd=cwd, env=self.environ(), check=True,
                              capture_output=True, timeout=timeout).stdout

    def sh(self, command):  # a shell command run in the environment's folder; its output
        return self.tool("sh", "-c", command, cwd=self.folder)

    # Shares of the screen showing lifted (mint: green saturated) and flat (grey: red = green)
    # tiles, once they pass `enough` together or time is up.
    def tiles(self, enough=0.5, timeout=20.0):
        deadline = time.monotonic() + timeout
        while True:
            data = self.sh("import -window root -depth 8 rgb:-")
            pixels = list(zip(data[0::3], data[1::3], data[2::3]))
            mint = sum(g >= 240 and r < 160 for r, g, b in pixels) / len(pixels)
            grey = sum(r == g >= 100 for r, g, b in pixels) / len(pixels)
            if mint + grey > enough or time.monotonic() > deadline:
                return mint, grey
            time.sleep(0.2)

    # A screenshot by `command` while `process` runs, and the frame times it may show: the
    # program's clock starts when SDL does, later than the process (under Wine by seconds), so
    # from 0 to the time since the process started.
    def screenshot(self, process):
        seconds = time.monotonic() - process.started
        self.do("shot", self.folder / "screen.png")
        return self.folder / "screen.png", 0, seconds


# A folder of the test's own with a copy of the assets (in `parent`, for the host to see).
def workdir(test, parent=None):
    if parent:
        Path(parent).mkdir(parents=True, exist_ok=True)
    folder = Path(test.enterContext(tempfile.TemporaryDirectory(prefix="velmora-", dir=parent)))
    subprocess.run(["cp", "-r", ASSETS, folder], check=True)
    return folder


# What the audio device has received so far (in `folder`): interleaved stereo samples.
def capture(folder):
    data = (folder / "audio.raw").read_bytes() if (folder / "audio.raw").exists() else b""
    return array("h", data[:len(data) // 4 * 4])


# The frame probe's last lines (tools/frame_probe.c) as a dict, {} before the first frame.
def probed(folder):
    path = folder / "probe.txt"
    pairs = [line.split() for line in path.read_text().splitlines()] if path.exists() else []
    return {key: int(value) if value.isdigit() else value for key, value in pairs}


# Runs velmora (or `command`) in `folder`; once it has printed its renderer line (unless it ended
# first) and run `seconds`, calls `during(process)`, then ends it by `stop`: a signal, CLOSE (the
# environment's close request), a shell command run in `environment` (keys typed) or nothing
# (None), and waits for the
# end. `env` adds to the environment (None unsets a name); `probe` preloads the probe with the
# frame time fixed at `probe` ms and frame READ_BACK_AT read back. Mesa writes each GL error to
# standard error. Returns status, stdout, stderr (less the notices) and audio.
def run(folder, environment=None, during=None, stop=signal.SIGTERM, seconds=0.0, env=None,
        command=None, probe=None):
    variables = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    variables.update(SDL_AUDIO_DRIVER="disk", SDL_AUDIO_DISK_OUTPUT_FILE="audio.raw", MESA_DEBUG="1")
    if probe is not None:
        variables.update(LD_PRELOAD=str(PROBE), VELMORA_FIXED_TICKS=str(probe),
                         VELMORA_PROBE_FILE=str(folder / "probe.txt"),
                         VELMORA_PROBE_FRAME=str(folder / "frame.ppm"),
                         VELMORA_PROBE_FRAME_NUMBER=str(READ_BACK_AT))
    variables.update(environment.env if environment else {}, **(env or {}))
    out, err = folder / "stdout.txt", folder / "stderr.txt"
    with open(out, "w") as out_file, open(err, "w") as err_file:
        process = subprocess.Popen(command or [*LAUNCHER, VELMORA], cwd=folder, stdout=out_file,
                                   env={k: v for k, v in variables.items() if v is not None},
                                   stderr=err_file, stdin=subprocess.DEVNULL)
    process.started = time.monotonic()
    try:
        wait_for(lambda: process.poll() is not None or "Renderer: " in out.read_text(),
                 "velmora did not start in time")
        if process.poll() is None:
            time.sleep(seconds)
            if during:
                during(process)
            if stop == CLOSE:
                environment.do("close")
            elif isinstance(stop, str):
                environment.sh(stop)
            elif stop:
                process.send_signal(stop)
        process.wait(timeout=TIMEOUT)
    finally:
        process.kill()
        process.wait()
    stderr = [line for line in err.read_text().splitlines()
              if not any(notice in line for notice in NOTICES)]
    return SimpleNamespace(status=process.returncode, stdout=out.read_text().splitlines(),
                           stderr=stderr, audio=capture(folder))


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
    def assertLines(self, lines, patterns):
        self.assertTrue(len(lines) == len(patterns) and all(map(fnmatchcase, lines, patterns)),
                        f"{lines} do not match {patterns}")

    # Exit `status`, the two normal lines (none after a failed start), `stderr` patterns.
    def assertRun(self, result, stderr=(), status=0):
        self.assertEqual(result.status, status, result.stderr)
        self.assertLines(result.stdout, ["OpenGL version: 4.6*", "Renderer: ?*"] * (status == 0))
        self.assertLines(result.stderr, list(stderr))

    # The picture at `size` is velmora-capture's frame (drawn from the assets in `cwd`) at a time
    # (whole ms) from `low` to `high` s within `tolerance` (a share of the pixels off), a time
    # that moves (1 s or more).
    def assertFrameShown(self, picture, low, high, size, tolerance=0.001, cwd=SOURCE):
        with Environment("xvfb", size) as display:
            found = display.tool(CAPTURE, "--size", size, "--match", picture, f"{low:.3f}",
                                 f"{high:.3f}", timeout=20 * TIMEOUT, cwd=cwd).split()
        self.assertLessEqual(float(found[1]), tolerance, f"closest frame at {found[0]} s")
        self.assertGreaterEqual(float(found[0]), 1.0, "the frame time does not move")

    # Loudness per 100 ms within 10 %, and what is left after subtracting the expected under
    # `residual` (2 %) of it (`at`: where `heard` starts, in seconds).
    def assertSameSound(self, heard, expected, at=0.0, residual=0.02):
        for tenth, (got, want) in enumerate(zip(levels(heard, 0.1), levels(expected, 0.1))):
            self.assertAlmostEqual(got / want, 1.0, delta=0.1, msg=f"at {at + tenth / 10:.1f} s")
        left = rms([a - b for a, b in zip(heard, expected)]) / rms(expected)
        self.assertLess(left, residual, f"the waveform from {at:.2f} s")
