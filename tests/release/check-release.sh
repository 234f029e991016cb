#!/usr/bin/env bash
# The release of ./release.sh, the zip and the two Windows Installer packages,
# is the same bytes made twice and made in another directory, and holds what a
# user and an administrator are promised:
#
#   tests/release/check-release.sh [<source dir> [<builds dir> [<work dir>]]]
#
# (defaults: this repository, its build/ and build/release-test). Clones the
# source's commit twice under the work dir, at two paths of different names
# and depths; uncommitted changes of the source's tracked files are committed
# on top in both clones alike, so what is checked is the tree as it is. Both
# clones package the builds in <builds dir>/win32 and <builds dir>/win64
# (OVQ_RELEASE_BUILDS; ./test.sh has just built them from these sources, and
# exe.reproducible proves that a build elsewhere gives the same bytes), the
# second clone in another time zone, with another umask and under the Japanese
# locale, where tools such as objdump translate what they print. Checks:
# - the three zips (the first clone's twice, the second's once) are the same,
#   and so are the three x86 and the three x64 packages; dist/SHA256SUMS
#   lists the zip and both packages, sha256sum -c passes, and release.sh
#   prints it;
# - its name and entries, in order, with the version the build has
#   (generated/Version.h); modes, time stamps at the commit's time, no extra
#   fields;
# - unpacked, the zip's SHA256SUMS names every other file and sha256sum -c
#   passes; the two exes are the builds' to the byte; LICENSE.txt is LICENSE
#   with CRLF line ends;
# - README.txt, made from docs/using.md (tests/docs/check-readme-txt.sh): a
#   byte-order mark, CRLF at every line end and no other line end, valid
#   UTF-8; a head with the version and the commit; every heading (in order),
#   table entry, code line and non-ASCII text (the Japanese ones) of the page,
#   no markdown left over, and no line over 76 columns but code;
# - the packages' tables and the older packages to upgrade from
#   (check-packages.sh);
# - signing with a throw-away certificate made here (openssl): release.sh in
#   the second clone signs; osslsigncode verifies every signature (both exes,
#   both custom actions, both packages); each program with its signature
#   removed is the build's; OVQ_CHECK_SIGNED in the first clone finds the
#   signed release to be its build, and a package changed after signing not;
# - under Wine's msiexec, in a fresh prefix (check-install.sh): the x64
#   package, and the signed 64-bit exe run; where the host runs 32-bit code,
#   the x86 package in a 32-bit prefix, and in a 64-bit one with the upgrades
#   between the flavours (check-wow64.sh); else one line says why not;
# - with a tracked file changed, release.sh refuses in one line and leaves
#   the zip alone.
# ok and fail below always return 0: `check && ok ... || fail ...` says one of them.
# shellcheck disable=SC2015
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(realpath "${1:-$here/../..}")
builds=$(realpath "${2:-$src/build}")
work=${3:-$src/build/release-test}
export LC_ALL=C.UTF-8
unset LANGUAGE

failed=0
not_run=()
ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failed=1; }
stop() { echo "FAIL: $*"; exit 1; }

for f in "$builds"/win{32,64}/{ovq.exe,endcopy.dll,probe.exe,holdexit.dll} "$builds/win32/generated/Version.h"; do
    [[ -f $f ]] || stop "no $f: build the win32 and win64 presets first"
done
version=$(sed -n 's/^#define OVQ_VERSION_TEXT "\(.*\)"$/\1/p' "$builds/win32/generated/Version.h")
[[ -n $version ]] || stop "no OVQ_VERSION_TEXT in $builds/win32/generated/Version.h"
name=ovq-$version

rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")
first=$work/one/ovq
second=$work/elsewhere/a-longer-directory-name/ovq-copy

