# Start-up and shutdown of the real program.

import time
import unittest
from signal import SIGINT, SIGTERM

from velmora_process import Display, OnDisplay, run, workdir

ESCAPE, CLOSE = (lambda display: display.key("Escape")), Display.request_close
# How a run is ended: seconds after the renderer line, what is done to the window, then the
# signal sent. At 0 s the signal arrives while the scene is still being built; a frame on the
# software renderer takes far longer than Escape and SIGTERM take to arrive together.
ENDINGS = {"SIGTERM": (1, None, SIGTERM), "SIGINT": (1, None, SIGINT), "Escape": (1, ESCAPE, None),
           "the window-close request": (1, CLOSE, None), "SIGTERM in start-up": (0, None, SIGTERM),
           "SIGINT in start-up": (0, None, SIGINT), "Escape and SIGTERM": (1, ESCAPE, SIGTERM)}
# With a display or not, the environment, the line on standard error.
FAILURES = ((False, {}, "SDL_Init failed: ?*"),
            (True, {"MESA_GL_VERSION_OVERRIDE": "4.5"}, "SDL_GL_CreateContext failed: ?*"),
            (True, {"SDL_AUDIO_DRIVER": "nonexistent"}, "Failed to create mixer: *nonexistent*"))


class Startup(OnDisplay):
    endings, failures = ENDINGS, FAILURES

    def test_each_ending_gives_the_normal_lines_and_status_0(self):
        for name, (seconds, action, stop) in self.endings.items():
            with self.subTest(name):
                self.assertRun(run(workdir(self), self.display, seconds=seconds, stop=stop,
                                   before_stop=lambda process: action and action(self.display)))

    def test_other_input_and_a_resize_change_nothing(self):
        def other_input(process):
            window, tool = self.display.window(), self.display.tool
            self.display.key("a", "space", "Return", "q", "F4", "alt+F4", "ctrl+c")
            tool("xdotool", "mousemove", "10", "10", "click", "1", "mousemove", "200", "100",
                 "click", "3")
            # Without a window manager the window is 1920x1080, centred on the small screen.
            tool("xdotool", "windowmove", window, "0", "0", "windowsize", window, "160", "90")
            time.sleep(2)  # several frames at the new size
            self.assertIsNone(process.poll(), "velmora ended on input other than Escape")
            self.assertGreater(sum(self.display.tiles(enough=0.15)), 0.15, "no frames")

        self.assertRun(run(workdir(self), self.display, other_input, stop="Escape", seconds=1))

    def test_failed_starts_report_sdl_s_reason_and_status_1(self):
        for shown, env, line in self.failures:
            with self.subTest(line):
                result = run(workdir(self), self.display if shown else None, env=env)
                self.assertRun(result, [line], status=1)
                if "mixer" not in line:
                    self.assertFalse((result.folder / "audio.raw").exists(), "audio was opened")


if __name__ == "__main__":
    unittest.main()
