#!/usr/bin/env bash
# Idle suppression seen from another process: while ovq runs, the system's
# last-input time (GetLastInputInfo) advances about every 900 ms; without ovq it
# stays put.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
wt_init "$@"

probe idle-watch 2500
wt_expect_eq "$(kv advances)" 0 "last-input advances without ovq"

ovq_start_first
probe idle-watch 4500
advances=$(kv advances) max_gap=$(kv max_gap_ms) min_gap=$(kv min_gap_ms)
wt_log "advances=$advances gaps=$(kv gaps)"
wt_expect "4 to 6 advances over 4.5 s (got $advances)" test "$advances" -ge 4 -a "$advances" -le 6
wt_expect "no gap above 1600 ms (max $max_gap)" test "$max_gap" -le 1600
wt_expect "no gap below 500 ms (min $min_gap)" test "$min_gap" -ge 500

probe close
ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq did not end after WM_CLOSE"
probe idle-watch 2000
wt_expect_eq "$(kv advances)" 0 "last-input advances after ovq ended"
