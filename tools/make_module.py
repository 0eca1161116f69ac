#!/usr/bin/python3
"""Writes assets/zephyra.xm: the demo's two-channel XM tune.

Run by hand with Debian's python3 (numpy): /usr/bin/python3 tools/make_module.py [out dir]
(the output folder defaults to assets/).
The output is deterministic (fixed noise seed, no timestamps), so running it
again reproduces the committed file byte for byte.

What the file has to be (the scene director keys on these):
  * 12,470 bytes exactly, XM version 0x0104, header size 276, 10 orders,
    restart 0, 2 channels, 16 patterns, 7 instruments (the 6th has no
    sample), linear frequency table, default speed 4 / BPM 145.
  * order table 9 0 1 2 6 12 8 10 8 13; patterns 3 4 5 7 11 14 15 are not in
    it (they hold variations that did not make the cut).
  * per order: rows, and speed/BPM written at row 0:
      order 0 (pat 9)   24 rows, speed 8, BPM 112 -> 4.29 s
      orders 1-3        96 rows, speed 6, BPM 255 -> 5.65 s each
      order 4 (pat 6)   96 rows, speed 6, BPM 255, falling step by step to
                        80 over rows 80-92 -> 6.59 s
      order 5 (pat 12)  24 rows, speed 8, BPM 80 -> 6.00 s
      orders 6-9        64 rows, speed 6, BPM 255 -> 3.76 s each
    and row 63 of order 9 jumps back to order 6.
  * instrument 4 (kick) is played in orders 1-4 and 6-9; instrument 5
    (lead) in orders 3, 4 and 6-9; neither in orders 0 and 5.

The music: A minor, 127.5 beats per minute at 8 rows a beat (one bar = 32
rows at speed 6 / BPM 255). Channel 1 carries drums and bass by switching
instruments from row to row (kick, snare, hat, bass); channel 2 alternates a
lead melody with chord stabs played as arpeggios (effect 0xy).
"""
import os
import struct
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
OUT_DIR = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "assets")
OUT = os.path.join(OUT_DIR, "zephyra.xm")
TARGET_SIZE = 12470

# ---------------------------------------------------------------------------
# Samples. XM plays note C-4 with relative note 0 at 8,363 samples/s, so a
# waveform whose cycle is 32 samples sounds at C-4 (261.3 Hz, 2 cents flat).
# A 64-sample cycle therefore takes relative note +12, drums recorded at
# 16,726 samples/s take +12 and play natural at C-4.
# ---------------------------------------------------------------------------
BASE_RATE = 8363.0
rng = np.random.default_rng(20261207)


def to8(x):
    """Float samples in [-1, 1] -> signed 8-bit ints (rounded, clipped)."""
    return np.clip(np.round(np.asarray(x) * 127.0), -128, 127).astype(np.int16)


def kick(length):
    """Kick drum at 16,726 Hz: sine sweeping 150 -> 46 Hz under a fast decay,
    a short click on top. `length` is tuned to land the file on its size."""
    sr = 2 * BASE_RATE
    t = np.arange(length) / sr
    freq = 46.0 + 104.0 * np.exp(-t / 0.035)
    phase = 2 * np.pi * np.cumsum(freq) / sr
    amp = np.exp(-t / 0.16)
    body = np.sin(phase) * amp
    click = rng.standard_normal(length) * np.exp(-t / 0.0025) * 0.35
    x = body + click
    # Soft saturation for punch, then fade the last 20 ms so the end is silent.
    x = np.tanh(1.6 * x) / np.tanh(1.6)
    fade = min(length, int(0.02 * sr))
    x[-fade:] *= np.linspace(1.0, 0.0, fade)
    return to8(x * 0.98)


def snare():
    """Snare at 16,726 Hz: a 185 Hz body and band-limited noise; the last 512
    samples are noise only and loop, the volume envelope does the decay."""
    sr = 2 * BASE_RATE
    head, loop = 1100, 512
    n = head + loop
    t = np.arange(n) / sr
    noise = rng.standard_normal(n)
    # Gentle high-pass then low-pass: keeps the rattle, loses the hiss.
    noise = np.diff(np.concatenate([[0.0], noise]))
    noise = np.convolve(noise, np.ones(3) / 3, mode="same")
    noise /= np.max(np.abs(noise))
    body = np.sin(2 * np.pi * (185.0 + 60.0 * np.exp(-t / 0.01)) * t) * np.exp(-t / 0.04)
    x = 0.8 * body + 0.75 * noise * (0.5 + 0.5 * np.exp(-t / 0.03))
    x[head:] = 0.8 * noise[head:]
    x /= np.max(np.abs(x))
    x = np.tanh(2.2 * x) / np.tanh(2.2)  # denser: louder for the same peak
    return to8(x * 0.95), head, loop


