#!/usr/bin/env bash
# Prints ovq's figures, each measured in this one run, as one table with units:
#   - the size of each ovq.exe measured and the DLLs it imports;
#   - the Windows calls and heap allocations of one tick, permit switch off and
#     on, in the simulated Windows layer;
#   - the tokenizer's time over a 1 MiB and a 16 MiB text, and their ratio;
#   - under Wine, against minimal programs that do only the same Windows work
#     (tests/bench), in alternating pairs, each launch after the machine is
#     quiet: the hand-off of a second launch (until the resident copy has the
#     text, and until the launch has ended), the start-up until the message
#     loop runs (and until the window exists) against a bare window program and
#     against one that does all of ovq's start-up work; the memory after 10 s;
#     and side by side, the resident CPU time per minute with the switch off
#     and on, read from Linux's nanosecond run time once ovq's tray icon is in.
# The Wine figures are measured for the 32-bit build where the host runs i386
# code, and for the 64-bit one too; where it does not (scripts/host.sh), for the
# 64-bit one only. The first line of output says which; the table's header names
# the flavours and the Wine build.
#
#   ./bench.sh
#
# A benchmark, not a test: no figure ever fails it. It exits non-zero only when
# a measurement breaks (a build fails, a program does not start, a window never
# appears, a number cannot be read). The table is also saved to
# build/bench/bench.txt, the probe's raw output to build/bench/raw/, and, when
# the work tree holds a commit as it is, the table goes into
# docs/benchmarks.md (scripts/docs-table.sh).
# Wine's timings on a busy machine swing by up to 2x between runs, so each
# Wine ratio comes with the ratios of three blocks of its pairs.
set -euo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE
cd "$(dirname "$0")"
ROOT=$PWD
started=$SECONDS

OUT=$ROOT/build/bench
RAW=$OUT/raw
HOST_BUILD=$ROOT/build/bench-host
HANDOFF_PAIRS=45
STARTUP_PAIRS=21
MEMORY_ROUNDS=3
MEMORY_AFTER_MS=10000
CPU_ROUNDS=3
CPU_ROUND_MS=30000
CPU_SETTLE_MS=5000 # after both windows exist: their start-up work is over
OVQ_CLASS=TApp_TOOLScrBlock
OVQ_ICON_ID=13            # the id of ovq's notification icon
TRAY_DEADLINE_MS=20000    # for the shell to hold the icon of a started ovq
MIN_CLASS=OvqBenchWindow # the class window-min.exe registers
WORK_CLASS=OvqBenchStartup # the class startup-min.exe registers
TICK_CLASS=OvqBenchTick  # the class tick-min.exe registers

