# Sourced by the scripts: the two architectures and the Wine that runs each.
#
#   zorbex_arch_of FILE          x86 or x64 from a Windows program's PE header (empty if neither)
#   zorbex_wine ARCH             the Wine loader for ARCH: 32-bit wine for x86, /usr/lib/wine/wine64 for x64
#                                (Debian's wine script picks the 32-bit loader whenever it is installed,
#                                even on a host that cannot run it)
#   zorbex_wineserver ARCH       the wineserver: the 64-bit one serves prefixes of both architectures, as
#                                Debian's own wineserver script chooses; the 32-bit one where it is alone
#   zorbex_host_runs_x86         true when this host runs 32-bit programs; otherwise false, with the
#                                reason in ZORBEX_X86_REASON (one line)
#   zorbex_x86_mode              how this host runs 32-bit programs: "native", or "qemu" where its kernel
#                                refuses them and 32-bit Wine runs under qemu-user (tools/qemu32/);
#                                ZORBEX_X86_MODE, when set, answers without asking the host
#   zorbex_arches                the architectures this host runs natively: "x64 x86" or "x64"

zorbex_arch_of() {
    case "$(file -b "$1" 2>/dev/null)" in
        PE32+*x86-64*) echo x64 ;;
        PE32\ *80386*) echo x86 ;;
        *) echo "" ;;
    esac
}

. "$(dirname "${BASH_SOURCE[0]}")/qemu32/qemu32.sh"

zorbex_x86_mode() {
    if [ -n "${ZORBEX_X86_MODE:-}" ]; then echo "$ZORBEX_X86_MODE"
    elif zorbex_host_runs_x86; then echo native
    else echo qemu; fi
}

zorbex_wine() {
    if [ "$1" = x64 ]; then echo /usr/lib/wine/wine64
    elif [ "$(zorbex_x86_mode)" = qemu ]; then zorbex_qemu32_loader
    else echo /usr/lib/wine/wine; fi
}

zorbex_wineserver() {
    if [ "$1" = x64 ] || [ -x /usr/lib/wine/wineserver64 ]; then echo /usr/lib/wine/wineserver64
    else echo /usr/lib/wine/wineserver32; fi
}

zorbex_host_runs_x86() {
    ZORBEX_X86_REASON=
    if [ ! -x /usr/lib/wine/wine ]; then
        ZORBEX_X86_REASON="32-bit Wine (wine32:i386) is not installed"
        return 1
    fi
    local out
    if out=$(/usr/lib/wine/wine --version 2>&1); then
        return 0
    fi
    if [[ $out == *"Exec format error"* ]] || ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        ZORBEX_X86_REASON="this host's kernel refuses 32-bit programs (no IA-32 emulation: running /lib/ld-linux.so.2 gives \"Exec format error\"), so 32-bit Wine cannot start"
    else
        ZORBEX_X86_REASON="32-bit Wine does not start here: ${out%%$'\n'*}"
    fi
    return 1
}

zorbex_arches() {
    if zorbex_host_runs_x86; then echo "x64 x86"; else echo x64; fi
}
