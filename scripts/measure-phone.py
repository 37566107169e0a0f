#!/usr/bin/env python3
# Measures the web build as a phone gets it, in the environment "phone" (Chromium as a 6.1"
# phone): the bytes fetched and the time from navigation to the first frame over Chromium's
# "Slow 4G" link; then, from a tap on, the music as the browser plays it (recorded from its sound
# server) over SECONDS at each processor throttling rate, as stretches of silence inside it.
#   ./dev exec scripts/measure-phone.py [SITE [SECONDS [RATE...]]]   (dist/web, 8, 1 4)
import functools
import http.server
import subprocess
import sys
import tempfile
import threading
import time
from array import array
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from devtools import DevTools  # noqa: E402

SLOW_4G = {"offline": False, "latency": 562.5, "downloadThroughput": 180000,
           "uploadThroughput": 84375}
site = Path(sys.argv[1] if len(sys.argv) > 1 else "dist/web").resolve()
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 8.0
rates = [float(rate) for rate in sys.argv[3:]] or [1.0, 4.0]
environment = Path(__file__).parent / "environment.sh"


def evaluate(devtools, expression):
    return devtools.send("Runtime.evaluate", expression=expression,
                         returnByValue=True)["result"].get("value")


def recorded(folder):  # the sound server's recording so far, interleaved stereo S16 at 44100 Hz
    data = (folder / "audio.raw").read_bytes()
    return array("h", data[:len(data) // 4 * 4])


def silences(samples, shortest=64):  # the runs of at least `shortest` zero stereo frames
    runs, run = [], 0
    for left, right in zip(samples[0::2], samples[1::2]):
        if left == right == 0:
            run += 1
            continue
        if run >= shortest:
            runs.append(run)
        run = 0
    return runs


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                         functools.partial(Quiet, directory=site))
threading.Thread(target=server.serve_forever, daemon=True).start()
with tempfile.TemporaryDirectory() as folder:
    folder = Path(folder)
    subprocess.run([environment, "start", "phone", folder, "1600x1000",
                    f"http://127.0.0.1:{server.server_port}/"], check=True)
    try:
        devtools = DevTools(folder)
        devtools.send("Network.enable")
        devtools.send("Network.setCacheDisabled", cacheDisabled=True)
        devtools.send("Network.emulateNetworkConditions", **SLOW_4G)
        devtools.send("Page.navigate", url=f"http://127.0.0.1:{server.server_port}/")
        while not evaluate(devtools, "performance.getEntriesByName('first frame').length"):
            time.sleep(0.5)
        first = evaluate(devtools, "performance.getEntriesByName('first frame')[0].startTime")
        fetched = evaluate(devtools, "[...performance.getEntriesByType('navigation'), "
                                     "...performance.getEntriesByType('resource')]"
                                     ".reduce((sum, e) => sum + e.transferSize, 0)")
        print(f"Slow 4G: {fetched / 1e6:.2f} MB fetched, first frame {first / 1000:.1f} s after "
              "navigation began")
        devtools.send("Network.emulateNetworkConditions", **dict(
            SLOW_4G, latency=0, downloadThroughput=-1, uploadThroughput=-1))
        devtools.touch(195, 422)
        while evaluate(devtools, "Module.SDL3.audioContext.state") != "running":
            time.sleep(0.2)
        time.sleep(2)
        for rate in rates:
            devtools.send("Emulation.setCPUThrottlingRate", rate=rate)
            start = len(recorded(folder)) // 2
            time.sleep(seconds)
            runs = silences(recorded(folder)[2 * start:])
            print(f"throttling {rate:g}x: {len(runs)} silences in {seconds:g} s of music, longest "
                  f"{max(runs, default=0) / 44.1:.1f} ms, {sum(runs) / 44.1:.1f} ms in all")
    finally:
        subprocess.run([environment, "end", "phone", folder])
        server.shutdown()
