"""The web build in headless Chromium, served locally: start-up and console, drawing size and
pacing, the frame against the native velmora-capture, missing assets, and the music's start."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest
from fnmatch import fnmatchcase
from pathlib import Path

from browser import Browser, Site, block_means, decode_png, site_copy

CAPTURE = Path(os.environ.get("VELMORA_CAPTURE", "build/release/tools/velmora-capture")).resolve()
ASSETS = Path(__file__).parents[2] / "assets"
SIZE = (512, 288)  # device pixels; both sides are multiples of the comparison's blocks

# SwiftShader and llvmpipe follow the same rules but not the same float rounding: tile edges that
# pass within a hair of a pixel centre cover it in one and not the other (whole rows of gap
# pixels), and the 4 x 4 dither turns tiny differences in the shafts into whole pixels on or off.
# So frames are compared as the means of 8 x 8 blocks (two dither cells): a flipped pixel moves
# its block by 4 levels at most. Measured between the two renderers: at most 28 levels, and under
# 1 % of the values beyond 16; the capture 0.1 s later is 105 levels and 7 % off, and the frame
# without the height map 117 levels and 80 %.
BLOCK_LIMIT = 48
BLOCK_FAR = 16
FAR_SHARE = 0.04


def capture(test, *seconds, without=()):
    """velmora-capture's frames at SIZE and these times, with the assets less `without` (paths
    relative to the working directory, as in the site)."""
    folder = Path(tempfile.mkdtemp(prefix="velmora-capture-"))
    test.addCleanup(shutil.rmtree, folder, ignore_errors=True)
    shutil.copytree(ASSETS, folder / "assets")
    for name in without:
        (folder / name).unlink()
    frames = [arg for t in seconds for arg in ("--frame", str(t), f"{t}.png")]
    subprocess.run([CAPTURE, "--size", "%dx%d" % SIZE, *frames], cwd=folder, check=True,
                   capture_output=True, timeout=300)
    return [decode_png((folder / f"{t}.png").read_bytes()) for t in seconds]


def block_difference(a, b):
    """The largest difference of two pictures' block means, and the share beyond BLOCK_FAR."""
    differences = [abs(x - y) for x, y in zip(block_means(a), block_means(b))]
    return max(differences), sum(d > BLOCK_FAR for d in differences) / len(differences)


class WebPage(unittest.TestCase):
    def open(self, without=(), scale=1, clock=None, finish=True):
        """The page of a copy of the site (less `without`) at SIZE device pixels, in a browser
        of its own, once it has issued its first frame."""
        site = self.enterContext(Site(site_copy(self, without)))
        browser = self.enterContext(Browser())
        page = browser.page(site.url, SIZE[0] // scale, SIZE[1] // scale, scale, clock, finish)
        page.wait_for("velmoraProbe.frames.length > 0")
        return page

    def shot_at(self, page, seconds):
        """The page's picture once the frames drawn at `seconds` are on screen (after a click,
        which takes the sound hint away)."""
        page.evaluate(f"velmoraProbe.clock = {seconds * 1000}")
        page.wait_for(f"velmoraProbe.frames.length >= {page.frames() + 2}")
        page.click()
        page.wait_for(f"velmoraProbe.frames.length >= {page.frames() + 2}")
        return page.screenshot()

    def assertSameFrame(self, shot, reference, same=True):
        largest, far = block_difference(shot, reference)
        matches = largest <= BLOCK_LIMIT and far <= FAR_SHARE
        self.assertEqual(matches, same, f"block means differ by up to {largest}, "
                                        f"{far:.1%} of them by more than {BLOCK_FAR}")

    def test_starts_like_the_program_at_the_page_size_in_device_pixels(self):
        for scale in (1, 2):
            with self.subTest(device_pixels_per_css_pixel=scale):
                page = self.open(scale=scale, finish=False)
                page.wait_for("velmoraProbe.frames.length > 20")
                console = page.console()
                lines = [text for level, text in console if level == "log"]
                self.assertTrue(fnmatchcase(lines[0], "OpenGL version: OpenGL ES 3.0*WebGL 2*"),
                                lines)
                self.assertTrue(fnmatchcase(lines[1], "Renderer: ?*"), lines)
                # GL errors show as WebGL warnings.
                faults = [(level, text) for level, text in console if level == "error" or
                          level == "warning" and ("WebGL" in text or "GL_" in text)]
                self.assertEqual(faults, [])
                self.assertEqual(page.evaluate("[canvas.width, canvas.height]"), list(SIZE))

                # At most 60 frames a second: SDL_DelayNS sleeps whole milliseconds in the
                # browser, so a frame can end up to 1 ms short of 1/60 s. (The first frames
                # only: later the software renderer falls behind and the browser holds the
                # page back.)
                times = page.evaluate("velmoraProbe.frames.slice(0, 21)")
                self.assertGreaterEqual((times[-1] - times[0]) / 20, 1000 / 60 - 1)

                # A resize of the page scales the picture; the drawing size stays.
                page.resize(300, 200, scale)
                frames = page.frames()
                page.wait_for(f"velmoraProbe.frames.length > {frames}")
                self.assertEqual(page.evaluate(
                    "const box = canvas.getBoundingClientRect();"
                    "[canvas.width, canvas.height, box.width, box.height]"), [*SIZE, 300, 200])

    def test_draws_the_frame_that_velmora_capture_draws(self):
        for scale, seconds in ((1, 3.0), (2, 6.5)):
            with self.subTest(device_pixels_per_css_pixel=scale, seconds=seconds):
                shot = self.shot_at(self.open(scale=scale, clock=0), seconds)
                native, later = capture(self, seconds, seconds + 0.1)
                self.assertEqual(shot[:2], SIZE)
                self.assertSameFrame(shot, native)
                self.assertSameFrame(shot, later, same=False)  # the comparison tells them apart

    def test_a_missing_asset_is_reported_and_the_scene_still_draws(self):
        # missing, the lines on the console, whether the frame is the one with every asset
        cases = (
            ("assets/textures/text1.jpg", ["Failed to load texture: /textures/text1.jpg"], False),
            ("assets/audio/test.mp3", ["Failed to load music: ?*", "Failed to play music: ?*"],
             True),
        )
        normal, = capture(self, 0)
        for missing, errors, unchanged in cases:
            with self.subTest(missing=missing):
                page = self.open(without=[missing], clock=0)
                shot = self.shot_at(page, 0)
                reported = [text for level, text in page.console()
                            if level == "error" and "Failed to load resource" not in text]
                self.assertTrue(len(reported) == len(errors) and
                                all(map(fnmatchcase, reported, errors)), reported)
                native, = capture(self, 0, without=[missing])
                self.assertSameFrame(shot, native)
                self.assertSameFrame(shot, normal, same=unchanged)

    def test_the_music_starts_at_the_first_click_or_key_press(self):
        for gesture in ("click", "press"):
            with self.subTest(gesture=gesture):
                page = self.open()
                # The audio output runs, silent, and the hint shows, until the gesture.
                page.wait_for("velmoraProbe.audioCalls > 10")
                time.sleep(1)
                self.assertEqual(page.evaluate("velmoraProbe.audioPeak"), 0)
                self.assertTrue(page.evaluate("document.getElementById('sound-hint') !== null"))
                getattr(page, gesture)()
                page.wait_for("velmoraProbe.audioPeak > 0.01", timeout=20)
                self.assertEqual(page.evaluate("velmoraProbe.audioContext.state"), "running")
                self.assertTrue(page.evaluate("document.getElementById('sound-hint') === null"))


if __name__ == "__main__":
    unittest.main()
