#!/usr/bin/python3
"""Print on a Wayland desktop, on one grab route, through to the stand-in service.

In a headless sway session (1024x768 at 0,0 and 1280x720 at 1024,0) with a red window of
another program on the second output, Print fires sway's binding `glimmerly --capture` (typed
with wtype), and the service stores:
  - with "Nur aktives Fenster speichern" ticked (its state at start): the focused window's
    outer rectangle, title bar included, with the pixels on screen;
  - with it unticked (space on the focused box): the whole layout, 2304x768, the band below
    the smaller output black, the pixels on screen;
  - grim route: the program ran grim; the editor opened with "Anschliessend bearbeiten"
    shows both outputs in its monitor strip;
  - portal route: grim fails for the program, the portal delivered, and no shot is left in
    the session's /tmp where the portal writes it.

Arguments: ROUTE[@SCALE] (grim or portal; SCALE of the second output, default 1: its mode
grows with it, the layout in logical units stays), glimmerly, glimmerly-service,
wayland_colour_window.
Exit 77 (skipped) without sway or root.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from sway_session import LAYOUT, OUTPUTS, missing_tools, wait_until  # noqa: E402
from wayland_road import (EDITOR_TITLE, MAIN_TITLE, Service, focus,  # noqa: E402
                          grim_calls, new_session, own_loopback, start_glimmerly,
                          stop_glimmerly)

TARGET_TITLE = "Farbfenster"
TARGET_COLOUR = (200, 40, 40)
TARGET_AT = (1400, 150)  # on the second output
TARGET_SIZE = (500, 300)
PORTAL_FILE = "out.png"  # the portal backend's fixed file in /tmp


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


class Picture:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.rgb[i:i + 3])

    def mean_difference(self, other, skip=None):
        """Mean absolute difference per channel over every 3rd pixel of every 3rd row, leaving
        out the rectangle `skip` (x, y, w, h)."""
        total = count = 0
        for y in range(0, self.height, 3):
            for x in range(0, self.width, 3):
                if skip and skip[0] <= x < skip[0] + skip[2] and skip[1] <= y < skip[1] + skip[3]:
                    continue
                a, b = self.pixel(x, y), other.pixel(x, y)
                total += abs(a[0] - b[0]) + abs(a[1] - b[1]) + abs(a[2] - b[2])
                count += 3
        return total / max(count, 1)


def near(colour, expected, tolerance=24):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


def outer_rect(node):
    """A window's rectangle on screen, title bar and border included."""
    r, deco = node["rect"], node["deco_rect"]
    return r["x"], r["y"] - deco["height"], r["width"], r["height"] + deco["height"]


def content_origin(node):
    rect, inner = node["rect"], node["window_rect"]
    return rect["x"] + inner["x"], rect["y"] + inner["y"]


def settled_screen(session):
    """The layout once two grabs in a row agree (a focus change is drawn a frame later)."""
    last = [None]

    def same():
        shot = session.grim()
        found, last[0] = shot == last[0], shot
        return found
    wait_until(same, 5, "the screen to settle")
    return Picture(*last[0])


def press_print(session, service, count, title):
    focus(session, title)
    reference = settled_screen(session)
    session.key("Print")
    return reference, Picture(*service.wait_for_picture(count))


