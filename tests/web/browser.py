# The three browser engines, each driven through the same few calls (Page), a static web server
# that puts the probe (probe.js) at the top of the page it serves, and the measures of pictures
# the tests share. Chromium runs headless, with WebGL 2 from SwiftShader (its renderer on the
# CPU); Firefox and WebKitGTK run in a real window on the X display, with WebGL 2 from Mesa's
# llvmpipe.

import json
import os
import re
import subprocess
import sys
import tempfile
import threading
import time
from functools import partial
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

from selenium.webdriver import (Chrome, ChromeOptions, ChromeService, WebKitGTK, WebKitGTKOptions,
                                WebKitGTKService)
from selenium.webdriver.common.action_chains import ActionChains

SITE = Path(os.environ.get("VELMORA_WEB_SITE", "build/release/tests/web/site"))
TIMEOUT = float(os.environ.get("VELMORA_WEB_TIMEOUT", "120"))
PROBE = (Path(__file__).parent / "probe.js").read_text()  # the page's clock, frames and audio
CACHE = Path(os.environ.get("VELMORA_CACHE", Path.home() / ".cache/velmora"))
PUPPETEER = CACHE / f"npm-puppeteer-core-{os.environ.get('VELMORA_PUPPETEER_VERSION', '')}"


def pixels_of(picture, *convert):  # a picture's RGB bytes, read by ImageMagick as `convert` says
    return subprocess.run(["convert", *convert, "-depth", "8", "rgb:-"], input=picture,
                          capture_output=True, check=True).stdout


def blocks(picture, *convert):  # the means of a picture's 8 x 8 blocks (ImageMagick's box filter)
    return pixels_of(picture, *convert, "-scale", "12.5%")


class Site(ThreadingHTTPServer):
    # `folder` served on a free local port, at .url, for a with-block; its index.html starts with
    # the probe and its `settings` (probe.js).
    def __init__(self, folder, **settings):
        probe = f"<script>\n{PROBE}\nObject.assign(velmoraProbe, {json.dumps(settings)});\n</script>"
        page = (Path(folder) / "index.html").read_text().replace("<head>", "<head>\n" + probe, 1)

        class Handler(SimpleHTTPRequestHandler):
            def do_GET(self):
                if self.path.split("?")[0] not in ("/", "/index.html"):
                    return self.send_part() or super().do_GET()
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.end_headers()
                self.wfile.write(page.encode())

            # The bytes a Range header asks for, as a media element asks for them to seek (a
            # server without ranges makes a video unseekable in Chromium); False without one.
            def send_part(self):
                asked = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
                path = Path(self.translate_path(self.path))
                if not (asked and path.is_file()):
                    return False
                size = path.stat().st_size
                first, last = int(asked[1]), min(int(asked[2] or size - 1), size - 1)
                if first > last:
                    self.send_error(416)
                    return True
                self.send_response(206)
                self.send_header("Content-Type", self.guess_type(str(path)))
                self.send_header("Content-Range", f"bytes {first}-{last}/{size}")
                self.send_header("Content-Length", str(last - first + 1))
                self.end_headers()
                with open(path, "rb") as file:
                    file.seek(first)
                    left = last - first + 1
                    while left and (chunk := file.read(min(left, 1 << 20))):
                        self.wfile.write(chunk)
                        left -= len(chunk)
                return True

            def log_message(self, *args):
                pass

        super().__init__(("127.0.0.1", 0), partial(Handler, directory=folder))
        self.url = f"http://127.0.0.1:{self.server_port}/"
        threading.Thread(target=self.serve_forever, daemon=True).start()

    # A browser may drop a connection it no longer needs (a media element that seeks): no
    # report for that.
    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)

    def __exit__(self, *exc):
        self.shutdown()
        super().__exit__(*exc)


