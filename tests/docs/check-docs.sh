#!/usr/bin/env bash
# The pages of ovq (README.md, CHANGELOG.md, docs/*.md) name only what exists
# and state only figures that are the build's or a generated table's own:
#
#   tests/docs/check-docs.sh [<source dir> [<work dir>]]
#
# (defaults: this repository and its build/docs-check). Checks:
# - links: every relative link and image leads to a file of the repository,
#   and every #anchor to a heading of its page;
# - names: every path of the repository a page names in code (`scripts/x.sh`,
#   `./test.sh`, `tests/wine/`) exists; every `--preset` and every preset of a
#   table headed "Preset" is one of CMakePresets.json; every test a page
#   names (`wine.idle`, `exe.shape`) is registered; every OVQ_ variable is
#   read by a file that is not a page;
# - figures: every size, time or width a page states outside the generated
#   tables (a number with a unit: bytes, KiB, ms, s, seconds, minutes, %,
#   columns...) is listed for that page in tests/docs/figures.txt with the
#   file that defines it, and that file holds it; an entry no page states any
#   more fails too;
# - the generated tables, `./bench.sh`'s in docs/benchmarks.md and
#   `./test.sh`'s times in docs/building.md, each between its two comments:
#   its first line names a version and a commit; the commit is HEAD or one
#   before it, and the version is that commit's; the table has the header its
#   script writes; when the script's own file (build/bench/bench.txt,
#   build/test-times.txt) is of the same run, the block is that file;
# - consistency: every msiexec command line carries /norestart; every
#   release file name (ovq-<version>.zip, -x86.msi, -x64.msi) has the current
#   version; the pages that say which Windows say "Windows Vista to Windows
#   11", which is what the manifest names; no page says "every Windows";
#   README.md has at most 150 lines and links LICENSE; CHANGELOG.md has a
#   section for the current version;
# - README.txt: scripts/readme-txt.sh makes it of docs/using.md, and it passes
#   tests/docs/check-readme-txt.sh, as the zip's does in the release test.
# One line a failure, naming the page and its line; the last line counts the
# checks. Exits 1 when one failed.
# ok and fail below always return 0: `check && ok || fail ...` says one of them.
# shellcheck disable=SC2015
set -euo pipefail
export LC_ALL=C.UTF-8
unset LANGUAGE
here=$(cd "$(dirname "$0")" && pwd)
src=$(realpath "${1:-$here/../..}")
work=${2:-$src/build/docs-check}
cd "$src"
rm -rf "$work"
mkdir -p "$work"

failed=0 checks=0
ok() { checks=$((checks + 1)); }
fail() { checks=$((checks + 1)); failed=1; echo "FAIL: $*"; }

