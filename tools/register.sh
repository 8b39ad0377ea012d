#!/usr/bin/env bash
# Registers (or with /u unregisters) a DLL in a Wine prefix with regsvr32 of the DLL's own architecture.
#   register.sh PREFIX DLL [/u]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/arch.sh"
prefix=$1 dll=$(realpath "$2") flag=${3:-}
export ZORBEX_ARCH=${ZORBEX_ARCH:-$(zorbex_arch_of "$dll")}
# Wine maps the Unix root to drive Z:.
winpath="Z:${dll//\//\\}"
"$here/winerun.sh" "$prefix" regsvr32 /s $flag "$winpath"
