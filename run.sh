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
#     output in build/wine/<state>/ovq.log); run.sh says it runs and returns 0
#     only once the copy it started has done its start-up: its own window (told
#     from another copy's by an entry of its environment) waits for input and
#     has the title its own arguments give once they have run ("ovq" and each
#     argument after one blank); without arguments, whose title "ovq" the window
#     has from its first moment, once the copy has also ticked (its zero mouse
#     move, which comes only from its message loop). When the copy ends
#     instead, run.sh reports its exit code and returns it (e.g. `./run.sh -x`,
#     whose -x ends the copy in its start-up; or a copy that found another one
#     and handed its arguments over, 1).
#   - a copy running: this launch is a second copy; it hands its arguments to the
#     running one and run.sh returns its exit code (1).
# build/wine/<state>/ovq.pid names the running copy that run.sh started: it is
# written once run.sh knows that its copy is the one that runs, never before,
# so that of two run.sh started together the one whose copy handed over and
# ended cannot take the other's record away. A later call removes it once that
# process has ended.
# With a working $DISPLAY the programs run in a Wine virtual desktop window on it
# (taskbar with the notification area); without one in a private Xvfb that later
# calls reuse (run.sh prints how to stop it). The Wine prefix lives in
# build/wine/run/prefix (32-bit) or build/wine/run-win64/prefix (64-bit).
# OVQ_BUILD_DIR (default build/<preset>) and OVQ_SKIP_BUILD=1 run a build made
# elsewhere; OVQ_NO_IA32=1 takes the 64-bit path on any host.
set -euo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE

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
# A recorded copy that has ended (an -x handed to it, its menu's Exit) leaves
# its ovq.pid behind: that record is stale and goes.
# shellcheck source=scripts/wine-env.sh
. "$ROOT/scripts/wine-env.sh"
recorded=$(ovq_read "$OVQ_WINE_STATE/ovq.pid")
if ovq_pid_alive "$recorded" ovq; then
    if ovq_display_works "$(ovq_read "$OVQ_WINE_STATE/ovq.display")"; then
        DISPLAY=$(ovq_read "$OVQ_WINE_STATE/ovq.display")
        export DISPLAY
    fi
elif [[ -n $recorded ]]; then
    rm -f "$OVQ_WINE_STATE/ovq.pid" "$OVQ_WINE_STATE/ovq.display"
    say "removed the stale $OVQ_WINE_STATE/ovq.pid: ovq (pid $recorded) has ended"
    recorded=
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
    # The recorded copy's window gone after the hand-over (its -x ran): the
    # copy ends within moments, and its record goes with it.
    if [[ -n $recorded ]] && probe wait-gone 0 >/dev/null && ovq_wait_pid_gone "$recorded" 5000; then
        rm -f "$OVQ_WINE_STATE/ovq.pid" "$OVQ_WINE_STATE/ovq.display"
        say "the running copy (pid $recorded) has ended"
    fi
    exit "$rc"
fi

log="$OVQ_WINE_STATE/ovq.log"
say "starting ovq.exe $* (log: $log)"
# An environment entry that only this launch's process has: Wine hands the
# environment on, ovq never reads it, and the probe finds it in the process of
# a window, so it tells this copy's window from another copy's (one that was
# starting meanwhile, to which this copy then hands its arguments).
launch="OVQ_RUN_LAUNCH=run-$$-$(date +%s%N)"
env "$launch" setsid nohup wine "$OVQ_EXE" "$@" </dev/null >>"$log" 2>&1 &
pid=$!

# ended: whether the started ovq has ended (a zombie child counts as ended).
ended() { ovq_wait_pid_gone "$pid" 0; }

# One of two ends, whatever Wine's pace: the copy ends, and its exit code is
# reported; or it has done its start-up while it still runs (probe
# wait-started). Its window alone does not tell: the window exists from the
# start-up's first steps, before the copy's own arguments run, and those may
# end it (-x). Nor does the copy's waiting for input, which Wine signals at its
# first wait on its message queue, whichever call waits there. Its title does:
# it becomes the text of its own arguments only after they have run, and never
# when they end the copy. Without arguments it is "ovq" from the start, and
# the copy's first tick tells instead.
deadline=$(($(ovq_ms) + 60000))
while :; do
    if ended; then
        rc=0
        wait "$pid" || rc=$?
        say "ovq.exe ended with exit code $rc"
        exit "$rc"
    fi
    # A look of 1.5 s holds one tick of a copy started without arguments.
    seen=$(probe wait-started 1500 "$launch" "$@") && ! ended && break
    if (($(ovq_ms) >= deadline)); then
        title=$(sed -n 's/^title=//p' <<<"$seen") expected=$(sed -n 's/^expected=//p' <<<"$seen")
        say "ovq.exe (pid $pid) runs, but has not shown the end of its start-up after 60 s" \
            "(its window's title: '${title:-none read}', its arguments give '$expected'$(
                grep -q '^ticked=0' <<<"$seen" && echo "; no tick seen")); see $log"
        exit 3
    fi
done

# The record, each file written whole and renamed into place.
echo "$pid" >"$OVQ_WINE_STATE/ovq.pid.$$"
echo "$DISPLAY" >"$OVQ_WINE_STATE/ovq.display.$$"
mv -f "$OVQ_WINE_STATE/ovq.display.$$" "$OVQ_WINE_STATE/ovq.display"
mv -f "$OVQ_WINE_STATE/ovq.pid.$$" "$OVQ_WINE_STATE/ovq.pid"
say "ovq is running (pid $pid)"
where
say "end it with: ./run.sh -x"
