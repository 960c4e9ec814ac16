# Sourced by the scripts: the project's private Wine prefix.
#
# TW_WINEPREFIX picks the prefix (default: build/wine-test in the checkout).
# A persistent wineserver keeps the clipboard alive between processes.

tw_root=$(cd "$(dirname -- "$0")/.." && pwd)
: "${TW_WINEPREFIX:=$tw_root/build/wine-test}"
export WINEPREFIX="$TW_WINEPREFIX"
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono or Gecko installers in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="

# True when a process of this prefix whose command line matches $1 runs.
tw_wine_process_running() {
    for pid in $(pgrep -f "$1" 2>/dev/null); do
        if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            return 0
        fi
    done
    return 1
}

tw_wine_prepare() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.tarnwick-ready" ]; then
            rm -rf "$WINEPREFIX"
            wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
            # A crash must end the process, not open a dialog that waits.
            wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
                </dev/null >/dev/null 2>&1 9>&-
            wineserver -w 9>&-
            touch "$WINEPREFIX/.tarnwick-ready"
        fi
        if ! tw_wine_process_running 'services\.exe'; then
            # Persistent: the clipboard lives in the server and must outlast
            # the process that set it. The services that start with the
            # server live as long as it does, so they must not inherit the
            # caller's output (CTest would wait for it to close) nor this
            # lock.
            wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
            wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 9>&- || true
        fi
    ) 9>"$WINEPREFIX.lock"
}

# Wine drops the window station, and the clipboard with it, shortly after
# the last process attached to it ends. An idle keeper process makes the
# clipboard outlive each run, as a Windows session does. $1: its .exe.
tw_wine_keep_session() {
    (
        flock 9
        if ! tw_wine_process_running 'session_keeper\.exe'; then
            setsid wine "$1" </dev/null >/dev/null 2>&1 9>&- &
            # Attached once its window exists; give it a moment.
            for _ in $(seq 50); do
                tw_wine_process_running 'session_keeper\.exe' && break
                sleep 0.1
            done
            sleep 0.5
        fi
    ) 9>"$WINEPREFIX.lock"
}
