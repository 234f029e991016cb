#!/usr/bin/env bash
# The Windows Installer packages of a release, read back table by table
# (msiinfo, msiextract), and the older packages the install test upgrades from:
#
#   tests/release/check-packages.sh <dist dir> <builds dir> <work dir> <commit> <commit time>
#
# <dist dir> holds ovq-<version>-x86.msi and -x64.msi made by ./release.sh of
# <commit>; <builds dir>/win32 and /win64 the programs they were made from.
# For each flavour it makes, in the work dir, an older package with
# installer/make-msi.sh: the version below (0.2.8.4 gives 0.2.8.3), around an
# ovq.exe whose version block says so (older-<flavour>.exe, the build's with
# its fixed file and product version lowered), and checks:
# - the summary: the platform (Intel or x64, 1033), the dates at the commit's
#   time, the package code a name-based (version 5) UUID;
# - the codes: the package codes of every package differ, and differ again for
#   another commit; the product codes differ between versions and flavours and
#   stay the same for another commit of the same version; the upgrade code is
#   the one README.md gives; the component codes are the same in both versions
#   and differ between the flavours;
# - the properties: the package version (a.b.(c*1000+d)) and its order, the
#   name, the publisher, per machine, no Modify, the icon, AUTOSTART secure;
# - the sequences: EndRunningCopy after the costing actions and before
#   InstallValidate, the removal of the older product and every action that
#   touches files; the AUTOSTART actions after AppSearch and before costing,
#   in both sequences; RemoveExistingProducts between InstallValidate and
#   InstallInitialize; FindRelatedProducts before LaunchConditions;
# - the custom actions' types and targets, the custom action's DLL, the
#   program in the cabinet and as the icon, each the build's to the byte;
# - the upgrade rows, the refusal's launch condition, the features, the
#   components' folders and 64-bit flag, the shortcuts and the registry value,
#   and the searches for that value (the x64 package in both registry views);
# - make-msi.sh refuses a version that the package version cannot carry.
# ok and fail below always return 0: `check && ok ... || fail ...` says one of them.
# shellcheck disable=SC2015
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dist=$(realpath "$1") builds=$(realpath "$2") work=$3 commit=$4 commit_time=$5
src=$(realpath "$here/../..")
export LC_ALL=C.UTF-8
unset LANGUAGE

failed=0
ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failed=1; }
stop() { echo "FAIL: $*"; exit 1; }
check() { # check WHAT ACTUAL EXPECTED
    if [[ $2 == "$3" ]]; then ok "$1 = $3"; else fail "$1: expected '$3', got '$2'"; fi
}

version=$(sed -n 's/^#define OVQ_VERSION_TEXT "\(.*\)"$/\1/p' "$builds/win32/generated/Version.h")
[[ $version =~ ^[0-9]+(\.[0-9]+){0,3}$ ]] || stop "no version in $builds/win32/generated/Version.h"
mkdir -p "$work"
work=$(realpath "$work")

# fields VERSION: its four fields, missing ones 0.
fields() {
    local a b c d
    IFS=. read -r a b c d <<<"$1"
    echo "$((10#${a:-0})) $((10#${b:-0})) $((10#${c:-0})) $((10#${d:-0}))"
}
# package_version VERSION: the version Windows Installer compares.
package_version() {
    local a b c d
    read -r a b c d < <(fields "$1")
    echo "$a.$b.$((c * 1000 + d))"
}
# previous VERSION: the version below, its last non-zero field lowered by one.
previous() {
    local f i
    read -r -a f < <(fields "$1")
    for ((i = 3; i >= 0; i--)); do
        if ((f[i] > 0)); then
            f[i]=$((f[i] - 1))
            echo "${f[0]}.${f[1]}.${f[2]}.${f[3]}"
            return
        fi
    done
    return 1
}
# older_exe FROM TO VERSION: FROM with the fixed file and product version of
# its version block set to VERSION (the 0xFEEF04BD signature, then the
# structure version, then the two versions, each as two little-endian words
# per DWORD: major<<16|minor, then build<<16|revision).
older_exe() {
    local offset a b c d bytes
    offset=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | head -n 1 | cut -d: -f1)
    [[ -n $offset ]] || return 1
    read -r a b c d < <(fields "$3")
    word() { printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8)); }
    bytes=$(word "$b")$(word "$a")$(word "$d")$(word "$c")
    cp "$1" "$2"
    # shellcheck disable=SC2059 # the bytes are the format
    printf "$bytes$bytes" | dd of="$2" bs=1 seek=$((offset + 8)) conv=notrunc status=none
}

