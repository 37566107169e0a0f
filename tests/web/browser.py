"""Headless Chromium driven through the DevTools protocol (over a pipe, so no port and no
package), and a static web server for the site the web build lays out. WebGL 2 comes from
SwiftShader, Chromium's renderer on the CPU."""

import fcntl
import functools
import http.server
import json
import os
import select
import shutil
import subprocess
import tempfile
import threading
import time
from base64 import b64decode
from pathlib import Path

SITE = Path(os.environ.get("VELMORA_WEB_SITE", Path(__file__).parents[2] / "build/web/site"))
CHROMIUM = os.environ.get("VELMORA_CHROMIUM", "chromium-headless-shell")
# The network is closed: nothing that reaches out, and a profile of its own every time. Audio
# waits for a user gesture, as in a browser with its default settings.
FLAGS = ["--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--no-first-run", "--no-default-browser-check", "--mute-audio",
         "--autoplay-policy=user-gesture-required", "--remote-debugging-pipe"]
TIMEOUT = float(os.environ.get("VELMORA_WEB_TIMEOUT", "120"))

# Run before the page's own scripts: a clock the test can stop (Date.now, which SDL's ticks come
# from in the browser, through gettimeofday, and performance.now); the times at which frames were
# issued (each frame of the program ends with its fourth draw, the light-shaft composite), or,
# with `finish`, drawn; and the audio output's callbacks and the peak level they reached.
PROBE = """
(() => {
  const realNow = performance.now.bind(performance);
  const probe = window.velmoraProbe = { clock: null, draws: 0, frames: [], audioCalls: 0,
                                         audioPeak: 0, finish: false, pixel: new Uint8Array(4) };
  const realDateNow = Date.now;
  performance.now = () => (probe.clock === null ? realNow() : probe.clock);
  Date.now = () => (probe.clock === null ? realDateNow() : probe.clock);
  const drawArrays = WebGL2RenderingContext.prototype.drawArrays;
  WebGL2RenderingContext.prototype.drawArrays = function (...args) {
    const result = drawArrays.apply(this, args);
    if (++probe.draws % 4 === 0) {
      // For measurements: wait until the frame is drawn (a read-back waits for the GPU).
      if (probe.finish) this.readPixels(0, 0, 1, 1, this.RGBA, this.UNSIGNED_BYTE, probe.pixel);
      probe.frames.push(realNow());
    }
    return result;
  };
  const createScriptProcessor = AudioContext.prototype.createScriptProcessor;
  AudioContext.prototype.createScriptProcessor = function (...args) {
    probe.audioContext = this;
    const node = createScriptProcessor.apply(this, args);
    const original = Object.getOwnPropertyDescriptor(ScriptProcessorNode.prototype, 'onaudioprocess');
    Object.defineProperty(node, 'onaudioprocess', { set(handler) {
      original.set.call(node, (event) => {
        handler(event);
        ++probe.audioCalls;
        for (let c = 0; c < event.outputBuffer.numberOfChannels; ++c) {
          for (const x of event.outputBuffer.getChannelData(c)) {
            probe.audioPeak = Math.max(probe.audioPeak, Math.abs(x));
          }
        }
      });
    } });
    return node;
  };
})();
"""


class Site:
    """The site folder served on a free local port for the duration of a with-block."""

    def __init__(self, folder):
        handler = functools.partial(QuietHandler, directory=str(folder))
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"

    def __enter__(self):
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def site_copy(test, without=()):
    """A copy of the site, less the files named relative to it."""
    if not (SITE / "velmora.wasm").exists():
        raise AssertionError(f"no web build in {SITE}: ./dev test builds it (./dev dist web)")
    folder = Path(tempfile.mkdtemp(prefix="velmora-site-"))
    test.addCleanup(shutil.rmtree, folder, ignore_errors=True)
    shutil.copytree(SITE, folder, dirs_exist_ok=True)
    for name in without:
        (folder / name).unlink()
    return folder


