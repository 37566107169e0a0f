# usage: check_benchmark.py BENCHMARK JSON
# Runs velmora-benchmark on a tiny configuration and checks the counted goals in its JSON: no
# benchmark failed, the system's own frame code allocates nothing (and the counter counts: the driver
# allocates in the real loop), the loop creates no GL object per frame and paces a frame that fits
# the budget to no less than 1/60 s. No duration is compared with a limit.

import json
import re
import subprocess
import sys
import unittest

BENCHMARK, OUTPUT = sys.argv[1], sys.argv[2]


class Benchmark(unittest.TestCase):
    def test_the_counted_goals_hold(self):
        options = ["--sizes=64x36", "--grids=10x4", "--window=64x36", "--pacing-frames=12",
                   "--video-frames=4",
                   f"--benchmark_out={OUTPUT}", "--benchmark_out_format=json"]
        result = subprocess.run([BENCHMARK, *options], capture_output=True, text=True, timeout=600)
        self.assertEqual(result.returncode, 0, result.stderr)
        report = json.load(open(OUTPUT))
        runs = {re.split(r"/(?:width|columns|iterations)", run["name"])[0]: run
                for run in report["benchmarks"]}
        self.assertFalse([run["name"] for run in report["benchmarks"] if "error_occurred" in run])
        fits, program, own = runs["Pacing/fits"], runs["Pacing/program"], runs["OwnCpu"]
        self.assertEqual((fits["gl_objects_per_frame"], program["gl_objects_per_frame"]), (0, 0))
        self.assertEqual(fits["frames"], 12)
        self.assertGreaterEqual(fits["interval_min_ms"], 1000.0 / 60.0 - 0.001)
        if report["context"]["allocations_counted"] == "yes":  # not under the sanitizers
            self.assertEqual((own["new_per_frame"], own["malloc_per_frame"]), (0, 0))
            self.assertGreater(fits["malloc_per_frame"], 1.0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
