#!/usr/bin/env bash
# Sets up the machine (tools/setup.sh) and builds everything into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
