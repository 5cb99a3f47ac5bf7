#!/usr/bin/python3
"""The editor on the real program and the test desktop (two monitors, M2 1280 x 1024 at 1920,0):
with "Anschliessend bearbeiten" ticked and "Nur aktives Fenster speichern" unticked, Print opens
the editor; a click on the second cell of the monitor strip, a line drawn with the line tool and
"Bearbeitung beenden" upload a JPEG exactly the second monitor's size that shows the line.

Every step waits for what it changes to show on the screen before the next one starts, so a slow
program on a loaded machine only makes the test slower. The upload host listens on the program's
fixed port in a network namespace of the test's own where the machine allows one, so no other
program on that port can take the upload or keep the fake host from starting.

Runs inside the desktop harness. Argument: the glimmerly binary.
"""
import ctypes
import os
import socket
import subprocess
import sys
import tempfile
import time

ROAD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "road")
sys.path.insert(0, ROAD)
from desktop_steps import EditorWindowDesktop, fail, run, wait_for_window  # noqa: E402
from fake_service import FakeService  # noqa: E402
from upload_road_test import check_request  # noqa: E402

UPLOAD_PORT = 8461
OWN_LOOPBACK = "GLIMMERLY_EDITOR_ROAD_OWN_LOOPBACK"
FRAME = (176, 0, 0)  # the strip's frame around the chosen monitor


def own_loopback():
    """Re-runs this script in a network namespace of its own with its loopback up (the X server
    is still reached through its socket file). Returns when already there or when the machine
    does not allow it."""
    if os.environ.get(OWN_LOOPBACK) == "1":
        run("ip", "link", "set", "lo", "up")
        return
    if subprocess.run(["unshare", "--net", "true"], capture_output=True).returncode == 0:
        env = dict(os.environ, **{OWN_LOOPBACK: "1"})
        os.execvpe("unshare", ["unshare", "--net", sys.executable] + sys.argv, env)


def upload_host():
    """The fake upload host on its fixed port. On a shared loopback another program may hold the
    port for a moment (a road test ending without the lock); then it is tried again for a while."""
    deadline = time.time() + 20
    while True:
        try:
            return FakeService(lambda line: (b"ok|3.2|http://localhost:8460/e.jpg", 0),
                               ports=(UPLOAD_PORT,))
        except OSError as e:
            if time.time() > deadline:
                fail("port %d stays taken by another program (%s); road tests take "
                     "/tmp/glimmerly-road.lock" % (UPLOAD_PORT, e))
            time.sleep(0.2)


