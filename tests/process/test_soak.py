"""A short soak of the real program: with the GL object census shim preloaded, its live GL objects
stay at what it keeps for the whole run and its resident memory does not grow after a warm-up.
The long version is scripts/soak.sh."""

import os
import time
import types
import unittest
from pathlib import Path

from velmora_process import VELMORA, Display, VelmoraTestCase, make_workdir, run_velmora

SHIM = Path(os.environ.get("VELMORA_GL_CENSUS_SHIM",
                           VELMORA.parent / "tools" / "libvelmora-gl-census.so"))
WARMUP_SECONDS = 5.0
WARMUP_FRAMES = 5
MEASURE_SECONDS = float(os.environ.get("VELMORA_SOAK_TEST_SECONDS", "20"))
SAMPLE_SECONDS = 0.5
# Under a loaded CPU (ctest runs tests side by side) the main heap was seen to take one step of
# about 4 MiB under llvmpipe, then stay flat. A leak of a tile vertex copy per frame (21 MiB), or
# of a few hundred KiB per frame over the 40 or more frames measured, goes past this.
RSS_TOLERANCE_KIB = 8192

# What the program keeps from start-up to shutdown: four programs, the tile, backdrop and
# full-screen quad meshes (a vertex array and a buffer each), the height map and the light mask
# textures, the light mask framebuffer. Shaders are deleted once linked.
KEPT = {"buffers": 3, "vertex_arrays": 3, "textures": 2, "framebuffers": 1, "renderbuffers": 0,
        "samplers": 0, "queries": 0, "programs": 4, "shaders": 0}
# Destroying the context, not the program, releases the full-screen quad and the height map.
RELEASED_WITH_CONTEXT = {"buffers": 1, "vertex_arrays": 1, "textures": 1}


def read_census(path):
    try:
        lines = path.read_text().splitlines()
    except FileNotFoundError:
        return None
    census = {}
    for line in lines:
        key, value = line.split()
        census[key] = value if key == "phase" else float(value) if key == "seconds" else int(value)
    return census


def resident_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    raise AssertionError("no VmRSS line")


def sanitized(pid):
    return "libasan" in Path(f"/proc/{pid}/maps").read_text()


class ShortSoak(VelmoraTestCase):
    @classmethod
    def setUpClass(cls):
        if not SHIM.is_file():
            raise AssertionError(f"no census shim at {SHIM}: build the velmora-gl-census target")
        workdir = make_workdir(types.SimpleNamespace(addCleanup=cls.addClassCleanup))
        census_path = workdir / "census.txt"
        cls.samples = []  # (seconds since warm-up, rss KiB, census)

        def soak(process):
            try:
                sample(process)
            except BaseException:
                process.kill()  # run_velmora would leave it running
                raise

        def sample(process):
            started = time.monotonic()
            while True:  # warm-up: a few seconds and a few frames
                census = read_census(census_path)
                if (census and census["frames"] >= WARMUP_FRAMES
                        and time.monotonic() - started >= WARMUP_SECONDS):
                    break
                if process.poll() is not None or time.monotonic() - started > 120:
                    raise AssertionError(f"no {WARMUP_FRAMES} frames in time: {census}")
                time.sleep(SAMPLE_SECONDS)
            cls.sanitized = sanitized(process.pid)
            warm = time.monotonic()
            while process.poll() is None:
                elapsed = time.monotonic() - warm
                cls.samples.append((elapsed, resident_kib(process.pid), read_census(census_path)))
                if elapsed >= MEASURE_SECONDS:
                    break
                time.sleep(SAMPLE_SECONDS)

        environment = {
            "LD_PRELOAD": str(SHIM),
            "VELMORA_GL_CENSUS_FILE": str(census_path),
            # A sanitized program wants its runtime first in the library list; the shim is first.
            "ASAN_OPTIONS": ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"),
                                                   "verify_asan_link_order=0"])),
        }
        with Display("160x90") as display:
            cls.result = run_velmora(workdir, display, env=environment, run_seconds=0,
                                  before_stop=soak)
        cls.exit_census = read_census(census_path)

    def test_runs_through_and_exits_normally(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertNormalStdout(self.result)
        self.assertTrue(self.samples, "no sample after the warm-up")
        self.assertGreaterEqual(self.samples[-1][0], MEASURE_SECONDS, "ended before the soak did")
        first, last = self.samples[0][2], self.samples[-1][2]
        self.assertGreater(last["frames"], first["frames"], "no frames during the soak")

    def test_keeps_exactly_its_gl_objects_after_warm_up(self):
        warm = self.samples[0][2]
        self.assertEqual({kind: warm[kind] for kind in KEPT}, KEPT)
        self.assertEqual(warm["live"], sum(KEPT.values()))

    def test_creates_no_gl_object_per_frame(self):
        warm = self.samples[0][2]
        for elapsed, _, census in self.samples:
            self.assertEqual((census["live"], census["created"]), (warm["live"], warm["created"]),
                             f"{elapsed:.1f} s after warm-up, frame {census['frames']}")

    def test_resident_memory_does_not_grow_after_warm_up(self):
        if self.sanitized:
            self.skipTest("the sanitizers' allocator holds freed memory in quarantine, so resident "
                          "memory grows without a leak")
        warm_rss = self.samples[0][1]
        peak_elapsed, peak_rss, _ = max(self.samples, key=lambda sample: sample[1])
        self.assertLessEqual(peak_rss - warm_rss, RSS_TOLERANCE_KIB,
                             f"{warm_rss} KiB after warm-up, {peak_rss} KiB at {peak_elapsed:.1f} s")

    def test_shutdown_deletes_what_the_context_does_not_release(self):
        self.assertIsNotNone(self.exit_census, "no census file")
        self.assertEqual(self.exit_census["phase"], "exit", self.exit_census)
        left = {kind: self.exit_census[kind] for kind in KEPT if self.exit_census[kind]}
        self.assertLessEqual(left.keys(), RELEASED_WITH_CONTEXT.keys(), left)
        for kind, count in left.items():
            self.assertLessEqual(count, RELEASED_WITH_CONTEXT[kind], kind)


if __name__ == "__main__":
    unittest.main()
