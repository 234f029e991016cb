#!/usr/bin/env bash
# Builds one Windows Installer package of ovq from installer/ovq.wxs:
#
#   installer/make-msi.sh <x86|x64> <version> <commit> <commit time> <ovq.exe> <endcopy.dll> <LICENSE.txt> <out.msi>
#
# <version> is the program's (a.b.c.d, as in CMakeLists.txt), <commit> the
# commit it is built from and <commit time> that commit's time (seconds since
# the epoch). The same arguments give the same bytes, from any clone, in any
# directory, at any time:
# - the product code is a name-based UUID (version 5, SHA-1) of "ovq <version>
#   <flavour>" in the namespace of the upgrade code: new for each version and
#   flavour, the same for every build of them;
# - the package code, which Windows Installer wants different for packages of
#   different content, is one of "ovq <version> <flavour> <commit>"; wixl would
#   draw a random one, so it is set afterwards (msibuild -s);
# - wixl and msibuild run with the clock at the commit's time (faketime) in
#   UTC, which is what the summary information's dates and the cabinet's file
#   dates then say; the files the cabinet holds are copied and dated at that
#   time too.
# Windows Installer compares only the first three fields of a version, so the
# package's version is a.b.(c*1000+d): 0.2.8.4 is 0.2.8004. Its fields must fit
# Windows Installer's 255.255.65535, and so must the package version one above
# it, which the package names as the end of the versions it replaces: a and b
# up to 255, d up to 999, and c*1000+d up to 65534 (65.534 is the last). Any
# other version is refused in one line, and nothing is written.
set -euo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE
say() { printf 'make-msi.sh: %s\n' "$*" >&2; }

if (($# != 8)); then
    say "usage: make-msi.sh <x86|x64> <version> <commit> <commit time> <ovq.exe> <endcopy.dll> <LICENSE.txt> <out.msi>"
    exit 2
fi
flavour=$1 version=$2 commit=$3 time=$4 exe=$5 dll=$6 license=$7 out=$8
here=$(cd "$(dirname "$0")" && pwd)
source=$here/ovq.wxs

case $flavour in
x86) arch=x86 ;;
x64) arch=x64 ;;
*) say "no flavour '$flavour': x86 or x64"; exit 2 ;;
esac
[[ $commit =~ ^[0-9a-f]{40}$ ]] || { say "not a commit: '$commit'"; exit 2; }
[[ $time =~ ^[0-9]+$ ]] || { say "not a time in seconds: '$time'"; exit 2; }
for f in "$exe" "$dll" "$license"; do
    [[ -f $f ]] || { say "no file $f"; exit 2; }
