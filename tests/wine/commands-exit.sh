#!/usr/bin/env bash
# -x ends the running copy with exit code 0: sent by a second launch (alone, or
# behind -s inside one quoted argument "-s -x"), or given to the first launch
# itself. A second launch returns only after the running copy has destroyed its
# window, so the window is gone the moment it has exited 1.
# A first launch with -s permits from the very start: no idle reset ever happens.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/commands-lib.sh
. "$(dirname "$0")/commands-lib.sh"
wt_init "$@"

# expect_first_ended WHAT: the first copy ends with 0 and releases the mutex.
expect_first_ended() {
    ovq_wait_exit "$FIRST_PID" 5000 || wt_die "the first copy still runs 5 s after $1"
    wt_expect_eq "$OVQ_EXIT" 0 "exit code of the first copy after $1"
    probe mutex-exists
    wt_expect_eq "$(kv exists)" 0 "single-copy mutex released after $1"
}

# a second ovq.exe -x
ovq_start_first
ovq_run_second 10000 -x
wt_expect_eq "$OVQ_EXIT" 1 "exit code of a second ovq.exe -x"
wt_expect_gone_now "after ovq.exe -x returned"
expect_first_ended "ovq.exe -x"

# a second ovq.exe "-s -x": one argument that carries two commands
ovq_start_first
wt_expect_resets "first copy without arguments"
ovq_run_second 10000 "-s -x"
wt_expect_eq "$OVQ_EXIT" 1 "exit code of a second ovq.exe \"-s -x\""
wt_expect_gone_now "after ovq.exe \"-s -x\" returned"
expect_first_ended "ovq.exe \"-s -x\""

# a first launch ovq.exe -x ends by itself
ovq_start -x
ovq_wait_exit "$OVQ_PID" 20000 || wt_die "a first ovq.exe -x still runs after 20 s"
wt_expect_eq "$OVQ_EXIT" 0 "exit code of a first ovq.exe -x"
probe wait-gone 0
wt_expect_eq "$(kv gone)" 1 "no window left by a first ovq.exe -x"
probe mutex-exists
wt_expect_eq "$(kv exists)" 0 "single-copy mutex released by a first ovq.exe -x"

# a first launch ovq.exe -s: no idle reset from its start on. The watch's idle_ms
# (time since the last input, at the watch's end) then covers all the time since
# ovq was started; a single reset would leave at most 900 ms.
started=$(ovq_ms)
ovq_start_first -s
wt_expect_title_now "ovq -s" "first ovq.exe -s"
probe idle-watch 2500
since_start=$(($(ovq_ms) - started))
idle_ms=$(kv idle_ms)
wt_expect_eq "$(kv advances)" 0 "idle resets during 2.5 s after a first ovq.exe -s"
wt_log "idle_ms=$idle_ms, ${since_start} ms since ovq.exe -s was started"
wt_expect "no idle reset since the start of ovq.exe -s (idle ${idle_ms:-none} ms of $since_start ms)" \
    test "${idle_ms:-0}" -ge $((since_start - 500))
wt_expect "the first ovq.exe -s still runs" kill -0 "$FIRST_PID"