mkdir -p "$OUT" "$RAW"
rm -f "$RAW"/*

say() { printf 'bench.sh: %s\n' "$*" >&2; }
broken() {
    say "BROKEN MEASUREMENT: $*"
    exit 1
}

# shellcheck source=scripts/host.sh
. scripts/host.sh
if ovq_host_ia32; then
    FLAVOURS=(win32 win64)
    say "measuring win32 and win64: this host runs both"
else
    FLAVOURS=(win64)
    say "measuring win64 only: 32-bit code cannot run here ($OVQ_HOST_IA32_WHY)"
fi

# step NAME COMMAND...: runs a build step with its output in a log; shows the
# end of the log when it fails.
step() {
    local name=$1
    shift
    if ! "$@" >>"$OUT/build.log" 2>&1; then
        tail -n 30 "$OUT/build.log" >&2
        broken "$name failed (log: $OUT/build.log)"
    fi
}

: >"$OUT/build.log"
say "installing what is missing, building (log: $OUT/build.log)"
step "scripts/install-deps.sh" scripts/install-deps.sh
for flavour in "${FLAVOURS[@]}"; do
    step "configuring the $flavour preset" cmake --preset "$flavour"
    step "building the $flavour preset" cmake --build --preset "$flavour"
    for exe in ovq.exe probe.exe handoff-min.exe window-min.exe tick-min.exe startup-min.exe; do
        [[ -f build/$flavour/$exe ]] || broken "no build/$flavour/$exe after the build"
    done
    ovq_host_loader "$flavour" || broken "$OVQ_HOST_NO_WINE_WHY"
done
# The timing wants an optimised build; the host preset is a Debug build.
step "configuring $HOST_BUILD" cmake -S . -B "$HOST_BUILD" -DCMAKE_BUILD_TYPE=Release
step "building the host benchmark programs" cmake --build "$HOST_BUILD" -j 2 --target bench_ticks bench_tokenizer

# ---- the table ----
# Columns: figure, ovq, minimal program, ratio, ratio in three blocks, target.
ROWS=()
row() {
    local IFS=$'\t'
    ROWS+=("$*")
}

# kv KEY TEXT: the value of KEY in key=value lines.
kv() { sed -n "s/^$1=//p" <<<"$2" | head -n1; }

# need VALUE WHAT: a number that must have been read.
need() {
    [[ $1 =~ ^[0-9]+(\.[0-9]+)?$ ]] || broken "could not read $2 (got '$1')"
}

# ---- size and imports ----
for flavour in "${FLAVOURS[@]}"; do
    exe=build/$flavour/ovq.exe
    objdump=i686-w64-mingw32-objdump
    [[ $flavour == win64 ]] && objdump=x86_64-w64-mingw32-objdump
    size=$(stat -c %s "$exe")
    need "$size" "the size of $exe"
    dlls=$($objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ' | sed 's/ $//')
    [[ -n $dlls ]] || broken "no imported DLL could be read from $exe"
    row "ovq.exe size ($flavour)" "$size B ($(awk -v b="$size" 'BEGIN { printf "%.1f", b / 1024 }') KiB)" \
        "" "" "" "at most 12 KiB"
    row "ovq.exe imported DLLs ($flavour)" "$dlls" "" "" "" "only KERNEL32, USER32, SHELL32"
done

# ---- one tick in the simulated layer ----
ticks=$("$HOST_BUILD/tests/bench/bench_ticks") || broken "bench_ticks could not count a tick"
printf '%s\n' "$ticks" >"$RAW/ticks.txt"
# range MIN MAX NOUN: "3 calls", "1 call", or "3-4 calls" when the ticks of one
# group differ.
range() {
    if [[ $1 != "$2" ]]; then
        echo "$1-$2 ${3}s"
    elif [[ $1 == 1 ]]; then
        echo "1 $3"
    else
        echo "$1 ${3}s"
    fi
}
for position in off on; do
    need "$(kv "$position.calls_min" "$ticks")" "the calls of a tick ($position)"
    need "$(kv "$position.allocs_max" "$ticks")" "the allocations of a tick ($position)"
done
row "Windows calls per tick, switch off" \
    "$(range "$(kv off.calls_min "$ticks")" "$(kv off.calls_max "$ticks")" call) ($(kv off.names "$ticks"))" \
    "" "" "" "3"
row "heap allocations per tick, switch off" \
    "$(range "$(kv off.allocs_min "$ticks")" "$(kv off.allocs_max "$ticks")" allocation)" "" "" "" "0"
row "Windows calls per tick, switch on" \
    "$(range "$(kv on.calls_min "$ticks")" "$(kv on.calls_max "$ticks")" call) ($(kv on.names "$ticks"))" \
    "" "" "" "1"
row "heap allocations per tick, switch on" \
    "$(range "$(kv on.allocs_min "$ticks")" "$(kv on.allocs_max "$ticks")" allocation)" "" "" "" "0"

# ---- the tokenizer on the host ----
say "timing the tokenizer"
tokenizer=$("$HOST_BUILD/tests/bench/bench_tokenizer") || broken "bench_tokenizer could not time the tokenizer"
printf '%s\n' "$tokenizer" >"$RAW/tokenizer.txt"
small_s=$(kv small.seconds "$tokenizer")
large_s=$(kv large.seconds "$tokenizer")
tok_ratio=$(kv ratio "$tokenizer")
need "$small_s" "the tokenizer's 1 MiB time"
need "$large_s" "the tokenizer's 16 MiB time"
need "$tok_ratio" "the tokenizer's ratio"
ms() { awk -v s="$1" 'BEGIN { printf "%.1f ms", s * 1000 }'; }
runs=$(kv runs "$tokenizer")
row "tokenizer, 1 MiB text (best of $runs)" "$(ms "$small_s") ($(kv small.tokens "$tokenizer") tokens)" \
    "" "" "" ""
row "tokenizer, 16 MiB text (best of $runs)" "$(ms "$large_s") ($(kv large.tokens "$tokenizer") tokens)" \
    "" "" "" ""
row "tokenizer, 16 MiB / 1 MiB time (linear: 16)" "$tok_ratio" "" "" \
    "$(kv round_ratios "$tokenizer") (per round of $((runs / 3)))" "at most 17"

# ---- under Wine ----
export OVQ_USE_HOST_DISPLAY=0
RESIDENT_PID= PROBE_EXE= WINE_UP=0 CPU_PIDS=()

probe() { wine "$PROBE_EXE" "$@" </dev/null 2>>"$RAW/probe.stderr"; }

# Ends the resident copy this script started, then everything the Wine
# environment runs (its own Xvfb, wineserver and keeper, by their recorded ids).
wine_down() {
    if [[ -n $RESIDENT_PID ]] && kill -0 "$RESIDENT_PID" 2>/dev/null; then
        probe close >/dev/null 2>&1 || true
        ovq_wait_pid_gone "$RESIDENT_PID" 5000 || kill -TERM "$RESIDENT_PID" 2>/dev/null || true
    fi
    RESIDENT_PID=
    # What a broken CPU round left running (still the program it started).
    local pid
    for pid in "${CPU_PIDS[@]}"; do
        if [[ $(cat "/proc/$pid/comm" 2>/dev/null) =~ ^(ovq|tick-min)\.exe$ ]]; then
            kill -TERM "$pid" 2>/dev/null || true
        fi
    done
    CPU_PIDS=()
    if ((WINE_UP)); then
        ovq_env_stop "$PROBE_EXE" >/dev/null 2>&1 || true
    fi
    WINE_UP=0
}
cleanup() {
    local rc=$?
    wine_down
    exit $rc
}
trap cleanup EXIT

# measure NAME PROBE-ARGS...: runs a probe measurement; its output lands in
# $RAW/NAME.txt and in MEASURED.
measure() {
    local name=$1
    shift
    if ! MEASURED=$(probe "$@"); then
        printf '%s\n' "$MEASURED" >"$RAW/$FLAVOUR-$name.txt"
        broken "$name: $(grep -m1 '^error=' "$RAW/$FLAVOUR-$name.txt" || echo "the probe failed") (see $RAW/$FLAVOUR-$name.txt)"
    fi
    printf '%s\n' "$MEASURED" >"$RAW/$FLAVOUR-$name.txt"
}

# not_quiet FILE: how many of the counted launches (both programs' of every
# pair) began before the shell, X and wineserver were quiet.
not_quiet() { awk '/^pair=/ { n += gsub(/ [ab]_quiet=0/, "") } END { print n + 0 }' "$1"; }

# column KEY FILE: the numbers of KEY=<n> on the counted pair or round lines
# (not the warm-up pair), one a line.
column() { grep -E '^(pair|round)=' "$2" | grep -Eo " $1=[0-9.]+" | sed 's/.*=//'; }

# compare FILE KEY-A KEY-B COUNT:
#   "median-A median-B ratio block1 block2 block3 least-A least-B least-ratio":
# the ratio of the medians, the ratio of the medians of each third of the pairs
# (consecutive blocks, so a slow stretch of the machine shows as spread), and
# the smallest values, which other programs' load on the machine moves least.
compare() {
    local file=$1 a b
    a=$(column "$2" "$file")
    b=$(column "$3" "$file")
    (($(wc -l <<<"$a") == $4 && $(wc -l <<<"$b") == $4)) || broken "expected $4 values of $2 and $3 in $file"
    paste <(echo "$a") <(echo "$b") | awk -v n="$4" '
        function median(v, k,    i, j, t) {
            for (i = 2; i <= k; i++) { t = v[i]; for (j = i - 1; j >= 1 && v[j] > t; j--) v[j + 1] = v[j]; v[j + 1] = t }
            return k % 2 ? v[(k + 1) / 2] : (v[k / 2] + v[k / 2 + 1]) / 2
        }
        { a[NR] = $1; b[NR] = $2 }
        END {
            for (i = 1; i <= n; i++) { ca[i] = a[i]; cb[i] = b[i] }
            ma = median(ca, n); mb = median(cb, n)
            if (mb <= 0) { print "zero"; exit }
            out = sprintf("%.3f %.3f %.2f", ma, mb, ma / mb)
            size = int(n / 3)
            for (blk = 0; blk < 3; blk++) {
                k = 0
                for (i = blk * size + 1; i <= (blk == 2 ? n : (blk + 1) * size); i++) { k++; xa[k] = a[i]; xb[k] = b[i] }
                bb = median(xb, k)
                out = out sprintf(" %.2f", bb > 0 ? median(xa, k) / bb : 0)
            }
            la = a[1]; lb = b[1]
            for (i = 2; i <= n; i++) { if (a[i] < la) la = a[i]; if (b[i] < lb) lb = b[i] }
            out = out sprintf(" %.3f %.3f %.2f", la, lb, lb > 0 ? la / lb : 0)
            print out
        }'
}

# prefix_shell_pid: the Unix process of this prefix's shell (explorer.exe,
# which draws the desktop and its taskbar), told from the shells of other work
# trees by the WINEPREFIX in its environment.
prefix_shell_pid() {
    local pid
    for pid in $(pgrep -u "$(id -u)" -f 'explorer\.exe'); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
            return 0
        fi
    done
    return 1
}

# run_ns PID: how long Linux has run the threads of the Unix process PID, in
# nanoseconds (the first field of each thread's schedstat), and the thread ids,
# as "NS TID,TID,...". Wine's own thread times come in 10 ms steps; this clock
# resolves a single tick.
run_ns() {
    local task total=0 tids="" ns
    for task in /proc/"$1"/task/*; do
        read -r ns _ <"$task/schedstat" 2>/dev/null || continue
        total=$((total + ns))
        tids+=${task##*/},
    done
    [[ -n $tids ]] || return 1
    echo "$total $tids"
}

