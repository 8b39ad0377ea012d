#!/usr/bin/env bash
# Runs a Windows program under Wine in a dedicated, headless prefix.
#
#   winerun.sh PREFIX PROGRAM [ARGS...]
#
# The prefix is created once (graphics driver "null", no crash debugger) and shared by every later run.
# It is of one architecture: a 32-bit prefix run by 32-bit Wine for x86, a 64-bit prefix run by
# /usr/lib/wine/wine64 for x64. Where the host's kernel refuses 32-bit programs, an x86 prefix is a 64-bit
# one whose 32-bit processes run under qemu-user (tools/qemu32/; its set-up must have run), and once that
# is set up, x64 prefixes start their 32-bit processes under it too. The
# architecture is ZORBEX_ARCH when set, else the one the prefix was made for, else that of PROGRAM (its PE
# header), else x86. Wine's own diagnostics are switched off
# unless WINEDEBUG says otherwise. With ZORBEX_WINE_GRAPHICS=x11 the prefix uses Wine's X11 driver on
# $DISPLAY instead (pictures of windows under Xvfb); give it a prefix of its own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/arch.sh"

prefix=$1; shift
graphics=${ZORBEX_WINE_GRAPHICS:-null}
arch=${ZORBEX_ARCH:-}
if [ -z "$arch" ] && [ -f "$prefix/.zorbex-ready" ]; then
    arch=$(cut -d- -f1 "$prefix/.zorbex-ready")
fi
if [ -z "$arch" ] && [ -f "$1" ]; then
    arch=$(zorbex_arch_of "$1")
fi
arch=${arch:-x86}
kind=$arch
case $arch in
    x86) winearch=win32 ;;
    x64) winearch=win64 ;;
    *) echo "winerun.sh: unknown architecture '$arch'" >&2; exit 2 ;;
esac
wine=$(zorbex_wine "$arch")
wineserver=$(zorbex_wineserver "$arch")
# The prefix's own processes (wineboot, reg): the loader of the prefix's architecture.
boot=$wine
qemu32=
if [ "$(zorbex_x86_mode)" = qemu ]; then
    if [ "$arch" = x86 ] && ! zorbex_qemu32_ready; then
        echo "winerun.sh: 32-bit Wine under qemu-user is not set up here: bash tools/qemu32/qemu32.sh setup" >&2
        exit 2
    fi
    # A 64-bit prefix starts its 32-bit processes under the emulator too, once it is set up (as on a host
    # that runs them natively, where a 64-bit prefix runs both).
    zorbex_qemu32_ready && qemu32=yes
fi
if [ -n "$qemu32" ]; then
    kind=$arch-qemu winearch=win64
    boot=$(zorbex_qemu32_wine64)
    [ "$arch" = x64 ] && wine=$boot
    # Lets the 64-bit wineboot find the 32-bit builtin DLLs for C:\windows\syswow64.
    export WINEDLLPATH=/usr/lib/i386-linux-gnu/wine
    # Wine finds the loader of a new process beside its own; a loader named here would bypass the emulator.
    unset WINELOADER
else
    export WINELOADER=$wine
fi
export WINEPREFIX=$prefix WINEARCH=$winearch WINESERVER=$wineserver
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
[ "$graphics" = x11 ] || unset DISPLAY

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.zorbex-ready" ] || [ "$(cat "$prefix/.zorbex-ready")" != "$kind" ]; then
    rm -rf "$prefix"
    "$boot" wineboot -i >/dev/null 2>&1 || true
    "$boot" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$graphics" /f >/dev/null 2>&1
    # No crash debugger: a crash ends the process (in both registry views of a 64-bit prefix).
    views=("")
    [ "$winearch" = win64 ] && views=(/reg:64 /reg:32)
    for view in "${views[@]}"; do
        "$boot" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f $view >/dev/null 2>&1
        "$boot" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 0 /f $view >/dev/null 2>&1
    done
    "$boot" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    # The running object table works only once the boot's server session has ended.
    "$wineserver" -w
    echo "$kind" > "$prefix/.zorbex-ready"
fi
flock -u 9
exec 9>&-

exec "$wine" "$@"
