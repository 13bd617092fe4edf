#!/usr/bin/python3
"""Runs one end-to-end scenario of the real Horavel programs in private namespaces.

    run_scenario.py NAME --program horaveld=PATH --program horavelset=PATH --program horavelctl=PATH
    run_scenario.py --list

Exit status: 0 passed, 1 failed, 77 skipped (the reason is printed: not root, namespaces not permitted,
a program not built, too close to midnight). The host is checked to be unchanged afterwards.
"""

import argparse
import ctypes
import hashlib
import os
import signal
import subprocess
import sys
import traceback

import registry
import sandbox
import scenarios_controls  # noqa: F401  (registers scenarios)
import scenarios_daemon  # noqa: F401
import scenarios_demo  # noqa: F401
import scenarios_enforce  # noqa: F401
import scenarios_firewall  # noqa: F401
import scenarios_hostile  # noqa: F401
import scenarios_monitors  # noqa: F401
import scenarios_pam  # noqa: F401
import scenarios_readme  # noqa: F401
import scenarios_sandbox  # noqa: F401
import scenarios_settings  # noqa: F401
import scenarios_attack  # noqa: F401
import scenarios_admin  # noqa: F401
import scenarios_store  # noqa: F401
import scenarios_tray  # noqa: F401
from sandbox import Failure, Skip

SKIP = 77
UNSHARE = ["unshare", "--mount", "--net", "--ipc", "--pid", "--fork", "--mount-proc", "--propagation", "private"]
# Host files that the sandbox replaces inside and that must come out unchanged. (The daemon's own files
# are kept inside by the tmpfs mounts, which the sandbox checks as it builds them; other programs on the
# host may touch those paths while a scenario runs.)
WATCHED = ("/etc/passwd", "/etc/group", "/etc/shadow")


def skip(reason):
    print(f"SKIP: {reason}")
    sys.exit(SKIP)


def fingerprint(paths):
    prints = {}
    for path in paths:
        try:
            with open(path, "rb") as f:
                prints[path] = hashlib.sha256(f.read()).hexdigest()
        except FileNotFoundError:
            prints[path] = None
        except OSError as error:
            prints[path] = str(error)
    return prints


def die_with_parent():
    prctl_set_pdeathsig = 1
    ctypes.CDLL(None).prctl(prctl_set_pdeathsig, signal.SIGKILL)


def outside(args, chosen):
    if os.geteuid() != 0:
        skip("end-to-end scenarios run as root (they build private namespaces)")
    for name in chosen.programs:
        path = args.programs.get(name, "")
        if not path or not os.access(path, os.X_OK):
            skip(f"{name} is not built ({path or 'no path given'})")
    probe = subprocess.run(UNSHARE + ["true"], capture_output=True, text=True)
    if probe.returncode != 0:
        skip(f"private namespaces are not permitted here: {probe.stderr.strip()}")
    try:
        sandbox.guard_midnight(chosen.seconds)
    except Skip as reason:
        skip(str(reason))

    before = fingerprint(WATCHED)
    argv = UNSHARE + ["--kill-child", sandbox.PYTHON, "-B", os.path.abspath(__file__), chosen.name, "--inside"]
    for name, path in args.programs.items():
        argv += ["--program", f"{name}={os.path.abspath(path)}"]
    try:
        code = subprocess.run(argv, preexec_fn=die_with_parent, timeout=chosen.limit + 30).returncode
    except subprocess.TimeoutExpired:
        print(f"FAIL: the sandbox did not end within {chosen.limit + 30} s")
        code = 1
    after = fingerprint(WATCHED)
    changed = [path for path in WATCHED if before[path] != after[path]]
    if changed:
        print(f"FAIL: the scenario changed the host: {', '.join(changed)}")
        return 1
    return code


def inside(args, chosen):
    """As the first process of the new pid namespace: run the scenario in a child and reap every orphan
    (the daemon detaches, notices fork twice) until that child ends."""
    child = os.fork()
    if child == 0:
        code = 1
        try:
            code = run_scenario(args, chosen)
        finally:
            sys.stdout.flush()
            os._exit(code)
    while True:
        pid, status = os.waitpid(-1, 0)
        if pid == child:
            code = os.waitstatus_to_exitcode(status)
            return code if code in (0, 1, SKIP) else 1


def run_scenario(args, chosen):
    box = sandbox.Sandbox({name: args.programs[name] for name in chosen.programs})

    def out_of_time(_signo, _frame):
        raise Failure(f"the scenario took longer than {chosen.limit} s")

    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(chosen.limit)
    code = 1
    try:
        box.setup(**chosen.setup)
        chosen.run(box)
        reports = box.sanitizer_reports()
        if reports:
            raise Failure("the daemon reported sanitizer errors (see its output below)")
        code = 0
        print(f"PASS: {chosen.name}")
    except Skip as reason:
        code = SKIP
        print(f"SKIP: {reason}")
    except Failure as failure:
        print(f"FAIL: {chosen.name}: {failure}")
        traceback.print_exc(limit=-3)
    except Exception:  # noqa: BLE001 - an error in the harness fails the scenario with its trace
        print(f"FAIL: {chosen.name}: harness error")
        traceback.print_exc()
    finally:
        signal.alarm(0)
        if code != 0 or chosen.report:
            box.report()
        box.teardown()
    return code


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("scenario", nargs="?", choices=sorted(registry.SCENARIOS))
    parser.add_argument("--list", action="store_true", help="print each scenario's name and expected seconds")
    parser.add_argument("--program", action="append", default=[], metavar="NAME=PATH")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.list:
        for name, known in sorted(registry.SCENARIOS.items()):
            print(name, known.seconds)
        return
    if not args.scenario:
        parser.error("name a scenario")
    args.programs = dict(item.split("=", 1) for item in args.program)
    chosen = registry.SCENARIOS[args.scenario]
    sys.stdout.reconfigure(line_buffering=True)
    sys.exit(inside(args, chosen) if args.inside else outside(args, chosen))


if __name__ == "__main__":
    main()
