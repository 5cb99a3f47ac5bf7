#!/usr/bin/python3
"""The whole road of the Windows program under wine, against the Linux stand-in service on
loopback: wine's Notepad (with a line of text) has the focus, Print is pressed, glimmerly.exe
grabs Notepad's outer rectangle, compresses it and uploads it; the stored picture must show what
the screen showed in that rectangle. A name typed into the main window and "Umbenennen" rename
the picture on the service. With "Anschliessend bearbeiten" ticked, Print opens the editor, a
line drawn there with the line tool reaches the second stored picture.

Wine delivers a hot key only while one of its own windows has the focus (it grabs no keys on the
X server), hence Notepad in front at each press. The service listens on the program's fixed ports
in a network namespace of the test's own where the machine allows one.

With GLIMMERLY_WINE_ROAD_SHOTS naming a folder, the main window after the rename, the editor
with the line and both stored pictures are saved there (for looking at the windows).

Runs inside the desktop harness. Arguments: glimmerly.exe, the folder of Qt's DLLs, the Linux
build's glimmerly-service (empty: the test is skipped), road_window_rect.exe.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

from PIL import Image, ImageChops, ImageGrab, ImageStat

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "road"))
sys.path.insert(0, os.path.join(HERE, "..", "editor"))
from desktop_steps import close_program, fail, run, wait_for_window  # noqa: E402
from editor_road_test import Screen, click, drag, has, own_loopback, red  # noqa: E402
from rename_road_test import start_service  # noqa: E402
from road_wine import WineDesktop  # noqa: E402

SKIP = 77
NEW_NAME = "Grüße aus Wine"
NEW_ADDRESS = "http://127.0.0.1:8460/gruesse_aus_wine.jpg"
TOOL_BAR = 57  # the editor's picture starts below it
SHIFT = 3  # pixels by which a wrong crop would be off
SHOTS = os.environ.get("GLIMMERLY_WINE_ROAD_SHOTS")


def keep(name, window=None, path=None):
    """Saves a window as shown on the screen, or a stored picture, into SHOTS."""
    if not SHOTS:
        return
    os.makedirs(SHOTS, exist_ok=True)
    if path:
        shutil.copy(path, os.path.join(SHOTS, name))
        return
    info = dict(line.strip().split(": ", 1) for line in run("xwininfo", "-frame", "-id", window)
                .splitlines() if ": " in line)
    x, y = int(info["Absolute upper-left X"]), int(info["Absolute upper-left Y"])
    w, h = int(info["Width"]), int(info["Height"])
    ImageGrab.grab((x, y, x + w, y + h)).save(os.path.join(SHOTS, name))


def stored_pictures(data):
    return sorted(glob.glob(os.path.join(data, "store", "pictures", "*.jpg")), key=os.path.getmtime)


def wait_for_pictures(data, count, timeout=90):
    deadline = time.time() + timeout
    while time.time() < deadline:
        pictures = stored_pictures(data)
        if len(pictures) >= count:
            time.sleep(0.2)  # renamed into place whole; the next one may follow
            return pictures
        time.sleep(0.2)
    fail("the service holds %d pictures, not %d" % (len(stored_pictures(data)), count))


def notepad_in_front(wine, helper):
    """Brings Notepad to the front and waits until wine has made it the foreground window too;
    returns its outer rectangle."""
    title = run("xdotool", "getwindowname", wine.notepad)
    deadline = time.time() + 30
    tries = 0
    while True:
        tries += 1
        wine.front_notepad()
        p = wine.start(helper, title, stdout=subprocess.PIPE)
        out, _ = p.communicate(timeout=60)
        if p.returncode != 0:
            fail("no rectangle for the window %r" % title)
        *rect, front = (int(v) for v in out.split())
        if front:
            if tries > 1:
                print("Notepad became the foreground window after %d looks" % tries)
            return tuple(rect)
        if time.time() > deadline:
            fail("Notepad has the focus but never becomes wine's foreground window")
        time.sleep(0.2)


def mean_difference(a, b):
    return sum(ImageStat.Stat(ImageChops.difference(a, b)).mean) / 3


def check_capture(jpeg_path, screen, rect):
    """The stored picture is the rectangle's size and matches the screen grabbed around it (with
    SHIFT pixels to spare on each side) where the rectangle lies, and clearly worse a few pixels
    off."""
    left, top, right, bottom = rect
    picture = Image.open(jpeg_path).convert("RGB")
    if picture.size != (right - left, bottom - top):
        fail("the picture is %dx%d, Notepad's rectangle %dx%d" %
             (picture.size + (right - left, bottom - top)))

    def at(dx, dy):
        box = (SHIFT + dx, SHIFT + dy, SHIFT + dx + picture.width, SHIFT + dy + picture.height)
        return mean_difference(picture, screen.crop(box))

    here = at(0, 0)
    shifted = min(at(dx, dy) for dx, dy in ((-SHIFT, 0), (SHIFT, 0), (0, -SHIFT), (0, SHIFT)))
    print("capture %dx%d: mean difference %.2f in place, %.2f shifted by %d" %
          (picture.size + (here, shifted, SHIFT)))
    if here > 4 or here * 2 > shifted:
        fail("the picture does not show Notepad's rectangle")


def fetch(address):
    try:
        with urllib.request.urlopen(address, timeout=5) as reply:
            return reply.read()
    except urllib.error.URLError:
        return None


def rename(main_window, stored, data):
    # Page 1 of Notebook1 (at 8,56): RenameEdit at 96,8, RenameButton at 280,5 (113 x 28).
    run("xdotool", "windowactivate", "--sync", main_window)
    click(main_window, 150, 74)
    run("xdotool", "key", "ctrl+a")
    run("xdotool", "type", "--delay", "30", NEW_NAME)
    click(main_window, 8 + 280 + 56, 56 + 5 + 14)
    deadline = time.time() + 30
    while time.time() < deadline:
        served = fetch(NEW_ADDRESS)
        if served is not None:
            with open(stored, "rb") as f:
                if served != f.read():
                    fail("the service serves another picture under the new name")
            print("renamed:", NEW_ADDRESS)
            time.sleep(0.5)
            keep("main-window.png", window=main_window)
            return
        time.sleep(0.3)
    with open(os.path.join(data, "service.log"), errors="replace") as log:
        asked = [line.strip() for line in log if "setname" in line]
    fail("the service has no picture named %r; rename requests: %r" % (NEW_NAME, asked))


def draw_in_editor(screen, wine, helper):
    """Opens the editor with Print on Notepad, draws a line from picture (60, 60) to (300, 200)
    with the line tool and ends the editing. Returns Notepad's rectangle."""
    rect = notepad_in_front(wine, helper)
    run("xdotool", "key", "Print")
    editor = wait_for_window("^Screenshot bearbeiten$", timeout=60)
    tool = (472, 8, 65, 41)  # "Linie"
    screen.act("'Linie' pressed", editor, tool, lambda: click(editor, 472 + 30, 28))
    drag(editor, (60, TOOL_BAR + 60), (300, TOOL_BAR + 200))
    screen.wait("the line in the picture", editor, (170, TOOL_BAR + 120, 21, 21), has(red))
    keep("editor.png", window=editor)
    click(editor, 744 + 60, 28)  # "Bearbeitung beenden"
    return rect


