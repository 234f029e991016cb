#!/usr/bin/env bash
# Runs ovq under Wine the way it is launched on Windows.
#
#   ./run.sh [ovq arguments]      e.g.  ./run.sh     ./run.sh -s     ./run.sh -x
#
# Runs the 32-bit build where the host runs i386 code and the 64-bit one where it
# does not (scripts/host.sh decides; its first line of output says which). Installs
# what is missing (scripts/install-deps.sh), builds that preset and starts its
# ovq.exe with the arguments:
#   - no copy running: ovq starts detached (it keeps running after run.sh ends,
#     output in build/wine/<state>/ovq.log); run.sh returns 0 once the copy is
#     resident (past its start-up, taking messages with its window), or the
#     program's exit code when it ends instead (e.g. `./run.sh -x`, which ends
#     during its start-up: its window exists only for a moment).
#   - a copy running: this launch is a second copy; it hands its arguments to the
#     running one and run.sh returns its exit code (1).
# With a working $DISPLAY the programs run in a Wine virtual desktop window on it
# (taskbar with the notification area); without one in a private Xvfb that later
# calls reuse (run.sh prints how to stop it). The Wine prefix lives in
# build/wine/run/prefix (32-bit) or build/wine/run-win64/prefix (64-bit).
# OVQ_BUILD_DIR (default build/<preset>) and OVQ_SKIP_BUILD=1 run a build made
# elsewhere; OVQ_NO_IA32=1 takes the 64-bit path on any host.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")" && pwd)
say() { printf 'run.sh: %s\n' "$*" >&2; }

# shellcheck source=scripts/host.sh
. "$ROOT/scripts/host.sh"
ovq_host_flavour
PRESET=$OVQ_HOST_FLAVOUR
say "running $PRESET: $OVQ_HOST_FLAVOUR_WHY"
if [[ $PRESET == win32 ]]; then
    state=run
else
    state=run-win64
fi
BUILD_DIR=${OVQ_BUILD_DIR:-$ROOT/build/$PRESET}
export OVQ_WINE_STATE=${OVQ_WINE_STATE:-$ROOT/build/wine/$state}
export OVQ_WINE_ARCH=$PRESET
export OVQ_USE_HOST_DISPLAY=1

"$ROOT/scripts/install-deps.sh"
if ! ovq_host_loader "$PRESET"; then
    say "ovq cannot run here: $OVQ_HOST_NO_WINE_WHY"
    exit 2
fi

mkdir -p "$OVQ_WINE_STATE"
if [[ ${OVQ_SKIP_BUILD:-0} != 1 ]]; then
    "$ROOT/scripts/build-windows.sh" "$PRESET" "$OVQ_WINE_STATE/build.log"
fi
OVQ_EXE="$BUILD_DIR/ovq.exe"
PROBE_EXE="$BUILD_DIR/probe.exe"
for f in "$OVQ_EXE" "$PROBE_EXE"; do
    [[ -f $f ]] || { say "missing $f"; exit 2; }
done

# A copy started earlier keeps its display; later launches must use the same one.
# shellcheck source=scripts/wine-env.sh
. "$ROOT/scripts/wine-env.sh"
if ovq_pid_alive "$(ovq_read "$OVQ_WINE_STATE/ovq.pid")" ovq &&
    ovq_display_works "$(ovq_read "$OVQ_WINE_STATE/ovq.display")"; then
    DISPLAY=$(ovq_read "$OVQ_WINE_STATE/ovq.display")
    export DISPLAY
fi
ovq_display_up
ovq_prefix_init || exit 2

probe() { wine "$PROBE_EXE" "$@" </dev/null 2>/dev/null; }

where() {
    if [[ $OVQ_DISPLAY_KIND == xvfb ]]; then
        say "display: $DISPLAY (private Xvfb, pid $(ovq_read "$OVQ_WINE_STATE/xvfb.pid"), kept for later calls)"
        say "screenshot: DISPLAY=$DISPLAY import -window root shot.png"
        say "stop the Xvfb (and any ovq in it): OVQ_WINE_STATE=$OVQ_WINE_STATE OVQ_WINE_ARCH=$OVQ_WINE_ARCH scripts/wine-env.sh stop"
    else
        say "display: $DISPLAY (Wine virtual desktop window with a taskbar)"
    fi
    say "prefix:  $WINEPREFIX"
}

if probe wait-window 0 >/dev/null; then
    say "a copy of ovq is running; this launch hands over: ovq.exe $*"
    rc=0
    wine "$OVQ_EXE" "$@" </dev/null || rc=$?
    say "second copy exited with $rc"
    exit "$rc"
fi

log="$OVQ_WINE_STATE/ovq.log"
say "starting ovq.exe $* (log: $log)"
setsid nohup wine "$OVQ_EXE" "$@" </dev/null >>"$log" 2>&1 &
pid=$!
echo "$pid" >"$OVQ_WINE_STATE/ovq.pid"
echo "$DISPLAY" >"$OVQ_WINE_STATE/ovq.display"

# ended: whether the started ovq has ended (a zombie child counts as ended).
ended() { ovq_wait_pid_gone "$pid" 0; }

# One of two ends, whatever Wine's pace: the copy ends, and its exit code is
# reported; or it becomes resident, its process taking messages in its loop
# with its window there (probe wait-resident) while it still runs.
deadline=$(($(ovq_ms) + 60000))
while :; do
    if ended; then
        rc=0
        wait "$pid" || rc=$?
        rm -f "$OVQ_WINE_STATE/ovq.pid"
        say "ovq.exe ended with exit code $rc"
        exit "$rc"
    fi
    if probe wait-resident 500 >/dev/null && ! ended; then
        break
    fi
    if (($(ovq_ms) >= deadline)); then
        say "ovq is not resident after 60 s; see $log"
        exit 3
    fi
done

say "ovq is running (pid $pid)"
where
say "end it with: ./run.sh -x"
