#!/usr/bin/env bash
# WM_CLOSE sent from another program ends ovq normally: exit code 0, window and
# single-copy mutex gone.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
wt_init "$@"

ovq_start_first
probe close
wt_expect_eq "$(kv closed)" 1 "WM_CLOSE delivered"
ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq still runs 5 s after WM_CLOSE"
wt_expect_eq "$OVQ_EXIT" 0 "exit code after WM_CLOSE"
probe wait-gone 2000
wt_expect_eq "$(kv gone)" 1 "window gone"
probe mutex-exists
wt_expect_eq "$(kv exists)" 0 "single-copy mutex released"