def check_line(jpeg_path, rect):
    picture = Image.open(jpeg_path).convert("RGB")
    if picture.size != (rect[2] - rect[0], rect[3] - rect[1]):
        fail("the edited picture is %dx%d, not Notepad's size" % picture.size)
    on_line = [(60 + 240 * i // 10, 60 + 140 * i // 10) for i in range(1, 10)]
    for x, y in on_line:
        near = [picture.getpixel((x + dx, y + dy)) for dx in (-1, 0, 1) for dy in (-1, 0, 1)]
        if not any(red(p) or (p[0] > 150 and p[1] < 100 and p[2] < 100) for p in near):
            fail("no red line at %d,%d of the uploaded picture" % (x, y))
    print("line found in the uploaded picture")


def main():
    program, qt_bin, service_binary, rect_helper = sys.argv[1:5]
    if not service_binary:
        print("SKIP: no Linux glimmerly-service given (GLIMMERLY_HOST_SERVICE)")
        sys.exit(SKIP)
    own_loopback()
    # A German keyboard, as the program's users have: the umlauts of the new name lie on keys of
    # their own (xdotool would otherwise borrow a spare key for them, which wine maps to no
    # virtual key, so Qt would see no text). Set before wine starts and reads the layout.
    run("setxkbmap", "de")
    screen = Screen()
    with tempfile.TemporaryDirectory() as data:
        service = start_service(service_binary, data)
        try:
            with WineDesktop(qt_bin) as wine:
                run("xdotool", "windowmove", "--sync", wine.notepad, "300", "250")
                run("xdotool", "windowsize", "--sync", wine.notepad, "640", "420")
                run("xdotool", "type", "--delay", "20", "Ein Text unter Wine")
                app = wine.start(program)
                main_window = wait_for_window("^Glimmerly 3.2$", timeout=90)

                rect = notepad_in_front(wine, rect_helper)
                left, top, right, bottom = rect
                around = ImageGrab.grab((left - SHIFT, top - SHIFT, right + SHIFT, bottom + SHIFT))
                run("xdotool", "key", "Print")
                first = wait_for_pictures(data, 1)[-1]
                check_capture(first, around, rect)
                keep("first-upload.jpg", path=first)

                rename(main_window, first, data)

                # "Anschliessend bearbeiten" (EditCheckBox at 8,176, unticked at the start):
                # ticked once its square shows the change.
                run("xdotool", "windowactivate", "--sync", main_window)
                screen.act("'Anschliessend bearbeiten' ticked", main_window, (8, 178, 13, 13),
                           lambda: click(main_window, 14, 184))
                rect = draw_in_editor(screen, wine, rect_helper)
                second = wait_for_pictures(data, 2)[-1]
                keep("second-upload.jpg", path=second)
                check_line(second, rect)

                close_program(main_window, app, timeout=30)
        finally:
            service.terminate()
            service.wait(10)
    print("PASS")


if __name__ == "__main__":
    main()
