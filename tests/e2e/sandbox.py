"""A throw-away Linux desktop for running the real Horavel programs as root.

Everything lives in private mount, network, IPC and pid namespaces entered with unshare(1): tmpfs over
/run (so /var/run, /run/dbus, /run/user and /run/systemd), /home, /var/log, /tmp and /dev/shm; a private
copy of /etc/passwd and /etc/group that knows the test accounts; fake logind seat and session files as
sd-login reads them; a private system bus with a fake logind; a session bus per account with a fake
notification server; a veth pair for the network monitor. The daemon itself runs under the settings of its
systemd unit (unit_sandbox.py), as it would on an installed system. The host is never changed: when the
namespace's first process exits, the kernel kills every process in it and the mounts and links vanish.
"""

import ctypes
import datetime
import glob
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import time
from dataclasses import dataclass
from typing import NamedTuple

import unit_sandbox

PYTHON = "/usr/bin/python3"  # the system interpreter, which has python3-dbus and python3-gi
WORK = "/run/e2e"
HERE = os.path.dirname(os.path.abspath(__file__))
HELPERS = ("fake_service.py", "fake_logind.py", "fake_notifications.py", "fake_tray_host.py", "fake_polkit.py",
           "unit_sandbox.py")
# The daemon's unit: every scenario runs the daemon under its settings (unit_sandbox.py); the admin
# service's, for the scenarios that start it.
UNIT = os.path.join(HERE, "..", "..", "packaging", "horaveld.service.in")
ADMIN_UNIT = os.path.join(HERE, "..", "..", "packaging", "horavel-admind.service.in")
# The daily history fold's, for the scenario that runs it.
FOLD_UNIT = os.path.join(HERE, "..", "..", "packaging", "horavel-history-fold.service.in")
PROGRAMS = ("horaveld", "horavelset", "horavelctl")
LOG_FILE = "/var/log/hvl.log"
PID_FILE = "/var/run/horavel.pid"
STORE = "/var/lib/horavel"  # the root-held store
CHANNEL_KEY = 1500
INTERFACE = "veth0"
INTERFACE_ADDRESS = "10.231.0.1"


class Skip(Exception):
    """The scenario cannot run here; the message says why."""


class Failure(AssertionError):
    """The scenario saw the programs do something wrong."""


@dataclass(frozen=True)
class User:
    name: str
    uid: int

    @property
    def gid(self):
        return self.uid

    @property
    def home(self):
        return f"/home/{self.name}"

    @property
    def runtime_dir(self):
        return f"/run/user/{self.uid}"

    @property
    def bus_address(self):
        return f"unix:path={self.runtime_dir}/bus"

    @property
    def policy_path(self):
        return f"{self.home}/.horavel"

    @property
    def notices_path(self):
        return f"{WORK}/notices-{self.name}.jsonl"


KID = User("kid", 4201)
PAT = User("pat", 4202)


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(predicate, timeout, what, interval=0.2):
    """Polls predicate until it returns something true, and returns that; fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def hold(condition, seconds, message, interval=0.2):
    """Fails with message as soon as condition stops being true during the next seconds."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        check(condition(), message)
        time.sleep(interval)


def read_jsonl(path):
    try:
        with open(path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]
    except FileNotFoundError:
        return []


def minute_of_day(moment=None):
    moment = moment or datetime.datetime.now()
    return moment.hour * 60 + moment.minute


def hhmm(minutes):
    return f"{minutes // 60:02d}:{minutes % 60:02d}"


def guard_midnight(seconds_needed):
    """Skips when the scenario could run across 00:00, where the daemon resets the day's usage."""
    now = datetime.datetime.now()
    left = 86400 - (now.hour * 3600 + now.minute * 60 + now.second)
    if left < max(180, seconds_needed + 60):
        raise Skip(f"local time {now:%H:%M:%S} is too close to midnight for a {seconds_needed} s scenario")


def midday_zone():
    """Puts this scenario's process, and every program it starts (Sandbox.env passes TZ on), in a time zone
    where it is now about noon: for scenarios whose policy allows the computer only during the day, so that
    they run alike at whatever hour they are run."""
    now = datetime.datetime.now(datetime.timezone.utc)
    shift = 12 * 60 - (now.hour * 60 + now.minute)  # local = UTC + shift, within (-12 h, +12 h]
    # A POSIX zone's offset is what is added to local time to give UTC.
    offset = -shift
    hours, minutes = divmod(abs(offset), 60)
    os.environ["TZ"] = f"HVN{'-' if offset < 0 else '+'}{hours}:{minutes:02d}"
    time.tzset()


