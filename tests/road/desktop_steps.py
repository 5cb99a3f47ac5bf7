"""Steps a person takes on the test desktop, shared by the road test and the demonstration."""
import subprocess
import sys
import time


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def run(*args, check=True):
    return subprocess.run(args, check=check, capture_output=True, text=True).stdout.strip()


def wait_for_window(name, timeout=15):
    end = time.time() + timeout
    while time.time() < end:
        out = run("xdotool", "search", "--onlyvisible", "--name", name, check=False)
        if out:
            return out.splitlines()[0]
        time.sleep(0.1)
    fail("no window named %r" % name)


def read_address_field(main_window):
    """Clicks into the address field (page 1: Notebook1 at 8,56, DisplayURLEdit at 0,48 in it),
    selects all, copies, and reads the clipboard as a user's paste would."""
    run("xdotool", "windowactivate", "--sync", main_window, check=False)
    run("xdotool", "mousemove", "--window", main_window, "100", "114", "click", "1")
    run("xdotool", "key", "ctrl+a", "ctrl+c")
    time.sleep(0.3)
    return run("xclip", "-o", "-selection", "clipboard", check=False)


def wait_for_address(main_window, predicate, timeout=30):
    deadline = time.time() + timeout
    text = ""
    while time.time() < deadline:
        text = read_address_field(main_window)
        if predicate(text):
            return text
        time.sleep(0.5)
    fail("address field reads %r" % text)


def close_program(main_window, process, timeout=10):
    run("xdotool", "windowactivate", "--sync", main_window, check=False)
    run("xdotool", "key", "Escape")
    try:
        code = process.wait(timeout)
    except subprocess.TimeoutExpired:
        fail("the program did not end after Escape")
    if code != 0:
        fail("the program ended with %d" % code)


class EditorWindowDesktop:
    """Glimmerly running next to a window titled 'Unbenannt - Editor' that has the focus.

        with EditorWindowDesktop(program) as desk:
            desk.press("Print")
    """

    TITLE = "Unbenannt - Editor"

    def __init__(self, program, geometry="640x400+300+200", text="Ein Text zum Fotografieren"):
        self.window = subprocess.Popen(["xmessage", "-title", self.TITLE, "-geometry", geometry,
                                        text])
        self.app = subprocess.Popen([program])

    def __enter__(self):
        self.main_window = wait_for_window("^Glimmerly 3.2$")
        self.target = wait_for_window("^%s$" % self.TITLE)
        run("xdotool", "windowactivate", "--sync", self.target)
        time.sleep(0.3)
        return self

    def press(self, key):
        run("xdotool", "key", key)

    def close_program(self):
        close_program(self.main_window, self.app)

    def __exit__(self, *exc):
        for p in (self.app, self.window):
            if p.poll() is None:
                p.kill()
        return False