def check_active_window(session, service, count):
    target = session.wait_for_window(TARGET_TITLE)
    x, y, w, h = outer_rect(target)
    screen, stored = press_print(session, service, count, TARGET_TITLE)
    if (stored.width, stored.height) != (w, h):
        fail("active window: stored %dx%d, the window is %dx%d" % (stored.width, stored.height,
                                                                    w, h))
    title_bar = stored.pixel(w // 2, 3)
    if near(title_bar, TARGET_COLOUR, 60):
        fail("active window: no title bar at the top, %r" % (title_bar,))
    if not near(stored.pixel(w // 2, h // 2), TARGET_COLOUR):
        fail("active window: centre is %r" % (stored.pixel(w // 2, h // 2),))
    cut = Picture(w, h, b"".join(screen.rgb[3 * ((y + j) * screen.width + x):
                                            3 * ((y + j) * screen.width + x + w)]
                                 for j in range(h)))
    diff = stored.mean_difference(cut)
    if diff > 6:
        fail("active window: differs from the screen by %.1f per channel" % diff)
    print("active window: %dx%d at %d,%d, difference %.2f" % (w, h, x, y, diff))


def check_whole_layout(session, service, count):
    main = session.wait_for_window(MAIN_TITLE)
    screen, stored = press_print(session, service, count, TARGET_TITLE)
    if (stored.width, stored.height) != LAYOUT:
        fail("whole layout: stored %dx%d, not %dx%d" % (stored.width, stored.height, *LAYOUT))
    # The main window may have changed (status line, progress) between the two shots.
    diff = stored.mean_difference(screen, skip=outer_rect(main))
    if diff > 4:
        fail("whole layout: differs from the screen by %.1f per channel" % diff)
    (_, (w1, _), _, bg1), (_, (w2, h2), _, bg2) = OUTPUTS
    for (x, y), bg in (((5, 760), bg1), ((w1 + 5, h2 - 5), bg2)):
        if not near(stored.pixel(x, y), bytes.fromhex(bg[1:])):
            fail("whole layout: %d,%d is %r, not the background %s" % (x, y, stored.pixel(x, y),
                                                                      bg))
    # Away from the edges, where JPEG blurs the neighbouring colours into the band.
    gap = [stored.pixel(x, y) for y in range(h2 + 8, LAYOUT[1] - 2, 4)
           for x in range(w1 + 8, w1 + w2 - 2, 8)]
    if max(max(p) for p in gap) > 24:
        fail("whole layout: the band below the smaller output is not black: %r"
             % (max(gap, key=max),))
    tx, ty = TARGET_AT[0] + TARGET_SIZE[0] // 2, TARGET_AT[1] + TARGET_SIZE[1] // 2
    if not near(stored.pixel(tx, ty), TARGET_COLOUR):
        fail("whole layout: the red window is missing at %d,%d" % (tx, ty))
    print("whole layout: %dx%d, difference %.2f" % (stored.width, stored.height, diff))


def restart_with_keys(session, route, log, *keys):
    """Starts the program afresh (its keyboard focus on "Nur aktives Fenster speichern") and
    types keys into its main window."""
    stop_glimmerly(session, log)
    log = start_glimmerly(session, route)
    focus(session, MAIN_TITLE)
    for key in keys:
        session.key(key)
    return log


def check_editor_strip(session):
    """The strip (100x40 at 136,8 in the editor: a cell of 50 per output, the first one chosen)
    shows the first output's blue undimmed and, dimmed by the dots over the cell not chosen, the
    second output's green, the red window and the black band below it. Compared as block
    averages: on a scaled output the dots blend into their neighbours."""
    session.wait_for_window(EDITOR_TITLE)
    blue, green = bytes.fromhex(OUTPUTS[0][3][1:]), bytes.fromhex(OUTPUTS[1][3][1:])
    half = lambda colour: tuple(c // 2 for c in colour)  # noqa: E731
    # (x, y, w, h) in the strip, expected mean colour
    blocks = (((2, 32, 4, 6), tuple(blue)),            # first output's lower left corner
              ((86, 26, 10, 8), half(green)),           # second output, right of the window
              ((66, 10, 12, 8), half(TARGET_COLOUR)),   # the red window
              ((60, 39, 38, 1), (0, 0, 0)))             # the band below the second output

    def means():
        # The window may still be placed or resized after it was mapped.
        ox, oy = content_origin(session.wait_for_window(EDITOR_TITLE))
        w, h, rgb = session.grim("-g", "%d,%d 100x40" % (ox + 136, oy + 8))
        strip = Picture(w, h, rgb)
        found = []
        for (x, y, bw, bh), _ in blocks:
            pixels = [strip.pixel(i, j) for j in range(y, y + bh) for i in range(x, x + bw)]
            found.append(tuple(sum(p[c] for p in pixels) // len(pixels) for c in range(3)))
        return found

    def looks_right(found):
        return all(near(f, expected, 20) for f, (_, expected) in zip(found, blocks))
    try:
        wait_until(lambda: looks_right(means()), 10, "the monitor strip", poll=0.2)
    except Exception:
        fail("editor strip: block means %r, expected %r" % (means(), [e for _, e in blocks]))
    print("editor strip shows both outputs")


def main():
    route, _, scale = sys.argv[1].partition("@")
    program, service_binary, colour_window = sys.argv[2:5]
    lacking = missing_tools()
    if lacking:
        print("SKIP: missing " + ", ".join(lacking))
        return 77
    own_loopback()
    service = Service(service_binary)
    try:
        with new_session(program, 'for_window [title="^%s$"] move absolute position %d %d\n'
                         % (TARGET_TITLE, *TARGET_AT), int(scale or 1)) as session:
            window = session.install(colour_window)
            session.exec("%s --title %s --size %dx%d --colour %02x%02x%02x"
                         % (window, TARGET_TITLE, *TARGET_SIZE, *TARGET_COLOUR))
            session.wait_for_window(TARGET_TITLE)
            log = start_glimmerly(session, route)
            portal_file = session.path("tmp", PORTAL_FILE)

            check_active_window(session, service, 1)
            log = restart_with_keys(session, route, log, "space")  # whole layout
            check_whole_layout(session, service, 2)

            calls = grim_calls(session)
            if route == "grim":
                if len(calls) != 2:
                    fail("grim route: grim ran %d times for 2 captures" % len(calls))
                # Whole layout, "Anschliessend bearbeiten" ticked.
                restart_with_keys(session, route, log, "space", "Tab", "space")
                focus(session, TARGET_TITLE)
                session.key("Print")
                check_editor_strip(session)
            else:
                if os.path.exists(portal_file):
                    fail("portal route: the shot was left in %s" % portal_file)
                print("portal route: grim refused %d times, no file left" % len(calls))
    finally:
        service.stop()
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
