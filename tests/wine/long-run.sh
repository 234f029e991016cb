#!/usr/bin/env bash
# A long run without growth: two thousand hand-offs, then a thousand
# "TaskbarCreated". The texts alternate -c and -s (even numbers -c, odd -s)
# among noise words, quoted runs and empty quotes; most come from the probe
# (WM_SETTEXT across processes, as a second copy sends it), and in every block
# of two hundred the last two are real second launches of ovq.exe, which must
# exit 1. Afterwards ovq still runs, its permit switch is that of the last text
# (-s: on, so the idle time is no longer reset; a later -c resets it again), it
# ends on -x with 0, and between the warm-up point (after the first block of
# hand-offs, a suppressing tick and a first hundred TaskbarCreated) and the end
# its memory grew by at most 64 KiB and its handles by at most 2.
# Memory and handles are read from outside: Wine gives 0 for another process's
# PrivateUsage and GetProcessHandleCount, so the memory is PagefileUsage (its
# resident anonymous memory, which moves with what the heap takes) and the
# handles are counted in the system's handle list (see probe proc-usage).
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/stress-lib.sh
. "$(dirname "$0")/stress-lib.sh"
wt_init "$@"

MAX_MEMORY_GROWTH=$((64 * 1024))
MAX_HANDLE_GROWTH=2

# read_usage NAME: ovq's figures now; sets USAGE_MEMORY and USAGE_HANDLES.
read_usage() {
    probe proc-usage || wt_die "$1: ovq's usage cannot be read"
    USAGE_MEMORY=$(kv pagefile_usage)
    USAGE_HANDLES=$(kv handles)
    wt_log "$1: pagefile_usage=$USAGE_MEMORY private_usage=$(kv private_usage)" \
        "handles=$USAGE_HANDLES api_handles=$(kv api_handles) threads=$(kv threads)" \
        "(the list counts the probe's 5 new handles as $(kv self_handles_delta_for_5))"
    [[ $USAGE_MEMORY =~ ^[0-9]+$ && $USAGE_MEMORY -gt 0 ]] || wt_die "$1: no memory figure"
    [[ $USAGE_HANDLES =~ ^[0-9]+$ && $USAGE_HANDLES -gt 0 ]] || wt_die "$1: no handle count"
    [[ $(kv self_handles_delta_for_5) == 5 ]] || wt_die "$1: the system's handle list does not count right"
}

# real_launch N: hand-off text number N as a real second launch.
real_launch() {
    if (($1 % 2)); then
        ovq_run_second 15000 "x y" -S
    else
        ovq_run_second 15000 "n$1" -c
    fi
    [[ $OVQ_EXIT == 1 ]] || wt_die "the second launch for text $1 exited with '$OVQ_EXIT', not 1"
}

# block B: hand-offs 200*B to 200*B+199, the last two as real launches.
block() {
    local first=$((200 * $1))
    probe settext-series "$first" $((first + 198)) || wt_die "hand-offs from $first: $(kv sent) delivered"
    real_launch $((first + 198))
    real_launch $((first + 199))
}

started=$(ovq_ms)
ovq_start_first

# The warm-up covers a suppressing tick (Wine's user32 opens two registry keys
# on the first one), a block of hand-offs and a first hundred TaskbarCreated.
probe idle-watch 10000 --until 2
wt_expect "the idle time is reset after start ($(kv advances) advances)" test "$(kv advances)" -ge 1
block 0
probe taskbar-storm 100 --helper || wt_die "the first TaskbarCreated did not get through"
read_usage warm-up
warm_memory=$USAGE_MEMORY warm_handles=$USAGE_HANDLES

for b in $(seq 1 9); do
    block "$b"
done
wt_log "2000 hand-offs done after $(($(ovq_ms) - started)) ms"
wt_expect "ovq still runs after 2000 hand-offs" kill -0 "$FIRST_PID"
probe title
wt_expect_eq "$(kv title)" "ovq x y -S" "title after the last hand-off"
read_usage after-handoffs

probe taskbar-storm 900 --helper || wt_die "the TaskbarCreated storm did not get through ($(kv sent) sent)"
wt_log "900 more TaskbarCreated in $(kv elapsed_ms) ms"
wt_expect "ovq still runs after 1000 TaskbarCreated" kill -0 "$FIRST_PID"
read_usage end

memory_growth=$((USAGE_MEMORY - warm_memory))
handle_growth=$((USAGE_HANDLES - warm_handles))
wt_expect "memory grew by $memory_growth bytes ($warm_memory to $USAGE_MEMORY), at most $MAX_MEMORY_GROWTH" \
    test "$memory_growth" -le "$MAX_MEMORY_GROWTH"
wt_expect "handles grew by $handle_growth ($warm_handles to $USAGE_HANDLES), at most $MAX_HANDLE_GROWTH" \
    test "$handle_growth" -le "$MAX_HANDLE_GROWTH"

# The last text carried -s after a -c: the switch is on, nothing resets the idle time.
probe idle-watch 2700
wt_expect_eq "$(kv advances)" 0 "last-input advances with the switch on"
ovq_run_second 15000 -c
wt_expect_eq "$OVQ_EXIT" 1 "exit code of a second ovq.exe -c"
probe idle-watch 10000 --until 2
wt_expect "idle time reset again after -c ($(kv advances) advances)" test "$(kv advances)" -ge 2

ovq_run_second 15000 -x
wt_expect_eq "$OVQ_EXIT" 1 "exit code of a second ovq.exe -x"
ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq still runs 5 s after ovq.exe -x"
wt_expect_eq "$OVQ_EXIT" 0 "exit code of ovq after the long run and -x"
stress_restart_desktop
wt_log "the long run took $(($(ovq_ms) - started)) ms"
