"""The narrated demo behind scripts/run-demo: one child, a one-minute allowance, and everything the
daemon does about it, printed as it happens, until the forced logout."""

import json
import time

from registry import scenario
from sandbox import KID, WORK, check, read_channel, read_jsonl

POLICY = {"allowance": {"all": 1}}
SETTINGS = {"status": 1, "warntime": 1, "showremain": 1,
            "warnmsg": "%u, you have %m minute left today.",
            "logoutmsg": "Time is up for today, %u. You will be logged out in 15 seconds."}


def tray_text(record):
    """The time left in the tray's "U: hh:mm:ss" form. The record holds 0 minutes and 0 seconds both on a
    day without an allowance and once the allowance is used up; the warn word's 2 marks the latter."""
    if record.rmin == -1:
        return "(icon hidden)"
    if record.rmin == 0 and record.rsec <= 0 and not record.warn & 2:
        used = "U: no limit"
    else:
        used = f"U: {record.rmin // 60:02d}:{record.rmin % 60:02d}:{max(record.rsec, 0):02d}"
    network = {-1: "N: no limit", -2: "N: off"}.get(record.nmin, f"N: {record.nmin // 60:02d}:{record.nmin % 60:02d}:00")
    return f"{used}   {network}" + ("   (warned)" if record.warn & 1 else "")


class Narrator:
    """Prints what is new in the log, the child's notices, the tray and logind, each time it is asked."""

    def __init__(self, box):
        self.box = box
        self.start = time.monotonic()
        self.lines = 0
        self.notices = 0
        self.logind = 0
        self.tray = None

    def say(self, source, text):
        print(f"[{time.monotonic() - self.start:5.1f}s] {source:<7}| {text}", flush=True)

    def poll(self):
        messages = self.box.log.messages()
        for message in messages[self.lines:]:
            self.say("log", message)
        self.lines = len(messages)
        notices = self.box.notices(KID)
        for notice in notices[self.notices:]:
            kind = {1: "warning", 2: "stop"}.get(notice["urgency"], "notice")
            self.say("notice", f"[{kind}] {notice['summary']}: {notice['body']}")
        self.notices = len(notices)
        record = read_channel()
        if record and record != (0, 0, 0, 0) and tray_text(record) != self.tray:
            self.tray = tray_text(record)
            self.say("tray", self.tray)
        records = [r for r in read_jsonl(f"{WORK}/logind.jsonl") if r.get("call") == "TerminateUser"]
        for call in records[self.logind:]:
            self.say("logind", f"TerminateUser({call['uid']}): every session of kid ends")
        self.logind = len(records)
        return self.logind > 0


@scenario(seconds=110, report=False)
def demo(box):
    narrator = Narrator(box)
    say = narrator.say
    say("demo", "Sandbox ready: private namespaces, a child account \"kid\", a fake login manager,")
    say("demo", "a notification server for kid's desktop, and a network interface veth0.")
    box.login(KID, "3")
    say("demo", "kid logs in at the console (session 3).")
    pid = box.start_daemon()
    say("demo", f"horaveld is running as root (pid {pid}); monitoring is off until settings arrive.")
    box.log.wait_for("data loaded for kid", timeout=10)
    narrator.poll()

    settings = [f"{key}={value}" for key, value in SETTINGS.items()]
    say("admin", "# horavelctl settings set " + " ".join(json.dumps(s) if " " in s else s for s in settings))
    mark = len(box.log.messages())
    box.ctl("settings", "set", *settings)
    box.log.wait_for("preferences loaded", box.log.wait_for("enabled", mark, timeout=10), timeout=10)
    narrator.poll()
    path = f"{WORK}/kid-policy.json"
    with open(path, "w", encoding="utf-8") as f:
        json.dump(POLICY, f)
    say("admin", f"# horavelctl policy set kid kid-policy.json      (kid-policy.json: {json.dumps(POLICY)})")
    box.ctl("policy", "set", "kid", path)
    say("demo", "kid may use the computer for one minute a day; each counted minute takes 13 ticks of 5 s.")

    deadline = time.monotonic() + 150
    while not narrator.poll():
        check(time.monotonic() < deadline, "the forced logout did not come")
        time.sleep(0.25)
    end = time.monotonic() + 3
    while time.monotonic() < end:
        narrator.poll()
        time.sleep(0.25)

    check([n["urgency"] for n in box.notices(KID)] == [1, 2], "kid did not see one warning, then one stop notice")
    check(box.policy(KID)[0]["usage"] == 1, "the counted minute was not saved in kid's policy")
    say("admin", "# horavelctl policy show kid")
    for line in box.ctl("policy", "show", "kid").decode().splitlines():
        say("admin", line)
    say("demo", "Done. The sandbox goes away with its namespaces; nothing is left on this machine.")
