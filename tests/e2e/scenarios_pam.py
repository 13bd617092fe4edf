"""Login refusal: the built pam_horavel.so in a private PAM service, asked by pamtester (as a display
manager, login or sshd would ask it) about accounts whose store entries were written with horavelctl's
own encoder."""

import glob
import json
import os
import re
import shutil
import subprocess

from policies import policy
from registry import scenario
from sandbox import HERE, KID, PAT, STORE, WORK, Skip, User, check, hhmm, minute_of_day, run

LEE = User("lee", 4203)  # an account the store does not manage
USERS = (KID, PAT, LEE)
SERVICE = "horavel-test"
MODULE = "pam_horavel"
TIME_UP = "Time is up for today: kid can log in again tomorrow."

# Read now: inside the sandbox a source tree below /home is hidden by the tmpfs.
with open(os.path.join(HERE, "..", "..", "pam", "horavel.pam-config"), encoding="utf-8") as f:
    PROFILE = f.read()


def sanitizer_runtimes(module):
    """The sanitizer runtimes the module was linked with (a sanitizer build), AddressSanitizer's first:
    pamtester itself is not built with them, so they must be preloaded for the module to load."""
    out = run(["ldd", module], capture_output=True, text=True).stdout
    found = re.findall(r"=> (\S*lib(asan|ubsan)\.so\S*)", out)
    return [path for path, _ in sorted(found, key=lambda item: item[1] != "asan")]


def private_copy(path):
    """Puts a private copy of the directory at path over it, so that what is changed there stays here."""
    copy = f"{WORK}/copies{path}"
    shutil.copytree(path, copy, symlinks=True)
    run(["mount", "--bind", copy, path])


def shadow_entries(users):
    """A private /etc/shadow that also holds the test accounts (locked, never expiring), so that pam_unix,
    first in Debian's account stack, accepts them as the system's own accounts."""
    with open("/etc/shadow", encoding="utf-8") as f:
        lines = [line for line in f.read().splitlines() if line.split(":")[0] not in {u.name for u in users}]
    lines += [f"{u.name}:!:19000:0:99999:7:::" for u in users]
    copy = f"{WORK}/shadow"
    with open(copy, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    os.chmod(copy, 0o640)
    run(["mount", "--bind", copy, "/etc/shadow"])


def install_service(module):
    """A PAM service of our own in a private /etc/pam.d: the module, then pam_permit as the account stack
    of Debian's common-account ends, so that the module's answer alone decides."""
    private_copy("/etc/pam.d")
    with open(f"/etc/pam.d/{SERVICE}", "w", encoding="utf-8") as f:
        f.write(f"account required {module}\naccount required pam_permit.so\n")


def enable_for_every_service(module):
    """Installs the module where libpam looks for it and enables it as an administrator would, with the
    shipped profile and pam-auth-update, in private copies of everything that touches: /etc/pam.d (made
    by install_service), libpam's module directory, the profiles, pam-auth-update's and debconf's state."""
    modules = next((os.path.dirname(p) for p in sorted(glob.glob("/lib/*/security/pam_unix.so"))), None)
    if modules is None or not os.path.exists("/usr/sbin/pam-auth-update"):
        raise Skip("no Debian PAM layout here (pam-auth-update, /lib/<triplet>/security/pam_unix.so)")
    for directory in (modules, "/usr/share/pam-configs", "/var/lib/pam", "/var/cache/debconf"):
        private_copy(directory)
    shadow_entries(USERS)
    shutil.copy(module, f"{modules}/pam_horavel.so")
    with open("/usr/share/pam-configs/horavel", "w", encoding="utf-8") as f:
        f.write(PROFILE)
    run(["pam-auth-update", "--enable", "horavel"], env={"PATH": "/usr/sbin:/usr/bin:/sbin:/bin",
                                                         "DEBIAN_FRONTEND": "noninteractive"},
        stdout=subprocess.DEVNULL)
    with open("/etc/pam.d/common-account", encoding="utf-8") as f:
        stack = f.read()
    check(re.search(r"^account\s+required\s+pam_horavel\.so\s*$", stack, re.M),
          f"pam-auth-update did not add the module to common-account:\n{stack}")


class Pamtester:
    def __init__(self, box, module):
        self.env = box.env()
        preload = sanitizer_runtimes(module)
        if preload:
            self.env["LD_PRELOAD"] = ":".join(preload)

    def acct_mgmt(self, account, service=SERVICE):
        """pamtester's exit status and everything it printed (the module's message included)."""
        result = run(["pamtester", service, account, "acct_mgmt"], capture_output=True, text=True,
                     env=self.env, check=False, timeout=30)
        output = result.stdout + result.stderr
        print(f"pamtester {service} {account} acct_mgmt -> {result.returncode}: {output.strip()}")
        check("Sanitizer" not in output and "runtime error" not in output,
              f"the module reported sanitizer errors: {output}")
        return result.returncode, output

    def expect_allowed(self, account, why, service=SERVICE):
        code, output = self.acct_mgmt(account, service)
        check(code == 0, f"{why}: the login of {account} was refused: {output}")

    def expect_refused(self, account, message, why, service=SERVICE):
        code, output = self.acct_mgmt(account, service)
        check(code != 0 and "Permission denied" in output, f"{why}: the login of {account} was not refused: "
                                                           f"{output}")
        check(message in output.splitlines(), f"{why}: the refusal does not show {message!r}: {output}")


def store_entry(box, account, records, suffix=""):
    """Writes records (horavelctl's JSON form) as account's store entry, encoded by horavelctl."""
    data = box.ctl("encode", "--keyed", "-", stdin=json.dumps(records).encode())
    write_root_file(f"{STORE}/policies/{account}.horavel{suffix}", data)


def write_root_file(path, data, mode=0o600):
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)


