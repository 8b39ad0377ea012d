#!/usr/bin/env bash
# GIF benchmark: renders pages to screenshots with headless Chromium (a plain text page and a styled page
# from the fixture pages, and a page of photographs from Debian's MATE backgrounds) at 1280x800,
# 1920x1080 and 3840x2160, encodes every picture with this library's encoder and with its anchors, and
# prints encode time, file size and PSNR against the source side by side.
#
#   bench/gif_bench.sh [BUILD_DIR] [RUNS]    (BUILD_DIR: build for the 32-bit DLL's encoder, build-x64 for the
#                                            64-bit one; default build where the host runs 32-bit programs,
#                                            else build-x64; build GifBench first). Where the host refuses
#                                            32-bit programs, build runs under qemu-user for its bytes only:
#                                            no times, its GIFs compared with build-x64's
#   GIF_BENCH_REFERENCE=REV bench/gif_bench.sh ...   also encodes every picture with the encoder of git
#                                            revision REV (built natively) and counts the pictures whose GIF
#                                            is byte for byte the same as ours: a change meant to alter only
#                                            the speed keeps all of them
#
# Every encoder is timed inside its own process on the same raw pixels, from pixels in memory to the GIF
# file in memory, best of RUNS after a warm-up, without dithering and on one thread (the library encodes
# on the browser's thread; the anchors get MAGICK_THREAD_LIMIT=1 and OMP_NUM_THREADS=1):
#   dll     the library's encoder as built for the DLL (MinGW, the build's architecture), in GifBench.exe
#           under Wine
#   ours    the same source built natively, in AnchorBench beside the anchors
#   im      ImageMagick (MagickWand: quantize to 256 colours, no dither, GIF)
#   ffmpeg  libavfilter palettegen + paletteuse=dither=none, GIF muxer
#   liq     libimagequant (dithering level 0), written with giflib
# "cpu" is the mean CPU time of an encoding (the process's, the thread's under Wine), which a busy machine
# does not inflate as it does the clock; dll/ours is the one's CPU time over the other's. Wine's own
# services start with the first Windows program of a prefix and keep a core busy for a second or two: an
# untimed run of GifBench starts them before the timed one.
# PSNR: ImageMagick's compare -metric PSNR of each GIF against the source picture. Pictures and GIFs stay
# in BUILD_DIR/gif-bench. The tools come from bench/setup.sh, which this script runs first.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/arch.sh"
default_build=$root/build-x64
zorbex_host_runs_x86 && default_build=$root/build
build=$(cd "${1:-$default_build}" && pwd)
runs=${2:-5}
exe=$build/bench/GifBench.exe
# The fixture pages: where the build's CMake cache says they are (ZORBEX_FIXTURE_DIR), as for the tests.
fixtures=$(sed -n 's/^ZORBEX_FIXTURE_DIR:PATH=//p' "$build/CMakeCache.txt")/pages
work=$build/gif-bench

if [ ! -f "$exe" ]; then
    echo "missing $exe: cmake --build $build --target GifBench" >&2
    exit 2
fi
bash "$root/bench/setup.sh"

rm -rf "$work"
mkdir -p "$work"

# The anchors' program, native, with the library's encoder compiled in from the same source.
g++ -O2 -std=c++20 -I"$root/src" "$root/bench/AnchorBench.cpp" "$root/src/page/GifEncoderUnit.cpp" \
    -o "$work/AnchorBench" $(pkg-config --cflags --libs MagickWand libavfilter libavformat libavcodec libavutil \
    imagequant) -lgif

# A style that looks like a documentation site: a gradient header, a dark sidebar, tinted code blocks,
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
{ echo "$style"; cat "$fixtures/rust-reference-inline-assembly.html"; } >"$work/styled.html"
cp "$fixtures/nodejs-fs.html" "$work/plain.html"

