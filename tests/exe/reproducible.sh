#!/usr/bin/env bash
# Two builds of the same sources in two different directories give the same
# ovq.exe to the byte: nothing of the build's time or place may end up in it.
#   reproducible.sh <source dir> <preset> <ovq.exe built from it> <work dir>
# Copies the sources to a deeper, differently named directory under the work
# dir, builds ovq.exe there with the same preset and compares the two files.
set -euo pipefail
src=$(realpath "$1") preset=$2 built=$(realpath "$3") work=$4

[[ -f $built ]] || { echo "FAIL: no program at $built"; exit 1; }
rm -rf "$work"
copy="$work/elsewhere/a-longer-directory-name/ovq-copy"
mkdir -p "$copy"
work=$(realpath "$work")
copy=$(realpath "$copy")
tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -

echo "building a second copy in $copy"
if ! (cd "$copy" && cmake --preset "$preset" && cmake --build --preset "$preset" --target ovq) \
        >"$work/build.log" 2>&1; then
    tail -n 30 "$work/build.log"
    echo "FAIL: the second copy did not build"
    exit 1
fi

second="$copy/build/$preset/ovq.exe"
if cmp -s "$built" "$second"; then
    echo "ok: both builds are the same $(stat -c %s "$built") bytes ($(sha256sum <"$built" | cut -c1-16))"
    exit 0
fi
echo "FAIL: $built and $second differ; differing bytes (offset, octal values):"
cmp -l "$built" "$second" | head -n 20
exit 1
