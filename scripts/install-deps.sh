#!/bin/sh
# Installs every Debian package the build and the tests need, only when
# something is missing. Safe to run again; does nothing on a ready machine.
# Both Windows toolchains and both Wines are installed everywhere: the
# 32-bit ones install on a machine whose kernel cannot run them, and the
# scripts then leave the 32-bit build's run-time tests out.
set -eu

need=""
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

PKGS="cmake ninja-build \
g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 \
g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
libz-mingw-w64-dev wine wine32:i386 wine64 xvfb xauth \
locales googletest g++ clang libclang-rt-14-dev zlib1g-dev \
g++-multilib lib32z1-dev qemu-user procps util-linux python3 imagemagick x11-utils"

arch_ok=1
dpkg --print-foreign-architectures | grep -qx i386 || arch_ok=0

for p in $PKGS; do
    have_pkg "$p" || need="$need $p"
done

# The tests run Wine processes under other code pages (a copy made where
# the ANSI code page is 1251 or 932, pasted where it is 1252), and Wine reads
# Linux file names right only in a locale that glibc has.
LOCALES="en_US.UTF-8 ru_RU.UTF-8 ja_JP.UTF-8"
missing_locales() {
    for l in $LOCALES; do
        locale -a 2>/dev/null | grep -qix "$(echo "$l" | sed 's/UTF-8/utf8/')" || echo "$l"
    done
}
make_locales() {
    todo=$(missing_locales)
    [ -z "$todo" ] && return 0
    echo "install-deps: generating the locales" $todo >&2
    for l in $todo; do
        grep -q "^$l UTF-8" /etc/locale.gen 2>/dev/null ||
            echo "$l UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null || fail "cannot add $l to /etc/locale.gen"
    done
    $SUDO locale-gen >/dev/null || fail "locale-gen failed"
}

# PowerShell for the tests that run the scripts /SELF places: a .NET global
# tool (into ~/.dotnet/tools), where dotnet is there. 7.6.10 by name: the
# newest does not install. Without it those tests are skipped and named.
if command -v dotnet >/dev/null 2>&1 && [ ! -x "$HOME/.dotnet/tools/pwsh" ] && ! command -v pwsh >/dev/null 2>&1; then
    echo "install-deps: installing PowerShell 7.6.10 (dotnet tool)" >&2
    dotnet tool install --global PowerShell --version 7.6.10 >&2 </dev/null ||
        echo "install-deps: PowerShell did not install; the tests that need pwsh will be skipped" >&2
fi

if [ -z "$need" ] && [ "$arch_ok" = 1 ]; then
    [ -z "$(missing_locales)" ] && exit 0
fi

SUDO=""
if [ "$(id -u)" != 0 ]; then
    command -v sudo >/dev/null 2>&1 || {
        echo "install-deps: missing packages:$need; run as root or install sudo" >&2
        exit 1
    }
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
fail() { echo "install-deps: $*" >&2; exit 1; }
if [ -z "$need" ] && [ "$arch_ok" = 1 ]; then
    make_locales
    exit 0
fi
if [ "$arch_ok" = 0 ]; then
    echo "install-deps: adding the i386 architecture" >&2
    $SUDO dpkg --add-architecture i386 || fail "dpkg --add-architecture i386 failed"
fi
echo "install-deps: installing$need" >&2
$SUDO apt-get update -qq </dev/null || fail "apt-get update failed (network or package sources; see above)"
$SUDO apt-get install -y -qq --no-install-recommends $need </dev/null ||
    fail "apt-get install of$need failed (see above)"
make_locales
