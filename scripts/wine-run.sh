#!/bin/sh
# Runs a Windows program of one build in its Wine prefix (CTest's emulator).
#   wine-run.sh ARCH PREFIX PROGRAM [ARGUMENTS...]   ARCH: win32 or x64
# TW_WINEPREFIX, when set, overrides PREFIX.
TW_ARCH=$1
: "${TW_WINEPREFIX:=$2}"
shift 2
. "$(dirname -- "$0")/wine-env.sh"
# Every test runs in one zone and locale, so that date texts can be checked
# against fixed texts: India Standard Time (UTC+05:30, no summer time, so
# the same offset all year; a zone other than UTC shows a missing or doubled
# conversion to local time), written as a POSIX rule so that no zone files
# are needed, and en-US formats.
export TZ=IST-5:30 LC_ALL=C.UTF-8
tw_wine_prepare || exit 1
exec "$WINELOADER" "$@"
