"""Limits the child cannot walk away from: a forced logout ends the account everywhere, whoever is at the
console and however many sessions it has, and an application whose minutes are used up ends with every
process that is it, those that ignore SIGTERM included."""

import os
import re
import shutil
import signal
import subprocess

from policies import policy
from registry import scenario
from sandbox import KID, PAT, check, run, wait_until
from scenarios_monitors import start_as

# A process that ignores SIGTERM, as a child can make any program do: the disposition survives exec.
IGNORE_TERM = "trap '' TERM; exec {} 1000"


def exit_status(child, timeout):
    """The child's exit status (minus the signal that ended it), or None while it still runs."""
    try:
        return child.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def used_up(box):
    """Settings and a policy whose allowance is used up, so the first tick logs kid out."""
    box.set_settings(status=1, logoutmsg="Time is up for today, %u.")
    box.install_policy(policy(KID, allowance=3, used=3))


@scenario(seconds=30)
def logout_greeter_switch(box):
    """A switch to the login screen during the 15 s between the logout notice and the logout does not save
    the session: the account is ended through logind all the same (the log names no console leader)."""
    used_up(box)
    leader = box.login(KID, "3")
    box.start_daemon()
    log = box.log
    logout = log.wait_for(re.escape("logout - allowed 3 min - used today 3 min"), timeout=20)
    box.switch_console(None)
    log.wait_for(re.escape("terminate loginwindow pid 0"), logout, timeout=25)
    wait_until(lambda: {"call": "TerminateUser", "uid": KID.uid} in box.logind_records(), 10,
               f"TerminateUser of {KID.uid}")
    status = exit_status(leader, 10)
    check(status == -signal.SIGTERM, f"kid's session leader was not ended by SIGTERM (status {status})")


@scenario(seconds=45)
def logout_second_session(box):
    """A second session (a process of the account outside the console session, standing for ssh) ends with
    the console session; one that ignores SIGTERM is killed 10 s later; another account's process stays."""
    used_up(box)
    leader = box.login(KID, "3")
    remote = box.spawn(["sleep", "1000"], user=KID)
    stubborn = box.spawn(["/bin/sh", "-c", IGNORE_TERM.format("sleep")], user=KID)
    pats = box.spawn(["sleep", "1000"], user=PAT)
    box.start_daemon()
    log = box.log
    terminate = log.wait_for(re.escape(f"terminate loginwindow pid {leader.pid}"), timeout=30)
    status = exit_status(remote, 10)
    check(status == -signal.SIGTERM, f"the second session was not ended by SIGTERM (status {status})")
    status = exit_status(stubborn, 20)
    check(status == -signal.SIGKILL, f"the process that ignores SIGTERM was not killed (status {status})")
    killed = log.wait_for(r"logout of kid: \d+ processes left after 10 s, killed", terminate, timeout=10)
    check(log.seconds_between(terminate, killed) >= 10, "the account was killed less than 10 s after the logout")
    check({"call": "KillUser", "uid": KID.uid, "signal": signal.SIGKILL} in box.logind_records(),
          f"no KillUser({KID.uid}, SIGKILL) in {box.logind_records()}")
    check(pats.poll() is None, "pat's process was ended with kid's account")


@scenario(seconds=90)
def app_end_for_good(box):
    """In the application minute after the allowance is used up, every process of kid that is the game ends:
    the game ignoring SIGTERM and a decoy of the same name ignoring it too are killed 5 s after their
    SIGTERM, a link to the game (another command name) ends by SIGTERM; root's game and kid's other
    application keep running."""
    box.set_settings(status=1, appmon=1)
    box.install_policy(policy(KID, allowance=0, apps=[("hvgame.app", 2, 2), ("hvpaint.app", 30, 0)]))
    # The game installed on the system path (a private tmpfs hides the host's /usr/local/bin here).
    run(["mount", "-t", "tmpfs", "-o", "mode=0755,size=64m", "tmpfs", "/usr/local/bin"])
    shutil.copy2("/bin/sleep", "/usr/local/bin/hvgame")
    # kid's own copy with the game's name, and a link to the game under another name.
    os.makedirs("/tmp/kid")
    shutil.copy2("/bin/sleep", "/tmp/kid/hvgame")
    os.makedirs(f"{KID.home}/bin")
    os.symlink("/usr/local/bin/hvgame", f"{KID.home}/bin/play")
    for path in ("/tmp/kid", "/tmp/kid/hvgame", f"{KID.home}/bin"):
        os.lchown(path, KID.uid, KID.gid)

    decoy = box.spawn(["/bin/sh", "-c", IGNORE_TERM.format("/tmp/kid/hvgame")], user=KID)
    game = box.spawn(["/bin/sh", "-c", IGNORE_TERM.format("/usr/local/bin/hvgame")], user=KID)
    linked = box.spawn([f"{KID.home}/bin/play", "1000"], user=KID)
    roots = box.spawn(["/usr/local/bin/hvgame", "1000"])
    paint = start_as(box, "hvpaint", KID)
    box.login(KID, "3")
    box.start_daemon()
    box.log.wait_for("data loaded for kid", timeout=20)

    status = exit_status(linked, 85)
    check(status == -signal.SIGTERM, f"the linked game was not ended by SIGTERM (status {status})")
    for name, child in (("game", game), ("decoy", decoy)):
        status = exit_status(child, 15)
        check(status == -signal.SIGKILL, f"the {name} that ignores SIGTERM was not killed (status {status})")
    check(roots.poll() is None, "root's process of the same name was killed")
    check(paint.poll() is None, "an application with minutes left was killed")
