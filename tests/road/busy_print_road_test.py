#!/usr/bin/python3
"""Print pressed while a rename waits for its reply is dropped, not queued: the rename's answer
comes after 4 s, Print is pressed meanwhile, and afterwards exactly one picture has been uploaded
and the window still shows the renamed address.

Runs inside the desktop harness with the real X11 backend. Argument: the glimmerly binary. The
program keeps its build-time hosts, so the fake service listens on 8460 and 8461.
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_steps import EditorWindowDesktop, fail, run, wait_for_address  # noqa: E402
from fake_service import FakeService  # noqa: E402

UPLOADED = "http://localhost:8460/abc.jpg"
RENAMED = "http://localhost:8460/plan.jpg"


def answer(line):
    if line.startswith("POST /upload.php "):
        return ("ok|3.2|" + UPLOADED).encode(), 0
    if line.startswith("GET /setname.php?"):
        return RENAMED.encode(), 4
    return b"", 0


def uploads(lines):
    return [l for l in lines if l.startswith("POST /upload.php ")]


def main():
    service = FakeService(answer)
    with EditorWindowDesktop(sys.argv[1]) as desk:
        desk.press("Print")
        wait_for_address(desk.main_window, lambda t: t == UPLOADED)

        # Name field (Notebook1 at 8,56; RenameEdit at 96,8 in it): a new name, then Enter.
        run("xdotool", "mousemove", "--window", desk.main_window, "150", "74", "click", "1")
        desk.press("ctrl+a")
        run("xdotool", "type", "--delay", "20", "plan")
        desk.press("Return")
        if not service.wait_for(lambda lines: any("/setname.php?" in l for l in lines), 10):
            fail("no rename request arrived")
        time.sleep(0.5)
        desk.press("Print")  # while the window thread waits for the rename's reply

        renamed = wait_for_address(desk.main_window, lambda t: t == RENAMED, timeout=15)
        time.sleep(3)  # a queued capture would have grabbed and uploaded by now
        if len(uploads(service.lines())) != 1:
            fail("uploads: %r" % uploads(service.lines()))
        again = wait_for_address(desk.main_window, lambda t: t.startswith("http://"), timeout=5)
        if again != RENAMED:
            fail("the renamed address was replaced by %r" % again)
        print("renamed address kept:", renamed)
        desk.close_program()
    print("PASS")


if __name__ == "__main__":
    main()
