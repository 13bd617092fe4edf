#!/usr/bin/python3
"""What the real horaveld costs per tick, run the way the end-to-end scenarios run it: as root, in the
private namespaces of tests/e2e/sandbox.py (a fake console session of "kid", a private store, a private
network), with 500 extra processes of another account and a policy with two time ranges, a network
range and 5 watched applications, one of them running. Part of scripts/bench.

    bench_daemon.py --program horaveld=PATH --program horavelset=PATH --program horavelctl=PATH \
        --program empty_tick_reference=PATH --out DIR

Prints one JSON object: the daemon's CPU in each of three 65-second windows (13 ticks: the application
check comes every 65 seconds, the user's minute every 60; its scheduler run time from
/proc/PID/schedstat, under the unit's settings as installed), that of empty_tick_reference (the same run
loop and 5-second timer with nothing in the tick, under the same settings) sampled alongside, its memory (/proc/PID/smaps_rollup), the
system calls of one window (strace -f, each tick's calls apart) and the instructions of each tick
(valgrind --tool=callgrind, collecting inside the tick only and dumping after each; valgrind cannot run
under the unit's system call filter, so this run is without it). The callgrind dumps are left in DIR.
Exit status 77 when root or namespaces are missing.
"""

import argparse
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import sandbox  # noqa: E402
import unit_sandbox  # noqa: E402
from policies import policy  # noqa: E402
from run_scenario import SKIP, UNSHARE, die_with_parent  # noqa: E402
from sandbox import KID, PAT, WORK  # noqa: E402

EXTRA = 500
APPS = ("hvgame1", "hvgame2", "hvgame3", "hvgame4", "hvgame5")
RUNNING_APP = APPS[2]
# 65 seconds: 13 ticks, one of them the application minute's and one the user minute's.
WINDOW = 65
WINDOWS = 3
SAMPLE = 0.1
TICK_FUNCTION = "hv::Monitor::userMonitor()"


def schedstat_ns(pid):
    with open(f"/proc/{pid}/schedstat", encoding="ascii") as f:
        return int(f.read().split()[0])


def smaps_rollup(pid):
    values = {}
    with open(f"/proc/{pid}/smaps_rollup", encoding="ascii") as f:
        for line in f:
            match = re.match(r"(\w+):\s+(\d+) kB", line)
            if match:
                values[match.group(1)] = int(match.group(2))
    return {key: values.get(key, 0) for key in ("Rss", "Pss", "Private_Dirty", "Private_Clean",
                                                 "Shared_Clean")}


def prepare(box):
    """The settings, the policy, the processes and kid's console session."""
    box.set_settings(status=1, appmon=1, netmon=1, showremain=1)
    now = sandbox.minute_of_day()
    ranges = [(max(0, now - 60), min(1439, now + 60)), (min(1439, now + 120), min(1439, now + 180))]
    box.install_policy(policy(KID, allowance=1000, time_ranges=ranges, net_ranges=[(0, 1439)],
                              apps=[(f"{name}.app", 600, 0) for name in APPS]))
    for name in APPS:
        shutil.copy2("/bin/sleep", f"{WORK}/bin/{name}")
    box.spawn([f"{WORK}/bin/{RUNNING_APP}", "infinity"], user=KID)
    for _ in range(4):
        box.spawn(["sleep", "infinity"], user=KID)
    # The extra processes belong to another account, as most of a desktop's do.
    box.spawn(["/bin/sh", "-c", f"for i in $(seq {EXTRA}); do sleep infinity & done; wait"], user=PAT)
    sandbox.wait_until(lambda: sum(1 for e in os.listdir("/proc") if e.isdigit()) > EXTRA, 30,
                       "the extra processes")
    box.login(KID, "3")


