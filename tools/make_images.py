#!/usr/bin/python3
"""Paints the demo's pictures and captions into assets/.

Run by hand with Debian's python3 (PIL + numpy): /usr/bin/python3 tools/make_images.py [out dir]
(the output folder defaults to assets/).
Deterministic: every random field has a fixed seed and the files carry no
timestamp, so running it again reproduces the committed files byte for byte.

Outputs
  object0.jpg .. object6.jpg  seven 256 x 256 pictures for the cube faces
  floor.jpg                   256 x 256 red cartoon figure, tiled on the floor
  caption_a.raw, caption_b.raw  512 x 64 raw 8-bit grey, top row first,
                                white anti-aliased lettering on black

Every JPEG: baseline, 8-bit, Y/Cb/Cr with 2x2 luma and 1x1 chroma sampling,
JFIF 1.01 APP0, an Exif APP1 segment and a comment segment ahead of the
tables and the frame, two quantisation tables and the four standard Huffman
tables, 10-16 KB (the quality is searched per picture to reach its size).
"""
import io
import os
import sys

import numpy as np
from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
ASSETS = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "assets")
S = 256
FONT_DIR = "/usr/share/fonts/truetype/dejavu"


# ---------------------------------------------------------------------------
# Helpers: value-noise fractals, colour ramps, geometry grids.
# ---------------------------------------------------------------------------
def grid(n=S):
    y, x = np.mgrid[0:n, 0:n].astype(np.float64)
    return x, y


def smooth_noise(rng, cells, n=S):
    """Random values on a cells x cells lattice, bicubically upsampled to n x n."""
    small = rng.random((cells, cells)).astype(np.float32)
    img = Image.fromarray(small, mode="F").resize((n, n), Image.BICUBIC)
    return np.asarray(img, dtype=np.float64)


def fbm(seed, octaves=6, base=4, n=S, gain=0.5):
    """Fractal noise in [0, 1]: octaves of smooth noise, each twice as fine."""
    rng = np.random.default_rng(seed)
    total = np.zeros((n, n))
    amp, norm = 1.0, 0.0
    for o in range(octaves):
        total += amp * smooth_noise(rng, base * 2 ** o + 1, n)
        norm += amp
        amp *= gain
    total /= norm
    lo, hi = np.percentile(total, 0.5), np.percentile(total, 99.5)
    return np.clip((total - lo) / (hi - lo), 0, 1)


def ramp(t, stops):
    """Colour ramp: t in [0, 1] -> RGB through (position, (r, g, b)) stops."""
    t = np.clip(t, 0, 1)
    pos = np.array([p for p, _ in stops])
    cols = np.array([c for _, c in stops], dtype=np.float64)
    out = np.zeros(t.shape + (3,))
    for ch in range(3):
        out[..., ch] = np.interp(t, pos, cols[:, ch])
    return out


def blur3(img):
    """3 x 3 binomial blur (weights 1 2 1 each way), edges clamped."""
    p = np.pad(img, 1, mode="edge")
    h = (p[:, :-2] + 2 * p[:, 1:-1] + p[:, 2:]) / 4
    return (h[:-2] + 2 * h[1:-1] + h[2:]) / 4


def stars(seed, count, n=S, size=1.0):
    """A star field: bright points of random strength, slightly blurred."""
    rng = np.random.default_rng(seed)
    img = np.zeros((n, n))
    xs = rng.integers(0, n, count)
    ys = rng.integers(0, n, count)
    v = rng.random(count) ** 4
    img[ys, xs] = np.maximum(img[ys, xs], v * 255 * size)
    blurred = blur3(img)
    return np.clip(blurred * 2.2 + img * 0.5, 0, 255)


def to_image(rgb):
    return Image.fromarray(np.clip(np.round(rgb), 0, 255).astype(np.uint8), "RGB")


def normalize(v):
    return v / np.linalg.norm(v, axis=-1, keepdims=True)


