#!/usr/bin/env bash
# Builds the benchmarks (with the peer libraries) and prints the comparison
# tables. Arguments go to bench/compare.py, e.g. --trials 7, --instructions
# (instructions per call under callgrind; needs valgrind), --tool (the tool
# against /bin/true; needs hyperfine), --save FILE or --check (exits
# non-zero when a target is missed). --durable also builds the durable
# library and compares its edits with a safe save; --commands times the
# tool against crudini and git config (bench/commands.py; needs hyperfine
# and crudini); --fleet runs a playbook with the Ansible module and with
# community.general.ini_file (bench/fleet.py; needs Debian's ansible).
set -euo pipefail
cd "$(dirname "$0")/.."
args=()
extras=()
save=
for ((i = 1; i <= $#; ++i)); do
    arg=${!i}
    case $arg in
    --durable)
        cmake --preset bench-durable >/dev/null
        cmake --build --preset bench-durable
        args+=(--durable build/bench-durable) ;;
    --commands | --fleet) extras+=("${arg#--}") ;;
    --save)
        args+=("$arg")
        next=$((i + 1))
        save=${!next}
        args+=("$save")
        i=$next ;;
    *) args+=("$arg") ;;
    esac
done
cmake --preset bench >/dev/null
cmake --build --preset bench
python3 bench/compare.py --build build/bench "${args[@]}"
for extra in "${extras[@]}"; do
    python3 "bench/$extra.py" ${save:+--save "$save"}
done
