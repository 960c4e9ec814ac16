# Sourced by the scripts: which Wine runs which build, and the project's
# private prefixes.
#
# TW_ARCH picks the build: win32 (the 32-bit reference build, default) or
# x64. Each has its own loader, wineserver and kind of prefix; Debian's
# `wine` wrapper is never used, because it picks the 32-bit loader whenever
# that file exists, even on a kernel that cannot run it.
# TW_WINEPREFIX picks the prefix (default: build/wine-test-$TW_ARCH).
# A persistent wineserver keeps the clipboard alive between processes.

tw_root=$(cd "$(dirname -- "$0")/.." && pwd)
: "${TW_ARCH:=win32}"
case "$TW_ARCH" in
    win32)
        export WINEARCH=win32
        export WINELOADER=/usr/lib/wine/wine
        export WINESERVER=/usr/lib/wine/wineserver32
        ;;
    x64)
        export WINEARCH=win64
        export WINELOADER=/usr/lib/wine/wine64
        export WINESERVER=/usr/lib/wine/wineserver64
        ;;
    *)
        echo "wine-env: unknown TW_ARCH '$TW_ARCH' (win32 or x64)" >&2
        exit 2
        ;;
esac
: "${TW_WINEPREFIX:=$tw_root/build/wine-test-$TW_ARCH}"
export WINEPREFIX="$TW_WINEPREFIX"
export WINEDEBUG=-all
# No Mono or Gecko installers in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="

tw_wine() { "$WINELOADER" "$@"; }
tw_wineserver() { "$WINESERVER" "$@"; }

# True when this machine runs the 32-bit build: the kernel runs i386 code
# (some boot with 32-bit emulation switched off, and then the 32-bit Wine
# loader fails with "Exec format error") and TW_X64_ONLY is not 1. Found
# out once; the answer travels to child scripts in TW_RUNS_I386.
tw_machine_runs_i386() {
    if [ -z "${TW_RUNS_I386:-}" ]; then
        TW_RUNS_I386=0
        if [ "${TW_X64_ONLY:-0}" != 1 ] && /usr/lib/wine/wine --version </dev/null >/dev/null 2>&1; then
            TW_RUNS_I386=1
        fi
        export TW_RUNS_I386
    fi
    [ "$TW_RUNS_I386" = 1 ]
}

# Why the 32-bit build does not run here, in one line.
tw_why_no_i386() {
    if [ "${TW_X64_ONLY:-0}" = 1 ]; then
        echo "TW_X64_ONLY=1 asks for the x64 build only"
    else
        echo "this machine cannot run 32-bit programs ($(/usr/lib/wine/wine --version 2>&1 </dev/null | head -n 1 | cut -c1-80)); its kernel probably has 32-bit emulation switched off"
    fi
}

# True when a process of this prefix whose command line matches $1 runs.
tw_wine_process_running() {
    for pid in $(pgrep -f "$1" 2>/dev/null); do
        if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            return 0
        fi
    done
    return 1
}

# Creates the prefix once and starts its persistent wineserver. Says what
# failed and returns non-zero when Wine cannot start.
tw_wine_prepare() {
    # Where the 32-bit build is not to run (TW_X64_ONLY=1 stands for a
    # machine that cannot), nothing may start its Wine by accident.
    if [ "$TW_ARCH" = win32 ] && ! tw_machine_runs_i386; then
        echo "wine-env: the 32-bit build does not run here: $(tw_why_no_i386)" >&2
        return 1
    fi
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if ! "$WINELOADER" --version </dev/null >/dev/null 2>&1; then
            echo "wine-env: the $TW_ARCH Wine loader $WINELOADER does not start: $("$WINELOADER" --version 2>&1 </dev/null | head -n 1)" >&2
            exit 1
        fi
        if [ ! -f "$WINEPREFIX/.tarnwick-ready" ]; then
            rm -rf "$WINEPREFIX"
            log="$WINEPREFIX.log"
            if ! "$WINELOADER" wineboot --init </dev/null >"$log" 2>&1 9>&-; then
                echo "wine-env: creating the $WINEARCH prefix $WINEPREFIX failed; wineboot said:" >&2
                tail -n 20 "$log" >&2
                exit 1
            fi
            # A crash must end the process, not open a dialog that waits.
            if ! "$WINELOADER" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
                </dev/null >>"$log" 2>&1 9>&-; then
                echo "wine-env: could not turn off the crash dialog in $WINEPREFIX; reg said:" >&2
                tail -n 20 "$log" >&2
                exit 1
            fi
            "$WINESERVER" -w 9>&-
            touch "$WINEPREFIX/.tarnwick-ready"
        fi
        if ! tw_wine_process_running 'services\.exe'; then
            # Persistent: the clipboard lives in the server and must outlast
            # the process that set it. The services that start with the
            # server live as long as it does, so they must not inherit the
            # caller's output (CTest would wait for it to close) nor this
            # lock.
            "$WINESERVER" -p </dev/null >/dev/null 2>&1 9>&- || true
            if ! "$WINELOADER" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 9>&-; then
                echo "wine-env: Wine ($TW_ARCH) does not start a program in $WINEPREFIX" >&2
                exit 1
            fi
        fi
    ) 9>"$WINEPREFIX.lock"
}

# Ends the prefix's wineserver and every process it runs, and returns once
# they are gone. "wineserver -k" only asks: a program started at once after
# it may still meet the dying server, and Wine then ends it with exit code 1
# before it runs; tw_wine_prepare would also take the dying services for a
# running session and start no server.
tw_wine_stop() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    for _ in $(seq 100); do
        tw_wine_process_running 'wineserver|\.exe' || return 0
        sleep 0.1
    done
    echo "wine-env: processes of $WINEPREFIX outlived its wineserver" >&2
    return 1
}

# Wine drops the window station, and the clipboard with it, shortly after
# the last process attached to it ends. An idle keeper process makes the
# clipboard outlive each run, as a Windows session does. $1: its .exe.
tw_wine_keep_session() {
    (
        flock 9
        if ! tw_wine_process_running 'session_keeper\.exe'; then
            setsid "$WINELOADER" "$1" </dev/null >/dev/null 2>&1 9>&- &
            # Attached once its window exists; give it a moment.
            for _ in $(seq 50); do
                tw_wine_process_running 'session_keeper\.exe' && break
                sleep 0.1
            done
            sleep 0.5
        fi
    ) 9>"$WINEPREFIX.lock"
}
