#!/usr/bin/python3
"""A stand-in for polkit's authority on the sandbox's private system bus.

CheckAuthorization answers with the word in the --answers file at the time of the call ("yes": authorized,
anything else: not), so a scenario can change its mind between calls; "yes after N" answers yes N seconds
later, as polkit does while its agent asks for a password. It appends the subject, action and flags it was
asked about to a JSON-lines record.
"""

import argparse

import dbus
import dbus.service
from gi.repository import GLib

from fake_service import append_record, serve

BUS_NAME = "org.freedesktop.PolicyKit1"
OBJECT_PATH = "/org/freedesktop/PolicyKit1/Authority"
AUTHORITY = "org.freedesktop.PolicyKit1.Authority"


class Authority(dbus.service.Object):
    def __init__(self, bus, record_path, answers_path):
        super().__init__(bus, OBJECT_PATH)
        self.record_path = record_path
        self.answers_path = answers_path

    @dbus.service.method(AUTHORITY, in_signature="(sa{sv})sa{ss}us", out_signature="(bba{ss})",
                         async_callbacks=("reply", "_error"))
    def CheckAuthorization(self, subject, action_id, details, flags, cancellation_id, reply, _error):  # noqa: N802
        with open(self.answers_path, encoding="utf-8") as f:
            words = f.read().split()
        authorized = words[:1] == ["yes"]
        delay = float(words[2]) if words[1:2] == ["after"] else 0
        kind, subject_details = subject
        append_record(self.record_path, {
            "call": "CheckAuthorization", "kind": str(kind),
            "subject": {str(k): str(v) for k, v in subject_details.items()}, "action": str(action_id),
            "details": {str(k): str(v) for k, v in details.items()}, "flags": int(flags),
            "cancellation": str(cancellation_id), "authorized": authorized})
        answer = (dbus.Boolean(authorized), dbus.Boolean(False), dbus.Dictionary({}, signature="ss"))
        GLib.timeout_add(int(delay * 1000), lambda: reply(answer) and False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record", required=True)
    parser.add_argument("--answers", required=True)
    parser.add_argument("--ready", required=True)
    args = parser.parse_args()
    serve(dbus.SystemBus, lambda bus: Authority(bus, args.record, args.answers), BUS_NAME, args.ready)


if __name__ == "__main__":
    main()
