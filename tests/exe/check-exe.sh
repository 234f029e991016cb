#!/usr/bin/env bash
# What the built ovq.exe must stay, whatever toolchain made it:
#   check-exe.sh <ovq.exe> <objdump> <i686|x86_64>
# - the machine it was built for: i386 (0x14c) in a PE32 image, or x86-64
#   (0x8664) in a PE32+ image;
# - at most 10,240 bytes, resources included;
# - importing exactly KERNEL32.dll, USER32.dll and SHELL32.dll;
# - a GUI program with ASLR (and its relocations), DEP, terminal-server aware
#   and no SEH: DllCharacteristics 0x8540, subsystem 2; the 64-bit program
#   also asks for a high-entropy base (0x8560);
# - unwind data on x86-64 only, where Windows unwinds through every frame by
#   the exception directory's table; i386 has none;
# - no time stamp;
# - resources: exactly the icon (ICON and GROUP_ICON "MAINICON") and the
#   version block, all Japanese (0x0411).
set -euo pipefail
exe=$1 objdump=$2 flavour=$3
failed=0
check() {  # check WHAT ACTUAL EXPECTED
    if [[ $2 == "$3" ]]; then
        echo "ok: $1 = $3"
    else
        echo "FAIL: $1: expected '$3', got '$2'"
        failed=1
    fi
}

case $flavour in
i686) machine=014c magic=010b dll_characteristics=00008540 ;;
x86_64) machine=8664 magic=020b dll_characteristics=00008560 ;;
*) echo "FAIL: unknown flavour '$flavour'"; exit 1 ;;
esac

[[ -f $exe ]] || { echo "FAIL: no program at $exe"; exit 1; }
# objdump prints the time stamp in local time: read it in UTC.
headers=$(TZ=UTC0 "$objdump" -p "$exe")
field() { awk -v name="$1" '$1 == name { print $2; exit }' <<<"$headers"; }
# A little-endian 16-bit field of the file at a byte offset, as 4 hex digits.
word_at() { od -An -tx1 -j "$1" -N2 "$exe" | awk '{ print $2 $1 }'; }
# The directory entry's size, from objdump's table (Entry N RVA SIZE Name).
directory_size() { awk -v name="$1" '$0 ~ name { print $4; exit }' <<<"$headers"; }

pe_header=$((16#$(od -An -tx4 -j 60 -N4 "$exe" | tr -d ' ')))
check "machine" "$(word_at $((pe_header + 4)))" "$machine"
check "optional header magic" "$(field Magic)" "$magic"

size=$(stat -c %s "$exe")
check "size at most 10240 bytes ($size)" "$((size <= 10240))" 1

dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr '[:lower:]' '[:upper:]' | sort | tr '\n' ' ')
check "imported DLLs" "$dlls" "KERNEL32.DLL SHELL32.DLL USER32.DLL "

check "subsystem" "$(field Subsystem)" 00000002
check "DllCharacteristics" "$(field DllCharacteristics)" "$dll_characteristics"
# ASLR needs the relocations to be in the file: the image's flags must not say
# they were stripped (0x0001), and the relocation directory must not be empty.
characteristics=$(field Characteristics)  # printed as 0x...
check "relocations kept (Characteristics $characteristics)" "$((characteristics & 1))" 0
relocs=$(directory_size 'Base Relocation Directory')
check "relocation directory present" "$((16#${relocs:-0} > 0))" 1
# One 12-byte entry for each function of the exception directory.
unwind=$((16#$(directory_size 'Exception Directory')))
if [[ $flavour == x86_64 ]]; then
    check "unwind entries present ($((unwind / 12)) functions)" "$((unwind > 0 && unwind % 12 == 0))" 1
else
    check "exception directory" "$unwind" 0
fi
check "time stamp" "$(sed -n 's/^Time\/Date\s*//p' <<<"$headers")" "Thu Jan  1 00:00:00 1970"

# The resource tree: type IDs 3 (ICON), 14 (GROUP_ICON), 16 (VERSION), each
# with one entry of language 0x0411; the icon group is named MAINICON.
tree=$(sed -n '/The .rsrc Resource Directory section/,$p' <<<"$headers")
types=$(awk '/^[0-9a-f]+   Entry: ID:/ { print $4 }' <<<"$tree" | tr '\n' ' ')
check "resource types" "$types" "0x000003, 0x00000e, 0x000010, "
languages=$(awk '/^[0-9a-f]+       Entry: ID:/ { print $4 }' <<<"$tree" | tr '\n' ' ')
check "resource languages" "$languages" "0x000411, 0x000411, 0x000411, "
check "icon group name" "$(grep -o 'name: \[[^]]*\]: [A-Z]*' <<<"$tree" | sed 's/.*: //')" MAINICON

exit $failed
