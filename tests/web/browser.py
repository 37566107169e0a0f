# The three browser engines, each driven through the same few calls (Page), and a static web
# server that puts the probe (probe.js) at the top of the page it serves. Chromium runs headless
# with WebGL 2 from SwiftShader (its renderer on the CPU) and Firefox in a window on the X
# display, both driven over WebDriver BiDi (Chromium's through chromedriver); WebKitGTK's
# MiniBrowser in a window, driven over classic WebDriver by WebKitWebDriver, which has no BiDi.
# The windowed ones draw WebGL 2 with Mesa's llvmpipe and get a PulseAudio server of their own:
# without a sound server they keep every audio context from running.

import json
import os
import re
import socket
import subprocess
import threading
import time
import urllib.request
from functools import partial
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

import websocket
from harness import PULSEAUDIO, Environment, wait_for

SITE = Path(os.environ.get("VELMORA_WEB_SITE", "build/release/tests/web/site"))
TIMEOUT = float(os.environ.get("VELMORA_WEB_TIMEOUT", "120"))
PROBE = (Path(__file__).parent / "probe.js").read_text()
# Chromium: audio waits for a user gesture, as in a browser with its default settings. Firefox:
# WebGL on llvmpipe, which it otherwise leaves out as too slow; audio waits for a click or a key
# press, as with its default settings; no first-run pages.
CHROMIUM_FLAGS = ["--headless=new", "--no-sandbox", "--use-angle=swiftshader",
                  "--enable-unsafe-swiftshader", "--mute-audio",
                  "--autoplay-policy=user-gesture-required"]
FIREFOX_PREFS = {"webgl.force-enabled": True, "media.autoplay.default": 1,
                 "media.autoplay.block-webaudio": True, "browser.aboutwelcome.enabled": False,
                 "browser.startup.homepage_override.mstone": "ignore",
                 "datareporting.policy.dataSubmissionEnabled": False}
MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"


class Site(ThreadingHTTPServer):
    # `folder` served on a free local port, at .url, for a with-block; its index.html starts with
    # the probe and its `settings` (probe.js).
    def __init__(self, folder, **settings):
        probe = f"<script>\n{PROBE}\nObject.assign(velmoraProbe, {json.dumps(settings)});\n</script>"
        page = (Path(folder) / "index.html").read_text().replace("<head>", "<head>\n" + probe, 1)

        class Handler(SimpleHTTPRequestHandler):
            def do_GET(self):
                if self.path.split("?")[0] not in ("/", "/index.html"):
                    return super().do_GET()
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.end_headers()
                self.wfile.write(page.encode())

            def log_message(self, *args):
                pass

        super().__init__(("127.0.0.1", 0), partial(Handler, directory=folder))
        self.url = f"http://127.0.0.1:{self.server_port}/"
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def __exit__(self, *exc):
        self.shutdown()
        super().__exit__(*exc)


