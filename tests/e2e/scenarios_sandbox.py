"""The sandbox itself: what the scenarios rely on, checked without any Horavel program."""

import ctypes
import json
import os
import pwd
import subprocess
import time

from registry import scenario
from sandbox import INTERFACE, INTERFACE_ADDRESS, KID, PYTHON, check, interface_flags, wait_until

NOTIFY_AS = """
import sys, dbus
bus = dbus.bus.BusConnection(sys.argv[1])
proxy = bus.get_object("org.freedesktop.Notifications", "/org/freedesktop/Notifications")
notices = dbus.Interface(proxy, "org.freedesktop.Notifications")
notice = notices.Notify("probe", 0, "", "summary", "body", [], {"urgency": dbus.Byte(2)}, 1000)
notices.CloseNotification(notice)
"""


def sd_login_view():
    """What sd-login (the library horaveld uses) reports for seat0 and its active session."""
    lib = ctypes.CDLL("libsystemd.so.0")
    libc = ctypes.CDLL(None)
    session = ctypes.c_char_p()
    uid = ctypes.c_uint32()
    seat = lib.sd_seat_get_active(b"seat0", ctypes.byref(session), ctypes.byref(uid))
    if seat < 0:
        return {"error": seat}
    session_id = session.value
    session_class = ctypes.c_char_p()
    class_result = lib.sd_session_get_class(session_id, ctypes.byref(session_class))
    view = {"session": session_id.decode(), "uid": uid.value,
            "class": session_class.value.decode() if class_result >= 0 else class_result}
    for pointer in (session, session_class):
        libc.free(ctypes.cast(pointer, ctypes.c_void_p))
    return view


@scenario(seconds=15, programs=())
def sandbox_selfcheck(box):
    check(pwd.getpwnam("kid").pw_uid == KID.uid, "the private passwd copy does not know kid")
    check(not os.path.exists("/var/run/horavel.pid") and not os.path.exists("/var/log/hvl.log"),
          "the sandbox does not start from empty /run and /var/log")

    leader = box.login(KID, "3")
    view = sd_login_view()
    check(view == {"session": "3", "uid": KID.uid, "class": "user"}, f"sd-login reads the fake seat as {view}")

    flags = interface_flags()
    check("UP" in flags, f"{INTERFACE} is not up: {flags}")
    addresses = subprocess.run(["ip", "-o", "-4", "addr", "show", INTERFACE], capture_output=True, text=True,
                               check=True).stdout
    check(INTERFACE_ADDRESS in addresses, f"{INTERFACE} has no address {INTERFACE_ADDRESS}: {addresses}")

    as_kid = subprocess.run([PYTHON, "-c", NOTIFY_AS, KID.bus_address], user=KID.uid, group=KID.gid,
                            extra_groups=[], env=box.env(KID), capture_output=True, text=True, timeout=20)
    check(as_kid.returncode == 0, f"kid cannot notify on its own session bus: {as_kid.stderr}")
    notices = box.notices(KID)
    check(len(notices) == 1 and notices[0]["urgency"] == 2 and notices[0]["timeout"] == 1000
          and notices[0]["uid"] == KID.uid and notices[0]["summary"] == "summary",
          f"the notification server recorded {notices}")
    check(box.closed_notices(KID) == [notices[0]["id"]], "the close of the notice was not recorded")
    as_root = subprocess.run([PYTHON, "-c", NOTIFY_AS, KID.bus_address], env=box.env(), capture_output=True,
                             text=True, timeout=20)
    check(as_root.returncode == 0 and box.notices(KID)[-1]["uid"] == 0,
          "a notice from root is not told apart from one sent as kid; notices would not prove the uid drop")

    inhibit = subprocess.run([PYTHON, "-c", INHIBIT_AND_RELEASE], capture_output=True, text=True, timeout=20)
    check(inhibit.returncode == 0 and inhibit.stdout.strip() == "pipe",
          f"Inhibit did not hand out a pipe: {inhibit.stdout} {inhibit.stderr}")
    wait_until(lambda: {"event": "released", "lock": 1} in box.logind_records(), 10, "the lock's release")

    subprocess.run(["dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.login1",
                    "/org/freedesktop/login1", "org.freedesktop.login1.Manager.TerminateSession", "string:3"],
                   check=True, stdout=subprocess.DEVNULL, timeout=10)
    check({"call": "TerminateSession", "session": "3"} in box.logind_records(), "TerminateSession not recorded")
    view = sd_login_view()
    check(view.get("error", 0) < 0, f"the terminated session is still active at the console: {view}")
    check(leader.poll() is None, "the fake logind killed the leader without being asked to")
    start = time.monotonic()
    box.teardown()
    check(time.monotonic() - start < 10, "the sandbox's helpers did not stop promptly")


