#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time on a scratch copy
# of the seed corpus: the default read block, then a tiny one. Exits
# non-zero on any finding, whose input is kept in build/fuzz/findings.
# usage: fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/findings
for block in 16384 64; do
    corpus=$(mktemp -d)
    build/fuzz/fuzz/fuzz_edit_$block -max_total_time=$((seconds / 2)) -timeout=10 \
        -print_final_stats=1 -artifact_prefix=build/fuzz/findings/ "$corpus" fuzz/seeds
    rm -rf "$corpus"
done
