# shellcheck shell=bash
# Helpers for the Wine tests that put ovq under load; sourced after lib.sh and
# wt_init.

# stress_restart_desktop: ends the virtual desktop and brings it up again with a
# new keeper. Wine's explorer keeps a tooltip window for every icon ever added to
# the notification area, so after a storm of re-adds the next tests get a fresh
# taskbar. Needs every ovq of the test ended first.
stress_restart_desktop() {
    local deadline
    probe wait-gone 0 || wt_die "ovq still runs; the desktop cannot be restarted"
    ovq_keeper_stop "$PROBE_EXE"
    # the desktop ends with the last window on it: its X window goes away
    deadline=$(($(ovq_ms) + 20000))
    while xwininfo -display "$DISPLAY" -root -tree | grep -q ' - Wine desktop"'; do
        (($(ovq_ms) >= deadline)) && wt_die "the virtual desktop does not end without the keeper"
        sleep 0.1
    done
    ovq_keeper_start "$PROBE_EXE" || wt_die "the keeper does not start again"
    probe wait-class Shell_TrayWnd 20000 || wt_die "no taskbar after restarting the desktop"
    wt_log "virtual desktop restarted"
}
