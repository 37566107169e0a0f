"""The real program against the corpus of broken and unusual assets (bad_assets.py): each case
runs in a working directory of its own with that one asset replaced, is asked to close like a
window manager does, and must end with status 0 after printing exactly the expected lines and
drawing the scene; music cases also check what the audio device received."""

import time
import unittest

import bad_assets
from bad_assets import FAILS, LOADS, MUSIC, PLAYS, TARGETS
from velmora_process import (AUDIBLE, RATE, SILENT, STARTUP_TIMEOUT, WINDOW, Display,
                             VelmoraTestCase, decode_audio, first_sound, make_workdir, read_audio,
                             rms, rms_windows, run_velmora)

TEXTURE_LINE = "Failed to load texture: /textures/text1.jpg"
LOAD_MUSIC, PLAY_MUSIC = "Failed to load music: ", "Failed to play music: "
SOUND = 100  # the level, of a full scale of 32767, above which a sample counts as sound


def crossings(samples):
    """Sign changes of the left channel."""
    left = samples[0::2]
    return sum(1 for a, b in zip(left, left[1:]) if (a < 0) != (b < 0))


def sounding(samples, level=SOUND):
    """The samples from the first to the last one louder than `level`."""
    first = first_sound(samples, level)
    if first is None:
        return samples[:0]
    last = len(samples) // 2 - first_sound(samples[::-1], level)
    return samples[2 * first:2 * last]


class BadAssets(VelmoraTestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = cls.enterClassContext(Display())
        cls.limits = bad_assets.Limits(cls.display.max_texture_size())

    def run_case(self, case, wait_for_audio=None):
        """Runs the program with the case's stand-in for its asset. Before the close request it
        samples the tile colours and, given `wait_for_audio(capture)`, waits until that is true
        of the capture so far (or the start-up timeout passes). Returns the run, the colours seen
        and the capture."""
        workdir = make_workdir(self)
        path = workdir / "assets" / TARGETS[case.kind]
        path.unlink()
        case.write(path, self.limits)
        seen = {}

        def before_close(process):
            seen.update(self.display.tile_colours())
            if wait_for_audio:
                deadline = time.monotonic() + STARTUP_TIMEOUT
                while not wait_for_audio(read_audio(workdir / "audio.raw")):
                    if time.monotonic() > deadline or process.poll() is not None:
                        break
                    time.sleep(0.1)
            self.display.request_close()

        run = run_velmora(workdir, self.display, stop=None, run_seconds=0,
                          before_stop=before_close)
        return run, seen, read_audio(run.audio)

    def assertTiles(self, seen, expected):
        """`expected`: "mint" (every tile of the band lifted), "grey" (none lifted) or "mixed"
        (the text picture, some of both)."""
        if expected == "mixed":
            self.assertGreater(seen["mint"] + seen["grey"], 0.5, seen)
            self.assertGreater(seen["mint"], 0.02, seen)
            self.assertGreater(seen["grey"], 0.02, seen)
        else:
            other = "grey" if expected == "mint" else "mint"
            self.assertGreater(seen[expected], 0.5, seen)
            self.assertLess(seen[other], 0.01, seen)

    def test_pictures(self):
        for case in bad_assets.PICTURES:
            with self.subTest(case.name):
                run, seen, _ = self.run_case(case)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertNormalStdout(run)
                if case.outcome == FAILS:
                    self.assertEqual(run.stderr_lines(), [TEXTURE_LINE], run.stderr)
                    # Texture 0 samples black, and black lifts every tile of the band.
                    self.assertTiles(seen, "mint")
                else:
                    self.assertEqual(case.outcome, LOADS)
                    self.assertEqual(run.stderr_lines(), [], run.stderr)
                    self.assertTiles(seen, case.scene)

    def test_music(self):
        for case in bad_assets.MUSIC_CASES:
            with self.subTest(case.name):
                if case.outcome == FAILS:
                    self.check_silent_run(case)
                else:
                    self.assertEqual(case.outcome, PLAYS)
                    self.check_played(case)

    def check_silent_run(self, case):
        # A second of device output, to tell a silent device from one that never ran.
        run, seen, capture = self.run_case(case, lambda capture: len(capture) > 2 * RATE)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertNormalStdout(run)
        lines = run.stderr_lines()
        self.assertEqual(len(lines), 2, run.stderr)
        for line, prefix in zip(lines, (LOAD_MUSIC, PLAY_MUSIC)):
            self.assertTrue(line.startswith(prefix), lines)
            self.assertTrue(line[len(prefix):].strip(), lines)
        if not (run.workdir / "assets" / TARGETS[MUSIC]).exists():
            self.assertIn("assets/audio/test.mp3", lines[0])
        self.assertTiles(seen, "mixed")
        self.assertGreater(len(capture), 2 * RATE)
        self.assertLess(rms(capture), 1, "sound without music")

    def check_played(self, case):
        # The file as ffmpeg decodes it, in the capture's format, is what should be heard.
        reference = make_workdir(self, with_assets=False) / case.name
        case.write(reference, self.limits)
        expected = sounding(decode_audio(reference))
        self.assertGreater(len(expected), 0.2 * 2 * RATE, "too short a reference to compare")

        def heard_to_the_end(capture):
            # Half a second past where the music should have ended.
            onset = first_sound(capture, SOUND)
            return onset is not None and len(capture) > 2 * onset + len(expected) + RATE

        run, seen, capture = self.run_case(case, heard_to_the_end)
        self.assertCleanRun(run)
        self.assertTiles(seen, "mixed")
        heard = sounding(capture)
        self.assertTrue(heard, "the capture is silent")
        self.assertAlmostEqual(len(heard) / 2 / RATE, len(expected) / 2 / RATE, delta=0.03,
                               msg="seconds of sound")
        # Played once: after it, silence to the end of the run.
        levels = rms_windows(capture, WINDOW)
        start = (2 * first_sound(capture, SOUND) + len(heard)) // (2 * int(RATE * WINDOW)) + 1
        self.assertGreater(len(levels[start:]) * WINDOW, 0.3, "too short a run to see the end")
        self.assertLess(max(levels[start:]), SILENT, "sound after the end of the music")
        # No silence inside it, the same loudness and, by the rate of zero crossings, the same
        # pitch.
        self.assertGreater(min(rms_windows(heard, WINDOW)), AUDIBLE, "a silence in the music")
        self.assertAlmostEqual(rms(heard) / rms(expected), 1.0, delta=0.1)
        self.assertAlmostEqual(crossings(heard) / crossings(expected), 1.0, delta=0.02)


if __name__ == "__main__":
    unittest.main()
