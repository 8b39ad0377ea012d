#!/usr/bin/env bash
# Checks the MSI installer under Wine, silently, in a fresh prefix of the package's architecture:
#   - installing puts the DLL under Program Files (the x64 package: the 32-bit DLL under Program Files (x86)
#     and the 64-bit one under Program Files) and writes exactly the registry state that regsvr32 of the same
#     DLL writes (HKLM\Software and HKCR compared, the DLL's path aside, Windows Installer's own records of
#     the product aside); for the x64 package, each DLL wherever this host runs its regsvr32, comparing
#     that DLL's registry view;
#   - uninstalling gives back the state before, file and registry (Windows Installer may leave the empty
#     folders of its records, nothing of the product);
#   - installing over an older version replaces it: one product registered, the same state; the older
#     version does not install over the newer one.
#
#   check_msi.sh RELEASE_BUILD_DIR WORK_DIR
#
# RELEASE_BUILD_DIR holds the package, ZorbexGUI.dll and msi/ (cmake --preset release: ZorbexGUI.msi; cmake
# --preset x64-release: ZorbexGUI-x64.msi). WORK_DIR is emptied; the prefix is WORK_DIR/prefix. Exits 77
# (skipped) when the release build has no MSI.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tools=$(dirname "$here")
. "$tools/arch.sh"

release=$(realpath "$1")
wxs=$release/msi/ZorbexGUI.wxs
stage=$release/msi/stage
if [ -f "$release/ZorbexGUI-x64.msi" ]; then
    arch=x64 msi=$release/ZorbexGUI-x64.msi
else
    arch=x86 msi=$release/ZorbexGUI.msi
fi
if [ ! -f "$msi" ]; then
    echo "SKIPPED: $msi is not built (cmake --preset release && cmake --build --preset release)"
    exit 77
fi
export ZORBEX_ARCH=$arch
rm -rf "$2"
mkdir -p "$2"
work=$(realpath "$2")
prefix=$work/prefix

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
run() { "$tools/winerun.sh" "$prefix" "$@"; }
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

folder=$(sed -n 's/.*<Directory Id="ProductFolder" Name="\([^"]*\)".*/\1/p' "$wxs")
product_code=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')
[ -n "$folder" ] && [ -n "$product_code" ] || { echo "FAILED: cannot read the package"; exit 1; }
# The packaged DLLs: DLL ARCH of each, where it goes (Windows path) and as which Unix file.
# In a 32-bit prefix "Program Files" is the 32-bit folder; in a 64-bit one "Program Files (x86)" is. The
# prefix of the x86 package is a 64-bit one where 32-bit Wine runs under qemu-user (tools/qemu32/): the
# 32-bit package then installs as on 64-bit Windows.
declare -A dll target unix_target
arches=x86
[ "$arch" = x64 ] && arches="x86 x64"
x86_mode=$(zorbex_x86_mode)
for a in $arches; do
    dll[$a]=$stage/$a/ZorbexGUI.dll
    programs="Program Files"
    if [ "$a" = x86 ] && { [ "$arch" = x64 ] || [ "$x86_mode" = qemu ]; }; then programs="Program Files (x86)"; fi
    target[$a]="C:\\$programs\\$folder\\ZorbexGUI.dll"
    unix_target[$a]="$prefix/drive_c/$programs/$folder/ZorbexGUI.dll"
done
installed_files() { # WHAT: each packaged DLL is in place, byte for byte
    for a in $arches; do
        if cmp -s "${dll[$a]}" "${unix_target[$a]}"; then pass "$1 ${target[$a]}"; else fail "$1: ${target[$a]} is not the built DLL"; fi
    done
}

# An older version of the same package: the same source, another version and product code.
old_code=$(cat /proc/sys/kernel/random/uuid | tr a-z A-Z)
(cd "$stage" && wixl -a "$arch" -D Version=0.0.1 -D ProductCode="$old_code" -o "$work/older.msi" "$wxs")

