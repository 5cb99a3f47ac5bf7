#!/usr/bin/python3
"""A headless demonstration on the test desktop: a window titled 'Unbenannt - Editor' has the
focus, Print is pressed, and Glimmerly uploads it to the running stand-in service. Prints the
picture's address and the file in which the service stored it.

Arguments: the glimmerly binary, the service's data folder.
"""
import os
import sqlite3
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "road"))
from desktop_steps import EditorWindowDesktop, fail, wait_for_address  # noqa: E402


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
    with EditorWindowDesktop(program, text="Hallo von Glimmerly!") as desk:
        print("demo: pressing Print over the window 'Unbenannt - Editor'")
        desk.press("Print")
        address = wait_for_address(desk.main_window, lambda t: t.startswith("http://"))
        path = stored_file(data_folder, address)
        print("demo: the picture's address:  ", address)
        print("demo: stored by the service in:", path, "(%d bytes)" % os.path.getsize(path))
        desk.close_program()


if __name__ == "__main__":
    main()
