#!/usr/bin/env bash
# Runs ovq under Wine the way it is launched on Windows.
#
#   ./run.sh [ovq arguments]      e.g.  ./run.sh     ./run.sh -s     ./run.sh -x
#
# Installs what is missing (scripts/install-deps.sh), builds the win32 preset and
# starts build/win32/ovq.exe with the arguments:
#   - no copy running: ovq starts detached (it keeps running after run.sh ends,
#     output in build/wine/run/ovq.log); run.sh returns 0 once its window exists,
#     or the program's exit code if it ends before that (e.g. `./run.sh -x`).
#   - a copy running: this launch is a second copy; it hands its arguments to the
#     running one and run.sh returns its exit code (1).
# With a working $DISPLAY the programs run in a Wine virtual desktop window on it
# (taskbar with the notification area); without one in a private Xvfb that later
# calls reuse (stop it with `scripts/wine-env.sh stop`). The Wine prefix lives
# in build/wine/run/prefix.
# OVQ_BUILD_DIR (default build/win32) and OVQ_SKIP_BUILD=1 run a build made elsewhere.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")" && pwd)
BUILD_DIR=${OVQ_BUILD_DIR:-$ROOT/build/win32}
export OVQ_WINE_STATE=${OVQ_WINE_STATE:-$ROOT/build/wine/run}
export OVQ_USE_HOST_DISPLAY=1

say() { printf 'run.sh: %s\n' "$*" >&2; }

"$ROOT/scripts/install-deps.sh"

mkdir -p "$OVQ_WINE_STATE"
if [[ ${OVQ_SKIP_BUILD:-0} != 1 ]]; then
    "$ROOT/scripts/build-win32.sh" "$OVQ_WINE_STATE/build.log"
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
ovq_prefix_init

probe() { wine "$PROBE_EXE" "$@" </dev/null 2>/dev/null; }

where() {
    if [[ $OVQ_DISPLAY_KIND == xvfb ]]; then
        say "display: $DISPLAY (private Xvfb, pid $(ovq_read "$OVQ_WINE_STATE/xvfb.pid"), kept for later calls)"
        say "screenshot: DISPLAY=$DISPLAY import -window root shot.png"
        say "stop the Xvfb (and any ovq in it): scripts/wine-env.sh stop"
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

deadline=$(($(ovq_ms) + 60000))
while :; do
    if ! kill -0 "$pid" 2>/dev/null || [[ $(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) == Z ]]; then
        rc=0
        wait "$pid" || rc=$?
        rm -f "$OVQ_WINE_STATE/ovq.pid"
        say "ovq.exe ended with exit code $rc"
        exit "$rc"
    fi
    if probe wait-window 300 >/dev/null; then
        break
    fi
    if (($(ovq_ms) >= deadline)); then
        say "no ovq window after 60 s; see $log"
        exit 3
    fi
done

say "ovq is running (pid $pid)"
where
say "end it with: ./run.sh -x"
