#!/usr/bin/python3
"""The live session page in headless Chromium: with the page open, an upload in that session
appears on it without a reload.

Usage: browser_test.py PATH-TO-glimmerly-service
Exit 0 on success, 1 on failure, 77 (skipped) only when Chromium cannot be started at all.
"""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

import websocket  # Debian: python3-websocket

SKIP = 77
BOUNDARY = "--------120626134507089"
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-quic", "--remote-debugging-port=0", "--remote-allow-origins=*",
]


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def raw_request(port, request, timeout=10):
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(request)
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
            head, sep, body = data.partition(b"\r\n\r\n")
            m = re.search(rb"(?i)content-length:\s*(\d+)", head)
            if sep and m and len(body) >= int(m.group(1)):
                return body[: int(m.group(1))]
    return data.partition(b"\r\n\r\n")[2]


# The owner cookie every request of these helpers carries, as the desktop client's cookie store
# sends it after its first upload: the renames need it.
OWNER_COOKIE = b"Cookie: glimmerly_owner=0123456789abcdef0123456789abcdef\r\n"


def client_get(port, target):
    return raw_request(port, b"GET " + target + b" HTTP/1.1\r\nHost: localhost\r\n"
                       b"Accept: text/html, */*\r\nUser-Agent: Doveviraza Zudavove\r\n" +
                       OWNER_COOKIE + b"\r\n")


def upload(port, jpeg, session, name):
    b = BOUNDARY.encode()
    body = b""
    for field, value in ((b"filename", b"screenshot"), (b"version", b"3.2"),
                         (b"screenshotname", name), (b"sessionname", session)):
        body += b"--" + b + b'\r\nContent-Disposition: form-data; name="' + field + \
            b'"\r\n\r\n' + value + b"\r\n"
    body += b"--" + b + b'\r\nContent-Disposition: form-data; name="screenshot"; ' \
        b'filename="/tmp/x/screen.jpg"\r\nContent-Type: image/jpeg\r\n' \
        b"Content-Transfer-Encoding: binary\r\n\r\n" + jpeg + b"\r\n--" + b + b"--\r\n"
    head = ("POST /upload.php HTTP/1.0\r\nConnection: keep-alive\r\n"
            "Content-Type: multipart/form-data; boundary=%s\r\nContent-Length: %d\r\n"
            "Host: localhost\r\nAccept: text/html, */*\r\nUser-Agent: Doveviraza Zudavove\r\n"
            % (BOUNDARY, len(body))).encode()
    return raw_request(port, head + OWNER_COOKIE + b"\r\n" + body)


def tiny_jpeg():
    """A valid 8x8 grey baseline JPEG (made once with libjpeg at quality 75, kept as hex)."""
    return bytes.fromhex(
        "ffd8ffe000104a46494600010100000100010000ffdb004300080606070605080707070909080a0c140d0c0b"
        "0b0c1912130f141d1a1f1e1d1a1c1c20242e2720222c231c1c2837292c30313434341f27393d38323c2e3334"
        "32ffc0000b080008000801011100ffc4001f0000010501010101010100000000000000000102030405060708"
        "090a0bffc400b5100002010303020403050504040000017d0102030004110512213141061351610722711432"
        "8191a1082342b1c11552d1f02433627282090a161718191a25262728292a3435363738393a43444546474849"
        "4a535455565758595a636465666768696a737475767778797a838485868788898a92939495969798999aa2a3"
        "a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5c6c7c8c9cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9ea"
        "f1f2f3f4f5f6f7f8f9faffda0008010100003f002bffd9")


class Cdp:
    """A minimal DevTools protocol session on one page."""

    def __init__(self, url):
        self.ws = websocket.create_connection(url, timeout=30, suppress_origin=True)
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    fail("%s: %s" % (method, message["error"]))
                return message.get("result", {})

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result.get("result", {}).get("value")

    def wait_for(self, expression, seconds, what):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if self.evaluate(expression):
                return
            time.sleep(0.1)
        fail("timed out waiting for " + what)


def start_service(binary, data):
    process = subprocess.Popen(
        [binary, "--data", data, "--service-port", "0", "--upload-port", "0"],
        stdout=subprocess.PIPE, text=True)  # its access log goes on to our stderr
    line = process.stdout.readline()
    m = re.search(r"service http://127\.0\.0\.1:(\d+) upload http://127\.0\.0\.1:(\d+)", line)
    if not m:
        process.kill()
        fail("service did not start: " + line)
    return process, int(m.group(1)), int(m.group(2))


