#!/usr/bin/python3
"""Print on a Wayland desktop, on one grab route, through to the stand-in service.

In a headless sway session (1024x768 at 0,0 and 1280x720 beside it) with a red window of
another program on the second output, Print fires sway's binding `glimmerly --capture` (typed
with wtype), and the service stores:
  - with "Nur aktives Fenster speichern" ticked (its state at start): the focused window's
    outer rectangle, title bar included, with the pixels on screen;
  - with it unticked (space on the focused box): the whole layout, 2304x768, the band below
    the smaller output black, the pixels on screen;
  - twice in a row in one run, the whole layout both times;
  - grim route: the first Print, with no copy running, starts the program, which captures;
    the program ran grim; the editor opened with "Anschliessend bearbeiten"
    shows both outputs in its monitor strip, the first cell plain, the second dotted;
  - portal route: grim fails for the program, the portal delivered, and no shot is left in
    the session's /tmp where the portal writes it; started without $SWAYSOCK (no way to learn
    the active window), the ticked box gives the whole layout.

Arguments: ROUTE (grim or portal), LAYOUT (plain; scaled and fractional: the second output at
scale 2 or 1.5, its mode grown with it, the same layout in logical units; left: the second
output at x -1280), then the glimmerly, glimmerly-service and wayland_colour_window binaries.
Exit 77 (skipped) without sway or root.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from sway_session import LAYOUT, missing_tools, wait_until  # noqa: E402
from wayland_road import (EDITOR_TITLE, MAIN_TITLE, Service,  # noqa: E402
                          close_started_by_print, content_origin, focus, grim_calls,
                          new_session, own_loopback, set_options, start_glimmerly,
                          stop_glimmerly)

TARGET_TITLE = "Farbfenster"
TARGET_COLOUR = (200, 40, 40)
TARGET_OFFSET = (376, 150)  # from the second output's top left corner
TARGET_SIZE = (500, 300)
PORTAL_FILE = "out.png"  # the portal backend's fixed file in /tmp
LAYOUTS = {"plain": {}, "scaled": {"second_scale": 2}, "left": {"second_left": True},
           "fractional": {"second_scale": 1.5}}


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


class Picture:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.rgb[i:i + 3])

    def crop(self, x, y, w, h):
        return Picture(w, h, b"".join(self.rgb[3 * ((y + j) * self.width + x):
                                               3 * ((y + j) * self.width + x + w)]
                                      for j in range(h)))

    def mean(self, x, y, w, h):
        part = self.crop(x, y, w, h).rgb
        n = max(len(part) // 3, 1)
        return tuple(sum(part[c::3]) // n for c in range(3))

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


def outer_rect(session, node):
    """A window's rectangle, title bar and border included, in picture coordinates (the
    layout's left edge is the picture's column 0)."""
    r, deco = node["rect"], node["deco_rect"]
    return (r["x"] - session.left, r["y"] - deco["height"], r["width"],
            r["height"] + deco["height"])


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
    """Print with `title` focused: the screen just before and the picture stored."""
    reference = press_only(session, title)
    return reference, Picture(*service.wait_for_picture(count))


def press_only(session, title):
    focus(session, title)
    reference = settled_screen(session)
    session.key("Print")
    return reference


def check_active_window(session, service, count):
    x, y, w, h = outer_rect(session, session.wait_for_window(TARGET_TITLE))
    screen, stored = press_print(session, service, count, TARGET_TITLE)
    if (stored.width, stored.height) != (w, h):
        fail("active window: stored %dx%d, the window is %dx%d" % (stored.width, stored.height,
                                                                    w, h))
    title_bar = stored.pixel(w // 2, 3)
    if near(title_bar, TARGET_COLOUR, 60):
        fail("active window: no title bar at the top, %r" % (title_bar,))
    if not near(stored.pixel(w // 2, h // 2), TARGET_COLOUR):
        fail("active window: centre is %r" % (stored.pixel(w // 2, h // 2),))
    diff = stored.mean_difference(screen.crop(x, y, w, h))
    if diff > 6:
        fail("active window: differs from the screen by %.1f per channel" % diff)
    print("active window: %dx%d at %d,%d, difference %.2f" % (w, h, x, y, diff))


def check_whole_layout(session, service, count, what="whole layout"):
    main = outer_rect(session, session.wait_for_window(MAIN_TITLE))
    screen, stored = press_print(session, service, count, TARGET_TITLE)
    if (stored.width, stored.height) != LAYOUT:
        fail("%s: stored %dx%d, not %dx%d" % (what, stored.width, stored.height, *LAYOUT))
    # The main window may have changed (status line, progress) between the two shots.
    diff = stored.mean_difference(screen, skip=main)
    if diff > 4:
        fail("%s: differs from the screen by %.1f per channel" % (what, diff))
    for _, (w, h), (x, _), bg in session.outputs:
        x -= session.left
        corner = stored.mean(x + 4, h - 12, 8, 8)
        if not near(corner, bytes.fromhex(bg[1:])):
            fail("%s: the output at %d shows %r at its lower left, not %s" % (what, x, corner, bg))
        if h < LAYOUT[1]:
            # Away from the edges, where JPEG blurs the neighbouring colours into the band.
            band = stored.crop(x + 8, h + 8, w - 16, LAYOUT[1] - h - 10)
            if max(band.rgb) > 24:
                fail("%s: the band below the smaller output is not black" % what)
    tx, ty, tw, th = outer_rect(session, session.wait_for_window(TARGET_TITLE))
    if not near(stored.pixel(tx + tw // 2, ty + th // 2), TARGET_COLOUR):
        fail("%s: the red window is missing at %d,%d" % (what, tx + tw // 2, ty + th // 2))
    print("%s: %dx%d, difference %.2f" % (what, stored.width, stored.height, diff))


def restart(session, route, log, whole_layout, edit=False):
    """Starts the program afresh and sets its two check boxes."""
    stop_glimmerly(session, log)
    log = start_glimmerly(session, route)
    set_options(session, whole_layout, edit)
    return log


def check_editor_strip(session, screen, main):
    """The strip (100x40 at 136,8 in the editor, a cell of 50 per output, the first chosen)
    is the captured layout shrunk, the second cell darkened by black dots over every other
    pixel. Compared block by block with the screen before Print, as block averages (on a scaled
    output the dots blend into their neighbours), away from the main window, which changed
    meanwhile, and from the chosen cell's dotted frame."""
    session.wait_for_window(EDITOR_TITLE)
    sx, sy = screen.width / 100, screen.height / 40
    blocks = []
    for x in (2, 12, 22, 32, 40, 52, 62, 72, 82, 91):
        for y, h in ((2, 8), (12, 8), (22, 8), (30, 6), (38, 1)):
            px, py = int(x * sx), int(y * sy)
            pw, ph = int(8 * sx), max(int(h * sy), 1)
            if (px < main[0] + main[2] + sx and main[0] - sx < px + pw
                    and py < main[1] + main[3] + sy and main[1] - sy < py + ph):
                continue
            expected = screen.mean(px, py, pw, ph)
            if x > 50:
                expected = tuple(c // 2 for c in expected)
            blocks.append(((x, y, 8, h), expected))

    def means():
        # The window may still be placed or resized after it was mapped.
        ox, oy = content_origin(session.wait_for_window(EDITOR_TITLE))
        strip = Picture(*session.grim("-g", "%d,%d 100x40" % (ox + 136, oy + 8)))
        return [strip.mean(*block) for block, _ in blocks]

    def wrong(found):
        return [(block, f, e) for f, (block, e) in zip(found, blocks) if not near(f, e, 24)]
    try:
        wait_until(lambda: not wrong(means()), 10, "the monitor strip", poll=0.2)
    except Exception:
        fail("editor strip: blocks (x, y, w, h), found, expected: %r" % wrong(means()))
    print("editor strip: %d blocks match both outputs" % len(blocks))


def main():
    route, layout = sys.argv[1:3]
    program, service_binary, colour_window = sys.argv[3:6]
    lacking = missing_tools()
    if lacking:
        print("SKIP: missing " + ", ".join(lacking))
        return 77
    own_loopback()
    service = Service(service_binary)
    try:
        with new_session(program, **LAYOUTS[layout]) as session:
            _, _, (x2, y2), _ = session.outputs[1]
            at = (x2 + TARGET_OFFSET[0], y2 + TARGET_OFFSET[1])
            session.swaymsg('for_window [title="^%s$"] move absolute position %d %d'
                            % (TARGET_TITLE, *at))
            window = session.install(colour_window)
            session.exec("%s --title %s --size %dx%d --colour %02x%02x%02x"
                         % (window, TARGET_TITLE, *TARGET_SIZE, *TARGET_COLOUR))
            centre = "%d,%d 1x1" % (at[0] + TARGET_SIZE[0] // 2, at[1] + TARGET_SIZE[1] // 2)
            wait_until(lambda: outer_rect(session, session.wait_for_window(TARGET_TITLE))[:2]
                       == (at[0] - session.left, at[1]) and
                       near(session.grim("-g", centre)[2], TARGET_COLOUR, 4), 10,
                       "the red window on screen in its place")
            portal_file = session.path("tmp", PORTAL_FILE)
            if route == "grim":
                # No copy runs yet: the binding's --capture starts one, which captures.
                check_active_window(session, service, 1)
                close_started_by_print(session)
                log = start_glimmerly(session, route)
            else:
                log = start_glimmerly(session, route)
                set_options(session, whole_layout=False)
                check_active_window(session, service, 1)
            log = restart(session, route, log, whole_layout=True)
            check_whole_layout(session, service, 2)
            check_whole_layout(session, service, 3, "whole layout again")

            calls = grim_calls(session)
            if route == "grim":
                if len(calls) != 2:
                    fail("grim route: grim ran %d times for 2 captures" % len(calls))
                restart(session, route, log, whole_layout=True, edit=True)
                main = outer_rect(session, session.wait_for_window(MAIN_TITLE))
                check_editor_strip(session, press_only(session, TARGET_TITLE), main)
            else:
                if os.path.exists(portal_file):
                    fail("portal route: the shot was left in %s" % portal_file)
                print("portal route: grim refused %d times, no file left" % len(calls))
                stop_glimmerly(session, log)
                start_glimmerly(session, route, unset=("SWAYSOCK",))
                set_options(session, whole_layout=False)
                check_whole_layout(session, service, 4, "active window without $SWAYSOCK")
                if os.path.exists(portal_file):
                    fail("portal route: the shot was left in %s" % portal_file)
    finally:
        service.stop()
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
