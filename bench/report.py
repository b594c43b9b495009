#!/usr/bin/env python3
"""Writes the figures of one benchmark run (the JSON that compare.py --save
wrote, docs/performance.json) into the generated parts of
docs/performance.md and of the README, between <!-- NAME --> and
<!-- /NAME --> markers. With --check it writes nothing and exits 1 when a
generated part differs from what the run gives: the README and the report
can then not drift from each other or from the run."""

import argparse
import json
import re
import sys
from pathlib import Path

from compare import fmt_ratio as ratio, fmt_time as time

ROOT = Path(__file__).resolve().parent.parent
SIZES = {"4K": "4 KB", "64K": "64 KB", "1M": "1 MB"}
PEERS = ["minIni", "inih", "iniparser", "SimpleIni", "GKeyFile"]


def size_table(rows):
    lines = ["| operation | iniplace | floor | ÷ floor | ÷ checked | ÷ searched | minIni "
             "| ÷ minIni | best peer |",
             "|---|---|---|---|---|---|---|---|---|"]
    for op, row in rows.items():
        best = row.get("best peer")
        best_text = f"{best} {time(row.get(best))}" if best else "n/a"
        lines.append(f"| {op} | {time(row['iniplace'])} | {time(row['floor'])} "
                     f"| {ratio(row['/floor'])} | {ratio(row['/checked'])} "
                     f"| {ratio(row['/searched'])} | {time(row['minIni'])} "
                     f"| {ratio(row['/minIni'])} | {best_text} |")
    return "\n".join(lines)


def durable_table(rows):
    lines = ["| operation | size | durable iniplace | default iniplace | safe save | ÷ safe save |",
             "|---|---|---|---|---|---|"]
    for size, ops in rows.items():
        for op, row in ops.items():
            lines.append(f"| {op} | {SIZES[size]} | {time(row['iniplace'])} "
                         f"| {time(row.get('default'))} | {time(row['safe_save'])} "
                         f"| {ratio(row['/safe_save'])} |")
    return "\n".join(lines)


def tool_table(row):
    return "\n".join(["| command | time | ÷ /bin/true |", "|---|---|---|",
                      f"| /bin/true | {time(row['true'])} | 1.00x |",
                      f"| iniplace get | {time(row['iniplace get'])} | {ratio(row['/true'])} |"])


def targets_table(targets):
    lines = ["| target | measured | met |", "|---|---|---|"]
    for t in targets:
        met = "yes" if t["measured"] <= t["limit"] else "**no**"
        lines.append(f"| {t['target']} | {ratio(t['measured'])} | {met} |")
    return "\n".join(lines)


STARTUP = ("startup_20", "startup_200")
SECONDS = 1e9  # the command and fleet figures are in seconds


def size_rows(rows):
    return {op: row for op, row in rows.items() if op not in STARTUP}


def startup_table(times):
    lines = ["| keys | size | iniplace, key by key | ini_getkeys | the file read whole | "
             + " | ".join(PEERS[1:]) + " | key by key ÷ best peer | ini_getkeys ÷ best peer "
             "| ini_getkeys ÷ file read whole |",
             "|---|---|---|---|---|" + "---|" * (len(PEERS) - 1) + "---|---|---|"]
    for size, rows in times.items():
        for op in STARTUP:
            row = rows.get(op)
            if row is None:
                continue
            lines.append(f"| {op.split('_')[1]} | {SIZES[size]} | {time(row['iniplace'])} "
                         f"| {time(row['getkeys'])} | {time(row['floor'])} | "
                         + " | ".join(time(row.get(peer)) for peer in PEERS[1:])
                         + f" | {ratio(row['/best peer'])} | {ratio(row['getkeys/best peer'])} "
                         f"| {ratio(row['getkeys/floor'])} |")
    return "\n".join(lines)


def lock_table(rows):
    lines = ["| operation | iniplace | without the lock | ÷ without |", "|---|---|---|---|"]
    lines += [f"| {op} | {time(row['iniplace'])} | {time(row['unlocked'])} "
              f"| {ratio(row['/unlocked'])} |" for op, row in rows.items()]
    return "\n".join(lines)


