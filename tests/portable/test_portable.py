"""The portable Linux build as a user gets it: the unpacked tarball's launcher, and the program
on the host's own OpenGL driver (this machine's Mesa, outside the build environment) as well as
in the build environment, another userland with another Mesa."""

import os
import re
import shutil
import subprocess
import tarfile
import unittest
from pathlib import Path

from velmora_process import ASSETS, Display, VelmoraTest, run, shown_frame, workdir

SOURCE = ASSETS.parent
TARBALL = SOURCE / "dist/velmora-linux-x86_64.tar.gz"
BINARY = SOURCE / "build/portable/velmora"
# Working folders the host sees too: the checkout has the same path on both sides.
SHARED = SOURCE / "build/tests/portable"
HOST = "/run/host"
OVERRIDE = {"MESA_GL_VERSION_OVERRIDE": "4.6", "MESA_GLSL_VERSION_OVERRIDE": "460"}
LINES = ["Failed to load texture: /textures/text1.jpg", "Failed to load music: ?*",
         "Failed to play music: ?*"]


def on_host(folder, *program):
    """The command line that runs `program` in `folder` on the host, outside the environment."""
    return ["chroot", HOST, "sh", "-c", 'cd "$0" && exec "$@"', str(folder), *program]


class Portable(VelmoraTest):
    @classmethod
    def setUpClass(cls):
        for artifact in (TARBALL, BINARY):
            if not artifact.is_file():
                raise AssertionError(f"{artifact} is missing: ./dev test makes it (./dev dist)")
        cls.display = cls.enterClassContext(Display("480x270"))
        # A window manager makes the window fullscreen at the screen's size, as on a desktop.
        manager = subprocess.Popen(["openbox"], env=dict(os.environ, DISPLAY=cls.display.name),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cls.addClassCleanup(manager.wait)
        cls.addClassCleanup(manager.terminate)

    def test_it_needs_only_the_c_library_of_debian_12(self):
        dynamic = subprocess.run(["readelf", "-d", "-W", BINARY], check=True, capture_output=True,
                                 text=True).stdout
        needed = {line.split("[")[1].rstrip("]") for line in dynamic.splitlines()
                  if "(NEEDED)" in line}
        self.assertEqual(needed, {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"})
        symbols = subprocess.run(["objdump", "-T", BINARY], check=True, capture_output=True,
                                 text=True).stdout
        versions = {tuple(map(int, version.split(".")))
                    for version in re.findall(r"\(GLIBC_([0-9.]+)\)", symbols)}
        self.assertLessEqual(max(versions), (2, 36))

    def test_on_the_hosts_driver_and_in_the_environment(self):
        """Debian 12's Mesa offers OpenGL 4.5 core: the context fails with SDL's reason, which
        shows the host's driver is the one in use; with Mesa's override it runs, as it does on
        the environment's Mesa, and each reports its own Mesa."""
        folder = workdir(self, SHARED)
        failed = run(folder, self.display, command=on_host(folder, BINARY))
        self.assertRun(failed, ["SDL_GL_CreateContext failed: ?*"], status=1)
        versions = []
        for name, command, env in (("host", on_host(folder, BINARY), OVERRIDE),
                                   ("environment", [BINARY], {})):
            with self.subTest(name):
                frames = []
                result = run(folder, self.display, lambda process: frames.append(
                    shown_frame(self.display, process, folder, name)), command=command, env=env,
                    seconds=3)
                self.assertRun(result)
                self.assertLessEqual(frames[0][1], 0.001, f"no frame like it near {frames[0][0]} s")
                versions.append(result.stdout[0])
        self.assertEqual(len(set(versions)), 2, f"the same Mesa on both sides: {versions}")

    def test_the_launcher_runs_from_any_folder_and_without_assets(self):
        unpacked = workdir(self, SHARED)
        with tarfile.open(TARBALL) as tar:
            tar.extractall(unpacked, filter="tar")
        launcher = unpacked / "velmora-linux-x86_64/velmora"
        elsewhere = workdir(self)  # a folder of its own, with no assets of its own
        shutil.rmtree(elsewhere / "assets")
        for name, lines in (("with its assets", []), ("without its assets", LINES)):
            with self.subTest(name):
                if lines:
                    shutil.rmtree(launcher.parent / "assets")
                self.assertRun(run(elsewhere, self.display, command=[launcher], seconds=1), lines)


if __name__ == "__main__":
    unittest.main()
