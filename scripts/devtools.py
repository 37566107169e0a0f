#!/usr/bin/env python3
# Chromium's DevTools protocol over the pipe that the environment "phone" opens (cdp.in and
# cdp.out in its folder): commands to its page, for the environment itself (a phone's screen and
# touch) and for whoever drives the page (taps, rotations, throttling, screenshots). Every client
# speaks through the one session attached to the page first (its id kept in cdp.session).
#   scripts/devtools.py FOLDER METHOD [PARAMS-AS-JSON]    one command; prints its result as JSON
import json
import os
import random
import sys
from pathlib import Path


class DevTools:
    def __init__(self, folder):
        self.folder, self.pending = Path(folder), b""
        self.commands = open(self.folder / "cdp.in", "wb", buffering=0)
        self.replies = os.open(self.folder / "cdp.out", os.O_RDONLY)
        saved = self.folder / "cdp.session"
        if not saved.exists():
            page = next(target for target in self.send("Target.getTargets")["targetInfos"]
                        if target["type"] == "page")
            saved.write_text(self.send("Target.attachToTarget", targetId=page["targetId"],
                                       flatten=True)["sessionId"])
        self.session = saved.read_text()

    # Sends `method` to the page (to the browser before a session is attached); its result.
    def send(self, method, **params):
        ident = random.randrange(1 << 31)
        message = {"id": ident, "method": method, "params": params}
        if getattr(self, "session", None):
            message["sessionId"] = self.session
        self.commands.write(json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.pending:
                self.pending += os.read(self.replies, 1 << 16)
            text, self.pending = self.pending.split(b"\0", 1)
            try:
                reply = json.loads(text)
            except ValueError:  # the end of a message that an earlier client left half read
                continue
            if reply.get("id") == ident:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error'].get('message')}")
                return reply.get("result", {})

    # A tap of a finger at (x, y), in CSS pixels of the page; `path` moves it on before it lifts.
    def touch(self, x, y, path=()):
        self.send("Input.dispatchTouchEvent", type="touchStart", touchPoints=[{"x": x, "y": y}])
        for x, y in path:
            self.send("Input.dispatchTouchEvent", type="touchMove", touchPoints=[{"x": x, "y": y}])
        self.send("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])

    # The page as a phone's screen of `width` x `height` CSS pixels at `scale` device pixels a CSS
    # pixel, held upright when it is taller than wide.
    def screen(self, width, height, scale):
        upright = height > width
        self.send("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=scale, mobile=True, screenOrientation={
                      "type": "portraitPrimary" if upright else "landscapePrimary",
                      "angle": 0 if upright else 90})


if __name__ == "__main__":
    print(json.dumps(DevTools(sys.argv[1]).send(sys.argv[2], **json.loads(
        sys.argv[3] if len(sys.argv) > 3 else "{}"))))
