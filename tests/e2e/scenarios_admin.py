"""The admin service horavel-admind with the real daemon: on the sandbox's private system bus, under the
settings of its own unit, with a fake polkit authority (fake_polkit.py) that answers yes or no."""

import json
import os
import signal
import subprocess
import time

import unit_sandbox
from policies import policy
from registry import scenario
from sandbox import KID, PAT, PROGRAMS, STORE, WORK, Failure, check, read_channel, read_jsonl, run, wait_until
from scenarios_daemon import new_user_line
from scenarios_enforce import exit_status

ADMIN_PROGRAMS = PROGRAMS + ("horavel-admind",)
SYSTEM_BUS = "unix:path=/run/dbus/system_bus_socket"
NAME = "org.horavel.Admin1"
ERROR = "org.horavel.Admin1.Error."
IDLE_SECONDS = 12


class AdminService:
    """horavel-admind started as systemd starts its unit, a fake polkit whose answer the scenario sets, and
    a client connection on the system bus."""

    def __init__(self, box, idle_seconds=IDLE_SECONDS, confined=True):
        import dbus.bus  # pylint: disable=import-outside-toplevel
        self.dbus = dbus
        self.answers = f"{WORK}/polkit.answer"
        self.answer("no")
        ready = f"{WORK}/polkit.ready"
        box.spawn(["/usr/bin/python3", f"{WORK}/fake_polkit.py", "--record", f"{WORK}/polkit.jsonl",
                   "--answers", self.answers, "--ready", ready])
        wait_until(lambda: os.path.exists(ready), 15, "the fake polkit")
        self.bus = dbus.bus.BusConnection(SYSTEM_BUS)
        argv = [f"{WORK}/bin/horavel-admind", f"--idle-timeout={idle_seconds}"]
        env = box.env()
        if confined:
            argv = unit_sandbox.command(f"{WORK}/unit_sandbox.py", f"{WORK}/horavel-admind.service", argv)
            # LeakSanitizer needs ptrace, which the unit's system call filter refuses, so it is told not to
            # look at the service's exit there (admin_service_cost runs the service unconfined, and looks).
            env = box.daemon_env()
            env["ASAN_OPTIONS"] = ":".join(filter(None, (env.get("ASAN_OPTIONS"), "detect_leaks=0")))
        self.started = time.monotonic()
        with open(f"{WORK}/admind.out", "ab") as out:
            self.process = box.spawn(argv, extra_env=env, stdout=out, stderr=out, cwd="/")
        wait_until(lambda: self.bus.name_has_owner(NAME), 20, f"{NAME} on the system bus", interval=0.02)
        self.owned = time.monotonic()

    @staticmethod
    def answer(word):
        with open(f"{WORK}/polkit.answer", "w", encoding="utf-8") as f:
            f.write(word + "\n")

    def call(self, method, *args, signature=None):
        """The method's answer; a D-Bus error is raised as dbus.DBusException."""
        proxy = self.bus.get_object(NAME, "/org/horavel/Admin1", introspect=False)
        return proxy.get_dbus_method(method, NAME)(*args, signature=signature, timeout=30)

    def refused(self, method, *args, signature=None):
        """(error name, message) of a call that must fail."""
        try:
            answer = self.call(method, *args, signature=signature)
        except self.dbus.DBusException as error:
            return error.get_dbus_name(), error.get_dbus_message()
        raise Failure(f"{method} answered {answer!r} instead of failing")

    def memory(self):
        """Rss and Private_Dirty of the service, in kB, from /proc/PID/smaps_rollup."""
        with open(f"/proc/{self.process.pid}/smaps_rollup", encoding="ascii") as f:
            fields = dict(line.split(":", 1) for line in f if ":" in line)
        return {key: int(fields[key].split()[0]) for key in ("Rss", "Private_Dirty")}

    @staticmethod
    def polkit_records():
        return read_jsonl(f"{WORK}/polkit.jsonl")


def ctl_error(box, *args, stdin=None):
    """The one line horavelctl prints on standard error for a request it refuses."""
    result = run([f"{WORK}/bin/horavelctl", *args], input=stdin, capture_output=True, env=box.env(), check=False,
                 timeout=60)
    check(result.returncode == 1, f"horavelctl {' '.join(args)} exited {result.returncode}")
    return result.stderr.decode().rstrip("\n")


def store_bytes():
    """Every file of the root-held store and the settings file, with its content."""
    files = {"/home/.Tovik2.stat": None}
    for root, _dirs, names in os.walk(STORE):
        for name in names:
            files[os.path.join(root, name)] = None
    for path in files:
        with open(path, "rb") as f:
            files[path] = f.read()
    return files