class Browser:
    """One headless Chromium for the duration of a with-block; `page` opens a tab on it."""

    def __enter__(self):
        self.profile = tempfile.mkdtemp(prefix="velmora-chromium-")
        to_browser, self.commands = os.pipe()
        self.replies, from_browser = os.pipe()
        # Chromium reads commands on its descriptor 3 and writes replies on 4.
        def pipe_descriptors():
            high = [fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (to_browser, from_browser)]
            os.dup2(high[0], 3)
            os.dup2(high[1], 4)

        self.process = subprocess.Popen(
            [CHROMIUM, *FLAGS, f"--user-data-dir={self.profile}", "about:blank"],
            pass_fds=(3, 4), preexec_fn=pipe_descriptors, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self.buffer, self.next_id, self.events = b"", 0, []
        return self

    def __exit__(self, *exc):
        self.process.kill()
        self.process.wait()
        os.close(self.commands)
        os.close(self.replies)
        shutil.rmtree(self.profile, ignore_errors=True)

    def call(self, method, session=None, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        while True:
            reply = self.receive()
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise AssertionError(f"{method}: {reply['error']}")
                return reply["result"]

    def receive(self):
        deadline = time.monotonic() + TIMEOUT
        while b"\0" not in self.buffer:
            if not select.select([self.replies], [], [], max(0, deadline - time.monotonic()))[0]:
                raise AssertionError("Chromium does not answer")
            chunk = os.read(self.replies, 1 << 20)
            if not chunk:
                raise AssertionError("Chromium has gone")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        message = json.loads(message)
        if "method" in message:
            self.events.append(message)
        return message

    def page(self, url, width, height, scale=1, clock=None, finish=False):
        return Page(self, url, width, height, scale, clock, finish)


class Page:
    """A tab showing `url` in a viewport of width x height CSS pixels at `scale` device pixels
    per CSS pixel, with the probe installed before the page's scripts; `clock`, when given, stops
    the page's clock at that many milliseconds from the start; `finish` makes each frame wait
    until it is drawn, so that the software renderer never falls behind."""

    def __init__(self, browser, url, width, height, scale, clock, finish):
        self.browser = browser
        self.target = browser.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = browser.call("Target.attachToTarget", targetId=self.target,
                                    flatten=True)["sessionId"]
        for domain in ("Page", "Runtime", "Log"):
            self.call(f"{domain}.enable")
        self.resize(width, height, scale)
        settings = f"velmoraProbe.finish = {str(finish).lower()};"
        if clock is not None:
            settings += f"velmoraProbe.clock = {clock};"
        self.call("Page.addScriptToEvaluateOnNewDocument", source=PROBE + settings)
        self.call("Page.navigate", url=url)

    def call(self, method, **params):
        return self.browser.call(method, self.session, **params)

    def resize(self, width, height, scale=1):
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=scale, mobile=False)

    def evaluate(self, expression):
        reply = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                          awaitPromise=True)
        if "exceptionDetails" in reply:
            raise AssertionError(f"{expression}: {reply['exceptionDetails']}")
        return reply["result"].get("value")

    def wait_for(self, expression, timeout=TIMEOUT):
        """Polls until `expression` is truthy in the page; returns its value."""
        deadline = time.monotonic() + timeout
        while not (value := self.evaluate(expression)):
            if time.monotonic() > deadline:
                raise AssertionError(f"timed out waiting for {expression}; console: "
                                     f"{self.console()}")
            time.sleep(0.1)
        return value

    def console(self):
        """(level, text) of every console message, uncaught exception and browser log entry so
        far: levels log, info, warning, error."""
        entries = []
        for event in self.browser.events:
            if event.get("sessionId") != self.session:
                continue
            params = event["params"]
            if event["method"] == "Runtime.consoleAPICalled":
                text = " ".join(str(a.get("value", a.get("description", ""))) for a in params["args"])
                entries.append((params["type"], text))
            elif event["method"] == "Runtime.exceptionThrown":
                entries.append(("error", params["exceptionDetails"]["text"]))
            elif event["method"] == "Log.entryAdded":
                entries.append((params["entry"]["level"], params["entry"]["text"]))
        return entries

    def screenshot(self):
        """The page as the compositor shows it: width, height and RGB bytes, top row first."""
        png = self.call("Page.captureScreenshot", format="png")["data"]
        return decode_png(png, base64=True)

    def click(self, x=5, y=5):
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left",
                      clickCount=1)

    def press(self, key="a", code="KeyA", key_code=65):
        for kind in ("keyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, key=key, code=code,
                      windowsVirtualKeyCode=key_code)

    def frames(self):
        return self.evaluate("velmoraProbe.frames.length")


def decode_png(data, base64=False):
    """Width, height and RGB bytes (top row first) of a PNG, through ImageMagick."""
    png = b64decode(data) if base64 else data
    size = subprocess.run(["identify", "-format", "%w %h", "png:-"], input=png,
                          capture_output=True, check=True).stdout.split()
    rgb = subprocess.run(["convert", "png:-", "-depth", "8", "rgb:-"], input=png,
                         capture_output=True, check=True).stdout
    return int(size[0]), int(size[1]), rgb


def block_means(picture, block=8):
    """The mean of each channel over each block x block square of a picture (whose sides are
    multiples of `block`), through ImageMagick's box filter."""
    width, height, rgb = picture
    return subprocess.run(
        ["convert", "-size", f"{width}x{height}", "-depth", "8", "rgb:-", "-scale",
         f"{width // block}x{height // block}!", "-depth", "8", "rgb:-"],
        input=rgb, capture_output=True, check=True).stdout
