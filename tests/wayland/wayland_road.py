"""Glimmerly in a headless sway session against the stand-in service: the pieces shared by the
Wayland road tests and the Wayland benchmark."""
import os
import shutil
import subprocess
import sys
import tempfile

from sway_session import SessionError, SwaySession, processes_in, read_ppm, wait_until

MAIN_TITLE = "Glimmerly 3.2"
EDITOR_TITLE = "Screenshot bearbeiten"
OWN_LOOPBACK = "GLIMMERLY_OWN_LOOPBACK"

# Every window floats where it asks to be; the main window on the first output, out of the way
# of what the tests photograph on the second.
WINDOW_RULES = """for_window [title=".*"] floating enable
for_window [title="^%s$"] move absolute position 40 60
""" % MAIN_TITLE

# Put before grim in the program's PATH: logs each call to /tmp/grim-calls, then runs grim or,
# with GRIM_REFUSED set, fails the way a compositor without wlr-screencopy would.
GRIM_WRAPPER = """#!/bin/sh
echo "$*" >>/tmp/grim-calls
[ -n "$GRIM_REFUSED" ] && { echo "grim: compositor doesn't support wlr-screencopy" >&2; exit 1; }
exec /usr/bin/grim "$@"
"""


def own_loopback():
    """Re-runs this script in a network namespace of its own (the program's build-time ports
    then meet no other test), with its loopback up. Returns when already there or when the
    machine does not allow it."""
    if os.environ.get(OWN_LOOPBACK) == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        return
    if subprocess.run(["unshare", "--net", "true"], capture_output=True).returncode == 0:
        env = dict(os.environ, **{OWN_LOOPBACK: "1"})
        os.execvpe("unshare", ["unshare", "--net", sys.executable] + sys.argv, env)


class Service:
    """glimmerly-service on its default ports with a data folder of its own."""

    def __init__(self, binary):
        self.folder = tempfile.mkdtemp(prefix="glimmerly-wayland-service-")
        self.log = open(os.path.join(self.folder, "service.log"), "w+")
        self.process = subprocess.Popen(
            [binary, "--data", os.path.join(self.folder, "store")], stdout=self.log,
            stderr=subprocess.STDOUT)
        try:
            wait_until(lambda: "glimmerly-service: service" in self._log()
                       or self.process.poll() is not None, 10, "the service to start")
            if self.process.poll() is not None:
                raise SessionError("the service did not start: " + self._log())
        except BaseException:
            self.stop()
            raise
        self.pictures = os.path.join(self.folder, "store", "pictures")

    def _log(self):
        self.log.seek(0)
        return self.log.read()

    def stored(self):
        """The stored pictures' files, oldest first."""
        try:
            names = [n for n in os.listdir(self.pictures) if n.endswith(".jpg")]
        except FileNotFoundError:
            return []
        paths = [os.path.join(self.pictures, n) for n in names]
        return sorted(paths, key=os.path.getmtime)

    def wait_for_picture(self, count, timeout=20):
        """Waits until `count` pictures are stored and returns the newest, decoded:
        (width, height, rgb bytes)."""
        files = wait_until(lambda: len(self.stored()) >= count and self.stored(), timeout,
                           "picture %d to be stored" % count)
        if len(files) > count:
            raise SessionError("%d pictures stored, expected %d" % (len(files), count))
        ppm = subprocess.run(["djpeg", "-pnm", files[-1]], check=True,
                             capture_output=True).stdout
        return read_ppm(ppm)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)


def start_glimmerly(session, route, unset=()):
    """Starts the program inside the session with the grab route forced (grim or portal) and
    grim's calls logged, without the variables in `unset`; returns its log once its main window
    is mapped. The keyboard focus is then on its first check box, "Nur aktives Fenster
    speichern"."""
    wrap = session.path("bin", "grim-wrap")
    if not os.path.isdir(wrap):
        os.mkdir(wrap, 0o755)
        with open(os.path.join(wrap, "grim"), "w") as f:
            f.write(GRIM_WRAPPER)
        os.chmod(os.path.join(wrap, "grim"), 0o755)
    env = {"GLIMMERLY_WAYLAND_GRAB": route, "QT_QPA_PLATFORM": "wayland",
           "PATH": wrap + ":/usr/bin:/bin"}
    if route == "portal":
        env["GRIM_REFUSED"] = "1"
    log = session.exec("env %s%s" % ("".join("-u %s " % name for name in unset),
                                       session.program), **env)
    try:
        session.wait_for_window(MAIN_TITLE)
    except SessionError as e:
        raise SessionError("%s\nprogram output:\n%s" % (e, session.output(log)))
    return log