done
for tool in wixl msibuild msiinfo faketime sha1sum xxd; do
    command -v "$tool" >/dev/null || { say "$tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

# The version as Windows Installer compares it, and the one above it. Each
# field has at most five digits before it is counted, so that no number
# wraps around in the shell's arithmetic.
if ! [[ $version =~ ^([0-9]{1,5})(\.([0-9]{1,5}))?(\.([0-9]{1,5}))?(\.([0-9]{1,5}))?$ ]]; then
    say "not a version: '$version' (a, a.b, a.b.c or a.b.c.d, in digits)"
    exit 2
fi
major=${BASH_REMATCH[1]} minor=${BASH_REMATCH[3]:-0} patch=${BASH_REMATCH[5]:-0} tweak=${BASH_REMATCH[7]:-0}
major=$((10#$major)) minor=$((10#$minor)) patch=$((10#$patch)) tweak=$((10#$tweak))
if ((major > 255 || minor > 255 || tweak > 999 || patch * 1000 + tweak > 65534)); then
    say "version $version does not fit a package version (a and b up to 255, d up to 999, c.d up to 65.534)"
    exit 1
fi
build=$((patch * 1000 + tweak))
package_version=$major.$minor.$build
next_package_version=$major.$minor.$((build + 1))

# uuid5 NAMESPACE NAME: the name-based UUID (RFC 4122, version 5), in capitals.
uuid5() {
    local hash
    hash=$({ xxd -r -p <<<"${1//-/}" && printf '%s' "$2"; } | sha1sum | cut -c1-32)
    hash=${hash:0:12}5${hash:13:3}$(printf '%x' $(((16#${hash:16:1} & 3) | 8)))${hash:17:15}
    hash=${hash^^}
    printf '%s-%s-%s-%s-%s' "${hash:0:8}" "${hash:8:4}" "${hash:12:4}" "${hash:16:4}" "${hash:20:12}"
}
upgrade_code=$(sed -n 's/.*UpgradeCode="\([0-9A-F-]\{36\}\)".*/\1/p' "$source")
[[ -n $upgrade_code ]] || { say "no UpgradeCode in $source"; exit 1; }
product_code=$(uuid5 "$upgrade_code" "ovq $version $flavour")
package_code=$(uuid5 "$upgrade_code" "ovq $version $flavour $commit")

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/ovq.exe"
cp "$dll" "$stage/endcopy.dll"
cp "$license" "$stage/LICENSE.txt"
touch -d "@$time" "$stage/ovq.exe" "$stage/endcopy.dll" "$stage/LICENSE.txt"

# In UTC, the clock stopped at the commit's time. wixl warns of the WiX attributes it does not
# know and of every shortcut that is not advertised (which it writes all the
# same); its output is kept for a failure only.
at_commit_time() { env TZ=UTC0 faketime -f "$(TZ=UTC0 date -d "@$time" '+%Y-%m-%d %H:%M:%S')" "$@"; }
# wixl takes the files by names relative to where it runs: the staging
# directory.
if ! (cd "$stage" && at_commit_time wixl -a "$arch" -o ovq.msi \
    -D "Flavour=$flavour" -D "Version=$version" -D "PackageVersion=$package_version" \
    -D "NextPackageVersion=$next_package_version" -D "ProductCode=$product_code" \
    -D ProgramExe=ovq.exe -D EndCopyDll=endcopy.dll -D LicenseTxt=LICENSE.txt "$source") >"$stage/wixl.log" 2>&1; then
    cat "$stage/wixl.log" >&2
    say "wixl failed on $source ($flavour)"
    exit 1
fi
# msibuild_query WHAT QUERY: one SQL change of the package, or the build fails
# saying what could not be done.
msibuild_query() {
    if ! at_commit_time msibuild "$stage/ovq.msi" -q "$2" >"$stage/msibuild.log" 2>&1; then
        cat "$stage/msibuild.log" >&2
        say "msibuild could not $1"
        exit 1
    fi
}
# wixl writes SecureCustomProperties from the upgrade properties alone; the
# public property AUTOSTART joins them (see ovq.wxs).
secure=$(msiinfo export "$stage/ovq.msi" Property | tr -d '\r' | awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')
[[ -n $secure ]] || { say "wixl wrote no SecureCustomProperties"; exit 1; }
msibuild_query "add AUTOSTART to SecureCustomProperties" \
    "UPDATE \`Property\` SET \`Value\` = '$secure;AUTOSTART' WHERE \`Property\` = 'SecureCustomProperties'"
# wixl writes the commit and rollback actions as immediate ones; their types
# say what they are: a DLL's function (1), in the script (0x400), not
# impersonating (0x800), and run on commit (0x200) or on rollback (0x100).
for action in StartEndedCopies:3585 RestoreEndedCopies:3329; do
    msibuild_query "set the type of ${action%:*}" \
        "UPDATE \`CustomAction\` SET \`Type\` = ${action#*:} WHERE \`Action\` = '${action%:*}'"
done
template=$([[ $flavour == x64 ]] && echo "x64;1033" || echo "Intel;1033")
if ! at_commit_time msibuild "$stage/ovq.msi" -s "ovq $version ($flavour)" ovq "$template" "{$package_code}" \
    >"$stage/msibuild.log" 2>&1; then
    cat "$stage/msibuild.log" >&2
    say "msibuild could not set the package code"
    exit 1
fi
mv "$stage/ovq.msi" "$out"
