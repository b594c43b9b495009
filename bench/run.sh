#!/usr/bin/env bash
# Builds the benchmarks (with the peer libraries) and prints the comparison
# tables. Arguments go to bench/compare.py, e.g. --trials 7, --instructions
# (instructions per call under callgrind; needs valgrind) or --check (exits
# non-zero when a target is missed).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench
python3 bench/compare.py --build build/bench "$@"
