"""The settings application's window (settings_service_test, Qt Test on the offscreen platform) run by the
parent against the real horavel-admind and the real daemon; horavelctl then says what the window did."""

import datetime
import json
import os
import re
import shutil
import sqlite3
import struct
import subprocess

from policies import policy
from registry import scenario
from sandbox import HERE, KID, PAT, STORE, WORK, check, midday_zone, run, wait_until
from scenarios_admin import ADMIN_PROGRAMS, SYSTEM_BUS, AdminService, ctl_error, store_bytes

# Read now: the sandbox covers /tmp, where a source tree may lie.
with open(os.path.join(HERE, "..", "..", "packaging", "examples", "kid-policy.json"), "rb") as example:
    EXAMPLE_POLICY = example.read()
# kid's last two weeks for the History picture, oldest first: minutes used, supertuxkart's minutes.
PAST_DAYS = ((48, 25), (60, 30), (35, 20), (52, 30), (120, 60), (95, 45), (40, 10),
             (55, 30), (60, 30), (20, 5), (45, 25), (58, 30), (110, 60), (75, 40))
DAYS = ("mon", "tue", "wed", "thu", "fri", "sat", "sun")
GROUPS = {"all": DAYS, "weekdays": DAYS[:5], "weekend": DAYS[5:], **{day: (day,) for day in DAYS}}


def per_day(ranges):
    """A policy's list of {"day", "start", "end"} as each day's sorted (start, end) pairs."""
    days = {day: [] for day in DAYS}
    for item in ranges:
        for day in GROUPS[item["day"]]:
            days[day].append((item["start"], item["end"]))
    return {day: sorted(spans) for day, spans in days.items()}


def as_parent(box, argv, extra_env):
    """Runs argv as the parent (pat), printing what it said; its exit status."""
    with open(f"{WORK}/window.out", "w+b") as out:
        try:
            result = run(argv, env={**box.env(PAT), **extra_env}, user=PAT.uid, group=PAT.gid, extra_groups=[],
                         cwd=PAT.home, stdin=subprocess.DEVNULL, stdout=out, stderr=out, check=False, timeout=110)
        finally:
            out.seek(0)
            print(out.read().decode(errors="replace"), end="")
    return result.returncode


def window_test(box, *functions, expected_refusal=""):
    """Runs the window's test functions on the sandbox's system bus."""
    status = as_parent(box, [f"{WORK}/bin/settings_service_test", *functions],
                       {"QT_QPA_PLATFORM": "offscreen", "HORAVEL_EXPECTED_REFUSAL": expected_refusal})
    check(status == 0, f"the window's test {' '.join(functions)} failed ({status})")


def png_size(path):
    """(width, height) of a PNG file, None when it is not one."""
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


@scenario(seconds=15, programs=ADMIN_PROGRAMS + ("settings_service_test",))
def settings_window(box):
    """Allowed by polkit, the window's painted hours are what `policy show` prints and the daemon loads, its +15
    is the day's grant, and a bad notice text is refused with horavelctl's own line (without the command's
    name) shown; refused by polkit, the window shows the refusal and nothing changes."""
    midday_zone()  # the example policy allows 07:00-20:30 only
    box.set_settings(status=1, warntime=5)
    box.ctl("policy", "set", "kid", "-", stdin=EXAMPLE_POLICY)
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