pages=(README.md CHANGELOG.md)
for page in docs/*.md; do pages+=("$page"); done
for page in "${pages[@]}"; do
    [[ -f $page ]] || { fail "no page $page"; exit 1; }
done
version=$(sed -n 's/^[[:space:]]*project([[:space:]]*ovq[[:space:]]\+VERSION[[:space:]]\+\([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { fail "no version in CMakeLists.txt"; exit 1; }
have_git=0
git rev-parse --verify -q HEAD >/dev/null 2>&1 && have_git=1

# The generated blocks: the page, the name in its comments, the script's file,
# and how its table's header row starts.
blocks=("docs/benchmarks.md|bench.sh table|build/bench/bench.txt|| Figure "
    "docs/building.md|test.sh times|build/test-times.txt|| Step of ./test.sh ")

# ---- reading the pages ----
# One record a line, tab-separated, for every page:
#   L page line target        a link or image
#   C page line text          a code span, or a line of a fenced code block
#   P page line text          a line of prose, code spans and comments taken out
#   H page slug               a heading's anchor, as GitHub makes it
#   G page line name begin|end  a generated block's comment
# Generated blocks give no records but G.
read_pages() {
    gawk '
    function slug(h,    t) {
        t = h
        gsub(/`/, "", t)
        t = gensub(/\[([^]]*)\]\([^)]*\)/, "\\1", "g", t)
        t = tolower(t)
        gsub(/[^[:alnum:]_ -]/, "", t)
        gsub(/ /, "-", t)
        return t
    }
    FNR == 1 { fence = 0; generated = 0; delete seen }
    {
        line = $0
        sub(/\r$/, "", line)
        if (match(line, /^<!-- (.*): (begin|end) -->$/, m)) {
            print "G\t" FILENAME "\t" FNR "\t" m[1] "\t" m[2]
            generated = m[2] == "begin"
            next
        }
        if (generated) next
        if (line ~ /^ *(```|~~~)/) { fence = !fence; next }
        if (fence) { print "C\t" FILENAME "\t" FNR "\t" line; next }
        if (match(line, /^#{1,6} +(.*)$/, m)) {
            s = slug(m[1])
            if (s in seen) { seen[s]++; s = s "-" seen[s] } else seen[s] = 0
            print "H\t" FILENAME "\t" s
        }
        rest = line
        while (match(rest, /`[^`]+`/)) {
            print "C\t" FILENAME "\t" FNR "\t" substr(rest, RSTART + 1, RLENGTH - 2)
            rest = substr(rest, 1, RSTART - 1) " " substr(rest, RSTART + RLENGTH)
        }
        gsub(/<!--.*-->/, " ", rest)
        t = rest
        while (match(t, /\]\(([^) ]+)( +"[^"]*")?\)/, m)) {
            print "L\t" FILENAME "\t" FNR "\t" m[1]
            t = substr(t, RSTART + RLENGTH)
        }
        t = rest
        while (match(t, /(src|href)="([^"]+)"/, m)) {
            print "L\t" FILENAME "\t" FNR "\t" m[2]
            t = substr(t, RSTART + RLENGTH)
        }
        print "P\t" FILENAME "\t" FNR "\t" rest
    }' "${pages[@]}"
}
records=$work/records
read_pages >"$records"

# ---- links ----
while IFS=$'\t' read -r _ page line target; do
    [[ $target =~ ^[a-z][a-z0-9+.-]*: ]] && continue # an address on the web
    path=${target%%#*} anchor=
    [[ $target == *#* ]] && anchor=${target#*#}
    if [[ -z $path ]]; then
        file=$page
    else
        file=$(realpath -m --relative-to="$src" "$(dirname "$page")/$path")
    fi
    if [[ $file == ../* || ! -e $file ]]; then
        fail "$page:$line: the link '$target' leads to no file of the repository"
        continue
    fi
    if [[ -n $anchor ]]; then
        if ! awk -F'\t' -v f="$file" -v a="$anchor" '$1 == "H" && $2 == f && $3 == a { found = 1 } END { exit !found }' "$records"; then
            fail "$page:$line: the link '$target': $file has no heading whose anchor is #$anchor"
            continue
        fi
    fi
    ok
done < <(awk -F'\t' '$1 == "L"' "$records")

# ---- names: paths, presets, tests, variables ----
mapfile -t top < <(git ls-files 2>/dev/null | cut -d/ -f1 | sort -u)
if ((${#top[@]} == 0)); then # not a git work tree: what lies here
    for entry in * .[!.]*; do
        [[ -e $entry && $entry != build && $entry != dist && $entry != .git ]] && top+=("$entry")
    done
fi
is_top() {
    local t
    for t in "${top[@]}"; do [[ $t == "$1" ]] && return 0; done
    return 1
}
presets=" $(sed -n 's/.*"name": *"\([^"]*\)".*/\1/p' CMakePresets.json | sort -u | paste -sd' ') "
cmake_files=$(git ls-files '*CMakeLists.txt' '*.cmake' 2>/dev/null || find . -name CMakeLists.txt -o -name '*.cmake')
test_exists() {
    local name=$1 kind=${1%%.*} rest=${1#*.}
    # shellcheck disable=SC2086
    grep -qE "add_test\(NAME ${name//./\\.}( |\$)" $cmake_files && return 0
    case $kind in
    wine) grep -qE "^ovq_wine_test\($rest " tests/wine/CMakeLists.txt ;;
    scripts) [[ -f tests/scripts/$rest.sh ]] ;;
    *) return 1 ;;
    esac
}
# The words of the code, one record each (W page line word); the presets
# (R page line name); msiexec command lines without /norestart (M page line
# text).
awk -F'\t' '$1 == "C" {
    text = $4
    if (text ~ /msiexec \// && text !~ /\/norestart/) print "M\t" $2 "\t" $3 "\t" text
    t = text
    while (match(t, /--preset[ =][A-Za-z0-9_-]+/)) {
        print "R\t" $2 "\t" $3 "\t" substr(t, RSTART + 9, RLENGTH - 9)
        t = substr(t, RSTART + RLENGTH)
    }
    n = split(text, words, /[ \t(),;"'"'"'=|]+/)
    for (i = 1; i <= n; i++) {
        w = words[i]
        sub(/[.:]+$/, "", w)
        if (w != "") print "W\t" $2 "\t" $3 "\t" w
    }
}' "$records" >"$work/words"
while IFS=$'\t' read -r kind page line word; do
    case $kind in
    M) fail "$page:$line: an msiexec command line without /norestart: $word" ;;
    R) [[ $presets == *" $word "* ]] && ok || fail "$page:$line: the preset '$word' is not in CMakePresets.json" ;;
    W)
        # A test's name, also as a regular expression: ^wine\.idle$
        if [[ $word =~ ^\^?(wine|exe|docs|style|scripts|installer|sanitized|fuzz)\\?\.([a-z][a-z_-]*)\$?$ ]]; then
            word=${BASH_REMATCH[1]}.${BASH_REMATCH[2]}
            test_exists "$word" && ok || fail "$page:$line: names the test '$word', which no CMake file registers"
            continue
        fi
        [[ $word == *[\<\>\*\$\{\}\\]* ]] && continue
        path=${word#./}
        [[ $path == /* || -z $path ]] && continue
        first=${path%%/*}
        is_top "$first" || continue
        [[ $path == */* || $word == ./* || $path == *.* ]] || continue
        [[ -e $path ]] && ok || fail "$page:$line: names '$word', which the repository does not have"
        ;;
    esac
done <"$work/words"
# The first cells of a table headed "Preset".
for page in "${pages[@]}"; do
    while IFS=: read -r line preset; do
        [[ $presets == *" $preset "* ]] && ok || fail "$page:$line: the preset table names '$preset', which CMakePresets.json has not"
    done < <(awk '/^\| *Preset *\|/ { table = 1; next } table && /^\|[-: |]*$/ { next }
        table && /^\|/ { split($0, c, "|"); p = c[2]; gsub(/[ `]/, "", p); if (p != "—" && p != "-") print FNR ":" p; next } { table = 0 }' "$page")
done
# OVQ_ variables.
while IFS=: read -r page line name; do
    if git grep -qw -e "$name" -- ':!*.md' 2>/dev/null || grep -rqw --exclude='*.md' --exclude-dir=build --exclude-dir=.git -e "$name" .; then
        ok
    else
        fail "$page:$line: names $name, which no script or CMake file reads"
    fi
done < <(grep -noE 'OVQ_[A-Z0-9_]*[A-Z0-9]' "${pages[@]}" | sort -u)

# ---- figures ----
figures=$here/figures.txt
declare -A stated=()
unit='(bytes?|B|KiB|MiB|GiB|ms|s|seconds?|minutes?|min|%|columns?)'
# F page line figure: each number with a unit in the prose.
awk -F'\t' -v unit="$unit" '$1 == "P" {
    t = $4
    re = "(^|[^0-9A-Za-z.,_-])[0-9]+([.,][0-9]+)*[ ]?" unit "([^A-Za-z0-9_]|$)"
    while (match(t, re)) {
        f = substr(t, RSTART, RLENGTH)
        t = substr(t, RSTART + RLENGTH - 1)
        sub(/^[^0-9]*/, "", f)
        sub(/[^A-Za-z%]*$/, "", f)
        print "F\t" $2 "\t" $3 "\t" f
    }
}' "$records" >"$work/figures"
while IFS=$'\t' read -r _ page line figure; do
    [[ -n ${stated["$page|$figure"]:-} ]] || stated["$page|$figure"]=$line
