#!/usr/bin/env bash
# The program's sources pass the checks of .clang-tidy, compiled as the build
# whose compile database is given compiles them:
#   check-tidy.sh <build dir with compile_commands.json> <source>...
# Every finding fails; each is printed with where it is and why.
set -euo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE
build=$1
shift
command -v clang-tidy >/dev/null || { echo "FAIL: clang-tidy is missing"; exit 1; }
[[ -f $build/compile_commands.json ]] || { echo "FAIL: no compile_commands.json in $build"; exit 1; }
(($# > 0)) || { echo "FAIL: no sources given"; exit 1; }

failed=0
for file in "$@"; do
    if ! output=$(clang-tidy -p "$build" --quiet "$file" 2>&1); then
        echo "$output" | grep -v '^[0-9]* warnings\? generated' || true
        failed=1
    fi
done
if ((failed)); then
    echo "FAIL: clang-tidy found the faults above"
    exit 1
fi
echo "ok: $# sources without findings ($(clang-tidy --version | grep -o 'version [0-9.]*'))"
