#!/usr/bin/env python3
"""The module program takes its arguments as Ansible's own modules take
them, checked against Python's and Ansible's readers over generated
arguments, the program run as the action plugin runs it (arguments on
standard input):
- a path as Python's os.path.expanduser(os.path.expandvars(...)) reads it
  (type path), with HOME set, set with final slashes, and unset;
- a YAML number or boolean value written as str() writes it (ini_file);
- a flag as Ansible's boolean() reads it, or refused where that refuses;
- any other number of arguments than one refused.
usage: arguments.py PROGRAM [SEED]"""

import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

try:
    from ansible.module_utils.parsing.convert_bool import boolean
except ImportError:  # run again by the Python that runs Ansible
    with open(shutil.which("ansible-playbook")) as script:
        python = script.readline()[2:].strip()
    if python == sys.executable:
        raise
    os.execv(python, [python, *sys.argv])

PIECES = ["~", "~root", "~nobody", "~no-such-user", "$HOME", "${HOME}", "$SET_1", "${SET_1}x",
          "$UNSET", "${UNSET}", "$", "${", "${}", "$$", "a$", "x~", "/", "//", "dir", "$SET_1_",
          "$Az09", "$zZ_", "$Az09-", "${zZ_}", "$aZ"]
WORDS = ["yes", "no", "true", "false", "on", "off", "y", "n", "t", "f", "1", "0", "1.0", "0.0",
         "maybe", "", "2"]


def module(program, arguments, environment):
    done = subprocess.run([program, "-"], input=json.dumps(arguments), capture_output=True,
                          text=True, env=environment)
    return json.loads(done.stdout)


def main():
    program = sys.argv[1]
    rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 42)
    failures = []
    for words in ([], ["-", "more"]):
        done = subprocess.run([program, *words], capture_output=True, text=True)
        if done.returncode != 2 or "usage: ini ARGUMENTS" not in done.stderr:
            failures.append(f"{words} taken: {done}")
    with tempfile.TemporaryDirectory() as scratch:
        work = Path(scratch)
        for home in [str(work / "home"), str(work / "home") + "//", "/", None]:
            environment = {"PATH": os.environ.get("PATH", "/bin"), "SET_1": str(work / "set"),
                           "Az09": "/az", "zZ_": "zz", "A": "/a", "z": "/z", "Az": "/b", "aZ": "/c"}
            if home is not None:
                environment["HOME"] = home
            saved = dict(os.environ)
            os.environ.clear()
            os.environ.update(environment)
            for _ in range(60):
                path = "".join(rng.choice(PIECES) for _ in range(rng.randint(1, 3)))
                path += "/no-such-dir/f.ini"
                expected = os.path.expanduser(os.path.expandvars(path))
                reply = module(program, {"path": path, "section": "s", "option": "k",
                                         "state": "absent"}, environment)
                if reply.get("path") != expected:
                    failures.append(f"HOME={home}: {path} read as {reply}, not {expected}")
            os.environ.clear()
            os.environ.update(saved)
        target = work / "values.ini"
        for _ in range(40):
            value = rng.choice([rng.uniform(-1e6, 1e6), rng.random() * 10 ** rng.randint(-30, 30),
                                rng.randint(-2 ** 80, 2 ** 80), rng.choice([True, False]), 0.1])
            module(program, {"path": str(target), "section": "s", "option": "k", "value": value},
                   os.environ)
            if target.read_text() != f"[s]\nk={value}\n":
                failures.append(f"{value!r} written as {target.read_text()!r}")
        for word in WORDS + [w.upper() for w in WORDS] + [w.capitalize() for w in WORDS]:
            try:
                expected = boolean(word)
            except TypeError:
                expected = None
            missing = work / "missing.ini"
            reply = module(program, {"path": str(missing), "section": "s", "option": "k",
                                     "value": "v", "create": word}, os.environ)
            made = missing.exists()
            missing.unlink(missing_ok=True)
            read = None if "must be a boolean" in reply.get("msg", "") else made
            if read != expected:
                failures.append(f"create: {word!r} read as {read} ({reply}), not {expected}")
    for failure in failures:
        print("FAIL:", failure)
    print(f"paths, values and flags against Python's and Ansible's readers: "
          f"{len(failures)} disagreements")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
