#!/usr/bin/env bash
# README.txt, as scripts/readme-txt.sh makes it of the users' page, is what a
# user reads in Notepad and holds everything the page says:
#
#   tests/docs/check-readme-txt.sh <page.md> <README.txt> <version> <commit> <work dir>
#
# - a byte-order mark, CRLF at every line end and no other line end, valid
#   UTF-8;
# - a head with the version and the commit;
# - every heading of the page, in the page's order, every table entry, code
#   line and non-ASCII text (the Japanese ones);
# - no markdown or HTML left over, and no line over 76 columns but code.
# One line a check, "ok: ..." or "FAIL: ..."; exits 1 when one failed. The
# release test runs it on the zip's README.txt, the docs check on one made
# from the page as it is.
# ok and fail below always return 0: `check && ok ... || fail ...` says one of them.
# shellcheck disable=SC2015
set -euo pipefail
export LC_ALL=C.UTF-8
unset LANGUAGE

(($# == 5)) || { echo "usage: check-readme-txt.sh <page.md> <README.txt> <version> <commit> <work dir>" >&2; exit 2; }
md=$1 txt=$2 version=$3 commit=$4 work=$5
mkdir -p "$work"
failed=0
ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failed=1; }

[[ -f $md ]] || { fail "no page $md"; exit 1; }
[[ -f $txt ]] || { fail "no README.txt at $txt"; exit 1; }

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

# The page without its fenced code blocks' contents, where a '#' starts no heading.
prose=$work/page-prose.md
awk '/^ *```/ { inside = !inside; next } !inside' "$md" >"$prose"
has_line() { grep -qxF -- "$1" "$text"; }
plain() { sed -e 's/`//g' -e 's/\*\*//g' -e 's/\*\([^*]*\)\*/\1/g' -e 's/^ *//' -e 's/ *$//' <<<"$1"; }
missing=0 checked=0
line_no=0
while IFS= read -r heading; do
    checked=$((checked + 1))
    heading=$(plain "$heading")
    # Each heading, underlined, after the one before it.
    found=$(awk -v from="$line_no" -v h="$heading" 'NR > from && $0 == h { getline next_line; if (next_line ~ /^[=-]+$/) { print NR; exit } }' "$text")
    if [[ -n $found ]]; then
        line_no=$found
    else
        fail "README.txt lacks the heading '$heading' (underlined, after the headings before it)"
        missing=1
    fi
done < <(sed -n 's/^#\{1,6\} \+//p' "$prose")
while IFS= read -r cell; do
    checked=$((checked + 1))
    grep -q -- "^ *$(plain "$cell" | sed 's/[][\.*^$]/\\&/g')\( \|$\)" "$text" || { fail "README.txt lacks the table entry '$cell'"; missing=1; }
done < <(awk -F'|' '{ line[NR] = $0; cell[NR] = $2 }
    END { for (i = 1; i <= NR; i++) if (line[i] ~ /^\|/ && line[i] !~ /^\|[-:| ]*$/ && line[i + 1] !~ /^\|[-:| ]*$/) print cell[i] }' "$prose")
code=$work/code-lines
awk '/^ *```/ { inside = !inside; next } inside && NF { print "    " $0 }' "$md" >"$code"
while IFS= read -r line; do
    checked=$((checked + 1))
    has_line "$line" || { fail "README.txt lacks the code line '$line'"; missing=1; }
done <"$code"
while IFS= read -r word; do
    checked=$((checked + 1))
    grep -qF -- "$word" "$text" || { fail "README.txt lacks '$word'"; missing=1; }
done < <(grep -oP '[^\x00-\x7F]+' "$md" | sort -u)
((missing)) || ok "README.txt has all $checked headings (in order), table entries, code lines and non-ASCII texts of $(basename "$md")"
leftover=$(grep -vxF -f "$code" "$text" | grep -E '```|<!--|-->|\]\(|<img|<p>|\*\*|^#' || true)
[[ -z $leftover ]] && ok "no markdown or HTML left in README.txt" || fail "markdown left in README.txt: ${leftover//$'\n'/; }"
long=$(gawk 'length > 76' "$text" | grep -vxF -f "$code" || true)
[[ -z $long ]] && ok "no line over 76 columns but code" || fail "lines over 76 columns: ${long//$'\n'/; }"

exit $failed