class Screen:
    """Reads window pixels from the X server (libX11 through ctypes)."""

    def __init__(self):
        self.x = ctypes.CDLL("libX11.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XGetImage.restype = ctypes.c_void_p
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XGetPixel.restype = ctypes.c_ulong
        self.x.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        self.x.XDestroyImage.argtypes = [ctypes.c_void_p]
        # A window that is not (yet) viewable answers with an error; that is just "nothing yet".
        handler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
        self.ignore = handler(lambda display, event: 0)
        self.x.XSetErrorHandler(self.ignore)
        self.display = self.x.XOpenDisplay(None)
        if not self.display:
            fail("cannot open the display")

    def region(self, window, x, y, width, height):
        """The pixels of the window's area as a tuple of (r, g, b) rows; None when unreadable."""
        image = self.x.XGetImage(self.display, int(window), x, y, width, height,
                                 0xFFFFFFFF, 2)  # AllPlanes, ZPixmap
        if not image:
            return None
        rows = []
        for j in range(height):
            row = []
            for i in range(width):
                p = self.x.XGetPixel(image, i, j)
                row.append(((p >> 16) & 255, (p >> 8) & 255, p & 255))
            rows.append(tuple(row))
        self.x.XDestroyImage(image)
        return tuple(rows)

    def wait(self, what, window, area, predicate, timeout=20):
        """Waits until predicate(pixels of area) holds."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            pixels = self.region(window, *area)
            if pixels is not None and predicate(pixels):
                return pixels
            time.sleep(0.05)
        fail("the screen never showed " + what)

    def act(self, what, window, area, action):
        """Does `action` and waits until the area shows a change."""
        before = self.wait("the window", window, area, lambda pixels: True)
        action()
        return self.wait(what, window, area, lambda pixels: pixels != before)


def has(colour_test):
    return lambda pixels: any(colour_test(p) for row in pixels for p in row)


def red(p):
    return p[0] > 200 and p[1] < 60 and p[2] < 60


def tick_marks(pixels):
    """Dark pixels: the check mark inside a check box's square (its frame is lighter)."""
    return sum(1 for row in pixels for p in row if sum(p) < 200)


def toggle(screen, window, caption, y, ticked):
    """Clicks the check box whose square is centred at (14, y) of the window, after the box
    shows its old state, and waits until it shows the new one."""
    square = (8, y - 6, 12, 12)
    screen.wait("%r %s" % (caption, "unticked" if ticked else "ticked"), window, square,
                lambda pixels: (tick_marks(pixels) > 5) != ticked)
    click(window, 14, y)
    screen.wait("%r %s" % (caption, "ticked" if ticked else "unticked"), window, square,
                lambda pixels: (tick_marks(pixels) > 5) == ticked)


def click(window, x, y):
    run("xdotool", "mousemove", "--sync", "--window", window, str(x), str(y), "click", "1")


def drag(window, start, end):
    run("xdotool", "mousemove", "--sync", "--window", window, str(start[0]), str(start[1]),
        "mousedown", "1")
    for i in range(1, 6):
        x = start[0] + (end[0] - start[0]) * i // 5
        y = start[1] + (end[1] - start[1]) * i // 5
        run("xdotool", "mousemove", "--sync", "--window", window, str(x), str(y))
    run("xdotool", "mouseup", "1")


def jpeg_of(body):
    start = body.find(b"\r\n\r\n", body.find(b'name="screenshot"')) + 4
    return body[start:body.rfind(b"\r\n--", start)]


def ppm_pixels(jpeg):
    with tempfile.NamedTemporaryFile(suffix=".jpg") as f:
        f.write(jpeg)
        f.flush()
        ppm = subprocess.run(["djpeg", "-pnm", f.name], check=True, capture_output=True).stdout
    fields = ppm.split(maxsplit=4)
    width, height = int(fields[1]), int(fields[2])
    return width, fields[4], height


def main():
    own_loopback()
    host = upload_host()
    screen = Screen()
    with EditorWindowDesktop(sys.argv[1]) as desk:
        main_window = desk.main_window
        run("xdotool", "windowactivate", "--sync", main_window)
        # Each box shows its new state before Print: the capture reads the boxes as they are.
        toggle(screen, main_window, "Nur aktives Fenster speichern", 160, ticked=False)
        toggle(screen, main_window, "Anschliessend bearbeiten", 184, ticked=True)
        desk.press("Print")
        editor = wait_for_window("^Screenshot bearbeiten$")
        strip = (136, 8, 100, 40)
        screen.wait("the monitor strip", editor, strip, has(lambda p: p == FRAME))
        # The second cell of the strip: the frame moves there and the picture scrolls to x 1920.
        click(editor, 136 + 75, 28)
        screen.wait("the second monitor chosen", editor, (136 + 50, 8, 1, 40),
                    has(lambda p: p == FRAME))
        screen.act("'Linie' pressed", editor, (472, 8, 65, 41), lambda: click(editor, 472 + 30, 28))
        # Picture (2020, 100) to (2320, 300): below the tool bar of 57 pixels. The release comes
        # before the next click, so the line is in the picture when the editor closes.
        drag(editor, (100, 157), (400, 357))
        screen.wait("the line in the picture", editor, (240, 247, 21, 21), has(red))
        click(editor, 744 + 60, 28)   # "Bearbeitung beenden"
        if not host.wait_for(lambda lines: len(lines) == 1):
            fail("no upload arrived")
        _, head, body = host.requests[0]
        check_request(head, body, (1280, 1024))
        width, pixels, _ = ppm_pixels(jpeg_of(body))

        def pixel(x, y):
            i = 3 * (y * width + x)
            return tuple(pixels[i:i + 3])

        # In the monitor's own coordinates the line runs from (100, 100) to (400, 300).
        for x, y in ((130, 120), (250, 200), (370, 280)):
            r, g, b = pixel(x, y)
            if not (r > 150 and g < 100 and b < 100):
                fail("pixel %d,%d is %r, not the red line" % (x, y, (r, g, b)))
        r, g, b = pixel(250, 230)
        if r > 180 and g < 90 and b < 90:
            fail("the line is too thick at 250,230")
        print("line found in the uploaded monitor picture")
        desk.close_program()
    print("PASS")


if __name__ == "__main__":
    main()
