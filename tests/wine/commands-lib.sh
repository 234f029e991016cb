# shellcheck shell=bash
# shellcheck disable=SC2034
# Helpers for the Wine tests of ovq's commands; sourced after lib.sh and wt_init.
#
# The permit switch lives in ovq's process (its tray menu's check mark, which
# another process cannot read under Wine), so it is observed through its effect:
# while it is off, ovq resets the idle time every 900 ms and the system's
# last-input tick (GetLastInputInfo, `probe idle-watch`) advances; while it is on,
# the tick stands still.

# wt_expect_resets WHAT: the idle resets go on: 2 advances, one 900 ms tick
# after the other, within a deadline long enough for a loaded machine.
wt_expect_resets() {
    local advances
    probe idle-watch 10000 --until 2
    advances=$(kv advances)
    wt_log "idle-watch: advances=$advances gaps=$(kv gaps)"
    wt_expect "$1: idle resets go on (advances=${advances:-none})" test "${advances:-0}" -ge 2
}

# wt_expect_no_resets WHAT: the idle resets have stopped: no advance in 2 s.
wt_expect_no_resets() {
    probe idle-watch 2000
    wt_expect_eq "$(kv advances)" 0 "$1: idle resets (advances in 2 s)"
}

# wt_expect_gone_now WHAT: ovq's window is gone at once (no waiting).
wt_expect_gone_now() {
    probe wait-gone 0
    wt_expect_eq "$(kv gone)" 1 "$1: window gone at once"
}

# wt_expect_title_now TEXT WHAT: the title reads TEXT at once (no waiting). A
# wrong title is shown cut to 200 bytes (it may be megabytes long).
wt_expect_title_now() {
    local title
    probe title
    title=$(kv title)
    if [[ $title == "$1" ]]; then
        wt_log "ok: $2: title at once = $1"
    else
        wt_log "FAIL: $2: title at once: expected '$1', got '${title:0:200}' (${#title} characters)"
        WT_FAILED=1
    fi
}

# wt_expect_switch_watched STATE WHAT: the permit switch is STATE (off or on) by
# the idle watch that the last probe output reports (race or exit-and-launch
# with an idle time, which stop at two advances): off makes two advances, on
# none. Returns 1 when it is not.
wt_expect_switch_watched() {
    local advances expected=0
    advances=$(kv idle_advances)
    [[ $1 == off ]] && expected=2
    wt_expect_eq "${advances:-none}" "$expected" \
        "$2: idle advances within $(kv idle_watch_ms) ms (switch $1)"
}
