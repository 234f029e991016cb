#!/usr/bin/env bash
# ./run.sh as a user types it, in this run's Wine environment, with each of its
# claims held against what runs: "ovq is running (pid N)" must name a copy that
# still runs two seconds later with its window, whose title is the text of the
# arguments given; "ovq.exe ended with exit code C" must leave no window and no
# ovq.pid; "second copy exited with C" is a hand-over. The cases:
#   - the sequence ./run.sh, ./run.sh -x, a pause, ./run.sh -x, three times, with
#     pauses of 0, 1 and 2 s: a copy runs; -x is handed over (1) and that copy
#     ends; the last launch's copy ends through its own -x (0), never "runs";
#   - ./run.sh -s: runs, title "ovq -s";
#   - a launch whose copy finds the single-copy marker held without a window (as
#     a copy that is ending holds it) and waits: the probe holds the marker until
#     the copy has looked at it, so the copy then becomes the first copy with its
#     own arguments. With -x it ends with 0 and is never said to run; with -s it
#     runs, title "ovq -s";
#   - a launch racing another copy of `ovq.exe -s` started outside run.sh at the
#     same moment, three times: whichever becomes the first copy, run.sh tells
#     its own copy's fate: it runs (the other copy handed over, 1), or it ended
#     with 1 (it handed over; the other copy runs), never the other's window
#     taken for its own;
#   - two ./run.sh started together, four times: exactly one says that ovq runs,
#     and ovq.pid names its copy once both have returned;
#   - a stale ovq.pid (naming a process that has ended) is removed, with a line
#     that says so.
# run.sh uses this run's Wine state (its prefix, display, wineserver and keeper)
# and the build under test (OVQ_SKIP_BUILD=1, OVQ_BUILD_DIR); the 64-bit build
# takes run.sh's 64-bit path on any host (OVQ_NO_IA32=1).
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
wt_init "$@"
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
ovq_require_tools timeout || wt_die "timeout is missing"

# run.sh's record of its copy, in the state it shares with this test; its log
# is kept with the test's.
runsh_on_exit() {
    local rc=$?
    cp "$OVQ_WINE_STATE/ovq.log" "$WT_DIR/run.sh-ovq.log" 2>/dev/null
    rm -f "$OVQ_WINE_STATE/ovq.pid" "$OVQ_WINE_STATE/ovq.display" "$OVQ_WINE_STATE/ovq.log"
    (exit $rc)
    wt_on_exit
}
trap runsh_on_exit EXIT
rm -f "$OVQ_WINE_STATE/ovq.pid" "$OVQ_WINE_STATE/ovq.display" "$OVQ_WINE_STATE/ovq.log"

RUNSH_ENV=(OVQ_SKIP_BUILD=1 "OVQ_BUILD_DIR=$(dirname "$OVQ_EXE")")
[[ $OVQ_WINE_ARCH == win64 ]] && RUNSH_ENV+=(OVQ_NO_IA32=1)
RUNSH_N=0
RUNSH_TOGETHER=0 # 1 while two ./run.sh run together
declare -A SEEN

# runsh_start ARGS...: ./run.sh ARGS in the background; RUNSH_PID, RUNSH_FILE.
runsh_start() {
    RUNSH_N=$((RUNSH_N + 1))
    RUNSH_ARGS=("$@")
    RUNSH_FILE="$WT_DIR/run.sh.$RUNSH_N.out"
    env "${RUNSH_ENV[@]}" timeout 120 bash "$ROOT/run.sh" "$@" </dev/null >"$RUNSH_FILE" 2>&1 &
    RUNSH_PID=$!
}

# runsh_wait: waits for it; RUNSH_RC, and the claim checked (check_claim).
runsh_wait() {
    RUNSH_RC=0
    wait "$RUNSH_PID" || RUNSH_RC=$?
    {
        echo "\$ ./run.sh ${RUNSH_ARGS[*]}  (rc=$RUNSH_RC)"
        cat "$RUNSH_FILE"
    } >>"$WT_DIR/run.sh.log"
    grep -q "^run.sh: running $OVQ_WINE_ARCH:" "$RUNSH_FILE" ||
        wt_harness_fail "run.sh did not take the $OVQ_WINE_ARCH path: '$(head -n1 "$RUNSH_FILE")'"
    check_claim
}

# runsh ARGS...: ./run.sh ARGS in the foreground.
runsh() {
    runsh_start "$@"
    runsh_wait
}

# The text a copy's title shows once its own arguments have run.
title_of() {
    local text=ovq arg
    for arg in "$@"; do text+=" $arg"; done
    printf '%s' "$text"
}

