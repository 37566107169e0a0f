# The web build, served locally, in each browser engine of ENGINES against the native
# velmora-capture: console, drawing size and pacing, the music's start, the frame, a missing
# asset, and the canvas and the light mask following a resize and a change of zoom.

import base64
import os
import shutil
import subprocess
import tempfile
import unittest
from collections import namedtuple
from fnmatch import fnmatchcase
from pathlib import Path

from browser import SITE, Chromium, Firefox, Site, WebKit

CAPTURE = Path(os.environ.get("VELMORA_CAPTURE", "build/release/tools/velmora-capture")).resolve()
ASSETS = Path(__file__).parents[2] / "assets"

# Each engine: its driver (browser.py); its "Renderer: " line; whether the test can change its
# device pixel ratio once it runs (WebKitGTK's is GTK's window scale, fixed when it starts); and
# how far its frame may be from the capture's. The frames are compared as the means of 8 x 8
# blocks (two dither cells), so that a flipped pixel moves its block by 4 levels at most: at most
# `limit` levels apart, and at most a share `far` of them more than 16. Firefox and WebKitGTK, on
# llvmpipe like the capture, draw its frame to the pixel; a block may still differ by two pixels.
# SwiftShader and llvmpipe follow the same rules but not the same float rounding: tile edges
# that pass within a hair of a pixel centre cover it in one and not the other, and the dither
# turns tiny differences in the shafts into whole pixels on or off. Measured between the two: at
# most 28 levels, and under 1 % of the values beyond 16; the capture 0.1 s later is 105 levels
# and 7 % off, and the frame at 6.5 s with the height map is 119 levels and 71 % off the one
# without it. Each WebKit names its renderer "WebKit WebGL" to the page.
Engine = namedtuple("Engine", "driver renderer zooms limit far")
ENGINES = {"chromium": Engine(Chromium, "WebKit WebGL", True, 48, 0.04),
           "firefox": Engine(Firefox, "llvmpipe*", True, 8, 0),
           "webkit": Engine(WebKit, "WebKit WebGL", False, 8, 0)}
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


def blocks(picture, *convert):  # the means of a picture's 8 x 8 blocks (ImageMagick's box filter)
    return subprocess.run(["convert", *convert, "-scale", "12.5%", "-depth", "8", "rgb:-"],
                          input=picture, capture_output=True, check=True).stdout


def capture(test, size, seconds, missing):  # velmora-capture's frame, the assets less `missing`
    frame = copy(test, ASSETS, missing).parent / "frame.png"
    subprocess.run([CAPTURE, "--size", "%dx%d" % size, "--frame", str(seconds), frame],
                   cwd=frame.parent, check=True, capture_output=True)
    return blocks(frame.read_bytes(), "png:-")


class WebPage(unittest.TestCase):
    def check(self, engine):
        driver, renderer, zooms, limit, share = ENGINES[engine]
        for css, scale, gesture, seconds, missing, errors, other, resized, zoom in CASES:
            size = (css[0] * scale, css[1] * scale)
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
                shot = blocks(base64.b64decode(pixels), "-size", f"{width}x{height}", "-depth",
                              "8", "rgba:-", "-flip")
                for (at, left_out), same in (((seconds, missing), True), (other, False)):
                    differences = [abs(a - b) for a, b in zip(shot, capture(
                        self, size, at, left_out))]
                    far = sum(d > BLOCK_FAR for d in differences) / len(differences)
                    self.assertEqual(max(differences) <= limit and far <= share, same,
                                     f"off by up to {max(differences)}, {far:.1%} over {BLOCK_FAR}")

                # A resize of the page, then a change of zoom (the same CSS size at another
                # ratio, which fires no resize event where the driver emulates it): the drawing
                # size and the mask's follow each from the next frame on.
                for (width, height), ratio in [(resized, scale)] + [(resized, zoom)] * zooms:
                    page.resize(width, height, ratio)
                    frames = page.evaluate("velmoraProbe.frames.length")
                    device = [round(width * ratio), round(height * ratio)]
                    self.assertEqual(page.wait_for(f"velmoraProbe.frames.length > {frames + 1} && "
                                                   f"{BOX}"), [*device, width, height, *device])

                # The console: the program's two lines, and no error (a GL error is reported by
                # the probe) but those of the missing asset.
                console = page.evaluate("velmoraProbe.console")
                lines = " | ".join(text for level, text in console if level == "info")
                self.assertTrue(fnmatchcase(lines, "OpenGL version: OpenGL ES 3.0*WebGL 2* | "
                                                   f"Renderer: {renderer}"), lines)
                self.assertEqual([text for level, text in console if level == "error"], errors)

    def test_chromium(self):
        self.check("chromium")

    def test_firefox(self):
        self.check("firefox")

    def test_webkit(self):
        self.check("webkit")
