"""The monitors on real resources: time ranges, network ranges on a veth interface, watched applications
as real processes, and a sleep and wake through logind's PrepareForSleep."""

import os
import re
import shutil
import signal
import subprocess
import time

from policies import policy
from registry import scenario
from sandbox import (INTERFACE, INTERFACE_ADDRESS, KID, PYTHON, WORK, check, hhmm, hold, interface_flags,
                     minute_of_day, read_channel, wait_until)
from scenarios_daemon import new_user_line

ANY_NEW_USER = r"new user : kid - .*"


def range_around_now(before, after):
    """A range holding the current minute, kept within the day."""
    now = minute_of_day()
    return max(0, now - before), min(1439, now + after)


def range_after_now():
    """A range that does not hold the current minute (nor the next few)."""
    now = minute_of_day()
    return (now + 10, now + 20) if now + 20 <= 1439 else (1, now - 10)


@scenario(seconds=40)
def time_range(box):
    """Inside a range that ends soon: the warning with the minutes left, kept open with "notimeout".
    Outside every range: the range notice naming the range (closing after its second), 15 s, and the
    session ended."""
    box.set_settings(status=1, warntime=5, showremain=1, keeplimit=0, notimeout=1,
                     warnmsg="%u: %m minutes left in this range", rangemsg="Computer time is %sr to %er")
    inside = range_around_now(30, 3)
    box.install_policy(policy(KID, allowance=0, time_ranges=[inside]))
    leader = box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 5, 0, 0), timeout=20)
    warning = wait_until(lambda: box.notices(), 10, "the range warning")[0]
    match = re.fullmatch(r"kid: (\d+) minutes left in this range", warning["body"])
    check(match and int(match.group(1)) in (inside[1] - minute_of_day(), inside[1] - minute_of_day() + 1)
          and warning["urgency"] == 1 and warning["timeout"] == 0,
          f"the range warning is {warning} for a range ending {hhmm(inside[1])} (with notimeout 1 it stays)")
    wait_until(lambda: (r := read_channel()) and r.warn == 1 and r.rmin in (2, 3), 10,
               "the channel to show the warning and the minutes to the range's end")

    outside = range_after_now()
    mark = len(log.messages())
    box.install_policy(policy(KID, allowance=0, time_ranges=[outside]))
    loaded = log.wait_for("data loaded for kid", mark, timeout=10)
    notice = wait_until(lambda: box.notices()[1:], 10, "the range notice")[0]
    check(notice["body"] == f"Computer time is {hhmm(outside[0])} to {hhmm(outside[1])}"
          and notice["urgency"] == 2 and notice["timeout"] == 1000, f"the range notice is {notice}")
    check(warning["id"] not in box.closed_notices(), "a warning meant to stay until dismissed was closed")
    # The range check comes before the first tick's log line, so the logout precedes that line.
    terminate = log.wait_for(re.escape(f"terminate loginwindow pid {leader.pid}"), loaded, timeout=30)
    check(log.wait_for(ANY_NEW_USER, loaded, timeout=10) > terminate, "the first tick went on before the logout")
    check(log.seconds_between(loaded, terminate) >= 15, "the logout came less than 15 s after the notice")
    wait_until(lambda: {"call": "TerminateUser", "uid": KID.uid} in box.logind_records(), 10,
               f"TerminateUser of {KID.uid}")


@scenario(seconds=35)
def network_range(box):
    """With netmethod "interface", outside the network range the interface goes down, and stays down on
    every tick; inside a new range it comes back up, and the channel shows the network minutes left."""
    box.set_settings(status=1, netmon=1, showremain=1, netmethod="interface")
    closed = range_after_now()
    box.install_policy(policy(KID, allowance=0, net_ranges=[closed]))
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(re.escape(f"monitor {INTERFACE} / {INTERFACE_ADDRESS}"), timeout=20)
    log.wait_for(new_user_line("kid", 0, 0, 0), timeout=10)
    wait_until(lambda: "UP" not in interface_flags(), 10, f"{INTERFACE} to go down")
    wait_until(lambda: (r := read_channel()) and r.nmin == -2, 10, "network off (-2) on the channel")

    subprocess.run(["ip", "link", "set", INTERFACE, "up"], check=True)
    wait_until(lambda: "UP" not in interface_flags(), 12, f"{INTERFACE} to be taken down again by a tick")

    opened = range_around_now(10, 30)
    mark = len(log.messages())
    box.install_policy(policy(KID, allowance=0, net_ranges=[opened]))
    log.wait_for(new_user_line("kid", 0, 0, 0), mark, timeout=10)
    wait_until(lambda: "UP" in interface_flags(), 10, f"{INTERFACE} to come back up")
    record = wait_until(lambda: (r := read_channel()) and r.nmin >= 0 and r, 10, "network minutes on the channel")
    left = opened[1] - minute_of_day()
    check(record.nmin in (left, left + 1), f"{left} network minutes expected, the channel has {record.nmin}")
    hold(lambda: "UP" in interface_flags(), 7, f"{INTERFACE} went down inside the network range")


