#!/usr/bin/env bash
# GIF benchmark: renders real pages to screenshots at 1280x800 and 1920x1080 with headless Chromium,
# then encodes each picture with this library's encoder (GifBench under Wine), ImageMagick and ffmpeg
# (palettegen + paletteuse), and prints time, file size and PSNR against the source side by side.
#
#   bench/gif_bench.sh [BUILD_DIR] [RUNS]    (BUILD_DIR defaults to ./build; build GifBench first)
#
# Times: "zorbex" is the encoder inside the process (median of RUNS), "path" the screenshot path from a
# drawn bitmap (halftone stretch at 100 %, 32-bit format, GIF). ImageMagick and ffmpeg run as commands:
# their time is the best of RUNS runs of the encoding command less the best of RUNS runs of the same
# command decoding the input only, so that process start and reading the PPM are not counted.
# PSNR: /usr/bin/compare -metric PSNR of each GIF against the source picture. Pictures and GIFs stay in
# BUILD_DIR/gif-bench.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-5}
exe=$build/bench/GifBench.exe
# The fixture pages: where the build's CMake cache says they are (ZORBEX_FIXTURE_DIR), as for the tests.
fixtures=$(sed -n 's/^ZORBEX_FIXTURE_DIR:PATH=//p' "$build/CMakeCache.txt")/pages
work=$build/gif-bench

if [ ! -f "$exe" ]; then
    echo "missing $exe: cmake --build $build --target GifBench" >&2
    exit 2
fi

# Tools of the benchmark only (not needed by the tests): installed when missing.
need=()
[ -x /usr/bin/chromium ] || need+=(chromium)
[ -x /usr/bin/compare ] || need+=(imagemagick)
[ -x /usr/bin/ffmpeg ] || need+=(ffmpeg)
if [ ${#need[@]} -gt 0 ]; then
    echo "installing ${need[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
convert=/usr/bin/convert compare=/usr/bin/compare ffmpeg=/usr/bin/ffmpeg

rm -rf "$work"
mkdir -p "$work"

# A page as it is (the fixtures carry no style sheets: black text on white), and pages with a style
# that looks like a documentation site: a gradient header, a dark sidebar, tinted code blocks,
# coloured links and headings.
style='<style>
body { font-family: "DejaVu Sans", sans-serif; margin: 0 0 0 260px; background: #fbfbf8; color: #2b2b2b; }
body::before { content: ""; position: fixed; left: 0; top: 0; bottom: 0; width: 240px;
  background: linear-gradient(180deg, #1f2933 0%, #323f4b 60%, #3e4c59 100%); }
h1, h2, h3 { color: #1e5aa8; border-bottom: 2px solid #e0e6ef; padding: 6px 0; }
h1 { background: linear-gradient(90deg, #2b6cb0, #6b46c1 60%, #d53f8c); color: #fff; padding: 18px; }
a { color: #0b7285; } a:visited { color: #862e9c; }
pre, code { background: #f1f3f5; color: #c2255c; border-radius: 4px; }
pre { padding: 12px; box-shadow: 0 2px 6px rgba(0, 0, 0, 0.25); border-left: 4px solid #f59f00; }
table, td, th { border: 1px solid #ced4da; background: #fff9db; }
li:nth-child(3n) { background: #e6fcf5; } li:nth-child(5n) { background: #fff0f6; }
</style>'
pages=(nodejs-fs.html:plain rust-reference-inline-assembly.html:styled valgrind-manual-core.html:styled)
sizes=(1280x800 1920x1080)
for entry in "${pages[@]}"; do
    page=${entry%%:*} kind=${entry##*:}
    source=$fixtures/$page
    if [ "$kind" = styled ]; then
        source=$work/${page%.html}.styled.html
        { echo "$style"; cat "$fixtures/$page"; } >"$source"
    fi
    for size in "${sizes[@]}"; do
        name=${page%.html}-$kind-$size
        chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size="${size/x/,}" \
            --screenshot="$work/$name.png" "file://$source" >/dev/null 2>&1
        "$convert" "$work/$name.png" -background white -alpha remove -alpha off -depth 8 "$work/$name.ppm"
    done
done

# Best wall time of a command over RUNS runs, in milliseconds.
best_ms() {
    local best="" start end ms
    for _ in $(seq "$runs"); do
        start=$(date +%s%N)
        "$@" </dev/null >/dev/null 2>&1
        end=$(date +%s%N)
        ms=$(((end - start) / 1000000))
        if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    done
    echo "$best"
}
psnr() { "$compare" -metric PSNR "$1" "$2" null: 2>&1 || true; }
palette_filter='split[a][b];[a]palettegen[p];[b][p]paletteuse'

"$root/tools/winerun.sh" "$build/wineprefix" "$exe" --runs "$runs" "$work"/*.ppm >"$work/zorbex.txt"

printf '\n%-44s %9s | %11s %10s %7s | %9s %9s %7s | %9s %9s %7s\n' picture size \
    "zorbex ms" bytes PSNR "IM ms" bytes PSNR "ffmpeg ms" bytes PSNR
printf '%-44s %9s | %11s %10s %7s | %9s %9s %7s | %9s %9s %7s\n' "" "" "(path ms)" "" "" "" "" "" "" "" ""
while read -r _ file width height encode _ capture bytes; do
    stem=${file%.ppm}
    name=$(basename "$stem")
    im_ms=$(($(best_ms "$convert" "$file" "$stem.im.gif") - $(best_ms "$convert" "$file" null:)))
    ff_ms=$(($(best_ms "$ffmpeg" -nostdin -v error -y -i "$file" -vf "$palette_filter" "$stem.ff.gif") -
        $(best_ms "$ffmpeg" -nostdin -v error -y -i "$file" -f null -)))
    printf '%-44s %9s | %11s %10s %7.2f | %9s %9s %7.2f | %9s %9s %7.2f\n' \
        "${name%-*}" "${width}x$height" "$encode ($capture)" "$bytes" "$(psnr "$file" "$stem.zorbex.gif")" \
        "$im_ms" "$(stat -c %s "$stem.im.gif")" "$(psnr "$file" "$stem.im.gif")" \
        "$ff_ms" "$(stat -c %s "$stem.ff.gif")" "$(psnr "$file" "$stem.ff.gif")"
done <"$work/zorbex.txt"
echo
echo "machine: $(nproc) cores; $(wine --version); $("$convert" -version | head -1 | cut -d' ' -f2-3);" \
    "ffmpeg $("$ffmpeg" -version | head -1 | cut -d' ' -f3)"