# clone DIR: the source's commit, with its uncommitted changes committed on
# top under a fixed name and date, so that both clones hold the same commit.
head=$(git -C "$src" rev-parse HEAD)
git -C "$src" diff --binary HEAD >"$work/uncommitted.diff"
clone() {
    if ! { git clone -q --no-checkout "$src" "$1" && git -C "$1" fetch -q "$src" HEAD &&
        git -C "$1" checkout -q --detach "$head"; }; then
        stop "cannot clone $head of $src into $1"
    fi
    if [[ -s $work/uncommitted.diff ]]; then
        git -C "$1" apply --index "$work/uncommitted.diff" || stop "the uncommitted changes of $src do not apply to $head"
        GIT_AUTHOR_DATE="$(git -C "$src" log -1 --format=%cI HEAD)" GIT_COMMITTER_DATE="$(git -C "$src" log -1 --format=%cI HEAD)" \
            git -C "$1" -c user.name="release test" -c user.email=release-test@invalid -c commit.gpgsign=false \
            commit -q --no-verify -m "uncommitted changes of the work tree" || stop "cannot commit in $1"
    fi
}
clone "$first"
clone "$second"
[[ -s $work/uncommitted.diff ]] && echo "the work tree has uncommitted changes: both clones hold them as one more commit"
commit=$(git -C "$first" rev-parse HEAD)
[[ $(git -C "$second" rev-parse HEAD) == "$commit" ]] || stop "the two clones hold different commits"

# release DIR LOG [env...]: release.sh in DIR with the builds; the zip made.
release() {
    local dir=$1 log=$2
    shift 2
    if ! (cd "$dir" && env "$@" OVQ_RELEASE_BUILDS="$builds" ./release.sh) >"$log" 2>&1; then
        tail -n 20 "$log"
        stop "release.sh failed in $dir (log: $log)"
    fi
    for file in "$name.zip" "$name-x86.msi" "$name-x64.msi" SHA256SUMS; do
        [[ -f $dir/dist/$file ]] || stop "release.sh made no dist/$file in $dir"
    done
}
packages=("$name.zip" "$name-x86.msi" "$name-x64.msi")
release "$first" "$work/release-1.log"
mkdir -p "$work/made-1" "$work/made-2"
cp "$first/dist/"* "$work/made-1/"
release "$first" "$work/release-2.log"
cp "$first/dist/"* "$work/made-2/"
(umask 077 && release "$second" "$work/release-3.log" TZ=Asia/Tokyo LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8 LANGUAGE=ja)
for file in "${packages[@]:1}"; do
    if cmp -s "$work/made-1/$file" "$work/made-2/$file" && cmp -s "$work/made-1/$file" "$second/dist/$file"; then
        ok "$file made twice and in $second (Tokyo, Japanese locale): the same $(stat -c %s "$work/made-1/$file") bytes ($(sha256sum <"$work/made-1/$file" | cut -c1-64))"
    else
        fail "$file differs between the three releases"
    fi
done
if (cd "$work/made-1" && sha256sum --check --strict --quiet SHA256SUMS) &&
    [[ $(awk '{ print $2 }' "$work/made-1/SHA256SUMS" | paste -sd' ') == "${packages[*]}" ]]; then
    ok "dist/SHA256SUMS lists ${packages[*]}, and sha256sum -c passes"
else
    fail "dist/SHA256SUMS: $(tr '\n' ';' <"$work/made-1/SHA256SUMS")"
fi
[[ $(grep -E '^[0-9a-f]{64}  ' "$work/release-1.log") == "$(cat "$work/made-1/SHA256SUMS")" ]] &&
    ok "release.sh prints SHA256SUMS" || fail "release.sh did not print SHA256SUMS"
zip=$work/made-1/$name.zip
sum=$(sha256sum <"$zip" | cut -c1-64)
if cmp -s "$zip" "$work/made-2/$name.zip"; then ok "made twice: the same bytes"; else fail "made twice: the zips differ"; fi
if cmp -s "$zip" "$second/dist/$name.zip"; then
    ok "made in $second in another time zone: the same $(stat -c %s "$zip") bytes ($sum)"
else
    fail "the zips of $first and $second differ"
fi
grep -qx "$sum  $name.zip" "$work/release-1.log" && ok "release.sh prints the zip's SHA-256" ||
    fail "release.sh did not print '$sum  $name.zip'"

