# Broken and unusual height-map pictures, made at test time, and no assets at all. A picture that
# fails is reported and leaves texture 0, which reads black and lifts every tile: the view is
# mint. Each valid one here has red at full and other channels at zero: it lifts nothing, the
# view is grey; channels or rows out of place show mint.

import random
import shutil
import struct
import unittest
import zlib

from velmora_process import ASSETS, NO_ASSETS, OnDisplay, run, workdir

TEXTURE = "Failed to load texture: /textures/text1.jpg"


# An unfiltered PNG of one colour (`pixel` in the file's sample layout) or of `rows`.
def png(width, height, colour_type, pixel=b"\xff", depth=8, rows=None):
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    pixels = zlib.compress(b"".join(b"\0" + row for row in rows or [pixel * width] * height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels)
            + chunk(b"IEND", b""))


GREY, GREY_ALPHA, RGB = 0, 4, 2
NOISE = png(128, 128, RGB, rows=[random.Random(7).randbytes(384) for _ in range(128)])
# name: (the picture's bytes for a GL maximum texture size, or None for a directory; fails)
PICTURES = {
    "zero bytes": (lambda size: b"", True),
    "directory": (None, True),
    "PNG cut in its pixels": (lambda size: NOISE[:len(NOISE) // 2], True),
    "2^31-1 pixels square": (lambda size: png(2**31 - 1, 2**31 - 1, GREY, rows=[b"\xff"]), True),
    "wider than GL allows": (lambda size: png(size + 1, 1, GREY), True),
    "taller than GL allows": (lambda size: png(1, size + 1, GREY), True),
    "as wide as GL allows": (lambda size: png(size, 1, GREY), False),
    "grey and alpha, odd width": (lambda size: png(61, 17, GREY_ALPHA, b"\xff\x00"), False),
    "RGB, 999-byte rows": (lambda size: png(333, 77, RGB, b"\xff\x00\x00"), False),
    # Kept at 8 bits by the high bytes: red 0xff00 reads full, green and blue 0x00ff zero.
    "RGB, 16 bits": (lambda size: png(40, 20, RGB, b"\xff\x00\x00\xff\x00\xff", 16), False),
}


class Assets(OnDisplay):
    # Runs velmora once `change(path of the picture)` is done; returns the run and the shares of
    # mint and grey on screen.
    def run_with(self, change):
        folder, shares = workdir(self), []
        change(folder / "assets/textures/text1.jpg")
        look = lambda process: shares.extend(self.display.tiles())  # noqa: E731
        return run(folder, self.display, look, stop="Escape"), shares

    def test_pictures(self):
        limits = self.display.tool("glxinfo", "-l").decode()
        max_size = int(limits.split("GL_MAX_TEXTURE_SIZE = ")[1].split()[0])
        for name, (data, fails) in PICTURES.items():
            def change(path):
                path.unlink()
                path.mkdir() if data is None else path.write_bytes(data(max_size))
            with self.subTest(name):
                result, (mint, grey) = self.run_with(change)
                self.assertRun(result, [TEXTURE] if fails else [])
                self.assertGreater(mint if fails else grey, 0.5, f"mint {mint}, grey {grey}")
                self.assertLess(grey if fails else mint, 0.01, f"mint {mint}, grey {grey}")

    def test_without_assets_it_reports_all_three_and_draws_untextured(self):
        result, (mint, grey) = self.run_with(lambda path: shutil.rmtree(path.parents[1]))
        self.assertRun(result, NO_ASSETS)
        self.assertGreater(mint, 0.5)


if __name__ == "__main__":
    unittest.main()
