"""The child owns its home directory and so the copy of its policy kept there. A managed account's policy
and the day's counts live in the root-held store: nothing the child does to its copy (delete it, stash and
restore it, replace it with a generous one, leave no room for a new one) lifts a limit or gives a minute
back."""

import calendar
import datetime
import json
import os
import re
import signal
import subprocess
import time

from policies import policy
from registry import scenario
from sandbox import KID, PROGRAMS, PYTHON, STORE, WORK, check, hold, read_channel, wait_until
from scenarios_daemon import new_user_line

STORE_ENTRY = f"{STORE}/policies/kid.horavel"
STASH = f"{KID.home}/.stash"
GENEROUS = "/tmp/generous.horavel"

# Creates empty files as the child until the file system has no inode left; prints how many.
EXHAUST_INODES = """
import errno, os
n = 0
while True:
    try:
        os.close(os.open(f"{HOME}/.fill-{n}", os.O_CREAT | os.O_WRONLY, 0o600))
    except OSError as e:
        assert e.errno == errno.ENOSPC, e
        break
    n += 1
print(n)
"""


def as_kid(box, code):
    result = subprocess.run([PYTHON, "-c", code.replace("{HOME}", KID.home)], user=KID.uid, group=KID.gid,
                            extra_groups=[], env=box.env(KID), capture_output=True, text=True, timeout=60)
    check(result.returncode == 0, f"the child's command failed: {result.stderr}")
    return result.stdout


def stored_usage(box):
    return json.loads(box.ctl("decode", STORE_ENTRY))[0]["usage"]


def relogin(box, mark):
    """The child steps to the login screen and back, so the daemon loads its policy afresh; returns the
    first-tick line of the new load."""
    box.switch_console(None)
    box.log.wait_for("data loaded for \\(null\\)", mark, timeout=15)
    box.switch_console("3")
    return box.log.wait_for(r"new user : kid - .*", mark, timeout=15)


@scenario(seconds=120)
def store_holds(box):
    """With no room left in /home the store still counts the minute; then the child restores a stashed
    older copy, deletes its copy, and writes itself a day's allowance: each new load has the store's
    allowance and today's minutes."""
    box.set_settings(status=1)
    box.install_policy(policy(KID, allowance=30, used=4))
    check(os.stat(STORE_ENTRY).st_mode & 0o777 == 0o600, "the store entry is not root's alone")
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 0, 30, 4), timeout=20)

    as_kid(box, f"import os; os.rename('{KID.policy_path}', '{STASH}')")
    subprocess.run(["mount", "-o", "remount,nr_inodes=400", "/home"], check=True)
    filled = int(as_kid(box, EXHAUST_INODES))
    check(filled > 0, "the child could not use up the inodes of /home")
    wait_until(lambda: stored_usage(box) == 5, 80, "the counted minute to reach the store")
    copy_failed = f"policy of kid could not be copied to {re.escape(KID.policy_path)}"
    check(log.count(copy_failed) == 1, "the failed copy into the full home is not logged exactly once")
    as_kid(box, "import glob, os\nfor f in glob.glob('{HOME}/.fill-*'): os.unlink(f)")

    attacks = (
        ("restored its stashed copy", f"import os; os.replace('{STASH}', '{KID.policy_path}')"),
        ("deleted its copy", f"import os; os.unlink('{KID.policy_path}')"),
    )
    # Any account may run horavelctl encode: the child makes itself a policy of a whole day.
    generous = box.ctl("encode", "--keyed", "-", stdin=json.dumps(policy(KID, allowance=1440)).encode())
    with open(GENEROUS, "wb") as f:
        f.write(generous)
    os.chmod(GENEROUS, 0o644)
    attacks += (("wrote itself a whole day", f"import shutil; shutil.copyfile('{GENEROUS}', '{KID.policy_path}')"),)
    for what, code in attacks:
        as_kid(box, code)
        line = relogin(box, len(log.messages()))
        found = re.fullmatch(r"new user : kid - warn : 0 - allowed : (\d+) min - used (\d+) min",
                             log.messages()[line])
        check(found and int(found.group(1)) == 30 and int(found.group(2)) >= 5,
              f"after the child {what}, the daemon loaded {log.messages()[line]!r}")
    check(box.daemon_alive(), "the daemon stopped")


@scenario(seconds=25)
def store_fallback(box):
    """A store entry that cannot be decoded gives way to its previous good copy, with one line saying so;
    the child's copy in its home is not read."""
    box.set_settings(status=1)
    box.install_policy(policy(KID, allowance=40, used=2))
    box.install_policy(policy(KID, allowance=50, used=3))
    with open(STORE_ENTRY, "wb") as f:
        f.write(b"not a policy")
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 0, 40, 2), timeout=20)
    check(log.find(rf"policy store entry {re.escape(STORE_ENTRY)} is no policy: .*; its previous copy is used")
          is not None, "nothing says the store entry gave way to its previous copy")
    shown = box.ctl("policy", "show", "kid").decode()
    check("previous copy" in shown, f"policy show does not say the previous copy serves:\n{shown}")
    mark = len(log.messages())
    box.signal_daemon(signal.SIGHUP)
    log.wait_for(new_user_line("kid", 0, 40, 2), mark, timeout=15)


# A zone whose daylight saving ends at 01:00, back to 00:00: on 2026-11-01 the hour from 00:00 comes twice.
REPEATED_MIDNIGHT_ZONE = "EST5EDT,M3.2.0,M11.1.0/1"


@scenario(seconds=75, programs=PROGRAMS + ("clock_shift",))
def clock_steps(box):
    """The daemon's wall clock (shifted by a preloaded library while it runs) is stepped back a day and
    forward again, then put into the second 00:00 hour of a night where daylight saving ends: today's
    usage stays, and so does the time left."""
    shift_file = f"{WORK}/clock-shift"

    def set_clock(utc_moment):
        with open(shift_file, "w", encoding="ascii") as f:
            f.write(f"{utc_moment - time.time():.0f}\n")

    first_midnight = calendar.timegm((2026, 11, 1, 4, 0, 0))  # 00:00 EDT, the first of the two
    set_clock(first_midnight + 30)
    records = policy(KID, allowance=60, used=20)
    records[0]["date"] = {"$date": datetime.datetime.fromtimestamp(first_midnight + 20, datetime.timezone.utc)
                          .isoformat(timespec="seconds")}
    box.set_settings(status=1, showremain=1)
    box.install_policy(records)
    box.login(KID, "3")
    asan = os.environ.get("ASAN_OPTIONS", "")
    box.start_daemon({"TZ": REPEATED_MIDNIGHT_ZONE, "LD_PRELOAD": f"{WORK}/bin/clock_shift",
                      "HORAVEL_CLOCK_SHIFT_FILE": shift_file,
                      "ASAN_OPTIONS": f"{asan}:verify_asan_link_order=0".lstrip(":")})
    box.log.wait_for(new_user_line("kid", 0, 60, 20), timeout=20)
    wait_until(lambda: (read_channel() or (0,))[0] == 40, 10, "40 minutes left on the channel")

    def unchanged(what):
        hold(lambda: read_channel()[0] in (39, 40) and stored_usage(box) >= 20, 12,
             f"today's usage changed when the clock {what}: record {read_channel()}, stored {stored_usage(box)}")

    set_clock(first_midnight + 45 - 86400)
    unchanged("was stepped back a day")
    set_clock(first_midnight + 60)
    unchanged("was stepped forward again")
    set_clock(first_midnight + 3600 + 5)  # 00:00:05 EST, the second time that hour comes
    unchanged("came to the repeated midnight hour")