def stop_glimmerly(session, log):
    """Closes the main window the way the desktop does and waits for the program to end."""
    session.swaymsg('[title="^%s$"] kill' % MAIN_TITLE)
    try:
        status = wait_until(lambda: session.exit_status(log) is not None and
                            (session.exit_status(log),), 10, "the program to end")[0]
    except SessionError as e:
        raise SessionError("%s; windows %r; program output:\n%s%s" % (
            e, [t for t, _ in session.windows()], session.output(log), stacks(session)))
    if status != 0:
        raise SessionError("the program ended with %d:\n%s" % (status, session.output(log)))


# Top left corners of two check boxes in the main window: "Nur aktives Fenster speichern"
# (ticked at start, first in the tab order) and "Anschliessend bearbeiten" (next).
ACTIVE_WINDOW_BOX = (8, 152)
EDIT_BOX = (8, 176)


def content_origin(node):
    rect, inner = node["rect"], node["window_rect"]
    return rect["x"] + inner["x"], rect["y"] + inner["y"]


def box_pixels(session, box, x, y, w, h):
    ox, oy = content_origin(session.wait_for_window(MAIN_TITLE))
    return session.grim("-g", "%d,%d %dx%d" % (ox + box[0] + x, oy + box[1] + y, w, h))[2]


def box_ticked(session, box):
    """Whether a check box of the main window shows its tick (dark pixels inside it)."""
    return min(box_pixels(session, box, 2, 3, 10, 10)) < 60


def box_focused(session, box):
    """Whether a check box shows the keyboard focus (its frame turns from grey to blue)."""
    frame = box_pixels(session, box, 4, 1, 1, 1)
    return max(frame) - min(frame) > 40


def press_until(session, key, condition, what, attempts=4):
    """Types a key until the condition holds. Now and then a key typed into a Qt window right
    after it was mapped or focused is lost; a key that arrives changes what the condition
    looks at, so it is never typed twice."""
    for _ in range(attempts):
        session.key(key)
        try:
            return wait_until(condition, 2, what, poll=0.05)
        except SessionError:
            pass
    raise SessionError("%d times %s, still waiting for %s" % (attempts, key, what))


def set_options(session, whole_layout, edit=False):
    """Sets the two check boxes from the keyboard (the seat has no pointer), each key press
    confirmed on screen. The keyboard focus starts on the first box."""
    wait_until(lambda: box_ticked(session, ACTIVE_WINDOW_BOX), 10, "the main window's boxes")
    focus(session, MAIN_TITLE)
    if whole_layout:
        press_until(session, "space", lambda: not box_ticked(session, ACTIVE_WINDOW_BOX),
                    '"Nur aktives Fenster speichern" to be unticked')
    if edit:
        press_until(session, "Tab", lambda: box_focused(session, EDIT_BOX),
                    '"Anschliessend bearbeiten" to have the focus')
        press_until(session, "space", lambda: box_ticked(session, EDIT_BOX),
                    '"Anschliessend bearbeiten" to be ticked')


def program_pids(session):
    """Every copy of the program in the session, however it was started."""
    pids = []
    for pid in processes_in(session.pid_namespace):
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                if f.read().split(b"\0")[0] == session.program.encode():
                    pids.append(pid)
        except OSError:
            pass
    return pids


def stacks(session):
    """The running program's thread stacks, where gdb is installed (for a program that does not
    end)."""
    if not shutil.which("gdb"):
        return ""
    found = []
    for pid in program_pids(session):
        done = subprocess.run(["gdb", "-p", str(pid), "-batch", "-ex", "thread apply all bt 20"],
                              capture_output=True, text=True, timeout=60)
        found.append("\nstacks of %d:\n%s" % (pid, done.stdout))
    return "".join(found)


def close_started_by_print(session):
    """Closes a copy of the program that sway's binding started and waits for it to end. A close
    that is not taken within 5 s is said with what the program was doing (its windows and thread
    stacks) and asked for once more; a program that still runs fails the test."""
    session.swaymsg('[title="^%s$"] kill' % MAIN_TITLE)
    try:
        wait_until(lambda: not program_pids(session), 5, "the program to end")
        return
    except SessionError:
        pass
    print("NOTE: the close was not taken within 5 s; copies %r, windows %r%s"
          % (program_pids(session), [t for t, _ in session.windows()], stacks(session)))
    session.swaymsg('[title="^%s$"] kill' % MAIN_TITLE, check=False)
    wait_until(lambda: not program_pids(session), 15, "the program to end after a second close")


def focus(session, title):
    session.swaymsg('[title="^%s$"] focus' % title)
    wait_until(lambda: (session.focused() or {}).get("name") == title, 5, "focus on " + title)


def grim_calls(session):
    return session.output(session.path("tmp", "grim-calls")).splitlines()


def new_session(program, extra_config="", **layout):
    """A session for the program; `layout` as SwaySession's second_scale and second_left."""
    return SwaySession(program=program, extra_config=WINDOW_RULES + extra_config, **layout)
