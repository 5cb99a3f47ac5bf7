#!/usr/bin/python3
"""Files dragged with the real mouse from an X11 program onto a wine window that is armed for
dropped files: wine's drag-and-drop bridge turns the drop into WM_DROPFILES, and the window gets
the file's DOS path (Z: is the Unix root) whole as UTF-8, for a Greek name and for a path longer
than MAX_PATH.

Runs inside the desktop harness (DISPLAY set, openbox running). Arguments: the emulator command
that runs a Windows program (wine-run.sh and Qt's bin folder), the drop window tool
(platform_win32_drop_window.exe) and the drag_source tool of a native build. The wine prefix is
one of this display's own, as for the other Windows desktop tests.
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "road"))
from desktop_steps import fail, run, wait_for_window  # noqa: E402


def position(window):
    values = dict(line.split("=") for line in
                  run("xdotool", "getwindowgeometry", "--shell", window).splitlines())
    return int(values["X"]), int(values["Y"])


def dos_path(path):
    return "Z:" + path.replace("/", "\\")


def drag(emulator, window_tool, tool, path):
    """Drags `path` onto a fresh drop window; returns the lines the window printed."""
    target = subprocess.Popen(emulator + [window_tool], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    try:
        if target.stdout.readline().strip() != b"ready":
            fail("the drop window did not start")
        tx, ty = position(wait_for_window("Glimmerly Ablage"))
        source = subprocess.Popen([tool, "drag", path], stdout=subprocess.PIPE, text=True)
        try:
            sx, sy = position(wait_for_window("Glimmerly Ziehquelle"))
            run("xdotool", "mousemove", "--sync", str(sx + 100), str(sy + 60), "mousedown", "1")
            time.sleep(0.3)
            for step in range(1, 11):
                run("xdotool", "mousemove", str(sx + 100 + (tx + 150 - sx - 100) * step // 10),
                    str(sy + 60 + (ty + 100 - sy - 60) * step // 10))
                time.sleep(0.1)
            time.sleep(0.5)
            run("xdotool", "mouseup", "1")
            out, _ = target.communicate(timeout=60)
        finally:
            source.kill()
            source.wait()
        return out.decode("utf-8").splitlines()
    finally:
        if target.poll() is None:
            target.kill()
        target.wait()


def main():
    emulator, window_tool, tool = sys.argv[1:-2], sys.argv[-2], sys.argv[-1]
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    os.environ["WINEPREFIX"] = prefix + "-x" + os.environ["DISPLAY"].lstrip(":")
    if not os.path.exists(os.path.join(os.environ["WINEPREFIX"], "system.reg")):
        subprocess.run(["wineboot", "-i"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"])
    try:
        with tempfile.TemporaryDirectory(prefix="glimmerly-wine-drop-") as folder:
            greek = os.path.join(folder, "Ωμέγα.bmp")
            deep = os.path.join(folder, *["ordner_" + str(i) * 40 for i in range(1, 7)])
            os.makedirs(deep)
            far = os.path.join(deep, "写真.bmp")
            for path in (greek, far):
                with open(path, "wb") as f:
                    f.write(b"BM")
            if len(dos_path(far)) <= 260:
                fail("the deep path is too short: %d" % len(dos_path(far)))
            for path in (greek, far):
                got = drag(emulator, window_tool, tool, path)
                if got != [dos_path(path)]:
                    fail("dropped %r, the window got %r" % (dos_path(path), got))
    finally:
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
    print("ok")


if __name__ == "__main__":
    main()