def cpu_windows(pids):
    """The run time of each process in `pids` in each of WINDOWS consecutive windows of WINDOW seconds, and
    that of each of its ticks (run time gained between samples SAMPLE s apart, less than a second apart
    being one tick's), in ms: one (windows, ticks) pair per process, all sampled together."""
    windows = [[] for _ in pids]
    ticks = [[] for _ in pids]
    start = [schedstat_ns(pid) for pid in pids]
    before, last = list(start), list(start)
    last_gain = [None for _ in pids]
    for window in range(WINDOWS):
        end = time.monotonic() + WINDOW
        while time.monotonic() < end:
            time.sleep(SAMPLE)
            for i, pid in enumerate(pids):
                now = schedstat_ns(pid)
                if now > last[i]:
                    if last_gain[i] is None or time.monotonic() - last_gain[i] > 1.0:
                        ticks[i].append(0.0)
                    ticks[i][-1] += (now - last[i]) / 1e6
                    last_gain[i] = time.monotonic()
                last[i] = now
        for i in range(len(pids)):
            windows[i].append((last[i] - before[i]) / 1e6)
            before[i] = last[i]
    for i in range(len(pids)):
        assert abs(sum(windows[i]) - (last[i] - start[i]) / 1e6) < 1e-6
    return list(zip(windows, ticks))


def start_reference(box):
    """The daemon's run loop with nothing in its tick (empty_tick_reference), under the unit's settings as
    the daemon runs: the floor of what a 5-second tick costs on this machine. Returns (process, pid)."""
    program = f"{WORK}/bin/empty_tick_reference"
    process = subprocess.Popen(unit_sandbox.command(f"{WORK}/unit_sandbox.py", f"{WORK}/horaveld.service",
                                                    [program]),
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               cwd="/", env=box.daemon_env())

    def running():
        for entry in os.listdir("/proc"):
            try:
                if entry.isdigit() and os.readlink(f"/proc/{entry}/exe") == program:
                    return int(entry)
            except OSError:
                pass
        return None
    return process, sandbox.wait_until(running, 30, "the empty tick reference")


def is_save_call(line):
    return re.search(r'"(?:/var/lib/horavel|[^"]*/\.?\.horavel)', line) is not None


def syscall_window(pid, out):
    """strace -f of one window: the calls of each tick (calls closer than a second apart are one tick's)
    and how many of them are the save's: from the first call naming a policy file or the store to the
    close after the last fsync."""
    log = f"{out}/strace.log"
    tracer = subprocess.Popen(["strace", "-f", "-ttt", "-qq", "-o", log, "-p", str(pid)],
                              stderr=subprocess.DEVNULL)
    time.sleep(WINDOW)
    tracer.send_signal(signal.SIGINT)
    tracer.wait(timeout=30)
    ticks = []
    last = None
    with open(log, encoding="utf-8", errors="replace") as f:
        for line in f:
            match = re.match(r"\d+\s+(\d+\.\d+) (\w+)\(", line)
            if not match:
                continue
            stamp = float(match.group(1))
            if last is None or stamp - last > 1.0:
                ticks.append([])
            last = stamp
            ticks[-1].append((match.group(2), line))
    per_tick = []
    for calls in ticks:
        first = next((i for i, (_, line) in enumerate(calls) if is_save_call(line)), None)
        fsyncs = [i for i, (name, _) in enumerate(calls) if name == "fsync" and first is not None and i > first]
        save = min(len(calls), fsyncs[-1] + 2) - first if fsyncs else 0
        per_tick.append({"calls": len(calls), "save": save})
    return per_tick


def callgrind_ticks(box, out, seconds):
    """Each tick's instructions from a daemon run under callgrind for `seconds`."""
    for path in glob.glob(f"{out}/callgrind.out*"):
        os.remove(path)
    command = ["valgrind", "--tool=callgrind", f"--toggle-collect={TICK_FUNCTION}",
               f"--dump-after={TICK_FUNCTION}", f"--callgrind-out-file={out}/callgrind.out.%p",
               f"{WORK}/bin/horaveld"]
    with open(f"{WORK}/valgrind.out", "ab") as log:
        subprocess.run(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log, cwd="/",
                       env=box.daemon_env(), check=True, timeout=120)
    box.daemon_pid = sandbox.wait_until(box._pid_from_file, 60, "the daemon's pid file under valgrind")
    time.sleep(seconds)
    os.kill(box.daemon_pid, signal.SIGTERM)
    sandbox.wait_until(lambda: not sandbox.process_alive(box.daemon_pid), 60, "the daemon under valgrind to end")
    box.daemon_pid = None
    ticks = []
    for path in sorted(glob.glob(f"{out}/callgrind.out.*.*"), key=lambda p: int(p.rsplit(".", 1)[1])):
        with open(path, encoding="utf-8", errors="replace") as f:
            totals = re.search(r"^(?:totals|summary): (\d+)", f.read(), re.M)
        if totals and int(totals.group(1)) > 0:
            ticks.append(int(totals.group(1)))
    return ticks