@scenario(seconds=55, programs=ADMIN_PROGRAMS)
def admin_service(box):
    """Refused by polkit, nothing changes; allowed, SetPolicy is what `policy show` prints and what the daemon
    counts down from, Status is the daemon's record, Grant and Logout act, bad input gets horavelctl's own
    line as Invalid, and the service exits once idle."""
    box.set_settings(status=1, warntime=0)
    box.install_policy(policy(KID, allowance=60, used=10))
    leader = box.login(KID, "3")
    box.start_daemon()
    box.log.wait_for(new_user_line("kid", 0, 60, 10), timeout=20)
    before = store_bytes()
    shown = box.ctl("policy", "show", "kid", "--json")
    admin = AdminService(box)

    first_reply = None
    for method, args, signature in (("SetPolicy", ("kid", '{"allowance": 5}'), "ss"), ("Grant", ("kid", 30), "si"),
                                    ("ResetSettings", (), ""), ("Logout", ("kid",), "s"), ("Status", (), "")):
        name, _message = admin.refused(method, *args, signature=signature)
        first_reply = first_reply or time.monotonic()
        check(name == ERROR + "NotAuthorized", f"{method} refused by polkit failed with {name}")
    check(store_bytes() == before and box.ctl("policy", "show", "kid", "--json") == shown,
          "a call polkit refused changed the store or the settings")
    check(leader.poll() is None, "a refused Logout ended kid's session")
    asked = admin.polkit_records()
    caller = {"name": admin.bus.get_unique_name()}
    check(len(asked) == 5 and all(r["kind"] == "system-bus-name" and r["subject"] == caller
                                  and r["action"] == "org.horavel.manage" and r["flags"] == 1 for r in asked),
          f"polkit was not asked about the caller's bus name for org.horavel.manage, interactively: {asked}")

    admin.answer("yes")
    check(json.loads(admin.call("GetPolicy", "kid")) == json.loads(shown), "GetPolicy is not what policy show prints")
    memory = admin.memory()
    admin.call("SetPolicy", "kid", '{"allowance": 45}')
    set_policy = json.loads(box.ctl("policy", "show", "kid", "--json"))
    check(set_policy.get("allowance") in (45, {"all": 45}) and json.loads(admin.call("GetPolicy", "kid")) == set_policy,
          f"policy show prints {set_policy} after SetPolicy of an allowance of 45")
    # The daemon counts down from the new allowance at its next tick: 45 minus the 10 used.
    wait_until(lambda: (read_channel() or (99,))[0] <= 35, 12, "the tray's record to count from 45 minutes")

    record = read_channel()
    status = json.loads(admin.call("Status"))
    monitoring = json.loads(box.ctl("status", "--json"))["monitoring"]
    check(status["daemon"]["running"] and status["daemon"]["pid"] == box.daemon_pid and status["console"] == "kid"
          and status["allowance"] == 45 and status["monitoring"] == monitoring,
          f"Status says {status}")
    check(status["record"] is not None and (status["record"]["rmin"], status["record"]["nmin"]) in
          ((record.rmin, record.nmin), (read_channel().rmin, read_channel().nmin)),
          f"Status gives the record {status['record']}, the daemon wrote {record}")

    check(admin.call("Grant", "kid", 5) == 5, "Grant of 5 minutes did not answer a total grant of 5")
    box.log.wait_for(r"grant - 5 min - allowed 50 min - used today \d+ min", timeout=10)
    accounts = {a["name"]: a for a in json.loads(admin.call("ListAccounts"))}
    check(accounts.get("kid", {}).get("managed") is True and accounts["kid"]["uid"] == KID.uid
          and accounts["kid"]["today"]["allowance"] == 45 and accounts["kid"]["today"]["granted"] == 5,
          f"ListAccounts does not show kid managed with 45 minutes and 5 given: {accounts.get('kid')}")
    check(accounts.get("pat") == {"name": "pat", "uid": PAT.uid, "managed": False},
          f"ListAccounts does not offer pat as a candidate: {accounts.get('pat')}")

    history = json.loads(admin.call("History", "kid", 1, signature="su"))
    check(history == json.loads(box.ctl("history", "kid", "--days", "1", "--json")),
          "History is not what `horavelctl history --json` prints")
    check(history["days"][0]["granted"] == 5 and {"kind": "grant", "detail": "5"}.items() <=
          next((e for e in history["days"][0]["events"] if e["kind"] == "grant"), {}).items(),
          f"History of today does not hold the grant of 5 minutes: {history['days'][0]}")
    check(admin.refused("History", "kid", 0, signature="su") ==
          (ERROR + "Invalid", ctl_error(box, "history", "kid", "--days", "0")),
          "History of 0 days is not refused with horavelctl's line")

    duplicate = '{"allowance": 30, "allowance": 40}'
    check(admin.refused("SetPolicy", "kid", duplicate) ==
          (ERROR + "Invalid", ctl_error(box, "policy", "set", "kid", "-", stdin=duplicate.encode())),
          "SetPolicy of JSON with a key given twice is not refused with horavelctl's line")
    check(admin.refused("SetSettings", {"warntime": "-3"}, signature="a{ss}") ==
          (ERROR + "Invalid", ctl_error(box, "settings", "set", "warntime=-3")),
          "SetSettings of a negative warntime is not refused with horavelctl's line")
    admin.call("SetSettings", {"warntime": "3"}, signature="a{ss}")
    settings = admin.call("GetSettings")
    check(json.loads(settings)["warntime"] == 3 and json.loads(settings)["status"] == 1,
          f"GetSettings after SetSettings of warntime=3 says {settings}")

    admin.call("Logout", "kid")
    check(exit_status(leader, 5) == -signal.SIGTERM, "Logout did not end kid's session within 5 s")
    check({"call": "TerminateUser", "uid": KID.uid} in box.logind_records(), "no TerminateUser call for kid")
    last_reply = time.monotonic()

    exited = wait_until(lambda: admin.process.poll() is not None, IDLE_SECONDS + 10, "the idle service to exit")
    idle = time.monotonic() - last_reply
    check(exited and admin.process.returncode == 0 and IDLE_SECONDS - 1 <= idle <= IDLE_SECONDS + 5,
          f"the service exited with {admin.process.returncode} {idle:.1f} s after its last call")
    check(not admin.bus.name_has_owner(NAME), f"{NAME} is still owned after the service exited")
    print(f"admin service: name owned {admin.owned - admin.started:.2f} s and first reply "
          f"{first_reply - admin.started:.2f} s after the start (under the unit's settings); after GetPolicy "
          f"Rss {memory['Rss']} kB, Private_Dirty {memory['Private_Dirty']} kB; exited {idle:.1f} s after the "
          f"last call (idle timeout {IDLE_SECONDS} s)")


