"""Runs a program the way systemd runs horaveld.service, with the settings read from the unit file itself,
so that the unit and the scenarios cannot drift apart. systemd is not PID 1 where the scenarios run.

    unit_sandbox.py UNIT_FILE -- PROGRAM ARGS...            (as root, in a mount namespace of its own)

What it applies, each from the unit's line of the same name:
- ProtectSystem=strict with ReadWritePaths= and StateDirectory=: every mount outside /proc, /sys and
  /dev is remounted read-only, except the writable paths (bound onto themselves first);
- PrivateTmp=: fresh /tmp and /var/tmp; ProtectProc=invisible: a /proc of its own with hidepid;
  ProtectKernelTunables= and ProtectControlGroups=: /proc/sys and /sys read-only;
- UMask=;
- CapabilityBoundingSet= and NoNewPrivileges=, through setpriv(1);
- SystemCallFilter= (groups expanded by `systemd-analyze syscall-filter`, the same table systemd uses),
  SystemCallErrorNumber=, SystemCallArchitectures=native, RestrictAddressFamilies=, RestrictNamespaces=,
  MemoryDenyWriteExecute= and LockPersonality=, as one seccomp filter loaded just before the program
  starts, with the rules systemd documents for each.
Left to systemd alone, as they need its cgroups or change nothing the scenarios could see: DevicePolicy=,
IPAddressDeny=, ProtectClock='s device rule, ProtectKernelModules=, ProtectKernelLogs=, ProtectHostname=,
RestrictRealtime=, RestrictSUIDSGID=.
"""

import errno
import os
import socket
import subprocess
import sys

PYTHON = "/usr/bin/python3"
API_FILE_SYSTEMS = ("/proc", "/sys", "/dev")
# Always allowed by systemd whatever the filter says, so that the service can start and end.
ALWAYS_ALLOWED = ("execve", "exit", "exit_group", "getrlimit", "rt_sigreturn", "sigreturn")
NAMESPACE_FLAGS = 0x7E020000  # CLONE_NEWNS | NEWCGROUP | NEWUTS | NEWIPC | NEWUSER | NEWPID | NEWNET
PROT_WRITE, PROT_EXEC, SHM_EXEC = 0x2, 0x4, 0o100000
PER_LINUX, PERSONALITY_QUERY = 0, 0xFFFFFFFF
AF_MAX = 46  # the families Linux knows


def read_service(path):
    """The [Service] section of a unit file: each key with its values in order (a key may repeat)."""
    settings = {}
    section = None
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.strip()
            if not line or line.startswith(("#", ";")):
                continue
            if line.startswith("["):
                section = line
                continue
            if section == "[Service]" and "=" in line:
                key, value = line.split("=", 1)
                settings.setdefault(key.strip(), []).append(value.strip())
    return settings


def last(settings, key, default=None):
    return settings[key][-1] if key in settings else default


def enabled(settings, key):
    return last(settings, key, "no") in ("yes", "true", "1", "on")


def words(settings, key):
    return [word for value in settings.get(key, []) for word in value.split()]


def capabilities(settings):
    """setpriv's spelling of the bounding set: cap_kill -> kill."""
    return [word.lower().removeprefix("cap_") for word in words(settings, "CapabilityBoundingSet")]


def writable_paths(settings):
    paths = [path.lstrip("-+") for path in words(settings, "ReadWritePaths")]
    paths += [f"/var/lib/{name}" for name in words(settings, "StateDirectory")]
    if enabled(settings, "PrivateTmp"):
        paths += ["/tmp", "/var/tmp"]
    return paths


def command(launcher, unit_file, argv):
    """The command line that runs argv under the unit's settings from a root process, launcher being a copy
    of this file."""
    return ["unshare", "--mount", "--propagation", "slave", PYTHON, "-B", launcher, unit_file, "--", *argv]


# ---- inside: mounts, then the rights, then the filter --------------------------------------------------

def mount(*args):
    subprocess.run(["mount", *args], check=True)


def under(path, roots):
    return any(path == root or path.startswith(root.rstrip("/") + "/") for root in roots)


def mount_points():
    with open("/proc/self/mountinfo", encoding="utf-8") as f:
        return [line.split()[4].replace("\\040", " ") for line in f]


def apply_mounts(settings):
    if enabled(settings, "PrivateTmp"):
        for path in ("/tmp", "/var/tmp"):
            mount("-t", "tmpfs", "-o", "mode=1777", "tmpfs", path)
    if last(settings, "ProtectProc") == "invisible":
        mount("-t", "proc", "-o", "hidepid=invisible", "proc", "/proc")
    writable = [path for path in writable_paths(settings) if os.path.isdir(path)]
    for path in writable:
        mount("--rbind", path, path)
    if last(settings, "ProtectSystem") == "strict":
        for point in mount_points():
            if not under(point, API_FILE_SYSTEMS) and not under(point, writable):
                mount("-o", "remount,bind,ro", point)
    if enabled(settings, "ProtectKernelTunables"):
        mount("--bind", "/proc/sys", "/proc/sys")
        mount("-o", "remount,bind,ro", "/proc/sys")
    if enabled(settings, "ProtectKernelTunables") or enabled(settings, "ProtectControlGroups"):
        for point in mount_points():
            if under(point, ("/sys",)):
                mount("-o", "remount,bind,ro", point)


