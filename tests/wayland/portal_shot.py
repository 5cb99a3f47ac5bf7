#!/usr/bin/python3
"""Asks the desktop portal for a non-interactive screenshot and prints the answer:
"response <code> <uri>". Runs inside the sway session (the portal refuses callers from
outside its namespace). Leaves the portal's file where it is. A fourth field gives the
milliseconds from the call to the answer."""
import sys
import time

import dbus
import dbus.mainloop.glib
from gi.repository import GLib


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    sender = bus.get_unique_name()[1:].replace(".", "_")
    token = "harness1"
    handle = "/org/freedesktop/portal/desktop/request/%s/%s" % (sender, token)
    loop = GLib.MainLoop()
    answer = []

    def on_response(code, results):
        answer.append((int(code), str(results.get("uri", "")),
                       (time.monotonic() - called) * 1000))
        loop.quit()

    # Subscribed before the call, so a quick answer is not missed.
    bus.add_signal_receiver(on_response, "Response", "org.freedesktop.portal.Request",
                            "org.freedesktop.portal.Desktop", handle)
    portal = bus.get_object("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop")
    called = time.monotonic()
    portal.Screenshot("", {"handle_token": token, "interactive": False},
                      dbus_interface="org.freedesktop.portal.Screenshot")
    GLib.timeout_add_seconds(15, loop.quit)
    loop.run()
    if not answer:
        print("no response")
        return 1
    print("response %d %s %.1f" % answer[0], flush=True)
    return 0 if answer[0][0] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
