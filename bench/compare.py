#!/usr/bin/env python3
"""Runs the iniplace and peer benchmarks in alternating trials and prints one
markdown table per file size: the median cost per call of each
implementation, and the medians of the per-trial ratios of iniplace to
minIni, to the best peer, to the floor and, for reads, to the checked and
searched readers. Ratios are only taken between figures of the same trial,
since the machines are shared and noisy.

--instructions also counts the user-space instructions of one call (after a
warm-up call) under callgrind, which is free of that noise. --durable runs
the durable build's edits against a safe save (temporary copy, sync,
rename, directory sync) on files synced before each edit. --tool times
`iniplace get` against /bin/true with hyperfine. --save writes every figure
to a JSON file (bench/report.py makes the report from it). --check exits 1
if a target is missed."""

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

SIZES = ["4K", "64K", "1M"]
PEERS = ["minIni", "inih", "iniparser", "SimpleIni", "GKeyFile"]
GETS = ["get_start", "get_middle", "get_end", "get_typed"]
EDITS = ["set_same", "set_longer", "set_shorter", "set_new", "set_start", "set_end", "del_key",
         "del_section"]
ENTRIES = ["entry_has", "entry_add", "entry_remove"]  # minIni has no entry lists
ENTRY_EDITS = ["entry_add", "entry_remove"]
COUNTED = ["iniplace", "floor", "searched", "minIni"]
READS = GETS + ["entry_has"]  # what the checked and searched readers do

# (size, operations, reference, most iniplace/reference).
TIME_TARGETS = ([("4K", op, "floor", 1.5) for op in EDITS + ENTRY_EDITS] +
                [("64K", op, "floor", 2.0) for op in EDITS + ENTRY_EDITS] +
                [("1M", "set_start", "floor", 2.5),
                 ("4K", "get_end", "checked", 1.2),
                 ("64K", "get_end", "searched", 1.3),
                 ("1M", "get_end", "searched", 1.3)] +
                [("4K", op, "minIni", 1.0) for op in GETS] +
                [("4K", op, "minIni", 0.5) for op in EDITS] +
                [("1M", "get_end", "minIni", 0.5), ("1M", "set_start", "minIni", 1.0)])
# (size, operation, most iniplace/minIni in user-space instructions per call).
INSTRUCTION_TARGETS = [("4K", "get_end", 0.25), ("64K", "get_end", 0.12),
                       ("1M", "get_end", 0.12)]
# The durable build's edits measured against a safe save; those that must
# cost less than it.
DURABLE_OPS = ["set_same", "set_start", "set_end", "del_key"]
DURABLE_TARGETS = [("1M", "set_same"), ("1M", "set_end")]
TOOL_LIMIT = 1.5  # iniplace get against /bin/true
# What the lock may add to a call on a 4K file: the library against itself
# built without locks, in the same trials; a get pays for a lock of bytes
# of the file, an edit for a flock as well.
LOCK_LIMITS = {op: 1.30 for op in READS} | {op: 1.15 for op in EDITS + ENTRY_EDITS}
LOCKED_OPS = GETS + EDITS + ENTRIES
# A program's start-up read in one pass (ini_getkeys), against the floor
# (the file read whole) and the best peer: (size, op, reference, limit).
STARTUP = ["startup_20", "startup_200"]
STARTUP_TARGETS = ([(size, op, "floor", 2.0) for size in ("4K", "64K") for op in STARTUP] +
                   [(size, op, "best peer", 1.0) for size in SIZES for op in STARTUP])
# Ten settings as one edit (ini_setkeys) against one ini_setkey, 4K file.
BATCH_LIMIT = 1.5


def run(binary, min_time, pattern, env=None):
    out = subprocess.run(
        [str(binary), "--benchmark_format=json", f"--benchmark_min_time={min_time}",
         f"--benchmark_filter={pattern}"],
        check=True, capture_output=True, text=True, env=env).stdout
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


