#!/usr/bin/env bash
# Makes the release of the commit checked out here: one zip for Windows users
# and two Windows Installer packages for administrators.
#
#   ./release.sh          ->  dist/ovq-<version>.zip, dist/ovq-<version>-x86.msi,
#                             dist/ovq-<version>-x64.msi and dist/SHA256SUMS,
#                             which it prints on stdout
#
# Refuses, before anything else, a work tree with uncommitted changes to tracked
# files: every release names the one commit it was built from. Then installs
# what is missing (scripts/install-deps.sh), builds both Windows flavours with
# their presets (win32 and win64, configured afresh), runs their exe checks
# (ctest's exe.shape: size, imports, header flags, resources; exe.endcopy: the
# packages' custom action) and writes the zip and the packages. <version> is
# the one of project(ovq VERSION ...) in CMakeLists.txt. The zip holds one
# folder, ovq-<version>/, with:
#   ovq.exe       the 32-bit program, for 32-bit and 64-bit Windows (build/win32)
#   x64/ovq.exe   the 64-bit one (build/win64)
#   README.txt    the users' page docs/using.md as plain text, with the version
#                 and the commit (scripts/readme-txt.sh)
#   LICENSE.txt   LICENSE, with CRLF line ends for Notepad
#   SHA256SUMS    the zip's SHA256SUMS: the SHA-256 of the four files above, as
#                 sha256sum -c reads it
# Made again from the same commit, here or in any other clone, the zip is the
# same bytes: its entries in a fixed order, all dated at the commit's time in
# UTC, with fixed modes and no extra fields. So are the packages, which
# installer/make-msi.sh builds from installer/ovq.wxs: ovq-<version>-x86.msi
# with the 32-bit program, ovq-<version>-x64.msi with the 64-bit one, each
# with the licence (the zip's LICENSE.txt) and the custom actions
# endcopy.dll of its flavour. dist/SHA256SUMS, the
# release's SHA256SUMS, gives the SHA-256 of the zip and of both packages, as
# sha256sum -c reads it.
#
# Signing, when the publisher gives a certificate (else the release is
# unsigned, as it always was):
#   OVQ_SIGN_PFX            the certificate and its private key, a PKCS#12 file
#   OVQ_SIGN_PASSWORD_FILE  a file that holds its password, when it has one
#   OVQ_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping server, when one is named
# osslsigncode then signs both exes and both custom actions (Authenticode,
# SHA-256) before they go into the zip and the packages, and then both
# packages. Each signed program is checked to give back the built bytes when
# its signature is removed (osslsigncode remove-signature).
#
# Checking a signed release against a build of one's own, from a clone of the
# commit it names:
#   OVQ_CHECK_SIGNED=<folder with the published zip and packages> ./release.sh
# builds as above and writes nothing to dist/: the signed programs taken from
# the published files must give back this build's bytes with their signatures
# removed; the zip made with them must be the published zip, byte for byte;
# each package made with them must be the published one without its signature
# (compared as osslsigncode writes a package, see below). One line a file,
# and the last says whether the release is this build.
#
# OVQ_RELEASE_BUILDS=DIR packages DIR/win32/ovq.exe and DIR/win64/ovq.exe,
# builds of these same sources made elsewhere, instead of building here (the
# release test so reuses the builds of ./test.sh); their exe checks still run.
set -euo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE

ROOT=$(cd "$(dirname "$0")" && pwd -P) # as git names it, links resolved
cd "$ROOT"
say() { printf 'release.sh: %s\n' "$*" >&2; }

# The commit.
if [[ $(git rev-parse --show-toplevel 2>/dev/null) != "$ROOT" ]]; then
    say "$ROOT is not a git work tree: a release names the commit it is built from"
    exit 1
fi
changed=$(git status --porcelain --untracked-files=no)
if [[ -n $changed ]]; then
    files=$(cut -c4- <<<"$changed" | head -n 3 | paste -sd, | sed 's/,/, /g')
    (($(wc -l <<<"$changed") <= 3)) || files+=", ..."
    say "uncommitted changes to tracked files ($files): commit or stash them, since a release names one commit"
    exit 1
fi
commit=$(git rev-parse HEAD)
commit_time=$(git log -1 --format=%ct HEAD)
commit_date=$(TZ=UTC0 git log -1 --date=format-local:%Y-%m-%d --format=%cd HEAD)

# The version, from its one place.
version=$(sed -n 's/^[[:space:]]*project([[:space:]]*ovq[[:space:]]\+VERSION[[:space:]]\+\([^[:space:])]*\).*/\1/p' CMakeLists.txt)
if ! [[ $version =~ ^[0-9]+(\.[0-9]+){0,3}$ ]]; then
    say "no version in CMakeLists.txt (project(ovq VERSION x.y.z.w ...)): found '${version//$'\n'/ }'"
    exit 1
