"""The daemon's core roads: start-up and signals, a day's allowance to its forced logout, a change of
console user, the monitoring switch, the logout when logind does not answer, and a policy replaced by
the administrator under a running count."""

import datetime
import json
import os
import re
import signal
import stat
import subprocess

import unit_sandbox
from policies import policy
from registry import scenario
from sandbox import (KID, PAT, PID_FILE, STORE, WORK, check, hhmm, hold, minute_of_day, read_channel,
                     segment_info, wait_until)

HEADER = "Wardelin Session Information"


def new_user_line(user, warn, allowed, used):
    return re.escape(f"new user : {user} - warn : {warn} - allowed : {allowed} min - used {used} min")


def written_record():
    """The channel's record once the daemon has written it (a fresh segment reads all zeros)."""
    record = read_channel()
    return record if record and record != (0, 0, 0, 0) else None


def changed_record(seen):
    record = read_channel()
    return record if record and record != seen else None


def check_confined(pid):
    """The daemon runs as its unit says: the unit's bounding set, no new privileges, a system call filter, the
    system read-only and the writable paths writable."""
    # The sandbox's copy: the source tree may lie below a directory the sandbox has covered (/tmp).
    settings = unit_sandbox.read_service(f"{WORK}/horaveld.service")
    with open(f"/proc/{pid}/status", encoding="ascii") as f:
        status = dict(line.rstrip("\n").split(":\t", 1) for line in f if ":\t" in line)
    decoded = subprocess.run(["capsh", f"--decode={status['CapBnd']}"], capture_output=True, text=True,
                             check=True).stdout.strip().split("=", 1)[1]
    check(set(decoded.split(",")) == {f"cap_{cap}" for cap in unit_sandbox.capabilities(settings)},
          f"the daemon's bounding set is {decoded}")
    check(status["NoNewPrivs"] == "1" and status["Seccomp"] == "2",
          f"no new privileges {status['NoNewPrivs']}, seccomp mode {status['Seccomp']}")
    with open(f"/proc/{pid}/mountinfo", encoding="utf-8") as f:
        options = {fields[4]: fields[5].split(",") for fields in (line.split() for line in f)}
    check("ro" in options["/"] and "ro" in options["/etc/passwd"], "the system is writable for the daemon")
    for path in unit_sandbox.writable_paths(settings):
        check("rw" in options[path], f"{path} is not writable for the daemon")


@scenario(seconds=45)
def startup(box):
    """The real daemon with the real LinuxSystem: pid file, start-up order, the first tick, the channel
    segment and the four signals."""
    box.set_settings(status=1, warntime=5, showremain=1)
    box.install_policy(policy(KID, allowance=45, used=10))
    box.login(KID, "3")
    pid = box.start_daemon()
    with open(PID_FILE, encoding="ascii") as f:
        check(f.read() == str(pid), "the pid file holds more than the pid's digits")
    with open(f"/proc/{pid}/comm", encoding="ascii") as f:
        check(f.read().strip() == "horaveld", "the pid file does not name horaveld")
    check_confined(pid)

    log = box.log
    first_tick = log.wait_for(new_user_line("kid", 5, 45, 10), timeout=20)
    messages = log.messages()
    steps = [log.find(re.escape(m)) for m in ("initialization complete", "preferences loaded",
                                              "data loaded for kid")]
    check(None not in steps and steps == sorted(steps) and steps[-1] < first_tick,
          f"start-up lines out of order: {messages[:first_tick + 1]}")
    check("IORegisterForSystemPower() failed" not in messages, "power registration failed with logind present")
    check(4 <= log.seconds_between(steps[0], first_tick) <= 6, "the first tick did not come 5 s after start-up")

    check(segment_info() == {"perms": 0o666, "size": 1024, "uid": 0, "attached": 1},
          f"the channel segment is {segment_info()}")
    check(stat.S_IMODE(os.stat("/dev/shm/sem.1500").st_mode) == 0o666, "the semaphore is not mode 0666")
    record = wait_until(written_record, 10, "the first remaining-time record")
    left = record.rmin * 60 + record.rsec
    check(record.nmin == -1 and record.warn == 0 and 34 * 60 <= left <= 35 * 60,
          f"35 minutes left expected, the record reads {record}")

    mark = len(log.messages())
    box.signal_daemon(signal.SIGHUP)
    reloaded = log.wait_for("data loaded for kid", mark, timeout=10)
    log.wait_for(new_user_line("kid", 5, 45, 10), reloaded, timeout=10)

    box.signal_daemon(signal.SIGINT)
    seen = read_channel()
    wait_until(lambda: changed_record(seen), 15, "a tick after SIGINT")
    check(box.daemon_alive(), "SIGINT ended the daemon")

    for signo, word in ((signal.SIGUSR1, "enabled"), (signal.SIGUSR2, "disabled")):
        mark = len(log.messages())
        box.signal_daemon(signo)
        said = log.wait_for(word, mark, timeout=10)
        log.wait_for("preferences loaded", said, timeout=10)
    # The settings file still says "status" 1, so the switch leaves monitoring on.
    seen = read_channel()
    wait_until(lambda: changed_record(seen), 15, "a tick after SIGUSR2 with status 1")


