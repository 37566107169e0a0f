#!/usr/bin/env python3
# make-music.py - synthesise the Velmora soundtrack, test.mp3 beside this script.
#
# An original, calm electronic piece (D minor, 96 BPM, 25 bars, ~65 s):
# warm detuned pads, a sine-ish bass, an FM pluck arpeggio, a soft lead
# melody, kick/snare/hats made from sine sweeps and noise, ping-pong echo,
# a small Schroeder reverb and a fade at the end. Everything is computed
# here in pure Python (standard library only), written as a 44.1 kHz
# stereo WAV in a temporary folder and encoded with `lame`.
#
# Run from anywhere, for example from the repository root:
#   ./dev exec assets/audio/make-music.py
# Options: --out FILE (mp3 destination), --wav FILE (also keep the WAV).
# Deterministic: the only randomness comes from a fixed seed, so every run
# produces the same audio.

import argparse
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import wave
from array import array

SR = 44100
BPM = 96.0
BEAT = 60.0 / BPM
BAR = 4 * BEAT
TAIL = 3.0              # seconds after the last bar (release + reverb)
FADE = 8.0              # length of the closing fade-out, seconds
PEAK_DBFS = -1.0        # normalisation target
SEED = 1977
LAME_ARGS = ["--quiet", "-V", "5", "--tt", "Velmora"]

TABLE_BITS = 12
TABLE_SIZE = 1 << TABLE_BITS
TABLE_MASK = TABLE_SIZE - 1
FRAC_BITS = 16          # fixed-point fraction of the wavetable phase

# --------------------------------------------------------------------------
# Song data

# chord name -> (bass note, pad voicing), MIDI note numbers
CHORDS = {
    "Dm9":    (38, (53, 57, 60, 64)),
    "Bbmaj9": (34, (53, 57, 60, 62)),
    "Fadd9":  (41, (53, 57, 60, 67)),
    "Cadd9":  (36, (52, 55, 60, 62)),
    "Gm9":    (43, (53, 58, 62, 69)),
    "Bbmaj7": (34, (53, 57, 62, 65)),
    "Dm7":    (38, (53, 57, 60, 65)),
    "Am7":    (45, (52, 55, 60, 64)),
}
SECTION_A = ["Dm9", "Bbmaj9", "Fadd9", "Cadd9"]
SECTION_B = ["Gm9", "Bbmaj7", "Dm7", "Am7"]
# intro (A A), middle (B B), return (A A), final chord
PROGRESSION = SECTION_A * 2 + SECTION_B * 2 + SECTION_A * 2 + ["Dm9"]
BARS = len(PROGRESSION)
LAST_BAR = BARS - 1

# lead melody: (bar, beat, length in beats, MIDI note)
MELODY = [
    # middle section, first phrase (Gm9 Bbmaj7 Dm7 Am7)
    (8, 0.0, 1.5, 69), (8, 1.5, 0.5, 70), (8, 2.0, 2.0, 74),
    (9, 0.0, 1.0, 72), (9, 1.0, 1.0, 69), (9, 2.0, 1.5, 65), (9, 3.5, 0.5, 67),
    (10, 0.0, 3.0, 69), (10, 3.0, 1.0, 72),
    (11, 0.0, 2.0, 76), (11, 2.0, 1.0, 74), (11, 3.0, 1.0, 72),
    # second phrase
    (12, 0.0, 1.5, 74), (12, 1.5, 0.5, 70), (12, 2.0, 1.0, 69), (12, 3.0, 1.0, 67),
    (13, 0.0, 1.5, 65), (13, 1.5, 0.5, 67), (13, 2.0, 2.0, 69),
    (14, 0.0, 1.0, 72), (14, 1.0, 1.0, 74), (14, 2.0, 2.0, 77),
    (15, 0.0, 3.0, 76),
    # return (Dm9 Bbmaj9 Fadd9 Cadd9)
    (16, 0.0, 1.5, 74), (16, 1.5, 0.5, 72), (16, 2.0, 2.0, 69),
    (17, 0.0, 1.0, 65), (17, 1.0, 1.0, 67), (17, 2.0, 1.0, 69), (17, 3.0, 1.0, 72),
    (18, 0.0, 2.0, 69), (18, 2.0, 1.0, 67), (18, 3.0, 1.0, 65),
    (19, 0.0, 1.5, 64), (19, 1.5, 0.5, 67), (19, 2.0, 2.0, 74),
    (20, 0.0, 4.0, 74),
    # closing echo of the theme, landing on the tonic
    (22, 0.0, 1.5, 69), (22, 1.5, 0.5, 67), (22, 2.0, 2.0, 65),
    (23, 0.0, 4.0, 64),
    (24, 0.0, 4.0, 62),
]