# A gallery page: a heading, a paragraph and twelve photographs in a grid.
{
    cat <<'EOF'
<!DOCTYPE html><html><head><meta charset="utf-8"><title>Photographs</title><style>
body { font-family: "DejaVu Sans", sans-serif; margin: 24px; background: #f4f1ea; color: #222; }
h1 { font-size: 28px; margin: 0 0 12px; } p { max-width: 60em; line-height: 1.5; }
.grid { display: grid; grid-template-columns: repeat(3, 1fr); gap: 16px; }
figure { margin: 0; background: #fff; padding: 8px; box-shadow: 0 2px 6px rgba(0,0,0,.2); }
img { width: 100%; display: block; } figcaption { font-size: 13px; color: #555; padding-top: 6px; }
</style></head><body><h1>Nature photographs</h1>
<p>Pictures from Debian's MATE backgrounds, laid out the way a gallery or a news page shows photographs
between text.</p><div class="grid">
EOF
    for photo in /usr/share/backgrounds/mate/nature/*.jpg; do
        echo "<figure><img src=\"file://$photo\"><figcaption>$(basename "$photo" .jpg)</figcaption></figure>"
    done
    echo "</div></body></html>"
} >"$work/photos.html"

for page in plain styled photos; do
    for size in 1280x800 1920x1080 3840x2160; do
        name=$page-$size
        chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size="${size/x/,}" \
            --screenshot="$work/$name.png" "file://$work/$page.html" >/dev/null 2>&1
        convert "$work/$name.png" -background white -alpha remove -alpha off -depth 8 "$work/$name.ppm"
    done
done
pictures=()
for page in plain styled photos; do
    for size in 1280x800 1920x1080 3840x2160; do pictures+=("$work/$page-$size.ppm"); done
done

# The 32-bit encoder where this host refuses 32-bit programs: it runs under qemu-user, whose times are not
# the library's, so it is run for its bytes only, beside the 64-bit build's encoder on the same pictures.
if [ "$(zorbex_arch_of "$exe")" = x86 ] && ! zorbex_host_runs_x86; then
    x64=$root/build-x64/bench/GifBench.exe
    [ -f "$x64" ] || { echo "missing $x64: the 32-bit GIFs are compared with the 64-bit build's" >&2; exit 2; }
    zorbex_qemu32_setup
    "$root/tools/winerun.sh" "$root/build-x64/wineprefix" "$x64" --runs 1 "${pictures[@]}" >/dev/null
    for file in "${pictures[@]}"; do mv "${file%.ppm}.dll.gif" "${file%.ppm}.x64.gif"; done
    ZORBEX_X86_MODE=qemu "$root/tools/winerun.sh" "$build/wineprefix" "$exe" --runs 1 "${pictures[@]}" >/dev/null
    same=0
    for file in "${pictures[@]}"; do
        if cmp -s "${file%.ppm}.dll.gif" "${file%.ppm}.x64.gif"; then
            same=$((same + 1)) verdict="same bytes"
        else
            verdict=DIFFERENT
        fi
        printf '%-18s %10s bytes  %s\n' "$(basename "${file%.ppm}")" "$(stat -c %s "${file%.ppm}.dll.gif")" "$verdict"
    done
    echo "x86 under qemu-user ($ZORBEX_X86_REASON): not timed, an emulator's times are not the library's."
    echo "Its GIFs are byte for byte those of the x64 build for $same of ${#pictures[@]} pictures."
    [ "$same" -eq "${#pictures[@]}" ]
    exit
fi

MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1 "$work/AnchorBench" --runs "$runs" "${pictures[@]}" >"$work/anchors.txt"
"$root/tools/winerun.sh" "$build/wineprefix" "$exe" --runs 1 "${pictures[0]}" >/dev/null
"$root/tools/winerun.sh" "$build/wineprefix" "$exe" --runs "$runs" "${pictures[@]}" >"$work/dll.txt"

psnr() { compare -metric PSNR "$1" "$2" null: 2>&1 || true; }
declare -A ms bytes cpu
while read -r _ file tool _ _ best _ size mean; do
    ms[$file.$tool]=$best bytes[$file.$tool]=$size cpu[$file.$tool]=$mean
done <"$work/anchors.txt"
while read -r _ file _ _ _ best _ size mean; do
    ms[$file.dll]=$best bytes[$file.dll]=$size cpu[$file.dll]=$mean
done <"$work/dll.txt"

printf '\n%-18s | %7s %7s %8s | %7s %7s %8s %6s | %7s %8s %6s | %7s %8s %6s | %7s %8s %6s\n' picture \
    "dll ms" "dll cpu" "dll/ours" "ours ms" "ourscpu" bytes PSNR "im ms" bytes PSNR "ff ms" bytes PSNR "liq ms" \
    bytes PSNR
for file in "${pictures[@]}"; do
    stem=${file%.ppm}
    line=$(printf '%-18s | %7s %7s %8.2f | %7s %7s %8s %6.2f |' "$(basename "$stem")" "${ms[$file.dll]}" \
        "${cpu[$file.dll]}" "$(awk -v a="${cpu[$file.dll]}" -v b="${cpu[$file.ours]}" 'BEGIN { print a / b }')" \
        "${ms[$file.ours]}" "${cpu[$file.ours]}" "${bytes[$file.ours]}" "$(psnr "$file" "$stem.ours.gif")")
    for tool in im ffmpeg liq; do
        gif=$stem.$tool.gif
        line+=$(printf ' %7s %8s %6.2f |' "${ms[$file.$tool]}" "${bytes[$file.$tool]}" "$(psnr "$file" "$gif")")
    done
    echo "${line% |}"
done

# Rate against distortion: the library's encoder with smaller palettes on the text and styled pictures,
# beside each anchor's one point. Under GIF every encoder trades bytes for PSNR along nearly the same
# curve; this shows where on it each one chose to stand.
sweep=(192 128 96 64 48 32)
echo
echo "ours with fewer colours (bytes / PSNR), and the anchors' points:"
for file in "${pictures[@]}"; do
    case $(basename "$file") in plain-*|styled-*) ;; *) continue ;; esac
    stem=${file%.ppm}
    line=$(printf '%-18s | ours256 %s / %.2f |' "$(basename "$stem")" "${bytes[$file.ours]}" "$(psnr "$file" "$stem.ours.gif")")
    for colors in "${sweep[@]}"; do
        size=$("$work/AnchorBench" --runs 1 --colors "$colors" "$file" | awk '{print $8}')
        line+=$(printf ' %s: %s / %.2f |' "$colors" "$size" "$(psnr "$file" "$stem.ours$colors.gif")")
    done
    for tool in im ffmpeg liq; do
        line+=$(printf ' %s %s / %.2f (%s colours) |' "$tool" "${bytes[$file.$tool]}" "$(psnr "$file" "$stem.$tool.gif")" \
            "$(identify -format '%k' "$stem.$tool.gif")")
    done
    echo "${line% |}"
done
echo
same=0
for file in "${pictures[@]}"; do cmp -s "${file%.ppm}.ours.gif" "${file%.ppm}.dll.gif" && same=$((same + 1)); done
echo "dll: the encoder as the DLL runs it; its GIFs are byte for byte those of ours for $same of ${#pictures[@]} pictures."
if [ -n "${GIF_BENCH_REFERENCE:-}" ]; then
    reference=$work/reference
    mkdir -p "$reference/page"
    for file in GifEncoderUnit.h GifEncoderUnit.cpp; do
        git -C "$root" show "$GIF_BENCH_REFERENCE:src/page/$file" >"$reference/page/$file"
    done
    g++ -O2 -std=c++20 -I"$reference" -I"$root/src" "$root/bench/AnchorBench.cpp" "$reference/page/GifEncoderUnit.cpp" \
        -o "$reference/AnchorBench" $(pkg-config --cflags --libs MagickWand libavfilter libavformat libavcodec \
        libavutil imagequant) -lgif
    same=0
    for file in "${pictures[@]}"; do
        stem=${file%.ppm}
        "$reference/AnchorBench" --runs 1 --colors 256 "$file" >/dev/null
        mv "$stem.ours256.gif" "$stem.reference.gif"
        cmp -s "$stem.ours.gif" "$stem.reference.gif" && same=$((same + 1))
    done
    echo "reference $GIF_BENCH_REFERENCE: the GIFs of ours are byte for byte those of its encoder for $same of ${#pictures[@]} pictures."
fi
echo "machine: $(nproc) cores; $("$(zorbex_wine "$(zorbex_arch_of "$exe")")" --version 2>/dev/null); $(convert -version | head -1 | cut -d' ' -f2-3);" \
    "ffmpeg $(ffmpeg -version | head -1 | cut -d' ' -f3); libimagequant $(pkg-config --modversion imagequant)"
