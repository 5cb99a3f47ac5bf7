#!/usr/bin/python3
"""Times glimmerly.exe under wine: the road from Print to the upload's answer against the floor
program print_floor.exe in the same run, and the time from starting the program to its main
window being shown. Started by bench/windows/run-windows.sh inside the desktop harness (DISPLAY
set, openbox running).

Arguments: FLOOR_EXE GLIMMERLY_EXE|- QT_BIN LINUX_BUILD_DIR PICTURE ROUNDS UPLOAD_PORT

Each round is timed from the XTest press of Print (road_press of the Linux build) until the
loopback upload host (the receiver of bench/road/road_bench.py) has the request's last byte and
answers: an end both programs share. Wine's Notepad has the focus at every press, since wine
delivers a hot key only while one of its own windows has the focus.
"""
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "road"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "road"))
from desktop_steps import close_program, fail, run, wait_for_window  # noqa: E402
from road_bench import (LIMIT, SETTLE, WARMUP, Presser, Receiver,  # noqa: E402
                        jpeg_dimensions)

sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "windows"))
from road_wine import WineDesktop  # noqa: E402

STARTS = 5  # program starts timed to its main window


class TimedReceiver(Receiver):
    """The receiver, also noting when each connection was accepted: the split between the work
    before the request (grab, encoding) and the request itself."""

    def __init__(self, port):
        super().__init__(port)
        self.accepted = []

    def serve(self, conn):
        self.accepted.append(time.monotonic())
        super().serve(conn)


def shown(name, timeout=90):
    """Waits until a window of that name is mapped (viewable); returns its id. Polled every
    20 ms, finer than `xdotool search --sync`, which looks twice a second."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = run("xdotool", "search", "--onlyvisible", "--name", name, check=False)
        if found:
            return found.splitlines()[0]
        time.sleep(0.02)
    fail("no window named %r" % name)


def rounds(name, receiver, presser, wine, count, expected_size):
    times, sizes, before = [], [], []
    for i in range(WARMUP + count):
        wine.front_notepad()
        time.sleep(SETTLE)
        seen = len(receiver.done)
        pressed = presser.press()
        last, jpeg = receiver.wait(seen, timeout=60)
        accepted = receiver.accepted[seen]
        if jpeg_dimensions(jpeg) != expected_size:
            fail("%s: the JPEG is %dx%d, not the whole screen %dx%d" %
                 ((name,) + jpeg_dimensions(jpeg) + expected_size))
        if len(jpeg) > LIMIT:
            fail("%s: the JPEG has %d bytes, over the limit: the quality loop would run" %
                 (name, len(jpeg)))
        if i >= WARMUP:
            times.append((last - pressed) * 1000)
            before.append((accepted - pressed) * 1000)
            sizes.append(len(jpeg))
    print("%-9s ms: %s" % (name, " ".join("%.1f" % t for t in times)), flush=True)
    print("%-9s press to connection, median %.1f ms" % (name, statistics.median(before)))
    return statistics.median(times), statistics.median(sizes)


def floor_rounds(name, floor_exe, receiver, presser, wine, count, port, screen, *route):
    floor = wine.start(floor_exe, str(port), str(WARMUP + count), *route, stdout=subprocess.PIPE)
    if floor.stdout.readline().strip() != b"ready":
        fail("the floor program did not start")
    median, size = rounds(name, receiver, presser, wine, count, screen)
    if floor.wait(20) != 0:
        fail("the floor program failed")
    own = [float(line.split(" ms,")[0].rsplit(", ", 1)[1])
           for line in floor.stdout.read().decode().splitlines()[WARMUP:]]
    print("%-9s own time, WM_HOTKEY to the reply's end: median %.1f ms" %
          (name, statistics.median(own)), flush=True)
    return median, size


def main():
    floor_exe, program, qt_bin, linux_build, picture = sys.argv[1:6]
    count, port = int(sys.argv[6]), int(sys.argv[7])
    receiver = TimedReceiver(port)
    receiver.start()
    subprocess.run([os.path.join(linux_build, "bench/road/road_wallpaper"), picture], check=True)
    root = run("xwininfo", "-root")
    screen = tuple(int(root.split(k + ": ")[1].split()[0]) for k in ("Width", "Height"))

    presser = Presser(linux_build)
    with WineDesktop(qt_bin) as wine:
        floor_ms, floor_size = floor_rounds("floor", floor_exe, receiver, presser, wine, count,
                                            port, screen)
        ddb_ms, _ = floor_rounds("floor-ddb", floor_exe, receiver, presser, wine, count, port,
                                 screen, "ddb")
        if program == "-":
            print("floor: median %.1f ms, JPEG %d bytes" % (floor_ms, floor_size))
            print("floor through a display bitmap: median %.1f ms" % ddb_ms)
            print("no glimmerly.exe given: the program's figures are missing")
            presser.close()
            return

        starts = []
        for _ in range(STARTS):
            started = time.monotonic()
            app = wine.start(program)
            main_window = shown("^Glimmerly 3.2$")
            starts.append((time.monotonic() - started) * 1000)
            close_program(main_window, app, timeout=30)
        print("start ms: %s" % " ".join("%.0f" % t for t in starts), flush=True)

        app = wine.start(program)
        main_window = wait_for_window("^Glimmerly 3.2$", timeout=60)
        wine.untick_active_window(main_window)
        road_ms, road_size = rounds("road", receiver, presser, wine, count, screen)
        time.sleep(SETTLE)
        close_program(main_window, app, timeout=30)
    presser.close()

    print("screen %dx%d, %d rounds each (after %d warm-up rounds)" % (screen + (count, WARMUP)))
    print("floor: median %.1f ms, JPEG %d bytes" % (floor_ms, floor_size))
    print("floor through a display bitmap: median %.1f ms" % ddb_ms)
    print("road:  median %.1f ms, JPEG %d bytes" % (road_ms, road_size))
    print("road/floor: %.2f" % (road_ms / floor_ms))
    print("start to main window: median %.0f ms" % statistics.median(starts))


if __name__ == "__main__":
    main()
