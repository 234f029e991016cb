# shellcheck shell=bash
# Helpers shared by the Wine tests of ovq; sourced by every tests/wine/*.sh.
#
# A test script is run as   bash tests/wine/<name>.sh <ovq.exe> <probe.exe>
# with OVQ_WINE_STATE (Wine state directory) and OVQ_WINE_ARTIFACTS (logs and
# screenshots) in the environment, as tests/wine/CMakeLists.txt registers it.
# wt_init brings the Wine environment up (reusing what the ctest fixture started,
# or starting it when the test runs alone), makes sure no ovq is left from
# elsewhere, and installs an exit trap that ends every ovq the test started:
# first by WM_CLOSE through the probe, then by its process id.
# A missing tool (wine, Xvfb) is a failure, never a skip.
# Results for the calling test: PROBE_OUT (kv KEY reads it), OVQ_PID, OVQ_LOG,
# FIRST_PID, OVQ_EXIT, OVQ_ELAPSED_MS.
#
# ovq starts under OVQ_PROGRAM_LOCALE (default C.UTF-8, code page 1252 in Wine, as
# on an English Windows), never under the Japanese locale of the prefix, so that
# every test proves that the program brings its own code page 932 (its
# manifest's activeCodePage). The probe stays Japanese: the texts it sends and
# reads are code page 932 bytes.
# shellcheck disable=SC2034

set -u
# The test reads its tools in the C locale, whatever the caller's; the Wine
# programs get theirs from the loader script (scripts/wine-env.sh).
export LC_ALL=C.UTF-8
unset LANGUAGE

OVQ_PROGRAM_LOCALE=${OVQ_PROGRAM_LOCALE:-C.UTF-8}

WT_NAME=$(basename "${BASH_SOURCE[1]:-$0}" .sh)
WT_PIDS=()
WT_FAILED=0

wt_log() { printf '[%s] %s\n' "$WT_NAME" "$*"; }

