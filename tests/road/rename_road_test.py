#!/usr/bin/python3
"""Print, upload to the real stand-in service, type a new name into the name field, press Enter:
the service has renamed the picture and the window shows its new address.

Runs inside the desktop harness. Arguments: the glimmerly binary, the glimmerly-service binary.
The program keeps its build-time hosts, so the service listens on 8460 and 8461.
"""
import http.client
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_steps import EditorWindowDesktop, fail, run, wait_for_address  # noqa: E402


def start_service(binary, data):
    log = open(os.path.join(data, "service.log"), "w+")
    service = subprocess.Popen([binary, "--data", os.path.join(data, "store")], stdout=log,
                               stderr=subprocess.STDOUT)
    deadline = time.time() + 10
    while time.time() < deadline:
        log.seek(0)
        if "glimmerly-service: service" in log.read():
            return service
        if service.poll() is not None:
            break
        time.sleep(0.05)
    log.seek(0)
    fail("the service did not start: " + log.read())


def check_served(old_address):
    with urllib.request.urlopen("http://127.0.0.1:8460/urlaub_am_see.jpg", timeout=5) as r:
        if r.status != 200 or not r.read().startswith(b"\xff\xd8"):
            fail("the service does not serve the renamed picture")
    # A link shared before the rename keeps leading to the picture.
    connection = http.client.HTTPConnection("127.0.0.1", 8460, timeout=5)
    connection.request("GET", urllib.parse.urlsplit(old_address).path)
    reply = connection.getresponse()
    location = reply.getheader("Location")
    connection.close()
    if reply.status != 302 or location != "http://localhost:8460/urlaub_am_see.jpg":
        fail("old address: %d %s" % (reply.status, location))


def main():
    program, service_binary = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as data:
        service = start_service(service_binary, data)
        try:
            with EditorWindowDesktop(program, "500x300+300+250", "Umbenennen bitte") as desk:
                desk.press("Print")
                first = wait_for_address(desk.main_window,
                                         lambda t: t.startswith("http://localhost:8460/"))
                print("uploaded:", first)

                # The name field (Notebook1 at 8,56; RenameEdit at 96,8 in it) holds the
                # proposal: replace it and press Enter.
                run("xdotool", "windowactivate", "--sync", desk.main_window)
                run("xdotool", "mousemove", "--window", desk.main_window, "150", "74", "click", "1")
                desk.press("ctrl+a")
                run("xdotool", "type", "--delay", "20", "Urlaub am See")
                desk.press("Return")
                renamed = wait_for_address(
                    desk.main_window, lambda t: t == "http://localhost:8460/urlaub_am_see.jpg",
                    timeout=15)
                print("renamed:", renamed)
                check_served(first)
                desk.close_program()
        finally:
            service.terminate()
            service.wait(10)
    print("PASS")


if __name__ == "__main__":
    main()
