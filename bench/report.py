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
    lines = ["| operation | size | durable iniplace | safe save | ÷ safe save |",
             "|---|---|---|---|---|"]
    for size, ops in rows.items():
        for op, row in ops.items():
            lines.append(f"| {op} | {SIZES[size]} | {time(row['iniplace'])} "
                         f"| {time(row['safe_save'])} | {ratio(row['/safe_save'])} |")
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


def span(values, render):
    values = [v for v in values if v is not None]
    low, high = render(min(values)), render(max(values))
    if low == high:
        return low
    unit = low.split(" ")[-1] if " " in low else None
    if unit is not None and high.endswith(" " + unit):
        low = low[: -len(unit) - 1]  # 8.8–9.4 µs
    return f"{low}–{high}"


def readme_figures(results):
    """The sentences the README quotes from the run."""
    small, large = results["times"]["4K"], results["times"]["1M"]
    gets = [small[op] for op in ("get_start", "get_middle", "get_end", "get_typed")]
    edits = [row for op, row in small.items() if op.startswith(("set_", "del_", "entry_add",
                                                                "entry_remove"))]
    number = lambda v: f"{v:.2f}".rstrip("0").rstrip(".")
    return (
        f"On a 4 KB file a get takes {span([r['iniplace'] for r in gets], time)} "
        f"({span([r['/floor'] for r in gets], number)}x the bare `open`/`read`/`close`, "
        f"{span([r['/minIni'] for r in gets], number)}x minIni) and an edit "
        f"{span([r['iniplace'] for r in edits], time)} "
        f"({span([r['/floor'] for r in edits], number)}x the least a program must pay to "
        f"rewrite the line in place, "
        f"{span([r['/minIni'] for r in edits if r['/minIni']], number)}x minIni, which "
        f"rewrites the file through a temporary copy). On a 1 MB file the last key is "
        f"read in {number(large['get_end']['/floor'])}x the bare reading of the file "
        f"and {number(large['get_end']['/minIni'])}x minIni's time.")


def generated(results):
    parts = {f"table-{size}": size_table(rows) for size, rows in results["times"].items()}
    if results.get("durable"):
        parts["table-durable"] = durable_table(results["durable"])
    if results.get("tool"):
        parts["table-tool"] = tool_table(results["tool"])
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


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--results", default=ROOT / "docs" / "performance.json", type=Path)
    parser.add_argument("--check", action="store_true", help="write nothing; exit 1 on drift")
    args = parser.parse_args()
    results = json.loads(args.results.read_text())
    parts = generated(results)
    parts["figures"] = readme_figures(results)
    drift = []
    for path in (ROOT / "docs" / "performance.md", ROOT / "README.md"):
        text, changed = fill(path.read_text(), parts, path)
        drift += changed
        if changed and not args.check:
            path.write_text(text)
    for item in drift:
        print(f"{'differs from the run' if args.check else 'written'}: {item}")
    return 1 if args.check and drift else 0


if __name__ == "__main__":
    sys.exit(main())