def programs_on_disk(box, out):
    """The sandbox copies the programs onto its tmpfs, where the pages of their code count as the
    daemon's private dirty memory; installed, they are read from a disk and count as clean. So the
    programs are run from a copy on the disk that holds `out`, mounted where the sandbox expects them."""
    directory = os.path.join(out, "bin")
    shutil.rmtree(directory, ignore_errors=True)
    shutil.copytree(f"{WORK}/bin", directory)
    sandbox.run(["mount", "--bind", directory, f"{WORK}/bin"])


def measure(args):
    box = sandbox.Sandbox(args.programs)
    result = {}
    try:
        box.setup()
        programs_on_disk(box, args.out)
        prepare(box)
        pid = box.start_daemon()
        box.log.wait_for("data loaded for kid", timeout=30)
        time.sleep(10)
        result["processes"] = sum(1 for e in os.listdir("/proc") if e.isdigit())
        result["window_s"] = WINDOW
        reference, reference_pid = start_reference(box)
        time.sleep(2)
        (result["cpu_ms_per_window"], result["cpu_ms_per_tick"]), \
            (result["reference_cpu_ms_per_window"], result["reference_cpu_ms_per_tick"]) = \
            cpu_windows([pid, reference_pid])
        os.kill(reference_pid, signal.SIGTERM)
        reference.wait(timeout=30)
        result["memory_kb"] = smaps_rollup(pid)
        result["syscall_ticks"] = syscall_window(pid, args.out)
        box.signal_daemon(signal.SIGTERM)
        sandbox.wait_until(lambda: not box.daemon_alive(), 30, "the daemon to end")
        box.daemon_pid = None
        result["instruction_ticks"] = callgrind_ticks(box, args.out, 75)
        result["log_tail"] = box.log.messages()[-5:]
    finally:
        box.teardown()
    return result


def inside(args):
    """As the first process of the pid namespace: measure in a child, reap every orphan."""
    read, write = os.pipe()
    child = os.fork()
    if child == 0:
        os.close(read)
        code = 1
        try:
            with os.fdopen(write, "w") as channel:
                json.dump(measure(args), channel)
            code = 0
        finally:
            os._exit(code)
    os.close(write)
    with os.fdopen(read) as channel:
        text = channel.read()
    while True:
        pid, status = os.waitpid(-1, 0)
        if pid == child:
            break
    if os.waitstatus_to_exitcode(status) != 0 or not text:
        return 1
    print(text)
    return 0


def outside(args):
    if os.geteuid() != 0:
        print("bench_daemon: the daemon's figures need root (private namespaces)", file=sys.stderr)
        return SKIP
    if subprocess.run(UNSHARE + ["true"], capture_output=True).returncode != 0:
        print("bench_daemon: private namespaces are not permitted here", file=sys.stderr)
        return SKIP
    try:
        sandbox.guard_midnight(420)
    except sandbox.Skip as reason:
        print(f"bench_daemon: {reason}", file=sys.stderr)
        return SKIP
    argv = UNSHARE + ["--kill-child", sandbox.PYTHON, "-B", os.path.abspath(__file__), "--inside",
                      "--out", os.path.abspath(args.out)]
    for name, path in args.programs.items():
        argv += ["--program", f"{name}={os.path.abspath(path)}"]
    return subprocess.run(argv, preexec_fn=die_with_parent, timeout=900).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", action="append", default=[], metavar="NAME=PATH")
    parser.add_argument("--out", required=True)
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    args.programs = dict(item.split("=", 1) for item in args.program)
    os.makedirs(args.out, exist_ok=True)
    sys.exit(inside(args) if args.inside else outside(args))


if __name__ == "__main__":
    main()
