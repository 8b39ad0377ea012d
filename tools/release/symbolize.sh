#!/usr/bin/env bash
# Turns offsets into ZorbexGUI.dll, as a crash dump or the event log gives them (ZorbexGUI+0x1a2b3,
# "Fault offset: 0x0001a2b3"), into functions, source files and lines, with the separate debug file of the
# same build (the build that made the shipped DLL: check that the DLL's debug link names it, see README).
#
#   tools/release/symbolize.sh DEBUG_FILE OFFSET...
#
#   tools/release/symbolize.sh build-release/ZorbexGUI.dll.debug 0x1a2b3          (the 32-bit DLL)
#   tools/release/symbolize.sh build-x64-release/ZorbexGUI.dll.debug 0x1a2b3      (the 64-bit DLL)
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: symbolize.sh DEBUG_FILE OFFSET..." >&2; exit 2; }
debug=$1; shift
# The debug file's own architecture picks the tools.
if file -b "$debug" | grep -q 'x86-64'; then tools=x86_64-w64-mingw32; else tools=i686-w64-mingw32; fi
base=$($tools-objdump -p "$debug" | awk '$1 == "ImageBase" { print $2 }')
[ -n "$base" ] || { echo "$debug: no image base" >&2; exit 1; }
addresses=()
for offset in "$@"; do
    offset=${offset#*+}
    addresses+=("$(printf '0x%x' $((0x$base + offset)))")
done
# The debug information names functions as the compiler mangled them, without the leading underscore of
# the PE symbol table, which the MinGW tools would otherwise strip before demangling.
$tools-addr2line --exe="$debug" --functions --inlines --pretty-print "${addresses[@]}" |
    $tools-c++filt --no-strip-underscore
