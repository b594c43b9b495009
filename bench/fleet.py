#!/usr/bin/env python3
"""Runs one playbook, 5 hosts on the local connection and 50 settings each,
with iniplace's module (iniplace.fleet.ini) and with Ansible's INI module
(community.general.ini_file), on fresh copies of a configuration written
the way people write them (comments, spacing, a key with spaces). Measures
the wall time of the playbook, the bytes each left changed outside the 50
named lines, whether each file kept its inode, and the bytes Ansible sent
to the hosts (commands, their input and the files put there, counted by
the connection of tests/ansible): in the first run, which copies
iniplace's module program to each host, and in a later one. Reports the
module program's size and the libraries it loads for each build given.
Prints tables; --save merges the figures into a results file of
compare.py (key "fleet")."""

import argparse
import difflib
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from compare import save_part

HOSTS = 5
SECTIONS = 10
SETTINGS = 50
ROOT = Path(__file__).resolve().parent.parent
PROGRAM = "ansible_collections/iniplace/fleet/files/iniplace-module"


def configuration():
    text = "; The gateway's settings, kept by hand.\n\n"
    for s in range(SECTIONS):
        text += f"[part{s}]\n# part {s}\n"
        for k in range(8):
            text += f"key{k} = value-{s}-{k}\n" if k % 3 else f"key{k}=value-{s}-{k}\n"
        text += f"display name = Part {s}\n\n"
    return text


def settings():
    """50 settings: 40 values changed, 10 keys added."""
    changed = [(f"part{i % SECTIONS}", f"key{i // SECTIONS}", f"new-{i}") for i in range(40)]
    added = [(f"part{i}", "added", f"added-{i}") for i in range(10)]
    return changed + added


def playbook(module, path):
    items = "\n".join(f"        - {{section: {s}, option: '{o}', value: '{v}'}}"
                      for s, o, v in settings())
    path.write_text(f"""- hosts: all
  gather_facts: false
  tasks:
    - {module}:
        path: "{{{{ root }}}}/gateway.ini"
        section: "{{{{ item.section }}}}"
        option: "{{{{ item.option }}}}"
        value: "{{{{ item.value }}}}"
      loop:
{items}
""")


def outside(before, after):
    """Bytes of the lines that differ, the 50 named lines left out."""
    named = {(s, o) for s, o, _ in settings()}

    def kept(text):
        lines, section = [], None
        for line in text.splitlines(keepends=True):
            stripped = line.strip()
            if stripped.startswith("["):
                section = stripped[1:stripped.find("]")]
            key = stripped.split("=", 1)[0].strip() if "=" in stripped else None
            if (section, key) not in named:
                lines.append(line)
        return lines

    diff = difflib.ndiff(kept(before), kept(after))
    return sum(len(line) - 2 for line in diff if line[:1] in "+-")


def relaid(before, after):
    """How many of the named lines that stood in the file changed their layout
    (indentation, spaces around =) beyond their value."""
    def layouts(text):
        found, section = {}, None
        for line in text.splitlines():
            stripped = line.strip()
            if stripped.startswith("["):
                section = stripped[1:stripped.find("]")]
            elif "=" in stripped:
                name, value = line.split("=", 1)
                found[(section, name.strip())] = name + "=" + value[:len(value) - len(value.lstrip())]
        return found
    old, new = layouts(before), layouts(after)
    return sum(1 for s, o, _ in settings() if (s, o) in old and old[(s, o)] != new.get((s, o)))


def run(module, work, environment):
    text = configuration()
    inodes = {}
    for h in range(HOSTS):
        host = work / f"h{h}"
        shutil.rmtree(host, ignore_errors=True)
        host.mkdir()
        (host / "gateway.ini").write_text(text)
        inodes[h] = (host / "gateway.ini").stat().st_ino
    book = work / "book.yml"
    playbook(module, book)
    count = Path(environment["INIPLACE_COUNT_LOG"])
    count.write_text("")
    start = time.monotonic()
    subprocess.run(["ansible-playbook", "-i", str(work / "inventory"), str(book)], check=True,
                   capture_output=True, env=environment)
    seconds = time.monotonic() - start
    files = [work / f"h{h}" / "gateway.ini" for h in range(HOSTS)]
    return {"seconds": seconds,
            "outside": max(outside(text, f.read_text()) for f in files),
            "relaid": max(relaid(text, f.read_text()) for f in files),
            "inodes kept": sum(files[h].stat().st_ino == inodes[h] for h in range(HOSTS)),
            "bytes sent": sum(int(line.split()[1]) for line in count.read_text().splitlines())}


