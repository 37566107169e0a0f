# The web build in each browser engine of ENGINES, served locally, against the native
# velmora-capture: console, drawing size and pacing, the music's start, the frame, a missing
# asset, and the canvas and the light mask following a resize and a change of zoom.
#
# Each engine is a row, an environment that opens the page in a window of a virtual X display.
# The test acts on it as a user does, with X input (xdotool): the gestures, the window's size,
# the zoom keys. The page itself (probe.js) reports to the test's
# server what the test checks, and takes its settings.

import base64
import contextlib
import json
import os
import shutil
import tempfile
import sys
import threading
from collections import namedtuple
from fnmatch import fnmatchcase
from functools import partial
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

from harness import (ASSETS, RATE, SOURCE, Environment, VelmoraTest, capture, decode,
                     first_sound, locate, rms, wait_for)

sys.path.append(str(SOURCE / "scripts"))
from devtools import DevTools  # noqa: E402  (the environments' DevTools client)

SITE = Path(os.environ.get("VELMORA_WEB_SITE", SOURCE / "build/release/tests/web/site"))
PROBE = (Path(__file__).parent / "probe.js").read_text()
MUSIC = decode(ASSETS / "audio/test.mp3")
# Each engine (an environment of scripts/environment.sh): the start of its "Renderer: " line (both
# WebKits name theirs "WebKit WebGL" to the page); whether the test zooms it (WebKitGTK's device
# pixel ratio is GTK's window scale, fixed when it starts; Firefox, zoomed while it draws on
# llvmpipe, shows 110 % in its address bar but gives the page no new ratio for minutes). All three
# draw on llvmpipe, as velmora-capture does: the same frame.
# Whether the music it plays is compared with the file's beginning: WebKitGTK's output leaves out
# about the first 0.7 s it is given (seen here: 0.7 s of the music missing, however late the
# program starts it after the audio context runs).
Engine = namedtuple("Engine", "renderer zooms whole")
ENGINES = {"chromium": Engine("WebKit WebGL", True, True),
           "firefox": Engine("llvmpipe*", False, True),
           "webkit": Engine("WebKit WebGL", False, False)}
CLICK = ("eval $(xdotool getwindowgeometry --shell $WINDOW); xdotool mousemove --window "
         "$WINDOW $((WIDTH / 2)) $((HEIGHT / 2)) click 1")  # in the middle, below the frame's top
# The browser window's size in X pixels (Firefox's is at least 500 CSS pixels wide) and device
# pixels per CSS pixel; the gesture that starts the music; the time of the frame; the asset left
# out (of the site and of the capture) and the error lines that gives; the window's size after a
# resize.
CASES = (((560, 400), 1, CLICK, 3.0, "", [], (680, 440)),
         ((1040, 700), 2, "xdotool windowfocus --sync $WINDOW key a", 6.5, "text1.jpg",
          ["Failed to load texture: /textures/text1.jpg"], (1200, 760)))


# A phone's link, as Chromium's DevTools emulate it ("Slow 4G"), and what the page loads with a
# note of its progress.
SLOW_4G = {"offline": False, "latency": 562.5, "downloadThroughput": 180000,
           "uploadThroughput": 84375}
LOADED = ("velmora.wasm", "assets/textures/text1.jpg", "assets/audio/test.mp3")


class Site(ThreadingHTTPServer):
    # `folder` served on a free local port, at .url, for a with-block; its index.html starts with
    # the probe and its `settings`. The page's reports (POST /report) land in .report, the last
    # picture in .picture; what is put in .settings reaches the page once (GET /settings).
    def __init__(self, folder, **settings):
        probe = f"<script>\n{PROBE}\nObject.assign(velmoraProbe, {json.dumps(settings)});\n</script>"
        page = (folder / "index.html").read_text().replace("<head>", "<head>\n" + probe, 1)
        self.report, self.settings, self.picture, site = {}, {}, None, self

        class Handler(SimpleHTTPRequestHandler):
            def do_GET(self):
                if self.path == "/settings":
                    body, site.settings = json.dumps(site.settings), {}
                elif self.path.split("?")[0] in ("/", "/index.html"):
                    body = page
                else:
                    return super().do_GET()
                self.send_response(200)
                self.end_headers()
                self.wfile.write(body.encode())

            def do_POST(self):
                site.report = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
                site.picture = site.report.pop("picture", None) or site.picture
                self.send_response(204)
                self.end_headers()

            def log_message(self, *args):
                pass

        super().__init__(("127.0.0.1", 0), partial(Handler, directory=folder))
        self.url = f"http://127.0.0.1:{self.server_port}/"
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def __exit__(self, *exc):
        self.shutdown()
        super().__exit__(*exc)

    def wait_for(self, condition, what, timeout=120):  # until `condition(report)`; the report
        try:
            wait_for(lambda: self.report and condition(self.report), what, timeout)
        except AssertionError:
            raise AssertionError(f"{what}: {self.report}") from None
        return self.report


