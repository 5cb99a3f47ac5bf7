#!/usr/bin/python3
"""A BMP file dragged from another window onto the main window with the real mouse: the program
uploads it to a loopback upload host (same pixels, within JPEG loss) and proposes its name.

Runs inside the desktop harness (DISPLAY set, openbox running). Arguments: the glimmerly binary and
the drag_source tool. The fake upload host listens on 127.0.0.1:8461 (the build's host).
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_steps import fail, run, wait_for_window  # noqa: E402
from fake_service import FakeService  # noqa: E402

ADDRESS = "http://localhost:8460/abc.jpg"


def write_bmp(path, width, height):
    """A 24-bit bottom-up BMP of a smooth gradient."""
    row_size = (width * 3 + 3) // 4 * 4
    rows = []
    for y in reversed(range(height)):
        row = bytearray()
        for x in range(width):
            row += bytes((x * 2 % 256, y * 3 % 256, (x + y) % 256))
        rows.append(bytes(row) + b"\0" * (row_size - width * 3))
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def position(window):
    values = dict(line.split("=") for line in
                  run("xdotool", "getwindowgeometry", "--shell", window).splitlines())
    return int(values["X"]), int(values["Y"])


def uploaded_jpeg(body):
    start = body.index(b"\r\n\r\n", body.index(b'name="screenshot"')) + 4
    return body[start:body.index(b"\r\n--", start)]


def rename_text(main_window):
    """Clicks into the name field (Notebook1 at 8,56; RenameEdit at 96,8 in it) and copies it."""
    run("xdotool", "mousemove", "--window", main_window, "150", "74", "click", "1")
    run("xdotool", "key", "ctrl+a", "ctrl+c")
    time.sleep(0.3)
    return run("xclip", "-o", "-selection", "clipboard", check=False)


def main():
    program, tool = sys.argv[1], sys.argv[2]
    host = FakeService(lambda line: (("ok|3.2|" + ADDRESS).encode(), 0), ports=(8461,))
    with tempfile.TemporaryDirectory() as folder:
        picture = os.path.join(folder, "Urlaub am See.bmp")
        write_bmp(picture, 150, 100)
        app = subprocess.Popen([program])
        source = subprocess.Popen([tool, "drag", picture], stdout=subprocess.PIPE, text=True)
        try:
            main_window = wait_for_window("^Glimmerly 3.2$")
            source_window = wait_for_window("^Glimmerly Ziehquelle$")
            time.sleep(0.5)
            sx, sy = position(source_window)
            mx, my = position(main_window)
            run("xdotool", "mousemove", "--sync", str(sx + 100), str(sy + 60), "mousedown", "1")
            time.sleep(0.3)
            steps = 12
            for i in range(1, steps + 1):
                x = sx + 100 + (mx + 200 - sx - 100) * i // steps
                y = sy + 60 + (my + 30 - sy - 60) * i // steps
                run("xdotool", "mousemove", str(x), str(y))
                time.sleep(0.05)
            time.sleep(0.3)
            run("xdotool", "mouseup", "1")
            if not host.wait_for(lambda lines: len(lines) == 1, timeout=20):
                fail("no upload arrived; the drag source said %r" % source.stdout.readline())
            jpeg_path = os.path.join(folder, "uploaded.jpg")
            with open(jpeg_path, "wb") as f:
                f.write(uploaded_jpeg(host.requests[0][2]))
            compared = subprocess.run([tool, "compare", picture, jpeg_path, "3"],
                                      capture_output=True, text=True,
                                      env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
            print("uploaded picture:", compared.stdout.strip())
            if compared.returncode != 0:
                fail("the uploaded picture is not the file's")
            time.sleep(0.5)
            name = rename_text(main_window)
            if name != "urlaub_am_see":
                fail("name field reads %r" % name)
            print("name proposed:", name)
            run("xdotool", "windowactivate", "--sync", main_window, check=False)
            run("xdotool", "key", "Escape")
            if app.wait(10) != 0:
                fail("the program did not end cleanly")
        finally:
            for p in (app, source):
                if p.poll() is None:
                    p.kill()
    print("PASS")


if __name__ == "__main__":
    main()
