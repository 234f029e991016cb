#!/usr/bin/env bash
# ovq's icon in the taskbar's notification area, seen on the screen and clicked
# with the real mouse (xdotool on the Xvfb display):
#   - before ovq starts the area has none of the icon's colours; once it runs the
#     area shows exactly one icon (the yellow bolt on the blue square) in the
#     rightmost slot;
#   - a right click and a left click on it open the popup menu at the pointer;
#   - "TaskbarCreated" (sent to ovq's window, then broadcast to every top-level
#     window, as a restarted shell does) leaves exactly one icon, and a click on it
#     still opens the menu;
#   - the menu's X, chosen after a real click, ends ovq with 0 and takes the icon
#     away.
# Screenshots: tray-before.png, tray-icon.png, menu-right-click.png,
# menu-left-click.png, after-taskbar-created.png, after-broadcast.png, after-exit.png.
# See tray-lib.sh for how the icon is found.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/tray-lib.sh
. "$(dirname "$0")/tray-lib.sh"
wt_init "$@"

tray_locate
tray_mouse_away
tray_baseline
wt_expect "no icon colours in the notification area before ovq starts" \
    test "$TRAY_BASE_YELLOW" -le 2 -a "$TRAY_BASE_BLUE" -le 2

# click_opens_menu BUTTON NAME: a real click on the icon opens the menu at the
# pointer; the screenshot NAME.png shows it; Escape closes it again.
click_opens_menu() {
    local button=$1 name=$2 left top right bottom px py dx dy
    tray_click "$button"
    if ! probe wait-menu 3000; then
        wt_log "FAIL: no popup menu after a click with button $button on the icon"
        WT_FAILED=1
        wt_shot "$name"
        return 1
    fi
    wt_log "ok: button $button on the icon opens the menu (rect $(kv rect))"
    wt_shot "$name"
    IFS=, read -r left top right bottom <<<"$(kv rect)"
    px=$((TRAY_CLICK_X - TRAY_OX))
    py=$((TRAY_CLICK_Y - TRAY_OY))
    # The menu opens at the pointer, moved to fit the screen; Wine also keeps it
    # off the taskbar, so over the icon it ends at the taskbar's top edge.
    dx=$((px < left ? left - px : px > right ? px - right : 0))
    dy=$((py < top ? top - py : py > bottom ? py - bottom : 0))
    wt_expect "menu $left,$top,$right,$bottom at the pointer $px,$py (off by $dx,$dy)" \
        test "$dx" -le 2 -a "$dy" -le $((TRAY_HEIGHT + 2))
    wt_expect "menu wider than tall and large enough for three items" \
        test $((right - left)) -gt $((bottom - top)) -a $((bottom - top)) -ge 40
    probe menu-key escape
    probe wait-menu-gone 3000 || wt_die "the menu stays open after Escape"
}

ovq_start_first
tray_wait_state one 10000 tray-icon
wt_log "icon: $TRAY_YELLOW yellow, $TRAY_BLUE blue pixels, box $TRAY_BOX"
tray_expect_one "after start"
probe tray-info
if (($(kv icons) > 0)); then
    # a Wine with a window per icon: there must be exactly one
    wt_expect_eq "$(kv icons)" 1 "icon windows in the taskbar"
fi

click_opens_menu 3 menu-right-click
click_opens_menu 1 menu-left-click
tray_mouse_away

# A restarted shell broadcasts "TaskbarCreated"; ovq puts its icon back once.
probe taskbar-created || wt_die "cannot send TaskbarCreated"
wt_expect_eq "$(kv sent)" 1 "TaskbarCreated delivered to ovq"
tray_wait_state one 5000 after-taskbar-created
tray_expect_one "after TaskbarCreated"
probe window-info >/dev/null || wt_die "ovq is gone after TaskbarCreated"
click_opens_menu 3 menu-after-taskbar-created

tray_mouse_away
probe taskbar-created --broadcast || wt_die "cannot broadcast TaskbarCreated"
tray_wait_state one 5000 after-broadcast
tray_expect_one "after the broadcast TaskbarCreated"
probe tray-info
if (($(kv icons) > 0)); then
    wt_expect_eq "$(kv icons)" 1 "icon windows in the taskbar after TaskbarCreated"
fi
click_opens_menu 1 menu-after-broadcast

# X from a menu opened by a real click: ovq ends with 0 and removes its icon.
tray_exit_from_menu
