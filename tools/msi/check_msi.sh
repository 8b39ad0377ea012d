#!/usr/bin/env bash
# Checks the MSI installer under Wine, silently, in a fresh prefix:
#   - installing writes exactly the registry state that regsvr32 of the same DLL writes (HKLM\Software and
#     HKCR compared, the DLL's path aside, Windows Installer's own records of the product aside) and puts
#     the DLL under Program Files;
#   - uninstalling gives back the state before, file and registry (Windows Installer may leave the empty
#     folders of its records, nothing of the product);
#   - installing over an older version replaces it: one product registered, the same state; the older
#     version does not install over the newer one.
#
#   check_msi.sh RELEASE_BUILD_DIR WORK_DIR
#
# RELEASE_BUILD_DIR holds ZorbexGUI.msi, ZorbexGUI.dll and msi/ (cmake --preset release). WORK_DIR is
# emptied; the prefix is WORK_DIR/prefix. Exits 77 (skipped) when the release build has no MSI.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tools=$(dirname "$here")

release=$(realpath "$1")
msi=$release/ZorbexGUI.msi
dll=$release/ZorbexGUI.dll
wxs=$release/msi/ZorbexGUI.wxs
if [ ! -f "$msi" ]; then
    echo "SKIPPED: $msi is not built (cmake --preset release && cmake --build --preset release)"
    exit 77
fi
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
target="C:\\Program Files\\$folder\\ZorbexGUI.dll"
unix_target="$prefix/drive_c/Program Files/$folder/ZorbexGUI.dll"

# An older version of the same package: the same source, another version and product code.
old_code=$(cat /proc/sys/kernel/random/uuid | tr a-z A-Z)
(cd "$release/msi/stage" && wixl -D Version=0.0.1 -D ProductCode="$old_code" -o "$work/older.msi" "$wxs")

# Registry snapshots, flattened (tools/msi/regflat.pl); both forms of the library's path read "<DLL>".
short_target=""
snapshot() {
    local name=$1
    run regedit /E "$(winpath "$work/$name-hklm.reg")" 'HKEY_LOCAL_MACHINE\Software'
    run regedit /E "$(winpath "$work/$name-hkcr.reg")" 'HKEY_CLASSES_ROOT'
    { perl "$here/regflat.pl" "$work/$name-hklm.reg" "$target" ${short_target:+"$short_target"}
      perl "$here/regflat.pl" "$work/$name-hkcr.reg" "$target" ${short_target:+"$short_target"}
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
# After an uninstallation: the state before, but for empty keys of the installer's records.
without_empty_records() { grep -v -E "^K$T$records" "$work/$1.txt" || true; }
same() { # NAME STATE_A STATE_B
    if diff -u <(echo "$2") <(echo "$3") > "$work/$1.diff"; then pass "$1"; else fail "$1:"; head -40 "$work/$1.diff"; fi
}

rm -rf "$prefix" "$prefix.lock"
snapshot before

# Install, silently.
if run msiexec /i "$(winpath "$msi")" /qn /l*v "$(winpath "$work/install.log")"; then pass "msiexec /i"; else fail "msiexec /i"; fi
if cmp -s "$dll" "$unix_target"; then pass "installed $target"; else fail "$target is not the built DLL"; fi
short_target=$(WINEPREFIX=$prefix WINEDEBUG=-all winepath -s "$target" 2>/dev/null || true)
snapshot installed
installed=$(product_state installed)

if run msiexec /x "$(winpath "$msi")" /qn /l*v "$(winpath "$work/uninstall.log")"; then pass "msiexec /x"; else fail "msiexec /x"; fi
[ ! -e "$(dirname "$unix_target")" ] && pass "folder removed" || fail "$(dirname "$target") remains"
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
if cmp -s "$dll" "$unix_target"; then pass "upgraded $target"; else fail "$target after the upgrade is not the built DLL"; fi
same "upgraded-equals-installed" "$installed" "$(product_state upgraded)"
# The older version refuses to replace the newer one.
if run msiexec /i "$(winpath "$work/older.msi")" /qn; then fail "the older version installed over the newer"; else pass "no downgrade"; fi
snapshot downgrade-refused
same "downgrade-leaves-upgraded" "$(cat "$work/upgraded.txt")" "$(cat "$work/downgrade-refused.txt")"
run msiexec /x "$(winpath "$msi")" /qn || fail "msiexec /x after the upgrade"
snapshot removed
same "removed-equals-before" "$(without_empty_records before)" "$(without_empty_records removed)"

# What regsvr32 writes for the same DLL at the same place.
mkdir -p "$(dirname "$unix_target")"
cp "$dll" "$unix_target"
if run regsvr32 /s "$target"; then pass "regsvr32"; else fail "regsvr32"; fi
snapshot registered
same "msi-equals-regsvr32" "$(product_state registered)" "$installed"
grep -q "ZorbexGUI" "$work/registered.txt" || fail "regsvr32 wrote nothing"

WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
if [ "$failures" -ne 0 ]; then
    echo "$failures checks failed; snapshots, diffs and logs in $work"
    exit 1
fi
echo "MSI checks passed (work files in $work)"