class PulseAudio:
    # A PulseAudio server of its own, whose one sink, the default playback device, is a null
    # sink: without a sound server Firefox and WebKitGTK keep every audio context from running.
    # env names it to the browser.
    def __init__(self):
        self.folder = tempfile.TemporaryDirectory(prefix="velmora-")
        self.env = dict(os.environ, PULSE_SERVER=f"unix:{self.folder.name}/native")
        self.server = subprocess.Popen(
            ["pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1",
             f"--load=module-native-protocol-unix socket={self.folder.name}/native "
             "auth-anonymous=1", "--load=module-null-sink sink_name=velmora"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            env=dict(self.env, HOME=self.folder.name, XDG_RUNTIME_DIR=self.folder.name))
        end = time.monotonic() + 10
        while subprocess.run(["pactl", "info"], env=self.env, capture_output=True).returncode:
            if time.monotonic() > end or self.server.poll() is not None:
                self.close()
                raise AssertionError("PulseAudio did not start")
            time.sleep(0.05)

    def close(self):
        self.server.terminate()
        self.server.wait()
        self.folder.cleanup()


class Page:
    # One browser for a with-block, showing one page. Each engine gives: open (the page at
    # width x height CSS pixels and `scale` device pixels each), resize, evaluate (the value of
    # the script's last statement), click and key (the user's gestures), console ((level, text)
    # of each message since the last call, level one of error, warning, info, debug; None where
    # the engine's driver does not give the console) and close.
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def wait_for(self, script, timeout=TIMEOUT):  # until the script's value is truthy; that value
        end = time.monotonic() + timeout
        while not (value := self.evaluate(script)):
            if time.monotonic() > end:
                raise AssertionError(f"timed out waiting for {script}; {self.console()}")
            time.sleep(0.1)
        return value


class Selenium(Page):  # what the engines driven by Selenium share
    def evaluate(self, script):
        return self.driver.execute_script("return eval(arguments[0])", script)

    def click(self, x, y):
        ActionChains(self.driver).move_by_offset(x, y).click().perform()

    def key(self, key):
        ActionChains(self.driver).send_keys(key).perform()

    def close(self):
        if self.driver:
            self.driver.quit()


class Chromium(Selenium):
    # Headless, driven by Selenium through chromedriver, with the DevTools commands that
    # WebDriver lacks. chromedriver gives each session a profile of its own; audio waits for a
    # user gesture, as in a browser with its default settings. The driver is named, so that
    # Selenium never looks for one to download.
    FLAGS = ["--headless=new", "--no-sandbox", "--use-angle=swiftshader",
             "--enable-unsafe-swiftshader", "--mute-audio",
             "--autoplay-policy=user-gesture-required"]
    LEVELS = {"SEVERE": "error", "WARNING": "warning", "INFO": "info", "DEBUG": "debug"}

    def __init__(self):
        options = ChromeOptions()
        options.binary_location = os.environ.get("VELMORA_CHROMIUM", "/usr/bin/chromium")
        for flag in self.FLAGS:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.driver = Chrome(options, ChromeService("/usr/bin/chromedriver"))

    def open(self, url, width, height, scale):
        self.resize(width, height, scale)
        self.driver.get(url)

    def resize(self, width, height, scale):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", dict(
            width=width, height=height, deviceScaleFactor=scale, mobile=False))

    # The text without chromedriver's "SOURCE LINE:COLUMN " or "SOURCE - " and the quotes
    # around strings.
    def console(self):
        return [(self.LEVELS[e["level"]], re.sub(r'^\S+ [\d:-]+ "?(.*?)"?$', r"\1", e["message"],
                                                 flags=re.S))
                for e in self.driver.get_log("browser")]


class WebKit(Selenium):
    # WebKitGTK's MiniBrowser in a window, driven by Selenium through WebKitWebDriver. Its
    # device pixel ratio is GTK's window scale (GDK_SCALE), fixed when it starts, so the browser
    # is started by open. WebKitWebDriver has no command that reads the console.
    BROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"

    def __init__(self):
        self.driver, self.sound = None, PulseAudio()

    def open(self, url, width, height, scale):
        options = WebKitGTKOptions()
        options.binary_location = os.environ.get("VELMORA_MINIBROWSER", self.BROWSER)
        options.add_argument("--automation")
        service = WebKitGTKService("/usr/bin/WebKitWebDriver",
                                   env=dict(self.sound.env, GDK_SCALE=str(scale)))
        self.driver = WebKitGTK(options=options, service=service)
        self.driver.get("about:blank")
        self.resize(width, height, scale)
        self.driver.get(url)

    # The window's size less what its toolbar and borders take, in two steps: the first shows
    # how much that is, once the window has taken the size asked (on a loaded machine later).
    def resize(self, width, height, scale):
        self.driver.set_window_size(width, height)
        for _ in range(200):
            outer = self.driver.get_window_size()
            inner = self.evaluate("[innerWidth, innerHeight]")
            if (outer["width"], outer["height"]) == (width, height) and inner[1] < height:
                break
            time.sleep(0.05)
        self.driver.set_window_size(2 * width - inner[0], 2 * height - inner[1])

    def console(self):
        return None

    def close(self):
        super().close()
        self.sound.close()


class Firefox(Page):
    # Firefox ESR in a window, driven over WebDriver BiDi by puppeteer-core (firefox.cjs, a node
    # process that takes one request a line); puppeteer-core is installed into the cache folder
    # by the tests' set-up (install-puppeteer.sh).
    def __init__(self):
        self.sound = PulseAudio()
        self.node = subprocess.Popen(
            ["node", Path(__file__).parent / "firefox.cjs"], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, text=True,
            env=dict(self.sound.env, NODE_PATH=str(PUPPETEER / "node_modules")))

    def call(self, *request):
        self.node.stdin.write(json.dumps(request) + "\n")
        self.node.stdin.flush()
        answer = json.loads(self.node.stdout.readline() or '{"error": "node ended"}')
        if "error" in answer:
            raise AssertionError(f"Firefox: {request[0]}: {answer['error']}")
        return answer["value"]

    def open(self, url, width, height, scale):
        self.call("load", url, width, height, scale)

    def resize(self, width, height, scale):
        self.call("resize", width, height, scale)

    def evaluate(self, script):
        return self.call("evaluate", script)

    def click(self, x, y):
        self.call("click", x, y)

    def key(self, key):
        self.call("key", key)

    def console(self):
        return [tuple(message) for message in self.call("console")]

    def close(self):
        self.node.stdin.close()
        self.node.stdout.close()
        try:
            self.node.wait(30)
        except subprocess.TimeoutExpired:
            self.node.kill()
            self.node.wait()
        self.sound.close()
