# The music as the audio device receives it, for the real file and for broken and unusual ones
# made at test time. Each run ends with Escape while the music plays or just after.

import random
import struct
import subprocess
import unittest

from velmora_process import (ASSETS, RATE, OnDisplay, capture, decode, first_sound, levels,
                             locate, rms, run, wait_for, workdir)

MUSIC = ASSETS / "audio/test.mp3"
FAILED = ["Failed to load music: ?*", "Failed to play music: ?*"]
SILENT, AUDIBLE, SOUND = 10, 300, 100  # RMS of silence, of music; a sample that counts as sound


# A stereo sine tone at half scale, made by sox as `kind`.
def tone(kind, rate, seconds, frequency, *options):
    return lambda path: subprocess.run(
        ["sox", "-n", "-t", kind, "-r", str(rate), "-c", "2", *options, path, "synth",
         str(seconds), "sine", str(frequency), "vol", "0.5"], check=True, capture_output=True)


# The Ogg pages' checksum: CRC-32 with polynomial 0x04c11db7, unreflected, over the page with
# its checksum field zeroed.
def ogg_crc(page):
    crc = 0
    for byte in page:
        crc ^= byte << 24
        for _ in range(8):
            crc = (crc << 1 ^ 0x04c11db7 if crc & 0x80000000 else crc << 1) & 0xffffffff
    return crc


# An Ogg Vorbis tone whose comment header declares a vendor string of 2 GiB, its page's checksum
# redone. stb_vorbis, the mixer's decoder in the builds that carry SDL_mixer, reads such a string
# byte by byte past the end of the file for minutes (found by the music fuzz target).
# With `serial`, the comment header's page names another stream (stb_vorbis reads it all the same).
def vorbis_vendor_of_2_gib(path, serial=None):
    tone("vorbis", 48000, 1, 660)(path)
    data = bytearray(path.read_bytes())
    length = data.index(b"\x03vorbis") + 7
    data[length:length + 4] = struct.pack("<I", 2**31 - 1)
    page = data.rindex(b"OggS", 0, length)
    if serial is not None:
        data[page + 14:page + 18] = struct.pack("<I", serial)
    segments = data[page + 26]
    end = page + 27 + segments + sum(data[page + 27:page + 27 + segments])
    data[page + 22:page + 26] = bytes(4)
    data[page + 22:page + 26] = struct.pack("<I", ogg_crc(data[page:end]))
    path.write_bytes(data)


# name: what writes the music's file; None: it plays, else the lines it is reported in.
CASES = {
    "missing": (lambda path: path.unlink(), FAILED),
    "garbage": (lambda path: path.write_bytes(random.Random(11).randbytes(10000)), FAILED),
    "MP3 cut short": (lambda path: path.write_bytes(MUSIC.read_bytes()[:20000]), None),
    "16-bit WAV at 22050 Hz": (tone("wav", 22050, 1, 440, "-b", "16"), None),
    "Ogg Vorbis at 48000 Hz": (tone("vorbis", 48000, 1, 660), None),
    "MP3 of a quarter second": (tone("mp3", RATE, 0.25, 550), None),
    "Ogg Vorbis declaring a 2 GiB vendor string": (vorbis_vendor_of_2_gib, [
        "Failed to load music: Ogg Vorbis comment header longer than its file",
        "Failed to play music: ?*"]),
    "the same on a page of another stream": (lambda path: vorbis_vendor_of_2_gib(path, 7), [
        "Failed to load music: Ogg Vorbis comment header longer than its file",
        "Failed to play music: ?*"]),
}


# The samples from the first to the last one louder than SOUND.
def sounding(samples):
    first, last = first_sound(samples, SOUND), first_sound(samples[::-1], SOUND)
    return samples[2 * first:len(samples) - 2 * last]


class Music(OnDisplay):
    # Runs velmora with the music's file changed by `write(path)`, and presses Escape once
    # `until(capture so far)` holds (failing if it does not within the start-up timeout).
    def play(self, write, until):
        folder = workdir(self)
        write(folder / "assets/audio/test.mp3")
        return run(folder, self.display, lambda process: wait_for(
            lambda: until(capture(folder)) or process.poll() is not None,
            "the audio device did not receive enough"), stop="Escape")

    def test_the_file_plays_as_decoded_from_the_start_until_the_window_closes(self):
        result = self.play(lambda path: None, lambda sound: len(sound) > 2 * 3 * RATE)
        self.assertRun(result)
        onset, music = first_sound(result.audio), decode(MUSIC)
        # Where the music begins in the capture: found half a second into the sound.
        start = onset + RATE // 2 - locate(result.audio, onset + RATE // 2, music,
                                           RATE // 2 - 2048, RATE // 2 + 2048)
        self.assertLess(abs(start - onset), 2048, "the music does not start where sound starts")
        # Up to the last sound: the mixer stops the track before it closes the device, which
        # may write a buffer of silence in between.
        end = len(result.audio) - 2 * first_sound(result.audio[::-1], SOUND)
        heard = result.audio[2 * start:end]
        self.assertGreater(len(heard), 2 * 2 * RATE, "less than two seconds captured")
        self.assertSameSound(heard, music[:len(heard)])  # up to the close

    def test_broken_and_unusual_files(self):
        for name, (write, lines) in CASES.items():
            with self.subTest(name):
                if lines:  # a second of device output tells silence from a device never run
                    result = self.play(write, lambda sound: len(sound) > 2 * RATE)
                    self.assertRun(result, lines)
                    self.assertLess(rms(result.audio), 1, "sound without music")
                    continue
                reference = workdir(self) / "music"
                write(reference)
                expected = sounding(decode(reference))
                # Until a second past where the music should have ended.
                result = self.play(write, lambda sound: len(sound) > 2 * RATE + len(expected)
                                   + 2 * first_sound(sound, SOUND))
                self.assertRun(result)
                heard = sounding(result.audio)
                self.assertAlmostEqual(len(heard) / 2 / RATE, len(expected) / 2 / RATE, delta=0.03)
                self.assertGreater(min(levels(heard, 0.05)), AUDIBLE, "a silence in the music")
                self.assertAlmostEqual(rms(heard) / rms(expected), 1.0, delta=0.1)
                # Played once: silence from 100 ms after its end to the end of the run (more
                # than 0.8 s, by play's condition and the length just checked).
                after = result.audio[2 * first_sound(result.audio, SOUND) + len(heard) + RATE // 5:]
                self.assertLess(max(levels(after, 0.05)), SILENT, "sound after the music's end")


if __name__ == "__main__":
    unittest.main()