def trials_of(binaries, count, min_time, pattern, env=None):
    """`count` trials of every binary, in alternating order so that neither
    side always runs first."""
    trials = []
    for trial in range(count):
        times = {}
        for binary in binaries if trial % 2 == 0 else reversed(binaries):
            times.update(run(binary, min_time, pattern, env))
        trials.append(times)
        print(f"trial {trial + 1}/{count} done", file=sys.stderr)
    return trials


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


def save_part(path, key, results):
    """Merges `results` into the results file at `path` under `key`."""
    path = Path(path)
    saved = json.loads(path.read_text()) if path.exists() else {}
    saved[key] = results
    path.write_text(json.dumps(saved, indent=1, ensure_ascii=False) + "\n")


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


class Figures:
    """Median times and per-trial ratios of a set of trials."""

    def __init__(self, trials):
        self.trials = trials

    def cost(self, impl, op, size):
        return median_or_none([t[f"{impl}/{op}/{size}"] for t in self.trials
                               if f"{impl}/{op}/{size}" in t])

    def ratio(self, op, size, other, mine="iniplace", other_op=None):
        """Median over trials of `mine` divided by `other`: an implementation,
        or "best peer" (on `other_op`, when given)."""
        values = []
        for t in self.trials:
            theirs = t.get(f"{other}/{other_op or op}/{size}")
            if other == "best peer":
                figures = [t[f"{p}/{op}/{size}"] for p in PEERS if f"{p}/{op}/{size}" in t]
                theirs = min(figures) if figures else None
            if t.get(f"{mine}/{op}/{size}") is not None and theirs:
                values.append(t[f"{mine}/{op}/{size}"] / theirs)
        return median_or_none(values)

    def ops(self):
        found = []
        for name in self.trials[0] if self.trials else []:
            op = name.split("/")[1]
            if op not in found:
                found.append(op)
        return found


def time_tables(figures):
    """Prints the tables of times; returns {size: {op: {column: value}}}."""
    results = {}
    for size in SIZES:
        rows = [op for op in figures.ops() if figures.cost("iniplace", op, size) is not None]
        if not rows:
            continue
        print(f"\n### {size} file\n")
        print("| operation | iniplace | floor | checked | minIni | best peer "
              "| ÷ floor | ÷ checked | ÷ searched | ÷ minIni | ÷ best peer |")
        print("|---|---|---|---|---|---|---|---|---|---|---|")
        results[size] = {}
        for op in rows:
            costs = {p: figures.cost(p, op, size) for p in PEERS}
            costs = {p: c for p, c in costs.items() if c is not None}
            best = min(costs, key=costs.get) if costs else None
            row = {impl: figures.cost(impl, op, size)
                   for impl in ["iniplace", "getkeys", "floor", "checked", "searched"] + PEERS}
            row["best peer"] = best
            for other in ["floor", "checked", "searched", "minIni", "best peer"]:
                row[f"/{other}"] = figures.ratio(op, size, other)
            # A program's start-up read in one pass by ini_getkeys.
            for other in ["floor", "best peer"]:
                row[f"getkeys/{other}"] = figures.ratio(op, size, other, mine="getkeys")
            if op == "set_batch_10":
                row["/set_same"] = figures.ratio(op, size, "iniplace", other_op="set_same")
            results[size][op] = row
            print(f"| {op} | {fmt_time(row['iniplace'])} | {fmt_time(row['floor'])} "
                  f"| {fmt_time(row['checked'])} | {fmt_time(row['minIni'])} "
                  f"| {f'{best} {fmt_time(costs[best])}' if best else 'n/a'} "
                  + "".join(f"| {fmt_ratio(row[f'/{o}'])} "
                            for o in ["floor", "checked", "searched", "minIni", "best peer"])
                  + "|")
    return results


