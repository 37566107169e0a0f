#!/usr/bin/env python3
"""Times the web build in headless Chromium (SwiftShader) against the native program's code
(velmora-benchmark, llvmpipe) at the same size, one after the other on this machine: the time
to the first frame drawn, and the time per frame with the frames waited for.

  scripts/with-xvfb.sh python3 scripts/web-timing.py [WIDTHxHEIGHT] [FRAMES]

Run it in the build environment (./dev exec) after ./dev build release and ./dev dist web."""

import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parents[1] / "tests/web"))
from browser import Browser, Site, SITE  # noqa: E402

size = sys.argv[1] if len(sys.argv) > 1 else "512x288"
frames = int(sys.argv[2]) if len(sys.argv) > 2 else 15
width, height = map(int, size.split("x"))

# The browser: each frame waits until it is drawn (a one-pixel read-back at its end), so that
# the times are those of the frames themselves, not of their queueing.
with Site(SITE) as site, Browser() as page:
    page.load(site.url, width, height, finish=True)
    page.wait_for(f"velmoraProbe.frames.length > {frames + 3}", timeout=600)
    stamps = page.evaluate("velmoraProbe.frames")
    intervals = [b - a for a, b in zip(stamps[3:], stamps[4:])][:frames]
    print(f"web    {size}: first frame drawn {stamps[0]:.0f} ms after navigation start; "
          f"frame {statistics.median(intervals):.1f} ms median of {len(intervals)} "
          f"({min(intervals):.1f} to {max(intervals):.1f})")

with Site(SITE) as site, Browser() as page:  # a browser shows one page
    page.load(site.url, width, height)
    page.wait_for("velmoraProbe.frames.length > 31")
    stamps = page.evaluate("velmoraProbe.frames.slice(0, 31)")
    print(f"web    {size}: first 30 frame intervals, frames not waited for: mean "
          f"{(stamps[-1] - stamps[0]) / 30:.2f} ms")

native = subprocess.run(
    ["build/release/tools/velmora-benchmark", "--window", size, "--sizes", size, "--sections",
     "size", "--frames", str(frames)], capture_output=True, text=True, check=True).stdout
for line in native.splitlines():
    if "total to first presented frame" in line or ("size" in line and "frame" in line):
        print("native", line.strip())
