#!/usr/bin/env bash
# Hand-off to the running copy: a second `ovq.exe -s` passes "ovq -s" to the first
# copy's window (which shows it as its title) and exits 1; a second `ovq.exe -x`
# then ends the first copy, which exits 0.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
wt_init "$@"

ovq_start_first

ovq_run_second 10000 -s
wt_expect_eq "$OVQ_EXIT" 1 "exit code of a second ovq.exe -s"
probe title
wt_expect_eq "$(kv title)" "ovq -s" "title after ovq.exe -s"

ovq_run_second 10000 -x
wt_expect_eq "$OVQ_EXIT" 1 "exit code of a second ovq.exe -x"
ovq_wait_exit "$FIRST_PID" 5000 || wt_die "the first copy still runs 5 s after ovq.exe -x"
wt_expect_eq "$OVQ_EXIT" 0 "exit code of the first copy after -x"
probe wait-gone 2000
wt_expect_eq "$(kv gone)" 1 "window gone"
probe mutex-exists
wt_expect_eq "$(kv exists)" 0 "single-copy mutex released"