# read_run PID: run_ns into RUN_NS and RUN_TIDS.
read_run() {
    local line
    line=$(run_ns "$1") || broken "no thread of process $1 can be read"
    read -r RUN_NS RUN_TIDS <<<"$line"
}

# cpu_start EXE CLASS [ARG]: starts a program the way a user does, `wine prog.exe`,
# and waits for its window. The wrapper in the prefix's bin execs setarch, which
# execs Wine's loader, which runs the program in that same process: $! is the
# Unix process whose time is the program's (checked by its name).
cpu_start() {
    local exe=$1 class=$2 name
    shift 2
    name=$(basename "$exe")
    wine "$exe" "$@" </dev/null >>"$RAW/$FLAVOUR-cpu-programs.log" 2>&1 &
    STARTED_PID=$!
    CPU_PIDS+=("$STARTED_PID")
    probe bench-wait "$class" 20000 >/dev/null || broken "$name shows no window within 20 s"
    [[ $(cat "/proc/$STARTED_PID/comm" 2>/dev/null) == "${name:0:15}" ]] ||
        broken "Unix process $STARTED_PID does not run $name"
}

# cpu_stop CLASS PID: WM_CLOSE to the program's window, and its process gone.
cpu_stop() {
    probe bench-close "$1" >/dev/null || broken "could not close the window of class $1"
    ovq_wait_pid_gone "$2" 10000 || broken "process $2 did not end after WM_CLOSE"
}

