"""The Windows program (velmora.exe, cross-compiled) under Wine on a virtual X display, where
Wine's OpenGL reaches the build environment's Mesa (llvmpipe): the two lines and the endings, the
frame it draws against velmora-capture's, the music as the Linux test checks it, and the
failures; and that it needs no DLL that Windows lacks. Run under ctest, one class at a time (they
share one Wine prefix)."""

import os
import shutil
import subprocess
import time
import unittest
from pathlib import Path

import test_music
import velmora_process
from velmora_process import TIMEOUT, Display, VelmoraTest, run, workdir

CAPTURE = Path(os.environ.get("VELMORA_CAPTURE", "build/release/tools/velmora-capture"))
PREFIX = os.environ.get("VELMORA_WINEPREFIX", "")
# Wine's server, which Debian keeps off PATH; WINESERVER is Wine's own variable for it.
WINESERVER = os.environ.get("WINESERVER", "/usr/lib/x86_64-linux-gnu/wine/wineserver")
# Standard error is the program's alone: WINEDEBUG=-all silences Wine's debug channels (by
# default it reports there that the host name does not resolve and that the Bluetooth driver
# cannot be loaded), and Wine wrote nothing else in these runs.
SIZE = "320x180"
FRAME_TOLERANCE = 0.001  # the capture test's: at most 0.1 % of pixels with a channel 2 off
NO_ASSETS = ["Failed to load texture: /textures/text1.jpg", "Failed to load music: ?*",
             "Failed to play music: ?*"]
# The DLLs it may import: Windows' own (OpenGL's is loaded at run time).
WINDOWS_DLLS = {"advapi32", "gdi32", "imm32", "kernel32", "msvcrt", "ole32", "oleaut32",
                "setupapi", "shell32", "user32", "version", "winmm"}
ENDINGS = {"window-close request": Display.request_close, "Escape": lambda d: d.key("Escape")}


def setUpModule():
    missing = [f"{path} (made by {command})" for path, command in (
        (velmora_process.VELMORA, "./dev build windows"), (CAPTURE, "./dev build release"))
        if not path.is_file()]
    if missing or not PREFIX:
        raise RuntimeError("The Wine tests need " + ", ".join(
            missing + ([] if PREFIX else ["VELMORA_WINEPREFIX, the Wine prefix ./dev test makes"])))
    # No desktop menu entries, which Wine would otherwise make in the home folder.
    os.environ.update(WINEPREFIX=PREFIX, WINEDEBUG="-all",
                      WINEDLLOVERRIDES="winemenubuilder.exe=d")


def on_wine_display(cls):
    """A display for the class, and no Wine process left on it when it goes."""
    cls.display = cls.enterClassContext(Display(SIZE))
    cls.addClassCleanup(subprocess.run, [WINESERVER, "-k"], stderr=subprocess.DEVNULL)


class Imports(unittest.TestCase):
    def test_it_imports_only_dlls_that_windows_ships(self):
        table = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", velmora_process.VELMORA],
                               check=True, capture_output=True, text=True).stdout
        dlls = {line.split(":")[1].strip().lower().removesuffix(".dll")
                for line in table.splitlines() if "DLL Name:" in line}
        self.assertIn("kernel32", dlls)
        self.assertLessEqual(dlls, WINDOWS_DLLS)


class Startup(VelmoraTest):
    @classmethod
    def setUpClass(cls):
        on_wine_display(cls)

    def test_each_ending_gives_the_two_lines_and_status_0(self):
        for name, end in ENDINGS.items():
            with self.subTest(name):
                self.assertRun(run(workdir(self), self.display, lambda process: end(self.display),
                                   stop=None, seconds=1))

    def test_without_assets_it_reports_all_three_and_draws_on(self):
        folder, shares = workdir(self), []
        shutil.rmtree(folder / "assets")

        def draws_on(process):
            shares.extend(self.display.tiles())
            self.display.key("Escape")
        self.assertRun(run(folder, self.display, draws_on, stop=None), NO_ASSETS)
        self.assertGreater(shares[0], 0.5, "no untextured (mint) frames")

    def test_without_opengl_4_6_the_context_fails_with_status_1(self):
        result = run(workdir(self), self.display, env={"MESA_GL_VERSION_OVERRIDE": "4.5"})
        self.assertRun(result, ["SDL_GL_CreateContext failed: ?*"], status=1)


class Frame(VelmoraTest):
    @classmethod
    def setUpClass(cls):
        on_wine_display(cls)

    def test_the_frame_on_screen_is_velmora_capture_s_frame_at_its_millisecond(self):
        # The frame time is SDL_GetTicks() ms / 1000, counted from SDL_Init, which comes after
        # the launch: the frame on screen is from between 0 and the time since the launch.
        folder, since_launch = workdir(self), []
        shot = folder / "screen.png"

        def screenshot(process):
            self.display.tiles()  # until frames show
            self.display.tool("import", "-window", "root", str(shot))
            since_launch.append(time.monotonic() - launched)
            self.display.key("Escape")
        launched = time.monotonic()
        self.assertRun(run(folder, self.display, screenshot, stop=None, seconds=1))
        found = subprocess.run(
            [CAPTURE.resolve(), "--size", SIZE, "--match", shot, "0", f"{since_launch[0]:.3f}"],
            cwd=folder, env=dict(os.environ, DISPLAY=self.display.name), check=True,
            capture_output=True, text=True, timeout=10 * TIMEOUT).stdout.split()
        seconds, share = float(found[0]), float(found[1])
        self.assertLessEqual(share, FRAME_TOLERANCE, f"closest frame at {seconds} s, searched "
                             f"0 to {since_launch[0]:.3f} s")


class Music(test_music.Music):
    """The Linux test of the music against the decoded file, on the Windows build."""
    test_broken_and_unusual_files = None  # left to the Linux build: seven more runs under Wine

    @classmethod
    def setUpClass(cls):
        on_wine_display(cls)


if __name__ == "__main__":
    unittest.main()