def commands_table(commands):
    lines = ["| command | size | iniplace | crudini | git config | crudini ÷ iniplace |",
             "|---|---|---|---|---|---|"]
    for size, tasks in commands["single"].items():
        for task, row in tasks.items():
            lines.append(f"| {task} | {SIZES[size]} | {time(row['iniplace'] * SECONDS)} "
                         f"| {time(row['crudini'] * SECONDS)} | {time(row['git config'] * SECONDS)} "
                         f"| {row['crudini'] / row['iniplace']:.0f}x |")
    new, large = commands["apply"]["new 20000"], commands["apply"]["1M 200"]
    lines.append(f"| apply 20,000 keys to a new file | | {time(new['iniplace apply'] * SECONDS)} "
                 f"| {time(new['crudini --merge'] * SECONDS)} (`--merge`) | n/a "
                 f"| {new['crudini --merge'] / new['iniplace apply']:.0f}x |")
    lines.append(f"| apply 200 keys (one set: {time(large['iniplace set'] * SECONDS)}) | 1 MB "
                 f"| {time(large['iniplace apply'] * SECONDS)} "
                 f"| {time(large['crudini --merge'] * SECONDS)} (`--merge`) | n/a "
                 f"| {large['crudini --merge'] / large['iniplace apply']:.0f}x |")
    return "\n".join(lines)


def fleet_table(fleet):
    lines = ["| module | playbook | bytes changed besides the named lines | named lines re-laid "
             "| files that kept their inode |", "|---|---|---|---|---|"]
    for name in ("iniplace.fleet.ini", "community.general.ini_file"):
        row = fleet[name]
        lines.append(f"| `{name}` | {row['seconds']:.1f} s | {row['outside']} "
                     f"| {row['relaid']} of 40 | {row['inodes kept']} of 5 |")
    if fleet.get("module size"):
        lines += ["", f"The module for 32-bit PowerPC, the tool stripped: "
                      f"{fleet['module size'] / 1024:.0f} KB, loading only the C "
                      f"library (glibc)."]
    return "\n".join(lines)


def summary(results):
    """The tasks users weigh, each against the alternative they would pick,
    and a sentence for each where the alternative wins."""
    times, rows, wins = results["times"], [], []

    def peer_row(task, size, op, mine="iniplace"):
        row = times[size][op]
        best = row["best peer"]
        rows.append((task, time(row[mine]), f"{best} {time(row[best])}", row["/best peer"]))

    peer_row("read one key, 4 KB file", "4K", "get_middle")
    peer_row("read the last key, 1 MB file", "1M", "get_end")
    peer_row("change one key, 4 KB file", "4K", "set_longer")
    for keys, size in (("20", "4K"), ("200", "4K"), ("200", "64K")):
        row = times[size][f"startup_{keys}"]
        best = row["best peer"]
        rows.append((f"read {keys} keys at start-up, {SIZES[size]} file",
                     f"{time(row['iniplace'])} key by key, {time(row['getkeys'])} in one pass "
                     "(`ini_getkeys`)",
                     f"{best} {time(row[best])}",
                     f"{ratio(row['/best peer'])}, {ratio(row['getkeys/best peer'])}"))
        if min(row["/best peer"], row["getkeys/best peer"]) > 1:
            wins.append(f"{best} reads {keys} keys of a {SIZES[size]} file in {time(row[best])}, "
                        f"against {time(min(row['iniplace'], row['getkeys']))} at best")
    batch = times.get("4K", {}).get("set_batch_10")
    if batch is not None:
        one = times["4K"]["set_same"]["iniplace"]
        rows.append(("change 10 keys as one edit, 4 KB file",
                     f"{time(batch['iniplace'])} (`ini_setkeys`)",
                     f"10 ini_setkey calls {time(10 * one)}",
                     batch["iniplace"] / (10 * one)))
    commands = results.get("commands")
    if commands:
        for task, size in (("get", "4K"), ("set", "1M")):
            row = commands["single"][size][task]
            rows.append((f"a {task} from the shell, {SIZES[size]} file",
                         time(row["iniplace"] * SECONDS),
                         f"crudini {time(row['crudini'] * SECONDS)}, "
                         f"git config {time(row['git config'] * SECONDS)}",
                         row["iniplace"] / row["crudini"]))
    durable = results.get("durable", {}).get("4K", {}).get("set_end")
    if durable:
        rows.append(("a crash-safe edit, 4 KB file", f"{time(durable['iniplace'])} (durable build)",
                     f"safe save {time(durable['safe_save'])}", durable["/safe_save"]))
        if durable["/safe_save"] > 1:
            wins.append(f"a safe save edits a small file in {time(durable['safe_save'])}: it "
                        f"syncs twice, the durable build four times")
    fleet = results.get("fleet")
    if fleet:
        ours, theirs = fleet["iniplace.fleet.ini"], fleet["community.general.ini_file"]
        rows.append(("50 settings on 5 hosts with Ansible", f"{ours['seconds']:.1f} s",
                     f"community.general.ini_file {theirs['seconds']:.1f} s",
                     ours["seconds"] / theirs["seconds"]))
    lines = ["| task | iniplace | the alternative | iniplace ÷ alternative |", "|---|---|---|---|"]
    lines += [f"| {task} | {mine} | {other} | {share if isinstance(share, str) else ratio(share)} |"
              for task, mine, other, share in rows]
    if wins:
        lines += ["", "Where the alternative wins: " + "; ".join(wins) + "."]
    return "\n".join(lines)