# A WebDriver server (`command` given a free port), and a new session of it with `capabilities`:
# the process, the session's address and what it answered.
def webdriver(command, capabilities, env=None):
    with socket.socket() as free:
        free.bind(("127.0.0.1", 0))
        port = free.getsockname()[1]
    driver = subprocess.Popen([*command, f"--port={port}"], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    url = f"http://127.0.0.1:{port}/session"
    wait_for(lambda: socket.socket().connect_ex(("127.0.0.1", port)) == 0, "no WebDriver")
    answer = post(url, {"capabilities": {"alwaysMatch": capabilities}})
    return driver, f"{url}/{answer['sessionId']}", answer["capabilities"]


def post(url, body):
    request = urllib.request.Request(url, json.dumps(body).encode(),
                                     {"Content-Type": "application/json"})
    return json.loads(urllib.request.urlopen(request, timeout=TIMEOUT).read())["value"]


class Page:
    # One browser for a with-block, showing one page: open (the page at width x height CSS pixels
    # and `scale` device pixels each), resize, evaluate (the value of the script's last
    # statement), click and key (the user's gestures). Over WebDriver BiDi: one JSON command a
    # message on the session's socket, answered by the message with its id (events between are
    # dropped).
    id = 0

    def __enter__(self):
        self.context = self.call("browsingContext.getTree")["contexts"][0]["context"]
        return self

    def __exit__(self, *exc):
        if getattr(self, "session", None):  # the WebDriver session ends with its browser
            urllib.request.urlopen(urllib.request.Request(self.session, method="DELETE"))
        self.browser.terminate()
        self.browser.wait()
        if getattr(self, "sound", None):
            self.sound.__exit__(None, None, None)

    def wait_for(self, script, timeout=TIMEOUT):  # until the script's value is truthy; that value
        wait_for(lambda: self.evaluate(script), f"timed out waiting for {script}", timeout)
        return self.evaluate(script)

    def call(self, method, **params):
        self.id += 1
        self.socket.send(json.dumps({"id": self.id, "method": method, "params": params}))
        while (answer := json.loads(self.socket.recv())).get("id") != self.id:
            pass
        if answer["type"] == "error":
            raise AssertionError(f"{method}: {answer['message']}")
        return answer["result"]

    def open(self, url, width, height, scale):
        self.resize(width, height, scale)
        self.call("browsingContext.navigate", context=self.context, url=url, wait="complete")

    def resize(self, width, height, scale):
        self.call("browsingContext.setViewport", context=self.context, devicePixelRatio=scale,
                  viewport={"width": width, "height": height})

    def evaluate(self, script):
        result = self.call("script.evaluate", target={"context": self.context},
                           expression=f"JSON.stringify((0, eval)({json.dumps(script)}))",
                           awaitPromise=False)
        if result["type"] == "exception":
            raise AssertionError(f"{script}: {result['exceptionDetails']['text']}")
        return json.loads(result["result"].get("value", "null"))

    def gesture(self, source, *actions):
        self.call("input.performActions", context=self.context, actions=[
            {"type": source, "id": source, "actions": list(actions)}])

    def click(self, x, y):
        self.gesture("pointer", {"type": "pointerMove", "x": x, "y": y},
                     {"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0})

    def key(self, key):
        self.gesture("key", {"type": "keyDown", "value": key}, {"type": "keyUp", "value": key})


class Chromium(Page):  # its chromedriver named: nothing looks for one to download
    def __init__(self):
        self.browser, self.session, answered = webdriver(["chromedriver"], {"webSocketUrl": True,
            "goog:chromeOptions": {"binary": os.environ.get("VELMORA_CHROMIUM", "/usr/bin/chromium"),
                                   "args": CHROMIUM_FLAGS}})
        self.socket = websocket.create_connection(answered["webSocketUrl"], timeout=TIMEOUT,
                                                  suppress_origin=True)


class Firefox(Page):  # with a profile of its own, speaking BiDi itself
    def __init__(self):
        self.sound = Environment(PULSEAUDIO).__enter__()
        profile = self.sound.folder / "profile"
        profile.mkdir()
        (profile / "user.js").write_text("".join(f"user_pref({json.dumps(name)}, "
                                                 f"{json.dumps(value)});\n"
                                                 for name, value in FIREFOX_PREFS.items()))
        self.browser = subprocess.Popen(
            [os.environ.get("VELMORA_FIREFOX", "firefox-esr"), "--remote-debugging-port=0",
             "--profile", profile, "--no-remote", "about:blank"], stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE, text=True, env=self.sound.environ())
        address = next(found for line in self.browser.stderr
                       if (found := re.search(r"WebDriver BiDi listening on (ws://\S+)", line)))
        threading.Thread(target=self.browser.stderr.read, daemon=True).start()
        self.socket = websocket.create_connection(f"{address[1]}/session", timeout=TIMEOUT,
                                                  suppress_origin=True)
        self.call("session.new", capabilities={})


class WebKit(Page):
    # Over classic WebDriver. Its device pixel ratio is GTK's window scale (GDK_SCALE), fixed when
    # it starts, so the browser is started by open.
    def __init__(self):
        self.sound = Environment(PULSEAUDIO).__enter__()

    def __enter__(self):
        return self

    def command(self, path, **body):
        return post(f"{self.session}/{path}", body)

    def open(self, url, width, height, scale):
        self.browser, self.session, _ = webdriver(["WebKitWebDriver"], {
            "webkitgtk:browserOptions": {"binary": os.environ.get("VELMORA_MINIBROWSER",
                                                                  MINIBROWSER),
                                         "args": ["--automation"]}},
            dict(self.sound.environ(), GDK_SCALE=str(scale)))
        self.resize(width, height, scale)
        self.command("url", url=url)

    # The window's size less what its toolbar and borders take, in two steps: the first shows
    # how much that is, once the window has taken the size asked (on a loaded machine later).
    def resize(self, width, height, scale):
        self.command("window/rect", width=width, height=height)
        wait_for(lambda: [*map(self.command("window/rect").get, ("width", "height"))] == [
            width, height] and self.evaluate("innerHeight") < height, "the window kept its size")
        inner = self.evaluate("[innerWidth, innerHeight]")
        self.command("window/rect", width=2 * width - inner[0], height=2 * height - inner[1])

    def evaluate(self, script):
        return self.command("execute/sync", script="return eval(arguments[0])", args=[script])

    def gesture(self, source, *actions):
        self.command("actions", actions=[{"type": source, "id": source, "actions": list(actions)}])
