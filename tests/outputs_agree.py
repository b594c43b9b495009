#!/usr/bin/env python3
"""Tells whether the programs that read the iniplace tool's output read in
it what the file holds and what the edit made:

- JSON (`list --format json`): every byte 0x00-0xFF, and forms of UTF-8
  valid and not, inside a section's name, a key and a value: the output is
  UTF-8 that Python's json module parses (strictly: no control byte left
  unescaped), and its strings, each \\uDC80 to \\uDCFF turned back into the
  byte 0x80 to 0xFF, are the file's bytes;
- shell assignments (`list --format sh`): the same bytes in a value, the
  lines evaluated by sh, give the value back (a zero byte is refused); a
  key is assigned when it is a shell name and else left out with a warning;
- unified diffs (`--diff`): over generated files (empty and missing ones,
  CRLF, a byte-order mark, no line feed at the end) and edits (set, del,
  add, remove, and apply of several settings, which makes several hunks),
  the diff applied by patch to the old file, without fuzz or offset, gives
  the new file byte for byte, and is empty when nothing changed.

usage: outputs_agree.py TOOL [--count N] [--seed N]
Exits 0 when all agree, 1 with the differences."""

import argparse
import json
import os
import random
import re
import subprocess
import sys
import tempfile

HUNK = re.compile(rb"^@@ -(\d+)(?:,(\d+))? \+(\d+)(?:,(\d+))? @@", re.M)
UTF8_FORMS = [b"\xc3\xa9", b"\xe2\x82\xac", b"\xf0\x9f\x98\x80", b"\xc0\xaf", b"\xe0\x80\xaf",
              b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xf0\x8f\xbf\xbf", b"\xc3",
              b"\xef\xbb\xbf"]


def run(tool, args, stdin=b""):
    return subprocess.run([tool] + args, input=stdin, capture_output=True)


def as_bytes(text):
    return text.encode("utf-8", "surrogateescape")


def check_json_and_sh(tool, scratch):
    found = []
    path = os.path.join(scratch, "bytes.ini")
    for piece in [bytes([byte]) for byte in range(256)] + UTF8_FORMS:
        # A line feed goes on a value as a line of its own; a key holding
        # = or : is another key, and one holding a line break none the
        # tool lists.
        line_break = piece == b"\n"
        key = b"k" + (b"" if piece in (b"\n", b"\r", b"=", b":") else piece) + b"j"
        section = b"s" + (b"" if line_break else piece) + b"t"
        value = b"v\n    w" if line_break else b"v" + piece + b"w"
        with open(path, "wb") as out:
            out.write(b"[" + section + b"]\n" + key + b"=" + value + b"\nk=" + value + b"\n")
        read_value = b"v\nw" if line_break else value
        wanted = {section: {key: read_value, b"k": read_value}}
        listing = run(tool, ["list", "--format", "json", path])
        try:
            read = json.loads(listing.stdout.decode("utf-8"))
            got = {as_bytes(s): {as_bytes(k): as_bytes(v) for k, v in keys.items()}
                   for s, keys in read.items()}
        except (UnicodeDecodeError, ValueError, AttributeError) as error:
            got = f"{error} in {listing.stdout!r}"
        if got != wanted:
            found.append(f"json of {piece!r}: {got!r}, not {wanted!r}")
        found += check_sh(tool, path, key, value, read_value)
    return found


def check_sh(tool, path, key, value, wanted):
    with open(path, "wb") as out:
        out.write(b"[s]\n" + key + b"=1\nk=" + value + b"\n")
    listing = run(tool, ["list", "--format", "sh", path, "s"])
    if b"\0" in wanted:
        if listing.returncode == 2 and b"zero byte" in listing.stderr:
            return []
        return [f"sh of {value!r}: a zero byte taken: {listing}"]
    shell_name = key.replace(b"_", b"a").isalnum()
    if shell_name != (b"not a shell name" not in listing.stderr):
        return [f"sh of {key!r}: left out or not wrongly: {listing.stderr!r}"]
    names = [b"k"] + ([key] if shell_name else [])
    script = b'eval "$1"; printf "%s\\0" ' + b" ".join(b'"${' + n + b'-unset}"' for n in names)
    evaluated = subprocess.run(["sh", "-c", script, "sh", listing.stdout], capture_output=True,
                               env={"LC_ALL": "C", "PATH": os.environ.get("PATH", "/bin")})
    values = evaluated.stdout.split(b"\0")[:-1]
    if values != [wanted] + [b"1"] * (len(names) - 1):
        return [f"sh of {key!r}={value!r}: {values!r} from {listing.stdout!r}"]
    return []


# Diffs.

