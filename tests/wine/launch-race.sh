#!/usr/bin/env bash
# Twenty or twenty-one launches of `ovq.exe -s` at once, four rounds. The probe
# creates the copies suspended in a kill-on-close job and resumes them back to
# back, so they race for the single-copy marker for real; each copy carries a
# text of its own (a last argument "copy<i>"). Afterwards exactly one copy runs,
# with exactly one window of ovq's class, and all the others have ended with
# exit code 1 (read whole with GetExitCodeProcess) after handing their -s over:
# every -s arrived, so an even number of copies leaves the permit switch off
# (the idle resets go on) and an odd number on, and the resident copy's title
# is one of the copies' texts. A later `ovq.exe -x` exits 1 and ends the
# resident copy with 0. A second resident copy, a second window, a hang, any
# other exit code or a lost -s fails.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/commands-lib.sh
. "$(dirname "$0")/commands-lib.sh"
wt_init "$@"

OVQ_WIN=$(ovq_wine_path "$OVQ_EXE")
rounds=0
lost=0

for copies in 20 21 20 21; do
    rounds=$((rounds + 1))
    what="round $rounds ($copies copies)"
    # Off, the watch ends at the second reset (10 s is for a loaded machine);
    # on, nothing resets the idle time in the whole 2.4 s.
    switch=off idle=10000
    ((copies % 2)) && switch=on idle=2400
    wt_ensure_no_ovq
    # the probe waits for each step up to 30 s; the copies die with its job
    probe race "$copies" 30000 --tag --idle "$idle" "$OVQ_WIN" -s || wt_die "$what: the race did not run (rc=$?)"
    wt_log "$what: exits $(kv exits), settled after $(kv settle_ms) ms, resident pid $(kv resident_pid)"
    wt_expect_eq "$(kv settled)" 1 "$what: settled to at most one copy with its window"
    wt_expect_eq "$(kv exited_1)" $((copies - 1)) "$what: copies ended with exit code 1"
    wt_expect_eq "$(kv exited_other)" 0 "$what: copies ended with another exit code"
    wt_expect_eq "$(kv running)" 1 "$what: resident copies"
    wt_expect_eq "$(kv windows)" 1 "$what: windows of ovq's class"
    wt_expect_eq "$(kv resident_owns_window)" 1 "$what: the window belongs to the resident copy"
    title=$(kv title)
    number=$(sed -n 's/^ovq -s copy\([0-9][0-9]*\)$/\1/p' <<<"$title")
    wt_expect "$what: the title is one of the copies' texts ('$title')" \
        test -n "$number" -a "${number:-0}" -ge 1 -a "${number:-0}" -le "$copies"
    wt_expect_switch_watched "$switch" "$what: every -s arrived" || lost=$((lost + 1))
    wt_expect_eq "$(kv x_exit)" 1 "$what: exit code of the later ovq.exe -x"
    wt_expect_eq "$(kv resident_exit)" 0 "$what: exit code of the resident copy after -x"
    wt_expect_eq "$(kv windows_after)" 0 "$what: windows of ovq's class after -x"
    wt_expect_eq "$(kv left_running)" 0 "$what: copies still running at the end"
    probe mutex-exists
    wt_expect_eq "$(kv exists)" 0 "$what: single-copy mutex released"
done
wt_log "rounds that lost a -s: $lost of $rounds"
