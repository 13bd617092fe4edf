#!/usr/bin/python3
"""A freedesktop notification server for the sandbox's session bus of the console user.

It records every Notify (summary, body, urgency hint, timeout, and the uid of the caller) and every
CloseNotification to a JSON-lines file, so scenarios can assert on the notices the child would see.
"""

import itertools

import dbus
import dbus.service

from fake_service import append_record, main_on_bus

BUS_NAME = "org.freedesktop.Notifications"
OBJECT_PATH = "/org/freedesktop/Notifications"
INTERFACE = "org.freedesktop.Notifications"


class Server(dbus.service.Object):
    def __init__(self, bus, record_path):
        super().__init__(bus, OBJECT_PATH)
        self.bus = bus
        self.record_path = record_path
        self.ids = itertools.count(1)

    def record(self, **fields):
        append_record(self.record_path, fields)

    @dbus.service.method(INTERFACE, in_signature="susssasa{sv}i", out_signature="u", sender_keyword="sender")
    def Notify(self, app_name, replaces_id, icon, summary, body, actions, hints, timeout, sender=None):
        notice_id = next(self.ids)
        urgency = hints.get("urgency")
        self.record(call="Notify", id=notice_id, app=str(app_name), replaces=int(replaces_id), icon=str(icon),
                    summary=str(summary), body=str(body), actions=[str(a) for a in actions],
                    urgency=None if urgency is None else int(urgency), timeout=int(timeout),
                    uid=int(self.bus.get_unix_user(sender)))
        return notice_id

    @dbus.service.method(INTERFACE, in_signature="u")
    def CloseNotification(self, notice_id):
        self.record(call="CloseNotification", id=int(notice_id))
        self.NotificationClosed(notice_id, 3)

    @dbus.service.signal(INTERFACE, signature="uu")
    def NotificationClosed(self, notice_id, reason):
        pass

    @dbus.service.method(INTERFACE, out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(INTERFACE, out_signature="ssss")
    def GetServerInformation(self):
        return ("horavel-e2e", "horavel", "1.0", "1.2")


def main():
    main_on_bus(Server, BUS_NAME)


if __name__ == "__main__":
    main()
