#!/usr/bin/python3
"""Makes the small JPEG files the image tests decode (run once; the outputs
are committed). Needs Debian's python3-pil and python3-numpy."""
import os
import numpy as np
from PIL import Image

here = os.path.dirname(os.path.abspath(__file__))
y, x = np.mgrid[0:256, 0:256]
rgb = np.zeros((256, 256, 3), np.uint8)
rgb[..., 0] = x                      # red grows to the right
rgb[..., 1] = y                      # green grows downwards
rgb[..., 2] = (x ^ y) & 0xFF         # a pattern with sharp edges
rgb[100:140, 30:90] = (240, 20, 30)  # a red block
rgb[200:256, 0:256, 2] = 255         # a blue band at the bottom
Image.fromarray(rgb).save(os.path.join(here, "colour.jpg"), quality=85, subsampling=2)
Image.fromarray(rgb).save(os.path.join(here, "progressive.jpg"), quality=80, progressive=True)
grey = ((x * 3 + y * 2) % 256).astype(np.uint8)[:48, :64]
Image.fromarray(grey, "L").save(os.path.join(here, "grey.jpg"), quality=90)
Image.fromarray(rgb[:32, :40]).convert("CMYK").save(os.path.join(here, "cmyk.jpg"), quality=90)

# Icon files whose one entry is a PNG image (the directory, then the PNG file
# as it is): RGBA with every alpha level, a palette with transparency, grey
# with alpha, and through ImageMagick 16-bit RGBA and an interlaced RGB one.
import io
import struct
import subprocess


def png_icon(name, png):
    width, height = struct.unpack(">II", png[16:24])
    entry = struct.pack("<BBBBHHII", width & 255, height & 255, 0, 0, 1, 32, len(png), 22)
    with open(os.path.join(here, name), "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1) + entry + png)


def png_bytes(image, **kw):
    b = io.BytesIO()
    image.save(b, "PNG", **kw)
    return b.getvalue()


y, x = np.mgrid[0:14, 0:20]
rgba = np.zeros((14, 20, 4), np.uint8)
rgba[..., 0] = x * 12
rgba[..., 1] = y * 18
rgba[..., 2] = (x ^ y) * 9
rgba[..., 3] = (x * 14 + y * 5) % 256  # 0 at the top-left corner
png_icon("icon_png_rgba.ico", png_bytes(Image.fromarray(rgba, "RGBA")))
palette = Image.fromarray(rgba[..., :3]).convert("P", palette=Image.ADAPTIVE, colors=12)
png_icon("icon_png_palette.ico", png_bytes(palette, transparency=3))
png_icon("icon_png_grey_alpha.ico", png_bytes(Image.fromarray(rgba[..., 1:3].copy(), "LA")))
rgb_png = png_bytes(Image.fromarray(rgba[..., :3].copy(), "RGB"))


def magick(png, *args):
    return subprocess.run(["convert", "png:-"] + list(args), input=png, capture_output=True, check=True).stdout


png_icon("icon_png_rgba16.ico", magick(png_bytes(Image.fromarray(rgba, "RGBA")), "-depth", "16", "png64:-"))
png_icon("icon_png_interlaced.ico", magick(rgb_png, "-interlace", "PNG", "png24:-"))
