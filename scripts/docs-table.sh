#!/usr/bin/env bash
# Puts a table that a script measured into its page, between its two comments:
#
#   scripts/docs-table.sh bench [<file>]   ./bench.sh's build/bench/bench.txt into docs/benchmarks.md
#   scripts/docs-table.sh times [<file>]   ./test.sh's build/test-times.txt into docs/building.md
#
# Everything between the page's lines `<!-- bench.sh table: begin -->` and
# `<!-- bench.sh table: end -->` (or `test.sh times`) becomes the file as it
# is, with a blank line on either side; nothing else of the page changes. The
# file's first line names what it was made of, "ovq <version> (commit
# <commit>), <date> UTC, <n> cores", which the docs check
# (tests/docs/check-docs.sh) holds against the repository's history: a run
# of a work tree with uncommitted changes names none, and is refused here.
# Figures on the pages are never typed by hand: commit the page this writes.
set -euo pipefail
export LC_ALL=C.UTF-8
unset LANGUAGE
cd "$(dirname "$0")/.."
say() { printf 'docs-table.sh: %s\n' "$*" >&2; }

case ${1:-} in
bench) name="bench.sh table" page=docs/benchmarks.md file=${2:-build/bench/bench.txt} ;;
times) name="test.sh times" page=docs/building.md file=${2:-build/test-times.txt} ;;
*) say "usage: docs-table.sh bench|times [<file>]"; exit 2 ;;
esac
[[ -f $file ]] || { say "no $file: run $([[ $1 == bench ]] && echo ./bench.sh || echo ./test.sh) first"; exit 1; }
first=$(head -n 1 "$file")
if ! [[ $first =~ ^ovq\ [0-9][0-9.]*\ \(commit\ [0-9a-f]{7,40}\),\ [0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}\ UTC,\ [0-9]+\ cores ]]; then
    say "$file does not start with 'ovq <version> (commit <commit>), <date> UTC, <n> cores': '$first'"
    exit 1
fi
begin="<!-- $name: begin -->" end="<!-- $name: end -->"
if [[ $(grep -cxF "$begin" "$page") != 1 || $(grep -cxF "$end" "$page") != 1 ]]; then
    say "$page needs one line '$begin' and one '$end'"
    exit 1
fi
new=$(mktemp "$page.XXXXXX")
trap 'rm -f "$new"' EXIT
gawk -v begin="$begin" -v end="$end" -v file="$file" '
    $0 == begin {
        print
        print ""
        while ((getline line < file) > 0) print line
        print ""
        skip = 1
        next
    }
    $0 == end { skip = 0 }
    !skip' "$page" >"$new"
chmod --reference="$page" "$new"
mv -f "$new" "$page"
trap - EXIT
say "$page: the $name of $file (${first%%,*})"