@scenario(seconds=15, programs=("horavelctl", "horavelset", MODULE), report=False, users=USERS,
          system_bus=False)
def login_refused(box):
    """A managed account whose time is up is refused with its one-line message, and so is one outside its
    time ranges; an account with time left, root, an unmanaged account (whatever its home file says) and a
    store entry that cannot be decoded without a good previous copy are let in; with a good previous copy
    the refusal stands. Enabled with the shipped profile through pam-auth-update, the module refuses in
    Debian's `login` stack too. With monitoring off everyone is let in. A refusal is in the account's history.
    """
    if not os.path.exists("/usr/bin/pamtester"):
        raise Skip("pamtester is not installed (scripts/install-deps)")
    module = f"{WORK}/bin/{MODULE}"
    install_service(module)
    os.makedirs(f"{STORE}/policies", mode=0o700)
    box.set_settings(status=1, keeplimit=1)
    pam = Pamtester(box, module)

    used_up = policy(KID, allowance=60, used=60)
    store_entry(box, "kid", used_up)
    pam.expect_refused("kid", TIME_UP, "60 of 60 minutes used today")
    refusals = json.loads(box.ctl("history", "kid", "--days", "1", "--json"))["days"][0]["events"]
    check([(event["kind"], event["detail"]) for event in refusals] == [("login-refused", TIME_UP)],
          f"the refusal is not in kid's history: {refusals}")
    check(os.stat(f"{STORE}/history.sqlite").st_mode & 0o7777 == 0o600, "the history is not root's alone")

    store_entry(box, "pat", policy(PAT, allowance=60, used=10))
    pam.expect_allowed("pat", "10 of 60 minutes used today")

    # A range that does not hold the current minute: later today, or (late in the evening) tomorrow.
    now = minute_of_day()
    if now <= 1300:
        start, end = now + 60, now + 120
        message = f"pat may use the computer from {hhmm(start)} to {hhmm(end)}: log in again at {hhmm(start)}."
    else:
        start, end = 60, 120
        message = "pat may not use the computer again today: log in again tomorrow at 01:00."
    store_entry(box, "pat", policy(PAT, allowance=60, used=10, time_ranges=[(start, end)]))
    pam.expect_refused("pat", message, f"outside the range {hhmm(start)}-{hhmm(end)}")

    store_entry(box, "root", policy(User("root", 0), allowance=60, used=60))
    pam.expect_allowed("root", "root with its time used up in the store")

    data = box.ctl("encode", "--keyed", "-", stdin=json.dumps(policy(LEE, allowance=60, used=60)).encode())
    write_root_file(LEE.policy_path, data, 0o644)
    pam.expect_allowed("lee", "no store entry, a used-up policy in the home folder")

    write_root_file(f"{STORE}/policies/kid.horavel", b"bplist00 not an archive")
    pam.expect_allowed("kid", "a store entry that cannot be decoded and no previous copy")
    store_entry(box, "kid", used_up, suffix=".prev")
    pam.expect_refused("kid", TIME_UP, "a store entry that cannot be decoded and a good previous copy")

    # Enabled through its profile, the module speaks in Debian's own stacks: `login` includes common-account.
    enable_for_every_service(module)
    store_entry(box, "kid", used_up)
    pam.expect_refused("kid", TIME_UP, "common-account with the module enabled", service="login")
    pam.expect_allowed("lee", "common-account with the module enabled", service="login")

    box.set_settings(status=0, keeplimit=1)
    pam.expect_allowed("kid", "monitoring off")
    pam.expect_allowed("kid", "monitoring off", service="login")
