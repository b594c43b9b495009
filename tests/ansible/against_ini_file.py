#!/usr/bin/env python3
"""iniplace.fleet.ini against community.general.ini_file, on generated files
and tasks where the two promise the same: a key set or deleted, a section
deleted, a missing file made or refused (create). The files are
written in ini_file's own layout (key = value), with comments and blank
lines, no key twice. For every task the two must agree on whether it
failed and whether it changed the file; Python's configparser must read
the two results alike. iniplace's module must then change nothing in a second
run, and report the same changes in check mode while writing nothing.
usage: against_ini_file.py COLLECTIONS [SEED]
Exits 77 (skipped) where community.general is not installed."""

import configparser
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

HOSTS = 4
CASES = 48
MODULES = ("iniplace.fleet.ini", "community.general.ini_file")
PLAY = """- hosts: all
  gather_facts: false
  tasks:
    - {module}:
        path: "{{{{ root }}}}/{{{{ item.file }}}}"
        section: "{{{{ item.section }}}}"
        option: "{{{{ item.option | default(omit) }}}}"
        value: "{{{{ item.value | default(omit) }}}}"
        state: "{{{{ item.state }}}}"
        create: "{{{{ item.create }}}}"
      loop: "{{{{ cases }}}}"
      ignore_errors: true
"""


def generated_file(rng):
    """A file's text, or None for a missing file."""
    if rng.random() < 0.15:
        return None
    text = "; settings\n\n" if rng.random() < 0.5 else ""
    for section in rng.sample(["s0", "s1", "s2", "s3"], rng.randint(1, 3)):
        text += f"[{section}]\n"
        for key in rng.sample(["k0", "k1", "k2", "k3", "k4"], rng.randint(0, 4)):
            if rng.random() < 0.2:
                text += "# a note\n"
            text += f"{key} = {rng.choice(['1', 'on', 'a b', '', 'x=y'])}\n"
        text += "\n" if rng.random() < 0.6 else ""
    return text


def generated_task(rng, number):
    task = {"file": f"c{number}.ini", "section": rng.choice(["s0", "s1", "s2", "s3"]),
            "state": rng.choice(["present", "absent"]), "create": True}
    # ini_file makes no section without a key in it.
    if task["state"] == "present" or rng.random() < 0.7:
        task["option"] = rng.choice(["k0", "k1", "k2", "k3", "k4"])
        if task["state"] == "present":
            task["value"] = rng.choice(["1", "on", "a b", "", "new value"])
    if task["state"] == "present" and rng.random() < 0.15:
        task["create"] = False
    return task


def reading(path):
    """The sections and keys configparser reads in a file, None if missing."""
    if not path.exists():
        return None
    parser = configparser.ConfigParser(interpolation=None, strict=False, delimiters=("=",))
    parser.optionxform = str
    parser.read(path)
    return {name: dict(parser[name]) for name in parser.sections()}


def play(module, work, inventory, *options):
    book = work / "book.yml"
    book.write_text(PLAY.format(module=module))
    environment = dict(os.environ, ANSIBLE_STDOUT_CALLBACK="json", ANSIBLE_HOME=str(work / "home"),
                       ANSIBLE_LOCAL_TEMP=str(work / "tmp"), ANSIBLE_PYTHON_INTERPRETER="auto_silent",
                       ANSIBLE_DEPRECATION_WARNINGS="0", ANSIBLE_FORKS=str(HOSTS))
    done = subprocess.run(["ansible-playbook", "-i", str(inventory), *options, str(book)],
                          capture_output=True, text=True, env=environment)
    report = json.loads(done.stdout)
    results = {}
    for host, outcome in report["plays"][0]["tasks"][0]["hosts"].items():
        for result in outcome["results"]:
            results[(host, result["item"]["file"])] = (bool(result.get("failed")),
                                                       bool(result.get("changed")))
    return results


def main():
    collections = Path(sys.argv[1]).resolve()
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 39
    os.environ["ANSIBLE_COLLECTIONS_PATH"] = str(collections)
    if subprocess.run(["ansible-doc", "community.general.ini_file"], capture_output=True).returncode:
        print("skipped: community.general.ini_file is not installed")
        return 77
    rng = random.Random(seed)
    texts = [generated_file(rng) for _ in range(CASES)]
    tasks = [generated_task(rng, n) for n in range(CASES)]
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        work = Path(scratch)
        os.environ["HOME"] = str(work)

        def lay(run):
            hosts = {}
            for h in range(HOSTS):
                root = work / run / f"h{h}"
                shutil.rmtree(root, ignore_errors=True)
                root.mkdir(parents=True)
                mine = [n for n in range(CASES) if n % HOSTS == h]
                for n in mine:
                    if texts[n] is not None:
                        (root / f"c{n}.ini").write_text(texts[n])
                hosts[f"h{h}"] = {"ansible_connection": "local", "root": str(root),
                                  "cases": [tasks[n] for n in mine]}
            inventory = work / f"{run}.json"
            inventory.write_text(json.dumps({"all": {"hosts": hosts}}))
            return inventory

        def path(run, n):
            return work / run / f"h{n % HOSTS}" / f"c{n}.ini"

        outcomes = {module: play(module, work, lay(module)) for module in MODULES}
        first = outcomes[MODULES[0]]
        second = play(MODULES[0], work, work / f"{MODULES[0]}.json")
        checked = play(MODULES[0], work, lay("check"), "--check")
        for n in range(CASES):
            key = (f"h{n % HOSTS}", f"c{n}.ini")
            if first[key] != checked[key]:
                failures.append(f"case {n}: check mode says {checked[key]}, the run {first[key]}")
            if second[key] != (first[key][0], False):
                failures.append(f"case {n}: the second run {second[key]}")
            after_check = path("check", n)
            if (after_check.read_text() if after_check.exists() else None) != texts[n]:
                failures.append(f"case {n}: check mode wrote the file")
        for n in range(CASES):
            key = (f"h{n % HOSTS}", f"c{n}.ini")
            ours, theirs = (outcomes[module][key] for module in MODULES)
            read = [reading(path(module, n)) for module in MODULES]
            if ours != theirs or read[0] != read[1]:
                failures.append(f"case {n}: {tasks[n]} on {texts[n]!r}: iniplace (failed, changed) "
                                f"{ours}, reads {read[0]}; ini_file {theirs}, reads {read[1]}")
    for failure in failures:
        print("FAIL:", failure)
    changed = sum(changed for _, changed in first.values())
    print(f"{CASES} tasks, {changed} changing a file: {len(failures)} disagreements")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
