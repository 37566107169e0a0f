"""A short soak of the real program with the GL object census shim preloaded: after a warm-up its
live GL objects stay at what it keeps for the whole run and its resident memory does not grow.
The long version is scripts/soak.sh."""

import os
import re
import time
import unittest
from pathlib import Path

from velmora_process import VELMORA, Display, VelmoraTest, census, run, workdir

SHIM = Path(os.environ.get("VELMORA_GL_CENSUS_SHIM",
                           VELMORA.parent / "tools/libvelmora-gl-census.so"))
MEASURE_SECONDS = float(os.environ.get("VELMORA_SOAK_TEST_SECONDS", "20"))
# Under a loaded CPU the main heap was seen to take one step of about 4 MiB under llvmpipe, then
# stay flat. A leak of a tile vertex copy per frame (21 MiB), or of a few hundred KiB per frame
# over the 40 or more frames measured, goes past this.
RSS_TOLERANCE_KIB = 8192
# Kept from start-up to shutdown: four programs, the tile, backdrop and full-screen quad meshes
# (a vertex array and a buffer each), the height map and light mask textures, the light mask
# framebuffer. Shaders are deleted once linked.
KEPT = {"buffers": 3, "vertex_arrays": 3, "textures": 2, "framebuffers": 1, "renderbuffers": 0,
        "samplers": 0, "queries": 0, "programs": 4, "shaders": 0}
# Destroying the context, not the program, releases the full-screen quad and the height map.
RELEASED_WITH_CONTEXT = {"buffers": 1, "vertex_arrays": 1, "textures": 1}


class ShortSoak(VelmoraTest):
    def test_gl_objects_and_memory_stay_flat(self):
        self.assertTrue(SHIM.is_file(), f"no census shim at {SHIM}: build velmora-gl-census")
        folder, samples = workdir(self), []  # (seconds after the warm-up, RSS in KiB, census)
        path = folder / "census.txt"

        def soak(process):
            started = time.monotonic()  # warm-up: 5 s and 5 frames
            while not ((now := census(path)) and now["frames"] >= 5
                       and time.monotonic() - started >= 5):
                self.assertTrue(process.poll() is None and time.monotonic() - started < 120,
                                f"no 5 frames in time: {now}")
                time.sleep(0.5)
            self.sanitized = "libasan" in Path(f"/proc/{process.pid}/maps").read_text()
            warm = time.monotonic()
            while process.poll() is None and (not samples or samples[-1][0] < MEASURE_SECONDS):
                status = Path(f"/proc/{process.pid}/status").read_text()
                samples.append((time.monotonic() - warm,
                                int(re.search(r"VmRSS:\s*(\d+)", status)[1]), census(path)))
                time.sleep(0.5)

        # A sanitized program wants its runtime first in the library list; the shim is first.
        asan = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
        with Display("160x90") as display:
            result = run(folder, display, soak, env={
                "LD_PRELOAD": str(SHIM), "VELMORA_GL_CENSUS_FILE": str(path), "ASAN_OPTIONS": asan})
        self.assertRun(result)
        self.assertGreaterEqual(samples[-1][0], MEASURE_SECONDS, "ended before the soak did")
        warm = samples[0][2]
        self.assertEqual({kind: warm[kind] for kind in KEPT}, KEPT)
        self.assertEqual(warm["live"], sum(KEPT.values()))
        for elapsed, _, now in samples:
            self.assertEqual((now["live"], now["created"]), (warm["live"], warm["created"]),
                             f"{elapsed:.1f} s after warm-up, frame {now['frames']}")
        self.assertGreater(samples[-1][2]["frames"], warm["frames"], "no frames during the soak")
        # At exit: no more than the context itself releases.
        left = census(path)
        self.assertEqual(left["phase"], "exit")
        self.assertTrue(all(left[kind] <= RELEASED_WITH_CONTEXT.get(kind, 0) for kind in KEPT),
                        left)
        with self.subTest("resident memory"):
            if self.sanitized:
                self.skipTest("the sanitizers' allocator holds freed memory in quarantine")
            elapsed, peak, _ = max(samples, key=lambda sample: sample[1])
            self.assertLessEqual(peak - samples[0][1], RSS_TOLERANCE_KIB,
                                 f"{samples[0][1]} KiB after warm-up, {peak} at {elapsed:.1f} s")


if __name__ == "__main__":
    unittest.main()
