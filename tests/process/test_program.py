# The real program as its users run it, one run a row: how it ends, how it fails to start, broken
# and unusual height-map pictures and music files made at test time, no assets at all. Each run's
# status and lines, what its screen shows and what its audio device received.

import random
import struct
import subprocess
import unittest
import zlib
from collections import namedtuple
from pathlib import Path
from signal import SIGINT, SIGTERM

from harness import (ASSETS, CLOSE, NO_ASSETS, RATE, Environment, VelmoraTest, capture, decode,
                     first_sound, levels, locate, rms, run, wait_for, workdir)

ESCAPE = "xdotool search --name '^Velmora$' windowfocus --sync key Escape"
OTHER_INPUT = (f"{ESCAPE.replace('Escape', 'a space Return q F1 ctrl+c')}; xdotool mousemove 10 "
               "10 click 1 mousemove 200 100 click 3; wmctrl -r Velmora -b remove,fullscreen; "
               "wmctrl -r Velmora -e 0,0,0,160,90; sleep 2")  # several frames at the new size
MUSIC = ASSETS / "audio/test.mp3"
TEXTURE, FAILED = ["Failed to load texture: /textures/text1.jpg"], NO_ASSETS[1:]
SILENT, AUDIBLE, SOUND = 10, 300, 100  # RMS of silence, of music; a sample that counts as sound


# An unfiltered PNG of one colour (`pixel` in the file's sample layout) or of `rows`.
def png(width, height, colour_type, pixel=b"\xff", depth=8, rows=None):
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    pixels = zlib.compress(b"".join(b"\0" + row for row in rows or [pixel * width] * height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels)
            + chunk(b"IEND", b""))


# A stereo sine tone at half scale, made by sox as `kind`.
def tone(kind, rate, seconds, frequency, *options):
    return lambda path: subprocess.run(
        ["sox", "-n", "-t", kind, "-r", str(rate), "-c", "2", *options, path, "synth",
         str(seconds), "sine", str(frequency), "vol", "0.5"], check=True, capture_output=True)


# An Ogg Vorbis tone whose comment header declares a vendor string of 2 GiB. stb_vorbis, the
# mixer's decoder in the builds that carry SDL_mixer, reads such a string byte by byte past the
# end of the file for minutes (found by the music fuzz target); it checks no page's checksum
# there, so the page's is left as it was (libogg, Debian's, refuses the page for it instead).
# With `serial`, the comment header's page names another stream (stb_vorbis reads it all the same).
def vorbis_vendor_of_2_gib(path, serial=None):
    tone("vorbis", 48000, 1, 660)(path)
    data = bytearray(path.read_bytes())
    length = data.index(b"\x03vorbis") + 7
    data[length:length + 4] = struct.pack("<I", 2**31 - 1)
    if serial is not None:
        page = data.rindex(b"OggS", 0, length)
        data[page + 14:page + 18] = struct.pack("<I", serial)
    path.write_bytes(data)


GREY, GREY_ALPHA, RGB = 0, 4, 2
NOISE = png(128, 128, RGB, rows=[random.Random(7).randbytes(384) for _ in range(128)])
# Height-map pictures, name: (their bytes for GL's maximum texture size, or None for a folder;
# whether they fail). One that fails is reported and leaves texture 0, which reads black and lifts
# every tile: the view is mint. Each valid one has red at full and the other channels at zero: it
# lifts nothing, the view is grey; channels or rows out of place show mint.
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
VENDOR = ["Failed to load music: Ogg Vorbis comment header longer than its file", FAILED[1]]
# Music files, name: (what writes the file, the lines it is reported in: none where it plays).
MUSIC_FILES = {
    "missing": (lambda path: path.unlink(), FAILED),
    "garbage": (lambda path: path.write_bytes(random.Random(11).randbytes(10000)), FAILED),
    "MP3 cut short": (lambda path: path.write_bytes(MUSIC.read_bytes()[:20000]), []),
    "16-bit WAV at 22050 Hz": (tone("wav", 22050, 1, 440, "-b", "16"), []),
    "Ogg Vorbis at 48000 Hz": (tone("vorbis", 48000, 1, 660), []),
    "MP3 of a quarter second": (tone("mp3", RATE, 0.25, 550), []),
    "Ogg Vorbis declaring a 2 GiB vendor string": (vorbis_vendor_of_2_gib, VENDOR),
    "the same on a page of another stream": (lambda path: vorbis_vendor_of_2_gib(path, 7), VENDOR),
}