@scenario(seconds=100)
def allowance(box):
    """Settings and policy arrive by signal; the allowance warns, then the logout notice, 15 s, and
    logind's TerminateUser for the account, which ends the console session."""
    leader = box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for("data loaded for kid", timeout=10)

    mark = len(log.messages())
    box.set_settings(status=1, warntime=2, showremain=1, notimeout=0,
                     warnmsg="%u, only %m minutes left today", logoutmsg="Time is up for today, %u.")
    enabled = log.wait_for("enabled", mark, timeout=10)
    log.wait_for("preferences loaded", enabled, timeout=10)

    mark = len(log.messages())
    box.install_policy(policy(KID, allowance=3, used=2))
    loaded = log.wait_for("data loaded for kid", mark, timeout=10)
    first_tick = log.wait_for(new_user_line("kid", 2, 3, 2), loaded, timeout=10)
    warned = log.wait_for(re.escape("warning - allowed 3 min - used today 2 min"), first_tick, timeout=10)
    warning = wait_until(lambda: box.notices(), 10, "the warning notice")[0]
    check(warning["summary"] == HEADER and warning["body"] == "kid, only 1 minutes left today"
          and warning["urgency"] == 1 and warning["timeout"] == 1000 and warning["uid"] == KID.uid,
          f"the warning notice is {warning}")
    wait_until(lambda: warning["id"] in box.closed_notices(), 10, "the warning to be closed after its second")
    wait_until(lambda: (r := read_channel()) and r.warn == 1, 10, "the warning flag on the channel")

    logout = log.wait_for(re.escape("logout - allowed 3 min - used today 3 min"), warned, timeout=90)
    counted = log.seconds_between(first_tick, logout)
    check(60 <= counted <= 72, f"the counted minute took {counted} s, not 13 ticks of 5 s")
    stop = wait_until(lambda: box.notices()[1:], 10, "the logout notice")[0]
    check(stop["summary"] == HEADER and stop["body"] == "Time is up for today, kid." and stop["urgency"] == 2
          and stop["timeout"] == 1000, f"the logout notice is {stop}")
    saved = box.policy(KID)[0]
    check(saved["usage"] == 3, f"the counted minute was not saved: usage {saved['usage']}")

    terminate = log.wait_for(re.escape(f"terminate loginwindow pid {leader.pid}"), logout, timeout=25)
    waited = log.seconds_between(logout, terminate)
    check(15 <= waited <= 17, f"{waited} s between the logout notice and the logout, not 15")
    wait_until(lambda: {"call": "TerminateUser", "uid": KID.uid} in box.logind_records(), 10,
               f"TerminateUser of {KID.uid}")
    check(not any(r.get("call") == "KillUser" for r in box.logind_records()),
          "KillUser was called although TerminateUser had ended everything")
    log.wait_for(re.escape("data loaded for (null)"), terminate, timeout=15)


def pats_record(record):
    """pat has 38 of 45 minutes left, and less than a minute passes while the scenario looks."""
    return record is not None and 37 * 60 <= record.rmin * 60 + record.rsec <= 38 * 60


@scenario(seconds=35)
def console_switch(box):
    """A change of console user loads the next user's policy; nobody at the console keeps the record."""
    box.set_settings(status=1, warntime=5, showremain=1)
    box.install_policy(policy(KID, allowance=30, used=3))
    box.install_policy(policy(PAT, allowance=45, used=7))
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 5, 30, 3), timeout=20)

    mark = len(log.messages())
    box.login(PAT, "4")
    loaded = log.wait_for("data loaded for pat", mark, timeout=10)
    log.wait_for(new_user_line("pat", 5, 45, 7), loaded, timeout=10)
    wait_until(lambda: pats_record(read_channel()), 10, "pat's 38 minutes on the channel")

    mark = len(log.messages())
    box.switch_console(None)
    log.wait_for(re.escape("data loaded for (null)"), mark, timeout=10)
    nobody = read_channel()
    check(pats_record(nobody), f"pat's record was not kept when nobody came: {nobody}")
    hold(lambda: read_channel() == nobody, 11,
         f"the record changed while nobody was at the console: {nobody} then {read_channel()}")
    check(log.count(re.escape("data loaded for (null)"), mark) == 1,
          "the login screen's ticks logged the load line again")

    mark = len(log.messages())
    box.switch_console("3")
    log.wait_for(new_user_line("kid", 5, 30, 3), mark, timeout=10)


