#!/bin/sh
# Runs a Windows program of one build in its Wine prefix (CTest's emulator).
#   wine-run.sh ARCH PREFIX PROGRAM [ARGUMENTS...]   ARCH: win32 or x64
# TW_WINEPREFIX, when set, overrides PREFIX.
TW_ARCH=$1
: "${TW_WINEPREFIX:=$2}"
shift 2
. "$(dirname -- "$0")/wine-env.sh"
tw_wine_prepare || exit 1
exec "$WINELOADER" "$@"