# check_claim: what run.sh said against what runs; CLAIM is running, ended or
# handed, CLAIM_PID and CLAIM_CODE its figures. Each claim is counted in SEEN.
check_claim() {
    local what="./run.sh ${RUNSH_ARGS[*]} (call $RUNSH_N)"
    CLAIM='' CLAIM_PID='' CLAIM_CODE=''
    if CLAIM_PID=$(sed -n 's/^run.sh: ovq is running (pid \([0-9]*\))$/\1/p' "$RUNSH_FILE") && [[ -n $CLAIM_PID ]]; then
        CLAIM=running
        WT_PIDS+=("$CLAIM_PID")
        wt_expect_eq "$RUNSH_RC" 0 "$what: exit code with 'running'"
        # What must not happen is watched for a fixed time: the copy ending.
        wt_expect "$what: the copy said to run (pid $CLAIM_PID) still runs 2 s later" \
            not ovq_wait_pid_gone "$CLAIM_PID" 2000
        wt_expect_eq "$(cat "$OVQ_WINE_STATE/ovq.pid" 2>/dev/null)" "$CLAIM_PID" "$what: ovq.pid"
        probe title
        wt_expect_eq "$(kv title)" "$(title_of "${RUNSH_ARGS[@]}")" "$what: the running copy's title"
    elif CLAIM_CODE=$(sed -n 's/^run.sh: ovq.exe ended with exit code \([0-9]*\)$/\1/p' "$RUNSH_FILE") &&
        [[ -n $CLAIM_CODE ]]; then
        CLAIM=ended
        wt_expect_eq "$RUNSH_RC" "$CLAIM_CODE" "$what: exit code with 'ended with exit code $CLAIM_CODE'"
        # Alone, nothing may be left; beside another ./run.sh the record may be
        # the other's, of a copy that runs, never one of the copy that ended
        # (the round checks ovq.pid once both returned).
        local recorded
        recorded=$(cat "$OVQ_WINE_STATE/ovq.pid" 2>/dev/null)
        if ((RUNSH_TOGETHER)); then
            wt_expect "$what: no ovq.pid after its copy ended, or one of a copy that runs (${recorded:-none})" \
                eval '[[ -z $recorded ]] || ovq_pid_alive "$recorded" ovq'
        else
            wt_expect "$what: no ovq.pid after its copy ended" test ! -e "$OVQ_WINE_STATE/ovq.pid"
        fi
    elif CLAIM_CODE=$(sed -n 's/^run.sh: second copy exited with \([0-9]*\)$/\1/p' "$RUNSH_FILE") &&
        [[ -n $CLAIM_CODE ]]; then
        CLAIM=handed
        wt_expect_eq "$RUNSH_RC" "$CLAIM_CODE" "$what: exit code of the hand-over"
    else
        wt_log "FAIL: $what said neither that ovq runs, nor that it ended, nor that it handed over:"
        sed 's/^/    /' "$RUNSH_FILE"
        WT_FAILED=1
        CLAIM=none
    fi
    local key="$CLAIM${CLAIM_CODE:+ $CLAIM_CODE}"
    SEEN[$key]=$((${SEEN[$key]:-0} + 1))
    wt_log "$what: $key${CLAIM_PID:+ (pid $CLAIM_PID)}, rc=$RUNSH_RC"
}

not() { ! "$@"; }

# expect_claim WHAT CLAIM [CODE]: the last call said that.
expect_claim() {
    wt_expect_eq "$CLAIM${CLAIM_CODE:+ $CLAIM_CODE}" "$2${3:+ $3}" "$1"
}

# no_copy_left WHAT: no ovq window within 5 s.
no_copy_left() {
    wt_expect "$1: no ovq window left" probe wait-gone 5000
}

# ---- the sequence, three times ----

for pause in 0 1 2; do
    runsh
    expect_claim "pause $pause: ./run.sh" running
    first=$CLAIM_PID
    runsh -x
    expect_claim "pause $pause: ./run.sh -x" handed 1
    [[ -n $first ]] && wt_expect "pause $pause: the copy ended after the hand-over of -x" ovq_wait_pid_gone "$first" 5000
    # The pause is part of the sequence under test (how soon the next command
    # comes), not a wait for anything.
    sleep "$pause"
    runsh -x
    expect_claim "pause $pause: the last ./run.sh -x" ended 0
    no_copy_left "pause $pause"
done

# ---- own arguments that keep the copy ----

runsh -s
expect_claim "./run.sh -s" running
runsh -x
expect_claim "./run.sh -x after ./run.sh -s" handed 1
no_copy_left "after ./run.sh -s and -x"

# ---- a copy that waits for the marker, then becomes the first copy ----

