#!/usr/bin/python3
"""Draws the PNG icons from the same shapes as org.glimmerly.Glimmerly.svg (8x supersampled).
Run once after changing the shapes: packaging/icons/render_icons.py"""
import os

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def draw(size):
    k = size * 8 / 32.0  # drawing units of the 32-unit view box
    big = Image.new("RGBA", (size * 8, size * 8), (0, 0, 0, 0))
    d = ImageDraw.Draw(big)
    d.rounded_rectangle([1 * k, 5 * k, 31 * k - 1, 29 * k - 1], radius=4 * k, fill=(32, 96, 192))
    d.rectangle([22 * k, 7 * k, 28 * k - 1, 11 * k - 1], fill=(255, 208, 64))
    outer, inner = 6.3 + 1.2, 6.3 - 1.2
    cx, cy = 16 * k, 17.5 * k
    d.ellipse([cx - outer * k, cy - outer * k, cx + outer * k, cy + outer * k], fill=(224, 232, 255))
    d.ellipse([cx - inner * k, cy - inner * k, cx + inner * k, cy + inner * k], fill=(32, 96, 192))
    return big.resize((size, size), Image.LANCZOS)


for s in SIZES:
    draw(s).save(os.path.join(HERE, "%dx%d.png" % (s, s)), optimize=True)
