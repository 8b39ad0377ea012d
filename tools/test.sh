#!/usr/bin/env bash
# Sets up, builds and runs every test under Wine. The release build (the shipped DLL and its MSI
# installer) is built too: the MsiInstaller test installs that package.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
cmake --preset release >/dev/null
cmake --build --preset release
ctest --preset default "$@"
