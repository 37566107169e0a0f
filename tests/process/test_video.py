# velmora-capture --video: short renders in both containers decoded back with FFmpeg (streams,
# frames against the tool's stills, the music), the lengths it picks, bad input, interruption
# and missing assets.

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from fnmatch import fnmatchcase
from pathlib import Path

from velmora_process import (ASSETS, CAPTURE, NO_ASSETS, RATE, SDL_NOTICES, SOURCE, TIMEOUT,
                             Display, VelmoraTest, decode, locate, rms, wait_for)

SIZE, FPS, START, SECONDS = "320x180", 30, 3, 2
CONTAINERS = {".mp4": ("h264", "aac"), ".webm": ("vp9", "opus")}
STILLS = (0, 31, 59)  # frames compared with the tool's stills
# PSNR of a decoded frame against the still at its time, both in the video's 4:2:0 BT.709
# (4:2:0 alone costs the saturated one-pixel lines some 20 dB in RGB, so RGB says little). At the
# tests' CRF, measured at 320x180: 38.1 to 50.7 dB; the stills a frame earlier or later give 28.4
# to 31 (at the default CRF the right frame gave 31.2 to 42, too close to those).
CRF, PSNR_FLOOR = 15, 35.0
# The music's waveform through a lossy codec and two resamplers (44.1 to 48 kHz and back): its
# residual was 4.3 % (AAC) and 5.3 % (Opus) of the music, at an offset of 6 samples (0.14 ms).
RESIDUAL, OFFSET = 0.1, RATE // 500


# A folder with a copy of the assets, for runs that remove some.
def assets_copy(cleanup):
    folder = Path(tempfile.mkdtemp(prefix="velmora-video-"))
    cleanup(shutil.rmtree, folder, ignore_errors=True)
    shutil.copytree(ASSETS, folder / "assets")
    return folder


def probe(path):
    result = subprocess.run(
        ["ffprobe", "-v", "error", "-count_frames", "-of", "json", "-show_entries",
         "stream=codec_type,codec_name,width,height,r_frame_rate,nb_read_frames:format=duration",
         path], check=True, capture_output=True, text=True)
    info = json.loads(result.stdout)
    streams = {stream["codec_type"]: stream for stream in info["streams"]}
    return streams, float(info["format"]["duration"])


# PSNR of frame `index` of `video` against `still`, as ffmpeg's psnr filter averages it.
def psnr(video, index, still):
    graph = (f"[0:v]select=eq(n\\,{index})[a];"
             "[1:v]scale=out_color_matrix=bt709:out_range=tv,format=yuv420p[b];[a][b]psnr")
    result = subprocess.run(["ffmpeg", "-i", video, "-i", still, "-lavfi", graph, "-f", "null",
                             "-"], check=True, capture_output=True, text=True)
    return float(re.search(r"PSNR .*average:([\d.]+|inf)", result.stderr).group(1))


