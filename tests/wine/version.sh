#!/usr/bin/env bash
# The version-information block and resources of the built ovq.exe, read the way
# Windows reads them (GetFileVersionInfoA, VerQueryValueA/W, the resource
# enumerators), and the version box ovq shows:
#   - every fixed field, every string (UTF-16, compared as hex), the translation,
#     the order of the keys in the string table, the languages of the version and
#     icon resources and the size of the icon image;
#   - the box opened from the tray menu (A) and by the command 201: a "#32770"
#     window owned by ovq's hidden window, caption "バージョン情報", message text of
#     exactly 182 bytes in code page 932 (seven lines joined by CR), one button,
#     OK; the idle time keeps being reset while it is open; its OK button closes
#     it and ovq runs on, its permit switch as it was.
# Screenshots: version-box.png (from the menu), version-box-command.png.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/texts-lib.sh
. "$(dirname "$0")/texts-lib.sh"
wt_init "$@"
ovq_require_tools iconv xxd || wt_die "iconv or xxd is missing"

# ---- the version block and the resources ----

probe version-info "$(ovq_wine_path "$OVQ_EXE")" || wt_die "version-info failed on $OVQ_EXE"
while IFS='=' read -r key want; do
    wt_expect_eq "$(kv "$key")" "$want" "$key"
done <<'EOF'
fixed.signature=0xfeef04bd
fixed.struc_version=0x00010000
fixed.file_version_ms=0x00000002
fixed.file_version_ls=0x00080004
fixed.product_version_ms=0x00000002
fixed.product_version_ls=0x00080004
fixed.file_flags_mask=0x0000003f
fixed.file_flags=0x00000000
fixed.file_os=0x00000004
fixed.file_type=0x00000001
fixed.file_subtype=0x00000000
fixed.file_date_ms=0x00000000
fixed.file_date_ls=0x00000000
translation=0411,03a4
root.key=VS_VERSION_INFO
blocks=StringFileInfo,VarFileInfo
tables=041103A4
keys.041103A4=CompanyName,FileDescription,FileVersion,InternalName,LegalCopyright,LegalTrademarks,OriginalFilename,ProductName,ProductVersion,Comments
res.version.names=#1
res.version.#1.langs=0411
res.group_icon.names=MAINICON
res.group_icon.MAINICON.langs=0411
res.icon.names=#1
res.icon.#1.langs=0411
res.icon.#1.size=744
res.icon.#1.bitmap=32x64 bpp=4
group.count=1
group.0=width=32 height=32 colors=16 planes=1 bits=4 bytes=744 id=1
EOF

declare -A strings=(
    [CompanyName]=''
    [FileDescription]='ovq スクリーンセーバー起動抑止プログラム'
    [FileVersion]='0.2.8.4'
    [InternalName]='ovq'
    [LegalCopyright]=''
    [LegalTrademarks]=''
    [OriginalFilename]='ovq.exe'
    [ProductName]='ovq'
    [ProductVersion]='1.0.0.0'
    [Comments]='スクリーンセーバー起動抑止プログラム'
)
for key in "${!strings[@]}"; do
    wt_expect_eq "$(kv "str\\.$key\\.found")" 1 "string $key present"
    wt_expect_eq "$(kv "str\\.$key\\.hex")" "$(hex_of UTF-16LE "${strings[$key]}")" "string $key (UTF-16LE hex)"
    wt_expect_eq "$(kv "str\\.$key")" "${strings[$key]}" "string $key"
done

# ---- the version box ----

CAPTION_HEX=$(hex_of CP932 "$VERSION_CAPTION")
TEXT_HEX=$VERSION_TEXT_HEX
wt_expect_eq "$((${#TEXT_HEX} / 2))" 182 "length of the expected text (self-check)"

ovq_start_first
probe window-info || wt_die "no window info"
OVQ_HWND=$(kv hwnd)
OVQ_WIN_PID=$(kv pid)

open_menu() {
    probe traynotify 517
    probe wait-menu 3000 || wt_die "no popup menu"
}

menu_choose() {
    probe menu-key "$1"
    probe wait-menu-gone 3000 || wt_die "the menu stays open after key $1"
}

# check_box SHOT: the open version box is ovq's, with the right caption, text
# and a single OK button; keeps a screenshot.
check_box() {
    probe box-text 3000 || wt_die "no version box"
    wt_shot "$1"
    wt_expect_eq "$(kv boxes)" 1 "number of version boxes"
    wt_expect_eq "$(kv owner)" "$OVQ_HWND" "owner of the box is ovq's window"
    wt_expect_eq "$(kv pid)" "$OVQ_WIN_PID" "process of the box"
    wt_expect_eq "$(kv caption_hex)" "$CAPTION_HEX" "caption bytes (CP932)"
    wt_expect_eq "$(kv caption)" "バージョン情報" "caption"
    wt_expect_eq "$(kv texts)" 1 "static controls with text"
    wt_expect_eq "$(kv text_length)" 182 "text length (GetWindowTextA)"
    wt_expect_eq "$(kv text_hex)" "$TEXT_HEX" "text bytes (GetWindowTextA)"
    wt_expect_eq "$(kv text_wm_gettext_hex)" "$TEXT_HEX" "text bytes (WM_GETTEXT)"
    wt_expect_eq "$(kv buttons)" 1 "visible buttons"
    wt_expect_eq "$(kv button_ids)" 1 "button ids (IDOK)"
    wt_expect_eq "$(kv button0_text)" OK "button text"
}

# close_box: the OK button closes the box; ovq runs on.
close_box() {
    probe box-click 1 || wt_die "cannot click OK"
    probe wait-box-gone 3000
    wt_expect_eq "$(kv gone)" 1 "version box closed by OK"
    probe wait-class-gone '#32770' 1000
    wt_expect_eq "$(kv gone)" 1 "no dialog window left"
    wt_expect "ovq runs on after the box" kill -0 "$FIRST_PID"
    probe window-info >/dev/null
    wt_expect_eq "$(kv hwnd)" "$OVQ_HWND" "ovq's window after the box"
}

# expect_resets WHAT: the idle time is being reset (ovq suppresses the saver).
expect_resets() {
    probe idle-watch 10000 --until 2
    wt_expect "$1: idle time reset ($(kv advances) advances in $(kv duration_ms) ms)" test "$(kv advances)" -ge 2
}

expect_no_resets() {
    probe idle-watch 2500
    wt_expect_eq "$(kv advances)" 0 "$1: last-input advances"
}

open_menu
menu_choose a
check_box version-box
expect_resets "while the box is open"
close_box
expect_resets "after the box"

# The same box from the command (as the menu's item sends it).
probe post-command 201 || wt_die "cannot post the command"
check_box version-box-command
close_box

# The box leaves the permit switch as it was: permitted stays permitted.
open_menu
menu_choose s
expect_no_resets "permitted"
open_menu
menu_choose a
check_box version-box-permitted
expect_no_resets "permitted, box open"
close_box
expect_no_resets "permitted, after the box"
open_menu
menu_choose s
expect_resets "suppressing again"

open_menu
menu_choose x
ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq still runs 5 s after the menu's X"
wt_expect_eq "$OVQ_EXIT" 0 "exit code after the menu's X"
