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
          -DINIPLACE_BUILD_TESTS=OFF -DINIPLACE_BUILD_EXAMPLES=OFF >/dev/null
    cmake --build "$build" -j2 >/dev/null
else
    build=$1 source=$2 work=$3
    rm -rf "$work"
fi
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

cmake -S "$source/tests/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
      -DEXAMPLE_SOURCE="$source/examples/read_config.c" >/dev/null
cmake --build "$work/cmake" >/dev/null

export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name iniplace.pc)")
cc "$source/examples/read_config.c" $(pkg-config --cflags --libs iniplace) -o "$work/pc_read_config"

export LD_LIBRARY_PATH=$(pkg-config --variable=libdir iniplace)
for program in "$work/cmake/read_config" "$work/pc_read_config"; do
    out=$("$program" "$source/examples/device.ini")
    grep -q '^device name:   gw-0412$' <<<"$out" || { echo "$program: unexpected output: $out"; exit 1; }
    echo "$program: ok"
done