def start_as(box, program, user=None):
    """Starts a long sleep whose command name is program: the process an application would be."""
    path = f"{WORK}/bin/{program}"
    if not os.path.exists(path):
        shutil.copy2("/bin/sleep", path)
    return box.spawn([path, "1000"], user=user)


def app_minutes(box):
    return {r["user"]: r["usage"] for r in box.policy(KID) if r["mode"] == "App"}


@scenario(seconds=85)
def app_limit(box):
    """A watched application whose minutes are used up is ended on the next tick when it runs as the
    console user; a root process of the same name, and a watched application with minutes left, keep
    running; the running one is counted in the application minute."""
    box.set_settings(status=1, appmon=1, warntime=5, appmsg="%a: %l minutes left")
    box.install_policy(policy(KID, allowance=0, apps=[("hvgame.app", 2, 2), ("hvpaint.app", 30, 0),
                                                       ("hvidle.app", 30, 0)]))
    root_game = start_as(box, "hvgame")
    kid_game = start_as(box, "hvgame", KID)
    kid_paint = start_as(box, "hvpaint", KID)
    box.login(KID, "3")
    box.start_daemon()
    box.log.wait_for(new_user_line("kid", 5, 0, 0), timeout=20)

    try:
        status = kid_game.wait(timeout=85)
    except subprocess.TimeoutExpired:
        status = None
    check(status == -signal.SIGTERM, f"kid's hvgame was not ended by SIGTERM (status {status})")
    expected = {"hvgame.app": 2, "hvpaint.app": 1, "hvidle.app": 0}
    wait_until(lambda: app_minutes(box) == expected, 80,
               f"application minutes {expected} in the policy file (last read {app_minutes(box)})")
    check(root_game.poll() is None, "root's process of the same name was killed")
    check(kid_paint.poll() is None, "an application with minutes left was killed")
    check(box.notices() == [], f"no application warning was due, yet: {box.notices()}")


# Sent by the child both as a broadcast and addressed to each of the daemon's connections (a signal with
# a destination reaches it whatever its match rules say).
FORGED_SLEEP = """
import sys, dbus, dbus.lowlevel
bus = dbus.SystemBus()
driver = dbus.Interface(bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus"), "org.freedesktop.DBus")
daemon = [n for n in driver.ListNames() if n.startswith(":")
          and driver.GetConnectionUnixProcessID(n) == int(sys.argv[1])]
assert daemon, "the daemon has no connection on the system bus"
for destination in [None] + daemon:
    for start in (True, False):
        signal = dbus.lowlevel.SignalMessage("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                             "PrepareForSleep")
        if destination:
            signal.set_destination(destination)
        signal.append(start, signature="b")
        bus.send_message(signal)
bus.flush()
"""


@scenario(seconds=40)
def sleep_wake(box):
    """logind's PrepareForSleep: the delay lock is released for the sleep and taken again on wake, "sleep"
    and "wake up" are logged, and with "tracksleep" the time asleep is charged to the seconds counter."""
    box.set_settings(status=1, tracksleep=1, showremain=1)
    box.install_policy(policy(KID, allowance=30, used=0))
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 0, 30, 0), timeout=20)
    inhibits = [r for r in box.logind_records() if r.get("call") == "Inhibit"]
    check(len(inhibits) == 1 and inhibits[0]["what"] == "sleep" and inhibits[0]["mode"] == "delay",
          f"the daemon did not take one sleep delay lock: {inhibits}")
    seen = wait_until(lambda: (r := read_channel()) and r.rsec > 0 and r, 12, "a counted tick")
    check(seen.rsec % 5 == 0, f"ticks count 5 s each, the record reads {seen}")

    # The child can put a signal of the same name on the system bus; only logind's own counts.
    mark = len(log.messages())
    forged = subprocess.run([PYTHON, "-c", FORGED_SLEEP, str(box.daemon_pid)], user=KID.uid, group=KID.gid, extra_groups=[],
                            env=box.env(KID), capture_output=True, text=True, timeout=20)
    check(forged.returncode == 0, f"the child could not send its signal: {forged.stderr}")
    hold(lambda: log.find("sleep", mark) is None, 6, "a PrepareForSleep sent by the child was taken as a sleep")

    box.emit_prepare_for_sleep(True)
    slept = log.wait_for("sleep", mark, timeout=10)
    wait_until(lambda: {"event": "released", "lock": 1} in box.logind_records(), 10,
               "the delay lock released so the sleep can go ahead")
    time.sleep(2.5)
    box.emit_prepare_for_sleep(False)
    log.wait_for("wake up", slept, timeout=10)
    wait_until(lambda: any(r.get("call") == "Inhibit" and r["lock"] == 2 for r in box.logind_records()), 10,
               "the delay lock taken again after the wake")
    charged = wait_until(lambda: (r := read_channel()) and r.rsec % 5 != 0 and r, 12, "the sleep to be charged")
    check(56 <= charged.rsec <= 59 and charged.rmin == 29,
          f"a 2.5 s sleep should leave 29:5x (2 or 3 s charged), the record reads {charged}")