# Every log line: the 24-character ctime stamp, one blank, the message.
LOG_LINE = re.compile(r"(?:Mon|Tue|Wed|Thu|Fri|Sat|Sun) (?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                      r"[ 123]\d \d\d:\d\d:\d\d \d{4} (.*)")


class DaemonLog:
    """The daemon's log file, read as its list of messages."""

    def messages(self):
        return [message for _, message in self.entries()]

    def entries(self):
        """(time stamp, message) of every line; fails the scenario on a malformed line."""
        try:
            with open(LOG_FILE, encoding="utf-8", errors="replace") as f:
                text = f.read()
        except FileNotFoundError:
            return []
        check(text == "" or text.endswith("\n"), f"log does not end with a newline: {text[-80:]!r}")
        entries = []
        for line in text.splitlines():
            match = LOG_LINE.fullmatch(line)
            check(match is not None, f"malformed log line {line!r}")
            entries.append((datetime.datetime.strptime(line[:24], "%a %b %d %H:%M:%S %Y"), match.group(1)))
        return entries

    def seconds_between(self, first, second):
        """Seconds between the stamps of the messages at two indexes (the stamps have whole seconds)."""
        entries = self.entries()
        return (entries[second][0] - entries[first][0]).total_seconds()

    def find(self, pattern, start=0):
        """Index of the first message at or after start that matches pattern in full, or None."""
        regex = re.compile(pattern)
        for index, message in enumerate(self.messages()[start:], start):
            if regex.fullmatch(message):
                return index
        return None

    def wait_for(self, pattern, start=0, timeout=30):
        return wait_until(lambda: self._found(pattern, start), timeout, f"log line /{pattern}/")[1]

    def _found(self, pattern, start):
        index = self.find(pattern, start)
        return None if index is None else (True, index)

    def count(self, pattern, start=0):
        regex = re.compile(pattern)
        return sum(1 for m in self.messages()[start:] if regex.fullmatch(m))


class Record(NamedTuple):
    rmin: int
    nmin: int
    warn: int
    rsec: int


def read_channel(key=CHANNEL_KEY):
    """The remaining-time record as the tray reads it, or None while the segment does not exist."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.shmget.argtypes = [ctypes.c_int, ctypes.c_size_t, ctypes.c_int]
    libc.shmat.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
    libc.shmat.restype = ctypes.c_void_p
    libc.shmdt.argtypes = [ctypes.c_void_p]
    shm_rdonly = 0o10000
    segment = libc.shmget(key, 0, 0)
    if segment < 0:
        return None
    address = libc.shmat(segment, None, shm_rdonly)
    if address is None or address == ctypes.c_void_p(-1).value:
        return None
    try:
        return Record(*struct.unpack("=4i", ctypes.string_at(address, 16)))
    finally:
        libc.shmdt(address)


def segment_info(key=CHANNEL_KEY):
    """The kernel's view of the segment with this key: perms, size, owner uid and the number of
    processes attached (from /proc/sysvipc/shm); None while there is none."""
    with open("/proc/sysvipc/shm", encoding="ascii") as f:
        header = f.readline().split()
        for line in f:
            row = dict(zip(header, line.split()))
            if int(row["key"]) == key:
                return {"perms": int(row["perms"], 8), "size": int(row["size"]), "uid": int(row["uid"]),
                        "attached": int(row["nattch"])}
    return None


def interface_flags(name=INTERFACE):
    out = subprocess.run(["ip", "-o", "link", "show", name], capture_output=True, text=True, check=True).stdout
    match = re.search(r"<([^>]*)>", out)
    return set(match.group(1).split(",")) if match else set()


def process_alive(pid):
    try:
        with open(f"/proc/{pid}/stat", encoding="ascii") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def run(argv, **kwargs):
    kwargs.setdefault("check", True)
    return subprocess.run(argv, **kwargs)


class Sandbox:
    """Builds the fake desktop inside the namespaces and drives the programs there."""

    def __init__(self, programs):
        self.programs = programs
        self.children = []
        self.sessions = {}
        self.log = DaemonLog()
        self.daemon_pid = None

    # ---- construction -------------------------------------------------------------------------------

    def setup(self, users=(KID, PAT), system_bus=True, logind=True):
        self._mount_tmpfs("/run", "0755")
        os.makedirs(f"{WORK}/bin")
        for name, path in self.programs.items():
            shutil.copy2(path, f"{WORK}/bin/{name}")
            # Qt programs look for their translations beside themselves.
            for translation in glob.glob(os.path.join(os.path.dirname(path), "*.qm")):
                shutil.copy2(translation, f"{WORK}/bin/")
        for helper in HELPERS:
            shutil.copy2(os.path.join(HERE, helper), f"{WORK}/{helper}")
        shutil.copy2(UNIT, f"{WORK}/horaveld.service")
        shutil.copy2(ADMIN_UNIT, f"{WORK}/horavel-admind.service")
        shutil.copy2(FOLD_UNIT, f"{WORK}/horavel-history-fold.service")
        for path, mode in (("/home", "0755"), ("/var/log", "0755"), ("/tmp", "1777"), ("/dev/shm", "1777")):
            self._mount_tmpfs(path, mode)
        self._private_store()
        if os.path.realpath("/var/run") != "/run":
            self._mount_tmpfs("/var/run", "0755")
        os.chdir(WORK)
        self._check_private_mounts()
        self._accounts(users)
        for directory in ("/run/systemd/seats", "/run/systemd/sessions", "/run/systemd/users", "/run/dbus",
                          "/run/lock"):
            os.makedirs(directory, exist_ok=True)
        for user in users:
            os.makedirs(user.home, mode=0o755)
            os.chown(user.home, user.uid, user.gid)
            os.makedirs(user.runtime_dir, mode=0o700)
            os.chown(user.runtime_dir, user.uid, user.gid)
        self._network()
        if system_bus:
            self._system_bus()
            if logind:
                self.start_logind()
        for user in users:
            self._session_bus(user)

    @staticmethod
    def _mount_tmpfs(path, mode):
        run(["mount", "-t", "tmpfs", "-o", f"mode={mode},size=256m", "tmpfs", path])

    def _private_store(self):
        """A private, empty store at its real path, without creating anything on the host: /var/lib becomes
        a tmpfs of links to the host's entries (seen through a bind mount) beside a tmpfs of our own."""
        parent = os.path.dirname(STORE)
        host_view = f"{WORK}/host-var-lib"
        os.makedirs(host_view)
        run(["mount", "--bind", parent, host_view])
        self._mount_tmpfs(parent, "0755")
        for entry in os.listdir(host_view):
            if entry != os.path.basename(STORE):
                os.symlink(f"{host_view}/{entry}", f"{parent}/{entry}")
        os.makedirs(STORE)
        self._mount_tmpfs(STORE, "0700")

    @staticmethod
    def _check_private_mounts():
        """Everything the programs write must land on this namespace's own tmpfs mounts."""
        with open("/proc/self/mountinfo", encoding="utf-8") as f:
            mounts = {}
            for line in f:
                fields = line.split()
                mounts[fields[4]] = fields[fields.index("-") + 1]
        for path in ("/run", "/home", "/var/log", "/tmp", "/dev/shm", STORE):
            check(mounts.get(path) == "tmpfs", f"{path} is not a private tmpfs in the sandbox")
        check(os.path.realpath("/var/run") == "/run" or mounts.get("/var/run") == "tmpfs",
              "/var/run is not a private tmpfs in the sandbox")

    @staticmethod
    def _accounts(users):
        """Private copies of passwd and group with the test accounts. Host entries with the same names or
        ids are left out of the copies, so names and ids map one to one inside."""
        names = {u.name for u in users}
        ids = {str(u.uid) for u in users}
        for table, entry in (("passwd", "{n}:x:{u}:{u}:{n}:/home/{n}:/bin/sh"), ("group", "{n}:x:{u}:")):
            with open(f"/etc/{table}", encoding="utf-8") as f:
                lines = [line for line in f.read().splitlines()
                         if line.split(":")[0] not in names and (line.split(":") + ["", "", ""])[2] not in ids]
            lines += [entry.format(n=u.name, u=u.uid) for u in users]
            copy = f"{WORK}/{table}"
            with open(copy, "w", encoding="utf-8") as f:
                f.write("\n".join(lines) + "\n")
            os.chmod(copy, 0o644)
            run(["mount", "--bind", copy, f"/etc/{table}"])

    @staticmethod
    def _network():
        run(["ip", "link", "set", "lo", "up"])
        run(["ip", "link", "add", INTERFACE, "type", "veth", "peer", "name", "veth1"])
        run(["ip", "addr", "add", f"{INTERFACE_ADDRESS}/24", "dev", INTERFACE])
        run(["ip", "link", "set", INTERFACE, "up"])
        run(["ip", "link", "set", "veth1", "up"])

    @staticmethod
    def _bus_config(path, kind, address):
        with open(path, "w", encoding="utf-8") as f:
            f.write(f"""<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>{kind}</type>
  <listen>{address}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
""")
        os.chmod(path, 0o644)

    def _system_bus(self):
        config = f"{WORK}/system-bus.conf"
        self._bus_config(config, "system", "unix:path=/run/dbus/system_bus_socket")
        self._spawn_bus(config)
        wait_until(lambda: os.path.exists("/run/dbus/system_bus_socket"), 10, "the system bus socket")

    def _spawn_bus(self, config, user=None):
        """A bus daemon whose complaints (it cannot raise its descriptor limit here) go to a file."""
        with open(f"{WORK}/buses.out", "ab") as complaints:
            self.spawn(["dbus-daemon", "--nofork", "--nopidfile", f"--config-file={config}"], user=user,
                       stderr=complaints)

    def start_logind(self):
        ready = f"{WORK}/logind.ready"
        self.spawn([PYTHON, f"{WORK}/fake_logind.py", "--record", f"{WORK}/logind.jsonl", "--ready", ready])
        wait_until(lambda: os.path.exists(ready), 15, "the fake logind")

    def _session_bus(self, user):
        config = f"{WORK}/session-bus-{user.name}.conf"
        self._bus_config(config, "session", user.bus_address)
        self._spawn_bus(config, user)
        wait_until(lambda: os.path.exists(f"{user.runtime_dir}/bus"), 10, f"the session bus of {user.name}")
        ready = f"{user.runtime_dir}/notifications.ready"
        with open(user.notices_path, "w", encoding="utf-8"):
            pass
        os.chown(user.notices_path, user.uid, user.gid)
        self.spawn([PYTHON, f"{WORK}/fake_notifications.py", "--address", user.bus_address,
                    "--record", user.notices_path, "--ready", ready], user=user)
        wait_until(lambda: os.path.exists(ready), 15, f"the notification server of {user.name}")

    def env(self, user=None):
        env = {"PATH": f"{WORK}/bin:/usr/sbin:/usr/bin:/sbin:/bin", "LANG": "C.UTF-8"}
        for name in ("TZ", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        if user:
            env.update(HOME=user.home, USER=user.name, LOGNAME=user.name, XDG_RUNTIME_DIR=user.runtime_dir,
                       DBUS_SESSION_BUS_ADDRESS=user.bus_address)
        return env

    def spawn(self, argv, user=None, extra_env=None, **kwargs):
        """Starts a long-running helper, stopped at teardown; as user when given."""
        if user:
            kwargs.update(user=user.uid, group=user.gid, extra_groups=[])
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        kwargs.setdefault("cwd", user.home if user else WORK)
        child = subprocess.Popen(argv, env={**self.env(user), **(extra_env or {})}, **kwargs)
        self.children.append(child)
        return child

    # ---- the console --------------------------------------------------------------------------------

    def login(self, user, session_id):
        """Opens a console session for user: a leader process and logind's session and user records."""
        leader = self.spawn(["sleep", "infinity"], user=user)
        self.sessions[session_id] = (user, leader)
        self._write_env(f"/run/systemd/sessions/{session_id}", {
            "UID": user.uid, "USER": user.name, "ACTIVE": 1, "IS_DISPLAY": 1, "STATE": "active", "REMOTE": 0,
            "TYPE": "x11", "ORIGINAL_TYPE": "x11", "CLASS": "user", "SCOPE": f"session-{session_id}.scope",
            "SEAT": "seat0", "VTNR": 7, "DISPLAY": ":0", "SERVICE": "lightdm", "DESKTOP": "xfce",
            "LEADER": leader.pid, "REALTIME": int(time.time() * 1e6), "MONOTONIC": int(time.monotonic() * 1e6),
        })
        self._write_env(f"/run/systemd/users/{user.uid}", {
            "NAME": user.name, "STATE": "active", "RUNTIME": user.runtime_dir, "DISPLAY": session_id,
            "SESSIONS": session_id, "SEATS": "seat0", "ACTIVE_SESSIONS": session_id,
            "ONLINE_SESSIONS": session_id, "ACTIVE_SEATS": "seat0", "ONLINE_SEATS": "seat0",
        })
        self.switch_console(session_id)
        return leader

    def switch_console(self, session_id):
        """Makes session_id the active session of seat0 (None: nobody at the console)."""
        seat = {"IS_SEAT0": 1, "CAN_MULTI_SESSION": 1, "CAN_TTY": 1, "CAN_GRAPHICAL": 1}
        if session_id is not None:
            user = self.sessions[session_id][0]
            seat.update(ACTIVE=session_id, ACTIVE_UID=user.uid)
        seat["SESSIONS"] = " ".join(self.sessions)
        seat["UIDS"] = " ".join(str(u.uid) for u, _ in self.sessions.values())
        self._write_env("/run/systemd/seats/seat0", seat)

    @staticmethod
    def _write_env(path, values):
        tmp = path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            f.write("# This is private data. Do not parse.\n")
            for key, value in values.items():
                f.write(f"{key}={value}\n")
        os.chmod(tmp, 0o644)
        os.rename(tmp, path)

    # ---- the programs -------------------------------------------------------------------------------

    @staticmethod
    def daemon_command(*args):
        """horaveld with args, run under the settings of its systemd unit."""
        return unit_sandbox.command(f"{WORK}/unit_sandbox.py", f"{WORK}/horaveld.service",
                                    [f"{WORK}/bin/horaveld", *args])

    def daemon_env(self):
        """The daemon's environment. LeakSanitizer inspects a process through ptrace, which the unit's system
        call filter refuses, so it is off for the daemon (the unit tests find leaks; the daemon is ended by
        SIGTERM here anyway, where no leak check runs)."""
        env = self.env()
        if "ASAN_OPTIONS" in env:
            env["ASAN_OPTIONS"] += ":detect_leaks=0"
        return env

    def start_daemon(self, extra_env=None):
        """Starts horaveld as the init system would, and returns its pid once the pid file names it."""
        with open(f"{WORK}/horaveld.out", "ab") as out:
            run(self.daemon_command(), stdin=subprocess.DEVNULL, stdout=out, stderr=out, cwd="/",
                env={**self.daemon_env(), **(extra_env or {})}, timeout=20)
        self.daemon_pid = wait_until(self._pid_from_file, 15, "the daemon's pid file")
        return self.daemon_pid

    @staticmethod
    def _pid_from_file():
        try:
            with open(PID_FILE, encoding="ascii") as f:
                text = f.read()
        except FileNotFoundError:
            return None
        return int(text) if re.fullmatch(r"[1-9][0-9]*", text) else None

    def signal_daemon(self, signo):
        os.kill(self.daemon_pid, signo)

    def daemon_alive(self):
        return self.daemon_pid is not None and process_alive(self.daemon_pid)

    def ctl(self, *args, stdin=None):
        """Runs horavelctl as root and returns its standard output; any failure fails the scenario."""
        result = run([f"{WORK}/bin/horavelctl", *args], input=stdin, capture_output=True, env=self.env(),
                     check=False, timeout=60)
        check(result.returncode == 0, f"horavelctl {' '.join(args)} exited {result.returncode}: "
                                      f"{result.stderr.decode(errors='replace').strip()}")
        return result.stdout

    def set_settings(self, **settings):
        """Installs settings through horavelctl (and so horavelset and its signal)."""
        self.ctl("settings", "set", *(f"{key}={value}" for key, value in settings.items()))

    def install_policy(self, records):
        """Installs a policy list (records in horavelctl's JSON form) through horavelset."""
        archive = self.ctl("encode", "--typedstream", "-", stdin=json.dumps(records).encode())
        result = run([f"{WORK}/bin/horavelset"], input=archive, capture_output=True, env=self.env(),
                     check=False, timeout=60)
        check(result.returncode == 0 and not result.stdout and not result.stderr,
              f"horavelset exited {result.returncode}, stdout {result.stdout!r}, stderr {result.stderr!r}")

    def policy(self, user):
        """The user's policy file as horavelctl decodes it."""
        return json.loads(self.ctl("decode", user.policy_path))

    def notices(self, user=KID):
        return [n for n in read_jsonl(user.notices_path) if n["call"] == "Notify"]

    def closed_notices(self, user=KID):
        return [n["id"] for n in read_jsonl(user.notices_path) if n["call"] == "CloseNotification"]

    def logind_records(self):
        return read_jsonl(f"{WORK}/logind.jsonl")

    def start_tray_host(self, user=KID):
        """A StatusNotifierItem tray host (fake_tray_host.py) on user's session bus; returns its process."""
        ready = f"{user.runtime_dir}/tray-host.ready"
        if os.path.exists(ready):
            os.remove(ready)
        record = f"{WORK}/tray-{user.name}.jsonl"
        with open(record, "a", encoding="utf-8"):
            pass
        os.chown(record, user.uid, user.gid)
        host = self.spawn([PYTHON, f"{WORK}/fake_tray_host.py", "--address", user.bus_address,
                           "--record", record, "--ready", ready], user=user)
        wait_until(lambda: os.path.exists(ready), 15, f"the tray host of {user.name}")
        return host

    def tray_items(self, user=KID):
        """Every registration of a tray item with user's tray hosts, in order."""
        return [r for r in read_jsonl(f"{WORK}/tray-{user.name}.jsonl") if r["call"] == "RegisterStatusNotifierItem"]

    @staticmethod
    def tray_tooltip(item, user=KID):
        """The text a panel shows on hovering over the tray item (its ToolTip's title and text), or None
        when the item cannot be asked."""
        import dbus.bus  # pylint: disable=import-outside-toplevel
        try:
            bus = dbus.bus.BusConnection(user.bus_address)
            tooltip = bus.get_object(item["service"], item["path"]).Get(
                "org.kde.StatusNotifierItem", "ToolTip", dbus_interface=dbus.PROPERTIES_IFACE, timeout=5)
            bus.close()
        except dbus.DBusException:
            return None
        return "\n".join(str(part) for part in (tooltip[2], tooltip[3]) if str(part))

    def emit_prepare_for_sleep(self, start):
        run(["dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.login1", "/org/freedesktop/login1",
             "org.horavel.test.FakeLogind.EmitPrepareForSleep", f"boolean:{'true' if start else 'false'}"],
            stdout=subprocess.DEVNULL, timeout=10)

    # ---- the end ------------------------------------------------------------------------------------

    def sanitizer_reports(self):
        try:
            with open(f"{WORK}/horaveld.out", encoding="utf-8", errors="replace") as f:
                text = f.read()
        except FileNotFoundError:
            return ""
        return text if re.search(r"ERROR: AddressSanitizer|runtime error:|ERROR: LeakSanitizer", text) else ""

    def report(self):
        """Prints what the programs did, for the test log."""
        print("---- /var/log/hvl.log")
        try:
            with open(LOG_FILE, encoding="utf-8", errors="replace") as f:
                print(f.read(), end="")
        except FileNotFoundError:
            print("(none)")
        for title, path in (("notices of kid", KID.notices_path), ("notices of pat", PAT.notices_path),
                            ("desktop", f"{WORK}/tray.out"),
                            ("fake logind", f"{WORK}/logind.jsonl"), ("daemon output", f"{WORK}/horaveld.out"),
                            ("bus daemons", f"{WORK}/buses.out")):
            if os.path.exists(path) and os.path.getsize(path):
                print(f"---- {title}")
                with open(path, encoding="utf-8", errors="replace") as f:
                    print(f.read(), end="")

    def teardown(self):
        if self.daemon_alive():
            os.kill(self.daemon_pid, signal.SIGTERM)
        for child in reversed(self.children):
            if child.poll() is None:
                child.terminate()
        for child in reversed(self.children):
            try:
                child.wait(timeout=5)
            except subprocess.TimeoutExpired:
                child.kill()
