#!/usr/bin/env bash
# Contact sheet of the toolbar images as built into the library's resources: every image of the strips,
# on a light and on a dark background, with its index: the 16-pixel design enlarged four times (nearest
# neighbour), then each of the four sizes (16, 20, 24 and 32 pixels) at its real size.
#
#   tools/icons_sheet.sh [generated dir] [output png]
#
# Defaults: build/generated (the strips made by cmake/Icons.cmake) and build/icons-sheet.png. The
# sheet kept in the repository is docs/icons.png:
#   cmake --build --preset default --target zorbex_icons && tools/icons_sheet.sh build/generated docs/icons.png
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
gen=${1:-$root/build/generated}
out=${2:-$root/build/icons-sheet.png}
convert=/usr/bin/convert
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

light='#f0f0f0'
dark='#2b2b2b'
zoom=4
cell=$((16 * zoom + 8))
caption=150

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# text <file> <width> <height> <background> <text> [gravity]
text() {
    local fg=black
    [ "$4" = "$dark" ] && fg=white
    "$convert" -size "$2x$3" "xc:$4" -font "$font" -fill "$fg" -pointsize 13 -gravity "${6:-center}" \
        -annotate +6+0 "$5" "$1"
}

# row <file> <strip> <background> <label> <side> <scale>: the images of a strip of side x side images
# side by side in cells.
row() {
    local size=$(($5 * $6))
    local pad=$(((cell - size) / 2))
    "$convert" "$2" -crop "$5x$5" +repage -scale "${size}x${size}" -background "$3" -alpha remove \
        -bordercolor "$3" -border "${pad}x4" +append "$work/images.png"
    text "$work/label.png" "$caption" $((size + 8)) "$3" "$4" west
    "$convert" "$work/label.png" "$work/images.png" +append "$1"
}

sheet_rows=()
n=0
add() { sheet_rows+=("$1"); }

sizes="16 20 24 32"
for set in Main QuickLink; do
    for size in $sizes; do
        for f in "$gen/${set}Images$size.bmp" "$gen/${set}HotImages$size.bmp"; do
            [ -f "$f" ] || { echo "missing $f (build the target zorbex_icons first)" >&2; exit 1; }
        done
    done
    count=$(($("$convert" "$gen/${set}Images16.bmp" -format '%w' info:) / 16))
    title="main toolbar"
    [ "$set" = QuickLink ] && title="quick-link toolbar"

    n=$((n + 1)); text "$work/r$n.png" $((caption + count * cell)) 28 white "$title ($count images)" west; add "$work/r$n.png"
    for bg in "$light" "$dark"; do
        n=$((n + 1)); numbers=()
        for ((i = 0; i < count; i++)); do
            text "$work/n$i.png" "$cell" 18 "$bg" "$i"
            numbers+=("$work/n$i.png")
        done
        text "$work/nl.png" "$caption" 18 "$bg" "index" west
        "$convert" "$work/nl.png" "${numbers[@]}" +append "$work/r$n.png"; add "$work/r$n.png"
        n=$((n + 1)); row "$work/r$n.png" "$gen/${set}Images16.bmp" "$bg" "normal 16, ${zoom}x" 16 "$zoom"; add "$work/r$n.png"
        n=$((n + 1)); row "$work/r$n.png" "$gen/${set}HotImages16.bmp" "$bg" "hot 16, ${zoom}x" 16 "$zoom"; add "$work/r$n.png"
        for size in $sizes; do
            n=$((n + 1)); row "$work/r$n.png" "$gen/${set}Images$size.bmp" "$bg" "normal $size" "$size" 1; add "$work/r$n.png"
            n=$((n + 1)); row "$work/r$n.png" "$gen/${set}HotImages$size.bmp" "$bg" "hot $size" "$size" 1; add "$work/r$n.png"
        done
    done
done

"$convert" "${sheet_rows[@]}" -background white -gravity west -append +repage -depth 8 -define png:exclude-chunks=date,time "$out"
echo "$out"
