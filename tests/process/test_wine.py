# The Windows program (velmora.exe, cross-compiled) under Wine on a virtual X display, where Wine's
# OpenGL reaches the build environment's Mesa: the Linux tests of the endings, a failure, the
# missing assets and the music, run on it; the frame it draws against velmora-capture's; and that
# it needs no DLL that Windows lacks. The classes share one Wine environment.

import subprocess
import unittest

import harness
import test_program
from harness import Environment, run, workdir
from test_program import ESCAPE

# The DLLs it may import: Windows' own (OpenGL's is loaded at run time).
WINDOWS_DLLS = {"advapi32", "gdi32", "imm32", "kernel32", "msvcrt", "ole32", "oleaut32",
                "setupapi", "shell32", "user32", "version", "winmm"}


# One display and one Wine server for every class: a server started anew for each was seen to end
# the first program of a class now and then.
def setUpModule():
    global display
    display = Environment("wine").__enter__()
    unittest.addModuleCleanup(display.__exit__, None, None, None)


class Imports(unittest.TestCase):
    def test_it_imports_only_dlls_that_windows_ships(self):
        table = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", harness.VELMORA],
                               check=True, capture_output=True, text=True).stdout
        dlls = {line.split(":")[1].strip().lower().removesuffix(".dll")
                for line in table.splitlines() if "DLL Name:" in line}
        self.assertIn("kernel32", dlls)
        self.assertLessEqual(dlls, WINDOWS_DLLS)


# The Linux runs that a Windows build may fail differently (signals reach Wine, not the program;
# the pictures and the broken music files go through the same decoders), and the frame on screen
# against velmora-capture's frame at its millisecond.
class Program(test_program.Program):
    runs = ("Escape", "the window-close request", "no OpenGL 4.6", "no assets",
            "music: the file itself")
    test_pictures = None

    @classmethod
    def setUpClass(cls):
        cls.display, cls.max_size = display, None

    def test_the_frame(self):
        shots = []

        def look(process):
            self.display.tiles()  # until frames show
            shots.append(self.display.screenshot(process))
        self.assertRun(run(workdir(self), self.display, look, stop=ESCAPE, seconds=1))
        self.assertFrameShown(*shots[0], self.display.size)


if __name__ == "__main__":
    unittest.main()
