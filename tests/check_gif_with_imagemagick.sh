#!/usr/bin/env bash
# Checks the sample GIFs that GifEncoderTests writes (with ZORBEX_GIF_OUT set) with decoders of other
# makers: ImageMagick must report the size and colour count in the file name and decode the same RGB
# bytes as the .rgb file beside it; giflib's gif2rgb, when present, must decode the same bytes too.
#
# Usage: check_gif_with_imagemagick.sh [DIR]   (DIR defaults to $ZORBEX_GIF_OUT)
# Sample names: <name>_<width>x<height>_<colours>.gif with <same stem>.rgb holding the expected pixels.
set -euo pipefail

dir=${1:-${ZORBEX_GIF_OUT:-}}
if [ -z "$dir" ] || [ ! -d "$dir" ]; then
    echo "usage: $0 DIR (the ZORBEX_GIF_OUT directory the test run wrote)" >&2
    exit 2
fi
identify=/usr/bin/identify
convert=/usr/bin/convert
for tool in "$identify" "$convert"; do
    if [ ! -x "$tool" ]; then
        echo "missing $tool (Debian package imagemagick)" >&2
        exit 2
    fi
done
gif2rgb=$(command -v gif2rgb || true)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

checked=0
failed=0
shopt -s nullglob
for gif in "$dir"/*.gif; do
    stem=${gif%.gif}
    base=$(basename "$stem")
    if [[ ! $base =~ _([0-9]+)x([0-9]+)_([0-9]+)$ ]]; then
        echo "FAIL $base: name does not carry <width>x<height>_<colours>"
        failed=$((failed + 1))
        continue
    fi
    expected="${BASH_REMATCH[1]} ${BASH_REMATCH[2]} ${BASH_REMATCH[3]}"
    problems=()

    actual=$("$identify" -format "%w %h %k" "$gif" 2>"$work/identify.err") || problems+=("identify failed")
    if [ -s "$work/identify.err" ]; then
        problems+=("identify warned: $(head -c 200 "$work/identify.err")")
    fi
    [ "$actual" = "$expected" ] || problems+=("identify says '$actual', expected '$expected'")

    if "$convert" "$gif" -depth 8 "rgb:$work/im.rgb" 2>"$work/convert.err"; then
        cmp -s "$work/im.rgb" "$stem.rgb" || problems+=("ImageMagick pixels differ from $base.rgb")
    else
        problems+=("convert failed: $(head -c 200 "$work/convert.err")")
    fi

    if [ -n "$gif2rgb" ]; then
        if "$gif2rgb" -1 -o "$work/giflib.rgb" "$gif" 2>"$work/giflib.err"; then
            cmp -s "$work/giflib.rgb" "$stem.rgb" || problems+=("giflib pixels differ from $base.rgb")
        else
            problems+=("gif2rgb failed: $(head -c 200 "$work/giflib.err")")
        fi
    fi

    checked=$((checked + 1))
    if [ ${#problems[@]} -eq 0 ]; then
        echo "ok   $base ($expected)"
    else
        failed=$((failed + 1))
        for p in "${problems[@]}"; do
            echo "FAIL $base: $p"
        done
    fi
done

if [ "$checked" -eq 0 ]; then
    echo "no sample GIFs in $dir: run the test executable with ZORBEX_GIF_OUT=$dir first" >&2
    exit 1
fi
echo "$checked GIFs checked, $failed failed"
[ "$failed" -eq 0 ]
