#!/usr/bin/env bash
# Every C++ source and header of the program, the tools and the tests is laid
# out as .clang-format says:
#   check-format.sh <source dir>
# Lists each file that is not, with the change that would make it so.
# `clang-format -i <file>` mends a file.
set -euo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE
src=$(realpath "$1")
cd "$src"
command -v clang-format >/dev/null || { echo "FAIL: clang-format is missing"; exit 1; }

mapfile -t files < <(find src res tests tools installer \( -name '*.cpp' -o -name '*.h' \) -type f | sort)
((${#files[@]} > 0)) || { echo "FAIL: no sources found under $src"; exit 1; }
failed=0
for file in "${files[@]}"; do
    if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
        echo "not formatted: $file"
        clang-format "$file" | diff -u "$file" - | head -n 20 || true
        failed=1
    fi
done
if ((failed)); then
    echo "FAIL: run clang-format -i on the files above"
    exit 1
fi
echo "ok: ${#files[@]} files formatted ($(clang-format --version))"