# The entries.
expected="$name/ $name/LICENSE.txt $name/README.txt $name/SHA256SUMS $name/ovq.exe $name/x64/ $name/x64/ovq.exe"
entries=$(unzip -Z1 "$zip" | paste -sd' ')
[[ $entries == "$expected" ]] && ok "entries: $entries" || fail "entries: expected '$expected', got '$entries'"
commit_time=$(git -C "$first" log -1 --format=%ct HEAD)
stamp=$(TZ=UTC0 date -d "@$((commit_time + commit_time % 2))" +%Y%m%d.%H%M%S) # DOS time: even seconds
details=$(TZ=UTC0 unzip -Z -T -l "$zip" | awk '$1 ~ /^[-d][-rwx]{9}$/ { print $1, $8, $9 }')
wrong=0
while read -r mode time entry; do
    want=-rw-r--r--
    [[ $entry == */ ]] && want=drwxr-xr-x
    [[ $mode == "$want" && $time == "$stamp" ]] || { fail "$entry: mode $mode, time $time; expected $want, $stamp"; wrong=1; }
done <<<"$details"
[[ $(wc -l <<<"$details") == 7 ]] || { fail "zipinfo listed $(wc -l <<<"$details") entries, not 7"; wrong=1; }
extras=$(unzip -Z -v "$zip" | grep -c 'length of extra field: *0 bytes' || true)
[[ $extras == 7 ]] || { fail "$((7 - extras)) entries carry extra fields"; wrong=1; }
((wrong)) || ok "modes 644 and 755, all dated $stamp (UTC), no extra fields"

# Unpacked: the checksums and the programs.
unzip -q "$zip" -d "$work/unpacked"
dir=$work/unpacked/$name
if (cd "$dir" && sha256sum --check --strict --quiet SHA256SUMS); then
    ok "sha256sum -c SHA256SUMS"
else
    fail "sha256sum -c SHA256SUMS"
fi
listed=$(awk '{ print $2 }' "$dir/SHA256SUMS" | sort | paste -sd' ')
present=$(cd "$dir" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | sort | paste -sd' ')
[[ $listed == "$present" ]] && ok "SHA256SUMS names every other file: $listed" ||
    fail "SHA256SUMS names '$listed', the folder holds '$present'"
