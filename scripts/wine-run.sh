#!/bin/sh
# Runs a Windows program in the project's Wine prefix (CTest's emulator).
. "$(dirname -- "$0")/wine-env.sh"
tw_wine_prepare
exec wine "$@"
