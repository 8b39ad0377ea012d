#!/usr/bin/env bash
# Pictures of the toolbars as a person sees them: runs ZorbexShots.exe in a Wine prefix with the X11
# driver on a private Xvfb screen and takes a screenshot (ImageMagick's import) each time the program
# asks for one. The PNG files go to docs/screenshots/: the tour at 100 %, then both toolbars at 100, 150
# and 200 % screen scale (the prefix's LogPixels 96, 144 and 192, read by Wine at process start), then the
# keyboard's focus and high contrast at 100 and 200 %.
#   shots.sh [BUILD_DIR]    (default build-x64: the pictures come from either architecture's build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/arch.sh"
build=$(realpath "${1:-$here/../build-x64}")
out=$here/../docs/screenshots
work=$build/shots
prefix=$build/shots-prefix
mkdir -p "$out" "$work"
rm -f "$work"/*.ready "$work"/*.done

display=
for n in $(seq 71 99); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=:$n; break; fi
done
[ -n "$display" ] || { echo "no free X display"; exit 1; }
/usr/bin/Xvfb "$display" -screen 0 1800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
compositor=
trap 'kill $compositor $xvfb 2>/dev/null || true; wait $compositor $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
# A compositing manager, so that alpha-blended windows (the link hints) look blended.
if [ -x /usr/bin/xcompmgr ]; then
    DISPLAY=$display /usr/bin/xcompmgr -n >/dev/null 2>&1 &
    compositor=$!
    sleep 0.5
fi

export DISPLAY=$display ZORBEX_WINE_GRAPHICS=x11 ZORBEX_ARCH=$(zorbex_arch_of "$build/ZorbexGUI.dll")
export ZORBEX_KEPTOR_EXE=$build/tools/keptor/KeptorServer.exe ZORBEX_KEPTOR_TLB=$build/generated/KeptorServer.tlb
"$here/register.sh" "$prefix" "$build/ZorbexGUI.dll"

winwork="Z:${work//\//\\}"
# shoot [ARGS...]: runs ZorbexShots.exe and takes each picture it asks for, cropped to the geometry the
# program writes into its request.
shoot() {
    "$here/winerun.sh" "$prefix" "$build/tools/ZorbexShots.exe" "$winwork" "$@" &
    local program=$!
    while kill -0 $program 2>/dev/null; do
        for ready in "$work"/*.ready; do
            [ -e "$ready" ] || continue
            name=$(basename "$ready" .ready)
            crop=$(head -n1 "$ready" | tr -d '\r')
            /usr/bin/import -window root -crop "${crop:-860x240+0+0}" +repage "$out/$name.png"
            rm -f "$ready"
            touch "$work/$name.done"
            echo "  saved docs/screenshots/$name.png"
        done
        sleep 0.2
    done
    wait $program
}
logpixels() {
    "$here/winerun.sh" "$prefix" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
}

logpixels 96
shoot
for scale in 100:96 150:144 200:192; do
    logpixels "${scale#*:}"
    shoot --scale "${scale%%:*}"
done
# The keyboard, then high contrast, at 100 and 200 %. Windows turns the visual styles off under a
# high-contrast theme: so does Wine's theme switch for that run.
theme() {
    "$here/winerun.sh" "$prefix" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' \
        /v ThemeActive /t REG_SZ /d "$1" /f >/dev/null
}
for scale in 100:96 200:192; do
    logpixels "${scale#*:}"
    shoot --access "${scale%%:*}"
    theme 0
    shoot --contrast "${scale%%:*}"
    theme 1
done
logpixels 96
"$here/register.sh" "$prefix" "$build/ZorbexGUI.dll" -u
