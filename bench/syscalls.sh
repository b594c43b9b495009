#!/usr/bin/env bash
# Counts the system calls of one call of each operation on the 4K and 1M
# files, for iniplace, the floor and minIni (needs strace and the bench
# build). Prints a markdown table.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bench/bench
count() { # binary name
    strace -f -o /tmp/iniplace-syscalls.$$ "$1" --once "$2" >/dev/null 2>&1 || true
    awk '/getppid/ { marks++; next } marks == 1 && !/exited|resumed/ { calls++ }
         END { print calls + 0 }' /tmp/iniplace-syscalls.$$
    rm -f /tmp/iniplace-syscalls.$$
}
ops="get_start get_end get_typed set_same set_longer set_new set_start set_end del_key del_section entry_has entry_add entry_remove"
echo "| operation | size | iniplace | floor | minIni |"
echo "|---|---|---|---|---|"
for size in 4K 1M; do
    for op in $ops; do
        minini=n/a
        case $op in entry_*) ;; *) minini=$(count $bin/bench_peers minIni/$op/$size) ;; esac
        echo "| $op | $size | $(count $bin/bench_iniplace iniplace/$op/$size) | $(count $bin/bench_iniplace floor/$op/$size) | $minini |"
    done
done