# ---------------------------------------------------------------------------
# The seven object pictures.
# ---------------------------------------------------------------------------
def ringed_planet():
    """A banded gas giant with a tilted ring system over a star field."""
    x, y = grid()
    sky = np.zeros((S, S, 3))
    haze = fbm(11, 5, 3)
    sky += ramp(haze, [(0, (2, 2, 8)), (0.6, (10, 6, 24)), (1, (34, 14, 48))])
    st = stars(12, 700)
    sky += st[..., None] * np.array([1.0, 0.95, 0.9])
    cx, cy, r = 124.0, 132.0, 72.0
    dx, dy = (x - cx) / r, (y - cy) / r
    d2 = dx ** 2 + dy ** 2
    inside = d2 < 1
    dz = np.sqrt(np.clip(1 - d2, 0, 1))
    # Tilt the planet so the bands run along the ring plane.
    tilt = np.deg2rad(-18)
    lat = dx * np.sin(tilt) + dy * np.cos(tilt)
    turb = fbm(13, 6, 6)
    band = 0.5 + 0.5 * np.sin(lat * 13 + turb * 3.2 + np.sin(lat * 5) * 1.5)
    band2 = 0.5 + 0.5 * np.sin(lat * 31 + turb * 6)
    body = ramp(0.65 * band + 0.35 * band2,
                [(0, (120, 70, 40)), (0.35, (196, 142, 90)), (0.65, (232, 206, 160)), (1, (170, 96, 60))])
    light = normalize(np.array([-0.55, -0.45, 0.7]))
    lam = np.clip(dx * light[0] + dy * light[1] + dz * light[2], 0, 1)
    shade = 0.06 + 0.94 * lam ** 0.9
    limb = 0.55 + 0.45 * dz
    planet = body * (shade * limb)[..., None]
    # Ring plane: rotated coordinates; v / sin(opening) gives the true radius.
    ang = tilt
    u = (x - cx) * np.cos(ang) + (y - cy) * np.sin(ang)
    v = -(x - cx) * np.sin(ang) + (y - cy) * np.cos(ang)
    opening = 0.28
    rr = np.sqrt(u ** 2 + (v / opening) ** 2) / r
    ring_rng = np.random.default_rng(14)
    prof_x = np.linspace(1.25, 2.3, 400)
    prof = np.clip(0.55 + 0.45 * np.sin(prof_x * 40) * ring_rng.random(400), 0, 1)
    prof[(prof_x > 1.78) & (prof_x < 1.86)] *= 0.08  # the gap
    dens = np.interp(rr, prof_x, prof, left=0, right=0)
    ring_col = ramp(np.clip((rr - 1.25) / 1.05, 0, 1),
                    [(0, (150, 120, 96)), (0.5, (222, 200, 168)), (1, (160, 150, 140))])
    ring_lit = 0.5 + 0.5 * np.clip(-u / (2.3 * r) + 0.6, 0, 1)
    ring = ring_col * ring_lit[..., None]
    alpha = dens * 0.85
    out = sky.copy()
    behind = (v < 0) & inside
    out = np.where((~behind)[..., None], out * (1 - alpha[..., None]) + ring * alpha[..., None], out)
    # Ring shadow falls on the planet as a dark band just below the rings.
    shadow = np.clip(np.interp(np.sqrt(u ** 2 + ((v - 14) / opening) ** 2) / r, prof_x, prof, 0, 0), 0, 1)
    planet = planet * (1 - 0.6 * shadow[..., None] * (v > 0)[..., None])
    edge = np.clip((1 - np.sqrt(d2)) * r, 0, 1)  # anti-aliased rim
    out = np.where(inside[..., None], out * (1 - edge[..., None]) + planet * edge[..., None], out)
    front = (v >= 0) & inside
    out = np.where(front[..., None], out * (1 - alpha[..., None]) + ring * alpha[..., None], out)
    # Atmosphere glow around the lit limb.
    glow = np.exp(-np.clip(np.sqrt(d2) - 1, 0, None) * 18) * (~inside)
    out += glow[..., None] * np.array([90, 60, 40]) * np.clip(-dx - dy + 0.4, 0, 1)[..., None]
    return out


