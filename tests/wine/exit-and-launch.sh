#!/usr/bin/env bash
# A launch that meets a copy ending: `ovq.exe -x` is handed to the running copy
# and `ovq.exe -s` launched with no pause, the moment the running copy's window
# is gone. Three rounds as that comes; in three more the shell answers nothing
# for 400 ms from the -x on, so the ending copy waits in deleting its tray icon,
# holding the marker without a window, as a copy does whose shut-down is slow.
# The launch finds the marker and no window, waits until the marker has gone
# and then runs as the first copy. Every round afterwards exactly one copy
# runs, the launch, with its own -s in force (title "ovq -s", the idle resets
# stay off); the -x launch exits 1, the ended copy 0, and the launch 0 after a
# later -x. A round without a resident launch lost its command.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/commands-lib.sh
. "$(dirname "$0")/commands-lib.sh"
wt_init "$@"

OVQ_WIN=$(ovq_wine_path "$OVQ_EXE")
rounds=0
lost=0

for hold in 0 0 0 400 400 400; do
    rounds=$((rounds + 1))
    what="round $rounds (shell held ${hold} ms)"
    wt_ensure_no_ovq
    probe exit-and-launch 30000 2000 --hold "$hold" "$OVQ_WIN" -s || wt_die "$what: the probe did not run (rc=$?)"
    wt_log "$what: launched $(kv launched_after_ms) ms after the -x, the copy ended $(kv first_ended_ms) ms later"
    wt_expect_eq "$(kv x_exit)" 1 "$what: exit code of ovq.exe -x"
    wt_expect_eq "$(kv first_exit)" 0 "$what: exit code of the copy that ended"
    wt_expect_eq "$(kv launch_running)" 1 "$what: the launch runs on as the copy"
    wt_expect_eq "$(kv windows)" 1 "$what: windows of ovq's class"
    wt_expect_eq "$(kv launch_owns_window)" 1 "$what: the window is the launch's"
    [[ $(kv launch_running)$(kv launch_owns_window) == 11 ]] || lost=$((lost + 1))
    wt_expect_eq "$(kv title)" "ovq -s" "$what: title of the launch's window"
    wt_expect_switch_watched on "$what: its own -s ran"
    wt_expect_eq "$(kv launch_exit)" 0 "$what: exit code of the launch after a later -x"
    wt_expect_eq "$(kv windows_after)" 0 "$what: windows of ovq's class at the end"
done
wt_log "rounds that lost the launch's command: $lost of $rounds"
