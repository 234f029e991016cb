# shellcheck shell=bash
# shellcheck disable=SC2034 # failed is read by the script that sources this
# What the checks of a built Windows image share (tests/exe/check-exe.sh for
# ovq.exe, installer/check-dll.sh for endcopy.dll); sourced after `set -e`.
#   check WHAT ACTUAL EXPECTED   one line, ok or FAIL; a FAIL sets failed=1
#   pe_read FILE OBJDUMP         the image's headers as objdump prints them in the
#                                C locale, into headers; field and directory_size
#                                read them, and a field they cannot find fails
#                                its check: it prints "unreadable", which no
#                                expected value is, and counts as no number
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
    # objdump prints the time stamp in local time: read it in UTC; and its
    # headers in the caller's language: read them in English.
    headers=$(TZ=UTC0 LC_ALL=C LANGUAGE= "$2" -p "$1")
}
# field NAME: the value of the header field NAME, or "unreadable".
field() {
    awk -v name="$1" '$1 == name && NF >= 2 { print $2; found = 1; exit } END { if (!found) print "unreadable" }' <<<"$headers"
}
# directory_size NAME: the directory entry's size, from objdump's table
# (Entry N RVA SIZE Name), or "unreadable".
directory_size() {
    awk -v name="$1" '$0 ~ name && $4 ~ /^[0-9a-fA-F]+$/ { print $4; found = 1; exit } END { if (!found) print "unreadable" }' <<<"$headers"
}
# hex VALUE: a hexadecimal value that was read, as a number; the check fails
# and the number is -1 when it was not.
hex() {
    local value=${1#0x}
    if [[ $value =~ ^[0-9a-fA-F]+$ ]]; then
        echo $((16#$value))
    else
        echo -1
    fi
}

pe_check_image() {
    local magic=$1 dll_characteristics=$2 expected_dlls=$3 characteristics relocs dlls
    check "optional header magic" "$(field Magic)" "$magic"
    check "DllCharacteristics" "$(field DllCharacteristics)" "$dll_characteristics"
    # The image's flags must not say the relocations were stripped (0x0001),
    # and the relocation directory must not be empty.
    characteristics=$(hex "$(field Characteristics)") # printed as 0x...
    check "relocations kept (Characteristics $(field Characteristics))" \
        "$((characteristics < 0 ? -1 : characteristics & 1))" 0
    relocs=$(hex "$(directory_size 'Base Relocation Directory')")
    check "relocation directory present ($relocs bytes)" "$((relocs > 0))" 1
    dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr '[:lower:]' '[:upper:]' | sort | tr '\n' ' ')
    check "imported DLLs" "$dlls" "$expected_dlls"
    check "time stamp" "$(sed -n 's/^Time\/Date\s*//p' <<<"$headers" | head -n 1)" "Thu Jan  1 00:00:00 1970"
}
