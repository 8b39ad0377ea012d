#!/usr/bin/env bash
# Sets up, builds and runs the demo in its own Wine prefix (build/demo-prefix).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh >build-demo.log 2>&1 || { cat build-demo.log; exit 1; }
prefix=$PWD/build/demo-prefix
dll=$PWD/build/ZorbexGUI.dll

export ZORBEX_KEPTOR_EXE=$PWD/build/tools/keptor/KeptorServer.exe
export ZORBEX_KEPTOR_TLB=$PWD/build/generated/KeptorServer.tlb

echo "== regsvr32 ZorbexGUI.dll"
tools/register.sh "$prefix" "$dll" && echo "registered $dll"
tools/winerun.sh "$prefix" build/tools/ZorbexDemo.exe
echo "== regsvr32 /u ZorbexGUI.dll"
tools/register.sh "$prefix" "$dll" /u && echo "unregistered"

echo "== Pictures of the toolbars (Xvfb, Wine's X11 driver) into docs/screenshots/"
tools/shots.sh "$PWD/build"
