#!/usr/bin/python3
"""Draws docs/performance.png from the figures of one benchmark run
(docs/performance.json): the cost of one call against the file's size, on
log scales, for a get of the last key and for a set that makes a line
longer, for the floor, iniplace and the peers; and the tool's get and set
against crudini's and git config's. Needs Debian's python3-matplotlib."""

import json
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
SIZES = [("4K", 4e3), ("64K", 64e3), ("1M", 1e6)]
LINES = [("floor", "black", "--"), ("iniplace", "tab:blue", "-"), ("minIni", "tab:orange", "-"),
         ("inih", "tab:green", ":"), ("iniparser", "tab:red", ":"),
         ("SimpleIni", "tab:purple", ":"), ("GKeyFile", "tab:brown", ":")]
PANELS = [("get_end", "a get of the last key"), ("set_longer", "a set that makes a line longer")]


TOOLS = [("iniplace", "tab:blue"), ("crudini", "tab:olive"), ("git config", "tab:gray")]
TOOL_SIZES = [("4K", 4e3), ("1M", 1e6)]


def axes_style(axis, sizes, title):
    axis.set_xscale("log")
    axis.set_yscale("log")
    axis.set_xticks([size for _, size in sizes], [label for label, _ in sizes])
    axis.set_title(title)
    axis.set_xlabel("file size")
    axis.grid(True, which="both", alpha=0.3)


def main():
    saved = json.loads(Path(ROOT, "docs", "performance.json").read_text())
    results, commands = saved["times"], saved.get("commands")
    panels = len(PANELS) + (commands is not None)
    figure, axes = plt.subplots(1, panels, figsize=(5 * panels, 4.2))
    for axis, (op, title) in zip(axes, PANELS):
        for impl, colour, style in LINES:
            points = [(size, results[label][op].get(impl)) for label, size in SIZES
                      if op in results.get(label, {})]
            points = [(x, y / 1e3) for x, y in points if y is not None]
            if points:
                axis.plot(*zip(*points), style, color=colour, marker="o", label=impl)
        axes_style(axis, SIZES, title)
        axis.set_ylabel("µs per call")
    axes[0].legend(loc="upper left", fontsize="small")
    if commands is not None:
        axis = axes[-1]
        for tool, colour in TOOLS:
            for task, style in (("get", "-"), ("set", "--")):
                points = [(size, commands["single"][label][task][tool] * 1e3)
                          for label, size in TOOL_SIZES]
                axis.plot(*zip(*points), style, color=colour, marker="o", label=f"{tool} {task}")
        axes_style(axis, TOOL_SIZES, "the tool, a command each")
        axis.set_ylabel("ms per command")
        axis.legend(loc="upper left", fontsize="small")
    figure.tight_layout()
    figure.savefig(Path(ROOT, "docs", "performance.png"), dpi=110)
    return 0


if __name__ == "__main__":
    sys.exit(main())
