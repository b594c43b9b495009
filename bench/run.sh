#!/usr/bin/env bash
# Builds the benchmarks (with the peer libraries) and prints the comparison
# tables. Arguments go to bench/compare.py, e.g. --trials 7, --instructions
# (instructions per call under callgrind; needs valgrind), --tool (the tool
# against /bin/true; needs hyperfine), --save FILE or --check (exits
# non-zero when a target is missed). --durable also builds the durable
# library and compares its edits with a safe save.
set -euo pipefail
cd "$(dirname "$0")/.."
args=()
for arg in "$@"; do
    if [[ $arg == --durable ]]; then
        cmake --preset bench-durable >/dev/null
        cmake --build --preset bench-durable
        args+=(--durable build/bench-durable)
    else
        args+=("$arg")
    fi
done
cmake --preset bench >/dev/null
cmake --build --preset bench
python3 bench/compare.py --build build/bench "${args[@]}"
