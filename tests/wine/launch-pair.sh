#!/usr/bin/env bash
# Two launches of `ovq.exe -s` at the same moment, ten rounds: the probe creates
# both suspended in a kill-on-close job and resumes them back to back. The later
# one finds the marker before the earlier one has its window, waits for the
# window and hands its -s over. Every round: one resident copy with its window,
# one exit with code 1, the title one of the two texts, and the permit switch
# off, since both toggles arrived (the idle resets go on); then `ovq.exe -x`
# ends the resident copy. A round whose switch is on lost a command.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/commands-lib.sh
. "$(dirname "$0")/commands-lib.sh"
wt_init "$@"

OVQ_WIN=$(ovq_wine_path "$OVQ_EXE")
ROUNDS=10
lost=0

for ((round = 1; round <= ROUNDS; round++)); do
    wt_ensure_no_ovq
    # the watch ends at the second reset; 10 s is for a loaded machine
    probe race 2 30000 --tag --idle 10000 "$OVQ_WIN" -s || wt_die "round $round: the race did not run (rc=$?)"
    wt_log "round $round: exits $(kv exits), settled after $(kv settle_ms) ms, title '$(kv title)'"
    wt_expect_eq "$(kv settled)" 1 "round $round: settled to one copy with its window"
    wt_expect_eq "$(kv exited_1)" 1 "round $round: copies ended with exit code 1"
    wt_expect_eq "$(kv exited_other)" 0 "round $round: copies ended with another exit code"
    wt_expect_eq "$(kv resident_owns_window)" 1 "round $round: one window, of the resident copy"
    wt_expect "round $round: the title is one of the two texts ('$(kv title)')" \
        grep -qxE 'ovq -s copy[12]' <<<"$(kv title)"
    wt_expect_switch_watched off "round $round: both -s arrived" || lost=$((lost + 1))
    wt_expect_eq "$(kv x_exit)" 1 "round $round: exit code of the later ovq.exe -x"
    wt_expect_eq "$(kv resident_exit)" 0 "round $round: exit code of the resident copy after -x"
    wt_expect_eq "$(kv left_running)" 0 "round $round: copies still running at the end"
done
wt_log "rounds that lost a command: $lost of $ROUNDS"
