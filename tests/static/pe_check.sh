#!/bin/sh
# The shipped programs are PE files of the build's machine that need nothing
# beyond the system DLLs (and, for Tarnwick.exe, zlib1.dll): no MinGW
# runtime DLLs. Both builds are large-address-aware: the 32-bit one gets
# 4 GiB of address space on 64-bit Windows instead of 2.
#   pe_check.sh OBJDUMP EXE FORMAT SUBSYSTEM [DLL...]   FORMAT: pei-i386 or pei-x86-64;
#                                                      the DLLs that must be imported
set -eu
objdump=$1 exe=$2 format=$3 subsystem=$4
shift 4
headers=$("$objdump" -p "$exe")
fail() { echo "pe_check: $exe: $*" >&2; exit 1; }

echo "$headers" | grep -q "file format $format\$" || fail "not a $format file"
case $format in
    pei-i386) magic='010b' ;;
    *) magic='020b' ;;
esac
echo "$headers" | grep -Eq "^Magic[[:space:]]+$magic" || fail "optional header magic is not $magic"
echo "$headers" | grep -Eq "^Subsystem[[:space:]]+0*$subsystem[[:space:]]" || fail "subsystem is not $subsystem"
echo "$headers" | grep -Eq "^[[:space:]]+large address aware\$" || fail "not large-address-aware"
dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "$exe imports:" $dlls
for forbidden in libgcc_s_dw2-1.dll libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll zlib.dll; do
    echo "$dlls" | grep -qx "$forbidden" && fail "imports $forbidden"
done
for dll in "$@"; do
    echo "$dlls" | grep -qx "$dll" || fail "does not import $dll"
done
# zlib is allowed only where it is asked for.
case " $* " in
    *" zlib1.dll "*) ;;
    *) echo "$dlls" | grep -qx zlib1.dll && fail "imports zlib1.dll" ;;
esac
echo "ok"