def hihat():
    """Hi-hat at 33,452 Hz: 512 samples of high-passed noise, looped; the
    envelope cuts it short."""
    n = 512
    noise = rng.standard_normal(n + 2)
    x = noise[2:] - 1.6 * noise[1:-1] + 0.7 * noise[:-2]
    x /= np.max(np.abs(x))
    return to8(x * 0.9), 0, n


def bass():
    """Bass: 12 cycles of 64 samples, a saw/square blend whose upper
    harmonics die away cycle by cycle (a filter closing), last cycle looped."""
    cyc, count = 64, 12
    out = []
    k = np.arange(1, 24)
    for c in range(count):
        cutoff = 2.0 + 20.0 * np.exp(-c / 3.0)
        ph = 2 * np.pi * np.arange(cyc) / cyc
        wave = np.zeros(cyc)
        for h in k:
            g = 1.0 / (1.0 + (h / cutoff) ** 4)
            saw = 1.0 / h
            sq = (1.0 / h) if h % 2 else 0.0
            wave += g * (0.6 * saw + 0.5 * sq) * np.sin(h * ph)
        out.append(wave)
    x = np.concatenate(out)
    x /= np.max(np.abs(x))
    return to8(x * 0.95), (count - 1) * cyc, cyc


def lead():
    """Lead: one 64-sample cycle, a 30 % pulse with a little saw, softened so
    the high notes do not fizz."""
    cyc = 64
    ph = np.arange(cyc) / cyc
    pulse = np.where(ph < 0.3, 1.0, -1.0) - 0.4
    saw = 1.0 - 2.0 * ph
    x = 0.7 * pulse + 0.35 * saw
    harmonics = np.fft.rfft(x)
    harmonics[12:] = 0
    harmonics[1:12] *= np.linspace(1.0, 0.5, 11)
    x = np.fft.irfft(harmonics, cyc)
    x -= x.mean()
    x /= np.max(np.abs(x))
    return to8(x * 0.95), 0, cyc


def pad():
    """Chord voice: 16 cycles of 64 samples of a pulse whose width swings
    0.22 -> 0.5 -> 0.22 (pulse-width modulation), the whole run looped."""
    cyc, count = 64, 16
    out = []
    for c in range(count):
        width = 0.36 - 0.14 * np.cos(2 * np.pi * c / count)
        ph = (np.arange(cyc) + 0.5) / cyc
        wave = np.where(ph < width, 1.0, -1.0)
        wave = wave - (2 * width - 1)
        out.append(wave)
    x = np.concatenate(out)
    harmonics = np.fft.rfft(x)
    harmonics[count * 10:] = 0  # keep the first 10 harmonics of the note
    x = np.fft.irfft(harmonics, len(x))
    x /= np.max(np.abs(x))
    return to8(x * 0.9), 0, len(x)


# ---------------------------------------------------------------------------
# Notes and pattern cells.
# ---------------------------------------------------------------------------
NAMES = ["C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"]
KEY_OFF = 97


def N(name):
    """'A-4' -> XM note number (C-0 = 1, C-4 = 49)."""
    return int(name[2]) * 12 + NAMES.index(name[:2]) + 1


# Instrument numbers, as the pattern data counts them (from 1).
SNARE, BASS, PAD, KICK, LEAD, MESSAGE, HAT = 1, 2, 3, 4, 5, 6, 7

# Effects.
FX_ARP, FX_PORTA_DOWN, FX_VIBRATO, FX_JUMP, FX_EXT, FX_SPEED = 0x0, 0x2, 0x4, 0xB, 0xE, 0xF

