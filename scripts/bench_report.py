#!/usr/bin/python3
"""Prints scripts/bench's figures from its results directory, each against its target.

    bench_report.py RESULTS_DIR
"""

import json
import os
import statistics
import sys

TICK = 5  # seconds


def load(path):
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read().strip()
    except FileNotFoundError:
        return None
    return json.loads(text) if text else None


def medians(report):
    """name -> the median aggregate's row, from Google Benchmark's JSON."""
    return {row["run_name"].removesuffix("/real_time"): row for row in report["benchmarks"]
            if row.get("aggregate_name") == "median"}


def milliseconds(row):
    return row["real_time"] * {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[row["time_unit"]]


def verdict(value, target):
    return "meets" if value <= target else "MISSES"


def line(label, text, target=None, value=None):
    suffix = f"   target <= {target[0]}{target[1]}: {verdict(value, target[0])}" if target else ""
    print(f"  {label:<44} {text}{suffix}")


def daemon(result):
    if not result:
        print("(a)(b) the daemon: not measured (needs root and private namespaces: run scripts/bench as root)")
        return
    print(f"(a) the daemon, {result['processes']} processes, 5 watched applications "
          f"(one running), kid at the console:")
    window = result["window_s"]
    windows = result["cpu_ms_per_window"]
    per_window = statistics.median(windows)
    per_minute = per_window * 60 / window
    per_tick = per_window / (window / TICK)
    line(f"CPU per {window} s (median of {len(windows)})", f"{per_window:.1f} ms  "
         f"({', '.join(f'{w:.1f}' for w in windows)})")
    line("CPU per minute", f"{per_minute:.1f} ms")
    line("CPU per tick (average)", f"{per_tick:.3f} ms", (0.5, " ms"), per_tick)
    ticks = sorted(result["cpu_ms_per_tick"])
    line("CPU per tick: median, 90th percentile, most", f"{statistics.median(ticks):.3f}, "
         f"{ticks[int(len(ticks) * 0.9)]:.3f}, {ticks[-1]:.3f} ms  (over {len(ticks)} ticks)")
    reference = result.get("reference_cpu_ms_per_window")
    if reference:
        empty = statistics.median(reference) / (window / TICK)
        wakes = sorted(result["reference_cpu_ms_per_tick"])
        line("the run loop with an empty tick, alongside", f"{empty:.3f} ms per tick (average), "
             f"{statistics.median(wakes):.3f} median  (over {len(wakes)} wake-ups)")
    ticks = result["instruction_ticks"]
    if ticks:
        ordinary = statistics.median(ticks)
        line("instructions per ordinary tick (median)", f"{ordinary:,.0f}  (over {len(ticks)} ticks)",
             (500000, ""), ordinary)
        line("instructions per tick, mean / most", f"{statistics.mean(ticks):,.0f} / {max(ticks):,}")
    calls = result["syscall_ticks"]
    total = sum(t["calls"] for t in calls)
    save = sum(t["save"] for t in calls)
    ordinary_calls = sorted(t["calls"] for t in calls if not t["save"])
    outside = (total - save) * 60 / window
    line(f"system calls in {window} s", f"{total}  (the saves' {save})")
    line("system calls per minute outside the saves", f"{outside:.0f}", (1000, ""), outside)
    if ordinary_calls:
        line("system calls per ordinary tick (median)", f"{statistics.median(ordinary_calls):.0f}")
    memory = result["memory_kb"]
    print("(b) the daemon's memory (smaps_rollup):")
    line("resident", f"{memory['Rss'] / 1024:.2f} MB", (5, " MB"), memory["Rss"] / 1024)
    line("proportional", f"{memory['Pss'] / 1024:.2f} MB")
    line("private dirty", f"{memory['Private_Dirty'] / 1024:.2f} MB", (1, " MB"), memory["Private_Dirty"] / 1024)


def ratio(label, ours, theirs, key, target):
    value = ours[key] / theirs[key]
    line(label, f"{value:.2f}x  ({ours[key]:.3g} against {theirs[key]:.3g} {ours['time_unit']})",
         (target, "x"), value)


def main():
    results = sys.argv[1]
    daemon(load(os.path.join(results, "daemon.json")))

    walk = medians(load(os.path.join(results, "walk.json")))
    with open(os.path.join(results, "tree.txt"), encoding="ascii") as f:
        generated, removed = (int(v) / 1000 for v in f.read().split())
    ours, du = walk["BM_WalkTreeSizes"], walk["BM_DuS"]
    print(f"(c) home walk of 1,000,000 entries against du -s (tree generated in {generated:.0f} s, "
          f"removed in {removed:.0f} s):")
    ratio("wall time", ours, du, "real_time", 1.0)
    line("CPU", f"{ours['cpu_time'] / (du['du_cpu_us'] / 1000):.2f}x  "
         f"({ours['cpu_time']:.0f} against {du['du_cpu_us'] / 1000:.0f} ms)")

    scan = medians(load(os.path.join(results, "scan.json")))
    ours, pgrep = scan["BM_ScanOneAccountFiveWatchedNames"], scan["BM_Pgrep"]
    print("(d) one look at the process table (5 names, 500 extra processes) against pgrep -u UID -x NAME:")
    ratio("wall time", ours, pgrep, "real_time", 0.4)
    line("CPU", f"{ours['cpu_time'] / pgrep['pgrep_cpu_us']:.2f}x  "
         f"({ours['cpu_time']:.0f} against {pgrep['pgrep_cpu_us']:.0f} us)")

    decode = medians(load(os.path.join(results, "decode.json")))
    name, worst = max(decode.items(), key=lambda item: milliseconds(item[1]))
    print("(e) the decoders' slowest hostile input:")
    line(name, f"{milliseconds(worst):.3g} ms (median)")


if __name__ == "__main__":
    main()
