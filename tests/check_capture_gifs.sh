#!/usr/bin/env bash
# Checks the screenshot GIFs that ImageCaptureTests writes (with ZORBEX_CAPTURE_OUT set) with
# ImageMagick: each must decode to the size in its name, keep to the colours its pixel format allows
# (format 1: black and white; 2: the 16 VGA colours; every format: at most 256), and, where its name
# asks for it, look like the picture beside it (.ppm, drawn directly at that size) by PSNR.
#
# Usage: check_capture_gifs.sh [DIR]   (DIR defaults to $ZORBEX_CAPTURE_OUT)
# Sample names: <name>_<width>x<height>_f<format code>_psnr<minimum dB, 0: not compared>.gif
set -euo pipefail

dir=${1:-${ZORBEX_CAPTURE_OUT:-}}
if [ -z "$dir" ] || [ ! -d "$dir" ]; then
    echo "usage: $0 DIR (the ZORBEX_CAPTURE_OUT directory the test run wrote)" >&2
    exit 2
fi
identify=/usr/bin/identify
convert=/usr/bin/convert
compare=/usr/bin/compare
for tool in "$identify" "$convert" "$compare"; do
    if [ ! -x "$tool" ]; then
        echo "missing $tool (Debian package imagemagick)" >&2
        exit 2
    fi
done

bw="000000 FFFFFF"
vga="000000 800000 008000 808000 000080 800080 008080 C0C0C0 808080 FF0000 00FF00 FFFF00 0000FF FF00FF 00FFFF FFFFFF"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The distinct colours of a picture as RRGGBB, one a line.
unique_colours() {
    "$convert" "$1" -depth 8 -unique-colors txt:- | sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | tr a-f A-F
}

checked=0
failed=0
shopt -s nullglob
for gif in "$dir"/*.gif; do
    stem=${gif%.gif}
    base=$(basename "$stem")
    if [[ ! $base =~ _([0-9]+)x([0-9]+)_f([0-9]+)_psnr([0-9]+)$ ]]; then
        echo "FAIL $base: name does not carry <width>x<height>_f<format>_psnr<dB>"
        failed=$((failed + 1))
        continue
    fi
    width=${BASH_REMATCH[1]} height=${BASH_REMATCH[2]} format=$((BASH_REMATCH[3] & 255)) psnr=${BASH_REMATCH[4]}
    problems=()

    size=$("$identify" -format "%w %h %k" "$gif" 2>"$work/identify.err") || problems+=("identify failed")
    [ -s "$work/identify.err" ] && problems+=("identify warned: $(head -c 200 "$work/identify.err")")
    read -r w h colours <<<"${size:-0 0 0}"
    [ "$w $h" = "$width $height" ] || problems+=("identify says ${w}x$h, expected ${width}x$height")

    case $format in
        1) allowed=$bw limit=2 ;;
        2) allowed=$vga limit=16 ;;
        *) allowed="" limit=256 ;;
    esac
    [ "${colours:-0}" -le "$limit" ] || problems+=("$colours colours, format $format allows $limit")
    if [ -n "$allowed" ]; then
        strays=()
        for colour in $(unique_colours "$gif"); do
            [[ " $allowed " == *" $colour "* ]] || strays+=("#$colour")
        done
        [ ${#strays[@]} -eq 0 ] ||
            problems+=("${#strays[@]} colours outside the format's palette: ${strays[*]:0:4}")
    fi

    if [ "$psnr" -gt 0 ]; then
        # compare prints the metric on stderr and exits 1 when the pictures differ at all.
        measured=$("$compare" -metric PSNR "$gif" "$stem.ppm" null: 2>&1 || true)
        if [ "$measured" != inf ] &&
            ! awk -v m="$measured" -v min="$psnr" 'BEGIN { exit !(m + 0 == m && m >= min) }'; then
            problems+=("PSNR against the drawn picture is '$measured', expected at least $psnr dB")
        fi
    fi

    checked=$((checked + 1))
    if [ ${#problems[@]} -eq 0 ]; then
        echo "ok   $base ($w x $h, $colours colours${psnr:+, PSNR ${measured:-not compared}})"
    else
        failed=$((failed + 1))
        for p in "${problems[@]}"; do
            echo "FAIL $base: $p"
        done
    fi
    measured=""
done

if [ "$checked" -eq 0 ]; then
    echo "no sample GIFs in $dir: run ImageCaptureTests with ZORBEX_CAPTURE_OUT=$dir first" >&2
    exit 1
fi
echo "$checked GIFs checked, $failed failed"
[ "$failed" -eq 0 ]
