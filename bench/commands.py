#!/usr/bin/env python3
"""Times the iniplace tool against the command-line tools people use on
INI files, crudini and `git config -f`, with hyperfine: a get and a set on
a 4 KB and a 1 MB file; and apply: 20,000 keys into a new file, and 200
keys into the 1 MB file against one set there. Edits run on a copy restored
before each run, untimed. The files use names all three tools take:
[sectionN] and keyN = value. Prints a table; --save merges the figures into
a results file of compare.py (key "commands")."""

import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from compare import save_part

SIZES = {"4K": 4000, "1M": 1000000}


def corpus(target):
    text, section = "", 0
    while len(text) < target:
        text += f"[section{section}]\n# settings of part {section}\n"
        text += "".join(f"key{k} = value-{section}-{k}\n" for k in range(10)) + "\n"
        section += 1
    return text, section


def hyperfine(commands, prepare, runs, shell=False):
    """Mean seconds of each command (a list of words, or a shell line)."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        args = ["hyperfine", "--warmup", "3", "--runs", str(runs), "--export-json", out.name]
        if not shell:
            args.append("-N")
        if prepare:
            args += ["--prepare", prepare]
        args += [c if shell else " ".join(c) for c in commands]
        subprocess.run(args, check=True, capture_output=True)
        return [r["mean"] for r in json.loads(Path(out.name).read_text())["results"]]


def single_commands(tool, work, size, runs):
    text, sections = corpus(SIZES[size])
    source, file = work / f"{size}.source", work / f"{size}.ini"
    source.write_text(text)
    shutil.copy(source, file)
    section, key = f"section{sections - 1}", "key7"  # the last section: a pass over the file
    restore = f"cp {source} {file}"
    gets = [[str(tool), "get", str(file), section, key],
            ["crudini", "--get", str(file), section, key],
            ["git", "config", "-f", str(file), f"{section}.{key}"]]
    sets = [[str(tool), "set", str(file), section, key, "changed"],
            ["crudini", "--set", str(file), section, key, "changed"],
            ["git", "config", "-f", str(file), f"{section}.{key}", "changed"]]
    names = ["iniplace", "crudini", "git config"]
    return {"get": dict(zip(names, hyperfine(gets, None, runs))),
            "set": dict(zip(names, hyperfine(sets, restore, runs)))}


def applies(tool, work, runs):
    fragment = work / "20000.ini"
    fragment.write_text("[bulk]\n" + "".join(f"key{i} = value{i}\n" for i in range(20000)))
    new = work / "new.ini"
    text, sections = corpus(SIZES["1M"])
    source, file = work / "apply.source", work / "apply.ini"
    source.write_text(text)
    random.seed(7)
    picks = [(random.randrange(sections), random.randrange(10)) for _ in range(200)]
    few = work / "200.ini"
    few.write_text("".join(f"[section{s}]\nkey{k} = new-{i}\n" for i, (s, k) in enumerate(picks)))
    into_new = hyperfine([f"{tool} apply {new} {fragment}", f"crudini --merge {new} < {fragment}"],
                         f"rm -f {new}", runs, shell=True)
    into_large = hyperfine([f"{tool} apply {file} {few}", f"{tool} set {file} section5 key3 x",
                            f"crudini --merge {file} < {few}"], f"cp {source} {file}", runs,
                           shell=True)
    return {"new 20000": {"iniplace apply": into_new[0], "crudini --merge": into_new[1]},
            "1M 200": {"iniplace apply": into_large[0], "iniplace set": into_large[1],
                       "crudini --merge": into_large[2]}}


def table(results):
    print("\n### The tool and the common tools\n")
    print("| task | size | iniplace | crudini | git config | crudini ÷ iniplace |")
    print("|---|---|---|---|---|---|")
    for size, tasks in results["single"].items():
        for task, row in tasks.items():
            print(f"| {task} | {size} | {row['iniplace'] * 1e3:.2f} ms | {row['crudini'] * 1e3:.2f} ms "
                  f"| {row['git config'] * 1e3:.2f} ms | {row['crudini'] / row['iniplace']:.1f}x |")
    for task, row in results["apply"].items():
        print(f"| apply {task} | | " + ", ".join(f"{k} {v * 1e3:.1f} ms" for k, v in row.items())
              + " | | | |")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--tool", default="build/bench/iniplace", help="the iniplace program")
    parser.add_argument("--runs", type=int, default=30)
    parser.add_argument("--save", metavar="FILE", help="merge the figures into FILE (JSON)")
    args = parser.parse_args()
    for program in ("hyperfine", "crudini", "git"):
        if shutil.which(program) is None:
            print(f"warning: {program} not found, no command figures", file=sys.stderr)
            return 0
    tool = Path(args.tool).resolve()
    with tempfile.TemporaryDirectory() as scratch:
        work = Path(scratch)
        results = {"single": {size: single_commands(tool, work, size, args.runs)
                              for size in SIZES},
                   "apply": applies(tool, work, max(5, args.runs // 3))}
    table(results)
    if args.save:
        save_part(args.save, "commands", results)
    return 0


if __name__ == "__main__":
    sys.exit(main())