# arpeggio: indices into the pad voicing (4 = lowest note an octave up)
ARP_PATTERN = [0, 1, 2, 3, 4, 3, 2, 1]
# bass per bar: (beat, length in beats, interval above the root)
BASS_PATTERN = [(0.0, 2.3, 0), (2.5, 0.9, 0), (3.5, 0.45, 7)]


def seconds(bar, beat=0.0):
    return bar * BAR + beat * BEAT


def index(t):
    return int(round(t * SR))


def midi_hz(note):
    return 440.0 * 2.0 ** ((note - 69) / 12.0)


# --------------------------------------------------------------------------
# Basic building blocks

def zeros(n):
    return array("d", bytes(8 * n))


def wavetable(harmonics):
    """One cycle of a sum of sine harmonics, amplitudes given from the 1st."""
    step = 2.0 * math.pi / TABLE_SIZE
    return [sum(a * math.sin(k * i * step) for k, a in enumerate(harmonics, 1))
            for i in range(TABLE_SIZE)]


def oscillator(table, freq, n, phase):
    """n samples of a wavetable oscillator (fixed-point phase accumulator)."""
    inc = int(freq * TABLE_SIZE / SR * (1 << FRAC_BITS))
    return [table[((phase + i * inc) >> FRAC_BITS) & TABLE_MASK]
            for i in range(n)]


def envelope(gate, attack, decay, sustain, release):
    """Linear attack, exponential decay towards `sustain` while the gate
    (in samples) is held, then a linear release. Times in seconds."""
    a = max(1, int(attack * SR))
    r = max(1, int(release * SR))
    k = 1.0 / (decay * SR)
    env = [i / a for i in range(min(a, gate))]
    env += [sustain + (1.0 - sustain) * math.exp(-(i - a) * k)
            for i in range(len(env), gate)]
    last = env[-1] if env else 0.0
    env += [last * (1.0 - j / r) for j in range(r)]
    return env


def decay_curve(n, tau, attack=0.002):
    """Exponential decay with a short linear attack (percussive shape)."""
    a = max(1, int(attack * SR))
    k = 1.0 / (tau * SR)
    return [min(1.0, i / a) * math.exp(-i * k) for i in range(n)]


def multiply(x, y):
    return [p * q for p, q in zip(x, y)]


def noise(n, rng):
    return [rng.uniform(-1.0, 1.0) for _ in range(n)]


def lowpass(x, cutoff):
    """One-pole low-pass filter."""
    a = 1.0 - math.exp(-2.0 * math.pi * cutoff / SR)
    s = 0.0
    out = []
    append = out.append
    for v in x:
        s += a * (v - s)
        append(s)
    return out


def highpass(x, cutoff):
    return [v - s for v, s in zip(x, lowpass(x, cutoff))]


def mix_into(bus, start, samples, gain=1.0):
    """Add `samples` * gain into `bus` starting at sample `start`."""
    if start >= len(bus):
        return
    end = min(len(bus), start + len(samples))
    bus[start:end] = array("d", [b + gain * s
                                 for b, s in zip(bus[start:end], samples)])


def pan_gains(pan):
    """Equal-power panning, pan in [-1 (left), 1 (right)]."""
    angle = (pan + 1.0) * math.pi / 4.0
    return math.cos(angle), math.sin(angle)


def mix_panned(left, right, start, samples, gain, pan):
    gl, gr = pan_gains(pan)
    mix_into(left, start, samples, gain * gl)
    mix_into(right, start, samples, gain * gr)


# --------------------------------------------------------------------------
# Instrument voices (each returns mono sample lists)

PAD_TABLE = wavetable([math.exp(-(k - 1) / 5.0) / k for k in range(1, 17)])
BASS_TABLE = wavetable([1.0, 0.28, 0.10, 0.04])
LEAD_TABLE = wavetable([1.0, 0.30, 0.12, 0.05, 0.02])


