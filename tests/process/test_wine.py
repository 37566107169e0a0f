# The Windows program (velmora.exe, cross-compiled) under Wine on a virtual X display, where Wine's
# OpenGL reaches the build environment's Mesa: the Linux tests of the endings, the failures, the
# missing assets and the music, run on it; the frame it draws against velmora-capture's; and that
# it needs no DLL that Windows lacks. The classes share one Wine prefix: one at a time.

import fcntl
import hashlib
import os
import shutil
import subprocess
import unittest
from pathlib import Path

import test_assets
import test_music
import test_startup
import velmora_process
from velmora_process import Display, VelmoraTest, run, screenshot, workdir

# Wine's server, which Debian keeps off PATH; WINESERVER is Wine's own variable for it.
WINESERVER = os.environ.get("WINESERVER", "/usr/lib/x86_64-linux-gnu/wine/wineserver")
# The DLLs it may import: Windows' own (OpenGL's is loaded at run time).
WINDOWS_DLLS = {"advapi32", "gdi32", "imm32", "kernel32", "msvcrt", "ole32", "oleaut32",
                "setupapi", "shell32", "user32", "version", "winmm"}


# A Wine prefix of the Wine at hand, made once per Wine version in the cache folder (where ./dev
# keeps its environments) and shared by every run: no Mono or Gecko (nothing here needs .NET or
# HTML, and their installers would ask), no desktop menu entries.
def wine_prefix():
    version = subprocess.run(["wine", "--version"], check=True, capture_output=True).stdout
    cache = Path(os.environ.get("VELMORA_CACHE", Path.home() / ".cache/velmora"))
    prefix = cache / f"wine-{hashlib.sha256(version).hexdigest()[:16]}"
    cache.mkdir(parents=True, exist_ok=True)
    with open(cache / ".lock-wine", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (prefix / ".complete").exists():
            shutil.rmtree(prefix, ignore_errors=True)
            subprocess.run(["sh", "-c", 'wineboot --init && "$0" --wait', WINESERVER], check=True,
                           capture_output=True, env=dict(
                               os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all",
                               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"))
            (prefix / ".complete").touch()
    return prefix


def setUpModule():
    global display
    if not velmora_process.VELMORA.is_file():
        raise RuntimeError(f"{velmora_process.VELMORA} is missing: ./dev test makes it")
    prefix = os.environ.get("VELMORA_WINEPREFIX") or str(wine_prefix())
    # Standard error is the program's alone: WINEDEBUG=-all silences Wine's debug channels (by
    # default it reports there that the host name does not resolve and that the Bluetooth driver
    # cannot be loaded). No desktop menu entries, which Wine would make in the home folder.
    os.environ.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="winemenubuilder.exe=d")
    # One display and one Wine server for every class: a server started anew for each was seen
    # to end the first program of a class now and then.
    display = Display().__enter__()
    unittest.addModuleCleanup(display.__exit__, None, None, None)
    unittest.addModuleCleanup(subprocess.run, [WINESERVER, "-k"], stderr=subprocess.DEVNULL)


# Runs a test class under Wine, on the module's display.
class OnWine:
    @classmethod
    def setUpClass(cls):
        cls.display = display


class Imports(unittest.TestCase):
    def test_it_imports_only_dlls_that_windows_ships(self):
        table = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", velmora_process.VELMORA],
                               check=True, capture_output=True, text=True).stdout
        dlls = {line.split(":")[1].strip().lower().removesuffix(".dll")
                for line in table.splitlines() if "DLL Name:" in line}
        self.assertIn("kernel32", dlls)
        self.assertLessEqual(dlls, WINDOWS_DLLS)


class Startup(OnWine, test_startup.Startup):
    # Signals reach Wine, not the program.
    endings = {name: test_startup.ENDINGS[name] for name in ("Escape", "the window-close request")}
    failures = test_startup.FAILURES[1:2]
    test_other_input_and_a_resize_change_nothing = None


class Assets(OnWine, test_assets.Assets):
    test_pictures = None  # the decoder is the same code: left to the Linux build


class Music(OnWine, test_music.Music):
    test_broken_and_unusual_files = None  # six more runs under Wine: left to the Linux build


class Frame(OnWine, VelmoraTest):
    def test_the_frame_on_screen_is_velmora_capture_s_frame_at_its_millisecond(self):
        folder, shots = workdir(self), []

        def look(process):
            self.display.tiles()  # until frames show
            shots.append(screenshot(self.display, process, folder))
        self.assertRun(run(folder, self.display, look, stop="Escape", seconds=1))
        self.assertFrameShown(*shots[0], self.display.size)


if __name__ == "__main__":
    unittest.main()
