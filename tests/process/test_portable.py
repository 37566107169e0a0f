# The portable Linux build as a user gets it: the unpacked tarball's launcher, and the program on
# the host's own OpenGL driver (this machine's Mesa, outside the build environment) and in the
# build environment, another userland with another Mesa.

import os
import re
import shutil
import subprocess
import tarfile
import unittest
from pathlib import Path

from velmora_process import NO_ASSETS, ON_HOST, Display, VelmoraTest, run, screenshot, workdir

# Where the portable preset builds and packages (the test's environment names both).
TARBALL = Path(os.environ.get("VELMORA_LINUX_PACKAGE", "dist/velmora-linux-x86_64.tar.gz"))
BINARY = Path(os.environ.get("VELMORA_PORTABLE", "build/portable/velmora")).resolve()
OVERRIDE = {"MESA_GL_VERSION_OVERRIDE": "4.6", "MESA_GLSL_VERSION_OVERRIDE": "460"}


# The command line that runs the program in `folder` on the host, outside the environment.
def on_host(folder):
    return ["chroot", "/run/host", "sh", "-c", 'cd "$0" && exec "$@"', str(folder), str(BINARY)]


class Portable(VelmoraTest):
    @classmethod
    def setUpClass(cls):
        if not (TARBALL.is_file() and BINARY.is_file()):
            raise AssertionError(f"{TARBALL} or {BINARY} is missing: ./dev test makes both")
        cls.display = cls.enterClassContext(Display("480x270", manager=True))

    def test_it_needs_only_the_c_library_of_debian_12(self):
        def read(*command):
            return subprocess.run([*command, BINARY], check=True, capture_output=True,
                                  text=True).stdout
        needed = set(re.findall(r"\(NEEDED\).*\[(.*)\]", read("readelf", "-d", "-W")))
        self.assertEqual(needed, {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"})
        versions = re.findall(r"\(GLIBC_([0-9.]+)\)", read("objdump", "-T"))
        self.assertLessEqual(max(tuple(map(int, v.split("."))) for v in versions), (2, 36))

    def test_on_the_hosts_driver_and_in_the_environment(self):
        # Debian 12's Mesa offers OpenGL 4.5 core; with Mesa's override it draws the frames
        # velmora-capture draws, as the environment's Mesa does, and names another version.
        folder, versions = workdir(self, ON_HOST), set()
        # Mesa keeps its shader cache below the account's home, which is not the user's own
        # outside the environment when the suite runs as an ordinary user: the folder instead.
        for name, command, env in (("host", on_host(folder),
                                    dict(OVERRIDE, XDG_CACHE_HOME=str(folder))),
                                   ("environment", [BINARY], {})):
            with self.subTest(name):
                shots = []
                def look(process):  # two seconds in, once frames show, however loaded the machine
                    self.display.tiles()
                    shots.append(screenshot(self.display, process, folder))
                result = run(folder, self.display, look, command=command, env=env, seconds=2)
                self.assertRun(result)
                versions.add(result.stdout[0])
                self.assertFrameShown(*shots[0], self.display.size)
        self.assertEqual(len(versions), 2, f"the same Mesa on both sides: {versions}")

    def test_the_launcher_runs_from_any_folder_and_without_assets(self):
        unpacked, elsewhere = workdir(self, ON_HOST), workdir(self)
        with tarfile.open(TARBALL) as tar:
            tar.extractall(unpacked, filter="tar")
        launcher = unpacked / "velmora-linux-x86_64/velmora"
        shutil.rmtree(elsewhere / "assets")  # found in the launcher's folder, not here
        # Closed once frames show, as the window manager destroys the frame it made: the
        # status is 0 only if SDL's X11 code takes that without a fatal BadWindow.
        def shown(process):
            self.display.tiles()
        self.assertRun(run(elsewhere, self.display, shown, command=[launcher], seconds=1))
        shutil.rmtree(launcher.parent / "assets")
        self.assertRun(run(elsewhere, self.display, shown, command=[launcher], seconds=1),
                       NO_ASSETS)


if __name__ == "__main__":
    unittest.main()
