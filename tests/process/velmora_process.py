"""Runs the real velmora executable the way a user would, on a virtual X display of its own,
with SDL's disk audio driver capturing what the mixer plays, and collects what it printed."""

import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from dataclasses import dataclass
from pathlib import Path

VELMORA = Path(os.environ.get("VELMORA_EXECUTABLE", "build/release/velmora")).resolve()
SOURCE_DIR = Path(os.environ.get("VELMORA_SOURCE_DIR", Path(__file__).resolve().parents[2]))
ASSETS = SOURCE_DIR / "assets"

# Startup on llvmpipe, with the tile mesh upload and shader builds, takes a few seconds; under
# the sanitizers several times that.
STARTUP_TIMEOUT = float(os.environ.get("VELMORA_STARTUP_TIMEOUT", "60"))


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


class VelmoraTestCase(unittest.TestCase):
    def assertNormalStdout(self, run):
        lines = run.stdout.splitlines()
        self.assertEqual(len(lines), 2, run.stdout)
        self.assertTrue(lines[0].startswith("OpenGL version: 4.6"), lines[0])
        self.assertTrue(lines[1].startswith("Renderer: "), lines[1])