def generated_text(rng):
    """A file's bytes, or None for a missing file."""
    if rng.random() < 0.08:
        return None
    if rng.random() < 0.08:  # one section, which del takes whole
        return rng.choice([b"[a]\nk=1\n", b"[a]\r\nk=1", b"[a]"])
    lines = []
    for _ in range(rng.randint(0, 30)):
        shape = rng.random()
        if shape < 0.15:
            lines.append("[" + rng.choice(["a", "b", "c", "d"]) + "]")
        elif shape < 0.55:
            lines.append(rng.choice(["k", "x", "y", "z"]) + rng.choice(["=", " = ", ": "]) +
                         rng.choice(["1", "two words", ""]))
        elif shape < 0.65:
            lines.append("    goes on")
        elif shape < 0.75:
            lines.append(rng.choice(["; a comment", "# another"]))
        elif shape < 0.85:
            lines.append("entry" + str(rng.randint(1, 3)))
        else:
            lines.append("")
    end = rng.choice(["\n", "\n", "\r\n"])
    text = end.join(lines) + (end if lines and rng.random() < 0.8 else "")
    return (b"\xef\xbb\xbf" if rng.random() < 0.1 else b"") + text.encode()


def generated_edit(rng):
    """The tool's words after FILE, and a fragment for apply."""
    section = rng.choice(["a", "b", "c", "d", "*", "new"])
    key = rng.choice(["k", "x", "y", "fresh"])
    kind = rng.choice(["set", "set", "del", "del section", "add", "remove", "apply", "apply"])
    if kind == "set":
        return ["set", "--all", "--", section, key, rng.choice(["2", "a b", "two\nlines", ""])], b""
    if kind == "del":
        return ["del", "--all", "--", section, key], b""
    if kind == "del section":
        return ["del", "--", rng.choice(["a", "a", "b"])], b""
    if kind in ("add", "remove"):
        return [kind, "--", section, rng.choice(["entry1", "entry2", "k=1"])], b""
    fragment = ""
    for _ in range(rng.randint(1, 5)):
        fragment += f"[{rng.choice(['a', 'b', 'c', 'd', 'e'])}]\n"
        fragment += f"{rng.choice(['k', 'x', 'y', 'w'])} = {rng.randint(0, 9)}\n"
        if rng.random() < 0.3:
            fragment += f"entry{rng.randint(1, 4)}\n"
    return ["apply", "--"], fragment.encode()


def numbers_agree(diff):
    """Whether each hunk starts on the new side where the lines the hunks
    before it added and removed put its first line (an empty side numbered
    by the line before it): patch goes by one side alone, and puts lines
    into an empty file whatever number they carry."""
    shift = 0
    for old_start, old_count, new_start, new_count in HUNK.findall(diff):
        old_count, new_count = int(old_count or 1), int(new_count or 1)
        if int(new_start) + (new_count == 0) - int(old_start) - (old_count == 0) != shift:
            return False
        shift += new_count - old_count
    return True


def patched_as(where, diff, start, end, reverse, scratch):
    """What patch makes of `start` (None: missing) with `diff` (reversed: the
    new side's numbers are the ones it goes by) unless it is `end`."""
    old, patched = os.path.join(scratch, "old"), os.path.join(scratch, "patched")
    with open(old, "wb") as out:
        out.write(start or b"")
    if os.path.exists(patched):
        os.unlink(patched)
    applied = subprocess.run(["patch", "--fuzz=0", "--no-backup-if-mismatch", "-r", "-"] +
                             (["-R"] if reverse else []) + ["-o", patched, old], input=diff,
                             capture_output=True)
    said = applied.stdout + applied.stderr
    got = open(patched, "rb").read() if os.path.exists(patched) else b""
    if applied.returncode == 0 and b"offset" not in said and got == (end or b""):
        return []
    return [f"{where}: patch {'-R ' if reverse else ''}made {got!r} of {start!r}, not {end!r} "
            f"({said!r}) with\n{diff.decode('utf-8', 'replace')}"]


def check_diffs(tool, scratch, count, seed):
    rng = random.Random(seed)
    found, checked = [], 0
    path = os.path.join(scratch, "f.ini")
    for number in range(count):
        text = generated_text(rng)
        if os.path.exists(path):
            os.unlink(path)
        if text is not None:
            with open(path, "wb") as out:
                out.write(text)
        words, fragment = generated_edit(rng)
        result = run(tool, [words[0], "--diff"] + words[1:2] + [path] + words[2:], fragment)
        where = f"file {number} {text!r}, {words} {fragment!r}"
        if result.returncode != 0:
            if result.returncode != 2:  # a refusal leaves the file as it was
                found.append(f"{where}: status {result.returncode} {result.stderr!r}")
            continue
        new = open(path, "rb").read() if os.path.exists(path) else None
        if (result.stdout == b"") != (new == text):
            found.append(f"{where}: a diff {result.stdout!r} for {new!r}")
            continue
        if new == text:
            continue
        for reverse, start, end in ((False, text, new), (True, new, text)):
            found += patched_as(where, result.stdout, start, end, reverse, scratch)
        if not numbers_agree(result.stdout):
            found.append(f"{where}: hunks numbered wrong:\n{result.stdout!r}")
        checked += 1
    print(f"{checked} diffs applied by patch")
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool")
    parser.add_argument("--count", type=int, default=400)
    parser.add_argument("--seed", type=int, default=39)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        found = check_json_and_sh(args.tool, scratch)
        found += check_diffs(args.tool, scratch, args.count, args.seed)
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
