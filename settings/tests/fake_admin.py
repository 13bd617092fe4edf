#!/usr/bin/python3
"""A stand-in for the admin service org.horavel.Admin1 on a private bus, for the settings
application's tests and screenshots.

It offers every method of the interface with the documented signatures and JSON answers, holding
canned accounts, policies, settings and a history in memory: SetPolicy, Grant, RemovePolicy and
SetSettings change what later calls return. Every call is recorded; a control interface of its own
(org.horavel.test.FakeAdmin) hands the record out and makes the next call of a method fail with a
given D-Bus error and message, as the real service does for input it refuses.

    fake_admin.py --address ADDRESS --ready FILE
"""

import argparse
import copy
import datetime
import json
import os
import signal

import dbus
import dbus.bus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BUS_NAME = "org.horavel.Admin1"
OBJECT_PATH = "/org/horavel/Admin1"
ADMIN = "org.horavel.Admin1"
CONTROL = "org.horavel.test.FakeAdmin"
INVALID = "org.horavel.Admin1.Error.Invalid"

ACCOUNTS = [
    {"name": "anna", "uid": 1001, "managed": True, "today": {"used": 42, "allowance": 60, "granted": 0}},
    {"name": "ben", "uid": 1002, "managed": False},
    {"name": "kid", "uid": 1003, "managed": True, "today": {"used": 75, "allowance": 120, "granted": 15}},
]

POLICIES = {
    "anna": {
        "allowance": {"weekdays": 60, "weekend": 120},
        "ranges": [{"day": "all", "start": "07:10", "end": "20:30"}],
        "network": [{"day": "all", "start": "16:00", "end": "19:00"}],
        "apps": [{"name": "supertuxkart", "minutes": {"all": 30}}, {"name": "firefox", "minutes": 45}],
        "quota_mb": 500,
        "script": "/usr/local/sbin/clean-kid",
    },
    "kid": {"allowance": 120},
}

SETTINGS = {
    "status": 1, "warntime": 5, "diskmontime": 15, "keeplimit": 1, "netmon": 1, "appmon": 1, "diskmon": 0,
    "tracksleep": 0, "showremain": 1, "hideremain": 0, "warnonce": 0, "notimeout": 0, "netmethod": "firewall",
    "warnmsg": "%u, you have %m minutes left.",
    "logoutmsg": "Time is up for today, %u. You are being logged out.",
    "rangemsg": "The computer can be used from %sr to %er.",
    "appmsg": "%a: %l minutes left.",
    "diskmsg": "Your home folder is over its quota.",
    "grantmsg": "%u, you were given %g more minutes.",
}
TEXT_KEYS = {"warnmsg", "logoutmsg", "rangemsg", "appmsg", "diskmsg", "grantmsg", "netmethod"}


