#!/usr/bin/python3
"""A stand-in for systemd-logind on the sandbox's private system bus.

It answers what horaveld asks of logind: Inhibit hands out a lock the way logind does (the write end of
a pipe; the lock is released when every copy of that descriptor is closed), TerminateSession ends the
session in the fake seat files (its processes are left alone, so a scenario can tell that the daemon
did not kill them itself), TerminateUser ends every session of an account in those files and sends
SIGTERM to every process of that uid in the sandbox (as logind stopping the account's scopes would),
KillUser sends the given signal to every process of that uid, and PrepareForSleep is emitted when the
harness asks for it through a control interface of its own. An account without a user record under
/run/systemd/users is not known to logind. Every call and every lock release is appended to a
JSON-lines record.
"""

import argparse
import itertools
import os
import signal

import dbus
import dbus.service
from gi.repository import GLib

from fake_service import append_record, serve

BUS_NAME = "org.freedesktop.login1"
OBJECT_PATH = "/org/freedesktop/login1"
MANAGER = "org.freedesktop.login1.Manager"
CONTROL = "org.horavel.test.FakeLogind"
SEATS = "/run/systemd/seats"
SESSIONS = "/run/systemd/sessions"
USERS = "/run/systemd/users"


def read_env_file(path):
    values = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            key, sep, value = line.rstrip("\n").partition("=")
            if sep:
                values[key] = value
    return values


def write_env_file(path, values):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        for key, value in values.items():
            f.write(f"{key}={value}\n")
    os.rename(tmp, path)


class NoSuchSession(dbus.DBusException):
    _dbus_error_name = "org.freedesktop.login1.NoSuchSession"


class NoSuchUser(dbus.DBusException):
    _dbus_error_name = "org.freedesktop.login1.NoSuchUser"


def processes_of(uid):
    """Pids whose effective uid is uid (the owner of their /proc directory), this process excepted."""
    pids = []
    for entry in os.listdir("/proc"):
        if entry.isdigit() and int(entry) != os.getpid():
            try:
                if os.stat(f"/proc/{entry}").st_uid == uid:
                    pids.append(int(entry))
            except FileNotFoundError:
                pass
    return pids


def signal_all(pids, signo):
    for pid in pids:
        try:
            os.kill(pid, signo)
        except ProcessLookupError:
            pass


def end_session(session_id):
    """Removes a session from the session files and from seat0, which then has nobody active if it was."""
    os.unlink(os.path.join(SESSIONS, session_id))
    seat_file = os.path.join(SEATS, "seat0")
    if os.path.exists(seat_file):
        seat = read_env_file(seat_file)
        if seat.get("ACTIVE") == session_id:
            seat.pop("ACTIVE", None)
            seat.pop("ACTIVE_UID", None)
        seat["SESSIONS"] = " ".join(s for s in seat.get("SESSIONS", "").split() if s != session_id)
        write_env_file(seat_file, seat)


class Manager(dbus.service.Object):
    def __init__(self, bus, record_path):
        super().__init__(bus, OBJECT_PATH)
        self.record_path = record_path
        self.lock_ids = itertools.count(1)

    def record(self, **fields):
        append_record(self.record_path, fields)

    @dbus.service.method(MANAGER, in_signature="ssss", out_signature="h")
    def Inhibit(self, what, who, why, mode):
        lock = next(self.lock_ids)
        read_end, write_end = os.pipe()
        self.record(call="Inhibit", what=str(what), who=str(who), why=str(why), mode=str(mode), lock=lock)

        def released(fd, _condition):
            try:
                while os.read(fd, 4096):
                    pass
            except BlockingIOError:
                return True
            os.close(fd)
            self.record(event="released", lock=lock)
            return False

        os.set_blocking(read_end, False)
        GLib.io_add_watch(read_end, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, released)
        reply = dbus.types.UnixFd(write_end)
        os.close(write_end)
        return reply

    @dbus.service.method(MANAGER, in_signature="s")
    def TerminateSession(self, session_id):
        session_id = str(session_id)
        self.record(call="TerminateSession", session=session_id)
        if not os.path.exists(os.path.join(SESSIONS, session_id)):
            raise NoSuchSession(f"No session '{session_id}' known")
        end_session(session_id)

    def known_user(self, uid):
        user_file = os.path.join(USERS, str(uid))
        if not os.path.exists(user_file):
            raise NoSuchUser(f"No user {uid} known or logged in")
        return user_file

    @dbus.service.method(MANAGER, in_signature="u")
    def TerminateUser(self, uid):
        uid = int(uid)
        self.record(call="TerminateUser", uid=uid)
        user_file = self.known_user(uid)
        for session_id in os.listdir(SESSIONS):
            if read_env_file(os.path.join(SESSIONS, session_id)).get("UID") == str(uid):
                end_session(session_id)
        os.unlink(user_file)
        signal_all(processes_of(uid), signal.SIGTERM)

    @dbus.service.method(MANAGER, in_signature="ui")
    def KillUser(self, uid, signo):
        uid = int(uid)
        self.record(call="KillUser", uid=uid, signal=int(signo))
        # The account's slice outlives its user record while processes remain in it.
        if not processes_of(uid):
            raise NoSuchUser(f"No user {uid} known or logged in")
        signal_all(processes_of(uid), int(signo))

    @dbus.service.signal(MANAGER, signature="b")
    def PrepareForSleep(self, start):
        self.record(event="PrepareForSleep", start=bool(start))

    @dbus.service.method(CONTROL, in_signature="b")
    def EmitPrepareForSleep(self, start):
        self.PrepareForSleep(start)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record", required=True)
    parser.add_argument("--ready", required=True)
    args = parser.parse_args()
    serve(dbus.SystemBus, lambda bus: Manager(bus, args.record), BUS_NAME, args.ready)


if __name__ == "__main__":
    main()
