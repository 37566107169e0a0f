"""Runs velmora-benchmark end to end on a tiny configuration and checks its CSV: every section
and row is there with well-formed values, and the counted goals hold (no heap allocation by the
system's own frame code, no GL object created per frame, paced frames never shorter than the
budget). No duration is compared with a limit.

usage: check_benchmark.py BENCHMARK CSV"""

import csv
import math
import subprocess
import sys
import unittest

BENCHMARK, CSV_PATH = sys.argv[1], sys.argv[2]
SIZE, GRID = "64x36", "10x4"
COLUMNS = ["section", "name", "width", "height", "columns", "rows", "samples", "value", "min",
           "max", "unit"]


def run_benchmark(*extra):
    command = [BENCHMARK, "--frames", "3", "--warmup", "1", "--sizes", SIZE, "--grids", GRID,
               "--window", SIZE, "--pacing-size", SIZE, "--pacing-grid", GRID,
               "--pacing-frames", "12", "--slow-pacing-frames", "2", "--cpu-frames", "200",
               "--grid-runs", "1", "--csv", CSV_PATH, *extra]
    return subprocess.run(command, capture_output=True, text=True, timeout=300)


def read_rows(path):
    with open(path, newline="") as file:
        return list(csv.reader(file))


class Benchmark(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.result = run_benchmark()
        cls.rows = []
        if cls.result.returncode == 0:
            cls.header, *cls.rows = read_rows(CSV_PATH)

    def row(self, section, name):
        found = [r for r in self.rows if r[0] == section and r[1] == name]
        self.assertEqual(len(found), 1, f"{section} / {name}")
        return dict(zip(COLUMNS, found[0]))

    def value(self, section, name):
        return float(self.row(section, name)["value"])

    def test_runs_and_writes_a_well_formed_csv(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertEqual(self.header, COLUMNS)
        self.assertGreater(len(self.rows), 50)
        for r in self.rows:
            self.assertEqual(len(r), len(COLUMNS), r)
            value, low, high = float(r[7]), float(r[8]), float(r[9])
            for number in (value, low, high):
                self.assertTrue(math.isfinite(number) and number >= 0.0, r)
            self.assertLessEqual(low, value, r)
            self.assertLessEqual(value, high, r)
            self.assertGreaterEqual(int(r[6]), 1, r)
        self.assertIn("Renderer: ", self.result.stdout)

    def test_the_main_loop_ran_the_planned_frames_and_created_no_gl_objects(self):
        for section, frames in (("pacing fits", "12"), ("pacing program", "2")):
            for name in ["interval mean", "interval min", "interval p50", "interval p99",
                         "interval max", "|interval - 1/60 s| p99", "process CPU / wall",
                         "main thread CPU / wall"]:
                self.assertEqual(self.row(section, name)["samples"], frames)
            self.assertEqual(self.value(section, "GL objects created per frame"), 0.0)
        # A frame that fits the budget is paced: no interval is shorter than the budget.
        shortest = self.value("pacing fits", "interval min")
        self.assertGreaterEqual(shortest, 1000.0 / 60.0 - 0.001)

    def test_the_systems_own_frame_code_allocates_nothing(self):
        self.assertGreater(self.value("cpu", "own CPU per frame (GL no-op)"), 0.0)
        if "heap allocations are not counted" in self.result.stdout:
            self.skipTest("the sanitizers own the allocator in this build")
        self.assertEqual(self.value("cpu", "operator new per frame (GL no-op)"), 0.0)
        self.assertEqual(self.value("cpu", "malloc per frame (GL no-op)"), 0.0)



if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
