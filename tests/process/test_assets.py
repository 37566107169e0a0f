"""The height-map picture: no assets at all, and a black picture. Broken and unusual pictures
are in test_bad_assets.py."""

import subprocess
import unittest

from velmora_process import Display, VelmoraTestCase, make_workdir, run_velmora

TEXTURE_LINE = "Failed to load texture: /textures/text1.jpg"


class HeightMap(VelmoraTestCase):
    def run_with_picture(self, display, make):
        """Runs velmora with assets/textures/text1.jpg made by `make(path)`; returns the run
        and the tile colours seen on screen."""
        workdir = make_workdir(self)
        picture = workdir / "assets" / "textures" / "text1.jpg"
        picture.unlink()
        make(picture)
        seen = {}
        run = run_velmora(workdir, display, run_seconds=0,
                          before_stop=lambda process: seen.update(display.tile_colours()))
        return run, seen

    def test_without_assets_it_reports_both_and_draws_untextured(self):
        seen = {}
        with Display() as display:
            run = run_velmora(make_workdir(self, with_assets=False), display, run_seconds=0,
                              before_stop=lambda process: seen.update(display.tile_colours()))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertNormalStdout(run)
        lines = run.stderr_lines()
        self.assertEqual(len(lines), 3, run.stderr)
        self.assertEqual(lines[0], TEXTURE_LINE)
        for line, prefix in zip(lines[1:], ("Failed to load music: ", "Failed to play music: ")):
            self.assertTrue(line.startswith(prefix) and line[len(prefix):].strip(), lines)
        # Texture 0 samples black, and black lifts every tile of the band: the view is mint.
        self.assertGreater(seen["mint"], 0.5, seen)

    def test_a_black_picture_lifts_every_tile(self):
        # The counterpart of the white pictures of test_bad_assets.py, which lift nothing: a
        # valid picture recognised by content (a PNG under the .jpg name) whose red is zero.
        def make(path):
            subprocess.run(["convert", "-size", "64x32", "xc:black", "-type", "Grayscale",
                            "-depth", "8", "PNG:" + str(path)], check=True, capture_output=True)
        with Display() as display:
            run, seen = self.run_with_picture(display, make)
        self.assertCleanRun(run)
        self.assertGreater(seen["mint"], 0.5, seen)
        self.assertLess(seen["grey"], 0.01, seen)


if __name__ == "__main__":
    unittest.main()
