#!/usr/bin/env bash
# Sets up the machine (tools/setup.sh) and builds both architectures: build/ (x86) and build-x64/ (x64).
# With --release, also the shipped builds and their installers: build-release/ (x86) and
# build-x64-release/ (x64, whose package carries both DLLs and so comes after the x86 one).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
presets=(default x64)
[ "${1:-}" = --release ] && presets+=(release x64-release)
for preset in "${presets[@]}"; do
    echo "== cmake --preset $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