def generated(results):
    parts = {f"table-{size}": size_table(size_rows(rows))
             for size, rows in results["times"].items()}
    parts["table-startup"] = startup_table(results["times"])
    parts["summary"] = summary(results)
    if results.get("lock"):
        parts["table-lock"] = lock_table(results["lock"])
    if results.get("durable"):
        parts["table-durable"] = durable_table(results["durable"])
    if results.get("tool"):
        parts["table-tool"] = tool_table(results["tool"])
    if results.get("commands"):
        parts["table-commands"] = commands_table(results["commands"])
    if results.get("fleet"):
        parts["table-fleet"] = fleet_table(results["fleet"])
    parts["targets"] = targets_table(results["targets"])
    parts["run"] = (f"{results['trials']} trials of at least {results['min_time']} s per "
                    f"benchmark, medians; ratios are medians of the ratios within each trial.")
    return parts


def fill(text, parts, path):
    """`text` with each generated part replaced; the names of those that
    differ."""
    changed = []
    for name, body in parts.items():
        pattern = re.compile(rf"<!-- {name} -->\n(.*?)<!-- /{name} -->", re.S)
        found = pattern.search(text)
        if found is None:
            continue
        if found.group(1) != body + "\n":
            changed.append(f"{path.name}: {name}")
            text = text[:found.start(1)] + body + "\n" + text[found.end(1):]
    return text, changed


def load(path=ROOT / "docs" / "performance.json"):
    """The generated parts that the saved run gives."""
    results = json.loads(Path(path).read_text())
    return generated(results)


def drift(parts, write=False):
    """The generated parts that differ from the run, written when `write`."""
    changed = []
    for path in (ROOT / "docs" / "performance.md", ROOT / "README.md"):
        text, differ = fill(path.read_text(), parts, path)
        changed += differ
        if differ and write:
            path.write_text(text)
    return changed


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--results", default=ROOT / "docs" / "performance.json", type=Path)
    parser.add_argument("--check", action="store_true", help="write nothing; exit 1 on drift")
    args = parser.parse_args()
    changed = drift(load(args.results), write=not args.check)
    for item in changed:
        print(f"{'differs from the run' if args.check else 'written'}: {item}")
    return 1 if args.check and changed else 0


if __name__ == "__main__":
    sys.exit(main())
