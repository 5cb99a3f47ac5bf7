"""Wine on the test desktop, for the road tests and the benchmark: a wine prefix of its own (so
no other wine server on the machine puts its windows on this display or shares its hot keys),
wine's Notepad in front, and Windows programs started beside it.

    with WineDesktop(qt_bin) as wine:
        app = wine.start("glimmerly.exe")
        wine.front_notepad()

The prefix is a copy of the Windows toolchain's prepared one (Windows 10, fonts) when there is
one, else a new one made by wineboot; it is removed again at the end.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "road"))
from desktop_steps import fail, run, wait_for_window  # noqa: E402

NOTEPAD = "^Untitled - Notepad$"
# Runs a program under wine with Qt's DLLs and the compiler's runtime found through WINEPATH.
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                        "windows", "wine-run.sh")


def prepared_prefix():
    cache = os.environ.get("GLIMMERLY_WINDOWS_CACHE") or os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "glimmerly-windows")
    prefix = os.path.join(cache, "wineprefix")
    return prefix if os.path.exists(os.path.join(prefix, "system.reg")) else None


class WineDesktop:
    def __init__(self, qt_bin=None):
        """qt_bin: the folder of Qt's DLLs."""
        self.work = tempfile.mkdtemp(prefix="glimmerly-wine-")
        self.prefix = os.path.join(self.work, "prefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH="win64", WINEDEBUG="-all")
        self.wine = [WINE_RUN, qt_bin] if qt_bin else ["wine"]
        self.processes = []
        self.notepad = None

    def __enter__(self):
        try:
            template = prepared_prefix()
            if template:
                subprocess.run(["cp", "-a", template, self.prefix], check=True)
            else:
                subprocess.run(["wineboot", "-i"], env=self.env, check=True,
                               capture_output=True, timeout=300)
            self.start("notepad")
            self.notepad = wait_for_window(NOTEPAD, timeout=60)
            self.front_notepad()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def start(self, program, *args, stdout=subprocess.DEVNULL):
        p = subprocess.Popen(self.wine + [program] + list(args), env=self.env, stdout=stdout,
                             stderr=subprocess.DEVNULL)
        self.processes.append(p)
        return p

    def front_notepad(self):
        run("xdotool", "windowactivate", "--sync", self.notepad, check=False)
        deadline = time.time() + 10
        while run("xdotool", "getactivewindow", check=False) != self.notepad:
            if time.time() > deadline:
                fail("Notepad does not come to the front")
            run("xdotool", "windowactivate", "--sync", self.notepad, check=False)
            time.sleep(0.1)

    def untick_active_window(self, main_window):
        """Unticks "Nur aktives Fenster speichern" (the check box at 8,152 of the main window)."""
        run("xdotool", "windowactivate", "--sync", main_window, check=False)
        run("xdotool", "mousemove", "--sync", "--window", main_window, "20", "160", "click", "1")

    def __exit__(self, *exc):
        for p in self.processes:
            if p.poll() is None:
                p.kill()
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)
        subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True, timeout=30)
        for p in self.processes:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                pass
        shutil.rmtree(self.work, ignore_errors=True)
        return False
