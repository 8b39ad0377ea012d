#!/usr/bin/env bash
# Sets up, builds both architectures and runs the demo in its own Wine prefix (build-x64/demo-prefix,
# and build/demo-prefix where the host runs 32-bit programs), then takes the pictures with the x64 build.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/arch.sh
bash tools/build.sh >build-demo.log 2>&1 || { cat build-demo.log; exit 1; }

demo() { # ARCH BUILD_DIR
    local arch=$1 build=$PWD/$2
    local prefix=$build/demo-prefix dll=$build/ZorbexGUI.dll
    export ZORBEX_ARCH=$arch
    export ZORBEX_KEPTOR_EXE=$build/tools/keptor/KeptorServer.exe
    export ZORBEX_KEPTOR_TLB=$build/generated/KeptorServer.tlb
    echo "== $arch: regsvr32 ZorbexGUI.dll"
    tools/register.sh "$prefix" "$dll" && echo "registered $dll"
    tools/winerun.sh "$prefix" "$build/tools/ZorbexDemo.exe"
    echo "== $arch: regsvr32 /u ZorbexGUI.dll"
    tools/register.sh "$prefix" "$dll" /u && echo "unregistered"
}

demo x64 build-x64
if zorbex_host_runs_x86; then
    demo x86 build
else
    echo "x86 demo: not run: $ZORBEX_X86_REASON"
fi

echo "== Pictures of the toolbars (Xvfb, Wine's X11 driver, x64 build) into docs/screenshots/"
tools/shots.sh "$PWD/build-x64"
