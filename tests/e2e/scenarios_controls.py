"""The administrator's everyday controls with the real daemon: extra minutes for today, and "log out now"."""

import os
import re
import signal
import time

from policies import policy
from registry import scenario
from sandbox import KID, WORK, check, run, wait_until
from scenarios_daemon import new_user_line
from scenarios_enforce import exit_status

SETTINGS = "/home/.Tovik2.stat"


@scenario(seconds=240)
def grant_extra_time(box):
    """kid has 1 minute left and is given 2 more: the grant notice (the default text) shows at once, and the
    logout comes only after 3 minutes of use."""
    box.set_settings(status=1, warntime=0)
    box.install_policy(policy(KID, allowance=3, used=2))
    leader = box.login(KID, "3")
    box.start_daemon()
    log = box.log
    start = log.wait_for(new_user_line("kid", 0, 3, 2), timeout=20)
    said = box.ctl("grant", "kid", "2").decode()
    check(said == "kid may use 5 minutes today (allowance 3, grant +2).\n", f"grant said {said!r}")
    log.wait_for(re.escape("grant - 2 min - allowed 5 min - used today 2 min"), start, timeout=15)
    notice = wait_until(lambda: box.notices(), 10, "the grant notice")[0]
    check(notice["body"] == "kid, you have been given 2 more minutes." and notice["urgency"] == 1,
          f"the grant notice is {notice}")
    logout = log.wait_for(re.escape("logout - allowed 5 min - used today 5 min"), start, timeout=200)
    check(log.count(r"logout - allowed 3 min - .*") == 0, "kid was logged out on the allowance without the grant")
    used = log.seconds_between(start, logout)
    check(used >= 170, f"the logout came {used} s after the first tick, before 3 minutes of use")
    check(exit_status(leader, 30) == -signal.SIGTERM, "kid's session was not ended")


@scenario(seconds=40)
def logout_now(box):
    """`horavelctl logout kid` ends kid's console session within 5 seconds, through logind as a forced logout
    does, with plenty of time left on the allowance."""
    box.set_settings(status=1)
    box.install_policy(policy(KID, allowance=60, used=0))
    leader = box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 0, 60, 0), timeout=20)
    asked = time.monotonic()
    box.ctl("logout", "kid")
    status = exit_status(leader, 5)
    check(status == -signal.SIGTERM, f"kid's session leader was not ended by SIGTERM within 5 s (status {status})")
    check(time.monotonic() - asked < 5, "the session took more than 5 s to end")
    check({"call": "TerminateUser", "uid": KID.uid} in box.logind_records(), "no TerminateUser call for kid")
    log.wait_for(re.escape("logout of kid requested"), timeout=5)
    log.wait_for(re.escape(f"terminate loginwindow pid {leader.pid}"), timeout=5)


def doctor(box):
    result = run([f"{WORK}/bin/horavelctl", "doctor"], capture_output=True, env=box.env(), check=False, timeout=60)
    return result.returncode, result.stdout.decode()


@scenario(seconds=30)
def doctor_checks(box):
    """`horavelctl doctor` finds nothing failing in a healthy sandbox (the one daemon, its pid file, root's
    settings, kid's store entry), and fails on a world-writable settings file, saying that the daemon
    ignores it."""
    box.set_settings(status=1)
    box.install_policy(policy(KID, allowance=60, used=0))
    pid = box.start_daemon()
    status, said = doctor(box)
    check(status == 0 and "fail" not in said, f"doctor exited {status} on a healthy sandbox:\n{said}")
    check(f"ok   daemon: one horaveld running, pid {pid}" in said and "ok   store entry of kid readable" in said,
          f"doctor does not report the daemon and kid's entry as ok:\n{said}")
    os.chmod(SETTINGS, 0o666)
    status, said = doctor(box)
    check(status == 1 and f"fail settings: {SETTINGS} is not root's alone (owner 0, mode 0666), so the daemon "
                          "ignores it" in said, f"doctor exited {status} on a world-writable settings file:\n{said}")