# fixed_version EXE: the file version of its version block's fixed part.
fixed_version() {
    local offset
    offset=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | head -n 1 | cut -d: -f1)
    [[ -n $offset ]] && od -An -tu2 -j $((offset + 8)) -N8 "$1" | awk '{ print $2 "." $1 "." $4 "." $3 }'
}

# prop MSI NAME, table MSI TABLE: a property's value; a table's rows.
prop() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v name="$2" '$1 == name { print $2 }'; }
table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
suminfo() { TZ=UTC0 msiinfo suminfo "$1" | sed -n "s/^$2: //p"; }
# seq MSI TABLE ACTION: the action's sequence number.
seq_of() { table "$1" "$2" | awk -F'\t' -v action="$3" '$1 == action { print $3 }'; }

older=$(previous "$version") || stop "no version below $version to upgrade from"
upgrade_code=$(sed -n 's/.*UpgradeCode="\([0-9A-F-]\{36\}\)".*/{\1}/p' "$src/installer/ovq.wxs")
grep -qF "${upgrade_code:1:36}" "$src/docs/deploying.md" && ok "docs/deploying.md gives the upgrade code $upgrade_code" ||
    fail "docs/deploying.md does not give the upgrade code $upgrade_code"
# The licence as the zip and the packages carry it: LICENSE with CRLF line ends.
license=$work/LICENSE.txt
sed 's/\r*$/\r/' "$src/LICENSE" >"$license"
stamp=$(TZ=UTC0 date -d "@$commit_time" '+%a %b %e %H:%M:%S %Y')