INHIBIT_AND_RELEASE = """
import os, stat, dbus
bus = dbus.SystemBus()
manager = dbus.Interface(bus.get_object("org.freedesktop.login1", "/org/freedesktop/login1"),
                         "org.freedesktop.login1.Manager")
fd = manager.Inhibit("sleep", "probe", "checking", "delay").take()
print("pipe" if stat.S_ISFIFO(os.fstat(fd).st_mode) else "not a pipe")
os.close(fd)
"""


# What a command run by the daemon (the account's script, ifconfig, kill) may and may not do under the unit.
SCRIPT_PROBE = """
import ctypes, json, os, socket, subprocess
libc = ctypes.CDLL(None, use_errno=True)
results = {}
def attempt(name, action):
    try:
        action()
        results[name] = "done"
    except OSError as error:
        results[name] = os.strerror(error.errno)
    except subprocess.CalledProcessError:
        results[name] = "refused"
def unshare_mounts():
    if libc.unshare(0x00020000) != 0:
        raise OSError(ctypes.get_errno(), "unshare")
def touch(path):
    with open(path, "w") as f:
        f.write("x")
attempt("write /home", lambda: touch("/home/kid/probe"))
attempt("write /var/lib/horavel", lambda: touch("/var/lib/horavel/probe"))
attempt("write /etc", lambda: touch("/etc/probe"))
attempt("write /usr", lambda: touch("/usr/probe"))
attempt("chown in /home", lambda: os.chown("/home/kid/probe", 4201, 4201))
attempt("inet socket", lambda: socket.socket(socket.AF_INET, socket.SOCK_DGRAM).close())
attempt("inet6 socket", lambda: socket.socket(socket.AF_INET6, socket.SOCK_DGRAM).close())
attempt("packet socket", lambda: socket.socket(socket.AF_PACKET, socket.SOCK_RAW).close())
attempt("namespace", unshare_mounts)
attempt("mount", lambda: subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/mnt"], check=True,
                                         stderr=subprocess.DEVNULL))
with open("/proc/self/status") as f:
    results["no new privileges"] = [l.split()[1] for l in f if l.startswith("NoNewPrivs")][0]
print(json.dumps(results))
"""


@scenario(seconds=10, programs=())
def unit_confinement(box):
    """A command run under the daemon's unit, as the account's script is: it writes the homes and the store,
    keeps the owners it sets, and cannot write the system, open other socket families, make namespaces, mount
    or gain privileges. (The mount would land in the command's own mount namespace.)"""
    probe = subprocess.run(box.daemon_command()[:-1] + [PYTHON, "-c", SCRIPT_PROBE], capture_output=True, text=True,
                           timeout=30)
    check(probe.returncode == 0, f"the probe failed under the unit: {probe.stderr}")
    results = json.loads(probe.stdout)
    expected = {"write /home": "done", "write /var/lib/horavel": "done", "write /etc": "Read-only file system",
                "write /usr": "Read-only file system", "chown in /home": "done", "inet socket": "done",
                "inet6 socket": "Address family not supported by protocol",
                "packet socket": "Address family not supported by protocol", "namespace": "Operation not permitted",
                "no new privileges": "1"}
    check({name: results[name] for name in expected} == expected, f"under the unit: {results}")
    check(results["mount"] == "refused", f"a mount succeeded under the unit: {results}")