# Chords as (root for stabs, arpeggio parameter, bass note).
CHORDS = {
    "Am": ("A-4", 0x37, "A-2"),
    "F": ("F-4", 0x47, "F-2"),
    "C": ("C-5", 0x47, "C-3"),
    "G": ("G-4", 0x47, "G-2"),
    "E": ("E-4", 0x47, "E-2"),
}


def vol(v):
    """Volume-column 'set volume' (0-64)."""
    return 0x10 + v


class Pattern:
    def __init__(self, rows):
        self.rows = rows
        self.cells = [[None, None] for _ in range(rows)]

    def set(self, row, ch, note=None, ins=None, vol=None, fx=None, par=None):
        cell = dict(self.cells[row][ch] or {})
        for k, v in (("note", note), ("ins", ins), ("vol", vol), ("fx", fx), ("par", par)):
            if v is not None:
                cell[k] = v
        self.cells[row][ch] = cell

    def fx(self, row, ch, fx, par):
        self.set(row, ch, fx=fx, par=par)

    def pack(self):
        out = bytearray()
        for row in self.cells:
            for cell in row:
                cell = cell or {}
                keys = [("note", 1), ("ins", 2), ("vol", 4), ("fx", 8), ("par", 16)]
                present = [(k, bit) for k, bit in keys if k in cell]
                # An effect number without parameter is stored as fx + par 0.
                if "fx" in cell and "par" not in cell:
                    cell["par"] = 0
                    present.append(("par", 16))
                if len(present) == 5:
                    out += bytes([cell["note"], cell["ins"], cell["vol"], cell["fx"], cell["par"]])
                else:
                    mask = 0x80
                    for _, bit in present:
                        mask |= bit
                    out.append(mask)
                    for k, _ in keys:
                        if k in cell:
                            out.append(cell[k])
        return bytes(out)


def header_speed(p, speed, bpm):
    """Row 0 sets the speed (ticks per row) on channel 1, BPM on channel 2."""
    p.fx(0, 0, FX_SPEED, speed)
    p.fx(0, 1, FX_SPEED, bpm)


# ---- channel 1: drums and bass ------------------------------------------------
def groove(p, bar, chord, style):
    """One bar (32 rows) of channel 1 starting at row 32*bar.
    Steps are 16th notes, two rows each."""
    base = 32 * bar
    bass_note = CHORDS[chord][2]
    octave_up = bass_note[:2] + str(int(bass_note[2]) + 1)

    def at(step, note, ins, v=None, fx=None, par=None, half=0):
        p.set(base + 2 * step + half, 0, note=N(note), ins=ins, vol=None if v is None else vol(v),
              fx=fx, par=par)

    if style == "kickbass":  # build-up: kick on beats 1 and 3, off-beat bass
        for s in (0, 8):
            at(s, "C-4", KICK)
        for s in (2, 6, 10, 14):
            at(s, bass_note, BASS, 52)
        at(11, bass_note, BASS, 36)
        return
    if style == "kickbass2":  # adds snare on 2 and 4 and a hat
        for s in (0, 8):
            at(s, "C-4", KICK)
        for s in (4, 12):
            at(s, "C-4", SNARE, 58)
        for s in (2, 6, 10, 14):
            at(s, bass_note, BASS, 54)
        at(7, "C-4", HAT, 38)
        at(15, "C-4", HAT, 48)
        return
    # Full groove; "b" bars syncopate the kick and end on a ghost snare.
    at(0, "C-4", KICK)
    at(2, bass_note, BASS, 56)
    at(3, octave_up, BASS, 40)
    at(4, "C-4", SNARE, 64)
    at(6, bass_note, BASS, 52)
    at(7, "C-4", HAT, 44)
    at(8, "C-4", KICK)
    at(10, bass_note, BASS, 56)
    if style == "full":
        at(11, octave_up, BASS, 40)
        at(12, "C-4", SNARE, 64)
        at(13, "C-4", HAT, 34)
        at(14, bass_note, BASS, 50)
        at(15, "C-4", HAT, 48)
    else:  # "fullb"
        at(11, "C-4", KICK)
        at(12, "C-4", SNARE, 64)
        at(14, bass_note, BASS, 50)
        at(15, "C-4", SNARE, 28)
        at(15, "C-4", SNARE, 44, half=1)


