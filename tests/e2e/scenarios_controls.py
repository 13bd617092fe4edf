"""The administrator's everyday controls with the real daemon: extra minutes for today, "log out now", and
the week's history."""

import datetime
import json
import os
import re
import signal
import time

import unit_sandbox
from policies import policy
from registry import scenario
from sandbox import KID, PROGRAMS, STORE, WORK, check, guard_midnight, run, wait_until
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


# Days back from today, with kid's minutes and game minutes of that day; 3 days back kid is not at the computer.
WEEK = {6: (12, 5), 5: (30, 0), 4: (57, 20), 2: (8, 8), 1: (41, 15), 0: (3, 1)}


@scenario(seconds=60, programs=PROGRAMS + ("clock_shift",))
def history_week(box):
    """A week of history through the daemon's own saves: the daemon runs under a wall clock stepped a day at a
    time, each day kid's policy comes with that day's minutes and game minutes, and `horavelctl history kid
    --days 7 --json` gives every day's minutes, allowance and application minutes, the warning of the day kid
    came within 5 minutes of the allowance, today's grant, and the week's total; the text form ends with it."""
    guard_midnight(60)
    shift_file = f"{WORK}/clock-shift"
    now = datetime.datetime.now()

    def step_to(days_back):
        """The daemon's clock: this time of day, days_back days ago (local time, so a change of daylight
        saving in between moves nothing); returns that moment."""
        moment = (now - datetime.timedelta(days=days_back)).astimezone()
        with open(shift_file, "w", encoding="ascii") as f:
            f.write(f"{moment.timestamp() - time.time():.0f}\n")
        return moment

    journal = f"{STORE}/history.journal"

    def journal_lines():
        try:
            with open(journal, encoding="utf-8") as f:
                return [json.loads(line) for line in f.read().split("\n") if line]
        except FileNotFoundError:
            return []

    def stored_day(day):
        """kid's minutes of the day as the daemon's last save in its journal has them (the daemon links no
        database; nothing folds the journal before the grant below)."""
        found = None
        for line in journal_lines()[1:]:
            for saved in line["days"]:
                if saved["acct"] == "kid" and saved["day"] == int(day.strftime("%Y%m%d")) and "used" in saved:
                    found = (saved["used"],)
        return found

    box.set_settings(status=1, warntime=5)
    first = True
    for days_back, (used, game) in WEEK.items():
        moment = step_to(days_back)
        stamp = {"$date": (moment - datetime.timedelta(minutes=1)).isoformat(timespec="seconds")}
        records = policy(KID, allowance=60, used=used, apps=[("game.app", 30, game)])
        for record in records:
            record["date"] = stamp
        box.install_policy(records)
        if first:
            box.login(KID, "3")
            asan = os.environ.get("ASAN_OPTIONS", "")
            box.start_daemon({"LD_PRELOAD": f"{WORK}/bin/clock_shift", "HORAVEL_CLOCK_SHIFT_FILE": shift_file,
                              "ASAN_OPTIONS": f"{asan}:verify_asan_link_order=0".lstrip(":")})
            first = False
        wait_until(lambda: stored_day(moment) == (used,), 15, f"the day {days_back} days back in the history")
    check(not os.path.exists(f"{STORE}/history.sqlite"), "the daemon made a history database")
    # The daily fold, under its unit's sandbox: the week goes into the database.
    fold = run(unit_sandbox.command(f"{WORK}/unit_sandbox.py", f"{WORK}/horavel-history-fold.service",
                                    [f"{WORK}/bin/horavelctl", "history", "--fold"]),
               capture_output=True, env=box.daemon_env(), check=False, timeout=60)
    said = fold.stdout.decode()
    check(fold.returncode == 0 and re.fullmatch(rf"Folded [1-9]\d* saves of the daemon into {STORE}/history.sqlite\n", said),
          f"the fold under its unit exited {fold.returncode}: {said!r} {fold.stderr.decode(errors='replace')!r}")
    said = box.ctl("grant", "kid", "5").decode()
    check("grant +5" in said, f"grant said {said!r}")

    # The fold empties the journal; a save the daemon makes right after starts it again with a new id.
    before = (journal_lines() or [{}])[0].get("journal")
    history = json.loads(box.ctl("history", "kid", "--days", "7", "--json"))
    after = journal_lines()
    check(os.path.exists(journal) and (not after or after[0]["journal"] != before),
          f"the journal was not emptied by horavelctl history: {after}")
    check(os.stat(journal).st_mode & 0o7777 == 0o600, "the journal is not root's alone")
    print(json.dumps(history, indent=1))
    check(history["user"] == "kid" and len(history["days"]) == 7, f"not kid's 7 days: {history}")
    for index, day in enumerate(history["days"]):
        days_back = 6 - index
        date = (now - datetime.timedelta(days=days_back)).strftime("%Y-%m-%d")
        used, game = WEEK.get(days_back, (0, 0))
        check(day["date"] == date and day["used"] == used and day["allowance"] == 60,
              f"{days_back} days back should be {date} with {used} of 60 minutes: {day}")
        check(day["apps"] == ({"game.app": game} if game else {}), f"{date}: game minutes {day['apps']}, not {game}")
        kinds = [(event["kind"], event["detail"]) for event in day["events"]]
        expected = {4: [("warning", "")], 0: [("grant", "5")]}.get(days_back, [])
        check(kinds == expected, f"{date}: events {kinds}, not {expected}")
        check(day["granted"] == (5 if days_back == 0 else 0), f"{date}: granted {day['granted']}")
    total = sum(used for used, _ in WEEK.values())
    check(history["total"] == total, f"the week's total is {history['total']}, not {total}")
    text = box.ctl("history", "kid").decode()
    check(text.endswith(f"Total of the last 7 days: {total} min\n") and "game 20 min" in text,
          f"the history as text:\n{text}")
