#!/usr/bin/env bash
# Builds the fuzz target and runs it for a bounded time on a scratch copy of
# the seed corpus. Exits non-zero on any finding, whose input is kept in
# build/fuzz/findings.
# usage: fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
mkdir -p build/fuzz/findings
build/fuzz/fuzz/fuzz_edit -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/findings/ "$corpus" fuzz/seeds
