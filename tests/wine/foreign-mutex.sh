#!/usr/bin/env bash
# Another process holds the single-copy mutex but has no ovq window. A plain
# `ovq.exe` takes itself for a second copy and exits 1 at once. `ovq.exe -s`
# does too, but first waits for a window that never comes, up to its deadline
# of a few seconds; it sends nothing and creates no window. When the holder lets
# the mutex go while a launch `ovq.exe -s` waits, that launch runs as the copy,
# with its own -s in force.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/commands-lib.sh
. "$(dirname "$0")/commands-lib.sh"
wt_init "$@"

# hold_mutex MS: a probe takes the mutex for MS; sets HOLDER_PID.
hold_mutex() {
    : >"$WT_DIR/holder.out"
    wine "$PROBE_EXE" hold-mutex "$1" </dev/null >"$WT_DIR/holder.out" 2>&1 &
    HOLDER_PID=$!
    if ! wt_wait_line "$WT_DIR/holder.out" '^ready' 20000 "$HOLDER_PID"; then
        kill "$HOLDER_PID" 2>/dev/null
        wt_die "the probe did not take the mutex"
    fi
}

# end_holder: the holder ends (at once, or when its time is up).
end_holder() {
    kill -TERM "$HOLDER_PID" 2>/dev/null
    ovq_wait_pid_gone "$HOLDER_PID" 5000 || kill -KILL "$HOLDER_PID" 2>/dev/null
    wait "$HOLDER_PID" 2>/dev/null
}

hold_mutex 60000
ovq_run_second 5000
wt_log "ovq.exe returned after $OVQ_ELAPSED_MS ms"
wt_expect_eq "$OVQ_EXIT" 1 "exit code of a plain ovq.exe while the mutex is held"

# the wait is a few seconds; 20 s only catches a launch that hangs
ovq_run_second 20000 -s
wt_log "ovq.exe -s returned after $OVQ_ELAPSED_MS ms"
wt_expect_eq "$OVQ_EXIT" 1 "exit code of ovq.exe -s while the mutex is held"
probe wait-window 1000
wt_expect_eq "$(kv found)" 0 "no ovq window"

end_holder
probe mutex-exists
wt_expect_eq "$(kv exists)" 0 "mutex released with its holder"

# The holder goes after 1.5 s, while the launch waits for a window.
hold_mutex 1500
ovq_start -s
LAUNCH_PID=$OVQ_PID
probe wait-window 10000
wt_expect_eq "$(kv found)" 1 "the waiting launch runs as the copy once the holder has gone"
probe wait-title "ovq -s" 5000
wt_expect_eq "$(kv match)" 1 "its own -s ran (title)"
wt_expect_no_resets "its own -s ran"
end_holder
ovq_run_second 10000 -x
wt_expect_eq "$OVQ_EXIT" 1 "exit code of a later ovq.exe -x"
ovq_wait_exit "$LAUNCH_PID" 5000 || wt_die "the launch still runs 5 s after ovq.exe -x"
wt_expect_eq "$OVQ_EXIT" 0 "exit code of the launch after -x"
