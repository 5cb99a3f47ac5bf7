#!/usr/bin/python3
"""The editor on the real program and the test desktop (two monitors, M2 1280 x 1024 at 1920,0):
with "Anschliessend bearbeiten" ticked and "Nur aktives Fenster speichern" unticked, Print opens
the editor; a click on the second cell of the monitor strip, a line drawn with the line tool and
"Bearbeitung beenden" upload a JPEG exactly the second monitor's size that shows the line.

Runs inside the desktop harness. Argument: the glimmerly binary.
"""
import os
import subprocess
import sys
import tempfile
import time

ROAD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "road")
sys.path.insert(0, ROAD)
from desktop_steps import EditorWindowDesktop, fail, run, wait_for_window  # noqa: E402
from fake_service import FakeService  # noqa: E402
from upload_road_test import check_request  # noqa: E402


def click(window, x, y):
    run("xdotool", "mousemove", "--window", window, str(x), str(y), "click", "1")
    time.sleep(0.3)


def drag(window, start, end):
    run("xdotool", "mousemove", "--window", window, str(start[0]), str(start[1]),
        "mousedown", "1")
    for i in range(1, 6):
        x = start[0] + (end[0] - start[0]) * i // 5
        y = start[1] + (end[1] - start[1]) * i // 5
        run("xdotool", "mousemove", "--window", window, str(x), str(y))
        time.sleep(0.05)
    run("xdotool", "mouseup", "1")
    time.sleep(0.3)


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
    host = FakeService(lambda line: (b"ok|3.2|http://localhost:8460/e.jpg", 0), ports=(8461,))
    with EditorWindowDesktop(sys.argv[1]) as desk:
        run("xdotool", "windowactivate", "--sync", desk.main_window)
        click(desk.main_window, 14, 160)  # untick "Nur aktives Fenster speichern"
        click(desk.main_window, 14, 184)  # tick "Anschliessend bearbeiten"
        desk.press("Print")
        editor = wait_for_window("^Screenshot bearbeiten$")
        run("xdotool", "windowactivate", "--sync", editor, check=False)
        time.sleep(0.5)
        click(editor, 136 + 75, 28)   # second cell of the strip: the picture scrolls to x 1920
        click(editor, 472 + 30, 28)   # "Linie"
        # Picture (2020, 100) to (2320, 300): below the tool bar of 57 pixels.
        drag(editor, (100, 157), (400, 357))
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
