#!/usr/bin/env python3
"""Draws the frame cost against pixel size and against grid size from a velmora-benchmark CSV,
as ImageMagick draw commands (MVG) that convert turns into a PNG.

usage: scripts/plot-benchmark.py BENCHMARK.csv OUT.png [TITLE]"""

import csv
import math
import subprocess
import sys
import tempfile
from pathlib import Path

SERIES = [  # name in the CSV, colour, line width
    ("frame", "#222222", 3),
    ("light mask", "#1f77b4", 2),
    ("tiles", "#2ca02c", 2),
    ("composite", "#d62728", 2),
    ("backdrop", "#9467bd", 2),
    ("clear", "#8c564b", 2),
]
WIDTH, HEIGHT = 1200, 520
PANEL_W, PANEL_H = 470, 360
TOP = 80


def line(x1, y1, x2, y2, colour, width=1):
    return [f"push graphic-context stroke '{colour}' stroke-width {width} fill none "
            f"line {x1:.1f},{y1:.1f} {x2:.1f},{y2:.1f} pop graphic-context"]


def text(x, y, words, size=13, anchor="start", weight="", rotate=0):
    font = "DejaVu-Sans-Bold" if weight == "bold" else "DejaVu-Sans"
    place = f"translate {x:.1f},{y:.1f} rotate {rotate} text 0,0 '{words}'"
    return [f"push graphic-context font '{font}' font-size {size} text-anchor {anchor} "
            f"fill black stroke none {place} pop graphic-context"]


def nice_step(span):
    raw = span / 5
    power = 10 ** math.floor(math.log10(raw))
    for factor in (1, 2, 2.5, 5, 10):
        if factor * power >= raw:
            return factor * power
    return 10 * power


def panel(rows, section, label_of, left, title, x_title):
    """One chart: categories along x in the CSV's order, milliseconds up."""
    keys = [label_of(r) for r in rows if r["section"] == section and r["name"] == "frame"]
    values = {name: {} for name, _, _ in SERIES}
    for r in rows:
        if r["section"] == section and r["name"] in values:
            values[r["name"]][label_of(r)] = float(r["value"])
    top = max(max(v.values(), default=0) for v in values.values()) or 1.0
    step = nice_step(top)
    y_max = step * math.ceil(top / step)

    def x(i):
        return left + 90 + i * (PANEL_W - 120) / max(len(keys) - 1, 1)

    def y(v):
        return TOP + PANEL_H - v / y_max * PANEL_H

    out = text(left + PANEL_W / 2 + 30, TOP - 20, title, 17, "middle", "bold")
    tick = 0.0
    while tick <= y_max + 1e-9:
        out += line(left + 60, y(tick), left + PANEL_W + 10, y(tick), "#dddddd")
        out += text(left + 54, y(tick) + 5, f"{tick:g}", anchor="end")
        tick += step
    out += line(left + 60, TOP, left + 60, TOP + PANEL_H, "black")
    out += line(left + 60, TOP + PANEL_H, left + PANEL_W + 10, TOP + PANEL_H, "black")
    out += text(left + 18, TOP + PANEL_H / 2, "ms per frame (median)", 14, "middle", rotate=-90)
    for i, key in enumerate(keys):
        out += text(x(i), TOP + PANEL_H + 22, key, anchor="middle")
    out += text(left + PANEL_W / 2 + 30, TOP + PANEL_H + 48, x_title, 14, "middle")
    for name, colour, width in SERIES:
        points = [(x(i), y(values[name][k])) for i, k in enumerate(keys) if k in values[name]]
        if len(points) > 1:
            path = " ".join(f"{px:.1f},{py:.1f}" for px, py in points)
            out.append(f"push graphic-context stroke '{colour}' stroke-width {width} fill none "
                       f"polyline {path} pop graphic-context")
        for px, py in points:
            out.append(f"push graphic-context fill '{colour}' stroke none "
                       f"circle {px:.1f},{py:.1f} {px + 4:.1f},{py:.1f} pop graphic-context")
    for i, key in enumerate(keys):
        if key in values["frame"]:
            v = values["frame"][key]
            out += text(x(i) - 8, y(v) - 10, f"{v:.0f}" if v >= 10 else f"{v:.2g}", 12, "end")
    return out


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    with open(sys.argv[1], newline="") as file:
        rows = list(csv.DictReader(file))
    title = sys.argv[3] if len(sys.argv) > 3 else "Velmora frame cost"
    size_label = lambda r: f'{r["width"]}x{r["height"]}'
    grid_label = lambda r: f'{r["columns"]}x{r["rows"]}'
    grid_size = next((size_label(r) for r in rows if r["section"] == "tiles"), "")

    body = [f"viewbox 0 0 {WIDTH} {HEIGHT}", f"fill white rectangle 0,0 {WIDTH},{HEIGHT}"]
    body += text(WIDTH / 2, 30, title, 20, "middle")
    body += panel(rows, "size", size_label, 20, "by pixel size, 1000x256 tiles", "pixels")
    body += panel(rows, "tiles", grid_label, 620, f"by grid, {grid_size} pixels",
                  "tiles (columns x rows)")
    for i, (name, colour, width) in enumerate(SERIES):
        lx = 140 + i * 165
        body += line(lx, HEIGHT - 22, lx + 28, HEIGHT - 22, colour, width + 1)
        body += text(lx + 34, HEIGHT - 17, name, 14)
    with tempfile.TemporaryDirectory() as folder:
        mvg = Path(folder) / "plot.mvg"
        mvg.write_text("\n".join(body) + "\n")
        subprocess.run(["convert", "-size", f"{WIDTH}x{HEIGHT}", f"mvg:{mvg}", sys.argv[2]],
                       check=True)


if __name__ == "__main__":
    main()