class Fake(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, OBJECT_PATH)
        self.accounts = copy.deepcopy(ACCOUNTS)
        self.policies = copy.deepcopy(POLICIES)
        self.settings = dict(SETTINGS)
        self.calls = []
        self.refusals = {}

    def begin(self, method, *args):
        """Records the call and raises the refusal set up for it, if any."""
        self.calls.append([method] + [a if isinstance(a, (str, int)) else dict(a) for a in args])
        if method in self.refusals:
            name, message = self.refusals.pop(method)
            raise dbus.DBusException(message, name=name)

    def account(self, user):
        for a in self.accounts:
            if a["name"] == user:
                return a
        raise dbus.DBusException(f"{user}: no such account", name=INVALID)

    def managed(self, user):
        a = self.account(user)
        if not a["managed"]:
            raise dbus.DBusException(f"{user} has no policy", name=INVALID)
        return a

    @dbus.service.method(ADMIN, in_signature="", out_signature="s")
    def ListAccounts(self):
        self.begin("ListAccounts")
        return json.dumps(self.accounts)

    @dbus.service.method(ADMIN, in_signature="s", out_signature="s")
    def GetPolicy(self, user):
        self.begin("GetPolicy", user)
        self.managed(user)
        return json.dumps(self.policies[user])

    @dbus.service.method(ADMIN, in_signature="ss", out_signature="")
    def SetPolicy(self, user, text):
        self.begin("SetPolicy", user, text)
        a = self.account(user)
        try:
            policy = json.loads(text)
        except ValueError as e:
            raise dbus.DBusException(f"policy: {e}", name=INVALID)
        self.policies[user] = policy
        if not a["managed"]:
            a["managed"] = True
            a["today"] = {"used": 0, "allowance": 0, "granted": 0}

    @dbus.service.method(ADMIN, in_signature="s", out_signature="")
    def RemovePolicy(self, user):
        self.begin("RemovePolicy", user)
        a = self.managed(user)
        a["managed"] = False
        a.pop("today", None)
        self.policies.pop(user, None)

    @dbus.service.method(ADMIN, in_signature="", out_signature="s")
    def GetSettings(self):
        self.begin("GetSettings")
        return json.dumps(self.settings)

    @dbus.service.method(ADMIN, in_signature="a{ss}", out_signature="")
    def SetSettings(self, changes):
        self.begin("SetSettings", changes)
        try:
            update = {str(k): str(v) if k in TEXT_KEYS else int(v) for k, v in changes.items()}
        except ValueError as e:
            raise dbus.DBusException(f"settings: {e}", name=INVALID)
        self.settings.update(update)

    @dbus.service.method(ADMIN, in_signature="", out_signature="")
    def ResetSettings(self):
        self.begin("ResetSettings")
        self.settings = dict(SETTINGS)

    @dbus.service.method(ADMIN, in_signature="", out_signature="s")
    def Status(self):
        self.begin("Status")
        return json.dumps({"console": "anna", "accounts": self.accounts})

    @dbus.service.method(ADMIN, in_signature="si", out_signature="i")
    def Grant(self, user, minutes):
        self.begin("Grant", user, int(minutes))
        today = self.managed(user)["today"]
        today["granted"] += int(minutes)
        return today["granted"]

    @dbus.service.method(ADMIN, in_signature="s", out_signature="")
    def Logout(self, user):
        self.begin("Logout", user)
        self.managed(user)

    @dbus.service.method(ADMIN, in_signature="su", out_signature="s")
    def History(self, user, days):
        self.begin("History", user, int(days))
        self.managed(user)
        today = datetime.date.today()
        out = []
        for i in range(int(days)):
            date = today - datetime.timedelta(days=int(days) - 1 - i)
            weekend = date.weekday() >= 5
            game = (i * 7) % 31
            browser = (i * 11) % 23
            used = game + browser + (i * 5) % 29
            out.append({"date": date.isoformat(), "used": used, "allowance": 120 if weekend else 60,
                        "granted": 15 if i % 9 == 4 else 0,
                        "apps": {"supertuxkart.app": game, "firefox.app": browser}, "events": []})
        return json.dumps({"user": user, "days": out, "total": sum(d["used"] for d in out[-7:])})

    @dbus.service.method(CONTROL, in_signature="", out_signature="s")
    def Calls(self):
        return json.dumps(self.calls)

    @dbus.service.method(CONTROL, in_signature="sss", out_signature="")
    def Refuse(self, method, name, message):
        self.refusals[str(method)] = (str(name), str(message))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", required=True)
    parser.add_argument("--ready", required=True)
    args = parser.parse_args()
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(args.address)
    service = Fake(bus)
    name = dbus.service.BusName(BUS_NAME, bus)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    with open(args.ready, "w", encoding="utf-8") as f:
        f.write("ready\n")
    loop.run()
    # service and name stay referenced while the loop runs; the bus may already be gone, so nothing
    # is released on the way out.
    os._exit(0)


if __name__ == "__main__":
    main()
