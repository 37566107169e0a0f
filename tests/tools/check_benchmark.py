"""Runs velmora-benchmark end to end on a tiny configuration and checks the counted goals in its
JSON output: every benchmark ran, the system's own frame code allocates nothing, the real loop
creates no GL object per frame and paces a frame that fits the budget to no less than 1/60 s.
No duration is compared with a limit.

usage: check_benchmark.py BENCHMARK JSON"""

import json
import re
import subprocess
import sys
import unittest

BENCHMARK, OUTPUT = sys.argv[1], sys.argv[2]
FAMILIES = {"StartUp", "BuildTriangleGrid", "OwnCpu", "Frame", "Clear", "LightMask", "Backdrop",
            "Tiles", "Composite", "Present", "Pacing/fits", "Pacing/program"}


class Benchmark(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.result = subprocess.run(
            [BENCHMARK, "--sizes=64x36", "--grids=10x4", "--window=64x36", "--pacing-frames=12",
             f"--benchmark_out={OUTPUT}", "--benchmark_out_format=json"],
            capture_output=True, text=True, timeout=600)
        cls.report = json.load(open(OUTPUT)) if cls.result.returncode == 0 else {}

    def run_of(self, name):
        return next(run for run in self.report["benchmarks"] if run["name"].startswith(name))

    def test_every_benchmark_runs_without_error(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        runs = self.report["benchmarks"]
        self.assertEqual({re.split(r"/(?:width|columns|iterations)", run["name"])[0]
                          for run in runs}, FAMILIES)
        self.assertFalse([run["name"] for run in runs if run.get("error_occurred")])
        self.assertIn("llvmpipe", self.report["context"]["renderer"])

    def test_the_counted_goals_hold(self):
        for name in ("Pacing/fits", "Pacing/program"):
            self.assertEqual(self.run_of(name)["gl_objects_per_frame"], 0.0, name)
        fits = self.run_of("Pacing/fits")
        self.assertEqual(fits["frames"], 12)
        self.assertGreaterEqual(fits["interval_min_ms"], 1000.0 / 60.0 - 0.001)
        if self.report["context"]["allocations_counted"] != "yes":
            self.skipTest("the sanitizers own the allocator in this build")
        own = self.run_of("OwnCpu")
        self.assertEqual((own["new_per_frame"], own["malloc_per_frame"]), (0.0, 0.0))
        # The counter counts: the driver allocates in every frame of the real loop.
        self.assertGreater(fits["malloc_per_frame"], 1.0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
