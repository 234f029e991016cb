#!/usr/bin/env bash
# Idle suppression seen from another process: while ovq runs, the system's
# last-input time (GetLastInputInfo) advances about every 900 ms; without ovq it
# stays put. The period is judged by the middle one of five gaps: a loaded
# machine may deliver one tick late, which makes its gap long and the next one
# short, but not most of them.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
wt_init "$@"

probe idle-watch 2500
wt_expect_eq "$(kv advances)" 0 "last-input advances without ovq"

ovq_start_first
probe idle-watch 20000 --until 6
advances=$(kv advances) median_gap=$(kv median_gap_ms)
wt_log "advances=$advances in $(kv duration_ms) ms, gaps=$(kv gaps)"
wt_expect_eq "$advances" 6 "advances while ovq runs (within 20 s)"
wt_expect "the middle gap is between 600 and 1400 ms (${median_gap:-none})" \
    test "${median_gap:-0}" -ge 600 -a "${median_gap:-0}" -le 1400

probe close
ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq did not end after WM_CLOSE"
probe idle-watch 2000
wt_expect_eq "$(kv advances)" 0 "last-input advances after ovq ended"