def lock_table(figures):
    """The library against its build without locks on the 4K file; returns
    {op: {column: value}}."""
    rows = [op for op in LOCKED_OPS if figures.cost("unlocked", op, "4K") is not None]
    if not rows:
        return {}
    print("\n### What the lock costs (4K file)\n")
    print("| operation | iniplace | without the lock | ÷ without |")
    print("|---|---|---|---|")
    results = {}
    for op in rows:
        row = {"iniplace": figures.cost("iniplace", op, "4K"),
               "unlocked": figures.cost("unlocked", op, "4K"),
               "/unlocked": figures.ratio(op, "4K", "unlocked")}
        results[op] = row
        print(f"| {op} | {fmt_time(row['iniplace'])} | {fmt_time(row['unlocked'])} "
              f"| {fmt_ratio(row['/unlocked'])} |")
    return results


def instruction_table(build, wanted):
    """Counts and prints the instructions per call of the (size, op) pairs
    in `wanted`; returns {size: {op: {impl: count}}}."""
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
        counts.setdefault(size, {})[op] = found
        mine, theirs = found["iniplace"], found.get("minIni")
        share = mine / theirs if mine is not None and theirs else None
        print(f"| {op} | {size} | {fmt_count(mine)} | {fmt_count(found['floor'])} "
              f"| {fmt_count(found.get('searched'))} | {fmt_count(theirs)} "
              f"| {fmt_ratio(share)} |")
    return counts


def durable_table(build, args):
    """The durable build's edits against the default build's and a safe save,
    on files synced before each edit; returns {size: {op: {column: value}}}."""
    binary = Path(build, "bench", "bench_iniplace")
    default = Path(args.build, "bench", "bench_iniplace")
    if not binary.exists():
        print(f"warning: {binary} not found, no durable figures", file=sys.stderr)
        return {}
    pattern = f"^(iniplace|safe_save)/({'|'.join(DURABLE_OPS)})/(4K|1M)$"
    synced = dict(os.environ, INIPLACE_BENCH_SYNC="1")
    figures = Figures(trials_of([binary], args.trials, args.min_time, pattern, synced))
    defaults = Figures(trials_of([default], args.trials, args.min_time,
                                 pattern.replace("|safe_save", ""), synced))
    print("\n### The durable build against the default build and a safe save\n")
    print("| operation | size | durable iniplace | default iniplace | safe save | ÷ safe save |")
    print("|---|---|---|---|---|---|")
    results = {}
    for size in ["4K", "1M"]:
        for op in DURABLE_OPS:
            row = {"iniplace": figures.cost("iniplace", op, size),
                   "default": defaults.cost("iniplace", op, size),
                   "safe_save": figures.cost("safe_save", op, size),
                   "/safe_save": figures.ratio(op, size, "safe_save")}
            results.setdefault(size, {})[op] = row
            print(f"| {op} | {size} | {fmt_time(row['iniplace'])} | {fmt_time(row['default'])} "
                  f"| {fmt_time(row['safe_save'])} | {fmt_ratio(row['/safe_save'])} |")
    return results


def tool_table(build):
    """`iniplace get` on the 4K corpus against /bin/true, both started
    without a shell by hyperfine."""
    tool = Path(build, "iniplace")
    if shutil.which("hyperfine") is None or not tool.exists():
        print("warning: hyperfine or the tool not found, no tool figures", file=sys.stderr)
        return {}
    with tempfile.TemporaryDirectory() as scratch:
        sample = Path(scratch, "sample.ini")
        subprocess.run([str(Path(build, "bench", "bench_iniplace")), "--corpus", "4K",
                        str(sample)], check=True)
        out = Path(scratch, "times.json")
        subprocess.run(["hyperfine", "-N", "--warmup", "20", "--runs", "300", "--export-json",
                        str(out), "/bin/true", f"{tool} get {sample} unit7 timeout_ms"],
                       check=True, capture_output=True)
        means = [r["mean"] * 1e9 for r in json.loads(out.read_text())["results"]]
    row = {"true": means[0], "iniplace get": means[1], "/true": means[1] / means[0]}
    print("\n### The tool\n")
    print("| command | time | ÷ /bin/true |")
    print("|---|---|---|")
    print(f"| /bin/true | {fmt_time(row['true'])} | 1.00x |")
    print(f"| iniplace get | {fmt_time(row['iniplace get'])} | {fmt_ratio(row['/true'])} |")
    return row


