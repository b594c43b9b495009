#!/usr/bin/env python3
"""Fails when the README, the manuals under docs/, the tool's --help and
manual page, and the code disagree:

- the README is at most 8 KB;
- the generated parts of the README and docs/performance.md are those the
  saved benchmark run gives (bench/report.py);
- docs/tool.md holds the tool's --help as the tool prints it, and the
  manual page holds the help's topics, escaped for roff;
- every shell session in the README and docs/tool.md (a ```sh block whose
  lines start with "$ ") gives the output shown, run with the tool in a
  scratch directory that holds copies of examples/device.ini and the files
  of tests/real;
- every C block marked <!-- from examples/FILE --> is made of lines of that
  example, in its order (the example is compiled and run by the suite);
- every figure or limit the texts state is the one the code uses;
- every relative link leads to a file that exists, and an anchor to a
  heading of it.

usage: docs_agree.py TOOL [--show] [--write]
--show prints what the sessions give; --write writes the help block and the
benchmark run's parts instead of failing on them."""

import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
import report  # noqa: E402

README_MAX = 8192
SESSION_DOCS = ["README.md", "docs/tool.md"]


def source_value(path, pattern, scale=1):
    found = re.search(pattern, (ROOT / path).read_text())
    if found is None:
        raise SystemExit(f"{path}: no match for {pattern}")
    return int(found.group(1)) // scale


def source_text(path, pattern):
    found = re.search(pattern, (ROOT / path).read_text())
    if found is None:
        raise SystemExit(f"{path}: no match for {pattern}")
    return found.group(1)


WORDS = {"one": 1, "two": 2, "three": 3, "four": 4, "five": 5, "six": 6, "eight": 8}


def number(text):
    """A figure as the docs write it: digits (with commas) or a word."""
    return WORDS[text] if text in WORDS else int(text.replace(",", ""))


def facts():
    """(name, value, patterns): each pattern's first group, wherever it
    matches in a text, must read as the value."""
    wait = source_value("src/io.h", r"lock_wait_ms = (\d+);", 1000)
    text = source_value("src/format.h", r"text_max = (\d+);")
    line = source_value("src/format.h", r"line_size = (\d+);")
    block = source_value("src/move.h", r"move_block = (\d+);")
    fragment = source_value("tools/files.h", r"define TOOL_INPUT_MAX (\d+)")
    file_max = source_value("tools/files.h", r"file_max = std::size_t\{(\d+)\} << 20;")
    stack = source_value("tests/faults_test.cpp", r"EXPECT_LE\(d\.used, (\d+)u \* 1024\)")
    probe = source_value("tools/document.h", r"text_probe = (\d+);")
    bits = source_value("src/numbers.h", r"binary_digits = (\d+);")
    owner_only = source_value("src/io.h", r"owner_only = (0\d+);")
    indent = len(source_text("tools/plan.cpp", r'value_indent = "( *)";'))
    return [
        ("lock wait (seconds)", wait,
         [r"at most (\d+) seconds", r"busy for (\d+) seconds", r"after (\d+) seconds",
          r"taken for (\d+) s\b", r"at most (\d+) s\b"]),
        ("longest line (bytes)", text,
         [r"pieces of (\d+) bytes", r"lines? longer than (\d+) bytes", r"fit (\d+) bytes",
          r"INI_MAX_TEXT = (\d+)", r"lines? of more than (\d+) bytes"]),
        ("line buffer (bytes)", line, [r"INI_LINE_SIZE`?,? \(?(\d+) bytes", r"INI_LINE_SIZE = (\d+)"]),
        ("moved block (bytes)", block, [r"in (\d+)-byte blocks"]),
        ("fragment (MiB)", fragment >> 20, [r"fragment[^.]*? (\d+) MiB"]),
        ("fragment (bytes)", fragment, [r"fragment[^.]*? at most ([\d,]+) bytes"]),
        ("file read whole (MiB)", file_max, [r"refuses one over (\d+) MiB",
                                              r"files? (?:over|larger than) (\d+) MiB",
                                              r"whole, up to (\d+) MiB"]),
        ("stack (KB)", stack, [r"at most (\d+) KB of stack"]),
        ("text probe (bytes)", probe, [r"first (\d+) bytes\)"]),
        ("binary digits", bits, [r"(\d+) binary digits", r"more than (\d+) bits"]),
        ("owner-only mode", owner_only, [r"mode (0\d+)"]),
        ("indent of a value's lines", indent, [r"by (\w+) spaces more"]),
    ]


def texts(tool):
    """Every text that states a figure: the docs, the header, --help and
    the manual page's source."""
    found = {p.relative_to(ROOT).as_posix(): p.read_text()
             for p in [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md")),
                       ROOT / "include" / "iniplace.h", ROOT / "ansible" / "README.md"]}
    found["iniplace --help"] = run([tool, "--help"]).stdout
    found["iniplace(1)"] = run([tool, "--manual"]).stdout
    return found


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def check_figures(named):
    problems = []
    for name, value, patterns in facts():
        for where, text in named.items():
            flat = " ".join(text.split())
            for pattern in patterns:
                for match in re.finditer(pattern, flat):
                    if number(match.group(1)) != value:
                        problems.append(f"{where}: '{match.group(0)}': the {name} is {value}")
    return problems


