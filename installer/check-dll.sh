#!/usr/bin/env bash
# What the installer's custom action endcopy.dll must stay, whatever toolchain
# made it:
#   check-dll.sh <endcopy.dll> <objdump> <i686|x86_64>
# - a DLL (Characteristics 0x2000) for the machine of the build, in a PE32 or
#   PE32+ image;
# - one export, EndRunningCopy, by that plain name, which the package's
#   CustomAction row names and Windows Installer looks up;
# - importing exactly KERNEL32.dll, USER32.dll and msi.dll: no C runtime;
# - ASLR with its relocations (a relocation directory, which the 64-bit
#   DLL has only by its anchor) and DEP (0x0140; 0x0160 with the high-entropy
#   base on x86-64), no SEH, no time stamp;
# - at most 8,192 bytes.
set -euo pipefail
dll=$1 objdump=$2 flavour=$3
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
i686) magic=010b dll_characteristics=00000540 ;;
x86_64) magic=020b dll_characteristics=00000560 ;;
*) echo "FAIL: unknown flavour '$flavour'"; exit 1 ;;
esac
[[ -f $dll ]] || { echo "FAIL: no DLL at $dll"; exit 1; }
headers=$(TZ=UTC0 "$objdump" -p "$dll")
field() { awk -v name="$1" '$1 == name { print $2; exit }' <<<"$headers"; }

check "optional header magic" "$(field Magic)" "$magic"
characteristics=$(field Characteristics)
check "a DLL (Characteristics $characteristics)" "$(((characteristics & 0x2000) != 0))" 1
check "relocations kept" "$((characteristics & 1))" 0
relocs=$(awk '/Base Relocation Directory/ { print $4; exit }' <<<"$headers")
check "relocation directory present" "$((16#${relocs:-0} > 0))" 1
check "DllCharacteristics" "$(field DllCharacteristics)" "$dll_characteristics"
# objdump's table of names: "[Ordinal/Name Pointer] Table", then one
# "[ n] name" line each, up to a blank line.
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { names = 1; next } names && NF == 0 { names = 0 }
    names { print $NF }' <<<"$headers" | tr '\n' ' ')
check "exports" "$exports" "EndRunningCopy "
dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr '[:lower:]' '[:upper:]' | sort | tr '\n' ' ')
check "imported DLLs" "$dlls" "KERNEL32.DLL MSI.DLL USER32.DLL "
check "time stamp" "$(sed -n 's/^Time\/Date\s*//p' <<<"$headers" | head -n 1)" "Thu Jan  1 00:00:00 1970"
size=$(stat -c %s "$dll")
check "size at most 8192 bytes ($size)" "$((size <= 8192))" 1
exit $failed