def pad_voice(freq, gate, detune_cents, rng, attack):
    """Two detuned wavetable oscillators under a slow swell envelope."""
    env = envelope(gate, attack, 1.5, 0.85, 1.6)
    n = len(env)
    oscs = [oscillator(PAD_TABLE, freq * 2.0 ** (c / 1200.0), n,
                       rng.randrange(TABLE_SIZE << FRAC_BITS))
            for c in detune_cents]
    return [e * (p + q) for e, p, q in zip(env, oscs[0], oscs[1])]


def bass_voice(freq, gate, rng):
    env = envelope(gate, 0.008, 0.6, 0.7, 0.08)
    wave_ = oscillator(BASS_TABLE, freq, len(env),
                       rng.randrange(TABLE_SIZE << FRAC_BITS))
    return multiply(wave_, env)


PLUCK_LEN = int(1.0 * SR)
PLUCK_AMP = decay_curve(PLUCK_LEN, 0.28, attack=0.003)
PLUCK_MOD = [2.0 * math.exp(-i / (0.07 * SR)) for i in range(PLUCK_LEN)]


def pluck_voice(freq):
    """FM pluck: a bright attack that mellows into a sine."""
    w = 2.0 * math.pi * freq / SR
    fade = PLUCK_LEN - int(0.01 * SR)
    out = [a * math.sin(w * i + m * math.sin(w * i))
           for i, a, m in zip(range(PLUCK_LEN), PLUCK_AMP, PLUCK_MOD)]
    for i in range(fade, PLUCK_LEN):
        out[i] *= (PLUCK_LEN - i) / (PLUCK_LEN - fade)
    return out


def lead_voice(freq, gate):
    """Soft flute-like lead with delayed vibrato (phase modulation)."""
    env = envelope(gate, 0.05, 0.4, 0.8, 0.25)
    step = freq * TABLE_SIZE / SR              # table entries per sample
    wv = 2.0 * math.pi * 5.0 / SR              # 5 Hz vibrato
    depth = step * 0.004 / wv                  # about +-7 cents
    onset = 0.35 * SR
    return [e * LEAD_TABLE[int(i * step + depth * min(1.0, i / onset)
                               * math.sin(wv * i)) & TABLE_MASK]
            for i, e in zip(range(len(env)), env)]


def kick_drum():
    """Sine sweep from ~140 Hz down to 42 Hz, softly saturated."""
    n = int(0.5 * SR)
    out = []
    phase = 0.0
    for i in range(n):
        t = i / SR
        phase += 2.0 * math.pi * (42.0 + 100.0 * math.exp(-t / 0.04)) / SR
        out.append(math.sin(phase))
    body = multiply(out, decay_curve(n, 0.17, attack=0.001))
    return [math.tanh(1.6 * v) / math.tanh(1.6) for v in body]


def snare_drum(rng):
    """Band-limited noise burst over a short 185 Hz tone."""
    n = int(0.4 * SR)
    hiss = lowpass(highpass(noise(n, rng), 900.0), 7000.0)
    hiss = multiply(hiss, decay_curve(n, 0.1, attack=0.001))
    tone = [math.sin(2.0 * math.pi * 185.0 * i / SR) for i in range(n)]
    tone = multiply(tone, decay_curve(n, 0.05, attack=0.001))
    return [1.6 * h + 0.5 * t for h, t in zip(hiss, tone)]


def hi_hat(rng, open_):
    length, tau = (0.5, 0.12) if open_ else (0.12, 0.025)
    n = int(length * SR)
    hiss = highpass(highpass(noise(n, rng), 7000.0), 3000.0)
    return multiply(hiss, decay_curve(n, tau, attack=0.0005))


# --------------------------------------------------------------------------
# Sequencing: each part renders into its own stereo bus

class Buses:
    """Stereo buses for panned parts, mono ones for centred parts and the
    effect sends."""
    STEREO = ("pad", "arp", "drums")
    MONO = ("bass", "lead", "echo_send", "verb_send")

    def __init__(self, n):
        self.n = n
        self.left = {k: zeros(n) for k in self.STEREO}
        self.right = {k: zeros(n) for k in self.STEREO}
        self.mono = {k: zeros(n) for k in self.MONO}
        self.kicks = []      # kick start samples, for side-chain ducking


