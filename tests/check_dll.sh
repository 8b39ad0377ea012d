#!/usr/bin/env bash
# Checks the shipped file: a DLL of the build's architecture (PE32 for i386, PE32+ for x86-64) that
# imports only system DLLs and exports the four COM entry points at ordinals 1 to 4 under their plain names.
#   check_dll.sh DLL x86|x64
set -euo pipefail
dll=$1 arch=$2
fail() { echo "FAILED: $*"; exit 1; }

case $arch in
    x86) format='PE32 executable (DLL)' machine='Intel 80386' objdump=i686-w64-mingw32-objdump ;;
    x64) format='PE32+ executable (DLL)' machine='x86-64' objdump=x86_64-w64-mingw32-objdump ;;
    *) fail "unknown architecture $arch" ;;
esac
description=$(file -b "$dll")
[[ $description == "$format"* ]] || fail "not a $arch DLL: $description"
[[ $description == *"$machine"* ]] || fail "not $machine: $description"
echo "file: $description"

dump=$($objdump -p "$dll")
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|OLE32|OLEAUT32|COMCTL32|SHELL32|SHLWAPI|MSVCRT|URLMON|UXTHEME|MSIMG32|VERSION)\.DLL$'
imports=$(grep 'DLL Name:' <<<"$dump" | awk '{print toupper($3)}')
for name in $imports; do
    [[ $name =~ $allowed ]] || fail "imports a non-system DLL: $name"
done
echo "imports: $(echo $imports)"

exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -E '^\s+\[' | sed -E 's/^\s+\[\s*([0-9]+)\] (.*)$/\1 \2/' | sort -n)
expected=$'0 DllUnregisterServer\n1 DllRegisterServer\n2 DllCanUnloadNow\n3 DllGetClassObject'
[ "$exports" = "$expected" ] || fail "exports differ: $exports"
grep -q 'Ordinal Base\s*1' <<<"$dump" || fail "ordinal base is not 1"
echo "exports: DllUnregisterServer @1, DllRegisterServer @2, DllCanUnloadNow @3, DllGetClassObject @4"
