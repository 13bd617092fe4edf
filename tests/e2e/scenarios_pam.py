"""Login refusal: the built pam_horavel.so in a private PAM service, asked by pamtester (as a display
manager, login or sshd would ask it) about accounts whose store entries were written with horavelctl's
own encoder."""

import json
import os
import re

from policies import policy
from registry import scenario
from sandbox import KID, PAT, STORE, WORK, Skip, User, check, hhmm, minute_of_day, run

LEE = User("lee", 4203)  # an account the store does not manage
SERVICE = "horavel-test"
MODULE = "pam_horavel"
TIME_UP = "Time is up for today: kid can log in again tomorrow."


def sanitizer_runtimes(module):
    """The sanitizer runtimes the module was linked with (a sanitizer build), AddressSanitizer's first:
    pamtester itself is not built with them, so they must be preloaded for the module to load."""
    out = run(["ldd", module], capture_output=True, text=True).stdout
    found = re.findall(r"=> (\S*lib(asan|ubsan)\.so\S*)", out)
    return [path for path, _ in sorted(found, key=lambda item: item[1] != "asan")]


def install_service(module):
    """A PAM service of our own in a private /etc/pam.d: the module, then pam_permit as the account stack
    of Debian's common-account ends, so that the module's answer alone decides."""
    run(["mount", "-t", "tmpfs", "-o", "mode=0755,size=1m", "tmpfs", "/etc/pam.d"])
    with open(f"/etc/pam.d/{SERVICE}", "w", encoding="utf-8") as f:
        f.write(f"account required {module}\naccount required pam_permit.so\n")


class Pamtester:
    def __init__(self, box, module):
        self.env = box.env()
        preload = sanitizer_runtimes(module)
        if preload:
            self.env["LD_PRELOAD"] = ":".join(preload)

    def acct_mgmt(self, account):
        """pamtester's exit status and everything it printed (the module's message included)."""
        result = run(["pamtester", SERVICE, account, "acct_mgmt"], capture_output=True, text=True,
                     env=self.env, check=False, timeout=30)
        output = result.stdout + result.stderr
        print(f"pamtester {SERVICE} {account} acct_mgmt -> {result.returncode}: {output.strip()}")
        check("Sanitizer" not in output and "runtime error" not in output,
              f"the module reported sanitizer errors: {output}")
        return result.returncode, output

    def expect_allowed(self, account, why):
        code, output = self.acct_mgmt(account)
        check(code == 0, f"{why}: the login of {account} was refused: {output}")

    def expect_refused(self, account, message, why):
        code, output = self.acct_mgmt(account)
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


@scenario(seconds=15, programs=("horavelctl", "horavelset", MODULE), report=False, users=(KID, PAT, LEE),
          system_bus=False)
def login_refused(box):
    """A managed account whose time is up is refused with its one-line message, and so is one outside its
    time ranges; an account with time left, root, an unmanaged account (whatever its home file says) and a
    store entry that cannot be decoded without a good previous copy are let in; with a good previous copy
    the refusal stands; with monitoring off everyone is let in."""
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

    box.set_settings(status=0, keeplimit=1)
    pam.expect_allowed("kid", "monitoring off")
