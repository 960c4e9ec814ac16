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

tw_wine_prepare() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.tarnwick-ready" ]; then
            rm -rf "$WINEPREFIX"
            wineboot --init >/dev/null 2>&1 || true
            # A crash must end the process, not open a dialog that waits.
            wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
            wineserver -w
            touch "$WINEPREFIX/.tarnwick-ready"
        fi
        # Persistent: the clipboard lives in the server and must outlast
        # the process that set it.
        wineserver -p >/dev/null 2>&1 || true
    ) 9>"$WINEPREFIX.lock"
}
