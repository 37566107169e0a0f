# Headless Chromium driven through the DevTools protocol (over a socket on its descriptors 3 and
# 4, so no port and no package), and a static web server. WebGL 2 comes from SwiftShader,
# Chromium's renderer on the CPU.

import json
import os
import signal
import socket
import subprocess
import tempfile
import threading
import time
from base64 import b64decode
from functools import partial
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

SITE = Path(os.environ.get("VELMORA_WEB_SITE", Path(__file__).parents[2] / "build/web/site"))
CHROMIUM = os.environ.get("VELMORA_CHROMIUM", "chromium-headless-shell")
# A profile of its own every time; audio waits for a user gesture, as in a browser with its
# default settings.
FLAGS = ["--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--mute-audio",
         "--autoplay-policy=user-gesture-required", "--remote-debugging-pipe"]
TIMEOUT = float(os.environ.get("VELMORA_WEB_TIMEOUT", "120"))

# Run before the page's own scripts: a clock the test can stop (Date.now, which SDL's ticks come
# from in the browser, and performance.now); the times at which frames were issued (each frame
# of the program ends with its fourth draw, the light-shaft composite), or, with `finish`, drawn
# (a read-back waits for the GPU); the frame count at the last resize of the page; a request for
# fullscreen, which the page never makes (it would take the screen and change the drawing size),
# as a console error; and the number of audio output callbacks and the peak level they reached.
PROBE = """{
const probe = window.velmoraProbe = { draws: 0, frames: [], audioCalls: 0, audioPeak: 0 };
const realNow = performance.now.bind(performance), realDateNow = Date.now;
performance.now = () => probe.clock ?? realNow();
Date.now = () => probe.clock ?? realDateNow();
const drawArrays = WebGL2RenderingContext.prototype.drawArrays;
WebGL2RenderingContext.prototype.drawArrays = function (...args) {
  drawArrays.apply(this, args);
  if (++probe.draws % 4 !== 0) return;
  if (probe.finish) this.readPixels(0, 0, 1, 1, this.RGBA, this.UNSIGNED_BYTE, new Uint8Array(4));
  probe.frames.push(realNow());
};
addEventListener('resize', () => { probe.resizedAt = probe.frames.length; });
Element.prototype.requestFullscreen = async () => console.error('The page asks for fullscreen');
const createScriptProcessor = AudioContext.prototype.createScriptProcessor;
AudioContext.prototype.createScriptProcessor = function (...args) {
  const node = createScriptProcessor.apply(this, args);
  // Listens after the program's own handler, which it sets right after it creates the node.
  queueMicrotask(() => node.addEventListener('audioprocess', (e) => {
    probe.audioCalls += 1;
    probe.audioPeak = Math.max(probe.audioPeak, ...e.outputBuffer.getChannelData(0).map(Math.abs));
  }));
  return node;
};
}"""
# Each console message, uncaught exception and browser log entry as (level, text); the levels
# are log, info, warning and error.
CONSOLE = {"Runtime.consoleAPICalled": lambda p: (p["type"], str(p["args"][0].get("value"))),
           "Runtime.exceptionThrown": lambda p: ("error", p["exceptionDetails"]["text"]),
           "Log.entryAdded": lambda p: (p["entry"]["level"], p["entry"]["text"])}


class Site(ThreadingHTTPServer):
    # `folder` served on a free local port, at .url, for a with-block.
    def __init__(self, folder):
        super().__init__(("127.0.0.1", 0), partial(SimpleHTTPRequestHandler, directory=folder))
        self.url = f"http://127.0.0.1:{self.server_port}/"
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def __exit__(self, *exc):
        self.shutdown()
        super().__exit__(*exc)


class Browser:
    # One headless Chromium for a with-block. `page` opens a tab, which the other methods use.
    def __enter__(self):
        self.profile = tempfile.TemporaryDirectory(ignore_cleanup_errors=True)
        self.socket, theirs = socket.socketpair()
        self.socket.settimeout(TIMEOUT)
        self.process = subprocess.Popen(
            ["sh", "-c", f'exec "$@" 3<&{theirs.fileno()} 4>&{theirs.fileno()}', "sh", CHROMIUM,
             *FLAGS, f"--user-data-dir={self.profile.name}"], pass_fds=[theirs.fileno()],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        theirs.close()
        self.buffer, self.last_id, self.events, self.session = b"", 0, [], None
        return self

    def __exit__(self, *exc):  # the whole process group: the launcher script and the browser
        os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()
        self.socket.close()
        self.profile.cleanup()

    def call(self, method, **params):
        self.last_id += 1
        session = {"sessionId": self.session} if self.session else {}
        message = {"id": self.last_id, "method": method, "params": params, **session}
        self.socket.sendall(json.dumps(message).encode() + b"\0")
        while not (reply := next((m for m in self.events if m.get("id") == self.last_id), None)):
            chunk = self.socket.recv(1 << 20)
            if not chunk:
                raise AssertionError(f"{method}: Chromium has gone")
            *messages, self.buffer = (self.buffer + chunk).split(b"\0")
            self.events += map(json.loads, messages)
        if "error" in reply:
            raise AssertionError(f"{method}: {reply['error']}")
        return reply["result"]

    # A new tab showing `url` at width x height CSS pixels and `scale` device pixels per CSS
    # pixel, with the probe; `clock` stops the page's clock at that many milliseconds from the
    # start; `finish` makes each frame wait until it is drawn, so that the software renderer
    # never falls behind.
    def page(self, url, width, height, scale=1, clock=None, finish=False):
        self.session = None
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target,
                                 flatten=True)["sessionId"]
        for domain in ("Page", "Runtime", "Log"):
            self.call(f"{domain}.enable")
        self.resize(width, height, scale)
        settings = json.dumps({"clock": clock, "finish": finish})
        self.call("Page.addScriptToEvaluateOnNewDocument",
                  source=f"{PROBE}\nObject.assign(velmoraProbe, {settings});")
        self.call("Page.navigate", url=url)
        return self

    def resize(self, width, height, scale=1):
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=scale, mobile=False)

    def evaluate(self, expression):
        reply = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in reply:
            raise AssertionError(f"{expression}: {reply['exceptionDetails']}")
        return reply["result"].get("value")

    def wait_for(self, expression, timeout=TIMEOUT):  # until `expression` is truthy; its value
        deadline = time.monotonic() + timeout
        while not (value := self.evaluate(expression)):
            if time.monotonic() > deadline:
                raise AssertionError(f"timed out waiting for {expression}; {self.console()}")
            time.sleep(0.1)
        return value

    def console(self):
        return [CONSOLE[e["method"]](e["params"]) for e in self.events
                if e.get("sessionId") == self.session and e.get("method") in CONSOLE]

    def screenshot(self):  # the page as the compositor shows it, as a PNG
        return b64decode(self.call("Page.captureScreenshot", format="png")["data"])
