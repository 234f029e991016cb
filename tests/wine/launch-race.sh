#!/usr/bin/env bash
# Twenty launches of `ovq.exe -s` at once, three rounds. The probe creates the
# twenty processes suspended in a kill-on-close job and resumes them back to back,
# so they race for the single-copy mutex for real. Afterwards exactly one copy
# runs, with exactly one window of ovq's class, and the other nineteen have ended
# with exit code 1 (read whole with GetExitCodeProcess); a later `ovq.exe -x`
# exits 1 and ends the resident copy with 0. A hand-off that arrives before the
# winner has its window is lost, which the counts allow; a second resident copy,
# a second window, a hang or any other exit code fails.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
wt_init "$@"

OVQ_WIN=$(ovq_wine_path "$OVQ_EXE")

for round in 1 2 3; do
    wt_ensure_no_ovq
    # the probe waits for each step up to 30 s; the copies die with its job
    probe race 20 30000 "$OVQ_WIN" -s || wt_die "round $round: the race did not run (rc=$?)"
    wt_log "round $round: exits $(kv exits), settled after $(kv settle_ms) ms, resident pid $(kv resident_pid)"
    wt_expect_eq "$(kv settled)" 1 "round $round: settled to at most one copy with its window"
    wt_expect_eq "$(kv exited_1)" 19 "round $round: copies ended with exit code 1"
    wt_expect_eq "$(kv exited_other)" 0 "round $round: copies ended with another exit code"
    wt_expect_eq "$(kv running)" 1 "round $round: resident copies"
    wt_expect_eq "$(kv windows)" 1 "round $round: windows of ovq's class"
    wt_expect_eq "$(kv resident_owns_window)" 1 "round $round: the window belongs to the resident copy"
    wt_expect_eq "$(kv x_exit)" 1 "round $round: exit code of the later ovq.exe -x"
    wt_expect_eq "$(kv resident_exit)" 0 "round $round: exit code of the resident copy after -x"
    wt_expect_eq "$(kv windows_after)" 0 "round $round: windows of ovq's class after -x"
    wt_expect_eq "$(kv left_running)" 0 "round $round: copies still running at the end"
    probe mutex-exists
    wt_expect_eq "$(kv exists)" 0 "round $round: single-copy mutex released"
done