fi
name=ovq-$version

scripts/install-deps.sh

# The two programs, built and checked.
if [[ -n ${OVQ_RELEASE_BUILDS:-} ]]; then
    builds=$(realpath "$OVQ_RELEASE_BUILDS")
    say "packaging the builds in $builds"
else
    builds=$ROOT/build
    for preset in win32 win64; do
        cmake --preset "$preset" --fresh
        cmake --build --preset "$preset"
    done
fi
for preset in win32 win64; do
    if ! ctest --test-dir "$builds/$preset" -R '^exe\.(shape|endcopy)$' --no-tests=error --output-on-failure; then
        say "the exe checks of $builds/$preset/ovq.exe or endcopy.dll failed"
        exit 1
    fi
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# What goes into the zip and the packages: the builds, signed when a
# certificate is given, or a published release's signed files when that
# release is checked.
mkdir -p "$stage/programs/win32" "$stage/programs/win64"
for preset in win32 win64; do
    cp "$builds/$preset/ovq.exe" "$builds/$preset/endcopy.dll" "$stage/programs/$preset/"
done
signing=()
published=
if [[ -n ${OVQ_SIGN_PFX:-} ]]; then
    [[ -z ${OVQ_CHECK_SIGNED:-} ]] || { say "OVQ_SIGN_PFX and OVQ_CHECK_SIGNED: sign or check, not both"; exit 1; }
    [[ -f $OVQ_SIGN_PFX ]] || { say "OVQ_SIGN_PFX names no file: $OVQ_SIGN_PFX"; exit 1; }
    signing=(-pkcs12 "$OVQ_SIGN_PFX" -h sha256 -n ovq)
    if [[ -n ${OVQ_SIGN_PASSWORD_FILE:-} ]]; then
        [[ -f $OVQ_SIGN_PASSWORD_FILE ]] || { say "OVQ_SIGN_PASSWORD_FILE names no file: $OVQ_SIGN_PASSWORD_FILE"; exit 1; }
        signing+=(-readpass "$OVQ_SIGN_PASSWORD_FILE")
    fi
    [[ -z ${OVQ_SIGN_TIMESTAMP_URL:-} ]] || signing+=(-ts "$OVQ_SIGN_TIMESTAMP_URL")
elif [[ -n ${OVQ_SIGN_PASSWORD_FILE:-}${OVQ_SIGN_TIMESTAMP_URL:-} ]]; then
    say "OVQ_SIGN_PASSWORD_FILE or OVQ_SIGN_TIMESTAMP_URL without OVQ_SIGN_PFX: no certificate to sign with"
    exit 1
elif [[ -n ${OVQ_CHECK_SIGNED:-} ]]; then
    published=$(realpath "$OVQ_CHECK_SIGNED")
    for file in "$name.zip" "$name-x86.msi" "$name-x64.msi"; do
        [[ -f $published/$file ]] || { say "no $file in $published"; exit 1; }
    done
    # The signed programs as published: the exes from the zip, the custom
    # actions from the packages.
    if ! unzip -p "$published/$name.zip" "$name/ovq.exe" >"$stage/programs/win32/ovq.exe" ||
        ! unzip -p "$published/$name.zip" "$name/x64/ovq.exe" >"$stage/programs/win64/ovq.exe" ||
        ! msiinfo extract "$published/$name-x86.msi" Binary.EndCopy >"$stage/programs/win32/endcopy.dll" ||
        ! msiinfo extract "$published/$name-x64.msi" Binary.EndCopy >"$stage/programs/win64/endcopy.dll"; then
        say "the programs cannot be taken out of the release in $published"
        exit 1
    fi
