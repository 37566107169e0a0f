"""A corpus of broken and unusual asset files, made at test time.

Each case stands in for one asset: the height-map picture (assets/textures/text1.jpg) or the
music (assets/audio/test.mp3). It is written by Python's standard library (PNGs by hand), by
cutting or patching the real assets, or by sox (sound files); nothing of it is stored.

Outcomes:
  FAILS  the program reports the asset and runs on without it (a picture: one line and texture 0,
         which lifts every tile of the band; music: a loading and a playing line, and silence);
  LOADS  a picture that decodes: no line; its red channel decides what the band shows (`scene`);
  PLAYS  music that decodes: no line, and the decoded sound is what the device receives.

Run as a script to look at the corpus: python3 bad_assets.py FOLDER [--max-texture-size N]
writes every case into FOLDER under its name.
"""

import argparse
import random
import struct
import subprocess
import zlib
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Optional

from velmora_process import ASSETS, RATE

PICTURE, MUSIC = "picture", "music"
FAILS, LOADS, PLAYS = "fails", "loads", "plays"
TARGETS = {PICTURE: Path("textures/text1.jpg"), MUSIC: Path("audio/test.mp3")}

REAL_PICTURE = ASSETS / "textures" / "text1.jpg"
REAL_MUSIC = ASSETS / "audio" / "test.mp3"


@dataclass(frozen=True)
class Limits:
    """What the GL driver the program will run on can hold."""
    max_texture_size: int = 16384


@dataclass(frozen=True)
class Case:
    name: str  # also the file name when the corpus is written out
    kind: str  # PICTURE or MUSIC
    make: Callable[[Path, Limits], None]  # writes the stand-in at the path (which is absent)
    outcome: str  # FAILS, LOADS or PLAYS
    # LOADS: what the band shows, "grey" (red at full everywhere: nothing lifted) or "mixed"
    # (the real text picture, or part of it).
    scene: Optional[str] = None
    note: str = field(default="", compare=False)

    def write(self, path, limits=Limits()):
        self.make(Path(path), limits)


# --- pictures -----------------------------------------------------------------------------

def png(width, height, colour_type, rows, depth=8):
    """A PNG of `rows` (bytes, one per row, already in the file's sample layout), unfiltered."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data)))
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    pixels = zlib.compress(b"".join(b"\0" + row for row in rows), 9)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels)
            + chunk(b"IEND", b""))


GREY, GREY_ALPHA, RGB, RGBA = 0, 4, 2, 6


def uniform_png(width, height, colour_type, pixel, depth=8):
    """A PNG of one colour: `pixel` is the bytes of one pixel in the file's layout."""
    row = pixel * width
    return png(width, height, colour_type, [row] * height, depth)


def write(data):
    return lambda path, limits: path.write_bytes(data)


def write_png(*args, **kwargs):
    return lambda path, limits: path.write_bytes(uniform_png(*args, **kwargs))


def text(path, limits):
    path.write_text("This is not a picture.\n" * 40)


def directory(path, limits):
    path.mkdir()


def absent(path, limits):
    pass


def cut_picture(length):
    return lambda path, limits: path.write_bytes(REAL_PICTURE.read_bytes()[:length])


def noise_png():
    """An RGB picture of noise, so that its pixel data is large and incompressible."""
    generator = random.Random(7)
    rows = [bytes(generator.getrandbits(8) for _ in range(3 * 128)) for _ in range(128)]
    return png(128, 128, RGB, rows)


