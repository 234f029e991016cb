# shellcheck shell=bash
# shellcheck disable=SC2034 # failed is read by the script that sources this
# What the checks of a built Windows image share (tests/exe/check-exe.sh for
# ovq.exe, installer/check-dll.sh for endcopy.dll); sourced after `set -e`.
#   check WHAT ACTUAL EXPECTED   one line, ok or FAIL; a FAIL sets failed=1
#   pe_read FILE OBJDUMP         the image's headers as objdump prints them, into
#                                headers; field and directory_size read them
#   pe_check_image MAGIC DLLCHARACTERISTICS "DLL ..."
#                                what every image of the project is: its optional
#                                header's magic, its DllCharacteristics, its
#                                relocations kept (ASLR needs them in the file),
#                                exactly those imported DLLs (upper case, sorted,
#                                each followed by a blank), no time stamp

failed=0
check() { # check WHAT ACTUAL EXPECTED
    if [[ $2 == "$3" ]]; then
        echo "ok: $1 = $3"
    else
        echo "FAIL: $1: expected '$3', got '$2'"
        failed=1
    fi
}

pe_read() {
    # objdump prints the time stamp in local time: read it in UTC.
    headers=$(TZ=UTC0 "$2" -p "$1")
}
field() { awk -v name="$1" '$1 == name { print $2; exit }' <<<"$headers"; }
# The directory entry's size, from objdump's table (Entry N RVA SIZE Name).
directory_size() { awk -v name="$1" '$0 ~ name { print $4; exit }' <<<"$headers"; }

pe_check_image() {
    local magic=$1 dll_characteristics=$2 expected_dlls=$3 characteristics relocs dlls
    check "optional header magic" "$(field Magic)" "$magic"
    check "DllCharacteristics" "$(field DllCharacteristics)" "$dll_characteristics"
    # The image's flags must not say the relocations were stripped (0x0001),
    # and the relocation directory must not be empty.
    characteristics=$(field Characteristics) # printed as 0x...
    check "relocations kept (Characteristics $characteristics)" "$((characteristics & 1))" 0
    relocs=$(directory_size 'Base Relocation Directory')
    check "relocation directory present" "$((16#${relocs:-0} > 0))" 1
    dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr '[:lower:]' '[:upper:]' | sort | tr '\n' ' ')
    check "imported DLLs" "$dlls" "$expected_dlls"
    check "time stamp" "$(sed -n 's/^Time\/Date\s*//p' <<<"$headers" | head -n 1)" "Thu Jan  1 00:00:00 1970"
}
