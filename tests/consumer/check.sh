#!/usr/bin/env bash
# Installs the build into a fresh prefix, then builds the example against
# that install with find_package and with pkg-config, and runs both.
# usage: check.sh BUILD SOURCE WORK
#        check.sh --configure CMAKE_OPTION SOURCE WORK  (builds the library first)
set -euo pipefail
if [ "$1" = --configure ]; then
    option=$2 source=$3 work=$4
    build=$work/build
    rm -rf "$work"
    cmake -S "$source" -B "$build" "$option" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DINIPLACE_BUILD_TESTS=OFF -DINIPLACE_BUILD_EXAMPLES=OFF -DINIPLACE_BUILD_TOOL=OFF >/dev/null
    cmake --build "$build" -j2 >/dev/null
else
    build=$1 source=$2 work=$3
    rm -rf "$work"
fi
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for document in LICENSE CHANGELOG.md README.md docs/library.md; do
    [[ -s $prefix/share/doc/iniplace/$document ]] || { echo "not installed: $document"; exit 1; }
done

cmake -S "$source/tests/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
      -DEXAMPLE_SOURCE="$source/examples/read_config.c" >/dev/null
cmake --build "$work/cmake" >/dev/null

# The installed tool runs from the install without the build tree,
# its manual page renders cleanly, and its completion offers the file's
# sections and keys.
if [[ -x $prefix/bin/iniplace ]]; then
    tool=$prefix/bin/iniplace
    port=$(env -u LD_LIBRARY_PATH "$tool" get "$source/examples/device.ini" net port)
    [[ $port == 8080 ]] || { echo "installed tool: unexpected output: $port"; exit 1; }
    manual=$prefix/share/man/man1/iniplace.1
    if command -v groff >/dev/null; then
        warnings=$(groff -man -Tutf8 -ww -z "$manual" 2>&1)
        [[ -z $warnings ]] || { echo "$manual: $warnings"; exit 1; }
    fi
    grep -q '^\.SH COMMANDS' "$manual" || { echo "$manual: no COMMANDS section"; exit 1; }
    completion=$prefix/share/bash-completion/completions/iniplace
    offered=$(env -u LD_LIBRARY_PATH bash -c 'source "$1"; shift
        for words in "get --type=long $2 " "get $2 net p" "get --all $2 net p"; do
            read -ra COMP_WORDS <<<"$1 $words"; [[ $words == *" " ]] && COMP_WORDS+=("")
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _iniplace; echo "${COMPREPLY[*]}"
        done' _ "$completion" "$tool" "$source/examples/device.ini")
    [[ $offered == $'device net ntp log\nport\nport' ]] || { echo "completion offered: $offered"; exit 1; }
    # A file's names are offered quoted, and nothing they hold runs.
    ran=$work/ran hostile=$work/hostile.ini
    printf '[$(touch %s)]\n[`touch %s`]\n[{a,b}]\n[~root]\n[*]\n[my name]\n[it'"'"'s "q"]\n' \
        "$ran" "$ran" > "$hostile"
    offered=$(env -u LD_LIBRARY_PATH bash -c 'source "$1"
        COMP_WORDS=("$2" get "$3" ""); COMP_CWORD=3; _iniplace; printf "%s\n" "${COMPREPLY[@]}"' \
        _ "$completion" "$tool" "$hostile")
    expected=$(printf '%s\n' "\\\$\\(touch\\ $ran\\)" "\\\`touch\\ $ran\\\`" '\{a\,b\}' '\~root' '\*' \
        'my\ name' "it\\'s\\ \\\"q\\\"")
    [[ $offered == "$expected" && ! -e $ran ]] || { echo "completion offered: $offered"; exit 1; }
    echo "$tool: ok"
fi

export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name iniplace.pc)")
cc "$source/examples/read_config.c" $(pkg-config --cflags --libs iniplace) -o "$work/pc_read_config"

export LD_LIBRARY_PATH=$(pkg-config --variable=libdir iniplace)
for program in "$work/cmake/read_config" "$work/pc_read_config"; do
    out=$("$program" "$source/examples/device.ini")
    grep -q '^device name:   gw-0412$' <<<"$out" || { echo "$program: unexpected output: $out"; exit 1; }
    echo "$program: ok"
done
