#!/usr/bin/env bash
# Another process holds the single-copy mutex but has no ovq window: `ovq.exe -s`
# must take itself for a second copy, find no window, send nothing and exit 1
# promptly, without creating a window of its own.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
wt_init "$@"

wine "$PROBE_EXE" hold-mutex 30000 </dev/null >"$WT_DIR/holder.out" 2>&1 &
HOLDER_PID=$!
if ! wt_wait_line "$WT_DIR/holder.out" '^ready' 20000 "$HOLDER_PID"; then
    kill "$HOLDER_PID" 2>/dev/null
    wt_die "the probe did not take the mutex"
fi

ovq_run_second 5000 -s
wt_log "ovq.exe -s returned after $OVQ_ELAPSED_MS ms"
wt_expect_eq "$OVQ_EXIT" 1 "exit code of ovq.exe -s while the mutex is held"
probe wait-window 1000
wt_expect_eq "$(kv found)" 0 "no ovq window"

kill -TERM "$HOLDER_PID" 2>/dev/null
ovq_wait_pid_gone "$HOLDER_PID" 5000 || kill -KILL "$HOLDER_PID" 2>/dev/null
wait "$HOLDER_PID" 2>/dev/null
probe mutex-exists
wt_expect_eq "$(kv exists)" 0 "mutex released with its holder"