def copy(test, folder, missing):  # a copy of `folder` less the files named `missing`
    target = Path(test.enterContext(tempfile.TemporaryDirectory())) / folder.name
    return shutil.copytree(folder, target, ignore=shutil.ignore_patterns(missing))


def device(report):  # the drawing size the page's CSS size asks for, at most 2 a CSS pixel
    return [int(int(css + 0.5) * min(report["ratio"], 2) + 0.5) for css in report["box"][2:]]


class WebPage(VelmoraTest):
    # The next frame read back by the page (drawn at `seconds`) is velmora-capture's frame at its
    # size, drawn from the assets in `cwd`.
    def assertGrabbed(self, site, seconds, folder, cwd=SOURCE):
        site.settings.update(grab=True)
        report = site.wait_for(lambda r: site.picture, "no picture")
        width, height, pixels = site.picture  # RGBA rows from the bottom
        self.assertEqual([width, height], report["box"][:2])
        rows = [base64.b64decode(pixels)[4 * width * y:4 * width * (y + 1)]
                for y in reversed(range(height))]
        (folder / "frame.ppm").write_bytes(f"P6\n{width} {height}\n255\n".encode() + b"".join(
            bytes(x for i, x in enumerate(row) if i % 4 < 3) for row in rows))
        self.assertFrameShown(folder / "frame.ppm", seconds, seconds, f"{width}x{height}", cwd=cwd)

    def check(self, engine):
        renderer, zooms, whole = ENGINES[engine]
        for window, scale, gesture, seconds, missing, errors, resized in CASES:
            with (self.subTest(engine=engine, scale=scale, missing=missing),
                  Site(copy(self, SITE, missing), clock=0, skip=True) as site,
                  Environment(engine, "1600x1000", site.url, str(scale)) as browser):
                # The window at a size; then, once the page has had a new CSS size for three
                # reports, the drawing size and the light mask's are that size in device pixels.
                def resize(size):
                    old, seen = site.wait_for(lambda r: True, "no report")["box"], []

                    def settled(r):
                        seen.extend([r] if not seen or seen[-1] is not r else [])
                        return len(seen) > 2 and all(s["box"] == r["box"] != old for s in seen[-3:])
                    browser.sh(f"xdotool windowsize $WINDOW {size[0]} {size[1]}")
                    return site.wait_for(lambda r: settled(r) and r["box"][:2] == device(r) == r[
                        "mask"], f"the page at a window of {size}")
                report = resize(window)
                # At most 60 frames a second, also on a display that refreshes faster (Firefox's
                # at 144 Hz), with the draws left out so that frames cost less than a refresh. The
                # music waits, and the hint shows, until the gesture.
                report = site.wait_for(lambda r: r["count"] > 40, "fewer than 41 frames")
                times = report["frames"]
                self.assertGreaterEqual((times[20] - times[0]) / 20, 1000 / 60 - 1)
                self.assertEqual([report["audioPeak"], report["hint"], report["session"]],
                                 [0, "Click or press a key for sound", "playback"])
                browser.sh(gesture)
                report = site.wait_for(lambda r: r["audioPeak"] > 0.01 and r["audio"] == "running",
                                       "no music")
                self.assertFalse(report["hint"])
                whole and self.assertMusicFromItsBeginning(browser.folder)
                site.settings.update(skip=False, clock=seconds * 1000)
                self.assertGrabbed(site, seconds, browser.folder, copy(self, SOURCE / "assets",
                                                                      missing).parent)
                # A resize of the window, then a change of zoom: the drawing size and the mask's
                # follow each.
                report = resize(resized)
                # The zoom keys with the browser's address bar focused (the page takes keys),
                # pressed again where a loaded browser missed the click or the keys.
                for _ in range(3 * zooms):
                    browser.sh(f"xdotool mousemove --window $WINDOW {300 * scale} {60 * scale} "
                               "click 1 sleep 0.5 key ctrl+plus")
                    with contextlib.suppress(AssertionError):
                        report = site.wait_for(lambda r: r["ratio"] != scale and r["box"][
                            :2] == device(r) == r["mask"], "after the zoom", 30)
                        break
                else:
                    self.assertFalse(zooms, "the zoom was not followed")
                # The console: the program's two lines, and no error (a GL error is reported by
                # the probe) but those of the missing asset.
                console = report["console"]
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

    # The music that the browser plays (its sound server's recording in `folder`) is the music's
    # beginning half a second after its first sound, as the file has it: nothing of it played,
    # unheard, before the gesture.
    def assertMusicFromItsBeginning(self, folder):
        wait_for(lambda: len(capture(folder)) // 2 > first_sound(capture(folder), 100) + RATE,
                 "no second of music recorded")
        heard, expected = capture(folder), first_sound(MUSIC, 100) + RATE // 2
        at = first_sound(heard, 100) + RATE // 2
        found = locate(heard, at, MUSIC, expected - 2048, expected + 2048)
        part, fit = heard[2 * at:2 * at + 2048], MUSIC[2 * found:2 * found + 2048]
        self.assertLess(rms([a - b for a, b in zip(part, fit)]), 0.2 * rms(fit),
                        "the music played does not begin with its beginning")

    # A tap at `point` that asks the audio context to resume as the finger lifts, as a phone
    # counts a gesture (Chromium, unlike WebKit, also lets the page resume later, once it has had
    # one), and the music playing, without the hint, after it.
    def tap(self, devtools, site, point, what):
        asked = len(site.report["resumes"])
        devtools.touch(*point)
        report = site.wait_for(lambda r: r["audio"] == "running" and r["audioPeak"] > 0.01 and not r[
            "hint"], what)
        self.assertIn("touchend", report["resumes"][asked:], what)

    # A phone (the environment "phone": Chromium as a 6.1" phone held upright, 390x844 CSS pixels
    # at 3 device pixels each, with touch), acted on as a finger acts, through its DevTools pipe.
    def test_phone(self):
        with Site(SITE, clock=0) as site, Environment("phone", "1600x1000", site.url) as phone:
            devtools = DevTools(phone.folder)
            # Loaded over a slow phone link: until the first frame a note says how much of the
            # module and the assets has come.
            devtools.send("Network.enable")
            devtools.send("Network.setCacheDisabled", cacheDisabled=True)
            devtools.send("Network.emulateNetworkConditions", **SLOW_4G)
            devtools.send("Page.navigate", url=site.url)
            total = sum((SITE / name).stat().st_size for name in LOADED) / 1e6
            site.wait_for(lambda r: fnmatchcase(r.get("progress") or "", f"Loading ?.? of {total:.1f} MB"),
                          "no note of the loading", 120)
            report = site.wait_for(lambda r: r["count"] > 1 and not r.get("progress"),
                                   "the note stays after the first frame")
            devtools.send("Network.emulateNetworkConditions", **dict(
                SLOW_4G, latency=0, downloadThroughput=-1, uploadThroughput=-1))
            # Drawn at the cap; the hint says to tap; the page is a "playback" audio session.
            self.assertEqual([report[key] for key in ("box", "mask", "hint", "session", "audio")],
                             [[780, 1688, 390, 844], [780, 1688], "Tap for sound", "playback",
                              "suspended"])
            # A swipe is no gesture that lets a page play sound, and leaves the page listening;
            # the next tap starts the music.
            devtools.touch(195, 700, [(195, 550), (195, 400)])
            later = site.wait_for(lambda r: r["count"] > report["count"] + 2, "no frames")
            self.assertEqual([later["audio"], later["hint"]], ["suspended", "Tap for sound"])
            self.tap(devtools, site, (195, 422), "no music after a tap")
            # Turned on its side, the drawing size and the mask's follow.
            devtools.screen(844, 390, 3)
            site.wait_for(lambda r: r["box"][:2] == r["mask"] == [1688, 780], "not turned")
            # A lock suspends the sound: the hint shows again, and the next tap resumes it.
            site.settings.update(suspend=True)
            site.wait_for(lambda r: r["audio"] == "suspended" and r["hint"], "no hint after a lock")
            self.tap(devtools, site, (422, 195), "not resumed after a lock")
            # The WebGL context lost and given back: the frames go on, the same as before, and
            # the music plays on.
            site.settings.update(lose=True)
            report = site.wait_for(lambda r: r["restored"] == 1, "the context not given back")
            site.wait_for(lambda r: r["count"] > report["count"] + 1, "no frames after it")
            site.settings.update(clock=6500)
            self.assertGrabbed(site, 6.5, phone.folder)
            self.assertEqual(site.report["audio"], "running")
