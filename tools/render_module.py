#!/usr/bin/python3
"""Renders the demo's XM tune to a WAV file through libxmp, tick by tick, and
prints where each order starts and how loud each order is.

    /usr/bin/python3 tools/render_module.py [module.xm] [out.wav] [seconds]

Defaults: assets/zephyra.xm, /tmp/zephyra.wav, 75 s (one pass through orders
0-9 and about 2.5 passes of the 6-9 loop). 44,100 Hz, 16-bit stereo, libxmp's
default mixer settings, as the demo's sound library plays it.
Measure an excerpt with sox, e.g.
    sox /tmp/zephyra.wav -n trim 34 20 stats
"""
import ctypes
import os
import sys
import wave

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 44100


class FrameInfo(ctypes.Structure):
    # The leading fields of libxmp's struct xmp_frame_info; the channel
    # table that follows is covered by the padding.
    _fields_ = [
        ("pos", ctypes.c_int), ("pattern", ctypes.c_int), ("row", ctypes.c_int),
        ("num_rows", ctypes.c_int), ("frame", ctypes.c_int), ("speed", ctypes.c_int),
        ("bpm", ctypes.c_int), ("time", ctypes.c_int), ("total_time", ctypes.c_int),
        ("frame_time", ctypes.c_int), ("buffer", ctypes.c_void_p),
        ("buffer_size", ctypes.c_int), ("total_size", ctypes.c_int),
        ("volume", ctypes.c_int), ("loop_count", ctypes.c_int),
        ("virt_channels", ctypes.c_int), ("virt_used", ctypes.c_int),
        ("sequence", ctypes.c_int), ("channel_info", ctypes.c_ubyte * (64 * 24)),
    ]


def render(path, seconds):
    lib = ctypes.CDLL("libxmp.so.4")
    lib.xmp_create_context.restype = ctypes.c_void_p
    ctx = ctypes.c_void_p(lib.xmp_create_context())
    data = open(path, "rb").read()
    buf = ctypes.create_string_buffer(data, len(data))
    if lib.xmp_load_module_from_memory(ctx, buf, ctypes.c_long(len(data))) != 0:
        sys.exit("libxmp cannot load " + path)
    lib.xmp_start_player(ctx, RATE, 0)
    fi = FrameInfo()
    chunks, starts = [], []
    frames = 0
    last = (-1, -1)
    while frames < seconds * RATE:
        if lib.xmp_play_frame(ctx) != 0:
            break
        lib.xmp_get_frame_info(ctx, ctypes.byref(fi))
        if fi.row == 0 and fi.frame == 0 and (fi.pos, fi.loop_count) != last:
            starts.append((fi.pos, fi.pattern, fi.speed, fi.bpm, frames / RATE))
            last = (fi.pos, fi.loop_count)
        n = fi.buffer_size // 2
        chunks.append(np.ctypeslib.as_array(ctypes.cast(fi.buffer, ctypes.POINTER(ctypes.c_int16)),
                                            (n,)).copy())
        frames += fi.buffer_size // 4
    lib.xmp_end_player(ctx)
    lib.xmp_release_module(ctx)
    lib.xmp_free_context(ctx)
    return np.concatenate(chunks).reshape(-1, 2), starts


def db(x):
    return 20 * np.log10(max(x, 1e-9) / 32768.0)


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "assets", "zephyra.xm")
    out = sys.argv[2] if len(sys.argv) > 2 else "/tmp/zephyra.wav"
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 75.0
    pcm, starts = render(path, seconds)
    with wave.open(out, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(pcm.astype("<i2").tobytes())
    print(f"{out}: {len(pcm) / RATE:.2f} s")
    ends = [s[4] for s in starts[1:]] + [len(pcm) / RATE]
    for (pos, pat, speed, bpm, t), end in zip(starts, ends):
        seg = pcm[int(t * RATE):int(end * RATE)].astype(np.float64)
        peak = np.max(np.abs(seg)) if len(seg) else 0
        rms = np.sqrt(np.mean(seg ** 2)) if len(seg) else 0
        # Quietest 100 ms window: a gap in the music shows up here.
        win = int(0.1 * RATE)
        quiet = min((np.sqrt(np.mean(seg[i:i + win] ** 2)) for i in range(0, max(1, len(seg) - win), win)),
                    default=0)
        print(f"order {pos:2d} pat {pat:2d} speed {speed} bpm {bpm:3d} start {t:7.3f} s "
              f"len {end - t:6.3f} s peak {db(peak):6.1f} dBFS rms {db(rms):6.1f} dBFS "
              f"quietest 100 ms {db(quiet):6.1f} dBFS")
    clipped = int(np.sum(np.abs(pcm.astype(np.int32)) >= 32767))
    print(f"samples at full scale: {clipped}")


if __name__ == "__main__":
    main()