def targets(results):
    """(label, measured, limit) of every target that was measured."""
    found = []
    times = results.get("times", {})
    for size, op, other, limit in TIME_TARGETS:
        row = times.get(size, {}).get(op)
        if row is not None and row.get(f"/{other}") is not None:
            found.append((f"{size} {op} ≤ {limit}x {other}", row[f"/{other}"], limit))
    for size, op, limit in INSTRUCTION_TARGETS:
        counted = results.get("instructions", {}).get(size, {}).get(op)
        if counted and counted.get("iniplace") and counted.get("minIni"):
            found.append((f"{size} {op} ≤ {limit}x minIni in instructions",
                          counted["iniplace"] / counted["minIni"], limit))
    for size, op in DURABLE_TARGETS:
        row = results.get("durable", {}).get(size, {}).get(op)
        if row is not None and row["/safe_save"] is not None:
            found.append((f"durable {size} {op} < safe save", row["/safe_save"], 1.0))
    for op, row in results.get("lock", {}).items():
        if row["/unlocked"] is not None:
            found.append((f"4K {op} ≤ {LOCK_LIMITS[op]}x without the lock", row["/unlocked"],
                          LOCK_LIMITS[op]))
    for size, op, other, limit in STARTUP_TARGETS:
        row = times.get(size, {}).get(op)
        if row is not None and row.get(f"getkeys/{other}") is not None:
            found.append((f"{size} {op} by ini_getkeys ≤ {limit}x {other}",
                          row[f"getkeys/{other}"], limit))
    batch = times.get("4K", {}).get("set_batch_10")
    if batch is not None and batch.get("/set_same") is not None:
        found.append((f"4K ini_setkeys of 10 ≤ {BATCH_LIMIT}x one ini_setkey", batch["/set_same"],
                      BATCH_LIMIT))
    if results.get("tool"):
        found.append((f"iniplace get ≤ {TOOL_LIMIT}x /bin/true", results["tool"]["/true"],
                      TOOL_LIMIT))
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
    parser.add_argument("--durable", metavar="BUILD",
                        help="build tree of the bench-durable preset: compare with a safe save")
    parser.add_argument("--tool", action="store_true", help="time iniplace get with hyperfine")
    parser.add_argument("--save", metavar="FILE", help="write every figure to FILE (JSON)")
    parser.add_argument("--check", action="store_true", help="exit 1 if a target is missed")
    args = parser.parse_args()

    binaries = [Path(args.build, "bench", name)
                for name in ("bench_iniplace", "bench_unlocked", "bench_peers")]
    binaries = [b for b in binaries if b.exists()]
    results = {"trials": args.trials, "min_time": args.min_time}
    figures = Figures(trials_of(binaries, args.trials, args.min_time, args.filter))
    results["times"] = time_tables(figures)
    results["lock"] = lock_table(figures)
    wanted = []
    if args.instructions:
        pattern = re.compile(args.filter)
        wanted = [(size, op) for size in SIZES for op in GETS + EDITS + ENTRIES
                  if pattern.search(f"iniplace/{op}/{size}")]
    if args.check:
        wanted += [(size, op) for size, op, _ in INSTRUCTION_TARGETS if (size, op) not in wanted]
    results["instructions"] = instruction_table(args.build, wanted) if wanted else {}
    if args.durable:
        results["durable"] = durable_table(args.durable, args)
    if args.tool:
        results["tool"] = tool_table(args.build)

    found = targets(results)
    results["targets"] = [{"target": label, "measured": measured, "limit": limit}
                          for label, measured, limit in found]
    if found:
        print("\n### Targets\n")
        print("| target | measured | met |")
        print("|---|---|---|")
        for label, measured, limit in found:
            print(f"| {label} | {fmt_ratio(measured)} "
                  f"| {'yes' if measured <= limit else '**no**'} |")
    if args.save:
        Path(args.save).write_text(json.dumps(results, indent=1, ensure_ascii=False) + "\n")
    missed = [t for t in found if t[1] > t[2]]
    return 1 if args.check and missed else 0


if __name__ == "__main__":
    sys.exit(main())
