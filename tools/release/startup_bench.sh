#!/usr/bin/env bash
# Start-up time of the shipped library beside a COM server that does nothing (NullComServer.dll), built
# by the same toolchain in the same release build: load, four class objects, four objects
# (tools/release/StartupBench.cpp). With a default build present, its library as built (with its debug
# information) is measured too. Runs under Wine in the release build's bench-prefix; prints figures.
#
#   tools/release/startup_bench.sh [PROCESSES] [CYCLES] [ARCH]
#       default 9 processes of 20 cycles each; ARCH x86 (build-release, build) or x64 (build-x64-release,
#       build-x64); without ARCH, both.
#
# Where the host refuses 32-bit programs, the x86 library runs under qemu-user (tools/qemu32/): figures
# taken under an emulator are not the library's speed, so there it is only run, for what does not depend
# on speed: every cycle loads, creates and unloads without an error, and the reloads keep no TLS slot and
# no handle. No times and no ratios are printed for it.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tools/arch.sh
processes=${1:-9}
cycles=${2:-20}
arches=${3:-x64 x86}

for arch in $arches; do
    if [ "$arch" = x64 ]; then preset=x64-release built=build-x64; else preset=release built=build; fi
    release=$(pwd)/build-$preset
    cmake --preset $preset >/dev/null
    cmake --build --preset $preset --target ZorbexGUI NullComServer StartupBench >/dev/null
    prefix=$release/bench-prefix
    bench=$release/tools/release/StartupBench.exe
    export ZORBEX_ARCH=$arch
    echo "== $arch"
    if [ "$arch" = x86 ] && ! zorbex_host_runs_x86; then
        echo "run under qemu-user, not timed: $ZORBEX_X86_REASON; times under an emulator are not the library's."
        zorbex_qemu32_setup
        for entry in "null=$release/tools/release/NullComServer.dll" "release=$release/ZorbexGUI.dll"; do
            name=${entry%%=*} path=${entry#*=}
            if line=$(ZORBEX_X86_MODE=qemu tools/winerun.sh "$prefix" "$bench" "Z:${path//\//\\}" "$cycles" | tr -d '\r'); then
                printf "%-9s %d cycles of load, four objects, unload: no error; kept by the reloads: %s TLS slots, %s handles\n" \
                    "$name" "$((cycles + 1))" "$(sed -n 's/.*again_tls_slots=\([0-9-]*\).*/\1/p' <<<"$line")" \
                    "$(sed -n 's/.*again_handles=\([0-9-]*\).*/\1/p' <<<"$line")"
            else
                echo "$name: FAILED"
            fi
        done
        continue
    fi

    # name=path of every library measured
    libraries=("null=$release/tools/release/NullComServer.dll" "release=$release/ZorbexGUI.dll")
    [ -f $built/ZorbexGUI.dll ] && libraries+=("as-built=$(pwd)/$built/ZorbexGUI.dll")
    unset figures

    objects=(bar utils hint links)
    fields=(first_total first_load first_factories first_objects again_total again_load again_factories
            again_objects first_factory1 again_factory1 again_early again_late again_tls_slots again_handles)
    for object in "${objects[@]}"; do fields+=("first_$object" "again_$object"); done
    declare -A figures
    for ((p = 1; p <= processes; p++)); do
        for entry in "${libraries[@]}"; do
            name=${entry%%=*} path=${entry#*=}
            line=$(tools/winerun.sh "$prefix" "$bench" "Z:${path//\//\\}" "$cycles" | tr -d '\r')
            for field in "${fields[@]}"; do
                figures[$name:$field]+="$(sed -n "s/.*\b$field=\([0-9]*\).*/\1/p" <<<"$line") "
            done
        done
    done

    median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
    ratio() { awk -v x="$1" -v y="$2" 'BEGIN { printf "%.2f", x / y }'; }
    null_first=$(median <<<"${figures[null:first_total]}")
    null_again=$(median <<<"${figures[null:again_total]}")
    printf "%-9s %9s | %9s %6s = %8s + %8s + %8s | %9s %6s\n" library bytes first "x null" load factories objects again "x null"
    for entry in "${libraries[@]}"; do
        name=${entry%%=*} path=${entry#*=}
        f=$(median <<<"${figures[$name:first_total]}")
        a=$(median <<<"${figures[$name:again_total]}")
        printf "%-9s %9s | %9s %6s = %8s + %8s + %8s | %9s %6s\n" "$name" "$(stat -c %s "$path")" "$f" \
            "$(ratio "$f" "$null_first")" "$(median <<<"${figures[$name:first_load]}")" \
            "$(median <<<"${figures[$name:first_factories]}")" "$(median <<<"${figures[$name:first_objects]}")" \
            "$a" "$(ratio "$a" "$null_again")"
    done
    echo "microseconds; first: the first start-up in a process (median of $processes processes), split into"
    echo "LoadLibrary, four DllGetClassObject and four CreateInstance; again: loading the unloaded file again"
    echo "in the same process (median over the processes of the median of $cycles cycles)."
    echo
    # The split: the first DllGetClassObject, each class's CreateInstance (ZorbexExplorerBar, IEHKepUtils,
    # IEHelperBHOGUI, TrovellaQLToolbar), and whether reloading grows (the first and the last third of
    # the cycles).
    printf "%-9s %-6s %8s %8s %8s %8s %8s %8s\n" library when load factory1 bar utils hint links
    for entry in "${libraries[@]}"; do
        name=${entry%%=*}
        for when in first again; do
            row=()
            for field in load factory1 "${objects[@]}"; do row+=("$(median <<<"${figures[$name:${when}_$field]}")"); done
            printf "%-9s %-6s %8s %8s %8s %8s %8s %8s\n" "$name" "$when" "${row[@]}"
        done
    done
    printf "%-9s %14s %14s %16s %16s\n" library "again early" "again late" "TLS slots kept" "handles kept"
    for entry in "${libraries[@]}"; do
        name=${entry%%=*}
        printf "%-9s %14s %14s %16s %16s\n" "$name" "$(median <<<"${figures[$name:again_early]}")" \
            "$(median <<<"${figures[$name:again_late]}")" "$(median <<<"${figures[$name:again_tls_slots]}")" \
            "$(median <<<"${figures[$name:again_handles]}")"
    done
    echo "(kept: by the $cycles reloads of a process, each one a TLS slot or a handle that an unload did not free)"
done
