#!/usr/bin/env bash
# Checks that the folders of src/ form a stack: a file includes only its own folder and the folders
# below it. Prints every include that crosses folders, and fails on one that goes up.
set -euo pipefail
cd "$(dirname "$0")/../src"
layers=(com server page ui band library) # bottom to top
rank() { local i; for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done; echo -1; }
status=0
declare -A seen
while IFS= read -r line; do
    file=${line#./}; file=${file%%:*}
    from=${file%%/*}
    to=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$line")
    [ "$from" = "$to" ] && continue
    rf=$(rank "$from"); rt=$(rank "$to")
    if [ "$rf" -lt 0 ] || [ "$rt" -lt 0 ]; then
        echo "unknown folder in: $line"; status=1; continue
    fi
    if [ "$rt" -gt "$rf" ]; then
        echo "upward include: $line"; status=1
    fi
    seen["$from -> $to"]=1
done < <(grep -rnE '#include "[a-z]+/' --include='*.h' --include='*.cpp' .)
for edge in "${!seen[@]}"; do echo "$edge"; done | sort
exit $status
