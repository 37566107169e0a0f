"""Start-up and shutdown of the real program."""

import signal
import time
import unittest

from velmora_process import Display, VelmoraTestCase, make_workdir, run_velmora, tile_colours


class NormalRun(VelmoraTestCase):
    def test_window_close_request_ends_a_normal_run(self):
        with Display() as display:
            run = run_velmora(make_workdir(self), display, stop=signal.SIGTERM)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertNormalStdout(run)
        self.assertEqual(run.stderr_lines(), [])

    def test_sigint_and_escape_end_a_normal_run(self):
        with Display() as display:
            for name, stop, before_stop in (
                    ("SIGINT", signal.SIGINT, None),
                    ("Escape", None, lambda process: display.key("Escape"))):
                with self.subTest(name):
                    run = run_velmora(make_workdir(self), display, stop=stop,
                                      before_stop=before_stop)
                    self.assertCleanRun(run)

    def test_signals_during_start_up_end_the_run_after_its_first_frame(self):
        # The signals arrive right after the renderer line, while the scene is still being built.
        with Display() as display:
            for stop in (signal.SIGTERM, signal.SIGINT):
                with self.subTest(stop.name):
                    self.assertCleanRun(run_velmora(make_workdir(self), display, stop=stop,
                                                    run_seconds=0))

    def test_escape_and_quit_request_in_one_turn_end_it_once(self):
        # A frame takes far longer on the software renderer than both requests take to arrive.
        with Display() as display:
            run = run_velmora(make_workdir(self), display, stop=signal.SIGTERM,
                              before_stop=lambda process: display.key("Escape"))
        self.assertCleanRun(run)

    def test_other_input_and_a_resize_change_nothing(self):
        def other_input(process):
            window = str(display.velmora_window())
            display.key("a", "space", "Return", "q", "F4", "alt+F4", "ctrl+c")
            display.tool("xdotool", "mousemove", "10", "10", "click", "1", "mousemove", "200",
                         "100", "click", "3")
            # Without a window manager the fullscreen window is 1920x1080, centred on the small
            # screen; it can be moved and resized all the same.
            display.tool("xdotool", "windowmove", window, "0", "0", "windowsize", window, "160",
                         "90")
            geometry = display.tool("xdotool", "getwindowgeometry", window).decode()
            self.assertIn("Geometry: 160x90", geometry)
            time.sleep(3)  # several frames at the new size
            self.assertIsNone(process.poll(), "velmora ended on input other than Escape")
            shares = tile_colours(display.screenshot())  # the window covers a quarter of it
            self.assertGreater(shares["mint"] + shares["grey"], 0.15, "no frames after resize")
            display.key("Escape")

        with Display() as display:
            run = run_velmora(make_workdir(self), display, stop=None, before_stop=other_input)
        self.assertCleanRun(run)


class FailedStart(VelmoraTestCase):
    def assertNoAudioOpened(self, run):
        self.assertFalse(run.audio.exists(), "the mixer was opened before the failing step")

    def test_without_a_display_sdl_init_fails(self):
        run = run_velmora(make_workdir(self), display=None)
        self.assertFailedStart(run, "SDL_Init failed: ")
        self.assertNoAudioOpened(run)

    def test_without_opengl_4_6_context_creation_fails(self):
        with Display() as display:
            run = run_velmora(make_workdir(self), display, env={"MESA_GL_VERSION_OVERRIDE": "4.5"})
        self.assertFailedStart(run, "SDL_GL_CreateContext failed: ")
        self.assertNoAudioOpened(run)

    def test_without_an_audio_device_creating_the_mixer_fails(self):
        # The mixer library itself comes up; opening the playback device is what fails.
        with Display() as display:
            run = run_velmora(make_workdir(self), display, env={"SDL_AUDIO_DRIVER": "nonexistent"})
        reason = self.assertFailedStart(run, "Failed to create mixer: ")
        self.assertIn("nonexistent", reason)


if __name__ == "__main__":
    unittest.main()
