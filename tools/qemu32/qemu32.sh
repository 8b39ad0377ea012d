# Sourced by tools/arch.sh: 32-bit Wine on a host whose kernel refuses 32-bit programs, run by qemu-user.
# As a command:
#   bash tools/qemu32/qemu32.sh setup     installs what it needs, builds the emulator, makes the loader folder
#   bash tools/qemu32/qemu32.sh repro     runs tls_repro.c under the built emulator and, when installed,
#                                         under Debian's stock qemu-i386-static (see README.md)
#
# How it works. The Wine prefix is a 64-bit one. Its 64-bit processes (wineboot, services, the 64-bit
# regsvr32) run natively, through a copy of Debian's wine64 loader in a folder of our own. Wine starts every
# 32-bit process by running "<loader folder>/wine-preloader", which in our folder is a script that runs
# Debian's 32-bit loader under qemu-i386. So every 32-bit process, a test program and the processes it
# starts (the reference Keptor server, the 32-bit regsvr32), runs emulated, whoever starts it.
#
# The emulator is Debian's own qemu 7.2 source with one change, per-thread-gdt.patch: stock qemu-user keeps
# one GDT for all threads of a 32-bit guest, which breaks any multi-threaded 32-bit Wine process as soon as
# a thread restores its context (README.md). It is built for the i386 user-mode target only (about two
# minutes on two cores) into the folder, and rebuilt when the patch changes.
#
# Debian's 32-bit preloader cannot be used as it is: its first segment (notes only) sits at 0x08048000,
# where qemu then keeps 0x08049000-0x7d400000 for itself and puts the stack in Wine's low area. Our copy has
# that segment moved to 0x00010000, and reserves 0x68000000-0x7d000000, which qemu leaves taken.
#
#   zorbex_qemu32_dir            the folder (ZORBEX_QEMU32_DIR, else build-qemu32/ of the checkout)
#   zorbex_qemu32_ready          true when the emulator and the loader folder are made and current
#   zorbex_qemu32_loader         the 32-bit loader to run (the folder's script)
#   zorbex_qemu32_wine64         the folder's native 64-bit loader (for the prefix's own processes)
#   zorbex_qemu32_setup          makes them (root, network to Debian's archive); prints progress

ZORBEX_QEMU32_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

zorbex_qemu32_dir() {
    if [ -n "${ZORBEX_QEMU32_DIR:-}" ]; then echo "$ZORBEX_QEMU32_DIR"
    else echo "$(dirname "$(dirname "$ZORBEX_QEMU32_HERE")")/build-qemu32"; fi
}
zorbex_qemu32_loader() { echo "$(zorbex_qemu32_dir)/lib/wine/wine"; }
zorbex_qemu32_wine64() { echo "$(zorbex_qemu32_dir)/lib/wine/wine64"; }

# What the emulated set-up needs beyond tools/setup.sh's packages: the 32-bit preloader, and what builds
# qemu from Debian's source.
ZORBEX_QEMU32_PACKAGES=(wine32-preloader:i386 dpkg-dev meson ninja-build pkg-config libglib2.0-dev python3)

zorbex_qemu32_stamp() { sha256sum "$ZORBEX_QEMU32_HERE/per-thread-gdt.patch" | cut -c1-16; }

zorbex_qemu32_ready() {
    local dir
    dir=$(zorbex_qemu32_dir)
    [ -x "$dir/bin/qemu-i386" ] && [ -x "$dir/lib/wine/wine" ] && [ -x "$dir/lib/wine/wine-preloader.qemu" ] &&
        [ "$(cat "$dir/bin/qemu-i386.stamp" 2>/dev/null)" = "$(zorbex_qemu32_stamp)" ]
}

