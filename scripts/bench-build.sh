# Sourced by the shell benchmarks: the Windows build to measure is the one
# this machine runs, picked as run.sh picks it. Sets TW_ARCH, build_dir and
# the default prefix (one per architecture: a win32 prefix cannot serve the
# 64-bit loader), and says which build is measured. Needs $root.
#   TW_ARCH        win32 or x64: that build
#   TW_BUILD_DIR   its tree; without TW_ARCH, the program found there decides
tw_asked_arch=${TW_ARCH:-}
tw_asked_prefix=${TW_WINEPREFIX:-}
. "$root/scripts/wine-env.sh"
if [ -n "$tw_asked_arch" ]; then
    TW_ARCH=$tw_asked_arch
elif [ -n "${TW_BUILD_DIR:-}" ] && [ -f "$TW_BUILD_DIR/bin/Tarnwick.exe" ]; then
    # The PE header's machine field: 0x8664 for x64.
    if python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(4096); o=struct.unpack_from("<I",d,60)[0]; sys.exit(struct.unpack_from("<H",d,o+4)[0]!=0x8664)' \
        "$TW_BUILD_DIR/bin/Tarnwick.exe"; then
        TW_ARCH=x64
    else
        TW_ARCH=win32
    fi
elif tw_machine_runs_i386; then
    TW_ARCH=win32
else
    TW_ARCH=x64
fi
if [ -n "${TW_BUILD_DIR:-}" ]; then
    build_dir=$TW_BUILD_DIR
elif [ "$TW_ARCH" = x64 ]; then
    build_dir=${TW_BUILD_DIR_X64:-$root/build/win64}
else
    build_dir=$root/build/win32
fi
TW_WINEPREFIX=${tw_asked_prefix:-$root/build/wine-bench-$TW_ARCH}
export TW_ARCH TW_WINEPREFIX TW_BUILD_DIR="$build_dir"
. "$root/scripts/wine-env.sh"
if [ "$TW_ARCH" = win32 ]; then
    echo "$(basename -- "$0"): measuring the 32-bit build in $build_dir" >&2
else
    echo "$(basename -- "$0"): measuring the x64 build in $build_dir$(tw_machine_runs_i386 || echo " (this machine runs no 32-bit code)")" >&2
fi
