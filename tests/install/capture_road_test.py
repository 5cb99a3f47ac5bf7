#!/usr/bin/python3
"""glimmerly --capture on the test desktop, with the real X11 backend and the real channel:
started with --capture when no copy runs, the program captures once it is ready; against the
running copy, --capture uploads exactly once; while an upload waits for its reply, and while a
rename blocks the window, --capture is dropped (the upload count stays), exactly as a press of
Print would be.

Runs inside the desktop harness. Argument: the glimmerly binary. The fake service listens on
the build-time ports 8460 and 8461.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "road"))
from desktop_steps import close_program, fail, run, wait_for_address, wait_for_window  # noqa: E402
from fake_service import FakeService  # noqa: E402

SLOW_UPLOAD = 3  # the third upload's reply comes after this many seconds


def uploads(lines):
    return [l for l in lines if l.startswith("POST /upload.php ")]


def main():
    program = sys.argv[1]
    count = {"n": 0}

    def answer(line):
        if line.startswith("POST /upload.php "):
            count["n"] += 1
            n = count["n"]
            return ("ok|3.2|http://localhost:8460/p%d.jpg" % n).encode(), (
                SLOW_UPLOAD if n == 3 else 0)
        if line.startswith("GET /setname.php?"):
            return b"http://localhost:8460/plan.jpg", 4
        return b"", 0

    service = FakeService(answer)
    target = subprocess.Popen(["xmessage", "-title", "Unbenannt - Editor", "-geometry",
                               "640x400+300+200", "Ein Text zum Fotografieren"])
    app = subprocess.Popen([program, "--capture"])
    try:
        main_window = wait_for_window("^Glimmerly 3.2$")
        if not service.wait_for(lambda l: len(uploads(l)) == 1, 20):
            fail("the first copy started with --capture did not upload")
        wait_for_address(main_window, lambda t: t.endswith("/p1.jpg"))

        editor = wait_for_window("^Unbenannt - Editor$")
        run("xdotool", "windowactivate", "--sync", editor)
        second = subprocess.run([program, "--capture"], capture_output=True, text=True, timeout=20)
        if second.returncode != 0:
            fail("--capture against the running copy: %d %r" % (second.returncode, second.stderr))
        if not service.wait_for(lambda l: len(uploads(l)) == 2, 20):
            fail("--capture against the running copy did not upload")
        wait_for_address(main_window, lambda t: t.endswith("/p2.jpg"))

        run("xdotool", "windowactivate", "--sync", editor)
        subprocess.run([program, "--capture"], check=True, timeout=20)
        if not service.wait_for(lambda l: len(uploads(l)) == 3, 20):
            fail("the third capture did not upload")
        busy = subprocess.run([program, "--capture"], capture_output=True, text=True, timeout=20)
        if busy.returncode != 0:
            fail("--capture while busy: %d %r" % (busy.returncode, busy.stderr))
        wait_for_address(main_window, lambda t: t.endswith("/p3.jpg"), timeout=20)
        time.sleep(3)  # a queued capture would have grabbed and uploaded by now
        if len(uploads(service.lines())) != 3:
            fail("--capture while an upload ran was not dropped: %r" % uploads(service.lines()))

        # While a rename waits for its reply the program is busy too: dropped, not queued.
        run("xdotool", "mousemove", "--window", main_window, "150", "74", "click", "1")
        run("xdotool", "key", "ctrl+a")
        run("xdotool", "type", "--delay", "20", "plan")
        run("xdotool", "key", "Return")
        if not service.wait_for(lambda l: any("/setname.php?" in x for x in l), 10):
            fail("no rename request arrived")
        time.sleep(0.5)
        blocked = subprocess.Popen([program, "--capture"])
        wait_for_address(main_window, lambda t: t.endswith("/plan.jpg"), timeout=15)
        if blocked.wait(20) != 0:
            fail("--capture during the rename exited %d" % blocked.returncode)
        time.sleep(3)
        if len(uploads(service.lines())) != 3:
            fail("--capture during a rename was not dropped: %r" % uploads(service.lines()))
        close_program(main_window, app)
    finally:
        for p in (app, target):
            if p.poll() is None:
                p.kill()
    print("PASS")


if __name__ == "__main__":
    main()
