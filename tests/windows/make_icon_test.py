#!/usr/bin/python3
"""The icon maker's PNG reader against pictures written here with each of PNG's five row filters,
and its bitmaps and icon directory as Windows reads them."""
import os
import random
import struct
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging", "windows"))
import make_icon  # noqa: E402


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def filtered(kind, line, previous):
    out = bytearray()
    for x, value in enumerate(line):
        a = line[x - 4] if x >= 4 else 0
        b = previous[x]
        c = previous[x - 4] if x >= 4 else 0
        guess = [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]
        out.append((value - guess) & 0xFF)
    return bytes([kind]) + bytes(out)


def png(width, rows, kinds):
    """An RGBA PNG whose row y is filtered with kinds[y % len(kinds)]; IDAT split in two."""
    raw, previous = b"", bytes(width * 4)
    for y, line in enumerate(rows):
        raw += filtered(kinds[y % len(kinds)], line, previous)
        previous = line
    data = zlib.compress(raw)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    header = struct.pack(">IIBBBBB", width, len(rows), 8, 6, 0, 0, 0)
    half = len(data) // 2
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", data[:half])
            + chunk(b"IDAT", data[half:]) + chunk(b"IEND", b""))


def picture(width, height, seed):
    rng = random.Random(seed)
    return [bytes(rng.randrange(256) for _ in range(width * 4)) for _ in range(height)]


def slopes(width, height):
    """Slopes that make the Paeth guess tie between two different neighbours (red: left and
    above, green: above and upper left), and steps as drawn icons have them (blue)."""
    return [bytes(v for x in range(width)
                  for v in (128 + 10 * x - 10 * y, 128 - 20 * x + 10 * y, (x // 2) * 40, 255))
            for y in range(height)]


class ReadPng(unittest.TestCase):
    def test_every_filter_gives_back_the_pixels(self):
        for name, rows in (("noise", picture(7, 10, 1)), ("slopes", slopes(7, 10))):
            for kinds in ([0], [1], [2], [3], [4], [4, 3, 2, 1, 0]):
                with self.subTest(picture=name, kinds=kinds):
                    self.assertEqual(make_icon.read_png(png(7, rows, kinds)), (7, 10, rows))

    def test_other_kinds_of_png_are_refused(self):
        data = bytearray(png(2, picture(2, 2, 2), [0]))
        data[8 + 8 + 9] = 2  # colour type RGB
        with self.assertRaises(ValueError):
            make_icon.read_png(bytes(data))
        with self.assertRaises(ValueError):
            make_icon.read_png(b"GIF89a" + bytes(40))


class Icon(unittest.TestCase):
    def test_small_pictures_become_bitmaps_big_ones_stay_png(self):
        small, big = picture(3, 3, 3), picture(65, 65, 4)
        with tempfile.TemporaryDirectory() as folder:
            paths = [os.path.join(folder, name) for name in ("big.png", "small.png", "out.ico")]
            big_png = png(65, big, [4])
            for path, data in ((paths[0], big_png), (paths[1], png(3, small, [1]))):
                with open(path, "wb") as f:
                    f.write(data)
            make_icon.main(paths[2], paths[:2])
            with open(paths[2], "rb") as f:
                ico = f.read()
        self.assertEqual(struct.unpack_from("<HHH", ico, 0), (0, 1, 2))
        entries = [struct.unpack_from("<BBBBHHII", ico, 6 + i * 16) for i in range(2)]
        # Smallest first.
        self.assertEqual([(e[0], e[1]) for e in entries], [(3, 3), (65, 65)])
        bmp = ico[entries[0][7] : entries[0][7] + entries[0][6]]
        self.assertEqual(ico[entries[1][7] : entries[1][7] + entries[1][6]], big_png)
        self.assertEqual(entries[1][7] + entries[1][6], len(ico))
        # Header: 40 bytes, height counts the mask, 32 bits; then BGRA rows bottom-up and a mask
        # of 4-byte rows.
        self.assertEqual(struct.unpack_from("<IiiHH", bmp, 0), (40, 3, 6, 1, 32))
        top_left = bmp[40 + 2 * 3 * 4 : 40 + 2 * 3 * 4 + 4]
        r, g, b, a = small[0][:4]
        self.assertEqual(top_left, bytes((b, g, r, a)))
        self.assertEqual(len(bmp), 40 + 3 * 3 * 4 + 3 * 4)


if __name__ == "__main__":
    unittest.main()
