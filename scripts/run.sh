#!/bin/sh
# Builds Tarnwick if needed and runs Tarnwick.exe under Wine with the given
# arguments: the 32-bit build where this machine runs 32-bit code, else the
# x64 build (TW_X64_ONLY=1 forces that). Linux paths are accepted: /home/me/x becomes Z:\home\me\x and
# a relative a/b becomes a\b (Wine maps the current folder).
# All runs share one prefix and a persistent wineserver, so what one run
# copies the next one can paste.
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
log="$root/build/last-build.log"
mkdir -p "$root/build"
if ! "$root/scripts/build.sh" >"$log" 2>&1; then
    cat "$log" >&2
    echo "run: the build failed (its output above, also in $log)" >&2
    exit 1
fi

# The 32-bit build is the reference; a machine that runs no 32-bit code
# gets the x64 build, and is told so.
. "$root/scripts/wine-env.sh"
if tw_machine_runs_i386; then
    TW_ARCH=win32
    build_dir=${TW_BUILD_DIR:-$root/build/win32}
else
    echo "run: using the x64 build: $(tw_why_no_i386)." >&2
    TW_ARCH=x64
    build_dir=${TW_BUILD_DIR_X64:-$root/build/win64}
fi
TW_WINEPREFIX=${TW_RUN_WINEPREFIX:-$root/build/wine-run-$TW_ARCH}
. "$root/scripts/wine-env.sh"
tw_wine_prepare || exit 1
tw_wine_keep_session "$build_dir/tools/session_keeper.exe"

position=0
sending=
for arg in "$@"; do
    position=$((position + 1))
    [ "$position" = 1 ] && set --
    # /SEND's own switches follow it, before the paths.
    case "$sending:$arg" in
        yes:/[Ww][Aa][Ii][Tt]:* | yes:/[Ii][Nn][Tt][Ee][Rr][Vv][Aa][Ll]:*) set -- "$@" "$arg"; continue ;;
        *) sending= ;;
    esac
    case "$position:$arg" in
        1:/\? | 1:/[Cc][Ll][Ee][Aa][Rr] | 1:/[Pp][Aa][Ss][Tt][Ee] | 1:/[Ff][Oo][Rr][Cc][Ee][Pp][Aa][Ss][Tt][Ee]) ;;
        1:/[Tt][Ee][Xx][Tt] | 1:/[Tt][Ee][Xx][Tt]:* | 1:/[Nn][Ee][Xx][Tt]) ;;
        1:/[Ss][Ee][Ll][Ff] | 1:/[Ss][Ee][Ll][Ff]:*) ;;
        1:/[Ss][Ee][Nn][Dd] | 1:/[Ss][Ee][Nn][Dd]:*) sending=yes ;;
        1:/[Rr][Ee][Cc][Ee][Ii][Vv][Ee] | 1:/[Ff][Oo][Rr][Cc][Ee][Rr][Ee][Cc][Ee][Ii][Vv][Ee]) ;;
        *:/*) arg="Z:$(printf '%s' "$arg" | tr '/' '\\')" ;;
        *:*/*) arg=$(printf '%s' "$arg" | tr '/' '\\') ;;
    esac
    set -- "$@" "$arg"
done

# Wine reads the arguments and the Linux file names in the locale's
# character set; without a UTF-8 one, names in other scripts arrive mangled.
case "$(locale charmap 2>/dev/null)" in
    UTF-8) ;;
    *) export LC_ALL=C.UTF-8 ;;
esac

exe="$build_dir/bin/Tarnwick.exe"
if [ -n "${DISPLAY:-}" ]; then
    exec "$WINELOADER" "$exe" "$@"
fi
# Without a display Wine dismisses every message box unseen (a question
# counts as unanswered), so say where the explanation went.
status=0
"$WINELOADER" "$exe" "$@" || status=$?
if [ "$status" = 1 ] || [ "$status" = 100 ]; then
    echo "run: Tarnwick failed (exit $status); its message box needs an X display (set DISPLAY to see it)." >&2
fi
exit "$status"