# ---- channel 2: chords and lead ----------------------------------------------
def chord_hold(p, row, chord, length, v=44, octave_shift=0):
    """A chord voice from `row` for `length` rows, arpeggio on every row it
    sounds (row 0 of a pattern carries the BPM command instead)."""
    root, arp, _ = CHORDS[chord]
    note = N(root) + 12 * octave_shift
    p.set(row, 1, note=note, ins=PAD, vol=vol(v))
    for r in range(row, row + length):
        if p.cells[r][1] and p.cells[r][1].get("fx") == FX_SPEED:
            continue
        p.fx(r, 1, FX_ARP, arp)


def key_off(p, row, ch=1):
    p.set(row, ch, note=KEY_OFF)


def stabs(p, bar, chord, steps, length=2, first_half=False):
    """Chord stabs at the given 16th steps of a bar, `length` steps each, key
    off after each one unless the next stab follows straight on."""
    base = 32 * bar
    for i, s in enumerate(steps):
        row = base + 2 * s
        rows = 2 * length
        chord_hold(p, row, chord, rows, v=46 if i == 0 else 40)
        end = row + rows
        nxt = base + 2 * steps[i + 1] if i + 1 < len(steps) else base + 32
        if end < nxt and end < p.rows:
            key_off(p, end)


def lead_line(p, bar, notes, v=48):
    """Lead notes as (16th step, note name or None for key off)."""
    base = 32 * bar
    for step, name in notes:
        row = base + int(step * 2)
        if name is None:
            key_off(p, row)
        else:
            p.set(row, 1, note=N(name), ins=LEAD, vol=vol(v))


# Lead motifs: the first half of each bar; the chord answers in the second.
MOTIF = {
    "Am": [(0, "E-5"), (2, "E-5"), (3, "D-5"), (4, "C-5"), (6, "E-5")],
    "F": [(0, "F-5"), (2, "E-5"), (3, "C-5"), (4, "A-4"), (6, "C-5")],
    "C": [(0, "G-5"), (2, "G-5"), (3, "F-5"), (4, "E-5"), (6, "G-5")],
    "G": [(0, "D-5"), (2, "B-4"), (3, "D-5"), (4, "G-5"), (6, "A-5")],
    "G2": [(0, "B-5"), (2, "A-5"), (3, "G-5"), (4, "D-5"), (6, "G-5")],
}
ANSWER = (8, 11, 14)


def lead_bar(p, bar, chord, motif=None):
    lead_line(p, bar, MOTIF[motif or chord])
    stabs(p, bar, chord, ANSWER)


# ---------------------------------------------------------------------------
# The song.
# ---------------------------------------------------------------------------
def intro():
    """Order 0, pattern 9: 24 rows at speed 8 / BPM 112. A held A minor
    chord, chord hits with snare on rows 9 and 11 (where the first caption
    flashes), then a G chord and a hat run into the build."""
    p = Pattern(24)
    header_speed(p, 8, 112)
    chord_hold(p, 0, "Am", 9, v=40)
    p.set(0, 0, note=N("A-2"), ins=BASS, vol=vol(50))
    p.set(4, 0, note=N("C-4"), ins=HAT, vol=vol(20))
    p.set(6, 0, note=N("C-4"), ins=HAT, vol=vol(26))
    for r, ch in ((9, "F"), (11, "C")):
        chord_hold(p, r, ch, 2, v=52)
        p.set(r, 0, note=N("C-4"), ins=SNARE, vol=vol(48))
    p.set(10, 0, note=N(CHORDS["F"][2]), ins=BASS, vol=vol(44))
    chord_hold(p, 13, "G", 11, v=42)
    p.set(13, 0, note=N("G-2"), ins=BASS, vol=vol(50))
    for i, r in enumerate(range(16, 24)):
        p.set(r, 0, note=N("C-4"), ins=HAT, vol=vol(18 + 4 * i))
    p.fx(22, 0, FX_EXT, 0x94)  # retrigger every 4 ticks: the run doubles up
    p.fx(23, 0, FX_EXT, 0x92)
    return p


def build(bars, ch1_styles, ch2):
    """96-row build pattern (3 bars) at speed 6 / BPM 255."""
    p = Pattern(96)
    for b, chord in enumerate(bars):
        groove(p, b, chord, ch1_styles[b])
    for b, chord in enumerate(bars):
        ch2(p, b, chord)
    header_speed(p, 6, 255)
    return p


