#!/usr/bin/python3
"""The whole road on a real desktop: a window titled 'Unbenannt - Editor' has the focus, Print is
pressed, the program grabs that window, compresses it and posts it to a loopback upload host, and
the address of the reply appears in the main window's address field.

Runs inside the desktop harness (DISPLAY set, openbox running). Argument: the glimmerly binary.
The program is built with its default hosts, so the fake upload host listens on 127.0.0.1:8461.
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_steps import EditorWindowDesktop, fail, run, wait_for_address  # noqa: E402
from fake_service import FakeService  # noqa: E402

ADDRESS = "http://localhost:8460/abc.jpg"
UPLOAD_PORT = 8461


def outer_size(window):
    geometry = run("xdotool", "getwindowgeometry", "--shell", window)
    values = dict(line.split("=") for line in geometry.splitlines())
    extents = run("xprop", "-id", window, "_NET_FRAME_EXTENTS", check=False)
    m = re.search(r"= (\d+), (\d+), (\d+), (\d+)", extents)
    left, right, top, bottom = (int(v) for v in m.groups()) if m else (0, 0, 0, 0)
    return int(values["WIDTH"]) + left + right, int(values["HEIGHT"]) + top + bottom


def jpeg_size(data):
    if not data.startswith(b"\xff\xd8"):
        fail("file part is not a JPEG")
    i = 2
    while i + 4 <= len(data):
        if data[i] != 0xFF:
            fail("broken JPEG marker at %d" % i)
        marker = data[i + 1]
        length = int.from_bytes(data[i + 2:i + 4], "big")
        if marker == 0xC0:
            height = int.from_bytes(data[i + 5:i + 7], "big")
            width = int.from_bytes(data[i + 7:i + 9], "big")
            return width, height
        i += 2 + length
    fail("no SOF0 in the JPEG")


def check_request(head, body, expected_size):
    lines = head.decode("latin-1").split("\r\n")
    if lines[0] != "POST /upload.php HTTP/1.0":
        fail("request line %r" % lines[0])
    names = [l.split(":", 1)[0] for l in lines[1:]]
    if names != ["Connection", "Content-Type", "Content-Length", "Host", "Accept", "User-Agent"]:
        fail("header order %r" % names)
    headers = dict(l.split(": ", 1) for l in lines[1:])
    if headers["Host"] != "localhost:8461" or headers["Connection"] != "keep-alive":
        fail("headers %r" % headers)
    boundary = headers["Content-Type"].split("boundary=", 1)[1]
    if not re.fullmatch(r"-{8}\d{15}", boundary):
        fail("boundary %r" % boundary)
    if int(headers["Content-Length"]) != len(body):
        fail("Content-Length %s but %d body bytes" % (headers["Content-Length"], len(body)))
    parts = body.split(b"--" + boundary.encode())
    if parts[0] != b"" or parts[-1] != b"--\r\n" or len(parts) != 5:
        fail("multipart framing: %d parts" % len(parts))
    if parts[1] != b'\r\nContent-Disposition: form-data; name="filename"\r\n\r\nscreenshot\r\n':
        fail("first part %r" % parts[1][:200])
    if parts[2] != b'\r\nContent-Disposition: form-data; name="version"\r\n\r\n3.2\r\n':
        fail("second part %r" % parts[2][:200])
    m = re.match(rb'\r\nContent-Disposition: form-data; name="screenshot"; filename="([^"]+)"\r\n'
                 rb"Content-Type: image/jpeg\r\nContent-Transfer-Encoding: binary\r\n\r\n", parts[3])
    if not m or not m.group(1).endswith(b"/screen.jpg"):
        fail("file part head %r" % parts[3][:300])
    jpeg = parts[3][m.end():-2]
    if len(jpeg) > 307200:
        fail("JPEG of %d bytes is over the limit" % len(jpeg))
    size = jpeg_size(jpeg)
    if size != expected_size:
        fail("JPEG is %dx%d, the window %dx%d" % (size + expected_size))
    print("upload ok: %dx%d JPEG, %d bytes" % (size[0], size[1], len(jpeg)))


def main():
    host = FakeService(lambda line: (("ok|3.2|" + ADDRESS).encode(), 0), ports=(UPLOAD_PORT,))
    with EditorWindowDesktop(sys.argv[1]) as desk:
        expected = outer_size(desk.target)
        desk.press("Print")
        if not host.wait_for(lambda lines: len(lines) == 1):
            fail("no upload arrived")
        _, head, body = host.requests[0]
        check_request(head, body, expected)
        text = wait_for_address(desk.main_window, lambda t: t == ADDRESS, timeout=10)
        print("address shown:", text)
        desk.close_program()
    print("PASS")


if __name__ == "__main__":
    main()
