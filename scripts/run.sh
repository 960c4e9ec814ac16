#!/bin/sh
# Builds Tarnwick if needed and runs Tarnwick.exe under Wine with the given
# arguments. Linux paths are accepted: /home/me/x becomes Z:\home\me\x and
# a relative a/b becomes a\b (Wine maps the current folder).
# All runs share one prefix and a persistent wineserver, so what one run
# copies the next one can paste.
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
log="$root/build/last-build.log"
mkdir -p "$root/build"
if ! "$root/scripts/build.sh" >"$log" 2>&1; then
    cat "$log" >&2
    echo "run: the build failed" >&2
    exit 1
fi

TW_WINEPREFIX=${TW_RUN_WINEPREFIX:-$root/build/wine-run}
. "$root/scripts/wine-env.sh"
tw_wine_prepare
build_dir=${TW_BUILD_DIR:-$root/build/win32}
tw_wine_keep_session "$build_dir/tools/session_keeper.exe"

position=0
for arg in "$@"; do
    position=$((position + 1))
    [ "$position" = 1 ] && set --
    case "$position:$arg" in
        1:/\? | 1:/[Cc][Ll][Ee][Aa][Rr] | 1:/[Pp][Aa][Ss][Tt][Ee] | 1:/[Ff][Oo][Rr][Cc][Ee][Pp][Aa][Ss][Tt][Ee]) ;;
        *:/*) arg="Z:$(printf '%s' "$arg" | tr '/' '\\')" ;;
        *:*/*) arg=$(printf '%s' "$arg" | tr '/' '\\') ;;
    esac
    set -- "$@" "$arg"
done

exe="$build_dir/bin/Tarnwick.exe"
if [ -n "${DISPLAY:-}" ]; then
    exec wine "$exe" "$@"
fi
# Without a display Wine dismisses every message box unseen (a question
# counts as unanswered), so say where the explanation went.
status=0
wine "$exe" "$@" || status=$?
if [ "$status" = 1 ] || [ "$status" = 100 ]; then
    echo "run: Tarnwick failed (exit $status); its message box needs an X display (set DISPLAY to see it)." >&2
fi
exit "$status"
