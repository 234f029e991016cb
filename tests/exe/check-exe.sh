#!/usr/bin/env bash
# What the built ovq.exe must stay, whatever toolchain made it:
#   check-exe.sh <ovq.exe> <objdump> <i686|x86_64> <version>
# - the machine it was built for: i386 (0x14c) in a PE32 image, or x86-64
#   (0x8664) in a PE32+ image;
# - at most 12,288 bytes, resources included;
# - importing exactly KERNEL32.dll, USER32.dll and SHELL32.dll;
# - a GUI program with ASLR (and its relocations), DEP, terminal-server aware
#   and no SEH: DllCharacteristics 0x8540, subsystem 2; the 64-bit program
#   also asks for a high-entropy base (0x8560);
# - unwind data on x86-64 only, where Windows unwinds through every frame by
#   the exception directory's table; i386 has none;
# - no time stamp;
# - resources: exactly the icon (ICON and GROUP_ICON "MAINICON") and the
#   version block, all Japanese (0x0411), and the manifest (MANIFEST 1, of no
#   language): well-formed XML with the program's identity (its version and
#   machine), the common controls 6, the execution level asInvoker, every
#   supported Windows, and the code page, DPI awareness settings, each in the
#   namespace Windows knows it by.
set -euo pipefail
exe=$1 objdump=$2 flavour=$3 version=$4
# shellcheck source=tests/exe/pe-checks.sh
. "$(dirname "$0")/pe-checks.sh"

case $flavour in
i686) machine=014c magic=010b dll_characteristics=00008540 architecture=x86 ;;
x86_64) machine=8664 magic=020b dll_characteristics=00008560 architecture=amd64 ;;
*) echo "FAIL: unknown flavour '$flavour'"; exit 1 ;;
esac

[[ -f $exe ]] || { echo "FAIL: no program at $exe"; exit 1; }
pe_read "$exe" "$objdump"
# A little-endian 16-bit field of the file at a byte offset, as 4 hex digits.
word_at() { od -An -tx1 -j "$1" -N2 "$exe" | awk '{ print $2 $1 }'; }