for entry in ovq.exe:win32 x64/ovq.exe:win64; do
    file=${entry%:*} preset=${entry#*:}
    cmp -s "$dir/$file" "$builds/$preset/ovq.exe" && ok "$file is $builds/$preset/ovq.exe" ||
        fail "$file differs from $builds/$preset/ovq.exe"
done

# LICENSE.txt: LICENSE with CRLF line ends.
license=$dir/LICENSE.txt
if [[ $(grep -c $'\r$' "$license" || true) == "$(wc -l <"$license")" ]] && cmp -s <(tr -d '\r' <"$license") "$first/LICENSE"; then
    ok "LICENSE.txt is LICENSE with CRLF line ends ($(wc -l <"$license") lines)"
else
    fail "LICENSE.txt is not LICENSE with CRLF line ends"
fi

# README.txt, made from the users' page.
if "$here/../docs/check-readme-txt.sh" "$first/docs/using.md" "$dir/README.txt" "$version" "$commit" \
    "$work/readme-txt" >"$work/readme-txt.log" 2>&1; then
    cat "$work/readme-txt.log"
else
    grep -v '^ok:' "$work/readme-txt.log"
    fail "README.txt (log: $work/readme-txt.log)"
fi

# The packages, table by table, and the older ones to upgrade from.
commit_time=$(git -C "$first" log -1 --format=%ct HEAD)
if "$here/check-packages.sh" "$work/made-1" "$builds" "$work/packages" "$commit" "$commit_time" >"$work/packages.log" 2>&1; then
    ok "the packages' tables ($(grep -c '^ok:' "$work/packages.log") checks, $work/packages.log)"
else
    grep -v '^ok:' "$work/packages.log"
    fail "the packages' tables (log: $work/packages.log)"
fi

# Signing with a throw-away certificate, and checking the signed release.
signing=$work/signing
mkdir -p "$signing"
openssl rand -hex 16 >"$signing/password"
if ! openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=ovq release test (throw-away)" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "$signing/key.pem" -out "$signing/cert.pem" >"$signing/openssl.log" 2>&1 ||
    ! openssl pkcs12 -export -inkey "$signing/key.pem" -in "$signing/cert.pem" -out "$signing/cert.pfx" \
        -passout "file:$signing/password" >>"$signing/openssl.log" 2>&1; then
    stop "openssl could not make the throw-away certificate ($signing/openssl.log)"
fi
release "$second" "$work/release-signed.log" OVQ_SIGN_PFX="$signing/cert.pfx" OVQ_SIGN_PASSWORD_FILE="$signing/password"
signed=$second/dist
grep -q '^release.sh: signed both programs and both custom actions' "$work/release-signed.log" &&
    ok "release.sh signed with the throw-away certificate" || fail "release.sh did not say it signed"
(cd "$signed" && sha256sum --check --strict --quiet SHA256SUMS) && ok "the signed release's SHA256SUMS: sha256sum -c passes" ||
    fail "the signed release's SHA256SUMS"
mkdir -p "$signing/programs/win32" "$signing/programs/win64"
unzip -p "$signed/$name.zip" "$name/ovq.exe" >"$signing/programs/win32/ovq.exe"
unzip -p "$signed/$name.zip" "$name/x64/ovq.exe" >"$signing/programs/win64/ovq.exe"
msiinfo extract "$signed/$name-x86.msi" Binary.EndCopy >"$signing/programs/win32/endcopy.dll"
msiinfo extract "$signed/$name-x64.msi" Binary.EndCopy >"$signing/programs/win64/endcopy.dll"
for file in programs/win32/ovq.exe programs/win64/ovq.exe programs/win32/endcopy.dll programs/win64/endcopy.dll \
    "$name-x86.msi" "$name-x64.msi"; do
    path=$signing/$file
    [[ $file == *.msi ]] && path=$signed/$file
    if osslsigncode verify -CAfile "$signing/cert.pem" -in "$path" >"$signing/verify.log" 2>&1 &&
        grep -q '^Signature verification: ok' "$signing/verify.log"; then
        ok "osslsigncode verify: $file is signed by the throw-away certificate"
    else
        fail "osslsigncode verify $file: $(tail -n 3 "$signing/verify.log" | tr '\n' ' ')"
    fi
    if [[ $file == programs/* ]]; then
        osslsigncode remove-signature -in "$path" -out "$path.unsigned" >/dev/null 2>&1
        build=$builds/${file#programs/}
        cmp -s "$path.unsigned" "$build" && ok "$file, its signature removed, is $build" ||
            fail "$file, its signature removed, is not $build"
    fi
done
cmp -s "$signing/programs/win32/ovq.exe" "$builds/win32/ovq.exe" && fail "the zip's ovq.exe is not signed" || true
rc=0
(cd "$first" && OVQ_CHECK_SIGNED="$signed" OVQ_RELEASE_BUILDS="$builds" ./release.sh) >"$work/check-signed.log" 2>&1 || rc=$?
if ((rc == 0)) && grep -q "^release.sh: the release in $signed is this build of commit $commit, signed" "$work/check-signed.log" &&
    [[ $(grep -c ": this build's" "$work/check-signed.log") == 3 ]]; then
    ok "OVQ_CHECK_SIGNED: $(grep -E "^release.sh: .*(this build's|are this build's)" "$work/check-signed.log" | sed 's/^release.sh: //' | paste -sd';')"
else
    fail "OVQ_CHECK_SIGNED of the signed release exited $rc: $(grep '^release.sh' "$work/check-signed.log" | tail -n 4 | tr '\n' ' ')"
fi
# A package changed after signing: the check must tell.
mkdir -p "$signing/changed"
cp "$signed/"* "$signing/changed/"
msibuild "$signing/changed/$name-x86.msi" -q "UPDATE \`Property\` SET \`Value\` = '0' WHERE \`Property\` = 'ARPNOMODIFY'"
rc=0
(cd "$first" && OVQ_CHECK_SIGNED="$signing/changed" OVQ_RELEASE_BUILDS="$builds" ./release.sh) >"$work/check-changed.log" 2>&1 || rc=$?
if ((rc != 0)) && grep -q "^release.sh: $name-x86.msi: NOT this build's" "$work/check-changed.log" &&
    grep -q "^release.sh: $name-x64.msi: this build's, signed" "$work/check-changed.log"; then
    ok "OVQ_CHECK_SIGNED with the x86 package changed after signing: exit code $rc, $name-x86.msi: NOT this build's"
else
    fail "OVQ_CHECK_SIGNED with a changed package exited $rc: $(grep '^release.sh' "$work/check-changed.log" | tail -n 4 | tr '\n' ' ')"
fi

# Under Wine's msiexec, each package in a prefix of its kind where the host can
# run one; the signed programs run there too.
# shellcheck source=scripts/host.sh
. "$src/scripts/host.sh"
for flavour in x64 x86; do
    arch=$([[ $flavour == x64 ]] && echo win64 || echo win32)
    preset=$arch
    if ! ovq_host_loader "$arch"; then
        echo "not run here: the $flavour package under Wine's msiexec, since $OVQ_HOST_NO_WINE_WHY"
        not_run+=("$flavour package")
        continue
    fi
    if "$here/check-install.sh" "$flavour" "$work/made-1/$name-$flavour.msi" "$work/packages/older-$flavour.msi" \
        "$builds/$preset/ovq.exe" "$work/packages/older-$flavour.exe" "$builds/$preset/probe.exe" \
        "$work/install-$flavour" "$signing/programs/$preset/ovq.exe" >"$work/install-$flavour.log" 2>&1; then
        ok "the $flavour package under Wine's msiexec ($(grep -c '\] ok: ' "$work/install-$flavour.log") checks, $work/install-$flavour.log)"
    else
        grep -E 'FAIL|the harness' "$work/install-$flavour.log" | head -n 30
        fail "the $flavour package under Wine's msiexec (log: $work/install-$flavour.log)"
    fi
done

# The x86 package in a 64-bit prefix, as on 64-bit Windows, and the upgrades
# from one flavour to the other: where the host runs both kinds of program.
if ovq_host_loader win32 && ovq_host_loader win64; then
    if "$here/check-wow64.sh" "$work/made-1/$name-x86.msi" "$work/packages/older-x86.msi" \
        "$work/made-1/$name-x64.msi" "$work/packages/older-x64.msi" "$work/packages/older-x86.exe" \
        "$builds/win32/ovq.exe" "$builds/win64/ovq.exe" "$work/packages/older-x64.exe" "$builds/win32/probe.exe" \
        "$builds/win64/probe.exe" "$work/wow64" >"$work/wow64.log" 2>&1; then
        ok "the x86 package in a 64-bit prefix and the upgrades between the flavours ($(grep -c '\] ok: ' "$work/wow64.log") checks, $work/wow64.log)"
    else
        grep -E 'FAIL|the harness' "$work/wow64.log" | head -n 30
        fail "the x86 package in a 64-bit prefix and the upgrades between the flavours (log: $work/wow64.log)"
    fi
else
    ovq_host_loader win32 || true
    echo "not run here: the x86 package in a 64-bit prefix and the upgrades between the flavours, since $OVQ_HOST_NO_WINE_WHY"
    not_run+=("x86 package in a 64-bit prefix with the upgrades between the flavours")
fi

# A tracked file changed: release.sh refuses in one line.
echo >>"$first/README.md"
rc=0
(cd "$first" && OVQ_RELEASE_BUILDS="$builds" ./release.sh) >"$work/refused.out" 2>"$work/refused.err" || rc=$?
if ((rc != 0)) && [[ ! -s $work/refused.out && $(wc -l <"$work/refused.err") == 1 ]] &&
    grep -q 'uncommitted changes' "$work/refused.err" && cmp -s "$first/dist/$name.zip" "$zip"; then
    ok "with README.md changed, release.sh refuses: $(cat "$work/refused.err")"
else
    fail "with README.md changed, release.sh exited $rc, wrote '$(cat "$work/refused.out" "$work/refused.err")'"
fi

if ((failed)); then
    echo "release: FAILED (work dir $work)"
    exit 1
fi
echo "release: all checks passed ($(cd "$work/made-1" && for file in "${packages[@]}"; do
    printf '%s, %s bytes, %s; ' "$file" "$(stat -c %s "$file")" "$(sha256sum <"$file" | cut -c1-64)"
done | sed 's/; $//'))"
((${#not_run[@]} == 0)) ||
    echo "release: not run on this host under Wine's msiexec: $(printf 'the %s; ' "${not_run[@]}" | sed 's/; $//') (see the lines above)"
