#!/usr/bin/python3
"""Writes the decoder fuzzer's seed corpus: small bitmap files (1 to 32 bits,
bottom-up and top-down, bit fields, run-length RLE8 and RLE4, a core header),
icon files (32-bit alpha, 8/4/1-bit with masks, a PNG image, a cursor) and JPEG files (baseline, greyscale, progressive, restart
markers, four components, truncated). Run once; the outputs are committed.
Needs Debian's python3-pil and python3-numpy."""
import io
import os
import struct

import numpy as np
from PIL import Image

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
os.makedirs(out, exist_ok=True)

y, x = np.mgrid[0:16, 0:16]
rgb = np.stack([x * 16, y * 16, (x ^ y) * 16], axis=-1).astype(np.uint8)


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def pil(image, fmt, **kw):
    b = io.BytesIO()
    image.save(b, fmt, **kw)
    return b.getvalue()


def stride(width, bits):
    return (width * bits + 31) // 32 * 4


def dib(width, height, bits, rows, palette=b"", compression=0, masks=b"", height_field=None):
    """Info header + masks/palette + rows (rows already in stored order)."""
    h = height if height_field is None else height_field
    header = struct.pack("<IiiHHIIiiII", 40, width, h, 1, bits, compression, len(rows), 0, 0,
                         len(palette) // 4, 0)
    return header + masks + palette + rows


def bmp_file(info_and_rows, table_bytes):
    return b"BM" + struct.pack("<IHHI", 14 + len(info_and_rows), 0, 0, 14 + 40 + table_bytes) + info_and_rows


def pack_rows(width, height, bits, pixel_bytes, top_down):
    s = stride(width, bits)
    rows = []
    for r in range(height):
        yy = r if top_down else height - 1 - r
        row = pixel_bytes(yy)
        rows.append(row + b"\0" * (s - len(row)))
    return b"".join(rows)


# Bitmap files through PIL (bottom-up) and by hand (top-down, 16-bit, 32-bit).
write("bmp24.bmp", pil(Image.fromarray(rgb), "BMP"))
write("bmp8.bmp", pil(Image.fromarray(rgb).convert("P", palette=Image.ADAPTIVE, colors=32), "BMP"))
write("bmp1.bmp", pil(Image.fromarray(rgb).convert("1"), "BMP"))
bgr = lambda yy: bytes(v for px in rgb[yy] for v in (px[2], px[1], px[0]))
write("bmp24_topdown.bmp", bmp_file(dib(16, 16, 24, pack_rows(16, 16, 24, bgr, True), height_field=-16), 0))
bgrx = lambda yy: bytes(v for px in rgb[yy] for v in (px[2], px[1], px[0], 0x80))
write("bmp32.bmp", bmp_file(dib(16, 16, 32, pack_rows(16, 16, 32, bgrx, False)), 0))
p565 = lambda yy: b"".join(struct.pack("<H", ((px[0] >> 3) << 11) | ((px[1] >> 2) << 5) | (px[2] >> 3)) for px in rgb[yy])
masks = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
write("bmp16_bitfields.bmp", bmp_file(dib(16, 16, 16, pack_rows(16, 16, 16, p565, True), compression=3,
                                          masks=masks, height_field=-16), 12))
palette16 = b"".join(struct.pack("<BBBB", i * 16, 255 - i * 16, i * 8, 0) for i in range(16))
nibbles = lambda yy: bytes(((x0 % 16) << 4) | ((x0 + yy) % 16) for x0 in range(0, 16, 2))
write("bmp4.bmp", bmp_file(dib(16, 16, 4, pack_rows(16, 16, 4, nibbles, False), palette=palette16), 64))


def icon_file(image, width, height, kind=1):
    return struct.pack("<HHH", 0, kind, 1) + struct.pack("<BBBBHHII", width, height, 0, 0, 1, 32, len(image), 22) + image


def mask_rows(width, height, transparent):
    s = stride(width, 1)
    rows = []
    for r in range(height):
        yy = height - 1 - r
        bits = bytearray(s)
        for xx in range(width):
            if transparent(xx, yy):
                bits[xx // 8] |= 0x80 >> (xx % 8)
        rows.append(bytes(bits))
    return b"".join(rows)


circle = lambda xx, yy: (xx - 7.5) ** 2 + (yy - 7.5) ** 2 > 49
bgra = lambda yy: bytes(v for xx, px in enumerate(rgb[yy]) for v in (px[2], px[1], px[0], 0 if circle(xx, yy) else 255))
image32 = dib(16, 16, 32, pack_rows(16, 16, 32, bgra, False) + mask_rows(16, 16, circle), height_field=32)
write("icon32_alpha.ico", icon_file(image32, 16, 16))
write("cursor.cur", icon_file(image32, 16, 16, kind=2))
palette256 = b"".join(struct.pack("<BBBB", i, (i * 3) & 255, 255 - i, 0) for i in range(256))
index8 = lambda yy: bytes((xx * 16 + yy) & 255 for xx in range(16))
image8 = dib(16, 16, 8, pack_rows(16, 16, 8, index8, False) + mask_rows(16, 16, circle), palette=palette256,
             height_field=32)
write("icon8_mask.ico", icon_file(image8, 16, 16))
image4 = dib(16, 16, 4, pack_rows(16, 16, 4, nibbles, False) + mask_rows(16, 16, circle), palette=palette16,
             height_field=32)
write("icon4_mask.ico", icon_file(image4, 16, 16))
palette2 = struct.pack("<BBBBBBBB", 0, 0, 0, 0, 255, 255, 255, 0)
ones = lambda yy: bytes([0xAA if yy % 2 else 0x55] * 2)
image1 = dib(16, 16, 1, pack_rows(16, 16, 1, ones, False) + mask_rows(16, 16, circle), palette=palette2,
             height_field=32)
write("icon1_mask.ico", icon_file(image1, 16, 16))

# JPEG files.
colour = Image.fromarray(rgb)
write("baseline420.jpg", pil(colour, "JPEG", quality=75, subsampling=2))
write("baseline444.jpg", pil(colour, "JPEG", quality=90, subsampling=0))
write("grey.jpg", pil(colour.convert("L"), "JPEG", quality=80))
write("progressive.jpg", pil(colour, "JPEG", quality=75, progressive=True))
write("cmyk.jpg", pil(colour.convert("CMYK"), "JPEG", quality=75))
write("odd_size.jpg", pil(Image.fromarray(np.ascontiguousarray(rgb[:13, :11])), "JPEG", quality=70))
full = pil(Image.fromarray(np.tile(rgb, (4, 4, 1))), "JPEG", quality=90)
write("truncated.jpg", full[: len(full) * 3 // 4])
# Restart markers every MCU row, and arithmetic coding, through cjpeg.
import subprocess
ppm = pil(colour, "PPM")
for name, args in (("restart.jpg", ["-restart", "1"]), ("arithmetic.jpg", ["-arithmetic"])):
    write(name, subprocess.run(["cjpeg", "-quality", "70"] + args, input=ppm, capture_output=True, check=True).stdout)

# Run-length bitmaps (with delta and end-of-line escapes), a core-header
# bitmap, 5-5-5 bit fields, and an icon whose image is a PNG.
palette16b = b"".join(struct.pack("<BBBB", i * 16, 255 - i * 16, i * 8, 0) for i in range(16))
rle8 = bytes([16, 3, 0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 0, 2, 4, 2, 8, 7, 0, 0, 16, 9, 0, 1])
write("rle8.bmp", b"BM" + struct.pack("<IHHI", 14 + 40 + 64 + len(rle8), 0, 0, 14 + 40 + 64)
      + struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 8, 1, len(rle8), 0, 0, 16, 0) + palette16b + rle8)
rle4 = bytes([16, 0x12, 0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 2, 3, 5, 6, 0xAB, 0, 0, 16, 0xCD, 0, 1])
write("rle4.bmp", b"BM" + struct.pack("<IHHI", 14 + 40 + 64 + len(rle4), 0, 0, 14 + 40 + 64)
      + struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 4, 2, len(rle4), 0, 0, 16, 0) + palette16b + rle4)
core_palette = b"".join(struct.pack("<BBB", i * 16, 255 - i * 16, i * 8) for i in range(16))
write("core4.bmp", b"BM" + struct.pack("<IHHI", 14 + 12 + 48 + 16 * 8, 0, 0, 14 + 12 + 48)
      + struct.pack("<IHHHH", 12, 16, 16, 1, 4) + core_palette + pack_rows(16, 16, 4, nibbles, False))
p555 = lambda yy: b"".join(struct.pack("<H", ((px[0] >> 3) << 10) | ((px[1] >> 3) << 5) | (px[2] >> 3)) for px in rgb[yy])
write("bmp16_555.bmp", bmp_file(dib(16, 16, 16, pack_rows(16, 16, 16, p555, False), compression=3,
                                    masks=struct.pack("<III", 0x7C00, 0x03E0, 0x001F)), 12))
png = pil(Image.fromarray(np.dstack([rgb, (rgb[..., 0] ^ rgb[..., 1])]).astype(np.uint8), "RGBA"), "PNG")
write("icon_png.ico", struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, len(png), 22) + png)
