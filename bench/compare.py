#!/usr/bin/env python3
"""Runs the iniplace and peer benchmarks in alternating trials and prints one
markdown table per file size: the median cost per call of each
implementation, and the medians of the per-trial ratios iniplace/minIni,
iniplace/best peer and iniplace/floor. Ratios are only taken between
figures of the same trial, since the machines are shared and noisy."""

import argparse
import json
import statistics
import subprocess
import sys
from collections import defaultdict
from pathlib import Path

SIZES = ["4K", "64K", "1M"]
PEERS = ["minIni", "inih", "iniparser", "SimpleIni", "GKeyFile"]
GETS = ["get_start", "get_middle", "get_end", "get_typed"]


def run(binary, min_time, pattern):
    out = subprocess.run(
        [str(binary), "--benchmark_format=json", f"--benchmark_min_time={min_time}",
         f"--benchmark_filter={pattern}"],
        check=True, capture_output=True, text=True).stdout
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
    times = {}
    for bench in json.loads(out)["benchmarks"]:
        if bench.get("error_occurred"):
            print(f"warning: {bench['name']}: {bench.get('error_message')}", file=sys.stderr)
            continue
        times[bench["name"]] = bench["real_time"] * scale[bench["time_unit"]]
    return times


def fmt_time(ns):
    if ns is None:
        return "n/a"
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    return f"{ns / 1e3:.1f} µs"


def fmt_ratio(ratio):
    return "n/a" if ratio is None else f"{ratio:.2f}x"


def median_or_none(values):
    return statistics.median(values) if values else None


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build/bench", help="build tree of the bench preset")
    parser.add_argument("--trials", type=int, default=5)
    parser.add_argument("--min-time", type=float, default=0.2,
                        help="seconds per benchmark and trial")
    parser.add_argument("--filter", default=".", help="benchmark name pattern")
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
        impl, op, size = name.split("/")
        if op not in ops:
            ops.append(op)

    results = defaultdict(dict)
    for size in SIZES:
        rows = [op for op in ops if cost("iniplace", op, size) is not None]
        if not rows:
            continue
        print(f"\n### {size} file\n")
        print("| operation | iniplace | floor | minIni | best peer | iniplace/minIni "
              "| iniplace/best peer | iniplace/floor |")
        print("|---|---|---|---|---|---|---|---|")
        for op in rows:
            peer_costs = {p: cost(p, op, size) for p in PEERS}
            peer_costs = {p: c for p, c in peer_costs.items() if c is not None}
            best = min(peer_costs, key=peer_costs.get) if peer_costs else None

            def best_in_trial(t, op=op, size=size):
                figures = [t[f"{p}/{op}/{size}"] for p in PEERS if f"{p}/{op}/{size}" in t]
                return min(figures) if figures else None

            r_minini = ratio(op, size, "minIni")
            r_best = ratio(op, size, best_in_trial)
            r_floor = ratio(op, size, "floor")
            results[size][op] = (r_minini, r_floor)
            best_text = f"{best} {fmt_time(peer_costs[best])}" if best else "n/a"
            print(f"| {op} | {fmt_time(cost('iniplace', op, size))} "
                  f"| {fmt_time(cost('floor', op, size))} | {fmt_time(cost('minIni', op, size))} "
                  f"| {best_text} | {fmt_ratio(r_minini)} | {fmt_ratio(r_best)} "
                  f"| {fmt_ratio(r_floor)} |")

    targets = []
    for op, (r_minini, r_floor) in results.get("4K", {}).items():
        if op in GETS:
            targets.append((f"4K {op} ≤ 1.0x minIni", r_minini, 1.0))
            targets.append((f"4K {op} ≤ 2.0x floor", r_floor, 2.0))
        elif r_minini is not None:
            targets.append((f"4K {op} ≤ 0.5x minIni", r_minini, 0.5))
    if "get_end" in results.get("1M", {}):
        targets.append(("1M get_end ≤ 0.5x minIni", results["1M"]["get_end"][0], 0.5))
    if "set_start" in results.get("1M", {}):
        targets.append(("1M set_start ≤ 1.0x minIni", results["1M"]["set_start"][0], 1.0))
    missed = [t for t in targets if t[1] is not None and t[1] > t[2]]
    if targets:
        print("\n### Targets\n")
        print("| target | measured | met |")
        print("|---|---|---|")
        for label, measured, limit in targets:
            met = "n/a" if measured is None else ("yes" if measured <= limit else "**no**")
            print(f"| {label} | {fmt_ratio(measured)} | {met} |")
    return 1 if args.check and missed else 0


if __name__ == "__main__":
    sys.exit(main())
