#!/usr/bin/env bash
# One copy only: the first ovq.exe owns a hidden WS_POPUP window of class
# TApp_TOOLScrBlock titled "ovq"; a second ovq.exe without arguments sends
# nothing, exits 1 and leaves the title alone.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
wt_init "$@"

ovq_start_first
probe window-info || wt_die "window-info found no window"
wt_expect_eq "$(kv class)" TApp_TOOLScrBlock "window class"
wt_expect_eq "$(kv title)" ovq "window title"
# Windows (and Wine) add WS_CLIPSIBLINGS (0x04000000) to every top-level window;
# the program itself asks for WS_POPUP (0x80000000) only.
style=$(kv style)
wt_expect_eq "$(printf '0x%08x' $((style & ~0x04000000)))" 0x80000000 "style without WS_CLIPSIBLINGS (style $style)"
wt_expect_eq "$(kv exstyle)" 0x00000000 "ex-style"
wt_expect_eq "$(kv visible)" 0 "visible"
probe mutex-exists
wt_expect_eq "$(kv exists)" 1 "single-copy mutex exists"
wt_shot running

ovq_run_second 10000
wt_expect_eq "$OVQ_EXIT" 1 "exit code of a second ovq.exe without arguments"
probe title
wt_expect_eq "$(kv title)" ovq "title after the second launch"
wt_expect "the first copy still runs" kill -0 "$FIRST_PID"