declare -A package_codes product_codes components
for flavour in x86 x64; do
    preset=$([[ $flavour == x86 ]] && echo win32 || echo win64)
    msi=$dist/ovq-$version-$flavour.msi
    [[ -f $msi ]] || stop "no $msi"
    exe=$builds/$preset/ovq.exe dll=$builds/$preset/endcopy.dll
    echo "-- $flavour: $(basename "$msi"), $(stat -c %s "$msi") bytes"

    # The older package, and the same version made from another commit.
    older_exe "$exe" "$work/older-$flavour.exe" "$older" || stop "no version block in $exe"
    "$src/installer/make-msi.sh" "$flavour" "$older" "$commit" "$commit_time" "$work/older-$flavour.exe" "$dll" \
        "$license" "$work/older-$flavour.msi" || stop "make-msi.sh could not make the $older package"
    other_commit=$(printf '%s' "$commit" | tr '0-9a-f' '1-9a-f0')
    "$src/installer/make-msi.sh" "$flavour" "$version" "$other_commit" "$commit_time" "$exe" "$dll" \
        "$license" "$work/other-commit-$flavour.msi" || stop "make-msi.sh could not make the package of another commit"
    check "$flavour: the build's file version" "$(fixed_version "$exe")" "$(fields "$version" | tr ' ' .)"
    check "$flavour: the older exe's file version" "$(fixed_version "$work/older-$flavour.exe")" "$older"
    check "$flavour: the older exe differs from the build in those 16 bytes only" \
        "$(cmp -l "$exe" "$work/older-$flavour.exe" | awk -v o="$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$exe" | head -n 1 | cut -d: -f1)" \
            '$1 <= o + 8 || $1 > o + 24 { n++ } END { print n + 0 }')" 0

    # The summary.
    check "$flavour: platform and language" "$(suminfo "$msi" Template)" "$([[ $flavour == x86 ]] && echo Intel || echo x64);1033"
    check "$flavour: created and saved at the commit's time" "$(suminfo "$msi" Created) / $(suminfo "$msi" 'Last saved')" \
        "$stamp / $stamp"
    code=$(suminfo "$msi" 'Revision number (UUID)')
    [[ $code =~ ^\{[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\}$ ]] &&
        ok "$flavour: package code $code, a name-based (version 5) UUID" || fail "$flavour: package code '$code'"
    package_codes[$flavour]=$code
    package_codes[$flavour-older]=$(suminfo "$work/older-$flavour.msi" 'Revision number (UUID)')
    package_codes[$flavour-other]=$(suminfo "$work/other-commit-$flavour.msi" 'Revision number (UUID)')
    product_codes[$flavour]=$(prop "$msi" ProductCode)
    product_codes[$flavour-older]=$(prop "$work/older-$flavour.msi" ProductCode)
    product_codes[$flavour-other]=$(prop "$work/other-commit-$flavour.msi" ProductCode)
    check "$flavour: the same version of another commit has the same product code" \
        "${product_codes[$flavour-other]}" "${product_codes[$flavour]}"

    # The properties.
    name=$([[ $flavour == x86 ]] && echo ovq || echo "ovq (64-bit)")
    check "$flavour: UpgradeCode" "$(prop "$msi" UpgradeCode)" "$upgrade_code"
    check "$flavour: ProductVersion" "$(prop "$msi" ProductVersion)" "$(package_version "$version")"
    check "$flavour: the older ProductVersion" "$(prop "$work/older-$flavour.msi" ProductVersion)" "$(package_version "$older")"
    new_build=$(prop "$msi" ProductVersion) old_build=$(prop "$work/older-$flavour.msi" ProductVersion)
    [[ $(printf '%s\n' "$old_build" "$new_build" | sort -t. -k1,1n -k2,2n -k3,3n | head -n 1) == "$old_build" &&
        $old_build != "$new_build" ]] && ok "$flavour: $old_build sorts below $new_build" ||
        fail "$flavour: $old_build does not sort below $new_build"
    for pair in "ProductName=$name" Manufacturer=ovq ALLUSERS=1 ARPNOMODIFY=1 ARPPRODUCTICON=ovq.exe; do
        check "$flavour: ${pair%%=*}" "$(prop "$msi" "${pair%%=*}")" "${pair#*=}"
    done
    [[ ";$(prop "$msi" SecureCustomProperties);" == *";AUTOSTART;"* ]] && ok "$flavour: AUTOSTART is a secure property" ||
        fail "$flavour: AUTOSTART is not in SecureCustomProperties"

    # The sequences. The copies' actions in the script: the rollback action
    # before the one that ends the copies (a rollback runs it last, once the
    # files are back), that one after InstallInitialize and before every
    # action that touches a file, a shortcut or a value; the commit action in
    # the run; their data set before the script is written. The older
    # product removed after InstallExecute with nothing in between, the
    # shortcuts made after that.
    execute=InstallExecuteSequence
    restore=$(seq_of "$msi" $execute RestoreEndedCopies) end=$(seq_of "$msi" $execute EndRunningCopies)
    start=$(seq_of "$msi" $execute StartEndedCopies) initialize=$(seq_of "$msi" $execute InstallInitialize)
    ((initialize < ${restore:-0} && ${restore:-0} < ${end:-0})) &&
        ok "$flavour: InstallInitialize $initialize, RestoreEndedCopies $restore, EndRunningCopies $end" ||
        fail "$flavour: InstallInitialize $initialize, RestoreEndedCopies ${restore:-none}, EndRunningCopies ${end:-none}"
    for action in ProcessComponents RemoveRegistryValues RemoveShortcuts RemoveFiles InstallFiles WriteRegistryValues \
        InstallExecute RemoveExistingProducts CreateShortcuts InstallFinalize; do
        at=$(seq_of "$msi" $execute $action)
        [[ -n $at ]] && ((${end:-99999} < at)) && ok "$flavour: EndRunningCopies ($end) before $action ($at)" ||
            fail "$flavour: EndRunningCopies (${end:-none}) not before $action (${at:-none})"
    done
    finalize=$(seq_of "$msi" $execute InstallFinalize)
    ((${end:-0} < ${start:-0} && ${start:-99999} < finalize)) && ok "$flavour: StartEndedCopies ($start) in the run" ||
        fail "$flavour: StartEndedCopies at ${start:-none}"
    for action in EndRunningCopies StartEndedCopies RestoreEndedCopies; do
        check "$flavour: $action's condition" \
            "$(table "$msi" $execute | awk -F'\t' -v a=$action '$1 == a { print $2 }')" 'PREVIOUSFOUND OR REINSTALL OR REMOVE ~= "ALL"'
        [[ -z $(seq_of "$msi" InstallUISequence $action) ]] && ok "$flavour: $action only in $execute" ||
            fail "$flavour: $action in InstallUISequence too"
    done
    check "$flavour: the data of the copies' actions (action, condition)" \
        "$(table "$msi" $execute | awk -F'\t' '$1 ~ /^Set.*Copies$/ { print $3 "\t" $1 "\t" $2 }' | sort -n | cut -f2- | paste -sd'|')" \
        "$(printf '%s\t%s|' SetEndRunningCopies 'PREVIOUSFOUND OR REINSTALL OR REMOVE ~= "ALL"' \
            SetStartEndedCopies '(PREVIOUSFOUND OR REINSTALL) AND NOT (REMOVE ~= "ALL")' SetStartNoCopies 'REMOVE ~= "ALL"' \
            SetRestoreEndedCopies 'PREVIOUSFOUND OR REINSTALL OR REMOVE ~= "ALL"' | sed 's/|$//')"
    for action in SetEndRunningCopies SetStartEndedCopies SetStartNoCopies SetRestoreEndedCopies; do
        (($(seq_of "$msi" $execute CostFinalize) < $(seq_of "$msi" $execute $action) && $(seq_of "$msi" $execute $action) < initialize)) &&
            ok "$flavour: $action between CostFinalize and InstallInitialize" || fail "$flavour: $action at $(seq_of "$msi" $execute $action)"
    done
    for sequence in InstallExecuteSequence InstallUISequence; do
        search=$(seq_of "$msi" $sequence AppSearch) cost=$(seq_of "$msi" $sequence CostInitialize)
        keep=$(seq_of "$msi" $sequence KeepAutostart) level=$(seq_of "$msi" $sequence SetInstallLevel)
        ((search < ${keep:-0} && ${keep:-0} < ${level:-0} && ${level:-99999} < cost)) &&
            ok "$flavour: $sequence: AppSearch $search, KeepAutostart $keep, SetInstallLevel $level, CostInitialize $cost" ||
            fail "$flavour: $sequence: AppSearch $search, KeepAutostart ${keep:-none}, SetInstallLevel ${level:-none}, CostInitialize $cost"
    done
    check "$flavour: from InstallExecute on (action sequence)" \
        "$(table "$msi" $execute | awk -F'\t' -v from="$(seq_of "$msi" $execute InstallExecute)" '$3 >= from { print $3 "\t" $1 }' |
            sort -n | cut -f2 | paste -sd' ')" "InstallExecute RemoveExistingProducts CreateShortcuts InstallFinalize"
    (($(seq_of "$msi" $execute FindRelatedProducts) < $(seq_of "$msi" $execute LaunchConditions))) &&
        ok "$flavour: FindRelatedProducts before LaunchConditions" || fail "$flavour: FindRelatedProducts after LaunchConditions"
    check "$flavour: MSIRESTARTMANAGERCONTROL" "$(prop "$msi" MSIRESTARTMANAGERCONTROL)" Disable

    # The custom actions and what the package carries.
    # The copies' actions: functions of the DLL (1) in the script (0x400) as
    # the system account (0x800), the commit one run on commit (0x200), the
    # rollback one on rollback (0x100).
    check "$flavour: custom actions (name, type, source, target)" "$(table "$msi" CustomAction | sort | cut -f1-4 | paste -sd'|')" \
        "$(printf '%s\t%s\t%s\t%s|' EndRunningCopies 3073 EndCopy EndRunningCopies KeepAutostart 51 AUTOSTART 1 \
            RestoreEndedCopies 3329 EndCopy RestoreEndedCopies SetEndRunningCopies 2099 EndRunningCopies '[ProductCode]' \
            SetInstallLevel 51 INSTALLLEVEL 100 SetInstallLocation 51 ARPINSTALLLOCATION '[INSTALLDIR]' \
            SetRestoreEndedCopies 2099 RestoreEndedCopies '[ProductCode]' \
            SetStartEndedCopies 2099 StartEndedCopies '[ProductCode]|[INSTALLDIR]ovq.exe' \
            SetStartNoCopies 2099 StartEndedCopies '[ProductCode]|' StartEndedCopies 3585 EndCopy StartEndedCopies |
            sed 's/|$//')"
    msiinfo extract "$msi" Binary.EndCopy >"$work/endcopy-$flavour.dll"
    cmp -s "$work/endcopy-$flavour.dll" "$dll" && ok "$flavour: the custom action is $dll" ||
        fail "$flavour: the custom action's DLL is not $dll"
    msiinfo extract "$msi" Icon.ovq.exe >"$work/icon-$flavour.exe"
    cmp -s "$work/icon-$flavour.exe" "$exe" && ok "$flavour: the icon is $exe" || fail "$flavour: the icon is not $exe"
    rm -rf "$work/extracted-$flavour"
    msiextract -C "$work/extracted-$flavour" "$msi" >/dev/null
    installed=$(find "$work/extracted-$flavour" -type f | sed "s|^$work/extracted-$flavour/||" | sort | paste -sd' ')
    folder=${installed%%/LICENSE.txt *}
    [[ $installed == "$folder/LICENSE.txt $folder/ovq.exe" && ($folder == ovq || $folder == */ovq) ]] &&
        ok "$flavour: the package installs two files, $installed" ||
        fail "$flavour: the package installs '$installed', not ovq\\ovq.exe and ovq\\LICENSE.txt"
    cmp -s "$work/extracted-$flavour/$folder/ovq.exe" "$exe" && ok "$flavour: its ovq.exe is $exe" ||
        fail "$flavour: its ovq.exe is not $exe"
    cmp -s "$work/extracted-$flavour/$folder/LICENSE.txt" "$license" && ok "$flavour: its LICENSE.txt is LICENSE with CRLF" ||
        fail "$flavour: its LICENSE.txt is not LICENSE with CRLF"

    # The tables of the upgrade, the features, components, shortcuts, registry.
    check "$flavour: upgrade rows (code, min, max, attributes, property)" \
        "$(table "$msi" Upgrade | sort -t$'\t' -k7 | cut -f1-3,5,7 | paste -sd'|')" \
        "$(printf '%s\t%s\t%s\t%s\t%s|' "$upgrade_code" "$(package_version "$version")" '' 2 NEWERFOUND \
            "$upgrade_code" 0.0.0 "$(read -r a b c d < <(fields "$version") && echo "$a.$b.$((c * 1000 + d + 1))")" 256 PREVIOUSFOUND |
            sed 's/|$//')"
    check "$flavour: launch condition" "$(table "$msi" LaunchCondition | cut -f1)" "Installed OR NOT NEWERFOUND"
    check "$flavour: features (name, parent, level)" "$(table "$msi" Feature | sort | cut -f1,2,6 | paste -sd'|')" \
        "$(printf 'Program\t\t1|Startup\tProgram\t100')"
    bit=$([[ $flavour == x64 ]] && echo 256 || echo 0)
    check "$flavour: components (name, folder, attributes)" "$(table "$msi" Component | sort | cut -f1,3,4 | paste -sd'|')" \
        "$(printf 'Autostart\tStartupFolder\t%s|License\tINSTALLDIR\t%s|Program\tINSTALLDIR\t%s' $((bit | 4)) "$bit" "$bit")"
    check "$flavour: files (name, component)" "$(table "$msi" File | sort | cut -f1-3 | paste -sd'|')" \
        "$(printf 'LICENSE.txt\tLicense\tLICENSE.txt|ovq.exe\tProgram\tovq.exe')"
    check "$flavour: INSTALLDIR" "$(table "$msi" Directory | awk -F'\t' '$1 == "INSTALLDIR" { print $2 "\\" $3 }')" \
        "$([[ $flavour == x86 ]] && echo ProgramFilesFolder || echo ProgramFiles64Folder)\\ovq"
    check "$flavour: shortcuts (name, folder, component, target, icon)" \
        "$(table "$msi" Shortcut | sort | cut -f1-5,9 | paste -sd'|')" \
        "$(printf '%s\t%s\t%s\t%s\t%s\t%s|' StartMenuShortcut ProgramMenuFolder ovq Program '[#ovq.exe]' ovq.exe \
            StartupShortcut StartupFolder ovq Autostart '[#ovq.exe]' ovq.exe | sed 's/|$//')"
    check "$flavour: registry (root, key, name, value, component)" "$(table "$msi" Registry | cut -f2-6)" \
        "$(printf '2\tSoftware\\ovq\tAutostart\t1\tAutostart')"
    if [[ $flavour == x64 ]]; then
        locators=$(printf 'OldAutostart\t2\tSoftware\\ovq\tAutostart\t18|OldAutostart32\t2\tSoftware\\ovq\tAutostart\t2')
    else
        locators=$(printf 'OldAutostart\t2\tSoftware\\ovq\tAutostart\t2')
    fi
    check "$flavour: the searches for the installed AUTOSTART value (64-bit view: type 18)" \
        "$(table "$msi" RegLocator | sort | paste -sd'|')" "$locators"
    check "$flavour: AppSearch" "$(table "$msi" AppSearch | cut -f1 | sort -u)" OLDAUTOSTART
    components[$flavour]=$(table "$msi" Component | sort | cut -f1,2 | paste -sd' ')
    check "$flavour: the component codes of $older and $version" \
        "$(table "$work/older-$flavour.msi" Component | sort | cut -f1,2 | paste -sd' ')" "${components[$flavour]}"
