# The web build, served locally, in each browser engine of ENGINES against the native
# velmora-capture: console, drawing size and pacing, the music's start, the frame, a missing
# asset, and the canvas and the light mask following a resize and a change of zoom.

import base64
import os
import shutil
import subprocess
import tempfile
import time
import unittest
from collections import namedtuple
from fnmatch import fnmatchcase
from pathlib import Path

from browser import SITE, Chromium, Firefox, Site, WebKit, blocks, pixels_of

CAPTURE = Path(os.environ.get("VELMORA_CAPTURE", "build/release/tools/velmora-capture")).resolve()
ASSETS = Path(__file__).parents[2] / "assets"

# Each engine: its driver (browser.py); the start of its "Renderer: " line; whether the test can
# change its device pixel ratio once it runs; and how far its frame may be from the capture's.
# WebKitGTK's driver gives no console: there the two lines and the errors go unchecked; its
# ratio is GTK's window scale, fixed when it starts. The test says so for each. WebKit names
# every renderer "Apple GPU" to the page, as Safari does.
#
# The frames are the program's, read back at the end of each (the probe), compared as the means
# of 8 x 8 blocks (two dither cells), so that a flipped pixel moves its block by 4 levels at
# most: at most `limit` levels apart, and at most a share `far` of them more than 16. Firefox
# and WebKitGTK, on llvmpipe like the capture, draw its frame to the pixel; a block may still
# differ by two pixels. SwiftShader and llvmpipe follow the same rules but not the same float
# rounding: tile edges that pass within a hair of a pixel centre cover it in one and not the
# other (whole rows of gap pixels), and the 4 x 4 dither turns tiny differences in the shafts
# into whole pixels on or off. Measured between the two renderers: at most 28 levels, and under
# 1 % of the values beyond 16 (a quarter to half of the pixels differ); the capture 0.1 s later
# is 105 levels and 7 % off, and the frame at 6.5 s with the height map is 119 levels and 71 %
# off the one without it.
Engine = namedtuple("Engine", "driver renderer zooms limit far")
ENGINES = {"chromium": Engine(Chromium, "WebKit WebGL", True, 48, 0.04),
           "firefox": Engine(Firefox, "llvmpipe*", True, 8, 0),
           "webkit": Engine(WebKit, None, False, 8, 0)}
BLOCK_FAR = 16
BOX = ("[canvas.width, canvas.height, canvas.clientWidth, canvas.clientHeight, "
       "...velmoraProbe.mask]")
HINT = ("document.getElementById('sound-hint')"
        "?.checkVisibility({ opacityProperty: true, visibilityProperty: true })")
# The page's size in CSS pixels (WebKit's window is at least 447 wide) and device pixels per CSS
# pixel; the gesture that starts the music; the time of the frame; the asset left out (of the
# site and of the capture) and the error lines that gives; a frame (time, asset left out) the
# comparison tells apart from it; the page's size after a resize; and the device pixels per
# CSS pixel after a change of zoom.
CASES = (((512, 288), 1, ("click", 5, 5), 3.0, "", [], (3.1, ""), (456, 320), 2),
         ((480, 270), 2, ("key", "a"), 6.5, "text1.jpg",
          ["Failed to load texture: /textures/text1.jpg"], (6.5, ""), (600, 330), 1.5))


def copy(test, folder, missing):  # a copy of `folder` less the files named `missing`
    target = Path(test.enterContext(tempfile.TemporaryDirectory())) / folder.name
    return shutil.copytree(folder, target, ignore=shutil.ignore_patterns(missing))


def capture(test, size, seconds, missing):  # velmora-capture's frame, the assets less `missing`
    frame = copy(test, ASSETS, missing).parent / "frame.png"
    subprocess.run([CAPTURE, "--size", "%dx%d" % size, "--frame", str(seconds), frame],
                   cwd=frame.parent, check=True, capture_output=True)
    return frame.read_bytes()


