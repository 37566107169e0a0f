# velmora-capture's videos in the browsers people watch them in (Chromium and Firefox), through
# each browser's own media stack: the picture's size and the duration, the frames the page shows
# at their times against the tool's stills, the sound the browser decodes against the music at
# the same times, and the file played with its sound through the page's audio graph.
# By default a short render of its own in each container; VELMORA_VIDEO_FILES (paths, separated
# by spaces, made from the demo's start at VELMORA_VIDEO_FPS frames a second) checks others.

import base64
import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest
from array import array
from pathlib import Path

from browser import Chromium, Firefox, Site, blocks
from velmora_process import ASSETS, CAPTURE, RATE, VelmoraTest, decode, locate

ENGINES = {"chromium": Chromium, "firefox": Firefox}
CONTAINERS = (".mp4", ".webm")
# The short render: 2 s from 3 s of demo time at 320x180 and 30 frames a second, and the frames
# compared; for other files, frames near the start, the middle and the end of the demo (at 60 s,
# before the music's last silent second, where there would be no sound to place).
SIZE, FPS, START, SECONDS, FRAMES = "320x180", 30, 3, 2, (0, 31, 59)
LONG_FRAMES = (300, 1998, 3600)
# A frame as the page shows it against the tool's stills at its time and a frame either side,
# as the means of 8 x 8 blocks, so that the codec's 4:2:0 colour and the browser's YUV to RGB
# conversion weigh little: the mean difference at most LIMIT levels, and the still at its time
# the closest of the three.
LIMIT = 6.0
# The sound the browser decodes, half a second from each compared frame's time: where it lies in
# the music (the offset: sound and pictures out of step by that much) and its loudness and
# waveform, as the process tests compare the music (a lossy codec: RESIDUAL of the music left).
SYNC, RESIDUAL = RATE // 200, 0.1  # 5 ms


def mean_difference(one, other):
    return sum(abs(a - b) for a, b in zip(one, other)) / len(one)


class BrowserVideo(VelmoraTest):
    @classmethod
    def setUpClass(cls):
        cls.folder = Path(tempfile.mkdtemp(prefix="velmora-video-"))
        cls.addClassCleanup(shutil.rmtree, cls.folder, ignore_errors=True)
        shutil.copy(Path(__file__).parent / "video.html", cls.folder / "index.html")
        given = os.environ.get("VELMORA_VIDEO_FILES", "").split()
        if given:
            fps = int(os.environ.get("VELMORA_VIDEO_FPS", "60"))
            cls.start, cls.fps, cls.frames, cls.expected = 0, fps, LONG_FRAMES, None
            cls.videos = [Path(name).resolve() for name in given]
            for video in cls.videos:
                (cls.folder / video.name).symlink_to(video)
        else:
            cls.start, cls.fps, cls.frames, cls.expected = START, FPS, FRAMES, (SIZE, SECONDS)
            cls.videos = [cls.folder / f"demo{extension}" for extension in CONTAINERS]
            for video in cls.videos:
                cls.tool("--video", video, "--size", SIZE, "--fps", FPS, "--start", START,
                         "--seconds", SECONDS)
        cls.music = decode(ASSETS / "audio/test.mp3")
        cls.stills = {}

    @classmethod
    def tool(cls, *args):
        subprocess.run([CAPTURE, *map(str, args)], cwd=ASSETS.parent, check=True,
                       capture_output=True)

    # The tool's stills at `size` of frames `indices` and their neighbours, as blocks, made once
    # for each size.
    def stills_at(self, size, indices):
        stills = self.stills.setdefault(size, {})
        wanted = sorted({i + d for i in indices for d in (-1, 0, 1)} - set(stills) - {-1})
        if wanted:
            frames = []
            for index in wanted:
                frames += ["--frame", f"{self.start + index / self.fps:.7f}",
                           self.folder / f"still{index}.png"]
            self.tool("--size", "%dx%d" % size, *frames)
            for index in wanted:
                stills[index] = blocks((self.folder / f"still{index}.png").read_bytes(), "png:-")
        return stills

    def ask(self, page, script):
        page.evaluate(script)
        answer = page.wait_for("answer")
        self.assertNotIn("error", answer, f"{script}: {answer.get('error')}")
        return answer["value"]

    def check(self, engine):
        with Site(self.folder) as site, ENGINES[engine]() as page:
            page.open(site.url, 640, 360, 1)
            for video in self.videos:
                with self.subTest(engine=engine, video=video.name):
                    self.check_video(page, video.name)

    def check_video(self, page, name):
        width, height, duration = self.ask(page, f"load('{name}')")
        print(f"{name}: {width}x{height}, {duration:.3f} s")
        if self.expected:
            self.assertEqual(f"{width}x{height}", self.expected[0])
            self.assertAlmostEqual(duration, self.expected[1], delta=0.03)

        stills = self.stills_at((width, height), self.frames)
        for index in self.frames:
            # The middle of the frame's time, once the frame that starts there is shown.
            pixels = self.ask(page, f"frameAt({(index + 0.5) / self.fps}, {index / self.fps})")
            shown = blocks(base64.b64decode(pixels), "-size", f"{width}x{height}", "-depth", "8",
                           "rgba:-")
            near = {i: mean_difference(shown, stills[i]) for i in (index - 1, index, index + 1)
                    if i in stills}
            print(f"{name} frame {index}: mean block difference {near}")
            self.assertLessEqual(near[index], LIMIT, f"frame {index}")
            self.assertEqual(min(near, key=near.get), index, f"frame {index} is not at its time")

        spans = [(at, at + 0.5) for at in (min(i / self.fps, duration - 0.6) for i in self.frames)]
        for (at, _), text in zip(spans, self.ask(page, f"soundOf('{name}', {RATE}, "
                                                       f"{json.dumps(spans)})")):
            heard = array("h", base64.b64decode(text))
            first = round((self.start + at) * RATE)
            offset = locate(heard, RATE // 4, self.music, first + RATE // 4 - RATE // 10,
                            first + RATE // 4 + RATE // 10) - (first + RATE // 4)
            print(f"{name} sound at {at:.2f} s: {offset / RATE * 1000:+.2f} ms from the pictures")
            self.assertLessEqual(abs(offset), SYNC, f"the sound at {at:.2f} s is out of step")
            music = self.music[2 * (first + offset):2 * (first + offset) + len(heard)]
            self.assertSameSound(heard, music, at=self.start + at, residual=RESIDUAL)

        # Played with a user's gesture: the media clock moves as the wall clock does and sound
        # flows through the page's audio graph.
        page.click(5, 5)
        begin = min(max(0.0, duration - 2.0), self.frames[-1] / self.fps)  # where there is sound
        moved, took, peak, shown, dropped = self.ask(page, f"play({begin}, 2)")
        print(f"{name} played {moved:.2f} s in {took:.2f} s: peak {peak:.2f}, "
              f"{shown} frames shown, {dropped} dropped")
        self.assertGreater(moved, 1.5)
        self.assertLess(abs(moved - took), 0.5)
        self.assertGreater(peak, 0.01, "no sound reached the page's audio graph")

    def test_chromium(self):
        self.check("chromium")

    def test_firefox(self):
        self.check("firefox")


if __name__ == "__main__":
    unittest.main()
