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

# True when this prefix's background services are up.
tw_wine_services_running() {
    for pid in $(pgrep -f 'services\.exe' 2>/dev/null); do
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
        if ! tw_wine_services_running; then
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
