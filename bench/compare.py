#!/usr/bin/env python3
"""Runs the iniplace and peer benchmarks in alternating trials and prints one
markdown table per file size: the median cost per call of each
implementation, and the medians of the per-trial ratios iniplace/minIni,
iniplace/best peer, iniplace/floor and, for reads, iniplace/searched (the
floor with iniplace's regular-file check, its read block and one memchr()
per `[`). Ratios are only taken between figures of the same trial, since
the machines are shared and noisy.

With --instructions it also counts the user-space instructions of one call
(after a warm-up call) of iniplace, the floor and minIni under callgrind,
which is free of that noise. --check measures what the targets need and
exits 1 if one is missed."""

import argparse
import json
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
from collections import defaultdict
from pathlib import Path

SIZES = ["4K", "64K", "1M"]
PEERS = ["minIni", "inih", "iniparser", "SimpleIni", "GKeyFile"]
GETS = ["get_start", "get_middle", "get_end", "get_typed"]
EDITS = ["set_same", "set_longer", "set_shorter", "set_new", "set_start", "del_key",
         "del_section"]
ENTRIES = ["entry_has", "entry_add", "entry_remove"]  # minIni has no entry lists
COUNTED = ["iniplace", "floor", "searched", "minIni"]
READS = GETS + ["entry_has"]  # what the checked and searched readers do

# (size, operation, most iniplace/floor): what a call may cost beyond the
# system calls every reader pays.
FLOOR_TARGETS = [("4K", "get_end", 1.25), ("64K", "get_end", 1.8), ("1M", "get_end", 2.5),
                 ("1M", "set_start", 1.2)]
# (size, operation, most iniplace/minIni in user-space instructions per call).
INSTRUCTION_TARGETS = [("4K", "get_end", 0.25), ("64K", "get_end", 0.12),
                       ("1M", "get_end", 0.12)]


def run(binary, min_time, pattern):
    out = subprocess.run(
        [str(binary), "--benchmark_format=json", f"--benchmark_min_time={min_time}",
         f"--benchmark_filter={pattern}"],
        check=True, capture_output=True, text=True).stdout
    if not out.strip():  # no benchmark of this binary matches
        return {}
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
    times = {}
    for bench in json.loads(out)["benchmarks"]:
        if bench.get("error_occurred"):
            print(f"warning: {bench['name']}: {bench.get('error_message')}", file=sys.stderr)
            continue
        times[bench["name"]] = bench["real_time"] * scale[bench["time_unit"]]
    return times


def count_instructions(build, name):
    """User-space instructions of one call of the benchmark `name`, or None."""
    binary = Path(build, "bench", "bench_peers" if name.startswith("minIni/") else
                  "bench_iniplace")
    if not binary.exists():
        return None
    with tempfile.TemporaryDirectory() as scratch:
        out = Path(scratch, "callgrind.out")
        done = subprocess.run(
            ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
             "--collect-atstart=no", "--toggle-collect=bench::measured_call*",
             str(binary), "--once", name],
            capture_output=True, text=True)
        if done.returncode != 0 or not out.exists():
            print(f"warning: {name}: no instruction count", file=sys.stderr)
            return None
        found = re.search(r"^summary:\s*(\d+)", out.read_text(), re.M)
        return int(found.group(1)) if found else None


def fmt_time(ns):
    if ns is None:
        return "n/a"
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    return f"{ns / 1e3:.1f} µs"


def fmt_ratio(ratio):
    return "n/a" if ratio is None else f"{ratio:.2f}x"


def fmt_count(count):
    return "n/a" if count is None else f"{count:,}"


def median_or_none(values):
    return statistics.median(values) if values else None


def time_tables(trials):
    """Prints the tables of times; returns {(size, op): (ratio to minIni,
    ratio to the best peer, ratio to the floor)}."""
    def cost(impl, op, size):
        return median_or_none([t[f"{impl}/{op}/{size}"] for t in trials
                               if f"{impl}/{op}/{size}" in t])

    def ratio(op, size, other):
        """Median over trials of iniplace divided by `other` (a name, or a
        function picking a figure from one trial)."""
        values = []
        for t in trials:
            mine = t.get(f"iniplace/{op}/{size}")
            theirs = other(t) if callable(other) else t.get(f"{other}/{op}/{size}")
            if mine is not None and theirs:
                values.append(mine / theirs)
        return median_or_none(values)

    ops = []
    for name in trials[0]:
        _, op, _ = name.split("/")
        if op not in ops:
            ops.append(op)

    ratios = {}
    for size in SIZES:
        rows = [op for op in ops if cost("iniplace", op, size) is not None]
        if not rows:
            continue
        print(f"\n### {size} file\n")
        print("| operation | iniplace | floor | checked | searched | minIni | best peer "
              "| iniplace/minIni | iniplace/best peer | iniplace/floor | iniplace/searched |")
        print("|---|---|---|---|---|---|---|---|---|---|---|")
        for op in rows:
            peer_costs = {p: cost(p, op, size) for p in PEERS}
            peer_costs = {p: c for p, c in peer_costs.items() if c is not None}
            best = min(peer_costs, key=peer_costs.get) if peer_costs else None

            def best_in_trial(t, op=op, size=size):
                figures = [t[f"{p}/{op}/{size}"] for p in PEERS if f"{p}/{op}/{size}" in t]
                return min(figures) if figures else None

            ratios[(size, op)] = (ratio(op, size, "minIni"), ratio(op, size, best_in_trial),
                                  ratio(op, size, "floor"))
            r_minini, r_best, r_floor = ratios[(size, op)]
            best_text = f"{best} {fmt_time(peer_costs[best])}" if best else "n/a"
            print(f"| {op} | {fmt_time(cost('iniplace', op, size))} "
                  f"| {fmt_time(cost('floor', op, size))} | {fmt_time(cost('checked', op, size))} "
                  f"| {fmt_time(cost('searched', op, size))} "
                  f"| {fmt_time(cost('minIni', op, size))} "
                  f"| {best_text} | {fmt_ratio(r_minini)} | {fmt_ratio(r_best)} "
                  f"| {fmt_ratio(r_floor)} | {fmt_ratio(ratio(op, size, 'searched'))} |")
    return ratios


