"""The settings application's window (settings_service_test, Qt Test on the offscreen platform) run by the
parent against the real horavel-admind and the real daemon; horavelctl then says what the window did."""

import json
import os
import re
import subprocess

from registry import scenario
from sandbox import HERE, KID, PAT, WORK, check, run
from scenarios_admin import ADMIN_PROGRAMS, AdminService, ctl_error, store_bytes

EXAMPLE_POLICY = os.path.join(HERE, "..", "..", "packaging", "examples", "kid-policy.json")
DAYS = ("mon", "tue", "wed", "thu", "fri", "sat", "sun")
GROUPS = {"all": DAYS, "weekdays": DAYS[:5], "weekend": DAYS[5:], **{day: (day,) for day in DAYS}}


def per_day(ranges):
    """A policy's list of {"day", "start", "end"} as each day's sorted (start, end) pairs."""
    days = {day: [] for day in DAYS}
    for item in ranges:
        for day in GROUPS[item["day"]]:
            days[day].append((item["start"], item["end"]))
    return {day: sorted(spans) for day, spans in days.items()}


def window_test(box, *functions, expected_refusal=""):
    """Runs the window's test functions as the parent (pat) on the sandbox's system bus."""
    env = {**box.env(PAT), "QT_QPA_PLATFORM": "offscreen", "HORAVEL_EXPECTED_REFUSAL": expected_refusal}
    with open(f"{WORK}/window.out", "w+b") as out:
        try:
            result = run([f"{WORK}/bin/settings_service_test", *functions], env=env, user=PAT.uid, group=PAT.gid,
                         extra_groups=[], cwd=PAT.home, stdin=subprocess.DEVNULL, stdout=out, stderr=out, check=False,
                         timeout=110)
        finally:
            out.seek(0)
            print(out.read().decode(errors="replace"), end="")
    check(result.returncode == 0, f"the window's test {' '.join(functions)} failed ({result.returncode})")


@scenario(seconds=15, programs=ADMIN_PROGRAMS + ("settings_service_test",))
def settings_window(box):
    """Allowed by polkit, the window's painted hours are what `policy show` prints and the daemon loads, its +15
    is the day's grant, and a bad notice text is refused with horavelctl's own line (without the command's
    name) shown; refused by polkit, the window shows the refusal and nothing changes."""
    box.set_settings(status=1, warntime=5)
    with open(EXAMPLE_POLICY, "rb") as f:
        box.ctl("policy", "set", "kid", "-", stdin=f.read())
    box.login(KID, "3")
    box.start_daemon()
    box.log.wait_for("data loaded for kid", timeout=20)
    admin = AdminService(box, idle_seconds=60)
    admin.answer("yes")

    bad_text = "Only %m minutes left, %q"
    line = ctl_error(box, "settings", "set", f"warnmsg={bad_text}")
    prefix = "horavelctl settings: "
    check(line.startswith(prefix + "warnmsg: "), f"horavelctl refuses the notice text with {line!r}")
    settings_before = box.ctl("settings", "show")
    mark = len(box.log.messages())
    window_test(box, "paintedHoursAreSaved", "plusFifteenGrants", "badNoticeTextIsRefused",
                expected_refusal=line[len(prefix):])

    shown = json.loads(box.ctl("policy", "show", "kid", "--json"))
    normal, evening, later = ("07:00", "20:30"), ("16:00", "19:00"), ("17:00", "19:00")
    check(per_day(shown["ranges"]) == {**{day: [normal] for day in DAYS}, "sat": [normal, ("21:00", "22:30")]},
          f"policy show prints the time ranges {shown['ranges']} after Saturday 21:00-22:30 was painted")
    check(per_day(shown["network"]) == {**{day: [evening] for day in DAYS}, "mon": [later], "tue": [later]},
          f"policy show prints the network ranges {shown['network']} after Monday and Tuesday 16-17 were taken")
    box.log.wait_for("data loaded for kid", mark, timeout=10)
    box.log.wait_for(r"grant - 15 min - allowed \d+ min - used today \d+ min", mark, timeout=10)
    grant = box.ctl("grant", "kid", "--show").decode()
    match = re.fullmatch(r"kid may use (\d+) minutes today \(allowance (\d+), grant \+15\)\.\n", grant)
    check(match is not None and int(match[1]) == int(match[2]) + 15, f"grant --show says {grant!r} after +15")
    check(box.ctl("settings", "show") == settings_before,
          "the refused notice text changed the settings")

    admin.answer("no")
    before = store_bytes()
    asked = len(admin.polkit_records())
    window_test(box, "polkitRefusalIsShown")
    check(store_bytes() == before, "a change polkit refused changed the store or the settings")
    refused = admin.polkit_records()[asked:]
    check(len(refused) >= 3 and not any(r["authorized"] for r in refused),
          f"polkit was not asked about the list, the settings and the change: {refused}")