zorbex_qemu32_packages() {
    local missing=() p
    for p in "${ZORBEX_QEMU32_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    # Debian's source archive, for qemu's source package.
    local sources=/etc/apt/sources.list.d/zorbex-deb-src.sources
    if [ ! -f "$sources" ]; then
        printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' \
            'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' >"$sources"
        missing+=(update)
    fi
    [ ${#missing[@]} -eq 0 ] && return 0
    apt-get update -qq
    local install=()
    for p in "${missing[@]}"; do [ "$p" = update ] || install+=("$p"); done
    [ ${#install[@]} -eq 0 ] ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${install[@]}" >/dev/null
}

# Debian's qemu source with our patch, built for the i386 user-mode target.
zorbex_qemu32_build() {
    local dir work
    dir=$(zorbex_qemu32_dir)
    work=$dir/qemu-source
    rm -rf "$work"
    mkdir -p "$work" "$dir/bin"
    (
        cd "$work"
        # apt-get source unpacks with Debian's own patches applied.
        apt-get source -qq qemu >source.log 2>&1 || { cat source.log; exit 1; }
        cd qemu-*/
        patch -p1 -s <"$ZORBEX_QEMU32_HERE/per-thread-gdt.patch"
        mkdir build && cd build
        ../configure --target-list=i386-linux-user --disable-system --disable-tools --disable-docs \
            --disable-werror --disable-debug-info --without-default-features >configure.log 2>&1 ||
            { tail -20 configure.log; exit 1; }
        ninja -j"$(nproc)" qemu-i386 >build.log 2>&1 || { tail -40 build.log; exit 1; }
        cp qemu-i386 "$dir/bin/qemu-i386.tmp"
    )
    mv "$dir/bin/qemu-i386.tmp" "$dir/bin/qemu-i386"
    zorbex_qemu32_stamp >"$dir/bin/qemu-i386.stamp"
    rm -rf "$work"
}

# The ELF32 program headers 0 (PT_LOAD) and 4 (PT_NOTE) of Debian's preloader: their virtual and physical
# addresses, at file offsets 60 and 188.
zorbex_qemu32_make_loader() {
    local dir d src=/usr/lib/wine/wine-preloader.static
    dir=$(zorbex_qemu32_dir)
    d=$dir/lib/wine
    mkdir -p "$d" "$dir/share"
    # The loaders find ntdll.so, the builtin DLLs and wine.inf relative to their own folder.
    cp /usr/lib/wine/wine64 "$d/wine64.tmp" && mv "$d/wine64.tmp" "$d/wine64"
    ln -sfn /usr/lib/wine/wineserver64 "$d/wineserver"
    ln -sfn /usr/lib/x86_64-linux-gnu "$dir/lib/x86_64-linux-gnu"
    ln -sfn /usr/lib/i386-linux-gnu "$dir/lib/i386-linux-gnu"
    ln -sfn /usr/share/wine "$dir/share/wine"
    if [ "$(od -An -tx4 -j60 -N8 "$src" | tr -s ' ')" != " 08048000 08048000" ] ||
       [ "$(od -An -tx4 -j188 -N8 "$src" | tr -s ' ')" != " 08048114 08048114" ]; then
        echo "qemu32: $src is not laid out as expected" >&2
        return 1
    fi
    cp "$src" "$d/wine-preloader.qemu.tmp"
    printf '\x00\x00\x01\x00\x00\x00\x01\x00' | dd of="$d/wine-preloader.qemu.tmp" bs=1 seek=60 conv=notrunc status=none
    printf '\x14\x01\x01\x00\x14\x01\x01\x00' | dd of="$d/wine-preloader.qemu.tmp" bs=1 seek=188 conv=notrunc status=none
    chmod +x "$d/wine-preloader.qemu.tmp"
    mv "$d/wine-preloader.qemu.tmp" "$d/wine-preloader.qemu"
    # Wine runs "<folder>/wine-preloader <folder>/wine ARGS" for a 32-bit process. -R gives the guest the
    # address space of a large-address-aware 32-bit process on 64-bit Windows (3 GB); ZORBEX_QEMU32 names
    # another emulator (the repro runs the stock one that way).
    local body='WINELOADERNOEXEC=1 WINEPRELOADRESERVE=68000000-7d000000 exec "${ZORBEX_QEMU32:-$(dirname "$0")/../../bin/qemu-i386}" -R 0xc0000000 "$(dirname "$0")/wine-preloader.qemu" /usr/lib/wine/wine "$@"'
    printf '#!/bin/sh\nshift\n%s\n' "$body" >"$d/wine-preloader.tmp"
    printf '#!/bin/sh\n%s\n' "$body" >"$d/wine.tmp"
    chmod +x "$d/wine-preloader.tmp" "$d/wine.tmp"
    mv "$d/wine-preloader.tmp" "$d/wine-preloader"
    mv "$d/wine.tmp" "$d/wine"
}

zorbex_qemu32_setup() {
    zorbex_qemu32_ready && return 0
    local dir start=$SECONDS
    dir=$(zorbex_qemu32_dir)
    mkdir -p "$dir"
    exec 8>"$dir/.setup.lock"
    flock 8
    if ! zorbex_qemu32_ready; then
        echo "== qemu32: building qemu-i386 from Debian's source with per-thread-gdt.patch into $dir"
        zorbex_qemu32_packages
        zorbex_qemu32_build
        zorbex_qemu32_make_loader
        echo "== qemu32: ready in $((SECONDS - start)) s"
    fi
    flock -u 8
    exec 8>&-
}

# Runs tls_repro.c in a prefix of its own under the built emulator and, where Debian's stock
# qemu-i386-static is installed, under that one too.
zorbex_qemu32_repro() {
    zorbex_qemu32_setup
    local dir exe prefix status=0
    dir=$(zorbex_qemu32_dir)
    exe=$dir/tls_repro.exe
    prefix=$dir/repro-prefix
    i686-w64-mingw32-gcc -O2 -Wall -o "$exe" "$ZORBEX_QEMU32_HERE/tls_repro.c"
    local -a emulators=("$dir/bin/qemu-i386")
    [ -x /usr/bin/qemu-i386-static ] && emulators+=(/usr/bin/qemu-i386-static)
    local q out rc
    for q in "${emulators[@]}"; do
        set +e
        out=$(ZORBEX_ARCH=x86 ZORBEX_QEMU32=$q "$(dirname "$ZORBEX_QEMU32_HERE")/winerun.sh" "$prefix" "$exe" 2>&1 | tr -d '\r')
        rc=$?
        set -e
        echo "$q: exit $rc: ${out##*$'\n'}"
        if [ "$q" = "$dir/bin/qemu-i386" ] && [ $rc -ne 0 ]; then status=1; fi
    done
    return $status
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    case "${1:-}" in
        setup) zorbex_qemu32_setup ;;
        repro) zorbex_qemu32_repro ;;
        *) echo "usage: $0 setup|repro" >&2; exit 2 ;;
    esac
fi