wt_init() {
    if (($# != 2)); then
        echo "usage: $0 <ovq.exe> <probe.exe>" >&2
        exit 2
    fi
    OVQ_EXE=$(realpath "$1")
    PROBE_EXE=$(realpath "$2")
    [[ -f $OVQ_EXE ]] || { wt_log "FAIL: no program at $1"; exit 1; }
    [[ -f $PROBE_EXE ]] || { wt_log "FAIL: no probe at $2"; exit 1; }
    : "${OVQ_WINE_STATE:?OVQ_WINE_STATE must name the Wine state directory}"
    OVQ_WINE_ARTIFACTS=${OVQ_WINE_ARTIFACTS:-$OVQ_WINE_STATE/artifacts}
    export OVQ_USE_HOST_DISPLAY=0
    WT_DIR="$OVQ_WINE_ARTIFACTS/$WT_NAME"
    rm -rf "$WT_DIR"
    mkdir -p "$WT_DIR"
    # shellcheck source=scripts/wine-env.sh
    . "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
    ovq_require_tools wine wineserver Xvfb xdpyinfo || wt_die "Wine or Xvfb is missing"
    ovq_env_up "$PROBE_EXE" || wt_die "the Wine environment did not come up"
    wt_log "DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX"
    trap wt_on_exit EXIT
    wt_ensure_no_ovq
}

wt_die() {
    wt_log "FAIL: $*"
    WT_FAILED=1
    wt_shot failure
    exit 1
}

# wt_expect_eq ACTUAL EXPECTED WHAT, wt_expect WHAT COMMAND...: a failed check
# is recorded and the test goes on; the test fails at its end. Each returns 1
# when its check failed, for a test that also counts its failed rounds.
wt_expect_eq() {
    local actual=$1 expected=$2 what=$3
    if [[ $actual == "$expected" ]]; then
        wt_log "ok: $what = $expected"
    else
        wt_log "FAIL: $what: expected '$expected', got '$actual'"
        WT_FAILED=1
        return 1
    fi
}

wt_expect() {
    local what=$1
    shift
    if "$@"; then
        wt_log "ok: $what"
    else
        wt_log "FAIL: $what"
        WT_FAILED=1
        return 1
    fi
}

wt_shot() {
    [[ -n ${DISPLAY:-} ]] && command -v import >/dev/null || return 0
    import -display "$DISPLAY" -window root "$WT_DIR/$1.png" >/dev/null 2>&1 || true
}

# wt_harness_fail WHAT: the test's own tools failed, not ovq: one line that says
# so, and the test ends, since nothing it would check next means anything.
wt_harness_fail() {
    wt_log "FAIL (the harness, not ovq): $*"
    WT_FAILED=1
    exit 1
}

# probe COMMAND ARGS...: runs the probe; its key=value output lands in PROBE_OUT
# and in the test's log; returns the probe's exit code. The commands that start
# ovq run the probe under ovq's locale: Wine gives a process the locale of the
# process that starts it, whatever LC_ALL its environment block holds.
# The probe's first line names its command and its last gives its exit code. A
# run without the first line never reached the probe's code (Wine did not start
# it), so nothing it was to do has happened: it is tried once more, logged. A run
# with the first line but not the last, or whose last line disagrees with Wine's
# exit code, may have done its action: it ends the test as a failure of the
# harness, with Wine's exit code and what Wine wrote on stderr. Never an
# assertion about ovq is retried.
probe() {
    # Wine's err channel is on for the probe (quiet in a normal run), so that a
    # start that fails says why.
    local rc wine=(env "WINEDEBUG=-all,err+all" wine) attempt stderr="$WT_DIR/probe.last-stderr" said end
    case $1 in
    run | race | exit-and-launch)
        wine=(env "WINEDEBUG=-all,err+all" OVQ_WINE_LOCALE="$OVQ_PROGRAM_LOCALE" wine)
        ;;
    esac
    for attempt in 1 2; do
        rc=0
        PROBE_OUT=$("${wine[@]}" "$PROBE_EXE" "$@" </dev/null 2>"$stderr") || rc=$?
        cat "$stderr" >>"$WT_DIR/probe.stderr"
        printf '$ probe %s  (rc=%d)\n%s\n' "$*" "$rc" "$PROBE_OUT" >>"$WT_DIR/probe.log"
        said=$(tr -s '\n' ' ' <"$stderr" | head -c 400)
        [[ $(head -n1 <<<"$PROBE_OUT") == "probe=$1" ]] && break
        ((attempt == 2)) &&
            wt_harness_fail "probe $* did not start twice: Wine's exit code $rc, stderr: '$said'"
        wt_log "the harness: probe $* did not start (Wine's exit code $rc, stderr: '$said'); trying it once more"
    done
    end=$(kv end)
    if [[ -z $end || $(tail -n1 <<<"$PROBE_OUT") != "end=$end" ]] || (((end & 255) != rc)); then
        wt_harness_fail "probe $* ended without its result: Wine's exit code $rc, last line" \
            "'$(tail -n1 <<<"$PROBE_OUT")', stderr: '$said'"
    fi
    return $rc
}

# kv KEY: the value of KEY in the last probe output.
kv() { sed -n "s/^$1=//p" <<<"$PROBE_OUT" | head -n1; }

# wt_wait_line FILE PATTERN MS PID: polls until FILE has a line matching PATTERN;
# fails at the deadline or when PID (the writer) has ended.
wt_wait_line() {
    local file=$1 pattern=$2 deadline=$(($(ovq_ms) + $3)) pid=$4
    until grep -q -- "$pattern" "$file" 2>/dev/null; do
        if (($(ovq_ms) >= deadline)) || ! kill -0 "$pid" 2>/dev/null; then
            return 1
        fi
        sleep 0.05
    done
}

# ovq_start ARGS...: starts `wine ovq.exe ARGS` in the background; sets OVQ_PID.
ovq_start() {
    local n=${#WT_PIDS[@]}
    OVQ_LOG="$WT_DIR/ovq.$n.log"
    # env execs wine, so $! is the process of ovq itself.
    env OVQ_WINE_LOCALE="$OVQ_PROGRAM_LOCALE" wine "$OVQ_EXE" "$@" </dev/null >"$OVQ_LOG" 2>&1 &
    OVQ_PID=$!
    WT_PIDS+=("$OVQ_PID")
    wt_log "started ovq.exe $* (pid $OVQ_PID, $OVQ_PROGRAM_LOCALE)"
}

# ovq_wait_exit PID MS: waits for a started ovq; sets OVQ_EXIT (empty on timeout).
ovq_wait_exit() {
    local pid=$1
    OVQ_EXIT=
    if ovq_wait_pid_gone "$pid" "$2"; then
        wait "$pid"
        OVQ_EXIT=$?
        wt_forget "$pid"
        return 0
    fi
    return 1
}

# wt_forget PID: a started process this shell has reaped: the exit trap must
# not signal its id, which may belong to another process from now on.
wt_forget() {
    local kept=() pid
    for pid in "${WT_PIDS[@]}"; do
        [[ $pid == "$1" ]] || kept+=("$pid")
    done
    WT_PIDS=("${kept[@]}")
}

# ovq_run_second MS ARGS...: a second launch in the foreground with a deadline;
# sets OVQ_EXIT and OVQ_ELAPSED_MS.
ovq_run_second() {
    local ms=$1 start
    shift
    start=$(ovq_ms)
    ovq_start "$@"
    if ! ovq_wait_exit "$OVQ_PID" "$ms"; then
        wt_log "FAIL: ovq.exe $* still runs after $ms ms"
        WT_FAILED=1
    fi
    OVQ_ELAPSED_MS=$(($(ovq_ms) - start))
}

# The first copy: starts it and waits until its window exists. A copy that ends
# instead (Wine could not start it, or its own arguments ended it) is told at
# once, with its exit code and what Wine wrote.
ovq_start_first() {
    local started deadline
    ovq_start "$@"
    FIRST_PID=$OVQ_PID
    started=$(ovq_ms)
    deadline=$((started + 20000))
    until probe wait-window 500; do
        if ovq_wait_exit "$FIRST_PID" 0; then
            wt_die "ovq.exe $* ended with $OVQ_EXIT before its window came; Wine wrote:" \
                "'$(head -c 300 "$OVQ_LOG" | tr -s '\n' ' ')'"
        fi
        (($(ovq_ms) >= deadline)) && wt_die "no ovq window within 20 s"
    done
    wt_log "window after $(($(ovq_ms) - started)) ms"
}

# Ends an ovq: WM_CLOSE through the probe, then by process id.
ovq_end() {
    local pid=$1
    kill -0 "$pid" 2>/dev/null || return 0
    [[ $(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) == Z ]] && return 0
    probe close >/dev/null 2>&1
    ovq_wait_pid_gone "$pid" 5000 && return 0
    wt_log "ovq pid $pid did not close; killing it"
    kill -TERM "$pid" 2>/dev/null
    ovq_wait_pid_gone "$pid" 3000 && return 0
    kill -KILL "$pid" 2>/dev/null
    ovq_wait_pid_gone "$pid" 3000
}

# An ovq window left by an earlier, interrupted test would spoil this one.
wt_ensure_no_ovq() {
    probe wait-gone 0 && return 0
    wt_log "an ovq window is left from before; closing it"
    probe close
    probe wait-gone 5000 && return 0
    probe terminate 1
    probe wait-gone 5000 || wt_die "an earlier ovq cannot be ended"
}

wt_on_exit() {
    local rc=$? pid
    for pid in "${WT_PIDS[@]}"; do
        ovq_end "$pid"
    done
    if ((rc == 0 && WT_FAILED)); then
        rc=1
    fi
    if ((rc != 0)); then
        wt_shot failure
        wt_log "FAILED (logs and screenshots in $WT_DIR)"
        [[ -f $WT_DIR/probe.log ]] && tail -n 40 "$WT_DIR/probe.log"
    else
        wt_log "passed"
    fi
    exit $rc
}
