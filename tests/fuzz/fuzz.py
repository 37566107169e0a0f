#!/usr/bin/env python3
# Runs one of the loaders' fuzz targets for a number of seconds on a fresh corpus seeded from the
# real assets, the damaged files the process tests make and the kept regression inputs, then
# prints its figures (executions, executions a second, coverage, findings). Its status is the
# fuzzer's: non-zero when it found a crash, a leak, a timeout or a sanitizer report.
#
#   fuzz.py texture|music EXECUTABLE WORKDIR SECONDS [LIBFUZZER FLAGS...]
#
# The texture target needs an X display (scripts/with-xvfb.sh). WORKDIR is emptied first; it
# then holds seeds/, corpus/ (what the run kept), findings/ (crashing inputs) and fuzz.log.

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCE = HERE.parents[1]
sys.path.insert(0, str(SOURCE / "tests/process"))
MUSIC_SEED_BYTES = 6000  # the start of the real music: a few frames past its tag
MAX_LENGTH = {"texture": 8192, "music": MUSIC_SEED_BYTES}  # of a mutated input, in bytes


def texture_seeds(seeds):
    from test_assets import PICTURES
    picture = SOURCE / "assets/textures/text1.jpg"
    (seeds / "text1.jpg").write_bytes(picture.read_bytes())
    # Small copies, which mutate and decode many times faster than the full picture.
    for name in "text1-small.jpg", "text1-small.png", "text1-small-grey.png":
        options = ["-colorspace", "Gray"] if "grey" in name else []
        subprocess.run(["convert", picture, "-resize", "96x24!", *options, seeds / name],
                       check=True)
    for index, (name, (data, _)) in enumerate(PICTURES.items()):
        if data:  # a GL maximum texture size of 16384, llvmpipe's
            (seeds / f"damaged-{index}").write_bytes(data(16384))


def music_seeds(seeds):
    from test_music import CASES
    music = (SOURCE / "assets/audio/test.mp3").read_bytes()
    (seeds / "test.mp3").write_bytes(music[:MUSIC_SEED_BYTES])
    for index, (name, (write, _)) in enumerate(CASES.items()):
        path = seeds / f"damaged-{index}"
        if name != "missing":
            write(path)
        if path.exists() and path.stat().st_size > MUSIC_SEED_BYTES:
            path.write_bytes(path.read_bytes()[:MUSIC_SEED_BYTES])


def main():
    target, executable, workdir, seconds, *flags = sys.argv[1:]
    workdir = Path(workdir).resolve()
    shutil.rmtree(workdir, ignore_errors=True)
    seeds, corpus, findings = workdir / "seeds", workdir / "corpus", workdir / "findings"
    for folder in seeds, corpus, findings:
        folder.mkdir(parents=True)
    {"texture": texture_seeds, "music": music_seeds}[target](seeds)
    for regression in sorted((SOURCE / "tests/process/regressions").glob(f"{target}-*")):
        shutil.copy(regression, seeds / regression.name)

    command = [executable, f"-max_total_time={seconds}", f"-dict={HERE / target}.dict",
               f"-artifact_prefix={findings}/", "-close_fd_mask=3", "-print_final_stats=1",
               "-timeout=30", "-rss_limit_mb=4096", f"-max_len={MAX_LENGTH[target]}", *flags, str(corpus), str(seeds)]
    environment = dict(os.environ, LSAN_OPTIONS=f"suppressions={SOURCE}/tests/lsan.supp:"
                       "print_suppressions=0")
    with open(workdir / "fuzz.log", "wb") as log:
        status = subprocess.run(command, stdout=log, stderr=subprocess.STDOUT,
                                env=environment).returncode
    text = (workdir / "fuzz.log").read_text(errors="replace")

    # The last progress line: "#N DONE cov: C ft: F ...", or in fork mode (-fork=1, which goes on
    # past a finding) "#N: cov: C ft: F corp: K exec/s: E oom/timeout/crash: ...". Executions a
    # second are the whole run's: N over the time it took.
    progress = re.findall(r"^#(\d+):?\s+(?:\w+\s+)?cov: (\d+) ft: (\d+)", text, re.M)
    executions, cov, ft = progress[-1] if progress else ("0", "?", "?")
    took = re.findall(r"^(?:INFO: exiting: \d+ time: (\d+)s|Done \d+ runs in (\d+) second)", text,
                      re.M)
    took = [int(a or b) for a, b in took] or [int(seconds)]
    rate = int(executions) / max(1, int(took[-1]))
    found = sorted(path.name for path in findings.iterdir())
    print(f"fuzz {target}: {executions} executions in {took[-1]} s, {rate:.1f} a second, cov {cov} "
          f"ft {ft}, corpus {len(list(corpus.iterdir()))} new inputs, findings {len(found)} {found}")
    if status:
        print(text[-6000:])
    return status


if __name__ == "__main__":
    sys.exit(main())
