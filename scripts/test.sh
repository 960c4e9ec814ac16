#!/bin/sh
# Builds everything and runs every test: the native unit tests (with ASan
# and UBSan), the same built as 32-bit code (directly, or under qemu-i386
# with UBSan where the kernel runs no 32-bit code), then, for each Windows
# build this machine runs, its unit and end-to-end tests under Wine, each
# build in its own Wine prefix, wineserver and private X server (for the
# message boxes and dialogs). Where the
# machine runs no 32-bit code, the 32-bit build is still built and its
# static checks (PE headers, imports, the zip; its resources, from the x64
# tree) run.
# Prints CTest's summaries and the tests that did not run, and exits
# non-zero when anything failed, or when, run as root, a test that needs
# only root was skipped (scripts/test-summary.py).
#   TW_BUILD_DIR, TW_BUILD_DIR_X64, TW_NATIVE_BUILD_DIR, TW_NATIVE32_BUILD_DIR
#       build folders (default build/win32, build/win64, build/native,
#       build/native32); each Windows build's Wine prefix is wine-test
#       inside its folder
#   TW_X64_ONLY=1   test as on a machine that runs no 32-bit code
#   TW_BUILDS_AT_ONCE=1  where both builds run, run their Wine tests at the
#                   same time (each with its own X display)
#   extra arguments go to every ctest run (for example -R copy)
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
cd "$root"
"$root/scripts/build.sh" --native

win32_dir=${TW_BUILD_DIR:-$root/build/win32}
win64_dir=${TW_BUILD_DIR_X64:-$root/build/win64}
native_dir=${TW_NATIVE_BUILD_DIR:-$root/build/native}
native32_dir=${TW_NATIVE32_BUILD_DIR:-$root/build/native32}
. "$root/scripts/wine-env.sh"

if tw_machine_runs_i386; then
    builds="win32 x64"
else
    builds="x64"
    echo "test: the 32-bit build's Wine tests are not run: $(tw_why_no_i386)."
    echo "test: its static checks run, and every test of the x64 build."
fi

# A display of our own for each Windows build, so that tests never touch
# the user's desktop, and the two builds' prefixes, which run at the same
# time, never meet through a shared X clipboard. Xvfb picks a free display
# number itself and writes it to fd 3 once it accepts connections, which is
# race-free against other runs on the machine.
work_dir=$(mktemp -d)
# CTest's JUnit files, for the list of tests that did not run.
junit_dir=$work_dir/junit
mkdir -p "$junit_dir"
xvfb_pids=

cleanup() {
    for arch in $builds; do
        (TW_ARCH=$arch TW_WINEPREFIX=$(tree_of "$arch")/wine-test
         . "$root/scripts/wine-env.sh"; tw_wine_stop) || true
    done
    # shellcheck disable=SC2086 # a list of numbers
    [ -z "$xvfb_pids" ] || kill $xvfb_pids 2>/dev/null || true
    rm -rf "$work_dir"
}
tree_of() { if [ "$1" = win32 ]; then echo "$win32_dir"; else echo "$win64_dir"; fi; }
trap cleanup EXIT
trap 'exit 130' INT TERM

# start_display NAME: starts an X server and sets display_NAME to its name.
start_display() {
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work_dir/display-$1" >"$work_dir/xvfb-$1.log" 2>&1 &
    xvfb_pids="$xvfb_pids $!"
    for _ in $(seq 100); do
        [ -s "$work_dir/display-$1" ] && break
        kill -0 "$!" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$work_dir/display-$1" ]; then
        echo "test: the X server (Xvfb) did not start; it said:" >&2
        cat "$work_dir/xvfb-$1.log" >&2
        exit 1
    fi
    eval "display_$1=:$(head -n 1 "$work_dir/display-$1")"
}
for arch in $builds; do start_display "$arch"; done

status=0
echo "==== native unit tests"
ctest --test-dir "$native_dir" --output-on-failure --output-junit "$junit_dir/native.xml" "$@" || status=1
if tw_machine_runs_i386; then how="directly"; else how="under qemu-i386"; fi
echo "==== native 32-bit unit tests and fuzzers ($how)"
ctest --test-dir "$native32_dir" --output-on-failure --output-junit "$junit_dir/native32.xml" "$@" || status=1

