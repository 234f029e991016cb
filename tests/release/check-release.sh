#!/usr/bin/env bash
# The release zip of ./release.sh is the same bytes made twice and made in
# another directory, and holds what a user is promised:
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
# second clone in another time zone and with another umask. Checks:
# - the three zips (the first clone's twice, the second's once) are the same;
# - its name and entries, in order, with the version the build has
#   (generated/Version.h); modes, time stamps at the commit's time, no extra
#   fields;
# - unpacked, SHA256SUMS names every other file and sha256sum -c passes; the
#   two exes are the builds' to the byte;
# - README.txt: a byte-order mark, CRLF at every line end and no other line
#   end, valid UTF-8; a head with the version and the commit; every heading,
#   table entry, code line and non-ASCII text (the Japanese ones) of README.md's
#   user part, none of the headings outside it, no markdown left over, and no
#   line over 76 columns but code;
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

failed=0
ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failed=1; }
stop() { echo "FAIL: $*"; exit 1; }

for f in "$builds/win32/ovq.exe" "$builds/win64/ovq.exe" "$builds/win32/generated/Version.h"; do
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
    [[ -f $dir/dist/$name.zip ]] || stop "release.sh made no dist/$name.zip in $dir"
}
release "$first" "$work/release-1.log"
cp "$first/dist/$name.zip" "$work/made-1.zip"
release "$first" "$work/release-2.log"
cp "$first/dist/$name.zip" "$work/made-2.zip"
(umask 077 && release "$second" "$work/release-3.log" TZ=Asia/Tokyo)
zip=$work/made-1.zip
sum=$(sha256sum <"$zip" | cut -c1-64)
if cmp -s "$zip" "$work/made-2.zip"; then ok "made twice: the same bytes"; else fail "made twice: the zips differ"; fi
if cmp -s "$zip" "$second/dist/$name.zip"; then
    ok "made in $second in another time zone: the same $(stat -c %s "$zip") bytes ($sum)"
else
    fail "the zips of $first and $second differ"
fi
grep -qx "$sum  $name.zip" "$work/release-1.log" && ok "release.sh prints the zip's SHA-256" ||
    fail "release.sh did not print '$sum  $name.zip'"

# The entries.
expected="$name/ $name/README.txt $name/SHA256SUMS $name/ovq.exe $name/x64/ $name/x64/ovq.exe"
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
[[ $(wc -l <<<"$details") == 6 ]] || { fail "zipinfo listed $(wc -l <<<"$details") entries, not 6"; wrong=1; }
extras=$(unzip -Z -v "$zip" | grep -c 'length of extra field: *0 bytes' || true)
[[ $extras == 6 ]] || { fail "$((6 - extras)) entries carry extra fields"; wrong=1; }
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

# README.txt.
txt=$dir/README.txt
[[ $(head -c 3 "$txt" | od -An -tx1 | tr -d ' ') == efbbbf ]] && ok "README.txt starts with a byte-order mark" ||
    fail "README.txt has no byte-order mark"
lf=$(tr -cd '\n' <"$txt" | wc -c)
cr=$(tr -cd '\r' <"$txt" | wc -c)
crlf=$(grep -c $'\r$' "$txt" || true)
if ((lf > 0 && lf == crlf && cr == lf)) && [[ $(tail -c 2 "$txt" | od -An -tx1 | tr -d ' ') == 0d0a ]]; then
    ok "README.txt: $lf lines, each ending in CRLF"
else
    fail "README.txt: $lf LF, $cr CR, $crlf lines ending in CRLF (or no CRLF at its end)"
fi
iconv -f UTF-8 -t UTF-8 "$txt" >/dev/null 2>&1 && ok "README.txt is valid UTF-8" || fail "README.txt is not valid UTF-8"

text=$work/README.lines # README.txt without the mark and the CRs
tail -c +4 "$txt" | tr -d '\r' >"$text"
head -n 1 "$text" | grep -qx "ovq $version" || fail "README.txt does not start with 'ovq $version'"
tr '\n' ' ' <"$text" | grep -q "Version $version, built from commit $commit" &&
    ok "README.txt names version $version and commit $commit" || fail "README.txt does not name version $version and commit $commit"

# README.md's user part, as the test reads it: the lines between the markers.
md=$first/README.md
user=$work/user-part.md
awk '/^<!-- user part: end -->$/ { inside = 0 } inside { print } /^<!-- user part: begin -->$/ { inside = 1 }' "$md" >"$user"
[[ -s $user ]] || fail "README.md has no user part"
has_line() { grep -qxF -- "$1" "$text"; }
plain() { sed -e 's/`//g' -e 's/\*\*//g' -e 's/\*\([^*]*\)\*/\1/g' -e 's/^ *//' -e 's/ *$//' <<<"$1"; }
missing=0 checked=0
while IFS= read -r heading; do
    checked=$((checked + 1))
    has_line "$(plain "$heading")" || { fail "README.txt lacks the heading '$heading'"; missing=1; }
done < <(sed -n 's/^#\{1,6\} \+//p' "$user")
while IFS= read -r cell; do
    checked=$((checked + 1))
    grep -q -- "^ *$(plain "$cell" | sed 's/[][\.*^$]/\\&/g')\( \|$\)" "$text" || { fail "README.txt lacks the table entry '$cell'"; missing=1; }
done < <(awk -F'|' '{ line[NR] = $0; cell[NR] = $2 }
    END { for (i = 1; i <= NR; i++) if (line[i] ~ /^\|/ && line[i] !~ /^\|[-:| ]*$/ && line[i + 1] !~ /^\|[-:| ]*$/) print cell[i] }' "$user")
code=$work/code-lines
awk '/^ *```/ { inside = !inside; next } inside && NF { print "    " $0 }' "$user" >"$code"
while IFS= read -r line; do
    checked=$((checked + 1))
    has_line "$line" || { fail "README.txt lacks the code line '$line'"; missing=1; }
done <"$code"
while IFS= read -r word; do
    checked=$((checked + 1))
    grep -qF -- "$word" "$text" || { fail "README.txt lacks '$word'"; missing=1; }
done < <(grep -oP '[^\x00-\x7F]+' "$user" | sort -u)
((missing)) || ok "README.txt has all $checked headings, table entries, code lines and non-ASCII texts of the user part"
while IFS= read -r heading; do
    ! has_line "$heading" || fail "README.txt has the heading '$heading', which is outside the user part"
done < <(awk '/^<!-- user part: begin -->$/ { inside = 1 } /^<!-- user part: end -->$/ { inside = 0 }
    !inside && /^##+ / { sub(/^#+ +/, ""); print }' "$md")
leftover=$(grep -vxF -f "$code" "$text" | grep -E '```|<!--|-->|\]\(|<img|<p>|\*\*|^#' || true)
[[ -z $leftover ]] && ok "no markdown or HTML left in README.txt" || fail "markdown left in README.txt: ${leftover//$'\n'/; }"
long=$(gawk 'length > 76' "$text" | grep -vxF -f "$code" || true)
[[ -z $long ]] && ok "no line over 76 columns but code" || fail "lines over 76 columns: ${long//$'\n'/; }"

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
    echo "release zip: FAILED (work dir $work)"
    exit 1
fi
echo "release zip: all checks passed ($name.zip, $(stat -c %s "$zip") bytes, $sum)"