def ch2_long(p, b, chord):
    chord_hold(p, 32 * b, chord, 20, v=38)
    chord_hold(p, 32 * b + 20, chord, 12, v=34)


def ch2_stabs(p, b, chord):
    stabs(p, b, chord, (0, 3, 6, 10, 12), length=2)


# Tempo ramp of order 4: BPM on rows 80..92, near-linear, chosen so the order
# lasts 6.59 s (rows 0-79 at 255, the ramp, rows 93-95 at 80).
RAMP = [255, 240, 225, 211, 196, 182, 167, 152, 138, 123, 109, 94, 80]


def build_last():
    """Order 4, pattern 6: F, C, then G where the tape stops: from row 80 the
    BPM falls each row while the lead slides down."""
    p = Pattern(96)
    groove(p, 0, "F", "full")
    groove(p, 1, "C", "fullb")
    lead_bar(p, 0, "F")
    lead_bar(p, 1, "C")
    # Bar 3 (rows 64-95): first half as usual, then the slowdown.
    base = 64
    p.set(base, 0, note=N("C-4"), ins=KICK)
    p.set(base + 4, 0, note=N("G-2"), ins=BASS, vol=vol(56))
    p.set(base + 8, 0, note=N("C-4"), ins=SNARE, vol=vol(56))
    p.set(base + 12, 0, note=N("G-2"), ins=BASS, vol=vol(52))
    lead_line(p, 2, MOTIF["G"])
    for i, bpm in enumerate(RAMP):
        row = 80 + i
        p.fx(row, 0, FX_SPEED, bpm)
    for r in (80, 84, 88):
        p.set(r, 0, note=N("C-4"), ins=KICK)
    p.set(82, 0, note=N("G-2"), ins=BASS, vol=vol(50))
    p.set(86, 0, note=N("G-2"), ins=BASS, vol=vol(44))
    p.set(92, 0, note=N("A-3"), ins=KICK)  # a last, lower boom as the tape stops
    p.set(80, 1, note=N("B-5"), ins=LEAD, vol=vol(52))
    for r in range(81, 95):
        p.fx(r, 1, FX_PORTA_DOWN, 0x04)
    p.set(95, 1, vol=vol(20))
    header_speed(p, 6, 255)
    return p


def breakdown():
    """Order 5, pattern 12: 24 rows at speed 8 / BPM 80. Slow arpeggiated
    chords over long bass notes, chord hits on rows 9 and 11 (the second
    caption flashes there), a snare roll that swells into the drop."""
    p = Pattern(24)
    header_speed(p, 8, 80)
    chord_hold(p, 0, "Am", 8, v=40)
    p.set(0, 0, note=N("A-2"), ins=BASS, vol=vol(54))
    chord_hold(p, 8, "F", 1, v=40)
    chord_hold(p, 9, "F", 2, v=50)
    chord_hold(p, 11, "C", 5, v=50)
    p.set(8, 0, note=N("F-2"), ins=BASS, vol=vol(52))
    p.set(11, 0, note=N("C-3"), ins=BASS, vol=vol(50))
    chord_hold(p, 16, "G", 4, v=42)
    chord_hold(p, 20, "E", 4, v=46)
    p.set(16, 0, note=N("G-2"), ins=BASS, vol=vol(52))
    for i, r in enumerate(range(19, 24)):
        p.set(r, 0, note=N("C-4"), ins=SNARE, vol=vol(22 + 9 * i), fx=FX_EXT,
              par=0x94 if r < 22 else 0x92)
    return p


def main_pattern(chords, styles, motifs, last_bar=None):
    """64-row pattern (2 bars) of the looping main part."""
    p = Pattern(64)
    for b, (chord, style) in enumerate(zip(chords, styles)):
        groove(p, b, chord, style)
    for b, chord in enumerate(chords):
        if last_bar is not None and b == 1:
            last_bar(p)
        else:
            lead_bar(p, b, chord, motifs[b])
    header_speed(p, 6, 255)
    return p


