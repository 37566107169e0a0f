"""Start-up and shutdown of the real program."""

import time
import unittest
from signal import SIGINT, SIGTERM

from velmora_process import Display, VelmoraTest, run, workdir

# How a run is ended: seconds after the renderer line, keys typed, then the signal sent. At 0 s
# the signal arrives while the scene is still being built; a frame on the software renderer
# takes far longer than Escape and SIGTERM take to arrive together.
ENDINGS = {"SIGTERM": (1, (), SIGTERM), "SIGINT": (1, (), SIGINT), "Escape": (1, ["Escape"], None),
           "SIGTERM during start-up": (0, (), SIGTERM), "SIGINT during start-up": (0, (), SIGINT),
           "Escape and SIGTERM in one turn": (1, ["Escape"], SIGTERM)}


class Startup(VelmoraTest):
    @classmethod
    def setUpClass(cls):
        cls.display = cls.enterClassContext(Display())

    def test_each_ending_gives_the_normal_lines_and_status_0(self):
        for name, (seconds, keys, stop) in ENDINGS.items():
            with self.subTest(name):
                self.assertRun(run(workdir(self), self.display, seconds=seconds, stop=stop,
                                   before_stop=lambda process: keys and self.display.key(*keys)))

    def test_other_input_and_a_resize_change_nothing(self):
        def other_input(process):
            window, tool = self.display.window(), self.display.tool
            self.display.key("a", "space", "Return", "q", "F4", "alt+F4", "ctrl+c")
            tool("xdotool", "mousemove", "10", "10", "click", "1", "mousemove", "200", "100",
                 "click", "3")
            # Without a window manager the window is 1920x1080, centred on the small screen.
            geometry = tool("xdotool", "windowmove", window, "0", "0", "windowsize", window,
                            "160", "90", "getwindowgeometry", window)
            self.assertIn(b"Geometry: 160x90", geometry)
            time.sleep(2)  # several frames at the new size
            self.assertIsNone(process.poll(), "velmora ended on input other than Escape")
            mint, grey = self.display.tiles(enough=0.15)  # the window covers a quarter
            self.assertGreater(mint + grey, 0.15, "no frames after the resize")
            self.display.key("Escape")

        self.assertRun(run(workdir(self), self.display, other_input, stop=None, seconds=1))

    def test_failed_starts_report_sdl_s_reason_and_status_1(self):
        for display, env, line in (
                (None, {}, "SDL_Init failed: ?*"),
                (self.display, {"MESA_GL_VERSION_OVERRIDE": "4.5"},
                 "SDL_GL_CreateContext failed: ?*"),
                (self.display, {"SDL_AUDIO_DRIVER": "nonexistent"},
                 "Failed to create mixer: *nonexistent*")):  # opening the device fails
            with self.subTest(line):
                result = run(workdir(self), display, env=env)
                self.assertRun(result, [line], status=1)
                if "mixer" not in line:
                    self.assertFalse((result.folder / "audio.raw").exists(), "audio was opened")


if __name__ == "__main__":
    unittest.main()
