#!/usr/bin/python3
"""Closing the main window on a Wayland desktop while a Print is on its way ends the program
cleanly every time: in a headless sway session, Print, then the window closed the way the
desktop closes it (swaymsg kill) at different moments: as soon as grim has been called, a tenth
and a quarter of a second later (capture and encode), and while the upload waits for an answer
the fake service holds back for 6 s. Each time the program ends with status 0 within 4 s (an upload under way is
cancelled, not waited for), and no copy is left running.

Arguments: the glimmerly binary. Exit 77 (skipped) without sway or root.
"""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "road"))
from fake_service import FakeService  # noqa: E402
from sway_session import SessionError, missing_tools, wait_until  # noqa: E402
from wayland_road import (MAIN_TITLE, focus, grim_calls, new_session,  # noqa: E402
                          own_loopback, program_pids, start_glimmerly, stop_glimmerly)

ANSWER_DELAY = 6


def answer(line):
    if line.startswith("POST /upload.php "):
        return b"ok|3.2|http://localhost:8460/abc.jpg", ANSWER_DELAY
    return b"", 0


def uploads(service):
    return [l for l in service.lines() if l.startswith("POST /upload.php ")]


def close_after(session, log, wait):
    """Print, `wait()`, then close; returns the seconds from the close to the program's end."""
    focus(session, MAIN_TITLE)
    session.key("Print")
    wait()
    start = time.monotonic()
    stop_glimmerly(session, log)
    took = time.monotonic() - start
    if took > 4:
        raise SessionError("the program took %.1f s to end after the close (the upload's answer "
                           "was due after %d s)" % (took, ANSWER_DELAY))
    # The binding's `glimmerly --capture` hands the press over and ends.
    wait_until(lambda: not program_pids(session), 5, "every copy of the program to end")
    return took


def main():
    lacking = missing_tools()
    if lacking:
        print("SKIP: missing " + ", ".join(lacking))
        return 77
    own_loopback()
    service = FakeService(answer)
    with new_session(sys.argv[1]) as session:
        for delay in (0, 0.1, 0.25):
            log = start_glimmerly(session, "grim")
            calls = len(grim_calls(session))

            def grabbed_and_waited():
                # Once the running copy grabs the screen, the press has been handed over; a
                # close before that would leave the binding's copy to start a program of its own.
                wait_until(lambda: len(grim_calls(session)) > calls, 10, "the screen grab")
                time.sleep(delay)

            took = close_after(session, log, grabbed_and_waited)
            print("closed %.2f s after the grab: ended after %.2f s" % (delay, took))

        log = start_glimmerly(session, "grim")
        before = len(uploads(service))
        took = close_after(session, log, lambda: wait_until(
            lambda: len(uploads(service)) > before, 10, "the upload to arrive"))
        print("closed while the upload waited for its answer: ended after %.2f s" % took)
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
