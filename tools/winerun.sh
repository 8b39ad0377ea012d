#!/usr/bin/env bash
# Runs a Windows program under Wine in a dedicated, headless prefix.
#
#   winerun.sh PREFIX PROGRAM [ARGS...]
#
# The prefix is created once (32-bit, graphics driver "null", no crash debugger) and shared by
# every later run. Wine's own diagnostics are switched off. With ZORBEX_WINE_GRAPHICS=x11 the prefix
# uses Wine's X11 driver on $DISPLAY instead (pictures of windows under Xvfb); give it a prefix of its own.
set -euo pipefail

prefix=$1; shift
graphics=${ZORBEX_WINE_GRAPHICS:-null}
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
[ "$graphics" = x11 ] || unset DISPLAY

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.zorbex-ready" ]; then
    rm -rf "$prefix"
    wineboot -i >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$graphics" /f >/dev/null 2>&1
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 0 /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    # The running object table works only once the boot's server session has ended.
    wineserver -w
    touch "$prefix/.zorbex-ready"
fi
flock -u 9
exec 9>&-

exec wine "$@"