# Registry snapshots, flattened (tools/msi/regflat.pl); both forms of each library's path read "<DLL>".
short_targets=()
snapshot() {
    local name=$1
    run regedit /E "$(winpath "$work/$name-hklm.reg")" 'HKEY_LOCAL_MACHINE\Software'
    run regedit /E "$(winpath "$work/$name-hkcr.reg")" 'HKEY_CLASSES_ROOT'
    local paths=("${target[@]}" "${short_targets[@]}")
    { perl "$here/regflat.pl" "$work/$name-hklm.reg" "${paths[@]}"
      perl "$here/regflat.pl" "$work/$name-hkcr.reg" "${paths[@]}"
    } | LC_ALL=C sort > "$work/$name.txt"
}
# Windows Installer's records of installed products, not part of the product's registry state.
T=$'\t'
codes="${product_code//[\{\}]/}|$old_code"
records='(HKEY_LOCAL_MACHINE\\Software\\Classes|HKEY_CLASSES_ROOT)\\Installer'
records+='|HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer'
records+='|HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\\{('"$codes"')\}'
records="($records)(\\\\|\$|$T)"
product_state() { grep -v -E "^[KV]$T$records" "$work/$1.txt" || true; }
# After an uninstallation: the state before, but for empty keys of the installer's records, and for empty
# keys at all: removing its rows, Windows Installer also removes parent keys that are left empty, such as
# Wow6432Node\CLSID of a 64-bit prefix that no 32-bit server has been registered in yet. An empty key holds
# nothing to lose.
without_empty_records() {
    grep -v -E "^K$T$records" "$work/$1.txt" | perl -F'\t' -lane '
        if ($F[0] eq "K") { push @keys, $F[1]; next }
        push @values, $_;
        for (my $k = $F[1]; ; $k =~ s/\\[^\\]*$//) { $full{$k} = 1; last unless $k =~ /\\/ }
        END { print for sort((map { "K\t$_" } grep { $full{$_} } @keys), @values) }' || true
}
same() { # NAME STATE_A STATE_B
    if diff -u <(echo "$2") <(echo "$3") > "$work/$1.diff"; then pass "$1"; else fail "$1:"; head -40 "$work/$1.diff"; fi
}

rm -rf "$prefix" "$prefix.lock"
snapshot before

# Install, silently. A prefix made a moment ago may still be finishing its own set-up on a busy machine
# (the installer service refuses a second install meanwhile, before any log is written): once its
# processes have ended, one more try.
install() { run msiexec /i "$(winpath "$msi")" /qn /l*v "$(winpath "$work/install.log")"; }
if install; then
    pass "msiexec /i"
elif [ ! -s "$work/install.log" ] && { WINEPREFIX=$prefix "$(zorbex_wineserver "$arch")" -w; install; }; then
    pass "msiexec /i (the second try, once the new prefix was idle)"
else
    fail "msiexec /i"
fi
installed_files installed
for a in $arches; do
    short=$(run winepath -s "${target[$a]}" 2>/dev/null | tr -d '\r' || true)
    [ -n "$short" ] && short_targets+=("$short")
done
snapshot installed
installed=$(product_state installed)

if run msiexec /x "$(winpath "$msi")" /qn /l*v "$(winpath "$work/uninstall.log")"; then pass "msiexec /x"; else fail "msiexec /x"; fi
for a in $arches; do
    [ ! -e "$(dirname "${unix_target[$a]}")" ] && pass "folder removed" || fail "$(dirname "${target[$a]}") remains"
done
snapshot uninstalled
same "uninstalled-equals-before" "$(without_empty_records before)" "$(without_empty_records uninstalled)"

# Upgrade: the older version, then this one over it.
if run msiexec /i "$(winpath "$work/older.msi")" /qn; then pass "older version installed"; else fail "msiexec /i older"; fi
if run msiexec /i "$(winpath "$msi")" /qn /l*v "$(winpath "$work/upgrade.log")"; then pass "msiexec /i over it"; else fail "msiexec /i over the older"; fi
snapshot upgraded
products=$(grep -c -E '^K'"$T"'HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\\{[0-9A-F-]+\}$' \
    "$work/upgraded.txt" || true)
upgrade_codes=$(grep -c -E '^V'"$T"'HKEY_LOCAL_MACHINE\\Software\\Classes\\Installer\\UpgradeCodes\\[0-9A-F]{32}'"$T" \
    "$work/upgraded.txt" || true)
if [ "$products" = 1 ] && [ "$upgrade_codes" = 1 ] && grep -q -F "\\Uninstall\\$product_code" "$work/upgraded.txt"; then
    pass "one product registered after the upgrade"
else
    fail "after the upgrade: $products uninstall entries, $upgrade_codes products of the upgrade code"
fi
installed_files upgraded
same "upgraded-equals-installed" "$installed" "$(product_state upgraded)"
# The older version refuses to replace the newer one.
if run msiexec /i "$(winpath "$work/older.msi")" /qn; then fail "the older version installed over the newer"; else pass "no downgrade"; fi
snapshot downgrade-refused
same "downgrade-leaves-upgraded" "$(cat "$work/upgraded.txt")" "$(cat "$work/downgrade-refused.txt")"
run msiexec /x "$(winpath "$msi")" /qn || fail "msiexec /x after the upgrade"
snapshot removed
same "removed-equals-before" "$(without_empty_records before)" "$(without_empty_records removed)"

# What regsvr32 writes for the same DLL at the same place: each DLL whose regsvr32 this host runs, compared
# in its own registry view (the 32-bit view is the Wow6432Node keys of a 64-bit prefix).
wow='(HKEY_LOCAL_MACHINE\\Software|HKEY_LOCAL_MACHINE\\Software\\Classes|HKEY_CLASSES_ROOT)\\Wow6432Node'
# The type library keys are shared by both views, as on Windows: there the 32-bit DLL's own key is win32.
view() { # STATE ARCH: the lines of STATE in ARCH's view
    local x86="^[KV]$T($wow(\\\\|\$|$T)|[^$T]*\\\\Typelib\\\\[^$T]*\\\\win32(\$|$T))"
    if [ "$arch" = x86 ]; then echo "$1"
    elif [ "$2" = x64 ]; then grep -v -i -E "$x86" <<<"$1" || true
    else grep -i -E "$x86" <<<"$1" || true
    fi
}
# Keys that both views share. On Windows 7 and later, HKLM\Software\Classes is one for both views but for
# its CLSID, Interface and media subkeys: a 32-bit process's ProgIDs and type libraries go to the shared keys.
# Wine agrees for regsvr32, but its Windows Installer writes a 32-bit component's ProgIDs and type library
# into the Wow6432Node spelling as well. Each shared key is compared once, in its 64-bit spelling.
shared_once() { # STATE
    perl -F'\t' -lane '
        my $redirected = qr/(?:CLSID|Interface|DirectShow|Media Type|MediaFoundation)(?:\\|$)/i;
        $F[1] =~ s/^(HKEY_CLASSES_ROOT|HKEY_LOCAL_MACHINE\\Software\\Classes)\\Wow6432Node\\(?!$redirected)/$1\\/i;
        $F[1] =~ s/^HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes\\(?!$redirected)/HKEY_LOCAL_MACHINE\\Software\\Classes\\/i;
        $F[1] =~ s/\\TypeLib\\/\\Typelib\\/gi;
        print join("\t", @F)' <<<"$1" | LC_ALL=C sort -u
}
for a in $arches; do
    regsvr32=regsvr32
    if [ "$arch" = x64 ] && [ "$a" = x86 ]; then
        if [ "$x86_mode" = qemu ] && ! zorbex_qemu32_ready; then
            echo "skipped: msi-equals-regsvr32 for the 32-bit DLL: 32-bit Wine under qemu-user is not set up"
            continue
        fi
        regsvr32='C:\windows\syswow64\regsvr32.exe'
    fi
    mkdir -p "$(dirname "${unix_target[$a]}")"
    cp "${dll[$a]}" "${unix_target[$a]}"
    if run "$regsvr32" /s "${target[$a]}"; then pass "regsvr32 ($a)"; else fail "regsvr32 ($a)"; fi
    snapshot "registered-$a"
    grep -q "ZorbexGUI" "$work/registered-$a.txt" || fail "regsvr32 ($a) wrote nothing"
    if [ "$arch" = x64 ]; then
        same "msi-equals-regsvr32-$a" "$(view "$(shared_once "$(product_state "registered-$a")")" "$a")" \
            "$(view "$(shared_once "$installed")" "$a")"
    else
        same "msi-equals-regsvr32-$a" "$(view "$(product_state "registered-$a")" "$a")" "$(view "$installed" "$a")"
    fi
    run "$regsvr32" /s /u "${target[$a]}" || fail "regsvr32 /u ($a)"
done

WINEPREFIX=$prefix "$(zorbex_wineserver "$arch")" -k 2>/dev/null || true
if [ "$failures" -ne 0 ]; then
    echo "$failures checks failed; snapshots, diffs and logs in $work"
    exit 1
fi
echo "MSI checks of the $arch package passed (work files in $work)"