def tied_pad_notes():
    """Pad notes per bar, with notes held across bar lines merged into one:
    returns (note, first bar, bar after the last)."""
    notes, active = [], {}
    for bar, name in enumerate(PROGRESSION + [None]):
        current = set(CHORDS[name][1]) if name else set()
        for note in list(active):
            if note not in current:
                notes.append((note, active.pop(note), bar))
        for note in current:
            active.setdefault(note, bar)
    return sorted(notes, key=lambda x: (x[1], x[0]))


def sequence_pads(buses, rng):
    for note, first, end in tied_pad_notes():
        gate = index(seconds(end) - seconds(first))
        if end == BARS:
            gate = index(BAR * 0.8)  # final chord releases into the fade
            gate += index(seconds(LAST_BAR) - seconds(first))
        attack = 0.35 if first == 0 else 0.6
        start = index(seconds(first))
        pan = ((note % 5) - 2) * 0.2
        left = pad_voice(midi_hz(note), gate, (-6.0, 2.5), rng, attack)
        right = pad_voice(midi_hz(note), gate, (6.0, -2.5), rng, attack)
        gl, gr = pan_gains(pan)
        mix_into(buses.left["pad"], start, left, 0.055 * gl * math.sqrt(2))
        mix_into(buses.right["pad"], start, right, 0.055 * gr * math.sqrt(2))


def sequence_bass(buses, rng):
    for bar in range(4, BARS):
        root = CHORDS[PROGRESSION[bar]][0]
        pattern = [(0.0, 4.0, 0)] if bar == LAST_BAR else BASS_PATTERN
        for beat, length, interval in pattern:
            voice = bass_voice(midi_hz(root + interval),
                               index(length * BEAT), rng)
            start = index(seconds(bar, beat))
            mix_into(buses.mono["bass"], start, voice, 0.26)


def sequence_arp(buses, rng):
    for bar in range(BARS):
        pad = sorted(CHORDS[PROGRESSION[bar]][1])
        tones = [n + 12 for n in pad] + [pad[0] + 24]
        # quieter under the melody, a single rising run on the final chord
        level = 0.75 if 8 <= bar < 21 else 1.0
        steps = ARP_PATTERN[:5] if bar == LAST_BAR else ARP_PATTERN
        for step, which in enumerate(steps):
            velocity = (1.0 if step % 2 == 0 else 0.8) * rng.uniform(0.85, 1.0)
            voice = pluck_voice(midi_hz(tones[which]))
            start = index(seconds(bar, step * 0.5))
            pan = -0.35 if step % 2 == 0 else 0.35
            gain = 0.22 * level * velocity
            mix_panned(buses.left["arp"], buses.right["arp"], start, voice,
                       gain, pan)
            mix_into(buses.mono["echo_send"], start, voice, gain * 0.5)
            mix_into(buses.mono["verb_send"], start, voice, gain * 0.6)


def sequence_lead(buses):
    for bar, beat, length, note in MELODY:
        voice = lead_voice(midi_hz(note), index(length * BEAT * 0.95))
        start = index(seconds(bar, beat))
        mix_into(buses.mono["lead"], start, voice, 0.25)
        mix_into(buses.mono["echo_send"], start, voice, 0.2)
        mix_into(buses.mono["verb_send"], start, voice, 0.2)


def drum_hits():
    """(instrument, bar, beat, velocity) for the whole piece."""
    hits = []
    for bar in range(2, 24):                      # hats from bar 3
        for step in range(8):
            accent = 0.55 if step % 2 == 0 else 0.8
            open_ = step == 7 and bar % 2 == 1
            hits.append(("open_hat" if open_ else "hat", bar, step * 0.5, accent))
    for bar in range(4, 24):                      # half-time kick
        hits.append(("kick", bar, 0.0, 1.0))
        hits.append(("kick", bar, 2.5, 0.8))
        if bar % 4 == 3:
            hits.append(("kick", bar, 3.5, 0.6))
    hits.append(("kick", LAST_BAR, 0.0, 1.0))
    for bar in range(8, 22):                      # backbeat in the middle
        hits.append(("snare", bar, 2.0, 1.0))
    for beat, vel in ((3.25, 0.3), (3.5, 0.45), (3.75, 0.6)):  # small fill
        hits.append(("snare", 15, beat, vel))
    return hits


