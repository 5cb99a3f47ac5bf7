#!/usr/bin/python3
"""The headless sway session itself, before any Glimmerly test relies on it: grim sees both
outputs side by side with the gap below the smaller one black, Print reaches the key binding,
the portal answers a non-interactive Screenshot with a file in the session's private /tmp, and
stopping leaves no process of the session behind. Exit 77 (skipped) without sway or root."""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from sway_session import (LAYOUT, OUTPUTS, SwaySession, missing_tools,  # noqa: E402
                          processes_in, wait_until)


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def colour(hex_colour):
    return bytes.fromhex(hex_colour.lstrip("#"))


def check_layout(session):
    width, height, rgb = session.grim()
    if (width, height) != LAYOUT:
        fail("grim sees %dx%d, not %dx%d" % (width, height, *LAYOUT))

    def pixel(x, y):
        i = 3 * (y * width + x)
        return rgb[i:i + 3]
    for _, (w, h), (x0, y0), bg in OUTPUTS:
        for x, y in ((x0 + 2, y0 + 2), (x0 + w - 3, y0 + h - 3)):
            if pixel(x, y) != colour(bg):
                fail("pixel %d,%d is %s, not the background %s" % (x, y, pixel(x, y).hex(), bg))
    (_, (w1, _), _, _), (_, (w2, h2), _, _) = OUTPUTS
    gap = [pixel(x, y) for y in range(h2, height) for x in range(w1, w1 + w2)]
    if any(p != b"\0\0\0" for p in gap):
        fail("the gap below the smaller output is not black")


def main():
    lacking = missing_tools()
    if lacking:
        print("SKIP: missing " + ", ".join(lacking))
        return 77
    session = SwaySession(print_command="touch /tmp/pressed")
    with session:
        check_layout(session)

        session.key("Print")
        wait_until(lambda: os.path.exists(session.path("tmp", "pressed")), 10,
                   "the Print binding to run")

        # A copy the session's user can reach: the session has a /tmp of its own, which hides a
        # source tree that lies under the machine's /tmp.
        caller = session.install(os.path.join(HERE, "portal_shot.py"))
        log = session.exec("/usr/bin/python3 %s" % caller)
        wait_until(lambda: "response" in session.output(log), 20, "the portal's answer")
        answer = session.output(log).split()
        if answer[:2] != ["response", "0"] or not answer[2].startswith("file:///tmp/"):
            fail("portal answered %r" % answer)
        # The session's /tmp is its folder's tmp/: the place to look for left-over shots.
        if not os.path.exists(session.path("tmp", answer[2][len("file:///tmp/"):])):
            fail("the portal's file %s is not in the session's tmp/" % answer[2])
        namespace = session.pid_namespace
        if not namespace or not processes_in(namespace):
            fail("no process found in the session's PID namespace")
    if processes_in(namespace):
        fail("processes of the session outlived it: %r" % processes_in(namespace))
    if os.path.exists(session.folder):
        fail("the session folder was left behind")
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
