#!/usr/bin/env bash
# The checks of the built images read objdump whatever the caller's locale, and
# a header field they cannot read fails its check instead of passing on an
# empty value:
#   any-locale.sh <ovq.exe> <endcopy.dll> <objdump> <i686|x86_64> <version>
# - under the Japanese locale, where objdump prints its headers translated
#   (Characteristics as 固有), check-exe.sh and check-dll.sh pass;
# - with an objdump whose headers say Characteristics and the relocation
#   directory in other words, as a translation would that the checks did not
#   undo, both fail, naming those checks.
set -uo pipefail
exe=$1 dll=$2 objdump=$3 flavour=$4 version=$5
here=$(cd "$(dirname "$0")" && pwd)
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failed=1; }

# run NAME LOCALE OBJDUMP: both checks; their output in $work/NAME-exe, -dll,
# their exit codes in EXE_RC and DLL_RC.
run() {
    EXE_RC=0 DLL_RC=0
    env LC_ALL="$2" LANGUAGE="${2%%_*}" bash "$here/check-exe.sh" "$exe" "$3" "$flavour" "$version" \
        >"$work/$1-exe" 2>&1 || EXE_RC=$?
    env LC_ALL="$2" LANGUAGE="${2%%_*}" bash "$here/../../installer/check-dll.sh" "$dll" "$3" "$flavour" \
        >"$work/$1-dll" 2>&1 || DLL_RC=$?
}

if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
    fail "no ja_JP.UTF-8 locale here (scripts/install-deps.sh makes it)"
else
    translated=$(LC_ALL=ja_JP.UTF-8 LANGUAGE=ja "$objdump" -p "$dll" | grep -c '^Characteristics ')
    echo "objdump under ja_JP.UTF-8 prints the line Characteristics ${translated} times (0: translated)"
    run ja ja_JP.UTF-8 "$objdump"
    if ((EXE_RC == 0 && DLL_RC == 0)); then
        ok "under ja_JP.UTF-8 both checks pass ($(grep -c '^ok: ' "$work/ja-exe") and $(grep -c '^ok: ' "$work/ja-dll") checks)"
    else
        fail "under ja_JP.UTF-8: check-exe.sh $EXE_RC, check-dll.sh $DLL_RC"
        grep -h '^FAIL' "$work/ja-exe" "$work/ja-dll"
    fi
fi

# An objdump whose words the checks cannot read.
cat >"$work/objdump" <<SCRIPT
#!/bin/sh
"$objdump" "\$@" | sed 's/^Characteristics/Merkmale/; s/Base Relocation Directory/Verschiebungen/'
SCRIPT
chmod +x "$work/objdump"
run unreadable C.UTF-8 "$work/objdump"
for expected in "exe:relocations kept" "exe:relocation directory present" "dll:relocations kept" "dll:a DLL"; do
    which=${expected%%:*} what=${expected#*:}
    rc=$([[ $which == exe ]] && echo "$EXE_RC" || echo "$DLL_RC")
    if ((rc != 0)) && grep -q "^FAIL: $what" "$work/unreadable-$which"; then
        ok "unreadable headers: the $which check '$what' fails: $(grep -m1 "^FAIL: $what" "$work/unreadable-$which")"
    else
        fail "unreadable headers: the $which check '$what' did not fail (exit code $rc): $(grep -m1 "$what" "$work/unreadable-$which")"
    fi
done
exit $failed