def start_chromium(profile):
    exe = shutil.which("chromium") or shutil.which("chromium-browser")
    if not exe:
        print("SKIP: chromium is not installed", flush=True)
        sys.exit(SKIP)
    # Chromium writes beyond its profile (crash reports under $HOME, scratch folders in $TMPDIR):
    # keep all of it inside the test's own folder, which is removed afterwards.
    home = os.path.dirname(profile)
    env = dict(os.environ, HOME=home, TMPDIR=os.path.join(home, "tmp"),
               XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_CACHE_HOME=os.path.join(home, "cache"))
    for folder in (env["TMPDIR"], env["XDG_CONFIG_HOME"], env["XDG_CACHE_HOME"]):
        os.makedirs(folder, exist_ok=True)
    process = subprocess.Popen([exe] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile,
                                                         "about:blank"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True, env=env)
    port_file = os.path.join(profile, "DevToolsActivePort")
    deadline = time.time() + 30
    while time.time() < deadline:
        if process.poll() is not None:
            print("SKIP: chromium exited at once (code %s)" % process.returncode, flush=True)
            sys.exit(SKIP)
        try:
            with open(port_file) as f:
                port = int(f.readline().strip())
            return process, port
        except (OSError, ValueError):
            time.sleep(0.1)
    os.killpg(process.pid, signal.SIGKILL)
    print("SKIP: chromium did not open its debugging port", flush=True)
    sys.exit(SKIP)


def open_page(debug_port):
    """A DevTools session on Chromium's first page, with page events on."""
    with urllib.request.urlopen("http://127.0.0.1:%d/json/list" % debug_port, timeout=10) as r:
        pages = [t for t in json.load(r) if t.get("type") == "page"]
    if not pages:
        fail("no page target in chromium")
    cdp = Cdp(pages[0]["webSocketDebuggerUrl"])
    cdp.call("Page.enable")
    return cdp


def stop_chromium(chromium):
    try:
        os.killpg(chromium.pid, signal.SIGTERM)
        chromium.wait(timeout=10)
    except (ProcessLookupError, subprocess.TimeoutExpired):
        os.killpg(chromium.pid, signal.SIGKILL)


def main():
    binary = sys.argv[1]
    work = tempfile.mkdtemp(prefix="glimmerly-browser-test-")
    service = chromium = None
    try:
        service, service_port, upload_port = start_service(binary, os.path.join(work, "data"))
        if client_get(service_port, b"/loginsession.php?sessionname=browser") != b"ok browser":
            fail("session login")
        jpeg = tiny_jpeg()
        before = upload(upload_port, jpeg, b"browser", b"Vorher")
        if not before.startswith(b"ok|3.2|"):
            fail("first upload: %r" % before)

        chromium, debug_port = start_chromium(os.path.join(work, "profile"))
        cdp = open_page(debug_port)
        cdp.call("Page.navigate", url="http://127.0.0.1:%d/~browser" % service_port)
        cdp.wait_for("document.readyState === 'complete' && "
                     "document.querySelectorAll('#pictures li').length === 1", 20,
                     "the session page with its first picture")
        # Marks this document: a reload would lose the mark.
        cdp.evaluate("window.__loadedOnce = 'yes'")

        reply = upload(upload_port, jpeg, b"browser", b"Gr\xfc\xdfe live")
        if not reply.startswith(b"ok|3.2|http://localhost:8460/gruesse_live.jpg"):
            fail("second upload: %r" % reply)
        cdp.wait_for("(() => { const first = document.querySelector('#pictures li');"
                     " const img = first && first.querySelector('img');"
                     " return !!img && img.getAttribute('src') === '/gruesse_live.jpg'"
                     " && img.complete && img.naturalWidth === 8; })()", 20,
                     "the new picture on top of the page")
        if cdp.evaluate("window.__loadedOnce") != "yes":
            fail("the page was reloaded")
        count = cdp.evaluate("document.querySelectorAll('#pictures li').length")
        title = cdp.evaluate("document.querySelector('#pictures li .title').textContent")
        if count != 2 or title != "Grüße live":
            fail("page shows %r pictures, first titled %r" % (count, title))
        print("PASS: the upload appeared live on the session page", flush=True)
    finally:
        if chromium is not None:
            stop_chromium(chromium)
        if service is not None:
            service.send_signal(signal.SIGTERM)
            try:
                service.wait(timeout=10)
            except subprocess.TimeoutExpired:
                service.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
