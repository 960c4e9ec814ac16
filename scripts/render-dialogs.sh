#!/bin/sh
# Renders Setup's two dialogs, as Wine draws them, into PNG files for the
# documentation: docs/setup-install-dialog.png (a first installation) and
# docs/setup-maintenance-dialog.png (Setup started on an installed system).
# Runs in a Wine prefix of its own on a private X server, so neither the
# test prefix nor the user's desktop is touched.
#   TW_BUILD_DIR, TW_BUILD_DIR_X64   build folders of the Windows trees
#   TW_RENDER_PREFIX Wine prefix (default <build folder>/wine-render)
#   TW_DOCS_DIR      where the pictures go (default docs/)
set -eu
root=$(cd "$(dirname -- "$0")/.." && pwd)
cd "$root"
"$root/scripts/build.sh" >/dev/null

. "$root/scripts/wine-env.sh"
# The 32-bit build where the machine runs it, else the x64 one.
if tw_machine_runs_i386; then
    TW_ARCH=win32 win_dir=${TW_BUILD_DIR:-$root/build/win32}
else
    TW_ARCH=x64 win_dir=${TW_BUILD_DIR_X64:-$root/build/win64}
fi
docs=${TW_DOCS_DIR:-$root/docs}
TW_WINEPREFIX=${TW_RENDER_PREFIX:-$win_dir/wine-render}
export TW_ARCH TW_WINEPREFIX
. "$root/scripts/wine-env.sh"
mkdir -p "$docs"

display=""
for n in $(seq 141 190); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "render-dialogs: no free X display" >&2; exit 1; }
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
setup_pid=""
cleanup() {
    [ -n "$setup_pid" ] && kill "$setup_pid" 2>/dev/null || true
    tw_wine_stop || true
    kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
sleep 1
tw_wine_stop || true
tw_wine_prepare

# Wine leaves the caption bar to a window manager, and there is none here:
# let Wine draw the frame itself, so the pictures show caption and icon.
tw_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
tw_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnwick'

# The X id of the visible window titled "Tarnwick Setup", once it is drawn.
find_dialog() {
    i=0
    while [ $i -lt 100 ]; do
        id=$(xwininfo -root -tree 2>/dev/null | awk '/"Tarnwick Setup"/ && !/has no name/ { print $1; exit }')
        if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
            echo "$id"
            return 0
        fi
        sleep 0.2
        i=$((i + 1))
    done
    return 1
}

# render NAME: starts Setup, waits for its dialog, saves it as NAME.png.
render() {
    (cd "$win_dir/bin" && exec "$WINELOADER" Setup.exe) >/dev/null 2>&1 &
    setup_pid=$!
    id=$(find_dialog) || { echo "render-dialogs: no dialog for $1" >&2; exit 1; }
    sleep 1  # let Wine finish painting the controls
    import -window "$id" "$docs/$1.png"
    echo "render-dialogs: wrote $docs/$1.png"
    kill "$setup_pid" 2>/dev/null || true
    tw_wine_stop || true
    wait "$setup_pid" 2>/dev/null || true
    setup_pid=""
    tw_wineserver -p >/dev/null 2>&1 || true
}

tw_wine reg delete "$key" /f >/dev/null 2>&1 || true
render setup-install-dialog

tw_wine reg add "$key" /v UninstallString /t REG_SZ /d '"C:\Program Files\Tarnwick\Setup.exe"' /f >/dev/null 2>&1
render setup-maintenance-dialog
tw_wine reg delete "$key" /f >/dev/null 2>&1 || true
