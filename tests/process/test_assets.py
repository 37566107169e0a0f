"""The height-map picture: missing, broken and unusual files."""

import subprocess
import unittest

from velmora_process import ASSETS, Display, VelmoraTestCase, make_workdir, run_velmora

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

    def test_unusable_pictures_are_reported_and_survived(self):
        real = (ASSETS / "textures" / "text1.jpg").read_bytes()
        cases = {
            "empty file": lambda path: path.write_bytes(b""),
            "text": lambda path: path.write_text("not a picture\n" * 50),
            "JPEG cut off inside its headers": lambda path: path.write_bytes(real[:100]),
            "directory": lambda path: path.mkdir(),
        }
        with Display() as display:
            for name, make in cases.items():
                with self.subTest(name):
                    run, seen = self.run_with_picture(display, make)
                    self.assertCleanRun(run, [TEXTURE_LINE])
                    self.assertGreater(seen["mint"], 0.5, seen)

    def test_pictures_are_recognised_by_content_and_read_by_red(self):
        # A white picture lifts nothing (grey tiles), a black one lifts everything (mint). The
        # pictures are PNGs under the .jpg name; each one's red channel is 255 where the other
        # channels would read as black.
        cases = {
            "black grey": (["xc:black", "-type", "Grayscale"], "PNG:", "mint"),
            "white grey": (["xc:white", "-type", "Grayscale"], "PNG:", "grey"),
            "red with clear alpha": (["xc:rgba(255,0,0,0)"], "PNG32:", "grey"),
            "red, odd row length": (["-size", "333x77", "xc:rgb(255,0,0)"], "PNG24:", "grey"),
        }
        with Display() as display:
            for name, (args, kind, expected) in cases.items():
                with self.subTest(name):
                    def make(path):
                        subprocess.run(["convert", "-size", "64x32", *args, "-depth", "8",
                                        kind + str(path)], check=True, capture_output=True)
                    run, seen = self.run_with_picture(display, make)
                    self.assertCleanRun(run)
                    self.assertGreater(seen[expected], 0.5, seen)
                    other = "grey" if expected == "mint" else "mint"
                    self.assertLess(seen[other], 0.01, seen)


if __name__ == "__main__":
    unittest.main()
