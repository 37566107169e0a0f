# ./dev as people use it: an ordinary user on a fresh clone with an empty cache folder, whose
# ./dev run brings only what running needs, and ./dev run on a desktop, where it runs the portable
# build on the machine's own OpenGL driver and falls back to Mesa's software renderer when that
# driver offers no 4.6 core context.
# Both run ./dev on the host itself (scripts/on-host.sh). As root the fresh clone's ./dev runs as
# an ordinary user id; when the suite itself runs as an ordinary user (in ./dev's user namespace,
# which maps that one user), it runs as that user.

import os
import re
import subprocess
import unittest
from pathlib import Path

from velmora_process import ON_HOST, SOURCE, Display, run, workdir

HOST = [str(SOURCE / "scripts/on-host.sh")]
USER = "4242"  # an ordinary user id for root to run as; it needs no account
# Root of the whole machine, not of a user namespace that maps one user.
REAL_ROOT = Path("/proc/self/uid_map").read_text().split() == ["0", "0", "4294967295"]
OVERRIDE = ["MESA_GL_VERSION_OVERRIDE=4.6", "MESA_GLSL_VERSION_OVERRIDE=460"]
FALLBACK = "dev: this machine's OpenGL driver offers no 4.6 core context"
PASSED_ON = ("http_proxy", "https_proxy", "no_proxy", "VELMORA_DEBIAN_MIRROR")


def on_host(*command, **options):
    return subprocess.run([*HOST, *command], check=True, capture_output=True, text=True, **options)


# The command line of ./dev in `folder` on the host, with a clean environment.
def dev(folder, *arguments, home, cache, env=()):
    passed = [f"{name}={os.environ[name]}" for name in PASSED_ON if name in os.environ]
    return [*HOST, "env", "-i", f"HOME={home}", "PATH=/usr/sbin:/usr/bin:/sbin:/bin",
            f"VELMORA_CACHE={cache}", *passed, *env, "sh", "-c", 'cd "$0" && exec ./dev "$@"',
            str(folder), *arguments]


class Dev(unittest.TestCase):
    def test_an_ordinary_user_sets_up_and_runs_headless_from_a_fresh_clone(self):
        base = on_host("mktemp", "-d", "/tmp/velmora-user-XXXXXX").stdout.strip()
        self.addCleanup(on_host, "rm", "-rf", base)
        clone, home, cache = f"{base}/velmora", f"{base}/home", f"{base}/cache"
        # A clone, with this checkout's uncommitted changes on top, and an empty home and cache
        # folder, all owned by the user.
        on_host("sh", "-ec", 'git clone -q "$1" "$2"; mkdir "$3" "$4"; cd "$1"; git ls-files -z '
                '-co --exclude-standard | tar --null -T - -cf - | tar -C "$2" -xf -; chmod 755 "$5"',
                "sh", str(SOURCE), clone, home, cache, base)
        as_user = []
        if REAL_ROOT:
            on_host("chown", "-R", f"{USER}:{USER}", clone, home, cache)
            as_user = ["setpriv", f"--reuid={USER}", f"--regid={USER}", "--clear-groups"]
        command = dev(clone, "run", home=home, cache=cache, env=["VELMORA_SECONDS=3"])
        result = subprocess.run([*command[:len(HOST)], *as_user, *command[len(HOST):]],
                                capture_output=True, text=True, timeout=2400)
        self.assertEqual(result.returncode, 0, result.stderr[-3000:])
        made = on_host("sh", "-c", 'ls "$0"/build/screenshot.png "$0"/build/audio.raw; ls -A "$1"',
                       clone, home).stdout.split()
        self.assertEqual(len(made), 2, "no screenshot or audio, or files in the user's home")
        # Running brings only what running needs: the environment's first stage, not the tests'.
        size = int(on_host("du", "-s", "--block-size=1M", cache).stdout.split()[0])
        self.assertLessEqual(size, 1536, "MiB in the cache folder after ./dev run")

    def test_run_on_a_desktop_uses_the_machines_driver_or_falls_back(self):
        home, cache, versions = os.environ["HOME"], os.environ["VELMORA_CACHE"], set()
        with Display("480x270") as display:
            for name, env, fallback in (("the host's driver", OVERRIDE, False),
                                        ("no OpenGL 4.6 core", [], True)):
                with self.subTest(name):
                    result = run(workdir(self, ON_HOST), display, stop="Escape", command=dev(
                        SOURCE, "run", home=home, cache=cache, env=[
                            f"DISPLAY={display.name}", "SDL_AUDIO_DRIVER=disk",
                            "SDL_AUDIO_DISK_OUTPUT_FILE=/dev/null", *env]))
                    self.assertEqual(result.status, 0, result.stderr)
                    self.assertEqual(any(FALLBACK in line for line in result.stderr), fallback)
                    # The fallback follows the portable build's own report on the host's driver.
                    self.assertEqual(any(re.fullmatch("SDL_GL_CreateContext failed: .+", line)
                                         for line in result.stderr), fallback)
                    versions.add(next(line for line in result.stdout if line.startswith("OpenGL")))
        self.assertEqual(len(versions), 2, f"the same driver on both paths: {versions}")


if __name__ == "__main__":
    unittest.main()