class WebPage(unittest.TestCase):
    def check(self, engine):
        driver, renderer, zooms, limit, share = ENGINES[engine]
        for css, scale, gesture, seconds, missing, errors, other, resized, zoom in CASES:
            size = (css[0] * scale, css[1] * scale)
            started = time.monotonic()
            with (self.subTest(engine=engine, scale=scale, missing=missing),
                  Site(copy(self, SITE, missing), clock=0, skip=True) as site, driver() as page):
                # At most 60 frames a second (the clock stands, so each frame waits a whole
                # 1/60 s): SDL_DelayNS sleeps whole milliseconds in the browser, so a frame can
                # end up to 1 ms short. The draws are left out until the frame is compared: a
                # software renderer draws a few frames a second, and the frames issued meanwhile
                # would queue up minutes of work for the first read-back to wait on. The
                # drawing size and the mask's are the page's in device pixels; the music waits,
                # and the hint shows, until the gesture.
                page.open(site.url, *css, scale)
                times, *seen = page.wait_for(
                    f"velmoraProbe.frames.length > 20 && "
                    f"[velmoraProbe.frames, {BOX}, velmoraProbe.audioPeak, {HINT}]")
                self.assertGreaterEqual((times[20] - times[0]) / 20, 1000 / 60 - 1)
                self.assertEqual(seen, [[*size, *css, *size], 0, True])
                getattr(page, gesture[0])(*gesture[1:])
                page.wait_for("velmoraProbe.audioPeak > 0.01 && "
                              "velmoraProbe.audioContext.state === 'running'")
                self.assertFalse(page.evaluate(HINT))

                drawn = page.evaluate(f"Object.assign(velmoraProbe, {{skip: false, finish: true, "
                                      f"clock: {seconds * 1000}}}).frames.length")
                page.wait_for(f"velmoraProbe.frames.length > {drawn + 1} && "
                              f"(velmoraProbe.grab = true)")
                width, height, pixels = page.wait_for("velmoraProbe.picture")
                self.assertEqual((width, height), size)
                frame = ("-size", f"{width}x{height}", "-depth", "8", "rgba:-", "-flip")
                shot = blocks(base64.b64decode(pixels), *frame)
                for (at, leftOut), same in (((seconds, missing), True), (other, False)):
                    reference = capture(self, size, at, leftOut)
                    differences = [abs(a - b) for a, b in zip(shot, blocks(reference, "png:-"))]
                    far = sum(d > BLOCK_FAR for d in differences) / len(differences)
                    self.assertEqual(max(differences) <= limit and far <= share, same,
                                     f"off by up to {max(differences)}, {far:.1%} over {BLOCK_FAR}")
                    if same:  # the measure, for the record: the share of pixels that differ
                        ours, theirs = (pixels_of(picture, *convert) for picture, convert in (
                            (base64.b64decode(pixels), frame), (reference, ("png:-",))))
                        off = sum(ours[i:i + 3] != theirs[i:i + 3] for i in range(0, len(ours), 3))
                        print(f"{engine} at {width}x{height}: {off / (width * height):.2%} of the "
                              f"pixels off; blocks off by up to {max(differences)}, {far:.2%} "
                              f"beyond {BLOCK_FAR}")

                # A resize of the page, then a change of zoom (the same CSS size at another
                # ratio, which fires no resize event where the driver emulates it): the drawing
                # size and the mask's follow each from the next frame on.
                steps = [(resized, scale)] + [(resized, zoom)] * zooms
                for (width, height), ratio in steps:
                    page.resize(width, height, ratio)
                    frames = page.evaluate("velmoraProbe.frames.length")
                    device = [round(width * ratio), round(height * ratio)]
                    self.assertEqual(page.wait_for(f"velmoraProbe.frames.length > {frames + 1} && "
                                                   f"{BOX}"), [*device, width, height, *device])
                if not zooms:
                    print(f"{engine}: its device pixel ratio is fixed once it runs; a change of "
                          f"zoom is not checked")

                # The console: its first lines, and no error (GL errors show as WebGL warnings,
                # beside the stalls the probe's read-backs cause) but those of the missing asset
                # (and its failed request).
                console = page.console()
                if console is None:
                    print(f"{engine}: its driver gives no console; the lines and errors there "
                          f"are not checked")
                else:
                    lines = " | ".join(text for level, text in console if level == "info")
                    self.assertTrue(fnmatchcase(lines, "OpenGL version: OpenGL ES 3.0*WebGL 2* | "
                                                       f"Renderer: {renderer}"), lines)
                    faults = [text for level, text in console
                              if (level == "error" or level == "warning" and "GL" in text)
                              and "stall due to ReadPixels" not in text
                              and not (missing and text.startswith("Failed to load resource"))]
                    self.assertEqual(faults, errors)
            print(f"{engine}, {scale} device pixels a CSS pixel: {time.monotonic() - started:.1f} s")

    def test_chromium(self):
        self.check("chromium")

    def test_firefox(self):
        self.check("firefox")

    def test_webkit(self):
        self.check("webkit")
