#!/usr/bin/env bash
# Sets up, builds both architectures (with the release builds and their installers, which the
# MsiInstaller test installs) and runs every test under Wine:
#   - the x64 suite (build-x64/, 64-bit Wine) always: it runs on any x86-64 host;
#   - the x86 suite (build/, 32-bit Wine) wherever the host runs 32-bit programs. Where it cannot, one
#     line says so and why, and the suite counts as not run.
# Arguments go to both ctest runs (for example -R Library).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/arch.sh
bash tools/build.sh --release

passed=0 failed=0 status=0
suite() { # ARCH PRESET ARGS...
    local arch=$1 preset=$2; shift 2
    echo "== $arch suite (ctest --preset $preset)"
    local log
    log=$(mktemp)
    ctest --preset "$preset" "$@" 2>&1 | tee "$log" || status=1
    # "100% tests passed, 0 tests failed out of 27"
    local summary
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    rm -f "$log"
    if [ -z "$summary" ]; then
        echo "$arch suite: ctest printed no summary"
        status=1
        return
    fi
    local f t
    f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
    t=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    passed=$((passed + t - f)) failed=$((failed + f))
    [ "$f" -eq 0 ] || status=1
}

suite x64 x64 "$@"
if zorbex_host_runs_x86; then
    suite x86 default "$@"
    x86_line="x86 suite: run"
else
    x86_line="x86 suite: NOT RUN: $ZORBEX_X86_REASON"
fi
echo "$x86_line"
echo "tests: $passed passed, $failed failed"
exit $status