def picture(data):  # a change of the assets that puts `data` in the picture's place
    def change(assets, max_size):
        (assets / "textures/text1.jpg").unlink()
        if data is None:
            return (assets / "textures/text1.jpg").mkdir()
        (assets / "textures/text1.jpg").write_bytes(data(max_size))
    return change


# A run: how the assets are changed (a call with their folder and GL's maximum texture size);
# what the environment adds (DISPLAY None: no display); how it ends: the seconds after the
# renderer line, a command then run on the display, then the stop (a signal, a command or
# nothing); the status and the lines on standard error; what the screen shows ("mint" or "grey"
# over half of it and the other under 1 %, "any": tiles on a tenth); what the device receives:
# "music" (the file as decoded, from the start until the window closes), "silence", "none" (no
# device opened) or the writer of a file it sounds as, once.
Run = namedtuple("Run", "change env seconds command stop status lines screen sound",
                 defaults=(None, {}, 0, None, ESCAPE, 0, [], None, None))
RUNS = {  # a second after the renderer line, or at 0 s, while the scene is still being built
    "SIGTERM": Run(seconds=1, stop=SIGTERM), "SIGINT": Run(seconds=1, stop=SIGINT),
    "Escape": Run(seconds=1), "the window-close request": Run(seconds=1, stop=CLOSE),
    "Escape and SIGTERM": Run(seconds=1, command=ESCAPE, stop=SIGTERM),
    "SIGTERM in start-up": Run(stop=SIGTERM), "SIGINT in start-up": Run(stop=SIGINT),
    "other input and a resize change nothing": Run(seconds=1, command=OTHER_INPUT, screen="any"),
    "no display": Run(env={"DISPLAY": None}, status=1, lines=["SDL_Init failed: ?*"], sound="none"),
    "no OpenGL 4.6": Run(env={"MESA_GL_VERSION_OVERRIDE": "4.5"}, status=1, sound="none",
                         lines=["SDL_GL_CreateContext failed: ?*"]),
    "no audio device": Run(env={"SDL_AUDIO_DRIVER": "nonexistent"}, status=1,
                           lines=["Failed to create mixer: *nonexistent*"]),
    "no assets": Run(lambda assets, size: subprocess.run(["rm", "-r", assets]), lines=NO_ASSETS,
                     screen="mint", sound="silence"),
    "music: the file itself": Run(sound="music"),
    **{f"picture: {name}": Run(picture(data), lines=TEXTURE * fails,
                               screen="mint" if fails else "grey")
       for name, (data, fails) in PICTURES.items()},
    **{f"music: {name}": Run(lambda assets, size, write=write: write(assets / "audio/test.mp3"),
                             lines=lines, sound="silence" if lines else write)
       for name, (write, lines) in MUSIC_FILES.items()},
}


# The fuzz smoke's starting inputs for the loader `target` ("texture" or "music") in
# `folder`/seeds, beside an empty `folder`/corpus: the real asset (the picture also as small
# copies, which mutate and decode many times faster) and the damaged files above, of at most
# `length` bytes (for the music: a few frames past its tag).
def seeds(target, folder, length=6000):
    subprocess.run(["rm", "-rf", folder], check=True)
    (folder := Path(folder) / "seeds").mkdir(parents=True)
    (folder.parent / "corpus").mkdir()
    if target == "texture":
        for name in "text1.jpg", "small.jpg", "small.png", "small-grey.png":
            subprocess.run(["convert", ASSETS / "textures/text1.jpg", *["-resize", "96x24!"] * (
                "small" in name), *["-colorspace", "Gray"] * ("grey" in name), folder / name])
        for index, (data, _) in enumerate(PICTURES.values()):
            data and (folder / f"damaged-{index}").write_bytes(data(16384))  # llvmpipe's limit
        return
    (folder / "test.mp3").write_bytes(MUSIC.read_bytes())
    for index, (name, (write, _)) in enumerate(MUSIC_FILES.items()):
        name == "missing" or write(folder / f"damaged-{index}")
    for seed in folder.iterdir():
        seed.write_bytes(seed.read_bytes()[:length])


