# Headless Chromium driven by Selenium (through chromedriver, with the DevTools commands that
# WebDriver lacks), and a static web server. WebGL 2 comes from SwiftShader, Chromium's renderer
# on the CPU.

import json
import os
import re
import threading
from functools import partial
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

from selenium.common.exceptions import TimeoutException
from selenium.webdriver import Chrome, ChromeOptions, ChromeService
from selenium.webdriver.support.wait import WebDriverWait

SITE = Path(os.environ.get("VELMORA_WEB_SITE", Path(__file__).parents[2] / "build/web/site"))
# chromedriver gives each session a profile of its own; audio waits for a user gesture, as in a
# browser with its default settings.
FLAGS = ["--headless=new", "--no-sandbox", "--use-angle=swiftshader",
         "--enable-unsafe-swiftshader", "--mute-audio", "--autoplay-policy=user-gesture-required"]
TIMEOUT = float(os.environ.get("VELMORA_WEB_TIMEOUT", "120"))
PROBE = (Path(__file__).parent / "probe.js").read_text()  # the page's clock, frames and audio


class Site(ThreadingHTTPServer):
    # `folder` served on a free local port, at .url, for a with-block.
    def __init__(self, folder):
        super().__init__(("127.0.0.1", 0), partial(SimpleHTTPRequestHandler, directory=folder))
        self.url = f"http://127.0.0.1:{self.server_port}/"
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def __exit__(self, *exc):
        self.shutdown()
        super().__exit__(*exc)


class Browser(Chrome):
    # One headless Chromium for a with-block, showing one page (`load`) in its tab. The driver is
    # named, so that Selenium never looks for one to download.
    def __init__(self):
        options = ChromeOptions()
        options.binary_location = os.environ.get("VELMORA_CHROMIUM", "/usr/bin/chromium")
        for flag in FLAGS:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        super().__init__(options, ChromeService("/usr/bin/chromedriver"))

    # The page at `url`, at width x height CSS pixels and `scale` device pixels per CSS pixel,
    # with the probe and its `settings` (probe.js): `clock` stops the page's clock at that many
    # milliseconds from the start; `finish` makes each frame wait until it is drawn, so that the
    # software renderer never falls behind; `skip` leaves the draws out. Once a browser: the
    # probe would stay for a later page.
    def load(self, url, width, height, scale=1, **settings):
        self.resize(width, height, scale)
        self.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {
            "source": f"{PROBE}\nObject.assign(velmoraProbe, {json.dumps(settings)});"})
        self.get(url)

    def resize(self, width, height, scale=1):
        self.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", dict(
            width=width, height=height, deviceScaleFactor=scale, mobile=False))

    def evaluate(self, script):  # the value of the script's last statement
        return self.execute_script("return eval(arguments[0])", script)

    def wait_for(self, script, timeout=TIMEOUT):  # until the script's value is truthy; that value
        try:
            return WebDriverWait(self, timeout, 0.1).until(lambda _: self.evaluate(script))
        except TimeoutException:
            raise AssertionError(f"timed out waiting for {script}; {self.console()}") from None

    # Each console message, uncaught exception and browser log entry since the last call, as
    # (level: SEVERE, WARNING, INFO for console.log and console.info, DEBUG; text), the text
    # without chromedriver's "SOURCE LINE:COLUMN " or "SOURCE - " and the quotes around strings.
    def console(self):
        return [(e["level"], re.sub(r'^\S+ [\d:-]+ "?(.*?)"?$', r"\1", e["message"], flags=re.S))
                for e in self.get_log("browser")]