def check_help(tool, write):
    path = ROOT / "docs" / "tool.md"
    page = path.read_text()
    found = re.search(r"<!-- help -->\n```text\n(.*?)```\n<!-- /help -->", page, re.S)
    if found is None:
        return ["docs/tool.md: no <!-- help --> block"]
    printed = run([tool, "--help"]).stdout
    if found.group(1) == printed:
        return []
    if write:
        path.write_text(page[:found.start(1)] + printed + page[found.end(1):])
        return []
    return ["docs/tool.md: the help block is not what iniplace --help prints"]


def check_manual(tool):
    """The manual page holds the help's topics, escaped for roff: no line
    starts a request by accident, no backslash is left unescaped, and the
    text decoded holds every line of the topics."""
    manual, help_text = run([tool, "--manual"]).stdout, run([tool, "--help"]).stdout
    problems = [f"iniplace(1): a line starts a request: {line}" for line in manual.splitlines()
                if line.startswith("'") or re.match(r"\.(?!(TH|SH|TP|B|nf|fi)\b)", line)]
    problems += [f"iniplace(1): an escape roff reads: {found}"
                 for found in re.findall(r"\\[^e&f\-]|\\f[^BIRP]", manual)]
    decoded = re.sub(r"\\&|\\f[BIRP]", "", manual).replace("\\-", "-").replace("\\e", "\\")
    topics = help_text[help_text.index("\nReading the file:"):]
    problems += [f"iniplace(1) lacks the help's line: {line}" for line in topics.splitlines()
                 if line.startswith("  ") and line[2:] not in decoded]
    return problems


def sessions(text):
    for block in re.findall(r"```sh\n(.*?)```", text, re.S):
        if block.startswith("$ "):
            yield block


def run_session(tool, block):
    """What the session gives, in the session's own form."""
    shown = []
    with tempfile.TemporaryDirectory() as scratch:
        shutil.copy(ROOT / "examples" / "device.ini", scratch)
        for sample in (ROOT / "tests" / "real").iterdir():
            shutil.copy(sample, scratch)
        path = f"{Path(tool).resolve().parent}:/usr/bin:/bin"
        for line in block.splitlines():
            if not line.startswith("$ "):
                continue
            shown.append(line)
            result = run(["sh", "-c", line[2:]], cwd=scratch, env={"PATH": path, "LC_ALL": "C"})
            shown += (result.stdout + result.stderr).splitlines()
    return "\n".join(shown) + "\n"


def check_sessions(tool, show):
    problems = []
    for name in SESSION_DOCS:
        for block in sessions((ROOT / name).read_text()):
            given = run_session(tool, block)
            if show:
                print(f"---- {name}\n{given}", end="")
            if given != block:
                problems.append(f"{name}: the session starting '{block.splitlines()[0]}' "
                                f"gives:\n{given}")
    return problems


def check_excerpts():
    problems = []
    for page in [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]:
        for source, block in re.findall(r"<!-- from (\S+) -->\n```c\n(.*?)```", page.read_text(),
                                        re.S):
            lines = iter(line.strip() for line in (ROOT / source).read_text().splitlines())
            for wanted in (line.strip() for line in block.splitlines()):
                if wanted and not any(line == wanted for line in lines):
                    problems.append(f"{page.name}: '{wanted}' is not next in {source}")
                    break
    return problems


def anchor(heading):
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def check_links():
    problems = []
    for page in [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md")),
                 ROOT / "ansible" / "README.md", ROOT / "CHANGELOG.md"]:
        for target in re.findall(r"\]\(([^)\s]+)\)", page.read_text()):
            if re.match(r"[a-z]+:", target):
                continue
            path, _, fragment = target.partition("#")
            linked = (page.parent / path).resolve() if path else page
            if not linked.exists():
                problems.append(f"{page.name}: link to a missing {path}")
            elif fragment and linked.suffix == ".md":
                headings = re.findall(r"^#+ (.*)$", linked.read_text(), re.M)
                if fragment not in map(anchor, headings):
                    problems.append(f"{page.name}: no heading #{fragment} in {linked.name}")
    return problems


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    tool, show, write = sys.argv[1], "--show" in sys.argv, "--write" in sys.argv
    problems = []
    size = (ROOT / "README.md").stat().st_size
    if size > README_MAX:
        problems.append(f"README.md: {size} bytes, more than {README_MAX}")
    drift = report.drift(report.load(), write=write)
    problems += [] if write else [f"differs from the benchmark run: {item}" for item in drift]
    problems += check_help(tool, write)
    problems += check_manual(tool)
    problems += check_sessions(tool, show)
    problems += check_excerpts()
    problems += check_figures(texts(tool))
    problems += check_links()
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
