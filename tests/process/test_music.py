"""The music as the audio device receives it (SDL's disk driver writes it to a file). Broken and
unusual music files are in test_bad_assets.py."""

import unittest

from velmora_process import (ASSETS, AUDIBLE, RATE, SILENT, WINDOW, Display, VelmoraTestCase,
                             audible_span, decode_audio, first_sound, make_sound, make_workdir,
                             read_audio, rms, rms_windows, run_velmora)

MUSIC = ASSETS / "audio" / "test.mp3"


def aligned(capture, music, search=1200):
    """The frame of `capture` at which `music` starts, found by matching a short stretch of the
    music half a second in, near where the capture first turns audible."""
    onset = first_sound(capture)
    probe = 2 * (RATE // 2)
    snippet = music[probe:probe + 512]

    def mismatch(start):
        begin = 2 * start + probe
        return sum(abs(a - b) for a, b in zip(capture[begin:begin + 512], snippet))

    guess = onset - first_sound(music)
    return min(range(max(0, guess - search), guess + search), key=mismatch)


class Music(VelmoraTestCase):
    def run_with_music(self, display, data=None, seconds=2.0, **options):
        workdir = make_workdir(self)
        path = workdir / "assets" / "audio" / "test.mp3"
        if data is None:
            path.unlink()
        elif callable(data):
            data(path)
        else:
            path.write_bytes(data)
        run = run_velmora(workdir, display, run_seconds=seconds, **options)
        return run, read_audio(run.audio)

    def test_plays_the_file_from_the_start(self):
        with Display() as display:
            run, capture = self.run_with_music(display, MUSIC.read_bytes(), seconds=3.0)
        self.assertCleanRun(run)
        onset = first_sound(capture)
        self.assertIsNotNone(onset, "the capture is silent")
        self.assertLess(onset, RATE, "silent for the first second")
        music = decode_audio(MUSIC)
        start = aligned(capture, music)
        self.assertLess(abs(start - onset), 2048, "the music does not start where sound starts")
        heard = capture[2 * start:]
        self.assertGreater(len(heard), 2 * 2 * RATE, "less than two seconds captured")
        expected = music[:len(heard)]
        # Loudness per 100 ms within 10 % of the decoded file's, over all the capture...
        for tenth, (got, want) in enumerate(zip(rms_windows(heard, 0.1),
                                                rms_windows(expected, 0.1))):
            self.assertAlmostEqual(got / want, 1.0, delta=0.1, msg=f"at {tenth / 10:.1f} s")
        # ...and the very waveform: what is left after subtracting the file is under 2 % of it.
        residual = rms([a - b for a, b in zip(heard, expected)])
        self.assertLess(residual, 0.02 * rms(expected))

    def test_music_shorter_than_the_run_plays_once(self):
        def one_second_tone(path):
            make_sound(path, "synth", "1", "sine", "440", "vol", "0.5")

        with Display() as display:
            run, capture = self.run_with_music(display, one_second_tone, seconds=3.0)
        self.assertCleanRun(run)
        span, levels, gap = audible_span(capture)
        self.assertLess(first_sound(capture), RATE)
        self.assertAlmostEqual(span, 1.0, delta=0.15)  # MP3 framing adds up to ~50 ms
        self.assertFalse(gap)
        after = levels[int((first_sound(capture) / RATE + 1.2) / WINDOW):]
        self.assertGreater(len(after) * WINDOW, 2.0, "too short a run to see a repeat")
        self.assertLess(max(after), SILENT, "sound after the end of the music")

    def test_closing_the_window_while_the_music_plays(self):
        with Display() as display:
            run, capture = self.run_with_music(display, MUSIC.read_bytes(), seconds=2.0,
                                               stop=None,
                                               before_stop=lambda process: display.request_close())
        self.assertCleanRun(run)
        span, levels, gap = audible_span(capture)
        self.assertFalse(gap)
        # Still playing until shutdown (allowing the last device buffer to be cut short).
        self.assertGreater(min(levels[-4:-1]), AUDIBLE)


if __name__ == "__main__":
    unittest.main()
