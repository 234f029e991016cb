#!/usr/bin/env bash
# What the installer's custom action endcopy.dll must stay, whatever toolchain
# made it:
#   check-dll.sh <endcopy.dll> <objdump> <i686|x86_64>
# - a DLL (Characteristics 0x2000) for the machine of the build, in a PE32 or
#   PE32+ image;
# - three exports, EndRunningCopies, RestoreEndedCopies and StartEndedCopies,
#   by those plain names, which the package's CustomAction rows name and
#   Windows Installer looks up;
# - importing exactly ADVAPI32.dll (tokens, the registry), KERNEL32.dll,
#   msi.dll, USER32.dll (wsprintfA), USERENV.dll (a user's environment) and
#   WTSAPI32.dll (a session's user): no C runtime;
# - ASLR with its relocations (a relocation directory, which the 64-bit
#   DLL has only by its anchor) and DEP (0x0140; 0x0160 with the high-entropy
#   base on x86-64), no SEH, no time stamp;
# - at most 16,384 bytes.
set -euo pipefail
dll=$1 objdump=$2 flavour=$3
# shellcheck source=tests/exe/pe-checks.sh
. "$(dirname "$0")/../tests/exe/pe-checks.sh"

case $flavour in
i686) magic=010b dll_characteristics=00000540 ;;
x86_64) magic=020b dll_characteristics=00000560 ;;
*) echo "FAIL: unknown flavour '$flavour'"; exit 1 ;;
esac
[[ -f $dll ]] || { echo "FAIL: no DLL at $dll"; exit 1; }
pe_read "$dll" "$objdump"

pe_check_image "$magic" "$dll_characteristics" "ADVAPI32.DLL KERNEL32.DLL MSI.DLL USER32.DLL USERENV.DLL WTSAPI32.DLL "
characteristics=$(hex "$(field Characteristics)")
check "a DLL (Characteristics $(field Characteristics))" "$((characteristics < 0 ? -1 : (characteristics & 0x2000) != 0))" 1
# objdump's table of names: "[Ordinal/Name Pointer] Table", then one
# "[ n] name" line each, up to a blank line.
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { names = 1; next } names && NF == 0 { names = 0 }
    names { print $NF }' <<<"$headers" | tr '\n' ' ')
check "exports" "$exports" "EndRunningCopies RestoreEndedCopies StartEndedCopies "
size=$(stat -c %s "$dll")
check "size at most 16384 bytes ($size)" "$((size <= 16384))" 1
exit $failed
