#!/usr/bin/python3
"""Compares the browser's pictures with the native capture's at the same
music times.

    compare_frames.py times SUMMARY                  prints the music times to capture
    compare_frames.py compare TOLERANCE SUMMARY NATIVE_DIR

SUMMARY is web_test.js's summary.json: for each picture, the music time asked
for and the music times read just before and just after the screenshot (a
screenshot of software-rendered WebGL takes a while on a busy machine). The
native frames (zephyra-capture --at, 60 fps numbering, frame_<k>.png for music
time k/60) cover that span every STEP frames; the picture's distance to "the
native frame at the same music time" is its smallest distance to those.

Each picture is cut to 640x480, averaged down to 80x60 blocks of 8x8 pixels
and taken as grey levels 0-255. The distance of two pictures is the sum of
the absolute differences of their blocks over the sum of the brighter of the
two, in percent: 0 for the same picture, 100 for pictures whose lit areas do
not overlap at all. Dividing by the lit area keeps two mostly black caption
screens apart (their text lies in different places) as well as two full
scenes. Block averages forgive what legitimately differs between the
renderers (WebGL on SwiftShader against Mesa, 1-pixel edges, filtering).
Colours are left out on purpose: the morph body's colour and the cube's
picture are drawn at random per run, and the native capture has a fixed seed.

Checks, for each browser picture: it shows something (a block brighter than
LIT; a black canvas would otherwise match the black frames before a fade),
its distance to the native frames of its own time is at most TOLERANCE, and
its distance to the native frames of every OTHER picture's time (a wrong
scene) is above it. Of each set of pictures under "nearestAny" in the
summary (the silent demo's first seconds) at least one must show something
and lie nearest to the scene named; pictures under "dark" must show nothing.
Prints the table; exit status 1 on a failure.
"""
import json
import math
import os
import sys

import numpy as np
from PIL import Image

BLOCK = 8
FPS = 60
STEP = 2          # frames between native stills inside a picture's span
MARGIN = 6        # frames before and after the span (the animation ticks on its own timer)
LIT = 40          # grey level a block must pass somewhere: the picture shows something


def blocks(path):
    image = Image.open(path).convert("L")
    if image.size != (640, 480):
        image = image.resize((640, 480), Image.BILINEAR)
    a = np.asarray(image, dtype=np.float64)
    return a.reshape(480 // BLOCK, BLOCK, 640 // BLOCK, BLOCK).mean(axis=(1, 3))


def distance(a, b):
    lit = np.maximum(a, b).sum()
    return float(100.0 * np.abs(a - b).sum() / lit) if lit > 0 else 0.0


def span(shot):
    before = shot.get("musicBefore") or shot["time"]
    after = shot.get("musicAfter") or before
    first = max(0, math.floor(before * FPS) - MARGIN)
    last = math.ceil(after * FPS) + MARGIN
    return list(range(first, last + 1, STEP))


def main(argv):
    if len(argv) >= 3 and argv[1] == "times":
        shots = json.load(open(argv[2]))["shots"]
        print(",".join(f"{k / FPS:.6f}" for shot in shots for k in span(shot)))
        return 0
    if len(argv) != 5 or argv[1] != "compare":
        print(__doc__)
        return 2
    tolerance, shots, native_dir = float(argv[2]), json.load(open(argv[3]))["shots"], argv[4]
    native = []
    for shot in shots:
        frames = [os.path.join(native_dir, f"frame_{k:06d}.png") for k in span(shot)]
        frames = [f for f in frames if os.path.exists(f)]
        if not frames:
            print(f"FAIL no native frames for music time {shot['time']}")
            return 1
        native.append([blocks(f) for f in frames])
    failed = 0
    for i, shot in enumerate(shots):
        web = blocks(shot["file"])
        row = [min(distance(web, n) for n in group) for group in native]
        same = row[i]
        wrong = [d for j, d in enumerate(row) if j != i]
        lit = web.max() > LIT
        ok = lit and same <= tolerance and all(d > tolerance for d in wrong)
        print(f"{'PASS' if ok else 'FAIL'} picture at {shot['time']} s{'' if lit else ' (shows nothing)'}: "
              f"{same:.1f} from the native frames of its "
              f"time (<= {tolerance}), {min(wrong):.1f} from the nearest other scene (> {tolerance}); "
              f"row {' '.join(f'{d:5.1f}' for d in row)}")
        failed += not ok
    for group in json.load(open(argv[3])).get("nearestAny", []):
        found = []
        for path in group["files"]:
            web = blocks(path)
            row = [min(distance(web, n) for n in frames) for frames in native]
            if web.max() > LIT and min(range(len(row)), key=row.__getitem__) == group["scene"]:
                found.append(os.path.basename(path))
        ok = bool(found)
        print(f"{'PASS' if ok else 'FAIL'} the scene of the picture at {shots[group['scene']]['time']} s shows in "
              f"{', '.join(found) if found else 'none'} of {len(group['files'])} pictures")
        failed += not ok
    for path in json.load(open(argv[3])).get("dark", []):
        ok = blocks(path).max() <= LIT
        print(f"{'PASS' if ok else 'FAIL'} {os.path.basename(path)} shows nothing")
        failed += not ok
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