def turnaround(p):
    """Bar 2 of pattern 13 (E major): a held G#5 with vibrato, then a run
    back up to the top of the loop."""
    base = 32
    p.set(base, 1, note=N("G#5"), ins=LEAD, vol=vol(50))
    for r in range(base + 4, base + 12):
        p.fx(r, 1, FX_VIBRATO, 0x64)
    for step, name in ((6, "B-5"), (8, "D-6"), (10, "C-6"), (12, "B-5"), (14, "G#5")):
        p.set(base + 2 * step, 1, note=N(name), ins=LEAD, vol=vol(48))
    for r in range(base + 29, base + 31):
        p.fx(r, 1, FX_VIBRATO, 0x44)


def leftover_drums():
    """Pattern 3 (not in the order table): the main groove without melody."""
    p = Pattern(64)
    groove(p, 0, "Am", "full")
    groove(p, 1, "F", "fullb")
    header_speed(p, 6, 255)
    return p


def leftover_outro():
    """Pattern 5 (not in the order table): an ending that the loop never
    reaches; a held A minor chord over a last kick."""
    p = Pattern(32)
    p.set(0, 0, note=N("C-4"), ins=KICK)
    chord_hold(p, 0, "Am", 24, v=40)
    p.set(0, 1, fx=FX_ARP, par=0x37)
    p.set(2, 0, note=N("A-2"), ins=BASS, vol=vol(50))
    key_off(p, 24)
    return p


