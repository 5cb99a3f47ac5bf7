#!/usr/bin/python3
"""Packs PNG pictures into one Windows icon (.ico), biggest last:
    make_icon.py OUT.ico A.png B.png ...
Up to 64 pixels a picture is stored as a 32-bit bitmap (every Windows version and resource tool
reads those); bigger ones stay PNG, as Windows has read them inside icons since Vista. Only the
kind of PNG the icons are saved as is read: 8 bits per channel RGBA, not interlaced."""
import struct
import sys
import zlib


def read_png(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos : pos + 8])
        body = data[pos + 8 : pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour != 6 or interlace != 0:
                raise ValueError("only 8-bit RGBA PNGs without interlacing")
        elif kind == b"IDAT":
            idat += body
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1 : start + 1 + stride])
        for x in range(stride):
            a = line[x - 4] if x >= 4 else 0
            b = previous[x]
            c = previous[x - 4] if x >= 4 else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(bytes(line))
        previous = line
    return width, height, rows


def bitmap(width, height, rows):
    """A DIB as icons hold it: the header counts the colour and the mask rows (twice the height),
    rows bottom-up in BGRA, then the 1-bit AND mask (all zero: the alpha channel decides)."""
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b""
    for row in reversed(rows):
        for x in range(width):
            r, g, b, a = row[x * 4 : x * 4 + 4]
            pixels += bytes((b, g, r, a))
    mask_stride = ((width + 31) // 32) * 4
    return header + pixels + bytes(mask_stride * height)


def main(out, pngs):
    images = []
    for path in pngs:
        with open(path, "rb") as f:
            data = f.read()
        width, height, rows = read_png(data)
        images.append((width, height, data if width > 64 else bitmap(width, height, rows)))
    images.sort(key=lambda image: image[0])
    offset = 6 + 16 * len(images)
    head, body = struct.pack("<HHH", 0, 1, len(images)), b""
    for width, height, data in images:
        # A size of 256 is written as 0.
        head += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        body += data
    with open(out, "wb") as f:
        f.write(head + body)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: make_icon.py OUT.ico A.png B.png ...")
    main(sys.argv[1], sys.argv[2:])