def seed_history(box):
    """Puts PAST_DAYS before today into the history the daemon keeps, as its saves would have written them, once
    the daemon has recorded today's: a picture of two weeks without running the daemon for two weeks."""
    database = f"{STORE}/history.sqlite"
    today = datetime.date.today()
    # Each read folds the daemon's journal into the database.
    wait_until(lambda: json.loads(box.ctl("history", "kid", "--days", "1", "--json"))["days"][0]["used"] >= 35, 20,
               "the daemon to record kid's 35 minutes of today in the history")
    with sqlite3.connect(database, timeout=5) as db:
        for back, (used, game) in enumerate(reversed(PAST_DAYS), start=1):
            day = today - datetime.timedelta(days=back)
            key = int(day.strftime("%Y%m%d"))
            allowance = 120 if day.weekday() >= 5 else 60
            db.execute("INSERT INTO days (account, day, used, allowance, granted) VALUES ('kid', ?, ?, ?, 0)",
                       (key, used, allowance))
            db.execute("INSERT INTO apps (account, day, app, minutes) VALUES ('kid', ?, 'supertuxkart.app', ?)",
                       (key, game))
    box.ctl("history", "kid", "--days", "14")  # and the store is still readable as horavelctl reads it


@scenario(seconds=25, programs=ADMIN_PROGRAMS + ("hv_settings_shots",))
def settings_screenshots(box):
    """hv_settings_shots photographs the window's pages under Xvfb, run by the parent against the real service:
    kid with the example policy, part of the day and of supertuxkart's time used and 15 minutes given, pat not
    limited yet. With HORAVEL_SHOTS_DIR set (settings/screenshot.sh --sandbox) the pictures are copied there."""
    # Only the sandbox's accounts are offered in the pictures, none of the machine's own.
    with open(f"{WORK}/passwd", "r+", encoding="utf-8") as f:
        kept = [line for line in f.read().splitlines()
                if int(line.split(":")[2]) < 1000 or line.split(":")[0] in (KID.name, PAT.name, "nobody")]
        f.seek(0)
        f.truncate()
        f.write("\n".join(kept) + "\n")
    midday_zone()  # the example policy allows 07:00-20:30 only
    box.set_settings(status=1, warntime=5)
    box.install_policy(policy(KID, allowance=60, used=35, apps=[("supertuxkart", 30, 20)]))
    box.ctl("policy", "set", "kid", "-", stdin=EXAMPLE_POLICY)
    box.login(KID, "3")
    box.start_daemon()
    box.log.wait_for("data loaded for kid", timeout=20)
    box.ctl("grant", "kid", "15")
    seed_history(box)
    AdminService(box, idle_seconds=60).answer("yes")

    shots = f"{WORK}/shots"
    os.makedirs(shots)
    os.chown(shots, PAT.uid, PAT.gid)
    display = ":7"
    with open(f"{WORK}/x.out", "ab") as out:
        box.spawn(["Xvfb", display, "-screen", "0", "1100x720x24", "-nolisten", "tcp", "-ac"], stdout=out,
                  stderr=out)
    wait_until(lambda: os.path.exists(f"/tmp/.X11-unix/X{display[1:]}"), 15, "the X display")
    desktop = {"DISPLAY": display, "QT_QPA_PLATFORM": "xcb", "ASAN_OPTIONS": "detect_leaks=0", "LANGUAGE": "en"}
    argv = [f"{WORK}/bin/hv_settings_shots", SYSTEM_BUS, shots, "kid", "pat"]
    check(as_parent(box, argv, desktop) == 0, "hv_settings_shots failed")
    german = {**desktop, "LANG": "de_DE.UTF-8", "LANGUAGE": "de"}
    check(as_parent(box, [*argv, "-de"], german) == 0, "hv_settings_shots failed in German")

    pages = {"today", "allowance", "hours", "applications", "disk", "limit", "system", "today-de"}
    taken = {name[len("settings-"):-len(".png")] for name in os.listdir(shots)}
    check(taken == pages | {"history"}, f"hv_settings_shots took {sorted(taken)}")
    for name in sorted(os.listdir(shots)):
        check(png_size(f"{shots}/{name}") == (1000, 660), f"{name} is not a picture of the whole window")
    destination = os.environ.get("HORAVEL_SHOTS_DIR")
    if destination:
        for name in os.listdir(shots):
            shutil.copyfile(f"{shots}/{name}", f"{destination}/{name}")