def cut_png(path, limits):
    data = noise_png()
    path.write_bytes(data[:len(data) // 2])


def damaged_png_signature(path, limits):
    data = bytearray(uniform_png(8, 8, GREY, b"\xff"))
    data[1] = ord("Q")  # "\x89PNG" becomes "\x89QNG"
    path.write_bytes(bytes(data))


def patched_frame_header(width, height):
    """The real JPEG with the width and height of its frame header (SOF0/1/2) replaced."""
    def make(path, limits):
        data = bytearray(REAL_PICTURE.read_bytes())
        position = 2
        while data[position] == 0xFF and data[position + 1] not in (0xC0, 0xC1, 0xC2):
            position += 2 + struct.unpack(">H", data[position + 2:position + 4])[0]
        if data[position] != 0xFF:
            raise ValueError("no frame header in the real picture")
        # marker (2), length (2), precision (1), height (2), width (2)
        data[position + 5:position + 9] = struct.pack(">HH", height, width)
        path.write_bytes(bytes(data))
    return make


def enormous_png(path, limits):
    """A PNG header declaring 2^31 - 1 pixels square, the most a PNG can, over one pixel."""
    path.write_bytes(png(2**31 - 1, 2**31 - 1, GREY, [b"\xff"]))


def wide_png(extra):
    """A one-row grey picture `extra` texels wider than the GL maximum texture size."""
    return lambda path, limits: path.write_bytes(
        uniform_png(limits.max_texture_size + extra, 1, GREY, b"\xff"))


def tall_png(extra):
    """A one-column grey picture `extra` texels taller than the GL maximum texture size."""
    return lambda path, limits: path.write_bytes(
        uniform_png(1, limits.max_texture_size + extra, GREY, b"\xff"))


# Every valid picture below has red (or grey) at full and every other channel at zero: read by
# red it lifts nothing, so the band shows flat grey tiles; a picture that failed (texture 0 reads
# black) or one uploaded with its channels or rows out of place shows mint.
PICTURES = [
    Case("picture-missing", PICTURE, absent, FAILS),
    Case("picture-zero-bytes", PICTURE, write(b""), FAILS),
    Case("picture-text", PICTURE, text, FAILS),
    Case("picture-directory", PICTURE, directory, FAILS),
    Case("jpeg-cut-in-headers", PICTURE, cut_picture(100), FAILS),
    Case("jpeg-cut-in-scan", PICTURE, cut_picture(20000), LOADS, scene="mixed",
         note="the decoder fills what is missing"),
    Case("png-cut-in-pixels", PICTURE, cut_png, FAILS),
    Case("png-damaged-signature", PICTURE, damaged_png_signature, FAILS),
    Case("jpeg-zero-width", PICTURE, patched_frame_header(0, 366), FAILS),
    Case("png-enormous-header", PICTURE, enormous_png, FAILS),
    Case("jpeg-enormous-header", PICTURE, patched_frame_header(65535, 65535), FAILS),
    Case("wider-than-gl-maximum", PICTURE, wide_png(1), FAILS),
    Case("taller-than-gl-maximum", PICTURE, tall_png(1), FAILS),
    Case("as-wide-as-gl-maximum", PICTURE, wide_png(0), LOADS, scene="grey"),
    Case("one-pixel", PICTURE, write_png(1, 1, GREY, b"\xff"), LOADS, scene="grey"),
    Case("grey-odd-width", PICTURE, write_png(61, 17, GREY, b"\xff"), LOADS, scene="grey"),
    Case("grey-alpha-odd-width", PICTURE, write_png(61, 17, GREY_ALPHA, b"\xff\x00"), LOADS,
         scene="grey", note="red must carry the grey, not the alpha"),
    Case("rgb-odd-width", PICTURE, write_png(333, 77, RGB, b"\xff\x00\x00"), LOADS,
         scene="grey", note="999-byte rows"),
    Case("rgba", PICTURE, write_png(64, 32, RGBA, b"\xff\x00\x00\x00"), LOADS, scene="grey"),
    # 16 bits a sample, kept at 8 by their high bytes: red 0xff00 reads full, green and blue
    # 0x00ff read zero.
    Case("rgb-16-bit", PICTURE, write_png(40, 20, RGB, b"\xff\x00\x00\xff\x00\xff", depth=16),
         LOADS, scene="grey"),
]


# --- music --------------------------------------------------------------------------------

def sound(kind, rate, channels, seconds, frequency, *options):
    """A sine tone at half scale made by sox, written as `kind` (wav, vorbis, mp3, with further
    format `options`) under the music's name."""
    def make(path, limits):
        subprocess.run(["sox", "-n", "-t", kind, "-r", str(rate), "-c", str(channels), *options,
                        str(path), "synth", str(seconds), "sine", str(frequency), "vol", "0.5"],
                       check=True, capture_output=True)
    return make


def cut_music(length):
    return lambda path, limits: path.write_bytes(REAL_MUSIC.read_bytes()[:length])


def garbage(path, limits):
    generator = random.Random(11)
    path.write_bytes(bytes(generator.getrandbits(8) for _ in range(10000)))


MUSIC_CASES = [
    Case("music-missing", MUSIC, absent, FAILS),
    Case("music-zero-bytes", MUSIC, write(b""), FAILS),
    Case("music-garbage", MUSIC, garbage, FAILS),
    Case("mp3-cut-short", MUSIC, cut_music(20000), PLAYS,
         note="the frames before the cut play"),
    Case("wav-as-mp3", MUSIC, sound("wav", 22050, 2, 1.0, 440, "-b", "16"), PLAYS,
         note="16-bit stereo at 22050 Hz"),
    Case("ogg-as-mp3", MUSIC, sound("vorbis", 48000, 2, 1.0, 660), PLAYS,
         note="Ogg Vorbis, stereo at 48000 Hz"),
    Case("mp3-quarter-second", MUSIC, sound("mp3", RATE, 2, 0.25, 550), PLAYS),
]

CASES = PICTURES + MUSIC_CASES


def write_corpus(folder, limits=Limits(), cases=CASES):
    """Writes every case into `folder` under its name; returns {case: path}."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    written = {}
    for case in cases:
        path = folder / case.name
        case.write(path, limits)
        written[case] = path
    return written


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder", type=Path)
    parser.add_argument("--max-texture-size", type=int, default=Limits.max_texture_size)
    options = parser.parse_args()
    for case, path in write_corpus(options.folder, Limits(options.max_texture_size)).items():
        print(f"{case.kind:8} {case.outcome:6} {path}")


if __name__ == "__main__":
    main()
