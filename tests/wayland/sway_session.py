"""A headless sway session for the Wayland desktop tests and the benchmark.

sway refuses to run as root, so the session runs as uid 65534 inside a PID and mount namespace
of its own, with a clean environment, two headless outputs side by side (the taller one at 0,0),
PipeWire and the desktop portals. Its /tmp is the session folder's tmp/, so files the portal
writes there can be checked from outside. Killing the namespace's first process ends
everything in it.

    with SwaySession(program="/path/to/glimmerly") as s:
        s.key("Print")            # bound to "<copy of program> --capture"
        s.grim()                  # the whole layout as (width, height, rgb bytes)

As a command:  sway_session.py start [PROGRAM]  prints the folder and the environment to use,
then waits until interrupted; the session ends with it. GLIMMERLY_KEEP_SWAY=1 keeps the folder
(logs in sway.log and state/) after the session ended.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from session_scripts import (BUS_CONFIG, NAMESPACE_SCRIPT, PORTAL, SERVICES, SKIPPED_SERVICES,
                             START_SCRIPT, USER)

# name, logical size, position; the taller output sits at 0,0.
OUTPUTS = (("HEADLESS-1", (1024, 768), (0, 0), "#2050c0"),
           ("HEADLESS-2", (1280, 720), (1024, 0), "#30a040"))
LAYOUT = (2304, 768)
NEEDED = ("sway", "swaymsg", "swaybg", "grim", "wtype", "dbus-run-session", "pipewire",
          "setpriv", "unshare")


class SessionError(Exception):
    pass


def missing_tools():
    """What this machine lacks to run a session (empty when it can)."""
    lacking = [t for t in NEEDED if shutil.which(t) is None]
    if os.geteuid() != 0:
        lacking.append("root (to start the session as uid %d)" % USER)
    return lacking


def wait_until(condition, timeout, what, poll=0.02):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise SessionError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(poll)


def processes_in(namespace):
    """Live processes whose PID namespace is `namespace` (a /proc/*/ns/pid link text)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink("/proc/%s/ns/pid" % pid) != namespace:
                continue
            with open("/proc/%s/stat" % pid) as f:
                if f.read().rpartition(")")[2].split()[0] != "Z":
                    found.append(int(pid))
        except OSError:
            pass
    return found


def read_ppm(data):
    """(width, height, rgb bytes) of a binary PPM with maxval 255."""
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise SessionError("not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos + 1:pos + 1 + 3 * width * height]


class SwaySession:
    def __init__(self, program=None, extra_config="", print_command=None, second_scale=1,
                 second_left=False):
        """program: a binary to copy where the session's user can run it; Print runs
        print_command, else "<copy> --capture". second_scale: the second output's scale; its
        mode grows with it, so the layout in logical units stays the same. second_left: the
        second output to the left of the first, at negative x."""
        self.program_source = program
        self.second_scale = second_scale
        (first, size1, at1, bg1), (second, size2, _, bg2) = OUTPUTS
        at2 = (-size2[0], 0) if second_left else (size1[0], 0)
        # As OUTPUTS, with the positions of this session; the layout's left edge.
        self.outputs = ((first, size1, at1, bg1), (second, size2, at2, bg2))
        self.left = min(0, at2[0])
        self.extra_config = extra_config
        self.print_command = print_command
        self.folder = None
        self.process = None
        self.env = {}
        self.pid_namespace = None

    # -- life cycle -------------------------------------------------------------------------

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self, timeout=30):
        lacking = missing_tools()
        if lacking:
            raise SessionError("cannot start sway: missing " + ", ".join(lacking))
        # Directly under /tmp, and not 0700: the session's user has to reach it.
        self.folder = tempfile.mkdtemp(prefix="glimmerly-sway-", dir="/tmp")
        os.chmod(self.folder, 0o755)
        for name, mode in (("home", 0o700), ("runtime", 0o700), ("tmp", 0o1777),
                           ("state", 0o700)):
            path = os.path.join(self.folder, name)
            os.mkdir(path)
            os.chmod(path, mode)
            os.chown(path, USER, USER)
        os.chown(self.folder, 0, 0)
        os.mkdir(os.path.join(self.folder, "bin"), 0o755)
        self.program = self.install(self.program_source) if self.program_source else None
        self._write(os.path.join("bin", "session-start"), START_SCRIPT, 0o755)
        self._write("sway.conf", self._config(), 0o644)
        services = self.path("services")
        os.mkdir(services, 0o755)
        for name in os.listdir(SERVICES) if os.path.isdir(SERVICES) else ():
            if name not in SKIPPED_SERVICES:
                shutil.copy(os.path.join(SERVICES, name), services)
        self._write("bus.conf", BUS_CONFIG % services, 0o644)
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "SESSION": self.folder,
               "PORTAL": PORTAL}
        self.log = open(self.path("sway.log"), "wb")
        # --pdeathsig: should the test be killed outright, the session still ends with it.
        self.process = subprocess.Popen(
            ["setpriv", "--pdeathsig", "KILL", "unshare", "--pid", "--mount", "--fork",
             "--mount-proc", "--kill-child", "sh", "-c", NAMESPACE_SCRIPT],
            env=env, stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)
        try:
            ready = self.path("state", "ready.env")
            wait_until(lambda: os.path.exists(ready) or self.process.poll() is not None,
                       timeout, "the session to start")
            if self.process.poll() is not None:
                raise SessionError("sway ended at start:\n" + self.log_text())
            self.env = self._read_env(ready)
            init = self._namespace_init()
            self.pid_namespace = os.readlink("/proc/%d/ns/pid" % init[0]) if init else None
        except BaseException:
            self.stop()
            raise

    def stop(self):
        if self.process is not None:
            # The namespace's first process ignores SIGTERM; SIGKILL ends it and everything
            # in its PID namespace.
            for pid in self._namespace_init():
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            if self.process.poll() is None:
                self.process.kill()
            self.process.wait(10)
            namespace = self.pid_namespace
            if namespace:
                wait_until(lambda: not processes_in(namespace), 10, "the session to end")
            self.process = None
            self.log.close()
        if self.folder and not os.environ.get("GLIMMERLY_KEEP_SWAY"):
            shutil.rmtree(self.folder, ignore_errors=True)

    def _namespace_init(self):
        # setpriv execs unshare in place, so the unshare process is self.process and its one
        # child is the namespace's first process.
        try:
            with open("/proc/%d/task/%d/children" % (self.process.pid, self.process.pid)) as f:
                return [int(p) for p in f.read().split()]
        except OSError:
            return []

    # -- inside the session -----------------------------------------------------------------

    def install(self, binary):
        """Copies a program where the session's user can run it (the build folder may not be
        reachable for that user) and returns the copy's path."""
        copy = self.path("bin", os.path.basename(binary))
        shutil.copy(binary, copy)
        os.chmod(copy, 0o755)
        return copy

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def client_env(self, **extra):
        """Environment for a Wayland client started from outside the namespace."""
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
               "XDG_RUNTIME_DIR": self.env["XDG_RUNTIME_DIR"],
               "WAYLAND_DISPLAY": self.env["WAYLAND_DISPLAY"],
               "SWAYSOCK": self.env["SWAYSOCK"]}
        env.update(extra)
        return env

    def run(self, *args, timeout=20, check=True):
        """Runs a client from outside (grim, wtype, swaymsg) and returns its stdout bytes."""
        done = subprocess.run(args, env=self.client_env(), capture_output=True, timeout=timeout)
        if check and done.returncode != 0:
            raise SessionError("%s exited %d: %s" % (args[0], done.returncode,
                                                     done.stderr.decode(errors="replace")))
        return done.stdout

    def swaymsg(self, *args, check=True):
        return self.run("swaymsg", *args, check=check)

    def exec(self, command, **env):
        """Starts a shell command inside the session (as its user, in its namespace), the way
        a key binding would. Its output goes to the returned log file, its exit status, once
        it ends, to the log file's name + ".status" (see exit_status)."""
        self._exec_count = getattr(self, "_exec_count", 0) + 1
        log = self.path("state", "exec%d.log" % self._exec_count)
        assignments = "".join("%s=%s " % (k, shell_quote(v)) for k, v in env.items())
        self.swaymsg("exec " + self.script("%s%s >%s 2>&1\necho $? >%s.status"
                                           % (assignments, command, log, log)))
        return log

    def script(self, text):
        """A shell script the session's user can run, for sway's exec and bindings: a file
        spares the command sway's own parsing of quotes, commas and semicolons."""
        self._script_count = getattr(self, "_script_count", 0) + 1
        path = self.path("bin", "script%d" % self._script_count)
        self._write(path, "#!/bin/sh\n" + text + "\n", 0o755)
        return path

    @staticmethod
    def exit_status(log):
        """The exit status of a command started by exec(), or None while it runs."""
        try:
            with open(log + ".status") as f:
                return int(f.read())
        except (FileNotFoundError, ValueError):
            return None

    @staticmethod
    def output(log):
        """What a command started by exec() has written so far."""
        try:
            with open(log, errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def key(self, name):
        self.run("wtype", "-k", name)

    def grim(self, *args):
        return read_ppm(self.run("grim", "-s", "1", "-t", "ppm", *args, "-"))

    def tree(self):
        return json.loads(self.swaymsg("-t", "get_tree", "-r"))

    def windows(self):
        """Every window of the tree with a title: [(name, node)]."""
        found = []

        def walk(node):
            if node.get("pid") or node.get("app_id") is not None:
                found.append((node.get("name"), node))
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)
        walk(self.tree())
        return found

    def wait_for_window(self, name, timeout=20):
        def look():
            return next((n for t, n in self.windows() if t == name), None)
        return wait_until(look, timeout, "a window titled %r" % name, poll=0.1)

    def focused(self):
        return next((n for _, n in self.windows() if n.get("focused")), None)

    def log_text(self):
        if self.log.closed:
            return ""
        self.log.flush()
        with open(self.path("sway.log"), "rb") as f:
            return f.read().decode(errors="replace")[-4000:]

    # -- set-up -----------------------------------------------------------------------------

    def _config(self):
        lines = ["# headless test session",
                 "default_border normal 2",
                 "focus_follows_mouse no",
                 "font monospace 10"]
        for i, (name, (w, h), (x, y), colour) in enumerate(self.outputs):
            scale = self.second_scale if i == 1 else 1
            lines.append("output %s mode %dx%d position %d %d scale %g bg %s solid_color"
                         % (name, round(w * scale), round(h * scale), x, y, scale, colour))
        print_command = self.print_command
        if print_command is None and self.program:
            print_command = "%s --capture" % self.program
        if print_command:
            lines.append("bindsym Print exec %s" % print_command)
        lines.append(self.extra_config)
        lines.append("exec %s" % self.path("bin", "session-start"))
        return "\n".join(lines) + "\n"

    def _write(self, name, text, mode):
        with open(self.path(name), "w") as f:
            f.write(text)
        os.chmod(self.path(name), mode)

    @staticmethod
    def _read_env(path):
        env = {}
        with open(path) as f:
            for line in f:
                key, sep, value = line.rstrip("\n").partition("=")
                if sep:
                    env[key] = value
        for key in ("WAYLAND_DISPLAY", "SWAYSOCK"):
            if key not in env:
                raise SessionError("the session did not report " + key)
        return env

    def portal_ready(self):
        try:
            with open(self.path("state", "portal.version")) as f:
                return "uint32" in f.read()
        except OSError:
            return False


def shell_quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def main():
    if len(sys.argv) < 2 or sys.argv[1] != "start":
        print("usage: sway_session.py start [PROGRAM]", file=sys.stderr)
        return 2
    lacking = missing_tools()
    if lacking:
        print("sway_session: missing " + ", ".join(lacking), file=sys.stderr)
        return 77
    with SwaySession(program=sys.argv[2] if len(sys.argv) > 2 else None) as s:
        print("folder", s.folder)
        for key in ("WAYLAND_DISPLAY", "SWAYSOCK"):
            print("export %s=%s" % (key, s.env[key]))
        print("export XDG_RUNTIME_DIR=%s" % s.env["XDG_RUNTIME_DIR"], flush=True)
        try:
            signal.pause()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
