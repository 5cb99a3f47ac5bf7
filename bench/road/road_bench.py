#!/usr/bin/python3
"""Times the road from Print to upload: the floor program first, then the real program, each for
the same number of rounds on the same desktop. Started by bench/road/run-road.sh inside the
desktop harness (DISPLAY set, openbox running).

Arguments: BUILD_DIR PICTURE ROUNDS UPLOAD_PORT
"""
import os
import re
import socket
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "road"))
from desktop_steps import close_program, fail, run, wait_for_window  # noqa: E402

WARMUP = 2
SETTLE = 0.5  # seconds of quiet before each press
LIMIT = 307200
# ROAD_TRACE=1: each round's press and last-byte times (CLOCK_MONOTONIC) on standard error, to
# line up with time stamps a traced build of the program writes there.
TRACE = os.environ.get("ROAD_TRACE") == "1"


class Receiver(threading.Thread):
    """The upload host on loopback: notes when the last byte of each request body arrives and
    answers like the stand-in service."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", port))
        self.sock.listen(8)
        self.done = []  # (monotonic time of the last byte, JPEG bytes)
        self.cond = threading.Condition()
        self.count = 0

    def run(self):
        while True:
            conn, _ = self.sock.accept()
            with conn:
                self.serve(conn)

    def serve(self, conn):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = conn.recv(1 << 20)
            if not chunk:
                return
            data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        m = re.search(rb"\r\nContent-Length: (\d+)", head)
        length = int(m.group(1)) if m else 0
        parts = [body]
        got = len(body)
        while got < length:
            chunk = conn.recv(1 << 20)
            if not chunk:
                return
            parts.append(chunk)
            got += len(chunk)
        last = time.monotonic()
        body = b"".join(parts)
        start = body.find(b"\xff\xd8\xff")
        end = body.rfind(b"\xff\xd9")
        jpeg = body[start:end + 2] if 0 <= start < end else b""
        self.count += 1
        reply = b"ok|3.2|http://localhost:8460/road%d.jpg" % self.count
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n"
                     b"Connection: close\r\n\r\n" % len(reply) + reply)
        with self.cond:
            self.done.append((last, jpeg))
            self.cond.notify_all()

    def wait(self, seen, timeout=30):
        with self.cond:
            if not self.cond.wait_for(lambda: len(self.done) > seen, timeout):
                fail("no upload arrived within %d s" % timeout)
            return self.done[seen]


def jpeg_dimensions(jpeg):
    i = 2
    while i + 9 <= len(jpeg) and jpeg[i] == 0xFF:
        if jpeg[i + 1] == 0xC0:
            return (int.from_bytes(jpeg[i + 7:i + 9], "big"),
                    int.from_bytes(jpeg[i + 5:i + 7], "big"))
        i += 2 + int.from_bytes(jpeg[i + 2:i + 4], "big")
    return (0, 0)


class Presser:
    def __init__(self, build):
        self.p = subprocess.Popen([os.path.join(build, "bench/road/road_press")],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def press(self):
        self.p.stdin.write("\n")
        self.p.stdin.flush()
        return float(self.p.stdout.readline())

    def close(self):
        self.p.stdin.close()
        self.p.wait(5)


def rounds(name, receiver, presser, count, expected_size, after_round):
    times, sizes = [], []
    for i in range(WARMUP + count):
        time.sleep(SETTLE)
        seen = len(receiver.done)
        pressed = presser.press()
        last, jpeg = receiver.wait(seen)
        if jpeg_dimensions(jpeg) != expected_size:
            fail("%s: the JPEG is %dx%d, not the whole desktop" % ((name,) + jpeg_dimensions(jpeg)))
        if len(jpeg) > LIMIT:
            fail("%s: the JPEG has %d bytes, over the limit: the quality loop would run" %
                 (name, len(jpeg)))
        after_round()
        if TRACE:
            print("ROUND %s %d press %.9f last %.9f" % (name, i, pressed, last), file=sys.stderr)
        if i >= WARMUP:
            times.append((last - pressed) * 1000)
            sizes.append(len(jpeg))
    print("%-6s ms: %s" % (name, " ".join("%.1f" % t for t in times)))
    return statistics.median(times), statistics.median(sizes)


def main():
    build, picture, count, port = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    receiver = Receiver(port)
    receiver.start()
    subprocess.run([os.path.join(build, "bench/road/road_wallpaper"), picture], check=True)
    root = run("xwininfo", "-root")
    desktop = tuple(int(re.search(r"%s: (\d+)" % k, root).group(1)) for k in ("Width", "Height"))
    presser = Presser(build)

    floor = subprocess.Popen([os.path.join(build, "bench/road/road_floor"), str(port),
                              str(WARMUP + count)], stdout=subprocess.PIPE, text=True)
    if floor.stdout.readline().strip() != "ready":
        fail("the floor program did not start")
    floor_ms, floor_size = rounds("floor", receiver, presser, count, desktop,
                                  lambda: floor.stdout.readline())
    if floor.wait(10) != 0:
        fail("the floor program failed")

    app = subprocess.Popen([os.path.join(build, "app/glimmerly")])
    main_window = wait_for_window("^Glimmerly 3.2$")
    time.sleep(0.5)
    # Untick "Nur aktives Fenster speichern" (ActiveWindowCheckBox at 8,152): the whole desktop.
    run("xdotool", "mousemove", "--window", main_window, "20", "160", "click", "1")
    run("xdotool", "mousemove", str(desktop[0] - 100), str(desktop[1] - 100))  # no hint shown
    road_ms, road_size = rounds("road", receiver, presser, count, desktop, lambda: None)
    time.sleep(SETTLE)
    close_program(main_window, app)
    presser.close()

    print("desktop %dx%d, %d rounds each (after %d warm-up rounds)" % (desktop + (count, WARMUP)))
    print("floor: median %.1f ms, JPEG %d bytes" % (floor_ms, floor_size))
    print("road:  median %.1f ms, JPEG %d bytes" % (road_ms, road_size))
    print("road/floor: %.2f" % (road_ms / floor_ms))


if __name__ == "__main__":
    main()
