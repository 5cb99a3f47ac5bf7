#!/usr/bin/python3
"""After Print on sway, the running program's window takes the focus when the compositor allows
it, so that a name can be typed at once.

In a headless sway session with `focus_on_window_activation focus`, a plainly coloured window of
another program has the focus; Print fires sway's binding `glimmerly --capture`, which asks the
compositor for an activation token (sway 1.7 gives the binding's process none) and hands it over
with its request. Checked:
  - the picture is stored, and the main window has the keyboard focus afterwards;
  - with sway's default `focus_on_window_activation urgent`, the focus stays where it was and
    the main window is marked urgent: the program asks, the compositor decides;
  - a token the launcher gave ($XDG_ACTIVATION_TOKEN, as newer launchers do) travels as it is:
    with one sway issued the window takes the focus, with one sway never issued it does not
    (the program asked for no token of its own then).

Arguments: the glimmerly, glimmerly-service and wayland_colour_window binaries. Exit 77 (skipped)
without sway or root.
"""
import os
import socket
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from sway_session import SessionError, missing_tools, wait_until  # noqa: E402
from wayland_road import (MAIN_TITLE, Service, focus, new_session, own_loopback,  # noqa: E402
                          start_glimmerly)

TARGET_TITLE = "Farbfenster"


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def wire_string(text):
    data = text.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)


def launcher_token(session):
    """A token from sway for a client of the test's own, as a launcher would get one: the
    registry, a bind of xdg_activation_v1, get_activation_token and commit. Returns the token
    and the connection, which stays open while the token is used."""
    path = os.path.join(session.env["XDG_RUNTIME_DIR"], session.env["WAYLAND_DISPLAY"])
    connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    connection.connect(path)
    connection.settimeout(5)

    def send(obj, opcode, args=b""):
        connection.sendall(struct.pack("<II", obj, ((8 + len(args)) << 16) | opcode) + args)

    pending = b""

    def events():
        nonlocal pending
        while True:
            while len(pending) >= 8:
                obj, size_op = struct.unpack_from("<II", pending)
                size = size_op >> 16
                if len(pending) < size:
                    break
                event, pending = pending[:size], pending[size:]
                yield obj, size_op & 0xffff, event[8:]
            pending += connection.recv(4096)

    send(1, 1, struct.pack("<I", 2))  # get_registry
    send(1, 0, struct.pack("<I", 3))  # sync
    name = None
    for obj, opcode, args in events():
        if obj == 2 and opcode == 0:
            length = struct.unpack_from("<I", args, 4)[0]
            if args[8:8 + length - 1] == b"xdg_activation_v1":
                name = struct.unpack_from("<I", args)[0]
        elif obj == 3 and opcode == 0:
            break
    if name is None:
        fail("sway offers no xdg_activation_v1")
    send(2, 0, struct.pack("<I", name) + wire_string("xdg_activation_v1")
         + struct.pack("<II", 1, 4))
    send(4, 1, struct.pack("<I", 5))  # get_activation_token
    send(5, 3)  # commit
    for obj, opcode, args in events():
        if obj == 5 and opcode == 0:
            length = struct.unpack_from("<I", args)[0]
            return args[4:4 + length - 1].decode(), connection
        if obj == 1 and opcode == 0:
            fail("sway answered the token request with an error")


def main_window(session):
    return session.wait_for_window(MAIN_TITLE)


def print_from(session, service, count, binding=None):
    """Print with the coloured window focused; returns once the picture is stored."""
    if binding:
        session.swaymsg("bindsym --no-warn Print exec " + session.script(binding))
    focus(session, TARGET_TITLE)
    session.key("Print")
    service.wait_for_picture(count)


def focused_after_print(session):
    try:
        wait_until(lambda: (session.focused() or {}).get("name") == MAIN_TITLE, 5,
                   "the main window to have the focus")
        return True
    except SessionError:
        return False


def main():
    program, service_binary, colour_window = sys.argv[1:4]
    lacking = missing_tools()
    if lacking:
        print("SKIP: missing " + ", ".join(lacking))
        return 77
    own_loopback()
    service = Service(service_binary)
    try:
        with new_session(program, "focus_on_window_activation focus\n") as session:
            window = session.install(colour_window)
            session.exec("%s --title %s --size 400x300 --colour c82828" % (window, TARGET_TITLE))
            session.wait_for_window(TARGET_TITLE)
            start_glimmerly(session, "grim")

            print_from(session, service, 1)
            if not focused_after_print(session):
                fail("focus: after Print the focus is on %r, not the main window"
                     % (session.focused() or {}).get("name"))
            print("focus: the main window has the focus after Print")

            session.swaymsg("focus_on_window_activation urgent")
            print_from(session, service, 2)
            wait_until(lambda: main_window(session).get("urgent"), 5,
                       "the main window to be marked urgent")
            if (session.focused() or {}).get("name") != TARGET_TITLE:
                fail("urgent: the focus moved to %r" % (session.focused() or {}).get("name"))
            print("urgent: the focus stayed, the main window is marked urgent")

            # A launcher's token in the binding's environment: one sway issued, then one it
            # never did.
            session.swaymsg("focus_on_window_activation focus")
            token, connection = launcher_token(session)
            print_from(session, service, 3, binding="XDG_ACTIVATION_TOKEN=%s exec %s --capture"
                       % (token, session.program))
            if not focused_after_print(session):
                fail("launcher token: the focus is on %r" % (session.focused() or {}).get("name"))
            connection.close()
            print_from(session, service, 4, binding="XDG_ACTIVATION_TOKEN=never-issued "
                       "exec %s --capture" % session.program)
            if focused_after_print(session):
                fail("launcher token: a token sway never issued gave the focus, so the program "
                     "did not pass the launcher's own")
            print("launcher token: taken as given (sway's gave the focus, a made-up one did not)")
    finally:
        service.stop()
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