fi
# unsigned_is_build PRESET FILE: the staged FILE of PRESET, its signature
# removed, is the build's to the byte.
unsigned_is_build() {
    local same=1
    if osslsigncode remove-signature -in "$stage/programs/$1/$2" -out "$stage/unsigned" >/dev/null 2>&1 &&
        cmp -s "$stage/unsigned" "$builds/$1/$2"; then
        same=0
    fi
    rm -f "$stage/unsigned"
    return $same
}
# sign FILE: signs FILE in place (Authenticode), or fails the release.
sign() {
    if ! osslsigncode sign "${signing[@]}" -in "$1" -out "$1.signed" >"$stage/sign.log" 2>&1; then
        cat "$stage/sign.log" >&2
        say "osslsigncode could not sign $(basename "$1")"
        exit 1
    fi
    mv -f "$1.signed" "$1"
}
if ((${#signing[@]})) || [[ -n $published ]]; then
    for preset in win32 win64; do
        for file in ovq.exe endcopy.dll; do
            ((${#signing[@]} == 0)) || sign "$stage/programs/$preset/$file"
            # The signature removed, the program must be the build again.
            if ! unsigned_is_build "$preset" "$file"; then
                say "$preset/$file${published:+ of $published}, its signature removed, is not the build's file"
                exit 1
            fi
        done
    done
    if ((${#signing[@]})); then
        say "signed both programs and both custom actions with $OVQ_SIGN_PFX"
    else
        say "the signed programs of $published are this build's, their signatures removed"
    fi
fi

# The folder the zip holds, in a staging directory.
top=$stage/$name
mkdir -p "$top/x64"
cp "$stage/programs/win32/ovq.exe" "$top/ovq.exe"
cp "$stage/programs/win64/ovq.exe" "$top/x64/ovq.exe"
scripts/readme-txt.sh docs/using.md "$version" "$commit" "$commit_date" >"$top/README.txt"
sed 's/\r*$/\r/' LICENSE >"$top/LICENSE.txt"
(cd "$top" && sha256sum ovq.exe x64/ovq.exe README.txt LICENSE.txt >SHA256SUMS)

# Fixed modes and times; zip writes local time, so it runs in UTC. ZIPOPT
# and ZIP would add options of the caller's.
entries=("$name/" "$name/LICENSE.txt" "$name/README.txt" "$name/SHA256SUMS" "$name/ovq.exe" "$name/x64/" "$name/x64/ovq.exe")
(
    cd "$stage"
    for entry in "${entries[@]}"; do
        if [[ -d $entry ]]; then chmod 755 "$entry"; else chmod 644 "$entry"; fi
        touch -d "@$commit_time" "$entry"
    done
    env -u ZIPOPT -u ZIP TZ=UTC0 zip -q -X -9 "$name.zip" "${entries[@]}"
)
[[ $(unzip -Z1 "$stage/$name.zip" | paste -sd' ') == "${entries[*]}" ]] ||
    { say "the zip does not hold the expected entries in their order"; exit 1; }

# The packages: the same programs, with the custom action of their flavour.
for flavour in x86:win32 x64:win64; do
    preset=${flavour#*:} flavour=${flavour%:*}
    installer/make-msi.sh "$flavour" "$version" "$commit" "$commit_time" "$stage/programs/$preset/ovq.exe" \
        "$stage/programs/$preset/endcopy.dll" "$top/LICENSE.txt" "$stage/$name-$flavour.msi"
    ((${#signing[@]} == 0)) || sign "$stage/$name-$flavour.msi"
done

packages=("$name.zip" "$name-x86.msi" "$name-x64.msi")
# A published release checked: its zip must be this one, to the byte; its
# packages this one's, signed. osslsigncode writes a package's storage anew as
# it signs, so both are compared as osslsigncode writes them without their
# signatures: the published one with its signature removed, this one signed
# with a throw-away key and that signature removed again.
if [[ -n $published ]]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=ovq release check" \
        -keyout "$stage/check.key" -out "$stage/check.crt" >/dev/null 2>&1 ||
        { say "openssl could not make the throw-away key"; exit 1; }
    # published_is_own FILE
    published_is_own() {
        [[ $1 == *.msi ]] || { cmp -s "$published/$1" "$stage/$1"; return; }
        rm -f "$stage/published.msi" "$stage/check.msi" "$stage/own.msi" # osslsigncode writes no file that exists
        osslsigncode remove-signature -in "$published/$1" -out "$stage/published.msi" >/dev/null 2>&1 &&
            osslsigncode sign -certs "$stage/check.crt" -key "$stage/check.key" -h sha256 \
                -in "$stage/$1" -out "$stage/check.msi" >/dev/null 2>&1 &&
            osslsigncode remove-signature -in "$stage/check.msi" -out "$stage/own.msi" >/dev/null 2>&1 &&
            cmp -s "$stage/published.msi" "$stage/own.msi"
    }
    differ=0
    for file in "${packages[@]}"; do
        if published_is_own "$file"; then
            say "$file: this build's$([[ $file == *.msi ]] && echo ", signed")"
        else
            say "$file: NOT this build's"
            differ=1
        fi
    done
    ((differ == 0)) || { say "the release in $published is not this commit's build"; exit 1; }
    say "the release in $published is this build of commit $commit, signed"
    exit 0
fi

mkdir -p dist
for file in "${packages[@]}"; do
    mv -f "$stage/$file" "dist/$file"
    say "dist/$file: $(stat -c %s "dist/$file") bytes"
done
(cd dist && sha256sum "${packages[@]}" >SHA256SUMS)
say "version $version, commit $commit of $commit_date$( ((${#signing[@]})) && echo ", signed")"
cat dist/SHA256SUMS
