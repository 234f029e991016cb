#!/usr/bin/env bash
# The notification-area icon and its menu, driven the way the shell drives them:
# the tray callback message (WM_USER+100, icon 13) with a mouse message in lParam.
#   512/513/516 (move, left down, right down) open nothing;
#   517 (right up) and 514 (left up) open the popup menu (a "#32768" window);
#   A opens the version box "バージョン情報"; S toggles the permit switch (the idle
#   time is then no longer reset, and again after a second S); X ends ovq with 0.
# Keys are posted to the menu window: Wine does not route real key presses to a
# popup menu whose owner window is hidden.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
wt_init "$@"

# open_menu LPARAM: posts the tray message and waits for the popup menu.
open_menu() {
    probe traynotify "$1"
    probe wait-menu 3000 || wt_die "no popup menu after tray lParam $1"
}

# menu_choose KEY: posts KEY to the open menu and waits until it has closed.
menu_choose() {
    probe menu-key "$1"
    probe wait-menu-gone 3000 || wt_die "the menu stays open after key $1"
}

ovq_start_first
probe wait-class Shell_TrayWnd 5000 || wt_die "no taskbar on the virtual desktop"
wt_shot tray-icon

for lparam in 512 513 516; do
    probe traynotify "$lparam"
    probe wait-menu 700
    wt_expect_eq "$(kv menu)" 0 "menu after tray lParam $lparam"
done

open_menu 517
wt_expect_eq "$(kv menu)" 1 "menu after tray lParam 517"
wt_shot menu
menu_choose escape
open_menu 514
wt_expect_eq "$(kv menu)" 1 "menu after tray lParam 514"
menu_choose escape

open_menu 517
menu_choose a
probe wait-class '#32770' 3000
wt_expect_eq "$(kv found)" 1 "version box shown"
wt_expect_eq "$(kv title)" "バージョン情報" "version box caption"
wt_shot version-box
probe box-click 1
probe wait-box-gone 3000
wt_expect_eq "$(kv gone)" 1 "version box closed by its OK button"
wt_expect "ovq runs on after the version box" kill -0 "$FIRST_PID"

open_menu 517
menu_choose s
probe idle-watch 2500
wt_expect_eq "$(kv advances)" 0 "last-input advances while permitted"
open_menu 517
menu_choose s
probe idle-watch 10000 --until 2
wt_expect "idle time reset again after the second S ($(kv advances) advances)" test "$(kv advances)" -ge 2

open_menu 517
menu_choose x
ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq still runs 5 s after the menu's X"
wt_expect_eq "$OVQ_EXIT" 0 "exit code after the menu's X"
