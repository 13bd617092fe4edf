"""The README's "first child account" commands, run as written: its settings and its example policy
(packaging/examples/kid-policy.json, shown in the README) through horavelctl, then the daemon."""

import datetime
import os

from registry import scenario
from sandbox import HERE, KID, WORK, check, hhmm, interface_flags, midday_zone, minute_of_day, wait_until
from scenarios_daemon import new_user_line

# Read now: inside the sandbox a source tree below /home is hidden by the tmpfs.
with open(os.path.join(HERE, "..", "..", "packaging", "examples", "kid-policy.json"), encoding="utf-8") as f:
    EXAMPLE = f.read()

RANGE_MESSAGE = "The computer can be used from %sr to %er."


@scenario(seconds=45)
def readme_example(box):
    # Run at noon wherever it is run: outside 07:00-20:30 kid would be logged out before anything else is seen.
    midday_zone()
    box.set_settings(status=1, warntime=5, showremain=1, keeplimit=1, netmon=1, appmon=1,
                     warnmsg="%u, you have %m minutes left.",
                     logoutmsg="Time is up for today, %u. You are being logged out.",
                     rangemsg=RANGE_MESSAGE)
    path = f"{WORK}/kid-policy.json"
    with open(path, "w", encoding="utf-8") as f:
        f.write(EXAMPLE)
    box.ctl("policy", "set", "kid", path)
    shown = box.ctl("policy", "show", "kid").decode()
    for rule in ("07:00-20:30", "16:00-19:00", "supertuxkart"):
        check(rule in shown, f"`horavelctl policy show kid` does not show {rule}:\n{shown}")

    box.login(KID, "3")
    pid = box.start_daemon()
    allowed = 120 if datetime.date.today().weekday() >= 5 else 60
    box.log.wait_for(new_user_line("kid", 5, allowed, 0), timeout=40)
    status = box.ctl("status").decode()
    check(str(pid) in status and "kid" in status, f"`horavelctl status` does not name the daemon and kid:\n{status}")

    now = minute_of_day()
    if now not in (959, 960, 1139, 1140):
        said = ("network until " if 960 <= now < 1140
                else "network off until 16:00" if now < 960 else "network off for the rest of the day")
        wait_until(lambda: said in box.ctl("status").decode(), 10,
                   f"`horavelctl status` to say {said!r} at {hhmm(now)} with 16:00-19:00")
        check("UP" in interface_flags(), "the default method (the firewall) switched the interface off")
    check(box.notices() == [], f"inside 07:00-20:30 the child got {box.notices()}")
