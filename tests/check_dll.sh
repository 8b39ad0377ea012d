#!/usr/bin/env bash
# Checks the shipped file: a DLL of the build's architecture (PE32 for i386, PE32+ for x86-64) that
# imports only system DLLs and exports the four COM entry points at ordinals 1 to 4 under their plain names.
#   check_dll.sh DLL x86|x64 [LINK_MAP]
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

# The runtime's functions the library makes again (src/com/RuntimeSupportUnit.cpp) are its own, and the
# 32-bit DLL's frame registry is its renamed copy: in the link map, each function's definition comes from
# the library's object, and no runtime archive member that defines them was taken.
map=${3:-}
if [ -n "$map" ]; then
    [ -f "$map" ] || fail "no link map $map"
    defined_in() { # SYMBOL (as the map names it, without the 32-bit leading underscore): the input file whose section lists it
        awk -v want="$1" '
            /^ \.[a-z]/ && NF >= 4 { file = $4 }
            /^ \.[a-z]/ && NF == 1 { getline; if (NF >= 3) file = $3 }
            $1 ~ /^0x/ && $2 == want { print file; exit }' "$map"
    }
    for symbol in __cxa_get_globals __cxa_get_globals_fast __cxa_guard_acquire __cxa_guard_release __cxa_guard_abort; do
        from=$(defined_in "$symbol")
        [[ $from == *RuntimeSupportUnit.cpp.obj* ]] || fail "$symbol comes from ${from:-nowhere}, not RuntimeSupportUnit"
    done
    members=$(sed -n '/^Archive member included/,/^Discarded input sections/p' "$map")
    for member in 'eh_globals.o' 'guard.o'; do
        ! grep -q "($member)" <<<"$members" || fail "the runtime's $member was linked"
    done
    if [ "$arch" = x86 ]; then
        from=$(defined_in __deregister_frame_info)
        [[ $from == *FrameRegistryUnit.cpp.obj* ]] || fail "__deregister_frame_info comes from ${from:-nowhere}"
        from=$(defined_in _Unwind_Find_FDE)
        [[ $from == *FrameRegistry.obj* ]] || fail "the frame registry comes from ${from:-nowhere}"
        ! grep -q "(unwind-dw2-fde.o)" <<<"$members" || fail "the runtime's own frame registry was linked"
    fi
    echo "runtime: the guard and the exception state from RuntimeSupportUnit$([ "$arch" = x86 ] && echo ", the frame registry from the renamed copy")"
fi
