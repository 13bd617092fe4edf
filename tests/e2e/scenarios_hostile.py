"""What a child can reach, it may attack. It owns its home directory and so its policy file: whatever it
puts there must leave the daemon running, must never be read or written through a link, and must never
hang a tick. It can also open the remaining-time channel's semaphore, which every account may use."""

import json
import os
import signal
import stat
import subprocess

from policies import policy
from registry import scenario
from sandbox import KID, PYTHON, WORK, check, hold, read_channel, segment_info, wait_until
from scenarios_daemon import new_user_line

ANY_NEW_USER = r"new user : kid - .*"


def replace_as_kid(path, make):
    """Removes whatever is at path and lets make() put the child's own thing there, owned by the child."""
    if os.path.isdir(path) and not os.path.islink(path):
        os.rmdir(path)
    elif os.path.lexists(path):
        os.unlink(path)
    make(path)
    os.lchown(path, KID.uid, KID.gid)


def write_bytes(data):
    def make(path):
        with open(path, "wb") as f:
            f.write(data)
    return make


def plant_root_policy(valid):
    """A root-owned copy of a valid policy outside the child's home: a target the child would love the
    daemon to read or overwrite."""
    target = f"{WORK}/root-owned.horavel"
    with open(target, "wb") as f:
        f.write(valid)
    os.chmod(target, 0o600)
    return target


def fingerprint(path):
    info = os.stat(path)
    with open(path, "rb") as f:
        return f.read(), info.st_mtime_ns, info.st_mode


