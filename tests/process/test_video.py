# velmora-capture --video: short renders in both containers decoded back with FFmpeg (streams in
# the forms players commonly support, frames against the tool's stills, the music), the lengths it
# picks, bad input, interruption and missing assets.

import json
import re
import signal
import subprocess
import time
import unittest

from harness import (ASSETS, CAPTURE, NO_ASSETS, NOTICES, RATE, SOURCE, TIMEOUT,
                     Environment, VelmoraTest, decode, locate, wait_for, workdir)

SIZE, FPS, START, SECONDS = "320x180", 30, 3, 2
# Each container's picture and sound codecs and their profiles, in the 4:2:0 8-bit picture that
# video players and hardware decoders commonly support (Chromium and Firefox also decoded 4:4:4
# H.264 and VP9 profile 1 here, in software).
CONTAINERS = {".mp4": ("h264", "High", "aac", "LC"), ".webm": ("vp9", "Profile 0", "opus", None)}
STILLS = (0, 31, 59)  # frames compared with the tool's stills
# PSNR of a decoded frame against the still at its time, both in the video's 4:2:0 BT.709
# (4:2:0 alone costs the saturated one-pixel lines some 20 dB in RGB, so RGB says little). At the
# tests' CRF, measured at 320x180: 38.1 to 50.7 dB; the stills a frame earlier or later give 28.4
# to 31 (at the default CRF the right frame gave 31.2 to 42, too close to those).
CRF, PSNR_FLOOR = 15, 35.0
# The music's waveform through a lossy codec and two resamplers (44.1 to 48 kHz and back): its
# residual was 4.3 % (AAC) and 5.3 % (Opus) of the music, at an offset of 6 samples (0.14 ms).
RESIDUAL, OFFSET = 0.1, RATE // 500


# ffprobe's view of `path`: each kind of stream's fields, and the duration.
def probe(path):
    info = json.loads(subprocess.run(
        ["ffprobe", "-v", "error", "-count_frames", "-of", "json", "-show_entries",
         "stream=codec_type,codec_name,profile,pix_fmt,width,height,r_frame_rate,nb_read_frames:"
         "format=duration", path], check=True, capture_output=True, text=True).stdout)
    return {s["codec_type"]: s for s in info["streams"]}, float(info["format"]["duration"])


# PSNR of frame `index` of `video` against `still`, as ffmpeg's psnr filter averages it.
def psnr(video, index, still):
    graph = (f"[0:v]select=eq(n\\,{index})[a];"
             "[1:v]scale=out_color_matrix=bt709:out_range=tv,format=yuv420p[b];[a][b]psnr")
    result = subprocess.run(["ffmpeg", "-i", video, "-i", still, "-lavfi", graph, "-f", "null",
                             "-"], check=True, capture_output=True, text=True)
    return float(re.search(r"PSNR .*average:([\d.]+|inf)", result.stderr).group(1))


# Runs of the tool on the assets less `removed`: its arguments, the status and the line it ends
# with, the frames the video has (bad input leaves no file at all).
RUNS = {
    "to the end of the music": ((), ["--start", "65", "--fps", "10"], 0, [], 5),
    "no music: 10 s": (("audio/test.mp3",), ["--fps", "1"], 0, NO_ASSETS[1:], 10),
    "unknown extension": ((), ["--video", "out.avi"], 1, ["*: unknown video format*"], None),
    "a folder that is not there": ((), ["--video", "no/such/out.mp4"], 1,
                                   ["*cannot write no/such/out.mp4: No such file*"], None),
    "larger than the GL renders": ((), ["--size", "20000x20000"], 1,
                                   ["*the GL renders at most *x*, not 20000x20000"], None),
    "an odd size": ((), ["--video", "out.webm", "--size", "321x180"], 1, ["*must be even*"], None),
    "a start past the end": ((), ["--start", "70"], 1,
                             ["*--start 70 is past the end of the music (65.50 s)"], None),
    "no assets": (("audio/test.mp3", "textures/text1.jpg"), ["--fps", "30", "--seconds", "0.5"],
                  0, NO_ASSETS[1:] + NO_ASSETS[:1], 15),  # the music comes first
}


