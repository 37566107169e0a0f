# The web build in headless Chromium, served locally, against the native velmora-capture:
# console, drawing size and pacing, the music's start, the frame, a missing asset.

import os
import shutil
import subprocess
import tempfile
import unittest
from fnmatch import fnmatchcase
from pathlib import Path

from browser import SITE, Browser, Site
from selenium.webdriver import ActionChains

CAPTURE = Path(os.environ.get("VELMORA_CAPTURE", "build/release/tools/velmora-capture")).resolve()
ASSETS = Path(__file__).parents[2] / "assets"
SIZE = (512, 288)  # device pixels; both sides are multiples of the comparison's blocks

# SwiftShader and llvmpipe follow the same rules but not the same float rounding: tile edges that
# pass within a hair of a pixel centre cover it in one and not the other (whole rows of gap
# pixels), and the 4 x 4 dither turns tiny differences in the shafts into whole pixels on or off.
# So frames are compared as the means of 8 x 8 blocks (two dither cells): a flipped pixel moves
# its block by 4 levels at most. Measured between the two renderers: at most 28 levels, and under
# 1 % of the values beyond 16; the capture 0.1 s later is 105 levels and 7 % off, and the frame
# at 6.5 s with the height map is 119 levels and 71 % off the one without it.
BLOCK_LIMIT, BLOCK_FAR, FAR_SHARE = 48, 16, 0.04
BOX = "[canvas.width, canvas.height, canvas.clientWidth, canvas.clientHeight]"
HINT = ("document.getElementById('sound-hint')"
        "?.checkVisibility({ opacityProperty: true, visibilityProperty: true })")
# Device pixels per CSS pixel; the gesture that starts the music; the time of the frame; the
# asset left out (of the site and of the capture) and the error lines that gives; and a frame
# (time, asset left out) the comparison tells apart from it.
CASES = ((1, lambda chain: chain.move_by_offset(5, 5).click(), 3.0, "", [], (3.1, "")),
         (2, lambda chain: chain.send_keys("a"), 6.5, "text1.jpg",
          ["Failed to load texture: /textures/text1.jpg"], (6.5, "")))


def copy(test, folder, missing):  # a copy of `folder` less the files named `missing`
    target = Path(test.enterContext(tempfile.TemporaryDirectory())) / folder.name
    return shutil.copytree(folder, target, ignore=shutil.ignore_patterns(missing))


def blocks(png):  # the means of a PNG picture's 8 x 8 blocks, through ImageMagick's box filter
    return subprocess.run(["convert", "png:-", "-scale", "12.5%", "-depth", "8", "rgb:-"],
                          input=png, capture_output=True, check=True).stdout


def capture(test, seconds, missing):  # velmora-capture's block means, the assets less `missing`
    frame = copy(test, ASSETS, missing).parent / "frame.png"
    subprocess.run([CAPTURE, "--size", "%dx%d" % SIZE, "--frame", str(seconds), frame],
                   cwd=frame.parent, check=True, capture_output=True)
    return blocks(frame.read_bytes())


class WebPage(unittest.TestCase):
    def test_page(self):
        for scale, gesture, seconds, missing, errors, other in CASES:
            with (self.subTest(scale=scale, missing=missing), Browser() as page,
                  Site(copy(self, SITE, missing)) as site):
                # At most 60 frames a second (the clock stands, so each frame waits a whole
                # 1/60 s): SDL_DelayNS sleeps whole milliseconds in the browser, so a frame can
                # end up to 1 ms short. The draws are left out until the frame is compared:
                # SwiftShader draws a few frames a second, and the frames issued meanwhile would
                # queue up minutes of work for the first read-back to wait on.
                page.load(site.url, SIZE[0] // scale, SIZE[1] // scale, scale, clock=0, skip=True)
                # The audio output runs, silent, and the hint shows, until the gesture.
                times, *seen = page.wait_for(
                    f"velmoraProbe.frames.length > 20 && velmoraProbe.audioCalls > 40 && "
                    f"[velmoraProbe.frames, {BOX}, velmoraProbe.audioPeak, {HINT}]")
                self.assertGreaterEqual((times[20] - times[0]) / 20, 1000 / 60 - 1)
                self.assertEqual(seen, [[*SIZE, SIZE[0] // scale, SIZE[1] // scale], 0, True])
                gesture(ActionChains(page)).perform()
                page.wait_for("velmoraProbe.audioPeak > 0.01")
                self.assertFalse(page.evaluate(HINT))

                drawn = page.evaluate(f"Object.assign(velmoraProbe, {{skip: false, finish: true, "
                                      f"clock: {seconds * 1000}}}).frames.length")
                page.wait_for(f"velmoraProbe.frames.length > {drawn + 1}")
                shot = blocks(page.get_screenshot_as_png())
                for reference, same in ((capture(self, seconds, missing), True),
                                        (capture(self, *other), False)):
                    differences = [abs(a - b) for a, b in zip(shot, reference)]
                    far = sum(d > BLOCK_FAR for d in differences) / len(differences)
                    self.assertEqual(max(differences) <= BLOCK_LIMIT and far <= FAR_SHARE, same,
                                     f"off by up to {max(differences)}, {far:.1%} over {BLOCK_FAR}")

                # A resize of the page scales the picture; the drawing size stays.
                page.evaluate("velmoraProbe.resizedAt = Infinity")
                page.resize(300, 200, scale)
                self.assertEqual(page.wait_for(
                    f"velmoraProbe.frames.length > velmoraProbe.resizedAt + 1 && {BOX}"),
                    [*SIZE, 300, 200])

                # The console: its first lines, and no error (GL errors show as WebGL warnings,
                # beside the stalls the probe's read-backs cause) but those of the missing asset
                # (and its failed request).
                console = page.console()
                lines = " | ".join(text for level, text in console if level == "INFO")
                self.assertTrue(fnmatchcase(lines, "OpenGL version: OpenGL ES 3.0*WebGL 2* | "
                                                   "Renderer: ?*"), lines)
                faults = [text for level, text in console
                          if (level == "SEVERE" or level == "WARNING" and "GL" in text)
                          and "stall due to ReadPixels" not in text
                          and not (missing and text.startswith("Failed to load resource"))]
                self.assertEqual(faults, errors)
