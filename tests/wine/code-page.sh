#!/usr/bin/env bash
# ovq's texts come out right whatever the language of the system: its manifest
# asks for code page 932 by locale (activeCodePage ja-JP), which Wine honours
# as Windows 11 does. Started under a non-Japanese locale (code page 1252
# otherwise, as on an English Windows) and under a Japanese one, in turn:
#   - its ANSI and OEM code pages, asked inside its process, are 932;
#   - a hand-off with Japanese bytes becomes its title byte for byte (on code
#     page 1252 each character would arrive as '?');
#   - its tray menu holds the three Japanese items (in UTF-16, which is what
#     the menu draws);
#   - its version box shows the Japanese caption and text.
# The DPI settings of the manifest cannot be seen this way: Wine 8 answers
# per-monitor awareness from inside every process, with a manifest or without
# (GetThreadDpiAwarenessContext and GetProcessDpiAwarenessInternal, tried by
# hand with a build that had none), so exe.shape checks them in the manifest.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/texts-lib.sh
. "$(dirname "$0")/texts-lib.sh"
wt_init "$@"
ovq_require_tools iconv xxd || wt_die "iconv or xxd is missing"

HANDOFF_HEX=$(hex_of CP932 'ovq テスト表示')  # 表 ends in the byte 0x5C, a backslash alone

for OVQ_PROGRAM_LOCALE in C.UTF-8 ja_JP.UTF-8; do
    wt_log "-- ovq under $OVQ_PROGRAM_LOCALE"
    ovq_start_first
    probe inside-info || wt_die "ovq's code pages cannot be asked"
    wt_expect_eq "$(kv acp)" 932 "$OVQ_PROGRAM_LOCALE: ANSI code page inside ovq"
    wt_expect_eq "$(kv oemcp)" 932 "$OVQ_PROGRAM_LOCALE: OEM code page inside ovq"

    probe settext-hex "$HANDOFF_HEX"
    wt_expect_eq "$(kv delivered)" 1 "$OVQ_PROGRAM_LOCALE: the Japanese hand-off delivered"
    probe title
    wt_expect_eq "$(kv title_hex)" "$HANDOFF_HEX" "$OVQ_PROGRAM_LOCALE: the title after the Japanese hand-off"

    probe traynotify 517
    probe wait-menu 3000 || wt_die "no popup menu"
    probe menu-texts || wt_die "the menu's texts cannot be read"
    wt_expect_eq "$(kv items)" 4 "$OVQ_PROGRAM_LOCALE: menu items"
    for id in 202 201 200; do
        wt_expect_eq "$(kv "item\\.$id\\.utf16")" "$(hex_of UTF-16LE "${MENU_ITEMS[$id]}")" \
            "$OVQ_PROGRAM_LOCALE: menu item $id, ${MENU_ITEMS[$id]} (UTF-16LE)"
    done
    probe menu-key a
    probe wait-menu-gone 3000 || wt_die "the menu stays open after A"
    probe box-text 3000 || wt_die "no version box"
    wt_shot "version-box-$OVQ_PROGRAM_LOCALE"
    wt_expect_eq "$(kv caption_hex)" "$(hex_of CP932 "$VERSION_CAPTION")" "$OVQ_PROGRAM_LOCALE: version box caption"
    wt_expect_eq "$(kv text_hex)" "$VERSION_TEXT_HEX" "$OVQ_PROGRAM_LOCALE: version box text"
    probe box-click 1 || wt_die "cannot click OK"
    probe wait-box-gone 3000 || wt_die "the version box stays open after OK"

    probe close
    ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq under $OVQ_PROGRAM_LOCALE still runs 5 s after WM_CLOSE"
    wt_expect_eq "$OVQ_EXIT" 0 "$OVQ_PROGRAM_LOCALE: exit code after WM_CLOSE"
done