for args in -x -s; do
    : >"$WT_DIR/holder.out"
    wine "$PROBE_EXE" hold-mutex 60000 --until-looked </dev/null >"$WT_DIR/holder.out" 2>&1 &
    holder=$!
    wt_wait_line "$WT_DIR/holder.out" '^ready' 20000 "$holder" || wt_harness_fail "the probe did not take the marker"
    runsh "$args"
    wait "$holder"
    grep -q '^looked=1' "$WT_DIR/holder.out" ||
        wt_harness_fail "the copy of ./run.sh $args never looked at the held marker: $(tr '\n' ' ' <"$WT_DIR/holder.out")"
    wt_log "the marker went $(sed -n 's/^looked_ms=//p' "$WT_DIR/holder.out") ms after it was taken, once the copy looked"
    if [[ $args == -x ]]; then
        expect_claim "./run.sh -x whose copy waited for the marker" ended 0
    else
        expect_claim "./run.sh -s whose copy waited for the marker" running
        runsh -x
        expect_claim "./run.sh -x after it" handed 1
    fi
    no_copy_left "the waiting ./run.sh $args"
done

# ---- a launch racing another copy ----

for round in 1 2 3; do
    runsh_start -s
    wt_wait_line "$RUNSH_FILE" '^run.sh: starting ovq.exe' 60000 "$RUNSH_PID" ||
        wt_die "round $round: ./run.sh -s started no copy: $(tr '\n' ' ' <"$RUNSH_FILE")"
    ovq_start -s
    other=$OVQ_PID
    runsh_wait
    if [[ $CLAIM == running ]]; then
        ovq_wait_exit "$other" 10000 || wt_die "round $round: the other copy still runs 10 s after run.sh's copy ran"
        wt_expect_eq "$OVQ_EXIT" 1 "round $round: run.sh's copy runs; the other copy handed over"
    else
        expect_claim "round $round: run.sh's copy" ended 1
        wt_expect "round $round: run.sh's copy ended with 1; the other copy runs" not ovq_wait_pid_gone "$other" 2000
        probe title
        wt_expect_eq "$(kv title)" "ovq -s" "round $round: the other copy's title"
    fi
    wt_log "round $round: the first copy was $([[ $CLAIM == running ]] && echo "run.sh's" || echo "the other")"
    ovq_run_second 10000 -x
    wt_expect_eq "$OVQ_EXIT" 1 "round $round: exit code of ovq.exe -x"
    no_copy_left "round $round"
done

# ---- two ./run.sh together ----
# Both started at one moment, without arguments: often both start a copy, one
# of which becomes the running copy while the other ends with 1 (or the later
# one sees the first one's window and hands over). Whichever run.sh says that
# ovq runs, ovq.pid names that copy once both have returned: the run.sh whose
# copy ended must not have taken the record away, nor left its own there.

RUNSH_TOGETHER=1
for round in 1 2 3 4; do
    runsh_start
    one=("$RUNSH_PID" "$RUNSH_FILE" "$RUNSH_N")
    runsh_start
    two=("$RUNSH_PID" "$RUNSH_FILE" "$RUNSH_N")
    running=0 own_copies=0
    for call in one two; do
        declare -n this=$call
        RUNSH_PID=${this[0]} RUNSH_FILE=${this[1]} RUNSH_N=${this[2]} RUNSH_ARGS=()
        runsh_wait
        case $CLAIM in
        running) running=$((running + 1)) runner=$CLAIM_PID ;;
        ended) expect_claim "round $round: the other ./run.sh" ended 1 ;;
        handed) expect_claim "round $round: the other ./run.sh" handed 1 ;;
        esac
        grep -q '^run.sh: starting ovq.exe' "$RUNSH_FILE" && own_copies=$((own_copies + 1))
        unset -n this
    done
    wt_expect_eq "$running" 1 "round $round: ./run.sh calls that say ovq runs"
    ((running == 1)) &&
        wt_expect_eq "$(cat "$OVQ_WINE_STATE/ovq.pid" 2>/dev/null)" "$runner" \
            "round $round: ovq.pid after both returned names the running copy"
    wt_log "round $round: $own_copies of the two ./run.sh started a copy of their own"
    runsh -x
    expect_claim "round $round: ./run.sh -x" handed 1
    no_copy_left "two ./run.sh together, round $round"
done
RUNSH_TOGETHER=0

# ---- a stale ovq.pid ----

true &
dead=$!
wait "$dead"
echo "$dead" >"$OVQ_WINE_STATE/ovq.pid"
runsh -x
wt_expect "the stale ovq.pid (pid $dead) is said to be removed" \
    grep -qx "run.sh: removed the stale $OVQ_WINE_STATE/ovq.pid: ovq (pid $dead) has ended" "$RUNSH_FILE"
expect_claim "./run.sh -x after a stale ovq.pid" ended 0

for claim in "${!SEEN[@]}"; do wt_log "claims: $claim x${SEEN[$claim]}"; done
