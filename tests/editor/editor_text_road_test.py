#!/usr/bin/python3
"""Text in the editor of the real program on the test desktop, typed with the real keyboard.
With both "Nur aktives Fenster speichern" and "Anschliessend bearbeiten" ticked, Print opens the
editor, its frame at 210,138, with a small picture (a 400 x 300 window). A text box is opened on
the picture; a pen stroke is drawn while it is open and typing goes on afterwards; Enter writes
the text. A second box is opened in the empty area beside the picture and must show what is
typed into it. The upload must hold the stroke and the text typed before and after it.

With GLIMMERLY_EDITOR_SHOT set, the editor with the box beside the picture is saved there as a
PNG (for looking at the window).

Runs inside the desktop harness. Argument: the glimmerly binary.
"""
import ctypes
import os
import struct
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from editor_road_test import (Screen, click, drag, has, jpeg_of, own_loopback,  # noqa: E402
                              ppm_pixels, red, toggle, upload_host)
from desktop_steps import EditorWindowDesktop, fail, run, wait_for_window  # noqa: E402
from upload_road_test import check_request  # noqa: E402

TOOL_BAR = 57   # the picture starts below it
GREY = (163, 163, 163)


def reds(pixels):
    return sum(1 for row in pixels for p in row if red(p))


def frame_of(window):
    """The window's frame on the screen (left, top, width, height): the window manager's
    window around it, title bar included, or the window itself without one."""
    def geometry(window_id):
        info = dict(line.strip().split(":", 1) for line in
                    run("xwininfo", "-id", window_id).splitlines() if ":" in line)
        return tuple(int(info[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y",
                                             "Width", "Height"))
    tree = run("xwininfo", "-tree", "-id", window)
    parent = tree.split("Parent window id:", 1)[1].split()[0]
    root = tree.split("Root window id:", 1)[1].split()[0]
    return geometry(window if parent == root else parent)


def save_png(path, rows):
    """Writes (r, g, b) rows as an 8-bit RGB PNG."""
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        f.write(chunk(b"IEND", b""))


def main():
    own_loopback()
    host = upload_host()
    screen = Screen()
    with EditorWindowDesktop(sys.argv[1], geometry="400x300+300+200") as desk:
        main_window = desk.main_window
        run("xdotool", "windowactivate", "--sync", main_window)
        toggle(screen, main_window, "Anschliessend bearbeiten", 184, ticked=True)
        run("xdotool", "windowactivate", "--sync", desk.target)
        desk.press("Print")
        editor = wait_for_window("^Screenshot bearbeiten$")
        # Its frame at 210,138 on the first monitor, not centred over the main window.
        deadline = time.time() + 5
        while True:
            corner = frame_of(editor)[:2]
            if corner == (210, 138):
                break
            if time.time() > deadline:
                fail("the editor's frame is at %d,%d, not at 210,138" % corner)
            time.sleep(0.1)
        # The picture is the small window; grey from its right edge to the editor's.
        row = screen.wait("the picture", editor, (0, TOOL_BAR + 100, 880, 1),
                          lambda pixels: pixels[0][0] != GREY and pixels[0][-1] == GREY)[0]
        width = max(x for x in range(len(row)) if row[x] != GREY) + 1
        if width > 600:
            fail("the picture is %d pixels wide, no room beside it" % width)

        # A box on the picture at (60, 60); two letters, then a pen stroke across the picture.
        screen.act("'Text' pressed", editor, (544, 8, 65, 41), lambda: click(editor, 574, 28))
        click(editor, 60, TOOL_BAR + 60)
        box = (60, TOOL_BAR + 49, 120, 23)
        run("xdotool", "type", "--delay", "50", "Ab")
        typed = reds(screen.wait("'Ab' in the box", editor, box, has(red)))
        screen.act("'Stift' pressed", editor, (400, 8, 65, 41), lambda: click(editor, 430, 28))
        drag(editor, (20, TOOL_BAR + 200), (width - 20, TOOL_BAR + 200))
        screen.wait("the stroke", editor, (width // 2, TOOL_BAR + 195, 1, 11), has(red))
        # The box still has the keyboard: the next letters arrive there.
        run("xdotool", "type", "--delay", "50", "cd")
        screen.wait("'cd' after the stroke in the box", editor, box,
                    lambda pixels: reds(pixels) > typed + 10)
        run("xdotool", "key", "Return")

        # A box in the empty area beside the picture shows what is typed into it.
        screen.act("'Text' pressed", editor, (544, 8, 65, 41), lambda: click(editor, 574, 28))
        beside = width + 60
        click(editor, beside, TOOL_BAR + 60)
        run("xdotool", "type", "--delay", "50", "Hallo")
        screen.wait("'Hallo' beside the picture", editor, (beside, TOOL_BAR + 49, 120, 23),
                    has(red))
        shot = os.environ.get("GLIMMERLY_EDITOR_SHOT")
        if shot:
            left, top, w, h = frame_of(editor)
            screen.x.XDefaultRootWindow.restype = ctypes.c_ulong
            screen.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
            root = screen.x.XDefaultRootWindow(screen.display)
            save_png(shot, screen.region(root, left, top, w, h))
            print("editor saved to", shot)
        run("xdotool", "key", "Return")

        click(editor, 744 + 60, 28)   # "Bearbeitung beenden"
        if not host.wait_for(lambda lines: len(lines) == 1):
            fail("no upload arrived")
        _, head, body = host.requests[0]
        jpeg_width, pixels, jpeg_height = ppm_pixels(jpeg_of(body))
        check_request(head, body, (jpeg_width, jpeg_height))
        if jpeg_width != width:
            fail("uploaded %d pixels wide, the picture was %d" % (jpeg_width, width))

        def red_columns(x0, y0, w, h):
            columns = set()
            for y in range(y0, y0 + h):
                for x in range(x0, x0 + w):
                    i = 3 * (y * jpeg_width + x)
                    r, g, b = pixels[i:i + 3]
                    if r > 150 and g < 100 and b < 100:
                        columns.add(x)
            return columns

        if len(red_columns(20, 195, width - 40, 11)) < width - 60:
            fail("the stroke is not in the uploaded picture")
        # "Abcd" from x 60, the cell's top at 49: "cd" reaches well past "Ab".
        text = red_columns(50, 45, 150, 30)
        if not text or min(text) > 64 or max(text) < 95:
            fail("the text is not in the uploaded picture (red columns %r)" % sorted(text))
        print("stroke and text 'Abcd' found in the uploaded picture")
        desk.close_program()
    print("PASS")


if __name__ == "__main__":
    main()