def leftover_fill(rows):
    """Short snare fills (patterns 4, 7, 11, 14, 15): sketches, unused."""
    p = Pattern(rows)
    for r in range(0, rows, 2):
        p.set(r, 0, note=N("C-4"), ins=SNARE, vol=vol(20 + (44 * r) // max(1, rows - 1)))
    return p


def song():
    pats = [None] * 16
    pats[9] = intro()
    pats[0] = build(["Am", "F", "C"], ["kickbass"] * 3, ch2_long)
    pats[1] = build(["G", "Am", "F"], ["kickbass2"] * 3, ch2_stabs)
    p2 = Pattern(96)
    for b, chord in enumerate(["C", "G", "Am"]):
        groove(p2, b, chord, "full" if b != 1 else "fullb")
        lead_bar(p2, b, chord)
    header_speed(p2, 6, 255)
    pats[2] = p2
    pats[6] = build_last()
    pats[12] = breakdown()
    pats[8] = main_pattern(["Am", "F"], ["full", "fullb"], ["Am", "F"])
    pats[10] = main_pattern(["C", "G"], ["full", "fullb"], ["C", "G"])
    p13 = main_pattern(["G", "E"], ["full", "fullb"], ["G2", None], last_bar=turnaround)
    p13.fx(63, 0, FX_JUMP, 6)  # back to order 6: the loop
    pats[13] = p13
    pats[3] = leftover_drums()
    pats[5] = leftover_outro()
    for i, rows in zip((4, 7, 11, 14, 15), (8, 8, 16, 8, 8)):
        pats[i] = leftover_fill(rows)
    return pats


ORDERS = [9, 0, 1, 2, 6, 12, 8, 10, 8, 13]

# ---------------------------------------------------------------------------
# XM writer.
# ---------------------------------------------------------------------------
def text(s, n):
    b = s.encode("ascii")
    assert len(b) <= n
    return b + b"\0" * (n - len(b))


def envelope(points, sustain=None, loop=None):
    """12-point envelope block: (tick, value 0..64) pairs."""
    pts = list(points) + [(0, 0)] * (12 - len(points))
    data = b"".join(struct.pack("<HH", x, y) for x, y in pts)
    flags = 1
    if sustain is not None:
        flags |= 2
    if loop is not None:
        flags |= 4
    return data, len(points), sustain or 0, loop or (0, 0), flags


def instrument(name, sample=None, env=None, vib=(0, 0, 0, 0), fadeout=0):
    """Instrument header + (optionally) its one sample header and data."""
    if sample is None:
        return struct.pack("<I", 29) + text(name, 22) + bytes([0]) + struct.pack("<H", 0)
    data, loop_start, loop_len, volume, finetune, panning, relnote, sname = sample
    h = bytearray()
    h += struct.pack("<I", 263) + text(name, 22) + bytes([0]) + struct.pack("<H", 1)
    h += struct.pack("<I", 40)
    h += bytes(96)  # every note plays sample 0
    if env is None:
        venv, vn, vsus, vloop, vflags = bytes(48), 0, 0, (0, 0), 0
    else:
        venv, vn, vsus, vloop, vflags = envelope(*env)
    h += venv + bytes(48)
    h += bytes([vn, 0, vsus, vloop[0], vloop[1], 0, 0, 0, vflags, 0])
    h += bytes(vib)
    h += struct.pack("<H", fadeout)
    h += bytes(22)
    assert len(h) == 263
    # Sample header.
    s8 = np.asarray(data, dtype=np.int16)
    loop_type = 1 if loop_len else 0
    h += struct.pack("<III", len(s8), loop_start, loop_len)
    h += bytes([volume, finetune & 0xFF, loop_type, panning, relnote & 0xFF, 0])
    h += text(sname, 22)
    # 8-bit delta coding: each byte is the change from the previous sample.
    prev = 0
    out = bytearray()
    for v in s8.tolist():
        out.append((v - prev) & 0xFF)
        prev = v
    return bytes(h) + bytes(out)


def build_module(kick_len):
    pats = song()
    head = bytearray()
    head += b"Extended Module: " + text("zephyra party", 20) + b"\x1a"
    head += text("zephyra tools", 20)
    head += struct.pack("<H", 0x0104)
    head += struct.pack("<IHHHHHHHH", 276, len(ORDERS), 0, 2, 16, 7, 1, 4, 145)
    head += bytes(ORDERS) + bytes(256 - len(ORDERS))
    assert len(head) == 60 + 276
    body = bytearray()
    for p in pats:
        data = p.pack()
        body += struct.pack("<IBHH", 9, 0, p.rows, len(data)) + data

    sn, sn_head, sn_loop = snare()
    hh, hh_ls, hh_ll = hihat()
    bs, bs_ls, bs_ll = bass()
    ld, ld_ls, ld_ll = lead()
    pd, pd_ls, pd_ll = pad()
    kk = kick(kick_len)
    # Instruments: (name, sample tuple, envelope, autovibrato, fadeout).
    # Sample tuple: data, loop start, loop length, volume, finetune, pan,
    # relative note, name. Volumes leave headroom so two channels never clip.
    insts = [
        instrument("snare", (sn, sn_head, sn_loop, 64, 0, 128, 12, "noise+body 16k"),
                   env=([(0, 64), (6, 52), (16, 30), (30, 12), (48, 0)],)),
        instrument("bass", (bs, bs_ls, bs_ll, 60, 0, 128, 12, "closing filter 12cyc"),
                   env=([(0, 64), (6, 50), (24, 34), (64, 22), (160, 10)],), fadeout=2048),
        instrument("chord pad", (pd, pd_ls, pd_ll, 48, 0, 150, 12, "pwm 16cyc"),
                   env=([(0, 40), (2, 64), (14, 46), (60, 34), (200, 24)],),
                   vib=(0, 20, 2, 12), fadeout=3072),
        instrument("kick", (kk, 0, 0, 64, 0, 128, 12, "kick 16k")),
        instrument("lead", (ld, ld_ls, ld_ll, 44, 0, 104, 12, "pulse 30"),
                   env=([(0, 64), (3, 56), (20, 46), (80, 38), (240, 30)],),
                   vib=(0, 30, 3, 14), fadeout=2048),
        instrument("a zephyra crew tune"),
        instrument("hihat", (hh, hh_ls, hh_ll, 56, 0, 176, 24, "noise 33k"),
                   env=([(0, 64), (2, 34), (5, 14), (9, 4), (12, 0)],)),
    ]
    return bytes(head) + bytes(body) + b"".join(insts)


def main():
    base_kick = 1400
    size = len(build_module(base_kick))
    kick_len = base_kick + (TARGET_SIZE - size)
    if kick_len < 800:
        sys.exit(f"module too large: {size} bytes with a {base_kick}-sample kick")
    # The noise generator is re-seeded so the build is identical each time.
    global rng
    rng = np.random.default_rng(20261207)
    data = build_module(kick_len)
    assert len(data) == TARGET_SIZE, len(data)
    with open(OUT, "wb") as f:
        f.write(data)
    print(f"{OUT}: {len(data)} bytes, kick {kick_len} samples")


if __name__ == "__main__":
    main()
