#!/usr/bin/python3
"""A small stand-in for logind on a private bus, for the power-event test.

It grants "delay" inhibitor locks the way logind does (the write end of a pipe), emits
PrepareForSleep on request, and tells how many granted locks are still held open by a client.
Usage: power_test_logind.py BUS_ADDRESS. Prints "ready" once it owns its name.
"""
import os
import select
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

MANAGER = "org.freedesktop.login1.Manager"
CONTROL = "org.horavel.Test"


class Manager(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/login1")
        self.locks = []
        self.requests = []
        self.inhibitors = []

    @dbus.service.method(MANAGER, in_signature="ssss", out_signature="h", sender_keyword="sender")
    def Inhibit(self, what, who, why, mode, sender=None):
        self.requests.append((str(what), str(who), str(why), str(mode)))
        self.inhibitors.append(str(sender))
        read_end, write_end = os.pipe()
        self.locks.append(read_end)
        lock = dbus.types.UnixFd(write_end)
        os.close(write_end)
        return lock

    @dbus.service.signal(MANAGER, signature="b")
    def PrepareForSleep(self, start):
        pass

    @dbus.service.method(CONTROL, in_signature="b")
    def Emit(self, start):
        self.PrepareForSleep(start)

    @dbus.service.method(CONTROL, out_signature="u")
    def HeldLocks(self):
        held = 0
        for read_end in self.locks:
            # The last writer closing its end is what "released" means to logind too.
            readable, _, _ = select.select([read_end], [], [], 0)
            if not readable:
                held += 1
        return held

    @dbus.service.method(CONTROL, out_signature="a(ssss)")
    def Requests(self):
        return self.requests

    @dbus.service.method(CONTROL, out_signature="as")
    def Inhibitors(self):
        """The unique bus names of the clients that asked for locks, in order."""
        return self.inhibitors


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(sys.argv[1])
    name = dbus.service.BusName("org.freedesktop.login1", bus)
    manager = Manager(bus)
    print("ready", flush=True)
    GLib.MainLoop().run()
    del name, manager


if __name__ == "__main__":
    main()
