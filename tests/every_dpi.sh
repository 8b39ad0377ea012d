#!/usr/bin/env bash
# Runs a test program once per screen scale in a Wine prefix of its own: 96, 120, 144 and 192 dots per
# inch (100, 125, 150 and 200 %), set as the prefix's LogPixels, which Wine reads when a process starts.
# The program learns the scale it should find from ZORBEX_EXPECTED_DPI.
#   every_dpi.sh PREFIX PROGRAM [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
winerun=$here/../tools/winerun.sh
prefix=$1; shift
status=0
for dpi in 96 120 144 192; do
    echo "== $dpi dots per inch"
    "$winerun" "$prefix" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
    ZORBEX_EXPECTED_DPI=$dpi "$winerun" "$prefix" "$@" || status=1
done
exit $status
