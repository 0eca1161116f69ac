#!/usr/bin/python3
# Watches an Xvfb screen through its framebuffer file (Xvfb -fbdir) while
# the demo runs, and keeps the frames the Wine whole-program test checks:
# the first caption at about 0.8 s of music, the morph at 10 s, the second
# caption near 28.5 s and the cube at 50 s. The music's start is taken from
# the first caption: it fades in from alpha 0 by 1.0 a second (white text
# blended over black), so its brightest pixels give the time since then.
# usage: screen_watch.py FRAMEBUFFER OUTDIR [TIMEOUT_S [NAMES]]
#   NAMES: the frames to keep, comma-separated (default all four:
#   caption_a,morph,caption_b,cube); it ends when it has them.
# Prints one line per kept frame: name, music time (s), bright, coloured.
import sys
import time

import numpy as np
from PIL import Image

fb_path, out_dir = sys.argv[1], sys.argv[2]
timeout = float(sys.argv[3]) if len(sys.argv) > 3 else 150.0
names = sys.argv[4].split(",") if len(sys.argv) > 4 else ["caption_a", "morph", "caption_b", "cube"]


def read_screen():
    # XWD: a big-endian header (its size first), a colour map of 12-byte
    # entries, then the pixels, rows of bytes_per_line.
    with open(fb_path, "rb") as f:
        data = f.read()
    h = np.frombuffer(data[:100], dtype=">u4")
    header_size, width, height = int(h[0]), int(h[4]), int(h[5])
    bits, line, ncolors = int(h[11]), int(h[12]), int(h[19])
    offset = header_size + 12 * ncolors
    if bits != 32:
        raise SystemExit("framebuffer is %d bits a pixel; use a 24-bit screen" % bits)
    pixels = np.frombuffer(data, dtype=np.uint8, count=line * height, offset=offset)
    rgb = pixels.reshape(height, line // 4, 4)[:, :width, 2::-1]  # BGRX -> RGB
    return rgb


def stats(rgb):
    a = rgb[:480, :640].astype(int)
    mx, mn = a.max(2), a.min(2)
    return (mx > 64).mean(), ((mx - mn) > 60).mean()


def caption_alpha(rgb):
    grey = rgb[:480, :640].max(2)
    lit = grey[grey > 16]
    return float(np.percentile(lit, 99)) / 255.0 if lit.size else 0.0


def is_caption(bright, coloured):
    # Some grey text on black. (Before the first frame the window shows its
    # class background, light grey all over: not a caption.)
    return 0.001 < bright < 0.2 and coloured < 0.002


def keep(name, rgb, music_time, bright, coloured):
    Image.fromarray(np.ascontiguousarray(rgb)).save("%s/%s.png" % (out_dir, name))
    print("%s %.2f %.4f %.4f" % (name, music_time, bright, coloured), flush=True)


start = time.monotonic()
music_start = None
wanted = [w for w in [("morph", 10.0, None), ("caption_b", 27.5, 30.5), ("cube", 50.0, None)] if w[0] in names]
while time.monotonic() - start < timeout:
    now = time.monotonic()
    rgb = read_screen()
    bright, coloured = stats(rgb)
    if music_start is None:
        if is_caption(bright, coloured):
            alpha = caption_alpha(rgb)
            music_start = now - alpha
            keep("caption_a", rgb, alpha, bright, coloured)
            if not wanted:
                break
    else:
        t = now - music_start
        name, at, until = wanted[0]
        if until is None and t >= at:
            keep(name, rgb, t, bright, coloured)
            wanted.pop(0)
        elif until is not None and at <= t and is_caption(bright, coloured):
            keep(name, rgb, t, bright, coloured)
            wanted.pop(0)
        elif until is not None and t > until:
            print("%s none %.2f" % (name, t), flush=True)
            wanted.pop(0)
        if not wanted:
            break
    time.sleep(0.03)
