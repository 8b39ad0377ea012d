#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine (run as root).
# Does nothing when every package is already present.
set -euo pipefail

packages=(
  cmake make ninja-build git file
  g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  mingw-w64-tools
  wine wine32:i386 wine64 libwine-dev:i386
  imagemagick librsvg2-bin fonts-dejavu-core giflib-tools ffmpeg xvfb xauth xcompmgr
  googletest
  wixl msitools
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi
for p in "${packages[@]}"; do
  name=${p%%:*}; arch=${p#*:}; [ "$arch" = "$p" ] && arch=""
  if [ -n "$arch" ]; then q="$name:$arch"; else q="$name"; fi
  if ! dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