class Video(VelmoraTest):
    @classmethod
    def setUpClass(cls):
        cls.display = cls.enterClassContext(Environment("xvfb", SIZE))
        cls.folder = cls.display.folder
        for extension in CONTAINERS:
            result = cls.capture("--video", cls.folder / f"demo{extension}", "--size", SIZE,
                                 "--fps", FPS, "--start", START, "--seconds", SECONDS, "--crf", CRF)
            assert result.returncode == 0, result.stderr

    # Runs velmora-capture in `cwd` on the display: the process, its standard error less the
    # notices, as lines.
    @classmethod
    def capture(cls, *args, cwd=SOURCE):
        result = subprocess.run([CAPTURE, *map(str, args)], cwd=cwd, capture_output=True,
                                text=True, timeout=20 * TIMEOUT, env=cls.display.environ())
        result.stderr = [line for line in result.stderr.splitlines()
                         if not any(notice in line for notice in NOTICES)]
        return result

    # Each container: its streams, frames that are the tool's stills at their times, and the music
    # from the start, in step.
    def test_each_container(self):
        stills, music = [], decode(ASSETS / "audio/test.mp3")
        for index in STILLS:
            stills += ["--frame", f"{START + index / FPS:.7f}", self.folder / f"still{index}.png"]
        self.assertEqual(self.capture("--size", SIZE, *stills).returncode, 0)
        for extension, codecs in CONTAINERS.items():
            with self.subTest(extension):
                video = self.folder / f"demo{extension}"
                streams, duration = probe(video)
                picture, sound = streams["video"], streams["audio"]
                self.assertEqual([picture[key] for key in (
                    "codec_name", "profile", "pix_fmt", "width", "height", "r_frame_rate",
                    "nb_read_frames")] + [sound["codec_name"], sound.get("profile")],
                    [codecs[0], codecs[1], "yuv420p", *map(int, SIZE.split("x")), f"{FPS}/1",
                     str(SECONDS * FPS), codecs[2], codecs[3]])
                self.assertAlmostEqual(duration, SECONDS, delta=0.02)
                for index in STILLS:
                    self.assertGreaterEqual(psnr(video, index, self.folder / f"still{index}.png"),
                                            PSNR_FLOOR, f"frame {index}")
                heard = decode(video)
                self.assertAlmostEqual(len(heard) / 2 / RATE, SECONDS, delta=0.02)
                # Where the sound half a second in lies in the music: the offset of the whole.
                middle = START * RATE + RATE // 2
                offset = locate(heard, RATE // 2, music, middle - RATE // 10,
                                middle + RATE // 10) - middle
                self.assertLessEqual(abs(offset), OFFSET, "the music is out of step")
                first = START * RATE + offset
                self.assertSameSound(heard, music[2 * first:2 * first + len(heard)], at=START,
                                     residual=RESIDUAL)

    # Without --seconds: to the end of the music, or 10 seconds when there is none; bad input.
    def test_lengths_and_bad_input(self):
        for name, (removed, args, status, lines, frames) in RUNS.items():
            with self.subTest(name):
                folder = workdir(self)
                for asset in removed:
                    (folder / "assets" / asset).unlink()
                args = args if "--video" in args else ["--video", "out.mp4", "--size", SIZE, *args]
                result = self.capture(*args, cwd=folder)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertLines(result.stderr, lines)
                if frames:
                    self.assertEqual(int(probe(folder / "out.mp4")[0]["video"]["nb_read_frames"]),
                                     frames)
                else:
                    self.assertEqual(sorted(p.name for p in folder.iterdir()), ["assets"])

    # SIGINT (Ctrl-C) or SIGTERM while frames are written removes the partial file.
    def test_interrupted_render_leaves_nothing(self):
        for stop in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(stop.name):
                folder = workdir(self)
                process = subprocess.Popen(
                    [CAPTURE, "--video", "out.webm", "--size", SIZE, "--fps", str(FPS)],
                    cwd=folder, env=self.display.environ(), stdout=subprocess.DEVNULL,
                    stderr=subprocess.PIPE, text=True)
                try:
                    wait_for((folder / "out.webm.part").exists, "the render did not start")
                    time.sleep(1)
                    process.send_signal(stop)
                    _, stderr = process.communicate(timeout=TIMEOUT)
                finally:
                    process.kill()
                    process.wait()
                self.assertEqual(process.returncode, -stop)
                self.assertIn("velmora-capture: interrupted, out.webm not written", stderr)
                self.assertEqual(sorted(p.name for p in folder.iterdir()), ["assets"])


if __name__ == "__main__":
    unittest.main()