pe_header=$((16#$(od -An -tx4 -j 60 -N4 "$exe" | tr -d ' ')))
check "machine" "$(word_at $((pe_header + 4)))" "$machine"
pe_check_image "$magic" "$dll_characteristics" "KERNEL32.DLL SHELL32.DLL USER32.DLL "

size=$(stat -c %s "$exe")
check "size at most 12288 bytes ($size)" "$((size <= 12288))" 1
check "subsystem" "$(field Subsystem)" 00000002
# One 12-byte entry for each function of the exception directory.
unwind=$(hex "$(directory_size 'Exception Directory')")
if [[ $flavour == x86_64 ]]; then
    check "unwind entries present ($((unwind / 12)) functions)" "$((unwind > 0 && unwind % 12 == 0))" 1
else
    check "exception directory" "$unwind" 0
fi

# The resource tree: type IDs 3 (ICON), 14 (GROUP_ICON), 16 (VERSION), each
# with one entry of language 0x0411, and 24 (MANIFEST) of language 0 (objdump
# prints that one without its 0x); the icon group is named MAINICON.
tree=$(sed -n '/The .rsrc Resource Directory section/,$p' <<<"$headers")
types=$(awk '/^[0-9a-f]+   Entry: ID:/ { print $4 }' <<<"$tree" | tr '\n' ' ')
check "resource types" "$types" "0x000003, 0x00000e, 0x000010, 0x000018, "
languages=$(awk '/^[0-9a-f]+       Entry: ID:/ { print $4 }' <<<"$tree" | tr '\n' ' ')
check "resource languages" "$languages" "0x000411, 0x000411, 0x000411, 00000000, "
check "icon group name" "$(grep -o 'name: \[[^]]*\]: [A-Z]*' <<<"$tree" | sed 's/.*: //')" MAINICON

# The manifest's bytes: its leaf gives their address (relative to the image
# base) and size, and the .rsrc section where that address lies in the file.
read -r manifest_id leaf_rva leaf_size < <(awk '
    /^[0-9a-f]+   Entry: ID:/ { manifest = $4 == "0x000018," }
    manifest && /^[0-9a-f]+     Entry: ID:/ { id = $4 }
    manifest && /Leaf: Addr:/ { sub(",", "", $4); sub(",", "", $6); print id, $4, $6; exit }' <<<"$tree")
check "manifest identifier" "$manifest_id" "0x000001,"
read -r rsrc_vma rsrc_offset < <(LC_ALL=C LANGUAGE= "$objdump" -h "$exe" | awk '$2 == ".rsrc" { print $4, $6 }')
image_base=$(field ImageBase)
located=1
for value in "$rsrc_vma" "$rsrc_offset" "$image_base" "$leaf_rva" "$leaf_size"; do
    [[ $(hex "$value") -ge 0 ]] || located=0
done
check "the manifest's place read (.rsrc at ${rsrc_vma:-?}, file offset ${rsrc_offset:-?}, image base $image_base, leaf ${leaf_rva:-?} size ${leaf_size:-?})" "$located" 1
((located)) || exit 1
manifest_offset=$((leaf_rva - (16#$rsrc_vma - 16#$image_base) + 16#$rsrc_offset))
manifest=$(mktemp)
trap 'rm -f "$manifest"' EXIT
tail -c +$((manifest_offset + 1)) "$exe" | head -c $((leaf_size)) >"$manifest"

if ! command -v xmllint >/dev/null; then
    echo "FAIL: xmllint is missing (scripts/install-deps.sh installs it)"
    exit 1
fi
if xmllint --noout "$manifest"; then
    echo "ok: the manifest is well-formed XML ($((leaf_size)) bytes)"
else
    echo "FAIL: the manifest is not well-formed XML"
    failed=1
fi
# el NAME NAMESPACE: an XPath step for the element NAME of that namespace only,
# so that a setting in another namespace (which Windows would skip) is missed.
el() { printf "*[local-name()='%s' and namespace-uri()='%s']" "$1" "$2"; }
# text PATH: the text of what PATH selects; each: the texts of all it selects.
text() { xmllint --xpath "string($1)" "$manifest" 2>/dev/null || true; }
each() { xmllint --xpath "$1" "$manifest" 2>/dev/null | sed -n 's/^ *[A-Za-z]*="\(.*\)"$/\1/p' | tr '\n' ' '; }
asm_v1=urn:schemas-microsoft-com:asm.v1 asm_v3=urn:schemas-microsoft-com:asm.v3
compatibility=urn:schemas-microsoft-com:compatibility.v1 smi=http://schemas.microsoft.com/SMI
root=/$(el assembly $asm_v1)
identity=$root/$(el assemblyIdentity $asm_v1)
controls=$root/$(el dependency $asm_v1)/$(el dependentAssembly $asm_v1)/$(el assemblyIdentity $asm_v1)
level=$root/$(el trustInfo $asm_v3)/$(el security $asm_v3)/$(el requestedPrivileges $asm_v3)
level+=/$(el requestedExecutionLevel $asm_v3)
oses=$root/$(el compatibility "$compatibility")/$(el application "$compatibility")/$(el supportedOS "$compatibility")
settings=$root/$(el application $asm_v3)/$(el windowsSettings $asm_v3)
check "manifest version" "$(text "$root/@manifestVersion")" 1.0
check "manifest: the program" "$(each "$identity/@type | $identity/@name | $identity/@version | $identity/@processorArchitecture")" \
    "win32 ovq $version $architecture "
check "manifest: common controls" "$(each "$controls/@type | $controls/@name | $controls/@version | $controls/@publicKeyToken")" \
    "win32 Microsoft.Windows.Common-Controls 6.0.0.0 6595b64144ccf1df "
check "manifest: execution level" "$(text "$level/@level")" asInvoker
# Vista, 7, 8, 8.1, and 10 with 11.
check "manifest: supported Windows" "$(each "$oses/@Id")" \
    "{e2011457-1546-43c5-a5fe-008deee3d3f0} {35138b9a-5d96-4fbd-8e2d-a2440225f93a} {4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38} {1f676c76-80e1-4239-95bb-83d0f6d0da78} {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a} "
check "manifest: dpiAware" "$(text "$settings/$(el dpiAware $smi/2005/WindowsSettings)")" true/pm
check "manifest: dpiAwareness" "$(text "$settings/$(el dpiAwareness $smi/2016/WindowsSettings)")" PerMonitorV2
check "manifest: activeCodePage" "$(text "$settings/$(el activeCodePage $smi/2019/WindowsSettings)")" ja-JP

exit $failed