# cpu_round off|on ROUND: one round of ovq.exe and tick-min.exe resident side by
# side, each started afresh with the switch in that position ("ovq.exe -s" as
# the first copy turns it on), both read over the same CPU_ROUND_MS.
# Side by side, not one after the other: on a shared machine the cost of a
# tick (a wake-up from idle, caches other programs have emptied) moved by up to
# 2x from one half minute to the next, and read in the same window both carry
# the same load. They do not disturb each other: a move of zero distance
# changes nothing another program sees but the idle time, and each ran about
# as much per minute alone as beside the other. Their 900 ms timers keep one
# offset for a whole round, and the one that fires just after the other may
# find Wine's shared code still in the cache; so each round starts both afresh,
# the first one alternating.
# wineserver's work for the calls is not counted: it wakes every 16 ms to
# update the clock Windows programs share, which alone costs it 100-350 ms per
# minute, moving by more than a whole tick's share between windows. Its time
# is kept in the raw output (server_ns).
# Prints "round=N first=... ovq_ns=... min_ns=... elapsed_ns=... server_ns=...".
cpu_round() {
    local position=$1 round=$2 ovq_args=() min_args=() ovq_pid min_pid
    if [[ $position == on ]]; then
        ovq_args=(-s)
        min_args=(on)
    fi
    if ((round % 2)); then
        cpu_start "$OVQ_EXE" "$OVQ_CLASS" "${ovq_args[@]}"
        ovq_pid=$STARTED_PID
        cpu_start "$WIN_BUILD/tick-min.exe" "$TICK_CLASS" "${min_args[@]}"
        min_pid=$STARTED_PID
    else
        cpu_start "$WIN_BUILD/tick-min.exe" "$TICK_CLASS" "${min_args[@]}"
        min_pid=$STARTED_PID
        cpu_start "$OVQ_EXE" "$OVQ_CLASS" "${ovq_args[@]}"
        ovq_pid=$STARTED_PID
    fi
    # Until the shell holds ovq's icon, each tick deletes and adds it again, and
    # that work is not a resident ovq's: the window is read only once the icon
    # is there (asked of the shell, polled up to a deadline).
    probe tray-holds "$OVQ_CLASS" "$OVQ_ICON_ID" "$TRAY_DEADLINE_MS" >>"$RAW/$FLAVOUR-cpu-tray.txt" ||
        broken "the notification area did not hold ovq's icon within $((TRAY_DEADLINE_MS / 1000)) s of its window (see $RAW/$FLAVOUR-cpu-tray.txt)"
    if [[ $position == on ]]; then
        # ovq's title becomes the command text once its own arguments have run.
        probe title | grep -qx 'title=ovq -s' || broken "ovq.exe -s did not run its argument"
    fi
    sleep "$(awk -v ms="$CPU_SETTLE_MS" 'BEGIN { print ms / 1000 }')"
    local server_pid o0 m0 s0 t0 o1 m1 s1 t1 ovq_tids min_tids tid
    server_pid=$(ovq_read "$OVQ_WINE_STATE/wineserver.pid")
    read_run "$ovq_pid" && o0=$RUN_NS ovq_tids=$RUN_TIDS
    read_run "$min_pid" && m0=$RUN_NS min_tids=$RUN_TIDS
    read_run "$server_pid" && s0=$RUN_NS
    t0=$(date +%s%N)
    sleep "$(awk -v ms="$CPU_ROUND_MS" 'BEGIN { print ms / 1000 }')"
    read_run "$ovq_pid" && o1=$RUN_NS
    # A thread that ended in the window would take its time with it.
    for tid in ${ovq_tids//,/ }; do
        [[ ,$RUN_TIDS == *,$tid,* ]] || broken "a thread of ovq.exe ended during the CPU window"
    done
    ovq_tids=$RUN_TIDS
    read_run "$min_pid" && m1=$RUN_NS
    for tid in ${min_tids//,/ }; do
        [[ ,$RUN_TIDS == *,$tid,* ]] || broken "a thread of tick-min.exe ended during the CPU window"
    done
    min_tids=$RUN_TIDS
    read_run "$server_pid" && s1=$RUN_NS
    t1=$(date +%s%N)
    cpu_stop "$OVQ_CLASS" "$ovq_pid"
    cpu_stop "$TICK_CLASS" "$min_pid"
    CPU_PIDS=()
    echo "round=$round first=$( ((round % 2)) && echo ovq || echo tick-min) ovq_ns=$((o1 - o0)) min_ns=$((m1 - m0)) elapsed_ns=$((t1 - t0)) server_ns=$((s1 - s0)) ovq_threads=$(tr -cd , <<<"$ovq_tids" | wc -c) min_threads=$(tr -cd , <<<"$min_tids" | wc -c)"
}

# cpu_figures FILE: "ovq-ms/min min-ms/min ratio r1 r2 r3" over the rounds of
# FILE: each program's time over all rounds per minute of the windows, their
# ratio, and the ratio of each round.
cpu_figures() {
    awk '
        /^round=/ {
            for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
            o += v["ovq_ns"]; m += v["min_ns"]; e += v["elapsed_ns"]
            blocks = blocks sprintf(" %.2f", v["min_ns"] > 0 ? v["ovq_ns"] / v["min_ns"] : 0)
        }
        END {
            if (m <= 0 || e <= 0) { print "zero"; exit }
            printf "%.1f %.1f %.2f%s\n", o * 60000 / e, m * 60000 / e, o / m, blocks
        }' "$1"
}

# wine_figures FLAVOUR: the Wine rows of one build, each named with FLAVOUR, in
# a Wine environment of its own kind that is stopped afterwards.
wine_figures() {
    local flavour=$1
    FLAVOUR=$flavour
    local WIN_BUILD=$ROOT/build/$flavour
    OVQ_EXE=$WIN_BUILD/ovq.exe
    PROBE_EXE=$WIN_BUILD/probe.exe
    export OVQ_WINE_STATE=$OUT/wine-$flavour OVQ_WINE_ARCH=$flavour
    # shellcheck source=scripts/wine-env.sh
    . scripts/wine-env.sh
    say "$flavour: bringing the Wine environment up in $OVQ_WINE_STATE"
    ovq_require_tools wine wineserver Xvfb xdpyinfo || broken "Wine or Xvfb is missing"
    WINE_UP=1
    ovq_env_up "$PROBE_EXE" 2>>"$RAW/wine-env.log" || broken "the Wine environment did not come up"
    WINE_VERSIONS+=("$flavour: $(wine --version 2>/dev/null || echo "wine (version unknown)") ($(ovq_read "$OVQ_WINE_STATE/bin/wine" | sed -n 's/.*setarch -R \([^ ]*\).*/\1/p'))")
    # A copy left by an interrupted run would take the hand-off and the mutex.
    if ! probe wait-gone 0 >/dev/null; then
        probe close >/dev/null || true
        probe wait-gone 5000 >/dev/null || probe terminate 1 >/dev/null || true
        probe wait-gone 5000 >/dev/null || broken "an ovq left from before cannot be ended"
    fi

    OVQ_WIN=$(ovq_wine_path "$OVQ_EXE")
    HANDOFF_WIN=$(ovq_wine_path "$WIN_BUILD/handoff-min.exe")
    WINDOW_WIN=$(ovq_wine_path "$WIN_BUILD/window-min.exe")
    WORK_WIN=$(ovq_wine_path "$WIN_BUILD/startup-min.exe")

    # start-up: from CreateProcess until the message loop takes a WM_CLOSE posted
    # the moment the window appears (and, for comparison with earlier runs,
    # until the window exists), each start after the shell, the X server and
    # wineserver have become quiet; against window-min (a bare window) and
    # against startup-min (all of ovq's start-up work and nothing else)
    local shell_pid xvfb_pid server_pid
    shell_pid=$(prefix_shell_pid) || broken "no explorer.exe of the prefix $WINEPREFIX is running"
    xvfb_pid=$(ovq_read "$OVQ_WINE_STATE/xvfb.pid")
    server_pid=$(ovq_read "$OVQ_WINE_STATE/wineserver.pid")
    local watched=("$shell_pid" "$xvfb_pid" "$server_pid")
    say "$flavour: start-up: $STARTUP_PAIRS pairs of ovq.exe and window-min.exe"
    measure startup bench-startup "$STARTUP_PAIRS" "$OVQ_WIN" "$OVQ_CLASS" "$WINDOW_WIN" "$MIN_CLASS" "${watched[@]}"
    read -r s_ovq s_min s_ratio s_b1 s_b2 s_b3 s_lo s_lmin s_lratio < <(compare "$RAW/$flavour-startup.txt" a_ms b_ms "$STARTUP_PAIRS")
    need "$s_ratio" "the start-up ratio"
    read -r sw_ovq sw_min sw_ratio sw_b1 sw_b2 sw_b3 sw_lo sw_lmin sw_lratio < <(compare "$RAW/$flavour-startup.txt" a_window_ms b_window_ms "$STARTUP_PAIRS")
    need "$sw_ratio" "the start-up ratio until the window exists"
    local s_busy
    s_busy="$(not_quiet "$RAW/$flavour-startup.txt") of $((2 * STARTUP_PAIRS)) starts before the shell, X and wineserver were quiet"
    say "$flavour: start-up: $STARTUP_PAIRS pairs of ovq.exe and startup-min.exe"
    measure startup-work bench-startup "$STARTUP_PAIRS" "$OVQ_WIN" "$OVQ_CLASS" "$WORK_WIN" "$WORK_CLASS" "${watched[@]}"
    read -r sk_ovq sk_min sk_ratio sk_b1 sk_b2 sk_b3 sk_lo sk_lmin sk_lratio < <(compare "$RAW/$flavour-startup-work.txt" a_ms b_ms "$STARTUP_PAIRS")
    need "$sk_ratio" "the start-up ratio to startup-min"
    read -r skw_ovq skw_min skw_ratio skw_b1 skw_b2 skw_b3 _ _ _ < <(compare "$RAW/$flavour-startup-work.txt" a_window_ms b_window_ms "$STARTUP_PAIRS")
    need "$skw_ratio" "the start-up ratio to startup-min until the window exists"
    local sk_busy
    sk_busy="$(not_quiet "$RAW/$flavour-startup-work.txt") of $((2 * STARTUP_PAIRS)) starts before the shell, X and wineserver were quiet"

    # memory: both resident for 10 s, then PagefileUsage as another process sees it
    say "$flavour: memory: $MEMORY_ROUNDS rounds of ovq.exe and window-min.exe, read after $((MEMORY_AFTER_MS / 1000)) s"
    measure memory bench-memory "$MEMORY_ROUNDS" "$MEMORY_AFTER_MS" "$OVQ_WIN" "$OVQ_CLASS" "$WINDOW_WIN" "$MIN_CLASS"
    read -r m_ovq m_min m_ratio m_b1 m_b2 m_b3 _ _ _ < <(compare "$RAW/$flavour-memory.txt" a_pagefile b_pagefile "$MEMORY_ROUNDS")
    need "$m_ratio" "the memory ratio"
    read -r w_ovq w_min w_ratio w_b1 w_b2 w_b3 _ _ _ < <(compare "$RAW/$flavour-memory.txt" a_workingset b_workingset "$MEMORY_ROUNDS")
    need "$w_ratio" "the working-set ratio"

    # CPU time: ovq.exe and tick-min.exe resident side by side, switch off, then on.
    say "$flavour: resident CPU time: $CPU_ROUNDS rounds of $((CPU_ROUND_MS / 1000)) s of ovq.exe and tick-min.exe side by side, switch off, then on"
    for position in off on; do
        : >"$RAW/$flavour-cpu-$position.txt"
        for ((round = 1; round <= CPU_ROUNDS; round++)); do
            cpu_round "$position" "$round" >>"$RAW/$flavour-cpu-$position.txt"
        done
    done
    read -r c_off_ovq c_off_min c_off_ratio c_off_blocks < <(cpu_figures "$RAW/$flavour-cpu-off.txt")
    need "$c_off_ratio" "the CPU ratio with the switch off"
    read -r c_on_ovq c_on_min c_on_ratio c_on_blocks < <(cpu_figures "$RAW/$flavour-cpu-on.txt")
    need "$c_on_ratio" "the CPU ratio with the switch on"

    # The resident copy for the hand-off, started the way a user does.
    wine "$OVQ_EXE" </dev/null >"$RAW/$flavour-resident.log" 2>&1 &
    RESIDENT_PID=$!
    probe wait-window 20000 >"$RAW/$flavour-resident-window.txt" || broken "the resident ovq.exe shows no window within 20 s"
    # Its start-up over, up to the icon the shell holds, before the first launch.
    probe tray-holds "$OVQ_CLASS" "$OVQ_ICON_ID" "$TRAY_DEADLINE_MS" >>"$RAW/$flavour-resident-window.txt" ||
        broken "the notification area did not hold the resident ovq's icon within $((TRAY_DEADLINE_MS / 1000)) s"

    # hand-off: a second launch while the copy runs, until the copy has the text
    # and until the launch has ended, each launch after the machine is quiet
    say "$flavour: hand-off: $HANDOFF_PAIRS pairs of ovq.exe -s and handoff-min.exe"
    measure handoff bench-handoff "$HANDOFF_PAIRS" "$OVQ_CLASS" "\"$OVQ_WIN\" -s" "\"$HANDOFF_WIN\"" "${watched[@]}"
    if grep -Eq 'a_exit=[^1]|a_exit=1[0-9]|b_exit=[^1]|b_exit=1[0-9]' "$RAW/$flavour-handoff.txt"; then
        broken "a second launch did not exit with 1 (see $RAW/$flavour-handoff.txt)"
    fi
    read -r ht_ovq ht_min ht_ratio ht_b1 ht_b2 ht_b3 ht_lo ht_lmin ht_lratio < <(compare "$RAW/$flavour-handoff.txt" a_text_ms b_text_ms "$HANDOFF_PAIRS")
    need "$ht_ratio" "the hand-off ratio until the copy has the text"
    read -r h_ovq h_min h_ratio h_b1 h_b2 h_b3 h_lo h_lmin h_lratio < <(compare "$RAW/$flavour-handoff.txt" a_ms b_ms "$HANDOFF_PAIRS")
    need "$h_ratio" "the hand-off ratio until the launch has ended"
    local h_busy
    h_busy="$(not_quiet "$RAW/$flavour-handoff.txt") of $((2 * HANDOFF_PAIRS)) launches before the shell, X and wineserver were quiet"
    probe wait-window 0 >/dev/null || broken "the resident copy did not survive the hand-offs"

    kib() { awk -v b="$1" 'BEGIN { printf "%.0f KiB", b / 1024 }'; }
    # ms1 MS: a time of the table, to a tenth of a millisecond.
    ms1() { printf '%.1f ms' "$1"; }
    row "[$flavour] hand-off until the copy has the text: ovq.exe -s vs handoff-min, median of $HANDOFF_PAIRS pairs ($h_busy)" \
        "$(ms1 "$ht_ovq")" "$(ms1 "$ht_min")" "$ht_ratio" "$ht_b1 $ht_b2 $ht_b3" "reported"
    row "[$flavour] hand-off until the copy has the text, fastest of $HANDOFF_PAIRS runs each" \
        "$(ms1 "$ht_lo")" "$(ms1 "$ht_lmin")" "$ht_lratio" "" "reported"
    row "[$flavour] hand-off until the launch has ended, median of $HANDOFF_PAIRS pairs ($h_busy)" \
        "$(ms1 "$h_ovq")" "$(ms1 "$h_min")" "$h_ratio" "$h_b1 $h_b2 $h_b3" "reported"
    row "[$flavour] hand-off until the launch has ended, fastest of $HANDOFF_PAIRS runs each" \
        "$(ms1 "$h_lo")" "$(ms1 "$h_lmin")" "$h_lratio" "" "reported"
    row "[$flavour] start-up until the message loop runs vs window-min, median of $STARTUP_PAIRS pairs ($s_busy)" \
        "$(ms1 "$s_ovq")" "$(ms1 "$s_min")" "$s_ratio" "$s_b1 $s_b2 $s_b3" "reported"
    row "[$flavour] start-up until the message loop runs, fastest of $STARTUP_PAIRS runs each ($s_busy)" \
        "$(ms1 "$s_lo")" "$(ms1 "$s_lmin")" "$s_lratio" "" "reported"
    row "[$flavour] start-up until the window exists (inside CreateWindowEx), median ($s_busy)" \
        "$(ms1 "$sw_ovq")" "$(ms1 "$sw_min")" "$sw_ratio" "$sw_b1 $sw_b2 $sw_b3" "reported"
    row "[$flavour] start-up until the window exists, fastest of $STARTUP_PAIRS runs each ($s_busy)" \
        "$(ms1 "$sw_lo")" "$(ms1 "$sw_lmin")" "$sw_lratio" "" "reported"
    row "[$flavour] start-up until the message loop runs vs startup-min (the same start-up work), median of $STARTUP_PAIRS pairs ($sk_busy)" \
        "$(ms1 "$sk_ovq")" "$(ms1 "$sk_min")" "$sk_ratio" "$sk_b1 $sk_b2 $sk_b3" "reported"
    row "[$flavour] start-up until the message loop runs vs startup-min, fastest of $STARTUP_PAIRS runs each ($sk_busy)" \
        "$(ms1 "$sk_lo")" "$(ms1 "$sk_lmin")" "$sk_lratio" "" "reported"
    row "[$flavour] start-up until the window exists vs startup-min, median ($sk_busy)" \
        "$(ms1 "$skw_ovq")" "$(ms1 "$skw_min")" "$skw_ratio" "$skw_b1 $skw_b2 $skw_b3" "reported"
    row "[$flavour] memory after 10 s, PagefileUsage, median of $MEMORY_ROUNDS rounds" \
        "$(kib "$m_ovq")" "$(kib "$m_min")" "$m_ratio" "$m_b1 $m_b2 $m_b3 (per round)" "reported"
    row "[$flavour] memory after 10 s, WorkingSetSize (shared DLLs included)" \
        "$(kib "$w_ovq")" "$(kib "$w_min")" "$w_ratio" "$w_b1 $w_b2 $w_b3 (per round)" "reported"
    local cpu_how="$CPU_ROUNDS rounds of $((CPU_ROUND_MS / 1000)) s side by side"
    row "[$flavour] resident CPU time per minute, switch off, $cpu_how" \
        "$c_off_ovq ms/min" "$c_off_min ms/min" "$c_off_ratio" "$c_off_blocks (per round)" "reported"
    row "[$flavour] resident CPU time per minute, switch on, $cpu_how" \
        "$c_on_ovq ms/min" "$c_on_min ms/min" "$c_on_ratio" "$c_on_blocks (per round)" "reported"
    wine_down
}

WINE_VERSIONS=()
for flavour in "${FLAVOURS[@]}"; do
    wine_figures "$flavour"
done

# ---- print ----
version=$(sed -n 's/^project(ovq VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
# A work tree with uncommitted changes measured what no commit holds: the
# first line says so, and the table does not go into docs/benchmarks.md.
[[ -z $(git status --porcelain --untracked-files=no 2>/dev/null) ]] || commit+=" with uncommitted changes"
{
    printf 'ovq %s (commit %s), %s UTC, %s cores\n' "$version" "$commit" "$(date -u '+%Y-%m-%d %H:%M')" "$(nproc)"
    printf 'flavours measured under Wine: %s\n\n' "$(IFS=';'; echo "${WINE_VERSIONS[*]}" | sed 's/;/; /g')"
    printf '%s\n' "${ROWS[@]}" | awk -F '\t' '
        BEGIN { n = 1; cell[1, 1] = "Figure"; cell[1, 2] = "ovq"; cell[1, 3] = "minimal program"
                cell[1, 4] = "ratio"; cell[1, 5] = "ratio in 3 blocks"; cell[1, 6] = "target" }
        { n++; for (i = 1; i <= 6; i++) cell[n, i] = $i }
        END {
            for (i = 1; i <= 6; i++) { w[i] = 3; for (r = 1; r <= n; r++) if (length(cell[r, i]) > w[i]) w[i] = length(cell[r, i]) }
            for (r = 1; r <= n; r++) {
                line = "|"
                for (i = 1; i <= 6; i++) line = line sprintf(" %-*s |", w[i], cell[r, i])
                print line
                if (r == 1) {
                    line = "|"
                    for (i = 1; i <= 6; i++) { d = ""; for (k = 0; k < w[i] + 2; k++) d = d "-"; line = line d "|" }
                    print line
                }
            }
        }'
    cat <<'NOTES'

Wine figures: times from CreateProcess inside Wine (QueryPerformanceCounter in probe.exe), in pairs
of ovq and a minimal program; ratio = ovq median / minimal median; the blocks are consecutive thirds
of the pairs; "fastest" is the smallest time of each program over all its runs.
Hand-off and start-up: the order within the pairs alternates (A B, B A, ...), and each launch waits
until the shell, X and wineserver have run less than 2 ms in 100 ms, at most 5 s. The launches that
began before they were quiet are counted in each row and kept in the medians: dropping one would
break its pair, and which launches find them busy is chance, not ovq's doing. Other programs on the
machine are not waited for: their load is what moves the blocks.
Hand-off: "ovq.exe -s" and handoff-min.exe each hand "ovq -s" to the resident ovq, whose title is set
to "ovq bench" (no command in it) before each launch; timed until the resident's title reads "ovq -s"
(read without a message to it) and until the launch's process has ended. ovq's launch loads SHELL32
(and SHLWAPI, SHCORE), which handoff-min's does not; its own work (command line, mutex) takes
microseconds. Earlier rows, which read 0.79-0.86, timed a fixed sequence (ovq, handoff-min, ovq, ...)
without waiting for quiet, until each launch had ended: each program always started in the wake of
the other, and every ovq launch found the resident's switch off and ticking (each -s flips it).
Start-up ends when the message loop takes a WM_CLOSE posted the moment the window appeared.
startup-min.exe does ovq's start-up work and nothing else (class with ovq's icon, hidden window,
the menu's texts, tray icon, execution state, timer), built like ovq.exe and with its resources:
against it, the ratio is what ovq's own code costs; against window-min, what its work costs.
Memory as another process reads it under Wine 8 (PrivateUsage reads 0 there).
CPU: the run time Linux keeps for the threads of each program's Unix process (ns), both programs
resident side by side over the same window, started afresh each round, read once the shell holds
ovq's tray icon; wineserver's share is not included.
NOTES
} | tee "$OUT/bench.txt"
# The table of docs/benchmarks.md is this one: commit the page.
scripts/docs-table.sh bench "$OUT/bench.txt" || say "docs/benchmarks.md keeps its table (see the line above)"
say "saved to $OUT/bench.txt (raw measurements in $RAW/); $((SECONDS - started)) s in all"
