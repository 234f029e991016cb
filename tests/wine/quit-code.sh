#!/usr/bin/env bash
# A WM_QUIT posted by another program ends ovq with the wParam as its exit code.
# 3 is seen directly as wine's exit status; 70000 does not fit the 8 bits of a
# Linux exit status, so that copy is started by `probe run`, which reports the
# full exit code from GetExitCodeProcess.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
wt_init "$@"

# posted to the thread (PostThreadMessage)
ovq_start_first
probe post-quit 3 --thread
ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq still runs 5 s after WM_QUIT 3"
wt_expect_eq "$OVQ_EXIT" 3 "exit code after WM_QUIT 3"
probe wait-gone 2000

# posted to the window (PostMessage), value above 65535
env OVQ_WINE_LOCALE="$OVQ_PROGRAM_LOCALE" wine "$PROBE_EXE" run "$(ovq_wine_path "$OVQ_EXE")" </dev/null >"$WT_DIR/run.out" 2>&1 &
RUN_PID=$!
WT_PIDS+=("$RUN_PID")
probe wait-window 20000 || wt_die "no ovq window when started by probe run"
probe post-quit 70000 --window
ovq_wait_exit "$RUN_PID" 5000 || wt_die "ovq still runs 5 s after WM_QUIT 70000"
cat "$WT_DIR/run.out" >>"$WT_DIR/probe.log"
wt_expect_eq "$(sed -n 's/^exit=//p' "$WT_DIR/run.out" | tr -d '\r')" 70000 "exit code after WM_QUIT 70000"
