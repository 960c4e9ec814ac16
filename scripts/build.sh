#!/bin/sh
# Builds the Windows programs (and, with --native, the native test tree),
# installing whatever the machine lacks first.
#   TW_BUILD_DIR   build folder of the Windows tree (default build/win32)
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh"

win_dir=${TW_BUILD_DIR:-$root/build/win32}
if [ ! -f "$win_dir/build.ninja" ]; then
    cmake -S "$root" -B "$win_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
fi
cmake --build "$win_dir"

if [ "${1:-}" = "--native" ]; then
    native_dir=${TW_NATIVE_BUILD_DIR:-$root/build/native}
    if [ ! -f "$native_dir/build.ninja" ]; then
        cmake -S "$root" -B "$native_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
    fi
    cmake --build "$native_dir"
fi