def sequence_drums(buses, rng):
    sounds = {
        "kick": (kick_drum(), 0.0, 0.0),          # sample, pan, reverb send
        "snare": (snare_drum(rng), 0.0, 0.35),
        "hat": (hi_hat(rng, False), 0.25, 0.0),
        "open_hat": (hi_hat(rng, True), 0.25, 0.1),
    }
    gains = {"kick": 0.75, "snare": 0.3, "hat": 0.5, "open_hat": 0.3}
    for name, bar, beat, velocity in drum_hits():
        sample, pan, send = sounds[name]
        start = index(seconds(bar, beat))
        gain = gains[name] * velocity * rng.uniform(0.9, 1.0)
        mix_panned(buses.left["drums"], buses.right["drums"], start, sample,
                   gain, pan)
        if send:
            mix_into(buses.mono["verb_send"], start, sample, gain * send)
        if name == "kick":
            buses.kicks.append(start)


# --------------------------------------------------------------------------
# Effects

def shift(x, d):
    """Delay by d samples, keeping the length."""
    return zeros(d) + array("d", x[:len(x) - d])


def comb(x, d, g):
    """Feedback comb y[n] = x[n] + g*y[n-d], computed a block of d at a time."""
    y = array("d", x)
    for s in range(d, len(y), d):
        e = min(s + d, len(y))
        y[s:e] = array("d", [a + g * b for a, b in zip(y[s:e], y[s - d:e - d])])
    return y


def allpass(x, d, g):
    """Schroeder all-pass y[n] = -g*x[n] + x[n-d] + g*y[n-d]."""
    y = array("d", [-g * v for v in x])
    for s in range(d, len(y), d):
        e = min(s + d, len(y))
        y[s:e] = array("d", [-g * a + b + g * c for a, b, c in
                             zip(x[s:e], x[s - d:e - d], y[s - d:e - d])])
    return y


def ping_pong(x, delay, feedback):
    """Echoes alternating left/right: taps at d, 3d, ... on the left and
    2d, 4d, ... on the right."""
    d = index(delay)
    loop = comb(x, 2 * d, feedback * feedback)
    left = [feedback * v for v in shift(loop, d)]
    right = [feedback * feedback * v for v in shift(loop, 2 * d)]
    return left, right


def reverb(x):
    """Small Schroeder reverb: parallel combs, then an all-pass chain per
    channel (different lengths keep left and right decorrelated)."""
    x = lowpass(highpass(x, 250.0), 3500.0)
    wet = zeros(len(x))
    for d in (1557, 1617, 1491, 1422, 1277, 1356):
        c = comb(x, d, 0.87)
        wet = array("d", [w + v for w, v in zip(wet, c)])
    left, right = wet, wet
    for d in (556, 441, 341):
        left = allpass(left, d, 0.5)
    for d in (579, 464, 367):
        right = allpass(right, d, 0.5)
    return left, right


def duck_curve(n, kicks, depth=0.35):
    """Side-chain gain: dips after every kick so pads and bass breathe."""
    gain = array("d", [1.0]) * n
    length = index(0.4)
    shape = [1.0 - depth * min(1.0, i / 220.0) * math.exp(-i / (0.12 * SR))
             for i in range(length)]
    for start in kicks:
        end = min(n, start + length)
        gain[start:end] = array("d", multiply(gain[start:end], shape))
    return gain


def fade_curve(n, fade_len, fade_in=0.01):
    """Ramps: a few ms in at the start, a raised-cosine fade-out at the end."""
    gain = array("d", [1.0]) * n
    a = index(fade_in)
    gain[:a] = array("d", [i / a for i in range(a)])
    f = index(fade_len)
    gain[n - f:] = array("d", [0.5 * (1.0 + math.cos(math.pi * i / f))
                               for i in range(f)])
    return gain


# --------------------------------------------------------------------------
# Mixing and output

def db(x):
    return 20.0 * math.log10(x) if x > 0 else float("-inf")


def rms(x):
    return math.sqrt(sum(v * v for v in x) / len(x)) if len(x) else 0.0


def master(buses):
    n = buses.n
    mono = buses.mono
    echo_l, echo_r = ping_pong(lowpass(mono["echo_send"], 4000.0),
                               0.75 * BEAT, 0.45)
    verb_l, verb_r = reverb(mono["verb_send"])
    duck = duck_curve(n, buses.kicks)
    fade = fade_curve(n, FADE)
    centre = [d * b + l for d, b, l in zip(duck, mono["bass"], mono["lead"])]
    channels = []
    for bus, echo, verb in ((buses.left, echo_l, verb_l),
                            (buses.right, echo_r, verb_r)):
        out = [f * (d * p + c + a + dr + 0.8 * e + 0.07 * v)
               for f, d, p, c, a, dr, e, v in
               zip(fade, duck, bus["pad"], centre, bus["arp"], bus["drums"],
                   echo, verb)]
        channels.append(out)
    return channels


