#!/usr/bin/env bash
# Checks the shipped file: a PE32 DLL that imports only system DLLs and exports the four COM entry
# points at ordinals 1 to 4 under their plain names.
set -euo pipefail
dll=$1
fail() { echo "FAILED: $*"; exit 1; }

file -b "$dll" | grep -q '^PE32 executable (DLL)' || fail "not a PE32 DLL: $(file -b "$dll")"
file -b "$dll" | grep -q 'Intel 80386' || fail "not i386"

dump=$(i686-w64-mingw32-objdump -p "$dll")
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
