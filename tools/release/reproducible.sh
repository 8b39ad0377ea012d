#!/usr/bin/env bash
# Checks that the release builds are reproducible: two clean builds of the committed sources, in two clones
# at different paths, must give the same bytes for the shipped DLLs of both architectures, their debug
# files and the two MSI packages.
# Prints sizes, hashes and the time stamps of the PE headers. Not a test: it takes two full release builds.
#
#   tools/release/reproducible.sh [WORK_DIR]      (default: a temporary folder, removed afterwards)
set -euo pipefail
cd "$(dirname "$0")/../.."
source=$(pwd)
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "note: the working tree has uncommitted changes; the check builds the last commit"
fi
if [ $# -gt 0 ]; then
    work=$1
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
work=$(realpath "$work")

files=(build-release/ZorbexGUI.dll build-release/ZorbexGUI.dll.debug build-release/ZorbexGUI.msi
       build-x64-release/ZorbexGUI.dll build-x64-release/ZorbexGUI.dll.debug build-x64-release/ZorbexGUI-x64.msi)
out=()
for build in a b; do
    rm -rf "$work/$build"
    # Different depths of path, so that no path of the checkout can hide in the output.
    checkout=$work/$build/$([ $build = a ] && echo src || echo another/checkout)
    git clone -q --no-hardlinks "$source" "$checkout"
    start=$(date +%s)
    (cd "$checkout" && for preset in release x64-release; do
        cmake --preset $preset >/dev/null && cmake --build --preset $preset >/dev/null || exit 1
    done)
    echo "build $build: $((($(date +%s) - start))) s in $checkout"
    out+=("$checkout")
done

status=0
for file in "${files[@]}"; do
    a=${out[0]}/$file b=${out[1]}/$file
    size=$(stat -c %s "$a")
    if cmp -s "$a" "$b"; then
        echo "same bytes: $file ($size bytes, sha256 $(sha256sum "$a" | cut -c1-16)...)"
    else
        echo "DIFFERENT: $file ($(cmp "$a" "$b" | head -1))"
        status=1
    fi
done

for tree in build-release:i686 build-x64-release:x86_64; do
    dll=${out[0]}/${tree%%:*}/ZorbexGUI.dll objdump=${tree#*:}-w64-mingw32-objdump
    dump=$($objdump -p "$dll")
    echo "${tree%%:*}: PE header time stamp: $(grep -m1 'Time/Date' <<<"$dump" | sed 's/^Time\/Date\s*//')"
    link=$($objdump -s -j .gnu_debuglink "$dll" |
        awk '/^ [0-9a-f]+ / { print $2 $3 $4 $5 }' | perl -ne 'chomp; print pack("H*", $_)' | tr '\0' '\n' | head -1)
    echo "${tree%%:*}: debug link: $link"
done
[ $status -eq 0 ] && echo "reproducible: two clean builds gave the same bytes"
exit $status
