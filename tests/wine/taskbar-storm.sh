#!/usr/bin/env bash
# A hundred "TaskbarCreated" in a row, as a shell that restarts again and again
# would send them: ovq deletes and adds its icon each time, and afterwards the
# notification area shows exactly one icon of ovq, which a real click still
# opens the menu on. The same with the menu open while the storm arrives.
# During each storm the probe keeps a grey icon of its own in the area, so the
# area never empties (Wine's taskbar hides and shows itself whenever it does,
# and slows down with every round of that). Afterwards the virtual desktop is
# restarted, so later tests get a taskbar without a thousand dead tooltips.
# Screenshots: tray-before.png, before-storm.png, after-storm.png,
# storm-menu-open.png, after-storm-in-menu.png, menu-*.png, after-exit.png.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/tray-lib.sh
. "$(dirname "$0")/tray-lib.sh"
# shellcheck source=tests/wine/stress-lib.sh
. "$(dirname "$0")/stress-lib.sh"
wt_init "$@"

tray_locate
tray_mouse_away
tray_baseline
wt_expect "no icon colours in the notification area before ovq starts" \
    test "$TRAY_BASE_YELLOW" -le 2 -a "$TRAY_BASE_BLUE" -le 2

# open_menu_by_click NAME: a real right click on the icon opens the menu.
open_menu_by_click() {
    tray_click 3
    if probe wait-menu 5000; then
        wt_log "ok: a click on the icon opens the menu"
        wt_shot "$1"
        return 0
    fi
    wt_log "FAIL: no popup menu after a click on the icon"
    WT_FAILED=1
    wt_shot "$1"
    return 1
}

close_menu() {
    probe menu-key escape
    probe wait-menu-gone 5000 || wt_die "the menu stays open after Escape"
}

# storm NAME: a hundred TaskbarCreated, each answered before the next; then the
# area must settle on exactly one icon.
storm() {
    probe taskbar-storm 100 --helper || wt_die "$1: the storm did not get through (rc=$?)"
    wt_log "$1: $(kv sent) TaskbarCreated in $(kv elapsed_ms) ms"
    wt_expect_eq "$(kv sent)" 100 "$1: TaskbarCreated delivered"
    wt_expect_eq "$(kv alive)" 1 "$1: ovq's window alive afterwards"
    wt_expect "$1: ovq still runs" kill -0 "$FIRST_PID"
    tray_wait_state one 15000 "$1"
    tray_expect_one "$1"
}

ovq_start_first
tray_wait_state one 10000 before-storm || wt_die "no icon after start ($TRAY_YELLOW yellow, $TRAY_BLUE blue)"
tray_expect_one "before the storm"

storm after-storm
open_menu_by_click menu-after-storm && close_menu
tray_mouse_away

# The storm while the menu is open: ovq takes the sent messages inside the
# menu's modal loop.
open_menu_by_click storm-menu-open || wt_die "no menu to hold open"
storm after-storm-in-menu
probe wait-menu 0
wt_expect_eq "$(kv menu)" 1 "the menu is still open after the storm"
probe wait-menu 0 && close_menu
tray_mouse_away
tray_wait_state one 5000 after-menu-closed
tray_expect_one "after the storm in the menu, menu closed"
open_menu_by_click menu-after-storm-in-menu && close_menu
tray_mouse_away

ovq_run_second 10000 -x
wt_expect_eq "$OVQ_EXIT" 1 "exit code of a second ovq.exe -x"
ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq still runs 5 s after ovq.exe -x"
wt_expect_eq "$OVQ_EXIT" 0 "exit code of ovq after the storms and -x"
tray_wait_state none 5000 after-exit
wt_expect "no icon left after ovq ended ($TRAY_YELLOW yellow, $TRAY_BLUE blue)" test "$TRAY_STATE" = none
stress_restart_desktop
