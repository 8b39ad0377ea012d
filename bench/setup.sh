#!/usr/bin/env bash
# Set-up of the benchmarks only (not needed by the build or the tests, which tools/setup.sh prepares):
# headless Chromium to render the fixture pages, the anchors the GIF encoder is measured against
# (ImageMagick, ffmpeg, libimagequant with giflib, pngquant) with the development files to call them
# in-process, a native compiler, and Debian's MATE backgrounds for the page with photographs.
# Idempotent: installs only what is missing.
set -euo pipefail

packages=(chromium imagemagick libmagickwand-dev ffmpeg libavfilter-dev libavformat-dev libavcodec-dev
    libavutil-dev libswscale-dev libimagequant-dev libgif-dev pngquant g++ pkg-config mate-backgrounds
    fonts-dejavu-core)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
