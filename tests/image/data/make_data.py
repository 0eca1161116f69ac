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