# The samples from the first to the last one louder than SOUND.
def sounding(samples):
    first, last = first_sound(samples, SOUND), first_sound(samples[::-1], SOUND)
    return samples[2 * first:len(samples) - 2 * last]


class Program(VelmoraTest):
    runs = RUNS

    @classmethod
    def setUpClass(cls):
        cls.display = cls.enterClassContext(Environment("openbox"))
        limits = cls.display.tool("glxinfo", "-l").decode()
        cls.max_size = int(limits.split("GL_MAX_TEXTURE_SIZE = ")[1].split()[0])

    def check_group(self, group):  # the runs named "GROUP: ...", or with no group
        for name in self.runs:
            if (name.split(": ")[0] if ": " in name else "") == group:
                with self.subTest(name):
                    self.check(*RUNS[name])

    def test_starts_and_ends(self):
        self.check_group("")

    def test_pictures(self):
        self.check_group("picture")

    def test_music(self):
        self.check_group("music")

    def check(self, change, env, seconds, command, stop, status, lines, screen, sound):
        folder, shares = workdir(self), []
        change and change(folder / "assets", self.max_size)
        expected = sound if callable(sound) else None
        if expected:
            expected(folder / "music")
            expected = sounding(decode(folder / "music"))
        enough = {"music": 3 * RATE, "silence": RATE}.get(sound, RATE + len(expected or []) // 2)

        def received():  # frames the device received, from the first sound for a file's
            audio = capture(folder)
            return len(audio) // 2 - (first_sound(audio, SOUND) if expected else 0)

        def during(process):  # until the screen shows and the sound has come that the row needs
            if command:
                self.display.sh(command)
            shares.extend(self.display.tiles(0.1 if screen == "any" else 0.5) if screen else ())
            wait_for(lambda: process.poll() is not None or sound in (None, "none") or
                     received() > enough, "the audio device did not receive enough")
        result = run(folder, self.display, during, stop=stop, seconds=seconds, env=env)
        self.assertRun(result, lines, status)
        if screen:
            mint, grey = shares
            if screen == "any":
                self.assertGreater(mint + grey, 0.1, "no frames")
            else:
                self.assertGreater(mint if screen == "mint" else grey, 0.5, shares)
                self.assertLess(grey if screen == "mint" else mint, 0.01, shares)
        if sound == "none":
            self.assertFalse((folder / "audio.raw").exists(), "audio was opened")
        elif sound == "silence":
            self.assertLess(rms(result.audio), 1, "sound without music")
        elif sound == "music":
            self.assertTheMusic(result.audio)
        elif expected:
            heard = sounding(result.audio)
            self.assertAlmostEqual(len(heard) / 2 / RATE, len(expected) / 2 / RATE, delta=0.03)
            self.assertGreater(min(levels(heard, 0.05)), AUDIBLE, "a silence in the music")
            self.assertAlmostEqual(rms(heard) / rms(expected), 1.0, delta=0.1)
            # Played once: silence from 100 ms after its end to the end of the run (more than
            # 0.8 s, by the wait and the length just checked).
            after = result.audio[2 * first_sound(result.audio, SOUND) + len(heard) + RATE // 5:]
            self.assertLess(max(levels(after, 0.05)), SILENT, "sound after the music's end")

    # The music file as decoded, from where the sound starts until the window closed.
    def assertTheMusic(self, audio):
        onset, music = first_sound(audio), decode(MUSIC)
        # Where the music begins in the capture: found half a second into the sound.
        start = onset + RATE // 2 - locate(audio, onset + RATE // 2, music, RATE // 2 - 2048,
                                           RATE // 2 + 2048)
        self.assertLess(abs(start - onset), 2048, "the music does not start where sound starts")
        # Up to the last sound: the mixer stops the track before it closes the device, which
        # may write a buffer of silence in between.
        heard = audio[2 * start:len(audio) - 2 * first_sound(audio[::-1], SOUND)]
        self.assertGreater(len(heard), 2 * 2 * RATE, "less than two seconds captured")
        self.assertSameSound(heard, music[:len(heard)])


if __name__ == "__main__":
    unittest.main()