done

# The codes across flavours, versions and commits.
all=$(printf '%s\n' "${package_codes[@]}" | sort -u | wc -l)
check "package codes: all six differ (2 flavours x this version, the older one, another commit)" "$all" 6
products=$(printf '%s\n' "${product_codes[x86]}" "${product_codes[x86-older]}" "${product_codes[x64]}" "${product_codes[x64-older]}" |
    sort -u | wc -l)
check "product codes: the two versions and flavours all differ" "$products" 4
codes() { grep -o '{[0-9A-F-]*}' <<<"${components[$1]}" | sort; }
[[ $(codes x86 | wc -l) == 3 && $(codes x64 | wc -l) == 3 && -z $(comm -12 <(codes x86) <(codes x64)) ]] &&
    ok "component codes: none shared between x86 and x64" || fail "component codes shared between x86 and x64"

# Versions the package version cannot carry.
for bad in 0.2.66.0 0.2.8.1000 256.0.0.0; do
    if "$src/installer/make-msi.sh" x86 "$bad" "$commit" "$commit_time" "$builds/win32/ovq.exe" "$builds/win32/endcopy.dll" \
        "$license" "$work/bad.msi" 2>"$work/bad.err"; then
        fail "make-msi.sh made a package of version $bad"
    else
        ok "make-msi.sh refuses version $bad: $(cat "$work/bad.err")"
    fi
    [[ ! -e $work/bad.msi ]] || fail "make-msi.sh left $work/bad.msi"
done

if ((failed)); then
    echo "release packages: FAILED (work dir $work)"
    exit 1
fi
echo "release packages: all checks passed"