class Video(VelmoraTest):
    @classmethod
    def setUpClass(cls):
        cls.display = cls.enterClassContext(Display(SIZE))
        cls.folder = Path(tempfile.mkdtemp(prefix="velmora-video-"))
        cls.addClassCleanup(shutil.rmtree, cls.folder, ignore_errors=True)
        cls.videos = {}
        for extension in CONTAINERS:
            cls.videos[extension] = cls.folder / f"demo{extension}"
            result = cls.capture("--video", cls.videos[extension], "--size", SIZE, "--fps", FPS,
                                 "--start", START, "--seconds", SECONDS, "--crf", CRF)
            assert result.returncode == 0, result.stderr

    # Runs velmora-capture in `cwd` (the source folder) on the display: the process, its standard
    # error less SDL's notices as lines.
    @classmethod
    def capture(cls, *args, cwd=SOURCE):
        result = subprocess.run([CAPTURE, *map(str, args)], cwd=cwd, capture_output=True,
                                text=True, timeout=20 * TIMEOUT,
                                env=dict(os.environ, **cls.display.env))
        result.stderr = [line for line in result.stderr.splitlines()
                         if not any(notice in line for notice in SDL_NOTICES)]
        return result

    def assertLines(self, lines, patterns):
        self.assertTrue(len(lines) == len(patterns) and all(map(fnmatchcase, lines, patterns)),
                        f"{lines} do not match {patterns}")

    def test_streams(self):
        width, height = map(int, SIZE.split("x"))
        for extension, (picture, sound) in CONTAINERS.items():
            with self.subTest(extension):
                streams, duration = probe(self.videos[extension])
                video, audio = streams["video"], streams["audio"]
                self.assertEqual((video["codec_name"], audio["codec_name"]), (picture, sound))
                self.assertEqual((video["width"], video["height"]), (width, height))
                self.assertEqual(video["r_frame_rate"], f"{FPS}/1")
                self.assertEqual(int(video["nb_read_frames"]), SECONDS * FPS)
                self.assertAlmostEqual(duration, SECONDS, delta=0.02)

    def test_frames_are_the_stills_at_their_times(self):
        stills = []
        for index in STILLS:
            stills += ["--frame", f"{START + index / FPS:.7f}", self.folder / f"still{index}.png"]
        self.assertEqual(self.capture("--size", SIZE, *stills).returncode, 0)
        for extension, index in ((e, i) for e in CONTAINERS for i in STILLS):
            with self.subTest(extension, frame=index):
                self.assertGreaterEqual(
                    psnr(self.videos[extension], index, self.folder / f"still{index}.png"),
                    PSNR_FLOOR)

    def test_the_music_from_the_start(self):
        music = decode(ASSETS / "audio/test.mp3")
        for extension in CONTAINERS:
            with self.subTest(extension):
                heard = decode(self.videos[extension])
                self.assertAlmostEqual(len(heard) / 2 / RATE, SECONDS, delta=0.02)
                # Where the sound half a second in lies in the music: the offset of the whole.
                middle = START * RATE + RATE // 2
                offset = locate(heard, RATE // 2, music, middle - RATE // 10,
                                middle + RATE // 10) - middle
                self.assertLessEqual(abs(offset), OFFSET, "the music is out of step")
                first = START * RATE + offset
                self.assertSameSound(heard, music[2 * first:2 * first + len(heard)], at=START,
                                     residual=RESIDUAL)

    # Without --seconds: to the end of the music, or 10 seconds when there is none.
    def test_default_lengths(self):
        for name, removed, args, frames in (
                ("to the end of the music", None, ["--start", "65", "--fps", "10"], 5),
                ("no music", "audio/test.mp3", ["--fps", "1"], 10)):
            with self.subTest(name):
                folder = assets_copy(self.addCleanup)
                if removed:
                    (folder / "assets" / removed).unlink()
                result = self.capture("--video", "out.mp4", "--size", SIZE, *args, cwd=folder)
                self.assertEqual(result.returncode, 0, result.stderr)
                streams, duration = probe(folder / "out.mp4")
                self.assertEqual(int(streams["video"]["nb_read_frames"]), frames)

    def test_bad_input_leaves_nothing(self):
        cases = {
            "unknown extension": (["--video", "out.avi"], "*: unknown video format*"),
            "a folder that is not there": (["--video", "no/such/out.mp4"],
                                           "*cannot write no/such/out.mp4: No such file*"),
            "larger than the GL renders": (["--video", "out.mp4", "--size", "20000x20000"],
                                           "*the GL renders at most *x*, not 20000x20000"),
            "an odd size": (["--video", "out.webm", "--size", "321x180"], "*must be even*"),
            "a start past the end": (["--video", "out.mp4", "--start", "70"],
                                     "*--start 70 is past the end of the music (65.50 s)"),
        }
        for name, (args, line) in cases.items():
            with self.subTest(name):
                folder = assets_copy(self.addCleanup)
                result = self.capture(*args, cwd=folder)
                self.assertEqual(result.returncode, 1)
                self.assertLines(result.stderr, [line])
                self.assertEqual(sorted(p.name for p in folder.iterdir()), ["assets"])

    # SIGINT (Ctrl-C) or SIGTERM while frames are written removes the partial file.
    def test_interrupted_render_leaves_nothing(self):
        for stop in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(stop.name):
                folder = assets_copy(self.addCleanup)
                process = subprocess.Popen(
                    [CAPTURE, "--video", "out.webm", "--size", SIZE, "--fps", str(FPS)], cwd=folder,
                    env=dict(os.environ, **self.display.env), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                    text=True)
                try:
                    partial = folder / "out.webm.part"
                    wait_for(partial.exists, "the render did not start")
                    time.sleep(1)
                    process.send_signal(stop)
                    _, stderr = process.communicate(timeout=TIMEOUT)
                finally:
                    process.kill()
                    process.wait()
                self.assertEqual(process.returncode, -stop)
                self.assertIn("velmora-capture: interrupted, out.webm not written", stderr)
                self.assertEqual(sorted(p.name for p in folder.iterdir()), ["assets"])

    # The program's messages, silence, and the surface drawn without the picture, as the still.
    def test_missing_assets(self):
        folder = assets_copy(self.addCleanup)
        for asset in ("audio/test.mp3", "textures/text1.jpg"):
            (folder / "assets" / asset).unlink()
        result = self.capture("--video", "out.mp4", "--size", SIZE, "--fps", FPS, "--start",
                              START, "--seconds", 0.5, "--crf", CRF, cwd=folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertLines(result.stderr, NO_ASSETS[1:] + NO_ASSETS[:1])  # the music comes first
        self.assertLess(rms(decode(folder / "out.mp4")), 1, "sound without music")
        self.assertEqual(self.capture("--size", SIZE, "--frame", START, "still.png",
                                      cwd=folder).returncode, 0)
        self.assertGreaterEqual(psnr(folder / "out.mp4", 0, folder / "still.png"), PSNR_FLOOR)


if __name__ == "__main__":
    unittest.main()