def report_levels(buses):
    """Print each part's RMS level where it plays (for balancing the mix)."""
    parts = [(k, buses.left[k]) for k in Buses.STEREO]
    parts += [(k, buses.mono[k]) for k in ("bass", "lead")]
    for name, x in parts:
        active = [v for v in x[::64] if v != 0.0]
        print(f"  {name:9s} {db(rms(active)):6.1f} dB RMS while playing")


def normalise(channels, peak_dbfs):
    peak = max(max(abs(v) for v in ch) for ch in channels)
    scale = 10.0 ** (peak_dbfs / 20.0) / peak
    return [[v * scale for v in ch] for ch in channels], peak


def check_render(left, right):
    """Sanity checks on the finished mix; raise instead of writing junk."""
    duration = len(left) / SR
    if not 45.0 <= duration <= 90.0:
        raise SystemExit(f"duration {duration:.1f} s is out of range")
    opening = index(0.5)
    level = db(rms(left[:opening] + right[:opening]))
    if level < -40.0:
        raise SystemExit(f"opening 0.5 s is too quiet ({level:.1f} dBFS)")
    peak = max(max(abs(v) for v in left), max(abs(v) for v in right))
    if peak >= 1.0:
        raise SystemExit("mix clips")
    return duration, level, peak


def write_wav(path, left, right):
    frames = array("h", bytes(4 * len(left)))
    frames[0::2] = array("h", [int(round(v * 32767.0)) for v in left])
    frames[1::2] = array("h", [int(round(v * 32767.0)) for v in right])
    if sys.byteorder == "big":
        frames.byteswap()
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(SR)
        w.writeframes(frames.tobytes())


def encode_mp3(wav_path, mp3_path):
    if shutil.which("lame") is None:
        raise SystemExit("lame not found (run through ./dev exec)")
    os.makedirs(os.path.dirname(os.path.abspath(mp3_path)), exist_ok=True)
    subprocess.run(["lame", *LAME_ARGS, wav_path, mp3_path], check=True)


def render():
    rng = random.Random(SEED)
    n = index(seconds(BARS) + TAIL)
    buses = Buses(n)
    for name, part in (("pads", lambda: sequence_pads(buses, rng)),
                       ("bass", lambda: sequence_bass(buses, rng)),
                       ("arpeggio", lambda: sequence_arp(buses, rng)),
                       ("lead", lambda: sequence_lead(buses)),
                       ("drums", lambda: sequence_drums(buses, rng))):
        t0 = time.time()
        part()
        print(f"  {name:9s} {time.time() - t0:5.1f} s", flush=True)
    report_levels(buses)
    t0 = time.time()
    channels = master(buses)
    print(f"  {'mix':9s} {time.time() - t0:5.1f} s", flush=True)
    return channels


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(
        description="Synthesise the Velmora soundtrack and encode it as MP3.")
    parser.add_argument("--out", default=os.path.join(here, "test.mp3"), help="mp3 file to write")
    parser.add_argument("--wav", help="also keep the rendered WAV here")
    args = parser.parse_args()

    started = time.time()
    print("rendering:")
    channels, raw_peak = normalise(render(), PEAK_DBFS)
    duration, opening, peak = check_render(*channels)
    with tempfile.TemporaryDirectory() as tmp:
        wav_path = os.path.join(tmp, "music.wav")
        write_wav(wav_path, *channels)
        if args.wav:
            shutil.copyfile(wav_path, args.wav)
        encode_mp3(wav_path, args.out)
    size = os.path.getsize(args.out)
    print(f"wrote {os.path.relpath(args.out)}: {duration:.1f} s, "
          f"{size / 1024:.0f} KiB, peak {db(peak):.1f} dBFS "
          f"(mix peak before normalising {raw_peak:.2f}), "
          f"first 0.5 s at {opening:.1f} dBFS RMS, "
          f"took {time.time() - started:.1f} s")


if __name__ == "__main__":
    main()