@scenario(seconds=20, programs=ADMIN_PROGRAMS)
def admin_service_cost(box):
    """The service started directly (not under its unit's settings, so the time is its own and the leak check
    can run at its exit): its start-up to the first answer and its memory after one. A call that waits for
    polkit holds the service past its idle timeout, and past a stop (SIGTERM, as systemd stops it): the call
    is answered, then the service exits."""
    idle = 2
    admin = AdminService(box, idle_seconds=idle, confined=False)
    admin.answer("yes")
    status = json.loads(admin.call("Status"))
    answered = time.monotonic()
    memory = admin.memory()
    check(status["daemon"]["running"] is False and status["console"] is None,
          f"Status without a daemon or a console session says {status}")

    admin.answer(f"yes after {idle + 2}")
    accounts = json.loads(admin.call("ListAccounts"))
    held = time.monotonic() - answered
    check(held >= idle + 2, f"ListAccounts was answered {held:.1f} s after it was asked, before polkit answered")
    check([a for a in accounts if a["name"] in ("kid", "pat")] ==
          [{"name": "kid", "uid": KID.uid, "managed": False}, {"name": "pat", "uid": PAT.uid, "managed": False}],
          f"ListAccounts without a store does not offer kid and pat: {accounts}")

    asked = len(admin.polkit_records())
    client = subprocess.Popen(["busctl", f"--address={SYSTEM_BUS}", "--timeout=30", "call", NAME,
                               "/org/horavel/Admin1", NAME, "Status"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=box.env())
    wait_until(lambda: len(admin.polkit_records()) > asked, 10, "the call to reach polkit")
    admin.process.send_signal(signal.SIGTERM)
    out, err = client.communicate(timeout=20)
    check(client.returncode == 0 and out.startswith(b's "{'), f"a call in progress at the stop got {out!r} {err!r}")
    wait_until(lambda: admin.process.poll() is not None, 10, "the stopped service to exit")
    check(admin.process.returncode == 0,
          f"the service exited with {admin.process.returncode} (a sanitizer report is in admind.out)")
    print(f"admin service: name owned {admin.owned - admin.started:.3f} s, first answer "
          f"{answered - admin.started:.3f} s after the start; after Status Rss {memory['Rss']} kB, "
          f"Private_Dirty {memory['Private_Dirty']} kB")
