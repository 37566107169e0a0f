#!/usr/bin/env python3
"""Times the web build in headless Chromium (SwiftShader) against the native program's code
(velmora-benchmark, llvmpipe) at the same size, one after the other on this machine: the time
to the first frame drawn, and the time per frame with the frames waited for.

  scripts/with-xvfb.sh python3 scripts/web-timing.py [WIDTHxHEIGHT] [FRAMES]

Run it in the build environment (./dev exec) after ./dev build release and ./dev dist web."""

import json
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

# The native program's code: its start-up (to the first frame presented) and the whole frame at
# the same size, as velmora-benchmark measures them.
native = json.loads(subprocess.run(
    ["build/release/tools/velmora-benchmark", f"--window={size}", f"--sizes={size}",
     "--grids=1000x256", "--benchmark_filter=^(StartUp|Frame/)", "--benchmark_format=json"],
    capture_output=True, text=True, check=True).stdout)["benchmarks"]
start, frame = (next(b for b in native if b["name"].startswith(name))
                for name in ("StartUp", "Frame"))
print(f"native {size}: first frame presented {start['total_ms']:.0f} ms after start-up began; "
      f"frame {frame['real_time']:.1f} ms (mean of {frame['iterations']})")
