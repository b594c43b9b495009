#!/usr/bin/env python3
"""Tells whether the iniplace tool reads files as the programs of their
dialect do, and whether its edits read back there as asked.

usage: readers_agree.py FILE JSON [FILE JSON ...]
       readers_agree.py --generate TOOL [--count N] [--seed N]

The first form takes pairs of a file and the JSON of `iniplace list --format
json` on it. The second generates files that mix the shapes the tool's
manual names (case, a byte-order mark, CRLF, blank lines, comments, repeated
sections and keys, lines that go on a value, separators, comments after
values, keys without values, aligned separators), lists each with the tool
and edits it with set, del and del of a section, and checks every listing
and edit.

The readers: git files (named as the tool's git dialect takes them) by `git
config --file F --list`; others by Python's configparser with its default
delimiters, not strict, keys without values allowed, ; and # after a blank
as comments, no interpolation, names as written and no DEFAULT section.
configparser takes !include lines for keys; they are left out. A file the
reader refuses is passed over. Exits 0 when all agree, 1 with the
differences."""

import argparse
import configparser
import json
import os
import random
import subprocess
import sys
import tempfile

GIT_NAMES = {".gitconfig", "gitconfig", ".gitmodules"}
SYSTEMD_SUFFIXES = (".service", ".socket", ".device", ".mount", ".automount", ".swap",
                    ".target", ".path", ".timer", ".slice", ".scope", ".nspawn", ".network",
                    ".netdev", ".link")
BOM = "\ufeff"


def dialect(path):
    name, parent = os.path.basename(path), os.path.basename(os.path.dirname(path))
    if name in GIT_NAMES or (name == "config" and parent in (".git", "git")):
        return "git"
    return "systemd" if name.endswith(SYSTEMD_SUFFIXES) else "configparser"


def configparser_read(path):
    parser = configparser.ConfigParser(strict=False, interpolation=None, allow_no_value=True,
                                       inline_comment_prefixes=("#", ";"),
                                       default_section="\0none")
    parser.optionxform = str
    with open(path, encoding="utf-8-sig", errors="surrogateescape", newline=None) as text:
        parser.read_file(text)
    return {section: {key: value for key, value in parser[section].items()
                      if not key.startswith(("!include", "%include"))}
            for section in parser.sections()}


def git_read(path):
    listed = subprocess.run(["git", "config", "--file", path, "--list", "-z"],
                            capture_output=True, check=True).stdout.decode("utf-8", "surrogateescape")
    read = {}
    for entry in listed.split("\0")[:-1]:
        name, feed, value = entry.partition("\n")
        section, _, key = name.rpartition(".")
        read.setdefault(section, {})[key] = value if feed else "true"
    return read


def read(path):
    """What the dialect's reader finds in the file; None where it refuses it
    or the dialect has no reader here."""
    kind = dialect(path)
    try:
        if kind == "git":
            return git_read(path)
        return configparser_read(path) if kind == "configparser" else None
    except (configparser.Error, subprocess.CalledProcessError, AttributeError,
            UnicodeDecodeError):
        return None


def tool_listing(listing, path):
    listed = json.loads(listing)
    if dialect(path) == "git":  # git lists no empty section
        return {section: keys for section, keys in listed.items() if keys}
    listed.pop("", None)  # the preamble, which configparser does not read
    return listed


def differences(path, listed, expected, what):
    found = []
    for section in sorted(set(listed) | set(expected)):
        if listed.get(section) != expected.get(section):
            found.append(f"{path} [{section}] {what}: iniplace {listed.get(section)!r}, "
                         f"reader {expected.get(section)!r}")
    return found


def check_kept(pairs):
    found = []
    for path, listing in pairs:
        expected = read(path)
        if expected is not None:
            with open(listing, encoding="utf-8") as text:
                found += differences(path, tool_listing(text.read(), path), expected, "listed")
    return found


# Generated files.

def written_value(rng, git):
    """A value as it follows a separator, comments and lines that go on it
    included."""
    if git:
        return rng.choice(["v", "a b", '"quoted ; value"', "x ; comment", "x # c",
                           'say \\"hi\\"', "a \\\n\t  b", ""])
    return rng.choice(["v", "a b", "a#b", "x ; comment", "64M   # for imports", "", "k=v:w",
                       "\n    one\n    two", "first\n\tsecond", "a\n    b\n\n    c",
                       "a\n# inside\n    b"])


