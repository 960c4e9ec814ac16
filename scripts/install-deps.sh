#!/bin/sh
# Installs every Debian package the build and the tests need, only when
# something is missing. Safe to run again; does nothing on a ready machine.
set -eu

need=""
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

PKGS="cmake ninja-build g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix \
binutils-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386 xvfb xauth \
googletest g++ clang libclang-rt-14-dev zlib1g-dev procps util-linux python3 imagemagick x11-utils"

arch_ok=1
dpkg --print-foreign-architectures | grep -qx i386 || arch_ok=0

for p in $PKGS; do
    have_pkg "$p" || need="$need $p"
done

[ -z "$need" ] && [ "$arch_ok" = 1 ] && exit 0

SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ "$arch_ok" = 0 ]; then
    echo "install-deps: adding the i386 architecture" >&2
    $SUDO dpkg --add-architecture i386
fi
echo "install-deps: installing$need" >&2
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $need </dev/null
