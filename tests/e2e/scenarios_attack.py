"""Attacks of a child with an ordinary account and a terminal, run as the child (uid 4201). Each scenario
asserts the sound result, so it fails if the attack gets the child more than the policy allows."""

import json
import os
import shutil
import subprocess
import time

from policies import policy
from registry import scenario
from sandbox import KID, STORE, WORK, check, hold, run, wait_until
from scenarios_daemon import new_user_line

STORE_ENTRY = f"{STORE}/policies/kid.horavel"
GAME = "/usr/local/bin/hvgame"


def as_kid(box, argv, **kwargs):
    """Runs argv as the child to its end; returns the CompletedProcess."""
    kwargs.setdefault("timeout", 60)
    return subprocess.run(argv, user=KID.uid, group=KID.gid, extra_groups=[], env=box.env(KID),
                          capture_output=True, text=True, cwd=KID.home, **kwargs)


def stored(box):
    return json.loads(box.ctl("decode", STORE_ENTRY))


def install_game():
    """The game on the system path (a private tmpfs hides the host's /usr/local/bin here): a copy of sleep."""
    run(["mount", "-t", "tmpfs", "-o", "mode=0755,size=64m", "tmpfs", "/usr/local/bin"])
    shutil.copy2("/bin/sleep", GAME)


@scenario(seconds=100)
def attack_child_tools(box):
    """The child runs the administrator's programs and signals the daemon: horavelctl settings set status=0,
    horavelctl policy set with a generous policy, horavelset fed a settings archive, kill -STOP/-TERM/-HUP of
    the daemon. None of it may change the settings or the store, or stop the daemon."""
    box.set_settings(status=1, showremain=1)
    box.install_policy(policy(KID, allowance=5, used=4))
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 0, 5, 4), timeout=20)
    settings_before = box.ctl("settings", "show")

    generous = f"{KID.home}/generous.json"
    with open(generous, "w", encoding="utf-8") as f:
        json.dump({"allowance": {"weekdays": 1440, "weekend": 1440}}, f)
    os.chown(generous, KID.uid, KID.gid)
    bin_dir = f"{WORK}/bin"
    attempts = [
        [f"{bin_dir}/horavelctl", "settings", "set", "status=0"],
        [f"{bin_dir}/horavelctl", "policy", "set", "kid", generous],
        ["kill", "-STOP", str(box.daemon_pid)],
        ["kill", "-TERM", str(box.daemon_pid)],
        ["kill", "-HUP", str(box.daemon_pid)],
        ["kill", "-USR2", str(box.daemon_pid)],
    ]
    results = []
    for argv in attempts:
        result = as_kid(box, argv)
        results.append((argv, result.returncode, (result.stderr or result.stdout).strip()[:200]))
    encoded = box.ctl("encode", "--typedstream", "-",
                      stdin=json.dumps(policy(KID, allowance=1440, used=0)).encode())
    fed = subprocess.run([f"{bin_dir}/horavelset"], input=encoded, user=KID.uid, group=KID.gid, extra_groups=[],
                         env=box.env(KID), capture_output=True, timeout=60, check=False)
    results.append((["horavelset", "<policy archive>"], fed.returncode, fed.stderr.decode(errors="replace")[:200]))
    print("the child's attempts:")
    for argv, code, said in results:
        print(f"  {' '.join(argv)} -> exit {code}: {said}")

    hold(box.daemon_alive, 6, "the child stopped the daemon")
    check(box.ctl("settings", "show") == settings_before, "the child changed the settings")
    record = stored(box)[0]
    check(record["d_mon"] == 5 and record["usage"] >= 4, f"the child changed its stored policy: {record}")
    wait_until(lambda: {"call": "TerminateUser", "uid": KID.uid} in box.logind_records(), 80,
               "the forced logout once the last minute is used")



@scenario(seconds=40)
def attack_game_relaunch(box):
    """The game's minutes are used up and it has been ended once. The child simply starts it again, as a
    loop in a terminal would (`while :; do hvgame; done`). Each new start must end within a few ticks, not
    run on until the next application minute: each may live at most 15 s."""
    box.set_settings(status=1, appmon=1)
    box.install_policy(policy(KID, allowance=0, apps=[("hvgame.app", 2, 2)]))
    install_game()
    first = box.spawn([GAME, "1000"], user=KID)
    box.login(KID, "3")
    box.start_daemon()
    box.log.wait_for("data loaded for kid", timeout=20)
    first.wait(timeout=90)
    lives = []
    for _ in range(2):
        start = time.monotonic()
        game = box.spawn([GAME, "1000"], user=KID)
        try:
            game.wait(timeout=70)
        except subprocess.TimeoutExpired:
            game.kill()
        lives.append(round(time.monotonic() - start))
    print(f"the game started again ran {lives} s")
    check(max(lives) <= 15, f"the game started again ran {lives} s each with no minutes left")