def instruction_table(build, wanted):
    """Counts and prints the instructions per call of the (size, op) pairs
    in `wanted`; returns {(size, op): {impl: count}}."""
    if shutil.which("valgrind") is None:
        print("warning: valgrind not found, no instruction counts", file=sys.stderr)
        return {}
    counts = {}
    print("\n### Instructions per call\n")
    print("| operation | size | iniplace | floor | searched | minIni | iniplace/minIni |")
    print("|---|---|---|---|---|---|---|")
    for size, op in wanted:
        counted = {"minIni": op not in ENTRIES, "searched": op in READS}
        found = {impl: count_instructions(build, f"{impl}/{op}/{size}")
                 for impl in COUNTED if counted.get(impl, True)}
        counts[(size, op)] = found
        mine, theirs = found["iniplace"], found.get("minIni")
        share = mine / theirs if mine is not None and theirs else None
        print(f"| {op} | {size} | {fmt_count(mine)} | {fmt_count(found['floor'])} "
              f"| {fmt_count(found.get('searched'))} | {fmt_count(theirs)} "
              f"| {fmt_ratio(share)} |")
    return counts


def targets(ratios, counts):
    """(label, measured, limit) of every target that was measured."""
    found = []
    for size, op, limit in FLOOR_TARGETS:
        if (size, op) in ratios:
            found.append((f"{size} {op} ≤ {limit}x floor", ratios[(size, op)][2], limit))
    for size, op, limit in INSTRUCTION_TARGETS:
        if (size, op) in counts:
            mine, theirs = counts[(size, op)]["iniplace"], counts[(size, op)]["minIni"]
            share = mine / theirs if mine is not None and theirs else None
            found.append((f"{size} {op} ≤ {limit}x minIni in instructions", share, limit))
    # Against the peers: ahead of minIni, the fastest peer, everywhere.
    for (size, op), (r_minini, _, _) in ratios.items():
        if size == "4K" and op in GETS:
            found.append((f"4K {op} ≤ 1.0x minIni", r_minini, 1.0))
        elif size == "4K" and op in EDITS:
            found.append((f"4K {op} ≤ 0.5x minIni", r_minini, 0.5))
    if ("1M", "get_end") in ratios:
        found.append(("1M get_end ≤ 0.5x minIni", ratios[("1M", "get_end")][0], 0.5))
    if ("1M", "set_start") in ratios:
        found.append(("1M set_start ≤ 1.0x minIni", ratios[("1M", "set_start")][0], 1.0))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build/bench", help="build tree of the bench preset")
    parser.add_argument("--trials", type=int, default=5)
    parser.add_argument("--min-time", type=float, default=0.2,
                        help="seconds per benchmark and trial")
    parser.add_argument("--filter", default=".", help="benchmark name pattern")
    parser.add_argument("--instructions", action="store_true",
                        help="count instructions per call with callgrind")
    parser.add_argument("--check", action="store_true", help="exit 1 if a target is missed")
    args = parser.parse_args()

    binaries = [Path(args.build, "bench", name) for name in ("bench_iniplace", "bench_peers")]
    binaries = [b for b in binaries if b.exists()]
    trials = []
    for trial in range(args.trials):
        times = {}
        # Alternate the order so that neither side always runs first.
        for binary in binaries if trial % 2 == 0 else reversed(binaries):
            times.update(run(binary, args.min_time, args.filter))
        trials.append(times)
        print(f"trial {trial + 1}/{args.trials} done", file=sys.stderr)
    ratios = time_tables(trials) if trials and trials[0] else {}

    wanted = []
    if args.instructions:
        pattern = re.compile(args.filter)
        wanted = [(size, op) for size in SIZES for op in GETS + EDITS + ENTRIES
                  if pattern.search(f"iniplace/{op}/{size}")]
    if args.check:
        wanted += [(size, op) for size, op, _ in INSTRUCTION_TARGETS if (size, op) not in wanted]
    counts = instruction_table(args.build, wanted) if wanted else {}

    found = targets(ratios, counts)
    missed = [t for t in found if t[1] is not None and t[1] > t[2]]
    if found:
        print("\n### Targets\n")
        print("| target | measured | met |")
        print("|---|---|---|")
        for label, measured, limit in found:
            met = "n/a" if measured is None else ("yes" if measured <= limit else "**no**")
            print(f"| {label} | {fmt_ratio(measured)} | {met} |")
    return 1 if args.check and missed else 0


if __name__ == "__main__":
    sys.exit(main())
