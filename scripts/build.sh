#!/bin/sh
# Builds both Windows trees (the 32-bit reference build and the x64 one)
# and, with --native, the native test trees (64- and 32-bit), installing
# whatever the machine lacks first. Both Windows builds are made on every machine, also where
# one of them cannot run.
#   TW_BUILD_DIR          32-bit tree (default build/win32)
#   TW_BUILD_DIR_X64      x64 tree (default build/win64)
#   TW_NATIVE_BUILD_DIR   native tree (default build/native)
#   TW_NATIVE32_BUILD_DIR native 32-bit tree (default build/native32), run
#                         under qemu-i386 where the kernel runs no i386 code
#   TW_X64_ONLY=1         treat this machine as one that runs no 32-bit code
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh" || { echo "build: installing the packages failed" >&2; exit 1; }
. "$root/scripts/wine-env.sh"

win32_dir=${TW_BUILD_DIR:-$root/build/win32}
win64_dir=${TW_BUILD_DIR_X64:-$root/build/win64}
peer_runs=OFF
tw_machine_runs_i386 && peer_runs=ON

# configure DIR DESCRIPTION CMAKE-ARGUMENTS...: configures when the tree is
# new or its settings changed since the last time.
configure() {
    dir=$1 what=$2
    shift 2
    stamp="$dir/.tw-configured-with"
    if [ -f "$dir/build.ninja" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$*" ]; then
        return 0
    fi
    mkdir -p "$dir"
    cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir/configure.log" 2>&1 || {
        cat "$dir/configure.log" >&2
        echo "build: configuring the $what tree in $dir failed (CMake's output above)" >&2
        exit 1
    }
    printf '%s' "$*" >"$stamp"
}
compile() {
    cmake --build "$1" || { echo "build: building the $2 tree in $1 failed (compiler output above)" >&2; exit 1; }
}
# The download: the installation set as a zip file in the tree's folder.
package() {
    cmake --build "$1" --target package >"$1/package.log" 2>&1 ||
        { cat "$1/package.log" >&2; echo "build: CPack could not make the $2 zip file (its output above)" >&2; exit 1; }
}

mkdir -p "$root/build"
configure "$win32_dir" 32-bit -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake"
compile "$win32_dir" 32-bit
package "$win32_dir" 32-bit
configure "$win64_dir" x64 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
    -DTW_PEER_BIN_DIR="$win32_dir/bin" -DTW_PEER_RUNS=$peer_runs
compile "$win64_dir" x64
package "$win64_dir" x64

if [ "${1:-}" = "--native" ]; then
    native_dir=${TW_NATIVE_BUILD_DIR:-$root/build/native}
    configure "$native_dir" native -DCMAKE_BUILD_TYPE=Debug
    compile "$native_dir" native
    # The same code with a 32-bit size_t, as the 32-bit Windows build has
    # it: run directly with ASan and UBSan where the kernel runs i386 code,
    # else under qemu-i386 with UBSan alone. ASan cannot serve there: qemu
    # places a mapping of some tens of MiB inside the range that ASan keeps
    # for its shadow memory, and ASan stops the program at the first such
    # allocation (its leak check, besides, waits for ever on the ptrace
    # that qemu lacks).
    native32_dir=${TW_NATIVE32_BUILD_DIR:-$root/build/native32}
    if tw_machine_runs_i386; then
        emulator="" asan=ON
    else
        emulator=$(command -v qemu-i386) || { echo "build: qemu-i386 is missing (Debian's qemu-user)" >&2; exit 1; }
        asan=OFF
    fi
    configure "$native32_dir" "native 32-bit" -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-native-i386.cmake" -DTW_I386_EMULATOR="$emulator" \
        -DTW_SANITIZE_ADDRESS=$asan
    compile "$native32_dir" "native 32-bit"
fi