def generated_file(rng, git):
    names = (["core", "Core", 'remote "origin"', 'Remote "Origin"', "a.B", 'branch "main"']
             if git else ["net", "Net", "db", "log files", "x.y", "program:worker"])
    keys = (["url", "URL", "bare", "editor", "fetch", "x-y"] if git
            else ["port", "Port", "host", "user name", "a.b", "x-y", "skip-lock"])
    lines = [""] if rng.random() < 0.1 else []
    if rng.random() < 0.2:  # configparser reads no keys before a header
        lines.append("\tpre = 1" if git else "; a preamble comment")
    for _ in range(rng.randint(1, 4)):
        if lines and rng.random() < 0.5:
            lines.append("")
        header = "[" + rng.choice(names) + "]"
        lines.append(header + rng.choice(["", "", "  ; about it", " # about it"]))
        column = rng.choice([0, 0, 12])
        indent = "\t" if git else rng.choice(["", "", "   "])
        for _ in range(rng.randint(0, 5)):
            shape = rng.random()
            if shape < 0.15:
                lines.append(indent + rng.choice(["; a comment", "# a comment"]))
            elif shape < 0.25:
                lines.append("")
            elif shape < 0.35:
                lines.append(indent + rng.choice(keys))  # a key without a value
            else:
                key = rng.choice(keys)
                separator = rng.choice(["=", " = "] if git else ["=", " = ", ":", " : "])
                padding = " " * max(1, column - len(key)) if column else ""
                lines.append(indent + key + padding + separator.lstrip(" " if padding else "")
                             + written_value(rng, git))
    text = "\n".join(lines) + "\n"
    if rng.random() < 0.3:
        text = text.replace("\n", "\r\n")
    return (BOM if rng.random() < 0.2 else "") + text


def pick_edit(rng, read, git):
    sections = list(read) + (["new.part" if git else "new part"])
    section = rng.choice(sections)
    keys = list(read.get(section, {})) + ["fresh"]
    key = rng.choice(keys)
    values = (["new", "a b", " padded ", "semi;colon", "two\nlines", 'q"uote', "back\\slash"]
              if git else ["new", "a b", "x:y=z", "two\nlines", "\nlead\nlines"])
    kind = rng.choice(["set", "set", "del", "section" if section else "del"])
    if kind == "set":
        return ["set", "--all", section, key, rng.choice(values)]
    return ["del", "--all", section, key] if kind == "del" else ["del", section]


def expected_after(read, edit):
    after = {section: dict(keys) for section, keys in read.items()}
    if edit[0] == "set":
        after.setdefault(edit[1], {})[edit[2]] = edit[3].strip(" ")
    elif len(edit) == 3:
        after.get(edit[1], {}).pop(edit[2], None)
    else:
        after.pop(edit[1], None)
    return after


def run_tool(tool, args):
    return subprocess.run([tool] + args, capture_output=True)


def check_generated(tool, count, seed):
    rng = random.Random(seed)
    found, checked = [], 0
    with tempfile.TemporaryDirectory() as scratch:
        os.makedirs(os.path.join(scratch, ".git"))
        # Names that choose the dialect: git's, and one that only git's
        # directory makes git's (named with a doubled slash).
        names = ["f.ini", "config", "gitconfig", "f.cfg", "config", ".git//config"]
        for number in range(count):
            git = number % 3 == 2
            path = os.path.join(scratch, names[number % len(names)])
            text = generated_file(rng, git).encode("utf-8")
            with open(path, "wb") as out:
                out.write(text)
            before = read(path)
            if before is None:
                continue
            listing = run_tool(tool, ["list", "--format", "json", path])
            found += differences(path, tool_listing(listing.stdout, path), before,
                                 f"listed (file {number})")
            edit = pick_edit(rng, before, git)
            if git and edit[0] != "section":
                edit = [word.lower() if i == 3 else word for i, word in enumerate(edit)]
            operands = [word or "*" for word in edit[2:]]  # * names the preamble
            result = run_tool(tool, edit[:2] + [path] + operands if edit[1] == "--all"
                              else [edit[0], path] + edit[1:])
            with open(path, "rb") as edited:
                new_text = edited.read()
            where = f"file {number} {text!r} after {edit}"
            if result.returncode != 0:
                found.append(f"{where}: status {result.returncode} {result.stderr!r}")
                continue
            wanted = expected_after(before, [w for w in edit if w != "--all"])
            if git:
                wanted = {s: k for s, k in wanted.items() if k}
            found += differences(where, read(path) or {}, wanted, "edited")
            if new_text.startswith(BOM.encode()) != text.startswith(BOM.encode()):
                found.append(f"{where}: the byte-order mark changed")
            if b"\r\n" in text and new_text.count(b"\n") != new_text.count(b"\r\n"):
                found.append(f"{where}: a line feed without its carriage return")
            checked += 1
    print(f"{checked} generated files listed and edited")
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--generate", metavar="TOOL")
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--seed", type=int, default=38)
    parser.add_argument("pairs", nargs="*")
    args = parser.parse_args()
    if args.generate:
        found = check_generated(args.generate, args.count, args.seed)
    else:
        found = check_kept(zip(args.pairs[0::2], args.pairs[1::2]))
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