def syscall_groups():
    """Every @group of this systemd, as the names (calls or @groups) it lists."""
    table = subprocess.run(["systemd-analyze", "syscall-filter"], capture_output=True, text=True,
                           check=True).stdout
    groups, current = {}, None
    for line in table.splitlines():
        entry = line.strip()
        if not entry or entry.startswith("#"):
            continue
        if not line.startswith(" "):
            current = groups.setdefault(entry, [])
        elif current is not None:
            current.append(entry)
    return groups


def expand(names, groups):
    calls = set()
    for name in names:
        calls |= expand(groups.get(name, []), groups) if name.startswith("@") else {name}
    return calls


def allowed_calls(settings):
    groups = syscall_groups()
    allowed, denied = set(), set()
    for value in settings.get("SystemCallFilter", []):
        if value.startswith("~"):
            denied |= expand(value[1:].split(), groups)
        else:
            allowed |= expand(value.split(), groups)
    return (allowed - denied) | set(ALWAYS_ALLOWED)


def load_filter(settings):
    import seccomp  # python3-seccomp, only needed here, inside

    if "SystemCallFilter" not in settings:
        return
    error = getattr(errno, last(settings, "SystemCallErrorNumber", ""), None)
    rules = seccomp.SyscallFilter(defaction=seccomp.ERRNO(error) if error else seccomp.KILL_PROCESS)
    allowed = allowed_calls(settings)
    conditional = {}
    if "RestrictAddressFamilies" in settings:
        families = {getattr(socket, name) for name in words(settings, "RestrictAddressFamilies")}
        conditional["socket"] = [(seccomp.ALLOW, seccomp.Arg(0, seccomp.EQ, family)) for family in families] + [
            (seccomp.ERRNO(errno.EAFNOSUPPORT), seccomp.Arg(0, seccomp.EQ, family))
            for family in range(AF_MAX) if family not in families]
    if enabled(settings, "RestrictNamespaces"):
        conditional["clone"] = [(seccomp.ALLOW, seccomp.Arg(0, seccomp.MASKED_EQ, NAMESPACE_FLAGS, 0))]
        # clone3 passes its flags in memory a filter cannot read: systemd answers ENOSYS, and the C library
        # falls back to clone.
        conditional["clone3"] = [(seccomp.ERRNO(errno.ENOSYS), None)]
        conditional["unshare"] = conditional["setns"] = []
    if enabled(settings, "MemoryDenyWriteExecute"):
        both = PROT_WRITE | PROT_EXEC
        conditional["mmap"] = [(seccomp.ALLOW, seccomp.Arg(2, seccomp.MASKED_EQ, both, value))
                               for value in (0, PROT_WRITE, PROT_EXEC)]
        conditional["mprotect"] = conditional["pkey_mprotect"] = [
            (seccomp.ALLOW, seccomp.Arg(2, seccomp.MASKED_EQ, PROT_EXEC, 0))]
        conditional["shmat"] = [(seccomp.ALLOW, seccomp.Arg(2, seccomp.MASKED_EQ, SHM_EXEC, 0))]
    if enabled(settings, "LockPersonality"):
        conditional["personality"] = [(seccomp.ALLOW, seccomp.Arg(0, seccomp.EQ, value))
                                      for value in (PER_LINUX, PERSONALITY_QUERY)]
    for call in sorted(allowed - set(conditional)):
        add_rule(rules, seccomp.ALLOW, call)
    for call, call_rules in conditional.items():
        if call in allowed or call == "clone3":
            for action, condition in call_rules:
                add_rule(rules, action, call, *(condition,) if condition else ())
    rules.load()


def add_rule(rules, action, call, *conditions):
    try:
        rules.add_rule(action, call, *conditions)
    except (RuntimeError, ValueError):
        pass  # a call this architecture does not have (the groups list every architecture's)


def main():
    args = sys.argv[1:]
    filtering = args[:1] == ["--filter"]
    unit_file, separator, *argv = args[1:] if filtering else args
    if separator != "--" or not argv:
        sys.exit("usage: unit_sandbox.py UNIT_FILE -- PROGRAM ARGS...")
    settings = read_service(unit_file)
    if filtering:
        load_filter(settings)
        os.execv(argv[0], argv)
    apply_mounts(settings)
    if "UMask" in settings:
        os.umask(int(last(settings, "UMask"), 8))
    rights = ["--bounding-set", ",".join(["-all"] + [f"+{cap}" for cap in capabilities(settings)]),
              "--inh-caps", "-all"]
    if enabled(settings, "NoNewPrivileges"):
        rights.append("--no-new-privs")
    os.execv("/usr/bin/setpriv", ["setpriv", *rights, "--", PYTHON, "-B", os.path.abspath(__file__), "--filter",
                                  unit_file, "--", *argv])


if __name__ == "__main__":
    main()