@scenario(seconds=40)
def watch_switch(box):
    """"status" 0 through horavelctl sends SIGUSR2: "disabled", and the record is then left as it was."""
    box.set_settings(status=1, showremain=1)
    box.install_policy(policy(KID, allowance=30, used=0))
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 0, 30, 0), timeout=20)
    seen = wait_until(written_record, 10, "the first record")
    wait_until(lambda: changed_record(seen), 12, "ticks to move the record")

    mark = len(log.messages())
    box.set_settings(status=0, showremain=1)
    said = log.wait_for("disabled", mark, timeout=10)
    log.wait_for("preferences loaded", said, timeout=10)
    frozen = read_channel()
    lines = len(log.messages())
    with open(KID.policy_path, "rb") as f:
        saved = f.read()
    hold(lambda: read_channel() == frozen, 16, "the record changed while monitoring was off")
    check(len(log.messages()) == lines, f"the daemon logged while off: {log.messages()[lines:]}")
    with open(KID.policy_path, "rb") as f:
        check(f.read() == saved, "the policy file changed while monitoring was off")

    box.set_settings(status=1, showremain=1)
    log.wait_for("enabled", lines, timeout=10)
    wait_until(lambda: changed_record(frozen), 12, "the record to move again once enabled")


@scenario(seconds=35, logind=False)
def logout_without_logind(box):
    """With no logind on the bus the forced logout falls back to "kill %d" of the session's leader."""
    now = minute_of_day()
    outside = (now + 10, now + 20) if now + 20 <= 1439 else (1, now - 10)
    box.set_settings(status=1, rangemsg="Computer time is %sr to %er")
    box.install_policy(policy(KID, allowance=0, time_ranges=[outside]))
    leader = box.login(KID, "3")
    box.start_daemon()
    log = box.log
    initialized = log.wait_for("initialization complete", timeout=10)
    power = log.find(re.escape("IORegisterForSystemPower() failed"))
    check(power is not None and power < initialized, "the failed power registration is not the first start-up line")
    notice = wait_until(lambda: box.notices(), 10, "the range notice")[0]
    check(notice["body"] == f"Computer time is {hhmm(outside[0])} to {hhmm(outside[1])}"
          and notice["urgency"] == 2, f"the range notice is {notice}")
    log.wait_for(re.escape(f"terminate loginwindow pid {leader.pid}"), timeout=30)
    try:
        status = leader.wait(timeout=10)
    except subprocess.TimeoutExpired:
        status = None
    check(status == -signal.SIGTERM, f"the session leader was not ended by SIGTERM (status {status})")


@scenario(seconds=85)
def admin_replacement(box):
    """The administrator's new policy lands in the store before its SIGHUP is handled: the daemon's next
    counted minute must not write the old list back over it; the SIGHUP then loads the new one."""
    box.set_settings(status=1)
    box.install_policy(policy(KID, allowance=30, used=4))
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    first_tick = log.wait_for(new_user_line("kid", 0, 30, 4), timeout=20)

    replacement = box.ctl("encode", "--keyed", "-", stdin=json.dumps(policy(KID, allowance=45, used=9)).encode())
    entry = f"{STORE}/policies/kid.horavel"
    staged = entry + ".admin"
    with open(staged, "wb") as f:
        f.write(replacement)
    os.chmod(staged, 0o600)
    os.rename(staged, entry)

    # The counted minute falls 65 s after the first tick.
    wait_until(lambda: (datetime.datetime.now() - log.entries()[first_tick][0]).total_seconds() >= 72, 80,
               "the counted minute to pass")
    with open(entry, "rb") as f:
        check(f.read() == replacement, "the daemon's save wrote the old policy over the administrator's new one")
    mark = len(log.messages())
    box.signal_daemon(signal.SIGHUP)
    log.wait_for(r"new user : kid - warn : 0 - allowed : 45 min - used \d+ min", mark, timeout=10)


@scenario(seconds=20)
def second_daemon(box):
    """One daemon at a time: a second horaveld says so and exits 1 without touching the pid file, and
    --help, --version or a stray argument never start one."""
    box.set_settings(status=1)
    box.install_policy(policy(KID, allowance=30, used=2))
    box.login(KID, "3")
    pid = box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 0, 30, 2), timeout=20)
    pid_file = os.stat(PID_FILE)

    def horaveld(*args):
        return subprocess.run(box.daemon_command(*args), capture_output=True, text=True, env=box.daemon_env(),
                              cwd="/", timeout=20)

    second = horaveld()
    check(second.returncode == 1 and second.stdout == "" and len(second.stderr.splitlines()) == 1
          and "already running" in second.stderr,
          f"a second horaveld exited {second.returncode}: {second.stdout!r} {second.stderr!r}")
    for args, code, where in ((["--help"], 0, "stdout"), (["--version"], 0, "stdout"), (["--start"], 2, "stderr")):
        answer = horaveld(*args)
        check(answer.returncode == code and getattr(answer, where).startswith(("usage: horaveld", "horaveld ")),
              f"horaveld {args[0]} exited {answer.returncode}: {answer.stdout!r} {answer.stderr!r}")
    with open(PID_FILE, encoding="ascii") as f:
        check(f.read() == str(pid), "the pid file no longer names the first daemon")
    check(os.stat(PID_FILE).st_mtime_ns == pid_file.st_mtime_ns, "the pid file was written again")
    running = subprocess.run(["pgrep", "-x", "horaveld"], capture_output=True, text=True).stdout.split()
    check(running == [str(pid)] and box.daemon_alive(), f"horaveld processes: {running}, expected only {pid}")
    check(log.count("initialization complete") == 1, "a second Monitor started")