def program(collections):
    """The module program's size and the libraries it loads."""
    path = Path(collections) / PROGRAM
    if not path.exists():
        return None
    dynamic = subprocess.run(["readelf", "-d", str(path)], capture_output=True, text=True).stdout
    return {"bytes": path.stat().st_size,
            "loads": re.findall(r"Shared library: \[(.*?)\]", dynamic)}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--collections", default="build/bench/ansible",
                        help="the collections path the build made")
    parser.add_argument("--targets", nargs="*", default=["build/ppc32/ansible"],
                        help="the collections paths of other builds, whose module size is told")
    parser.add_argument("--trials", type=int, default=3)
    parser.add_argument("--save", metavar="FILE", help="merge the figures into FILE (JSON)")
    args = parser.parse_args()
    if shutil.which("ansible-playbook") is None:
        print("warning: ansible-playbook not found, no fleet figures", file=sys.stderr)
        return 0
    results = {}
    with tempfile.TemporaryDirectory() as scratch:
        work = Path(scratch)
        (work / "inventory").write_text("".join(
            f"h{h} ansible_connection=counted root={work}/h{h}\n" for h in range(HOSTS)))
        # The hosts' home (the module program kept in it) is new for each run
        # of this script, so its first trial copies the program.
        environment = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=str(Path(args.collections).resolve())
                           + ":/usr/lib/python3/dist-packages", ANSIBLE_HOME=str(work / "home"),
                           ANSIBLE_PYTHON_INTERPRETER="auto_silent", ANSIBLE_FORKS=str(HOSTS),
                           HOME=str(work), INIPLACE_COUNT_LOG=str(work / "count"),
                           ANSIBLE_CONNECTION_PLUGINS=str(ROOT / "tests/ansible/connection_plugins"))
        for name, module in (("iniplace.fleet.ini", "iniplace.fleet.ini"),
                             ("community.general.ini_file", "community.general.ini_file")):
            trials = [run(module, work, environment) for _ in range(max(args.trials, 2))]
            results[name] = dict(trials[-1], seconds=statistics.median(t["seconds"] for t in trials),
                                 **{"bytes sent first": trials[0]["bytes sent"]})
    sizes = {path: program(path) for path in [args.collections, *args.targets]}
    target = sizes.get(args.targets[0]) if args.targets else None
    results["module size"] = target["bytes"] if target else None
    # By the build's folder: default, ppc32...
    results["module programs"] = {Path(path).resolve().parent.name: size
                                  for path, size in sizes.items() if size}
    print(f"\n### A fleet: {HOSTS} hosts, {SETTINGS} settings each\n")
    print("| module | playbook | bytes changed outside the named lines | named lines re-laid "
          "| inodes kept | bytes sent, first run | a later run | per setting |")
    print("|---|---|---|---|---|---|---|---|")
    for name in ("iniplace.fleet.ini", "community.general.ini_file"):
        row = results[name]
        print(f"| {name} | {row['seconds']:.1f} s | {row['outside']} | {row['relaid']} of 40 "
              f"| {row['inodes kept']} of {HOSTS} | {row['bytes sent first']:,} "
              f"| {row['bytes sent']:,} | {row['bytes sent'] / (HOSTS * SETTINGS):,.0f} |")
    print("\n| build | module program | loads |")
    print("|---|---|---|")
    for build, size in results["module programs"].items():
        print(f"| {build} | {size['bytes']:,} bytes | {', '.join(size['loads'])} |")
    if args.save:
        save_part(args.save, "fleet", results)
    return 0


if __name__ == "__main__":
    sys.exit(main())
