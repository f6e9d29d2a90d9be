#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A desktop notification server on a session bus of its own, for the tests. Prints the bus's
address and its own process id once it owns org.freedesktop.Notifications, then one line per
notification: app name|icon|urgency|desktop entry|summary|first line of the body. Ends on
SIGTERM, or after two minutes, so that a test waiting for a line never waits longer."""
import os
import signal
import subprocess

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

INTERFACE = "org.freedesktop.Notifications"


class Server(dbus.service.Object):
    @dbus.service.method(INTERFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        fields = [app, icon, str(int(hints.get("urgency", -1))),
                  str(hints.get("desktop-entry", "")), summary, body.split("\n")[0]]
        print("|".join(fields), flush=True)
        return 1

    @dbus.service.method(INTERFACE, out_signature="as")
    def GetCapabilities(self):
        return ["body"]


daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
try:
    address = daemon.stdout.readline().strip()
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    name = dbus.service.BusName(INTERFACE, bus)
    server = Server(bus, "/org/freedesktop/Notifications")
    print(address, os.getpid(), flush=True)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    GLib.timeout_add_seconds(120, loop.quit)
    loop.run()
finally:
    daemon.terminate()
    daemon.wait()
