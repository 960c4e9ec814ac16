#!/bin/sh
# The shipped programs are 32-bit PE files that need nothing beyond the
# system DLLs (and, for Tarnwick.exe, zlib1.dll): no MinGW runtime DLLs.
#   pe_check.sh OBJDUMP EXE SUBSYSTEM [DLL...]   the DLLs that must be imported
set -eu
objdump=$1 exe=$2 subsystem=$3
shift 3
headers=$("$objdump" -p "$exe")
fail() { echo "pe_check: $exe: $*" >&2; exit 1; }

echo "$headers" | grep -q 'file format pei-i386' || fail "not a PE32 (i386) file"
echo "$headers" | grep -Eq "^Subsystem[[:space:]]+0*$subsystem[[:space:]]" || fail "subsystem is not $subsystem"
dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "$exe imports:" $dlls
for forbidden in libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll; do
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