def mountain_lake():
    """Sunset over layered mountain ridges, mirrored in a rippled lake."""
    x, y = grid()
    horizon = 168
    rng = np.random.default_rng(22)
    cols_x = np.arange(S)
    # Ridge profiles, far to near: base line, height, colour, roughness.
    layers = [(104, 70, (120, 96, 140), 0.35), (126, 52, (84, 60, 104), 0.5), (146, 38, (50, 34, 70), 0.75),
              (160, 22, (26, 20, 38), 1.0)]
    ridges = []
    for base, height, col, sharp in layers:
        prof = np.zeros(S)
        amp, freq = 1.0, 2
        for o in range(7):
            pts = rng.random(freq + 2)
            prof += amp * np.interp(cols_x / S * (freq + 1), np.arange(freq + 2), pts)
            amp *= 0.55 if o < 2 else 0.5 * sharp + 0.2
            freq *= 2
        prof = (prof - prof.min()) / (prof.max() - prof.min())
        ridges.append(base - prof * height)
    # The sun sits half hidden behind the far ridge.
    sx = 150
    sy = ridges[0][sx] - 2
    t = y / horizon
    sky = ramp(t, [(0, (24, 28, 80)), (0.4, (110, 66, 124)), (0.7, (236, 122, 84)), (1, (255, 200, 120))])
    r_sun = np.sqrt((x - sx) ** 2 + (y - sy) ** 2)
    sun = np.clip(11 - r_sun, 0, 1)
    glow = np.exp(-r_sun / 40)
    sky = sky + glow[..., None] * np.array([140, 80, 30])
    sky = sky * (1 - sun[..., None]) + sun[..., None] * np.array([255, 244, 210])
    clouds = fbm(21, 5, 3)
    streak = np.asarray(Image.fromarray(clouds.astype(np.float32), "F").resize((S, S // 5)).resize((S, S)))
    cl = np.clip((streak - 0.55) * 3, 0, 1) * np.clip((sy - 10 - y) / 30, 0, 1)
    lit = np.exp(-np.abs(x - sx) / 90)
    cloud_col = np.array([90, 50, 90])[None, None, :] * (1 - lit[..., None]) + np.array([255, 150, 100]) * lit[..., None]
    img = sky * (1 - 0.8 * cl[..., None]) + cl[..., None] * cloud_col * 0.8
    for i, ((base, height, col, sharp), ridge) in enumerate(zip(layers, ridges)):
        m = (y >= ridge[None, :]) & (y < horizon)
        below = y - ridge[None, :]
        c = np.array(col, dtype=np.float64)
        # Rock: soft strata that follow the ridge line, broken by noise.
        strata = 0.5 + 0.5 * np.sin(below * 0.5 + fbm(23 + i, 5, 6) * 6)
        rock = c[None, None, :] * (0.85 + 0.25 * strata[..., None])
        # Rim light on the slopes facing the sun, fading down from the crest.
        slope = np.convolve(np.gradient(ridge), np.ones(9) / 9, mode="same")
        facing = np.clip(-slope * np.sign(sx - cols_x) * 0.5, 0, 1)[None, :] * np.exp(-below / 14)
        rock = rock + facing[..., None] * np.array([150, 80, 40]) * (1 - i * 0.2)
        haze = np.clip(below / 70, 0, 1) * (0.6 - i * 0.12)
        rock = rock * (1 - haze[..., None]) + haze[..., None] * np.array([200, 120, 120])
        if i == 0:  # snow on the highest peaks, thicker the higher the crest
            depth_snow = np.clip((72 - ridge) / 14, 0, 1)[None, :] * 16 * (0.5 + 0.7 * fbm(29, 4, 10))
            snow = np.clip(depth_snow - below, 0, 1)
            rock = rock * (1 - snow[..., None]) + snow[..., None] * np.array([236, 204, 214])
        edge = np.clip(below + 0.5, 0, 1)[..., None]
        img = np.where(m[..., None], img * (1 - edge) + rock * edge, img)
    # Lake: mirror the scene above the horizon; ripples sway each row.
    ripple = fbm(27, 4, 6)
    above = img.copy()
    for row in range(horizon, S):
        depth = row - horizon
        src = max(0, horizon - 1 - depth)
        shift = np.sin(row * 1.3 + ripple[row] * 8) * (0.5 + depth * 0.08) + (ripple[row] - 0.5) * depth * 0.1
        xs = np.clip(np.round(cols_x + shift * 2).astype(int), 0, S - 1)
        img[row] = above[src, xs] * (0.7 - depth * 0.0015) + np.array([6, 10, 26])
    # The sun's glitter path on the water.
    path = np.exp(-((x - sx) / (5 + (y - horizon) * 0.35)) ** 2) * (y > horizon)
    glint = np.clip((np.sin(y * 2.1 + ripple * 20) - 0.3) * 1.5, 0, 1)
    img += (path * glint)[..., None] * np.array([200, 150, 90])
    shore = np.clip(1 - np.abs(y - horizon) / 1.5, 0, 1)
    img = img * (1 - 0.6 * shore[..., None])
    return img


def marble():
    """Polished black marble with white and gold veins."""
    x, y = grid()
    n1 = fbm(31, 7, 3)
    n2 = fbm(32, 7, 4)
    n3 = fbm(34, 6, 2)
    main = np.abs(np.sin((x * 0.8 + y * 0.55) / 24 + n1 * 7))
    fine = np.abs(np.sin((x * 0.35 - y * 0.9) / 14 + fbm(35, 4, 3) * 6))
    base = ramp(n3, [(0, (14, 16, 20)), (0.5, (26, 28, 34)), (1, (44, 44, 50))])
    # Cloudy grey drifts along the main veins.
    drift = np.clip(1 - main / 0.5, 0, 1) ** 2 * 0.5
    img = base + drift[..., None] * np.array([60, 62, 66])
    white = np.clip(1 - main / 0.06, 0, 1) ** 1.2
    white_soft = np.clip(1 - main / 0.16, 0, 1) ** 2 * 0.45
    gold = np.clip(1 - fine / 0.07, 0, 1) * np.clip((n2 - 0.35) * 4, 0, 1)
    img = img * (1 - white_soft[..., None]) + white_soft[..., None] * np.array([190, 190, 186])
    img = img * (1 - white[..., None]) + white[..., None] * np.array([236, 234, 228])
    img = img * (1 - gold[..., None]) + gold[..., None] * np.array([214, 168, 82])
    # A soft window reflection across the polish.
    refl = np.exp(-((x - y * 0.35 - 120) ** 2) / (2 * 26 ** 2))
    return img + refl[..., None] * np.array([38, 40, 46])


def nebula():
    """Glowing gas clouds in magenta, teal and gold, torn by dark dust."""
    x, y = grid()
    a = fbm(41, 7, 2)
    b = fbm(42, 7, 3)
    c = fbm(43, 6, 4)
    cx = 128 + 30 * (b - 0.5)
    core = np.exp(-((x - cx) ** 2 + (y - 120) ** 2) / (2 * 70 ** 2))
    ridged = 1 - np.abs(2 * c - 1)  # filaments where the noise crosses its middle
    gas = np.clip(a * core * 1.35 + 0.25 * ridged ** 3 * core, 0, 1)
    img = ramp(gas, [(0, (2, 2, 10)), (0.3, (60, 10, 70)), (0.6, (190, 40, 120)),
                     (0.85, (245, 140, 100)), (1, (255, 220, 180))])
    teal = np.clip((b - 0.45) * 2.4, 0, 1) * core
    img += teal[..., None] * np.array([20, 150, 170])
    dust = np.clip((fbm(46, 6, 5) - 0.55) * 3.5, 0, 1)
    img *= (1 - 0.85 * dust)[..., None]
    img += stars(44, 900)[..., None] * np.array([1.0, 0.95, 1.0])
    # A few bright stars with soft halos and spikes.
    rng = np.random.default_rng(45)
    for _ in range(6):
        sx, sy = rng.integers(20, 236, 2)
        d = np.sqrt((x - sx) ** 2 + (y - sy) ** 2)
        halo = np.exp(-d / 3.0) + 0.5 * np.exp(-d / 9)
        spike = (np.exp(-np.abs(x - sx) / 0.6) + np.exp(-np.abs(y - sy) / 0.6)) * np.exp(-d / 12)
        img += (halo + 0.6 * spike)[..., None] * np.array([255, 240, 220])
    return img


def still_life():
    """Fruit on a wooden table: an orange, a red apple and a lemon, lit from
    a window on the left, soft shadows, dark wall behind."""
    x, y = grid()
    table_y = 150
    wall = ramp(y / table_y, [(0, (24, 20, 18)), (1, (60, 46, 36))])
    wall *= (0.8 + 0.4 * np.exp(-((x - 60) ** 2) / (2 * 90 ** 2)))[..., None]
    # Wood: noise stretched along the planks, rings as bands across it.
    grain = fbm(51, 5, 3)
    long_grain = np.asarray(Image.fromarray(fbm(52, 6, 4).astype(np.float32), "F")
                            .resize((S // 8, S)).resize((S, S), Image.BICUBIC), dtype=np.float64)
    wood = 0.5 + 0.5 * np.sin((y - table_y) * 1.7 + long_grain * 22)
    plank = (np.abs(((y - table_y) / (S - table_y) * 3.2) % 1 - 0.5) > 0.47) * 0.35
    table = ramp(wood * 0.45 + grain * 0.55, [(0, (74, 38, 20)), (0.5, (118, 66, 34)), (1, (152, 94, 52))])
    table *= (1 - plank)[..., None]
    table *= (0.75 + 0.35 * (y - table_y) / (S - table_y))[..., None]
    img = np.where((y < table_y)[..., None], wall, table)
    light = normalize(np.array([-0.7, -0.55, 0.5]))
    # A green glass bottle behind the fruit: a lit cylinder with a neck.
    bx, half_w, top, neck_top, bottom = 134, 22, 78, 34, 152
    shoulder = np.clip((y - top) / 16, 0, 1)
    width = 7 + (half_w - 7) * (shoulder ** 0.7)
    inside_b = (np.abs(x - bx) < width) & (y > neck_top) & (y < bottom)
    u = np.clip((x - bx) / np.maximum(width, 1), -1, 1)
    nz = np.sqrt(1 - u ** 2)
    glass = np.array([20, 70, 40])[None, None, :] * (0.35 + 0.9 * nz[..., None])
    glass += np.exp(-((u + 0.5) / 0.09) ** 2)[..., None] * np.array([190, 230, 200])   # window highlight
    glass += np.exp(-((u - 0.72) / 0.06) ** 2)[..., None] * np.array([40, 90, 60])     # rim light
    lip = inside_b & (y < neck_top + 5)
    glass = np.where(lip[..., None], np.array([30, 80, 50]) * 1.4, glass)
    edge_b = np.clip(width - np.abs(x - bx), 0, 1)[..., None]
    img = np.where(inside_b[..., None], img * (1 - edge_b) + glass * edge_b, img)
    fruits = [(88, 168, 42, (232, 120, 20), 60, 52), (160, 176, 38, (180, 18, 24), 54, 53),
              (206, 196, 26, (236, 206, 50), 56, 54)]
    # Shadows first, cast to the right on the table.
    for fx, fy, r, col, shine, seed in fruits:
        sh = np.exp(-(((x - fx - r * 0.7) / (r * 1.3)) ** 2 + ((y - fy - r * 0.75) / (r * 0.35)) ** 2))
        img *= (1 - 0.65 * sh * (y > table_y))[..., None]
    for fx, fy, r, col, shine, seed in sorted(fruits, key=lambda f: f[1]):
        dx, dy = (x - fx) / r, (y - fy) / r
        d2 = dx ** 2 + dy ** 2
        inside = d2 < 1
        dz = np.sqrt(np.clip(1 - d2, 0, 1))
        n = np.stack([dx, dy, dz], -1)
        lam = np.clip(n @ light, 0, 1)
        view = np.array([0, 0, 1.0])
        half = normalize(light + view)
        gloss = np.clip(n @ half, 0, 1) ** shine
        skin = fbm(seed, 4, 16)
        base = np.array(col) * (0.85 + 0.3 * skin)[..., None]
        bounce = np.clip(dy, 0, 1) * 0.25  # warm light from the table
        c = base * (0.12 + 0.88 * lam + bounce)[..., None] + gloss[..., None] * 255 * 0.85
        edge = np.clip((1 - np.sqrt(d2)) * r, 0, 1)
        img = np.where(inside[..., None], img * (1 - edge[..., None]) + c * edge[..., None], img)
        # Stem on the apple and orange.
        if seed != 54:
            stem = (np.abs(x - fx - 2) < 2) & (y > fy - r - 7) & (y < fy - r + 6)
            img = np.where(stem[..., None], np.array([60, 40, 20]), img)
    return img


def aurora():
    """Northern lights over a frozen lake and a ridge of pines."""
    x, y = grid()
    sky = ramp(y / 190, [(0, (4, 6, 22)), (0.7, (10, 24, 48)), (1, (24, 48, 70))])
    sky += stars(61, 500)[..., None]
    n = fbm(62, 5, 3)
    xs = np.arange(S, dtype=np.float64)
    base_line = 70 + 40 * np.sin(xs / 40 + n[0] * 4) + 20 * (n[100] - 0.5) * 4
    curtain = np.clip(1 - (y - base_line[None, :]) / 16, 0, 1) * np.exp(-np.clip(base_line[None, :] - y, 0, None) / 55)
    curtain *= (y > base_line[None, :] - 120)
    rays = 0.5 + 0.5 * np.sin(x * 0.35 + fbm(63, 4, 8) * 12)
    strength = curtain * (0.45 + 0.55 * rays) * (0.4 + 0.6 * fbm(64, 3, 2))
    green = np.array([40, 255, 140])
    violet = np.array([170, 60, 220])
    top = np.clip((base_line[None, :] - y) / 90, 0, 1)
    colour = green * (1 - top[..., None]) + violet * top[..., None]
    img = sky + strength[..., None] * colour * 1.1
    # Frozen lake below y = 190 with the aurora's glow mirrored and smeared.
    lake_y = 190
    for row in range(lake_y, S):
        src = max(0, 2 * lake_y - row - 1)
        img[row] = img[src] * 0.45 + np.array([16, 28, 40])
    ice = fbm(65, 5, 8)
    img[lake_y:] *= (0.8 + 0.4 * ice[lake_y:])[..., None]
    # Pine silhouettes along the shore.
    rng = np.random.default_rng(66)
    sil = Image.new("L", (S * 4, S * 4), 0)
    d = ImageDraw.Draw(sil)
    d.rectangle([0, 184 * 4, S * 4, 192 * 4], fill=255)
    px = -10
    while px < S + 10:
        h = rng.uniform(18, 46)
        w = h * rng.uniform(0.32, 0.42)
        base_y = 190
        for k in range(5):
            top_y = base_y - h + k * h * 0.16
            lvl_w = w * (0.35 + k * 0.16)
            d.polygon([((px) * 4, top_y * 4), ((px - lvl_w) * 4, (top_y + h * 0.34) * 4),
                       ((px + lvl_w) * 4, (top_y + h * 0.34) * 4)], fill=255)
        px += rng.uniform(6, 16)
    sil = np.asarray(sil.resize((S, S), Image.LANCZOS), dtype=np.float64) / 255
    img = img * (1 - sil[..., None]) + sil[..., None] * np.array([2, 6, 10])
    return img


def chrome_spheres():
    """Ray-traced mirror spheres on a chequered floor under a sunset sky."""
    x, y = grid()
    eye = np.array([0.0, 1.25, -3.3])
    fov = 0.56
    dirs = np.stack([(x + 0.5 - S / 2) / (S / 2) * fov, -(y + 0.5 - S / 2) / (S / 2) * fov + 0.05,
                     np.ones_like(x)], -1)
    dirs = normalize(dirs)
    spheres = [(np.array([-1.05, 0.75, 0.6]), 0.75, np.array([1.0, 0.85, 0.6])),
               (np.array([0.9, 0.55, 0.2]), 0.55, np.array([0.7, 0.85, 1.0])),
               (np.array([0.05, 0.32, -0.7]), 0.32, np.array([1.0, 0.6, 0.7]))]
    sun = normalize(np.array([-0.5, 0.55, 0.6]))

    def sky(d):
        t = np.clip(d[..., 1], -0.1, 1)
        c = ramp(t * 2.2, [(0, (255, 170, 110)), (0.35, (200, 120, 160)), (1, (40, 60, 130))])
        s = np.clip(d @ sun, 0, 1)
        return c + (s ** 200)[..., None] * 400 + (s ** 12)[..., None] * np.array([80, 40, 10])

    def hit_spheres(o, d):
        best = np.full(d.shape[:-1], np.inf)
        idx = np.full(d.shape[:-1], -1)
        for i, (c, r, _) in enumerate(spheres):
            oc = o - c
            b = np.sum(oc * d, -1)
            cc = np.sum(oc * oc, -1) - r * r
            disc = b * b - cc
            t = -b - np.sqrt(np.clip(disc, 0, None))
            ok = (disc > 0) & (t > 1e-4) & (t < best)
            best = np.where(ok, t, best)
            idx = np.where(ok, i, idx)
        return best, idx

    def floor_colour(p):
        chk = (np.floor(p[..., 0] * 1.5) + np.floor(p[..., 2] * 1.5)) % 2
        col = np.where(chk[..., None] > 0, np.array([230, 226, 214]), np.array([40, 36, 50]))
        # Shadows of the spheres toward the sun.
        _, sidx = hit_spheres(p + sun * 1e-3, np.broadcast_to(sun, p.shape))
        col = col * np.where(sidx[..., None] >= 0, 0.35, 1.0)
        fade = np.exp(-np.linalg.norm(p - eye, axis=-1) / 14)
        return col * fade[..., None] + sky(np.broadcast_to(np.array([0, 0.02, 1.0]), p.shape)) * (1 - fade[..., None])

    def shade(o, d, depth):
        ts, si = hit_spheres(o, d)
        tf = np.where(d[..., 1] < -1e-6, -o[..., 1] / np.where(d[..., 1] < -1e-6, d[..., 1], -1), np.inf)
        out = sky(d)
        fl = (tf < ts) & np.isfinite(tf)
        if fl.any():
            p = o + d * np.where(fl, tf, 0)[..., None]
            out = np.where(fl[..., None], floor_colour(p), out)
        sp = (si >= 0) & ~fl
        if sp.any() and depth > 0:
            p = o + d * np.where(sp, ts, 0)[..., None]
            n = np.zeros_like(p)
            tint = np.ones_like(p)
            for i, (c, r, tn) in enumerate(spheres):
                m = si == i
                n = np.where(m[..., None], (p - c) / r, n)
                tint = np.where(m[..., None], tn, tint)
            rd = d - 2 * np.sum(d * n, -1, keepdims=True) * n
            refl = shade(p + n * 1e-3, rd, depth - 1)
            fres = 0.75 + 0.25 * (1 - np.abs(np.sum(d * n, -1))) ** 2
            out = np.where(sp[..., None], refl * tint * fres[..., None], out)
        return out

    # 2 x 2 supersampling for clean edges.
    acc = np.zeros((S, S, 3))
    for ox, oy in ((0.25, 0.25), (0.75, 0.25), (0.25, 0.75), (0.75, 0.75)):
        d = np.stack([(x + ox - S / 2) / (S / 2) * fov, -(y + oy - S / 2) / (S / 2) * fov + 0.05,
                      np.ones_like(x)], -1)
        d = normalize(d)
        acc += shade(np.broadcast_to(eye, d.shape), d, 3)
    return acc / 4


def red_figure():
    """The floor tile: a cheerful red cartoon figure waving on a cream
    background. Drawn four times larger and scaled down for smooth edges."""
    k = 4
    im = Image.new("RGB", (S * k, S * k), (250, 236, 200))
    d = ImageDraw.Draw(im)

    def P(*pts):
        return [v * k for v in pts]

    # Background dots.
    for gx in range(0, S + 32, 32):
        for gy in range(0, S + 32, 32):
            d.ellipse(P(gx - 3, gy - 3, gx + 3, gy + 3), fill=(244, 214, 160))
    outline = (60, 10, 10)
    red = (222, 30, 36)
    dark_red = (170, 16, 24)
    w = 5 * k
    # Legs and shoes.
    d.line(P(108, 190, 100, 226), fill=outline, width=12 * k)
    d.line(P(148, 190, 156, 226), fill=outline, width=12 * k)
    d.line(P(108, 190, 100, 226), fill=dark_red, width=7 * k)
    d.line(P(148, 190, 156, 226), fill=dark_red, width=7 * k)
    d.ellipse(P(78, 218, 108, 236), fill=(40, 40, 48), outline=outline, width=w // 2)
    d.ellipse(P(148, 218, 178, 236), fill=(40, 40, 48), outline=outline, width=w // 2)
    # Arms: one waving up, one on the hip.
    d.line(P(76, 122, 40, 70), fill=outline, width=13 * k)
    d.line(P(76, 122, 40, 70), fill=red, width=8 * k)
    d.ellipse(P(26, 52, 52, 78), fill=red, outline=outline, width=w // 2)
    d.line(P(180, 130, 212, 160), fill=outline, width=13 * k)
    d.line(P(180, 130, 212, 160), fill=red, width=8 * k)
    d.ellipse(P(204, 150, 226, 172), fill=red, outline=outline, width=w // 2)
    # Body: a big round bean.
    d.ellipse(P(64, 58, 192, 204), fill=red, outline=outline, width=w)
    d.ellipse(P(82, 74, 130, 110), fill=(240, 96, 96))  # highlight
    d.ellipse(P(86, 150, 170, 200), fill=dark_red)
    d.ellipse(P(64, 58, 192, 204), outline=outline, width=w)
    # Eyes.
    for ex in (106, 150):
        d.ellipse(P(ex - 17, 92, ex + 17, 132), fill=(255, 255, 255), outline=outline, width=3 * k)
        d.ellipse(P(ex - 7, 106, ex + 9, 126), fill=(20, 20, 30))
        d.ellipse(P(ex - 3, 109, ex + 3, 115), fill=(255, 255, 255))
    # Smile and cheeks.
    d.arc(P(100, 126, 156, 170), start=20, end=160, fill=outline, width=5 * k)
    d.ellipse(P(84, 138, 100, 148), fill=(250, 120, 120))
    d.ellipse(P(156, 138, 172, 148), fill=(250, 120, 120))
    # Antenna with a star on top.
    d.line(P(128, 60, 136, 30), fill=outline, width=4 * k)
    star = []
    for i in range(10):
        a = np.pi / 2 + i * np.pi / 5
        rr = 13 if i % 2 == 0 else 6
        star.append((136 + rr * np.cos(a)) * k)
        star.append((26 - rr * np.sin(a)) * k)
    d.polygon(star, fill=(255, 200, 40), outline=outline)
    return np.asarray(im.resize((S, S), Image.LANCZOS), dtype=np.float64)


# ---------------------------------------------------------------------------
# JPEG writing.
# ---------------------------------------------------------------------------
def exif_block(title):
    ex = Image.Exif()
    ex[0x010E] = title               # ImageDescription
    ex[0x0131] = "zephyra make_images"  # Software
    ex[0x0112] = 1                   # Orientation: top-left
    return ex.tobytes()


def encode(img, quality, title):
    buf = io.BytesIO()
    img.save(buf, "JPEG", quality=quality, subsampling=2, optimize=False, progressive=False,
             exif=exif_block(title), comment=("zephyra party: " + title).encode("ascii"))
    return buf.getvalue()


def save_jpeg(name, rgb, target, title):
    """Highest quality whose file is no larger than `target` bytes."""
    img = to_image(rgb)
    best = None
    for q in range(30, 96):
        data = encode(img, q, title)
        if len(data) <= target:
            best = data
        else:
            break
    if best is None or not (10 * 1024 <= len(best) <= 16 * 1024):
        raise SystemExit(f"{name}: cannot reach 10-16 KB near {target} bytes")
    with open(os.path.join(ASSETS, name), "wb") as f:
        f.write(best)
    print(f"{name}: {len(best)} bytes")


# ---------------------------------------------------------------------------
# Captions.
# ---------------------------------------------------------------------------
def caption(name, text, font_file, size):
    """White lettering on black, centred; PIL's FreeType rendering supplies
    the anti-aliased edge greys."""
    im = Image.new("L", (512, 64), 0)
    d = ImageDraw.Draw(im)
    font = ImageFont.truetype(os.path.join(FONT_DIR, font_file), size)
    box = d.textbbox((0, 0), text, font=font)
    w, h = box[2] - box[0], box[3] - box[1]
    d.text(((512 - w) / 2 - box[0], (64 - h) / 2 - box[1]), text, font=font, fill=255)
    data = im.tobytes()
    assert len(data) == 512 * 64
    with open(os.path.join(ASSETS, name), "wb") as f:
        f.write(data)
    print(f"{name}: {len(data)} bytes")


PICTURES = [
    ("object0.jpg", ringed_planet, 11300, "ringed planet"),
    ("object1.jpg", mountain_lake, 12300, "mountain lake at sunset"),
    ("object2.jpg", marble, 10400, "marble"),
    ("object3.jpg", nebula, 14700, "nebula"),
    ("object4.jpg", still_life, 12800, "still life with fruit"),
    ("object5.jpg", aurora, 15500, "aurora over a frozen lake"),
    ("object6.jpg", chrome_spheres, 11700, "chrome spheres"),
    ("floor.jpg", red_figure, 11000, "red cartoon figure"),
]


def main():
    for name, paint, target, title in PICTURES:
        save_jpeg(name, paint(), target, title)
    caption("caption_a.raw", "a zephyra crew production", "DejaVuSans.ttf", 30)
    caption("caption_b.raw", "Zephyra (Party)", "DejaVuSerif-Bold.ttf", 40)


if __name__ == "__main__":
    main()
