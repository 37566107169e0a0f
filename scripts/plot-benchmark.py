#!/usr/bin/env python3
"""Plots the frame and pass costs against pixel size and against grid size from the JSON that
velmora-benchmark writes (--benchmark_out=FILE --benchmark_out_format=json); with repetitions,
their medians.

usage: scripts/plot-benchmark.py BENCHMARK.json OUT.png [TITLE]"""

import json
import re
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

PASSES = ["Frame", "LightMask", "Tiles", "Composite", "Backdrop", "Clear"]
ARGUMENTS = re.compile(r"^(\w+)/width:(\d+)/height:(\d+)/columns:(\d+)/rows:(\d+)/")


def frame_costs(report):
    """{pass: {(width, height, columns, rows): milliseconds}}, medians where repeated."""
    costs = {name: {} for name in PASSES}
    repeated = any(run.get("aggregate_name") == "median" for run in report["benchmarks"])
    for run in report["benchmarks"]:
        found = ARGUMENTS.match(run["name"])
        if found and found[1] in costs and (run.get("aggregate_name") == "median") == repeated:
            costs[found[1]][tuple(map(int, found.groups()[1:]))] = run["real_time"]
    return costs


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    costs = frame_costs(json.load(open(sys.argv[1])))
    program_grid = (1000, 256)
    by_size = sorted(key for key in costs["Frame"] if key[2:] == program_grid)
    window = next((key[:2] for key in costs["Frame"] if key[2:] != program_grid), (1920, 1080))
    by_grid = sorted((key for key in costs["Frame"] if key[:2] == window), key=lambda k: k[2])
    figure, panels = plt.subplots(1, 2, figsize=(12, 5.2))
    for axes, keys, label, title in (
            (panels[0], by_size, lambda k: f"{k[0]}x{k[1]}", "by pixel size, 1000x256 tiles"),
            (panels[1], by_grid, lambda k: f"{k[2]}x{k[3]}",
             f"by grid, {window[0]}x{window[1]} pixels")):
        for name in PASSES:
            axes.plot([label(k) for k in keys], [costs[name].get(k) for k in keys], marker="o",
                      linewidth=3 if name == "Frame" else 1.5, label=name)
        axes.set_title(title)
        axes.set_ylabel("ms per frame")
        axes.grid(alpha=0.3)
    panels[0].legend()
    figure.suptitle(sys.argv[3] if len(sys.argv) > 3 else "Velmora frame cost")
    figure.tight_layout()
    figure.savefig(sys.argv[2], dpi=100)


if __name__ == "__main__":
    main()
