#!/usr/bin/python3
"""Stand-ins for the notification server and logind's TerminateSession on a private bus.

Each call is printed as one line on standard output, so the test sees exactly what arrived:
  notify|<app>|<replaces>|<icon>|<summary>|<body>|<actions>|<urgency>|<timeout>|<caller uid>
  close|<id>
  terminate|<session id>
TerminateSession knows only the sessions named on the command line and fails for any other, as
logind does. Usage: bus_test_server.py BUS_ADDRESS [SESSION...]. Prints "ready" once both names
are owned.
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib


def say(*fields):
    print("|".join(str(f) for f in fields), flush=True)


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.bus = bus
        self.next_id = 41

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                         out_signature="u", sender_keyword="sender")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout, sender=None):
        self.next_id += 1
        urgency = hints.get("urgency")
        kind = "none" if urgency is None else "%s:%d" % (urgency.__class__.__name__, int(urgency))
        say("notify", app, int(replaces), icon, summary, body, ",".join(actions), kind, int(timeout),
            self.bus.get_unix_user(sender))
        return self.next_id

    @dbus.service.method("org.freedesktop.Notifications", in_signature="u")
    def CloseNotification(self, notice_id):
        say("close", int(notice_id))


class Manager(dbus.service.Object):
    def __init__(self, bus, sessions):
        super().__init__(bus, "/org/freedesktop/login1")
        self.sessions = set(sessions)

    @dbus.service.method("org.freedesktop.login1.Manager", in_signature="s")
    def TerminateSession(self, session_id):
        say("terminate", session_id)
        if session_id not in self.sessions:
            raise dbus.exceptions.DBusException("No session '%s' known" % session_id,
                                                name="org.freedesktop.login1.NoSuchSession")
        self.sessions.discard(session_id)


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(sys.argv[1])
    names = [dbus.service.BusName("org.freedesktop.Notifications", bus),
             dbus.service.BusName("org.freedesktop.login1", bus)]
    objects = [Notifications(bus), Manager(bus, sys.argv[2:])]
    say("ready")
    GLib.MainLoop().run()
    del names, objects


if __name__ == "__main__":
    main()
