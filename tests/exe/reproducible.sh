#!/usr/bin/env bash
# Two builds of the same sources in two different directories give the same
# ovq.exe, and the same endcopy.dll (the installer's custom action), to the
# byte: nothing of the build's time or place may end up in them.
#   reproducible.sh <source dir> <preset> <ovq.exe built from it> <work dir>
# Copies the sources to a deeper, differently named directory under the work
# dir, builds both there with the same preset and compares each with the
# file of the same name beside the given ovq.exe.
set -euo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE
src=$(realpath "$1") preset=$2 built=$(realpath "$3") work=$4

[[ -f $built ]] || { echo "FAIL: no program at $built"; exit 1; }
rm -rf "$work"
copy="$work/elsewhere/a-longer-directory-name/ovq-copy"
mkdir -p "$copy"
work=$(realpath "$work")
copy=$(realpath "$copy")
tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -

echo "building a second copy in $copy"
if ! (cd "$copy" && cmake --preset "$preset" && cmake --build --preset "$preset" --target ovq endcopy) \
        >"$work/build.log" 2>&1; then
    tail -n 30 "$work/build.log"
    echo "FAIL: the second copy did not build"
    exit 1
fi

failed=0
for name in ovq.exe endcopy.dll; do
    first=$(dirname "$built")/$name second="$copy/build/$preset/$name"
    if cmp -s "$first" "$second"; then
        echo "ok: both builds of $name are the same $(stat -c %s "$first") bytes ($(sha256sum <"$first" | cut -c1-16))"
    else
        echo "FAIL: $first and $second differ; differing bytes (offset, octal values):"
        cmp -l "$first" "$second" | head -n 20
        failed=1
    fi
done
exit $failed
