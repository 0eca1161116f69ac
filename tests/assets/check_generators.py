#!/usr/bin/python3
"""Runs the asset generators into a scratch folder and compares what they
write with the committed files in assets/. Exit status 0 when they match.

On the machine that made the commit the files come out byte for byte the
same. numpy's sin/exp may round differently on another CPU (its vector code
paths differ by instruction set), so where bytes differ the comparison falls
back to content: the XM must match outside its sample data and every sample
value within 1 step; a JPEG must decode to pixels within a small mean error.
The captions (FreeType only) must always be identical.

    /usr/bin/python3 tests/assets/check_generators.py <source dir> <scratch dir>
"""
import io
import os
import struct
import subprocess
import sys

import numpy as np
from PIL import Image


def xm_sample_spans(d):
    """(offset, length, 16-bit?) of every sample's data in an XM file."""
    spans = []
    at = 60 + struct.unpack_from("<I", d, 60)[0]
    patterns, instruments = struct.unpack_from("<HH", d, 70)
    for _ in range(patterns):
        at += struct.unpack_from("<I", d, at)[0] + struct.unpack_from("<H", d, at + 7)[0]
    for _ in range(instruments):
        size = struct.unpack_from("<I", d, at)[0]
        count = struct.unpack_from("<H", d, at + 27)[0]
        shsize = struct.unpack_from("<I", d, at + 29)[0] if count else 0
        at += size
        heads = []
        for _ in range(count):
            heads.append((struct.unpack_from("<I", d, at)[0], d[at + 14] & 0x10))
            at += shsize
        for length, wide in heads:
            spans.append((at, length, bool(wide)))
            at += length
    return spans


def xm_samples(d, span):
    at, length, wide = span
    raw = np.frombuffer(d[at:at + length], dtype=np.int16 if wide else np.int8).astype(np.int64)
    bits = 16 if wide else 8
    vals = np.cumsum(raw)  # delta decoding, wrapping at the sample width
    return (vals + (1 << (bits - 1))) % (1 << bits) - (1 << (bits - 1))


def same_xm(a, b):
    if len(a) != len(b):
        return "lengths differ"
    spans = xm_sample_spans(a)
    if spans != xm_sample_spans(b):
        return "sample layout differs"
    mask = np.ones(len(a), bool)
    for at, length, _ in spans:
        mask[at:at + length] = False
    aa, bb = np.frombuffer(a, np.uint8), np.frombuffer(b, np.uint8)
    if np.any(aa[mask] != bb[mask]):
        return "header, patterns or instruments differ"
    for span in spans:
        if np.max(np.abs(xm_samples(a, span) - xm_samples(b, span)), initial=0) > 1:
            return "sample values differ by more than 1"
    return None


def same_jpeg(a, b):
    pa = np.asarray(Image.open(io.BytesIO(a)).convert("RGB"), dtype=np.float64)
    pb = np.asarray(Image.open(io.BytesIO(b)).convert("RGB"), dtype=np.float64)
    if pa.shape != pb.shape:
        return "sizes differ"
    err = np.mean(np.abs(pa - pb))
    return None if err < 1.0 else f"pixels differ, mean error {err:.2f}"


def main():
    src, scratch = sys.argv[1], sys.argv[2]
    os.makedirs(scratch, exist_ok=True)
    for tool in ("make_module.py", "make_images.py"):
        subprocess.run([sys.executable, os.path.join(src, "tools", tool), scratch], check=True,
                       stdout=subprocess.DEVNULL)
    names = ["zephyra.xm", "caption_a.raw", "caption_b.raw", "floor.jpg"] + [f"object{i}.jpg" for i in range(7)]
    failed = False
    for name in names:
        committed = open(os.path.join(src, "assets", name), "rb").read()
        fresh = open(os.path.join(scratch, name), "rb").read()
        if committed == fresh:
            print(f"{name}: identical")
            continue
        if name.endswith(".xm"):
            why = same_xm(committed, fresh)
        elif name.endswith(".jpg"):
            why = same_jpeg(committed, fresh)
        else:
            why = "bytes differ"
        if why:
            print(f"{name}: regenerated file does not match the committed one: {why}")
            failed = True
        else:
            print(f"{name}: same content, different rounding")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
