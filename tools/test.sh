#!/usr/bin/env bash
# Sets up, builds both architectures (with the release builds and their installers, which the
# MsiInstaller test installs) and runs every test under Wine:
#   - the x64 suite (build-x64/, 64-bit Wine): it runs on any x86-64 host;
#   - the x86 suite (build/, 32-bit Wine): natively where the host runs 32-bit programs, else under
#     qemu-user (tools/qemu32/, set up here: Debian's qemu built with one fix, about two minutes).
# One line says how the x86 suite ran; the last line sums up both suites. Arguments go to both ctest runs
# (for example -R Library).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/arch.sh
start=$SECONDS
bash tools/build.sh --release

if zorbex_host_runs_x86; then
    export ZORBEX_X86_MODE=native
    x86_how=natively
else
    export ZORBEX_X86_MODE=qemu
    x86_how="under qemu-user ($ZORBEX_X86_REASON)"
    # Before the x64 suite too: its 64-bit prefixes then start their 32-bit processes (the 32-bit
    # regsvr32 of the x64 installer check) under the emulator, as a 64-bit prefix does on Windows.
    zorbex_qemu32_setup
fi

passed=0 failed=0 status=0
suite() { # ARCH PRESET ARGS...
    local arch=$1 preset=$2; shift 2
    echo "== $arch suite (ctest --preset $preset)"
    local log begin=$SECONDS
    log=$(mktemp)
    ctest --preset "$preset" "$@" 2>&1 | tee "$log" || status=1
    # "100% tests passed, 0 tests failed out of 27"
    local summary
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    rm -f "$log"
    if [ -z "$summary" ]; then
        suite_line="$arch suite: ctest printed no summary"
        status=1
        return
    fi
    local f t
    f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
    t=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    passed=$((passed + t - f)) failed=$((failed + f))
    [ "$f" -eq 0 ] || status=1
    suite_line="$arch suite: $((t - f)) passed, $f failed, in $((SECONDS - begin)) s"
}

suite x64 x64 "$@"
x64_line=$suite_line
suite x86 default "$@"
echo "$x64_line"
echo "$suite_line, run $x86_how"
echo "(set-up, build and tests: $((SECONDS - start)) s)"
echo "tests: $passed passed, $failed failed"
exit $status