done <"$work/figures"
declare -A listed=()
while IFS= read -r entry; do
    [[ -z $entry || $entry == \#* ]] && continue
    page=${entry%% | *} rest=${entry#* | }
    figure=${rest%% | *} rest=${rest#* | }
    file=${rest%% | *} pattern=${rest#* | }
    listed["$page|$figure"]=1
    if [[ -z ${stated["$page|$figure"]:-} ]]; then
        fail "tests/docs/figures.txt: $page does not state '$figure' (any more): remove the entry"
    elif [[ ! -f $file ]]; then
        fail "tests/docs/figures.txt: '$figure' of $page is defined in $file, which does not exist"
    elif ! grep -qE -- "$pattern" "$file"; then
        fail "$page:${stated["$page|$figure"]}: states '$figure', but $file no longer matches '$pattern'"
    else
        ok
    fi
done <"$figures"
for key in "${!stated[@]}"; do
    [[ -n ${listed[$key]:-} ]] && continue
    fail "${key%%|*}:${stated[$key]}: states the figure '${key#*|}', which is neither in a generated table nor listed in tests/docs/figures.txt"
done

# ---- the generated tables ----
for block in "${blocks[@]}"; do
    IFS='|' read -r page name file header <<<"$block"
    header="|${header#|}"
    begin=$(grep -nxF "<!-- $name: begin -->" "$page" | cut -d: -f1 | paste -sd' ')
    end=$(grep -nxF "<!-- $name: end -->" "$page" | cut -d: -f1 | paste -sd' ')
    if [[ ! $begin =~ ^[0-9]+$ || ! $end =~ ^[0-9]+$ ]] || ((end < begin)); then
        fail "$page: needs one '<!-- $name: begin -->' and, after it, one '<!-- $name: end -->' (found lines '$begin' and '$end')"
        continue
    fi
    : >"$work/block"
    ((end == begin + 1)) ||
        sed -n "$((begin + 1)),$((end - 1))p" "$page" | sed '/./,$!d' | tac | sed '/./,$!d' | tac >"$work/block"
    if [[ ! -s $work/block ]]; then
        fail "$page:$begin: the $name block is empty: scripts/docs-table.sh fills it from $file"
        continue
    fi
    first=$(head -n 1 "$work/block")
    if ! [[ $first =~ ^ovq\ ([0-9][0-9.]*)\ \(commit\ ([0-9a-f]{7,40})\),\ [0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}\ UTC,\ [0-9]+\ cores ]]; then
        fail "$page:$((begin + 1)): the $name block does not start with 'ovq <version> (commit <commit>), <date> UTC, <n> cores': '$first'"
        continue
    fi
    made_version=${BASH_REMATCH[1]} made_commit=${BASH_REMATCH[2]}
    if ((have_git)); then
        if ! git rev-parse --verify -q "$made_commit^{commit}" >/dev/null; then
            fail "$page:$((begin + 1)): the $name block names commit $made_commit, which this repository does not have"
            continue
        fi
        if ! git merge-base --is-ancestor "$made_commit" HEAD; then
            fail "$page:$((begin + 1)): the $name block names commit $made_commit, which is not HEAD nor before it"
            continue
        fi
        then_version=$(git show "$made_commit:CMakeLists.txt" | sed -n 's/^[[:space:]]*project([[:space:]]*ovq[[:space:]]\+VERSION[[:space:]]\+\([0-9.]*\).*/\1/p')
        if [[ $then_version != "$made_version" ]]; then
            fail "$page:$((begin + 1)): the $name block names version $made_version, but commit $made_commit is version $then_version"
            continue
        fi
    else
        echo "not a git work tree: the commit of the $name block in $page is not looked up" >>"$work/notes.txt"
    fi
    if ! grep -q "^$(sed 's/[][\.*^$/]/\\&/g' <<<"$header")" "$work/block"; then
        fail "$page: the $name block has no table headed '$header...'"
        continue
    fi
    if [[ -f $file && $(head -n 1 "$file") == "$first" ]] && ! cmp -s <(sed '/./,$!d' "$file" | tac | sed '/./,$!d' | tac) "$work/block"; then
        fail "$page: the $name block is not $file of the same run: was it edited by hand? (scripts/docs-table.sh writes it)"
        continue
    fi
    ok
done

# ---- consistency ----
while IFS=: read -r page line name; do
    [[ $page == CHANGELOG.md ]] && continue
    [[ $name == "ovq-$version"* ]] && ok || fail "$page:$line: the file name $name is not of the current version $version"
done < <(grep -noE 'ovq-[0-9]+(\.[0-9]+)*(-x86|-x64)?\.(zip|msi)' "${pages[@]}" || true)
for page in README.md docs/using.md docs/deploying.md; do
    grep -q 'Windows Vista to Windows 11' "$page" && ok || fail "$page: does not say which Windows as 'Windows Vista to Windows 11'"
done
if grep -qF '<!-- Vista, 7, 8, 8.1, 10 and 11 -->' res/ovq.manifest.in && [[ $(grep -c '<supportedOS ' res/ovq.manifest.in) == 5 ]]; then
    ok
else
    fail "res/ovq.manifest.in no longer names Vista, 7, 8, 8.1, 10 and 11: say in the pages which Windows it names"
fi
while IFS= read -r hit; do
    fail "$hit: says 'every Windows': say 'Windows Vista to Windows 11'"
done < <(grep -niF 'every Windows' "${pages[@]}" || true)
lines=$(wc -l <README.md)
((lines <= 150)) && ok || fail "README.md has $lines lines, more than 150: move the detail to a page in docs/"
grep -qF '](LICENSE)' README.md && ok || fail "README.md does not link LICENSE"
grep -qxF "## $version" CHANGELOG.md && ok ||
    fail "CHANGELOG.md has no section '## $version' for the version in CMakeLists.txt"

# ---- README.txt ----
commit=0000000000000000000000000000000000000000 date=1970-01-01
if ((have_git)); then
    commit=$(git rev-parse HEAD)
    date=$(TZ=UTC0 git log -1 --date=format-local:%Y-%m-%d --format=%cd HEAD)
fi
if scripts/readme-txt.sh docs/using.md "$version" "$commit" "$date" >"$work/README.txt" 2>"$work/readme-txt.err"; then
    if "$here/check-readme-txt.sh" docs/using.md "$work/README.txt" "$version" "$commit" "$work/readme-txt" >"$work/readme-txt.log"; then
        ok
    else
        grep -v '^ok:' "$work/readme-txt.log" | sed 's/^FAIL: /FAIL: README.txt of docs\/using.md: /'
        fail "README.txt made from docs/using.md (log: $work/readme-txt.log)"
    fi
else
    fail "scripts/readme-txt.sh cannot make README.txt of docs/using.md: $(cat "$work/readme-txt.err")"
fi

[[ -s $work/notes.txt ]] && cat "$work/notes.txt"
if ((failed)); then
    echo "docs: FAILED (work dir $work)"
    exit 1
fi
echo "docs: all $checks checks passed over ${#pages[@]} pages"
