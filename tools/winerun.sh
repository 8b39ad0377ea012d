#!/usr/bin/env bash
# Runs a Windows program under Wine in a dedicated, headless prefix.
#
#   winerun.sh PREFIX PROGRAM [ARGS...]
#
# The prefix is created once (graphics driver "null", no crash debugger) and shared by every later run.
# It is of one architecture: a 32-bit prefix run by 32-bit Wine for x86, a 64-bit prefix run by
# /usr/lib/wine/wine64 for x64. The architecture is ZORBEX_ARCH when set, else the one the prefix was
# made for, else that of PROGRAM (its PE header), else x86. Wine's own diagnostics are switched off
# unless WINEDEBUG says otherwise. With ZORBEX_WINE_GRAPHICS=x11 the prefix uses Wine's X11 driver on
# $DISPLAY instead (pictures of windows under Xvfb); give it a prefix of its own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/arch.sh"

prefix=$1; shift
graphics=${ZORBEX_WINE_GRAPHICS:-null}
arch=${ZORBEX_ARCH:-}
if [ -z "$arch" ] && [ -f "$prefix/.zorbex-ready" ]; then
    arch=$(cat "$prefix/.zorbex-ready")
fi
if [ -z "$arch" ] && [ -f "$1" ]; then
    arch=$(zorbex_arch_of "$1")
fi
arch=${arch:-x86}
case $arch in
    x86) winearch=win32 ;;
    x64) winearch=win64 ;;
    *) echo "winerun.sh: unknown architecture '$arch'" >&2; exit 2 ;;
esac
wine=$(zorbex_wine "$arch")
wineserver=$(zorbex_wineserver "$arch")
export WINEPREFIX=$prefix WINEARCH=$winearch WINELOADER=$wine WINESERVER=$wineserver
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
[ "$graphics" = x11 ] || unset DISPLAY

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.zorbex-ready" ] || [ "$(cat "$prefix/.zorbex-ready")" != "$arch" ]; then
    rm -rf "$prefix"
    "$wine" wineboot -i >/dev/null 2>&1 || true
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$graphics" /f >/dev/null 2>&1
    "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1
    "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 0 /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    # The running object table works only once the boot's server session has ended.
    "$wineserver" -w
    echo "$arch" > "$prefix/.zorbex-ready"
fi
flock -u 9
exec 9>&-

exec "$wine" "$@"