# run_wine_tests ARCH: one build's unit and end-to-end tests in its own
# prefix, wineserver and display; exits non-zero when any failed.
run_wine_tests() (
    arch=$1
    shift
    dir=$(tree_of "$arch")
    eval "DISPLAY=\$display_$arch"
    TW_ARCH=$arch TW_WINEPREFIX="$dir/wine-test"
    export DISPLAY TW_ARCH TW_WINEPREFIX
    . "$root/scripts/wine-env.sh"
    echo "test: X display $DISPLAY"
    # The wineserver must start under this display.
    tw_wine_stop || true
    tw_wine_prepare || exit 3
    tw_wine_keep_session "$dir/tools/session_keeper.exe"
    status=0
    ctest --test-dir "$dir" --output-on-failure --output-junit "$junit_dir/$arch.xml" "$@" || status=1
    tw_wine_stop || true
    exit $status
)

# One build after the other, unless TW_BUILDS_AT_ONCE=1 asks for both at
# once where both run: their suites mostly wait on other processes (Wine's,
# the boxes, the channels), so together they take little more than one,
# but on two cores the tests that time a busy clipboard then fail now and
# then. At once, each one's output is shown whole when it has finished.
if [ "$builds" = x64 ] || [ "${TW_BUILDS_AT_ONCE:-0}" != 1 ]; then
    for arch in $builds; do
        echo "==== $arch build: unit and end-to-end tests (Wine)"
        run_wine_tests "$arch" "$@" || status=1
    done
else
    echo "==== win32 and x64 builds: unit and end-to-end tests (Wine), at the same time"
    runs=
    for arch in $builds; do
        (run_wine_tests "$arch" "$@" >"$work_dir/$arch.log" 2>&1; echo $? >"$work_dir/$arch.rc") &
        runs="$runs $!"
    done
    # Not a bare wait: that would wait for the X servers too. A run that
    # ended without its status (killed) counts as failed, and its output
    # is still shown.
    # shellcheck disable=SC2086 # a list of numbers
    wait $runs || true
    for arch in $builds; do
        echo "==== $arch build: unit and end-to-end tests (Wine)"
        cat "$work_dir/$arch.log" || true
        [ "$(cat "$work_dir/$arch.rc" 2>/dev/null)" = 0 ] || { echo "test: the $arch build's run failed"; status=1; }
    done
fi
if ! tw_machine_runs_i386; then
    echo "==== 32-bit build: static checks"
    ctest --test-dir "$win32_dir/tests/static" --output-on-failure --output-junit "$junit_dir/win32-static.xml" \
        "$@" || status=1
fi

# Every test that did not run is listed, a whole build's by name; one that
# needs only root fails the run as root.
summary="native=$junit_dir/native.xml native32=$junit_dir/native32.xml"
for arch in $builds; do summary="$summary $arch=$junit_dir/$arch.xml"; done
if ! tw_machine_runs_i386; then
    # The 32-bit tree's tests cannot even be listed here (CTest lists a
    # GoogleTest program by running it); they are the x64 tree's, built
    # from the same sources, less those that exist there alone.
    ctest --test-dir "$win64_dir" -N "$@" 2>/dev/null |
        grep -v -e ': peer\.' -e ': pe\.' -e 'RoundTrip\.AcrossBuilds' >"$junit_dir/win32-names.txt" || true
    summary="$summary win32-static=$junit_dir/win32-static.xml"
fi
# shellcheck disable=SC2086 # the pairs hold no blanks (mktemp's folder)
if tw_machine_runs_i386; then
    python3 "$root/scripts/test-summary.py" $summary || status=1
else
    python3 "$root/scripts/test-summary.py" $summary --not-run "win32=$(tw_why_no_i386)" \
        --names "win32=$junit_dir/win32-names.txt" || status=1
fi

if [ "$status" = 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
exit $status
