#!/bin/sh
# Builds everything and runs every test: the native unit tests (with ASan
# and UBSan), then the Windows unit and end-to-end tests under Wine, with a
# private X server for the message boxes and dialogs. Prints CTest's summary
# and exits non-zero when anything failed.
#   TW_BUILD_DIR, TW_NATIVE_BUILD_DIR   build folders (default build/win32, build/native)
#   TW_WINEPREFIX                       Wine prefix of the tests (default build/wine-test)
#   extra arguments go to both ctest runs (for example -R copy)
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
cd "$root"
"$root/scripts/build.sh" --native

win_dir=${TW_BUILD_DIR:-$root/build/win32}
native_dir=${TW_NATIVE_BUILD_DIR:-$root/build/native}
: "${TW_WINEPREFIX:=$win_dir/wine-test}"
export TW_WINEPREFIX
. "$root/scripts/wine-env.sh"

# A display of our own, so that tests never touch the user's desktop. Xvfb
# picks a free display number itself and writes it to fd 3 once it accepts
# connections, which is race-free against other runs on the machine.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!

cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" 2>/dev/null || true
    rm -f "$display_file"
}
trap cleanup EXIT INT TERM

for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.1
done
[ -s "$display_file" ] || { echo "test: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$display_file")"
echo "test: X display $DISPLAY"
# The wineserver must start under this display.
wineserver -k >/dev/null 2>&1 || true
tw_wine_prepare
tw_wine_keep_session "$win_dir/tools/session_keeper.exe"

status=0
echo "==== native unit tests"
ctest --test-dir "$native_dir" --output-on-failure "$@" || status=1
echo "==== Windows unit and end-to-end tests (Wine)"
ctest --test-dir "$win_dir" --output-on-failure "$@" || status=1
if [ "$status" = 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
exit $status