@scenario(seconds=70)
def hostile_policy(box):
    """An account the store does not hold is governed by the file in its home, which the child may have
    written itself. Truncated, garbage, oversized, wrongly rooted, a link to a root file, a FIFO, a
    directory: each is "cannot be read" with a line saying why, the daemon keeps ticking, and a valid
    policy is taken after."""
    box.set_settings(status=1, showremain=1)
    valid = box.ctl("encode", "--keyed", "-", stdin=json.dumps(policy(KID, allowance=30, used=4)).encode())
    replace_as_kid(KID.policy_path, write_bytes(valid))
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 0, 30, 4), timeout=20)
    target = plant_root_policy(valid)
    before = fingerprint(target)
    wrong_root = box.ctl("encode", "--keyed", "-", stdin=json.dumps({"status": 1}).encode())

    variants = (
        ("truncated", write_bytes(valid[: len(valid) // 2])),
        ("garbage", write_bytes(bytes(range(256)) * 16)),
        ("oversized", write_bytes(valid + b"\0" * (2 << 20))),
        ("wrongly rooted", write_bytes(wrong_root)),
        ("linked to a root file", lambda path: os.symlink(target, path)),
        ("FIFO", os.mkfifo),
        ("directory", os.mkdir),
    )
    for name, make in variants:
        replace_as_kid(KID.policy_path, make)
        mark = len(log.messages())
        box.signal_daemon(signal.SIGHUP)
        log.wait_for("data loaded for kid", mark, timeout=10)
        hold(box.daemon_alive, 6, f"the daemon died on a {name} policy file")
        check(log.find(ANY_NEW_USER, mark) is None, f"a {name} policy file was taken as a policy")
        reasons = [m for m in log.messages()[mark:] if m != "data loaded for kid"]
        check(reasons, f"nothing in the log says why the {name} policy file was not read")

    check(fingerprint(target) == before, "the root-owned file behind the link was changed")
    replace_as_kid(KID.policy_path, write_bytes(valid))
    mark = len(log.messages())
    box.signal_daemon(signal.SIGHUP)
    log.wait_for(new_user_line("kid", 0, 30, 4), mark, timeout=15)


@scenario(seconds=85)
def policy_link_swap(box):
    """The child swaps its loaded policy file for a link to a root file: the next counted minute replaces
    the link with a new policy file and leaves the root file untouched."""
    box.set_settings(status=1)
    box.install_policy(policy(KID, allowance=30, used=4))
    box.login(KID, "3")
    box.start_daemon()
    box.log.wait_for(new_user_line("kid", 0, 30, 4), timeout=20)
    with open(KID.policy_path, "rb") as f:
        target = plant_root_policy(f.read())
    before = fingerprint(target)
    replace_as_kid(KID.policy_path, lambda path: os.symlink(target, path))

    def saved_minute():
        if os.path.islink(KID.policy_path):
            return None
        return box.policy(KID)[0]["usage"] == 5

    wait_until(saved_minute, 80, "the counted minute to be saved over the link")
    check(fingerprint(target) == before, "the daemon wrote through the child's link into a root file")


# Takes the channel's semaphore as the child and keeps it until its standard input closes.
HOLD_SEMAPHORE = """
import ctypes, sys
libc = ctypes.CDLL(None, use_errno=True)
libc.sem_open.restype = ctypes.c_void_p
libc.sem_open.argtypes = [ctypes.c_char_p, ctypes.c_int]
libc.sem_wait.argtypes = libc.sem_post.argtypes = [ctypes.c_void_p]
semaphore = libc.sem_open(b"1500", 0)
assert semaphore, "cannot open the semaphore"
assert libc.sem_wait(semaphore) == 0
print("held", flush=True)
sys.stdin.read()
libc.sem_post(semaphore)
"""


@scenario(seconds=50)
def hostile_channel(box):
    """The semaphore and its file are open to every account: the child holding the semaphore only
    delays the record, and the child cutting the semaphore file short does not stop the daemon."""
    box.set_settings(status=1, showremain=1)
    box.install_policy(policy(KID, allowance=30, used=4))
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 0, 30, 4), timeout=20)
    wait_until(lambda: read_channel() not in (None, (0, 0, 0, 0)), 10, "the first record")

    holder = subprocess.Popen([PYTHON, "-c", HOLD_SEMAPHORE], user=KID.uid, group=KID.gid, extra_groups=[],
                              env=box.env(KID), stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    check(holder.stdout.readline().strip() == "held", "the child could not take the semaphore")
    held = read_channel()
    hold(lambda: read_channel() == held and box.daemon_alive(), 11,
         "the record changed, or the daemon stopped, while the child held the semaphore")
    holder.stdin.close()
    check(holder.wait(timeout=10) == 0, "the child's semaphore holder failed")
    wait_until(lambda: read_channel() != held, 12, "the record to move once the semaphore is free")

    cut = subprocess.run([PYTHON, "-c", "import os; os.truncate('/dev/shm/sem.1500', 0)"], user=KID.uid,
                         group=KID.gid, extra_groups=[], env=box.env(KID), capture_output=True, text=True)
    check(cut.returncode == 0, f"the child could not cut the semaphore file: {cut.stderr}")
    hold(box.daemon_alive, 12, "the daemon died after the child cut the semaphore file short")
    mark = len(log.messages())
    box.signal_daemon(signal.SIGHUP)
    log.wait_for(new_user_line("kid", 0, 30, 4), mark, timeout=15)
    check(box.daemon_alive(), "the daemon died after the child cut the semaphore file short")


# Run as the child before the daemon starts: a private 16-byte segment at the channel's key, and a link
# where the semaphore goes, pointing at a file of the child's.
SQUAT_CHANNEL = """
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
ipc_creat, ipc_excl = 0o1000, 0o2000
assert libc.shmget(1500, 16, ipc_creat | ipc_excl | 0o600) >= 0, os.strerror(ctypes.get_errno())
os.symlink(sys.argv[1], "/dev/shm/sem.1500")
"""


@scenario(seconds=25)
def channel_squat(box):
    """The child takes the channel's key and semaphore name before the daemon starts: the daemon removes
    both, says so once, creates its own, and the tray side reads the daemon's record from them."""
    box.set_settings(status=1, showremain=1)
    box.install_policy(policy(KID, allowance=30, used=4))
    bait = f"{KID.home}/bait"
    with open(bait, "w", encoding="ascii") as f:
        f.write("kid's")
    os.chown(bait, KID.uid, KID.gid)
    squat = subprocess.run([PYTHON, "-c", SQUAT_CHANNEL, bait], user=KID.uid, group=KID.gid, extra_groups=[],
                           env=box.env(KID), capture_output=True, text=True)
    check(squat.returncode == 0, f"the child could not squat the channel: {squat.stderr}")
    check(segment_info() == {"perms": 0o600, "size": 16, "uid": KID.uid, "attached": 0},
          f"the squatted segment is {segment_info()}")

    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 0, 30, 4), timeout=20)
    taken = [m for m in log.messages() if m.startswith("channel taken back")]
    check(taken == [f"channel taken back: removed segment 1500 created by uid {KID.uid} and semaphore 1500 owned "
                    f"by uid {KID.uid}"], f"the log says {taken}")
    check(segment_info() == {"perms": 0o666, "size": 1024, "uid": 0, "attached": 1},
          f"the daemon's segment is {segment_info()}")
    semaphore = os.lstat("/dev/shm/sem.1500")
    check(stat.S_ISREG(semaphore.st_mode) and semaphore.st_uid == 0 and stat.S_IMODE(semaphore.st_mode) == 0o666,
          "the semaphore is not root's own world-usable file")
    with open(bait, encoding="ascii") as f:
        check(f.read() == "kid's", "the daemon wrote through the child's link")
    record = wait_until(lambda: (r := read_channel()) and r != (0, 0, 0, 0) and r, 10, "the daemon's record")
    check(25 * 60 <= record.rmin * 60 + record.rsec <= 26 * 60 and record.nmin == -1,
          f"26 minutes left expected, the tray reads {record}")
