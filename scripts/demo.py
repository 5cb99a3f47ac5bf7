#!/usr/bin/python3
"""A headless demonstration on the test desktop: a window titled 'Unbenannt - Editor' has the
focus, Print is pressed, and Glimmerly uploads it to the running stand-in service. Prints the
picture's address and the file in which the service stored it.

Arguments: the glimmerly binary, the service's data folder.
"""
import os
import sqlite3
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "road"))
from desktop_steps import close_program, fail, run, wait_for_address, wait_for_window  # noqa: E402


def stored_file(data_folder, address):
    name = address.rsplit("/", 1)[-1]
    if name.endswith(".jpg"):
        name = name[:-4]
    with sqlite3.connect("file:%s?mode=ro" % os.path.join(data_folder, "glimmerly.db"),
                         uri=True) as db:
        row = db.execute("SELECT file FROM pictures WHERE name = ?", (name,)).fetchone()
    if not row:
        fail("the service has no picture named %r" % name)
    return os.path.join(data_folder, "pictures", row[0] + ".jpg")


def main():
    program, data_folder = sys.argv[1], sys.argv[2]
    window = subprocess.Popen(["xmessage", "-title", "Unbenannt - Editor", "-geometry",
                               "640x400+300+200", "Hallo von Glimmerly!"])
    app = subprocess.Popen([program])
    try:
        main_window = wait_for_window("^Glimmerly 3.2$")
        target = wait_for_window("^Unbenannt - Editor$")
        run("xdotool", "windowactivate", "--sync", target)
        time.sleep(0.3)
        print("demo: pressing Print over the window 'Unbenannt - Editor'")
        run("xdotool", "key", "Print")
        address = wait_for_address(main_window, lambda t: t.startswith("http://"))
        path = stored_file(data_folder, address)
        print("demo: the picture's address:  ", address)
        print("demo: stored by the service in:", path, "(%d bytes)" % os.path.getsize(path))
        close_program(main_window, app)
    finally:
        for p in (app, window):
            if p.poll() is None:
                p.kill()


if __name__ == "__main__":
    main()
