#!/usr/bin/python3
"""A stand-in for the desktop portal's Screenshot call on a private session bus.

Each call reads its answer from the file SCENARIO: one line "CODE DELAY_MS TARGET SOURCE".
After DELAY_MS it copies SOURCE to TARGET (unless SOURCE is "-") and sends the request's
Response with CODE and the address of TARGET, then appends "sent" to SCENARIO.sent.
Requests are never closed early: an answer may come after the caller gave up.
"""
import shutil
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

PORTAL = "org.freedesktop.portal.Desktop"


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, code, results):
        pass

    @dbus.service.method("org.freedesktop.portal.Request")
    def Close(self):
        pass  # too late: the answer goes out all the same


class Portal(dbus.service.Object):
    def __init__(self, bus, scenario):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.bus, self.scenario = bus, scenario

    @dbus.service.method("org.freedesktop.portal.Screenshot", in_signature="sa{sv}",
                         out_signature="o", sender_keyword="sender")
    def Screenshot(self, parent, options, sender):
        with open(self.scenario) as f:
            code, delay, target, source = f.readline().split()
        path = "/org/freedesktop/portal/desktop/request/%s/%s" % (
            sender[1:].replace(".", "_"), options["handle_token"])
        request = Request(self.bus, path)

        def answer():
            if source != "-":
                shutil.copyfile(source, target)
            request.Response(dbus.UInt32(int(code)), {"uri": "file://" + target})
            request.remove_from_connection()
            with open(self.scenario + ".sent", "a") as f:
                f.write("sent\n")
            return False

        GLib.timeout_add(int(delay), answer)
        return dbus.ObjectPath(path)


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    keep = Portal(bus, sys.argv[1])  # noqa: F841
    name = dbus.service.BusName(PORTAL, bus)  # noqa: F841
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
