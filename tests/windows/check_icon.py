#!/usr/bin/python3
"""Checks that a Windows program carries the icon drawn from the PNG pictures in ICON_DIR: every
size of the icon group, each picture the same pixels as NxN.png (PNG as is, bitmaps decoded).
    check_icon.py FILE ICON_DIR SIZE...
Prints what differs and exits 1."""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "packaging", "windows"))
from make_icon import read_png  # noqa: E402
from pe_resources import resources  # noqa: E402


def bitmap_rows(body):
    size, width, height, _, bits = struct.unpack_from("<IiiHH", body, 0)
    if bits != 32 or height != 2 * width:
        raise ValueError("a %d-bit bitmap of %dx%d" % (bits, width, height // 2))
    pixels = body[size : size + width * width * 4]
    rows = []
    for y in range(width - 1, -1, -1):  # bottom-up
        line = bytearray()
        for x in range(width):
            b, g, r, a = pixels[(y * width + x) * 4 : (y * width + x) * 4 + 4]
            line += bytes((r, g, b, a))
        rows.append(bytes(line))
    return width, rows


def main(path, icon_dir, sizes):
    with open(path, "rb") as f:
        found = resources(f.read())
    images = {ident: body for kind, ident, _, body in found if kind == 3}
    groups = [body for kind, _, _, body in found if kind == 14]
    if not groups:
        print("%s: no icon" % path)
        return 1
    # The first group is the one Explorer shows.
    (count,) = struct.unpack_from("<H", groups[0], 4)
    seen, failed = set(), False
    for i in range(count):
        width, _, _, _, _, _, _, ident = struct.unpack_from("<BBBBHHIH", groups[0], 6 + i * 14)
        width = width or 256
        body = images.get(ident, b"")
        with open(os.path.join(icon_dir, "%dx%d.png" % (width, width)), "rb") as f:
            png = f.read()
        if body.startswith(b"\x89PNG"):
            same = body == png
        else:
            png_width, _, png_rows = read_png(png)
            same = bool(body) and bitmap_rows(body) == (png_width, png_rows)
        if not same:
            print("%s: the %dx%d picture differs from the PNG" % (path, width, width))
            failed = True
        seen.add(width)
    wanted = {int(s) for s in sizes}
    if seen != wanted:
        print("%s: icon sizes %s, not %s" % (path, sorted(seen), sorted(wanted)))
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3:]))
