#!/usr/bin/env bash
# The command line as a remote control: second launches hand their arguments to
# the running copy, which runs them as commands before the second launch exits 1.
# -s toggles the permit switch (on: the idle resets stop), -c clears it, both in
# either case. The effect is checked right after the second launch has returned,
# without waiting: its exit means the commands have already run.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/commands-lib.sh
. "$(dirname "$0")/commands-lib.sh"
wt_init "$@"

# second_launch WHAT ARGS...: a second ovq.exe that must exit 1, the first copy
# still running.
second_launch() {
    local what=$1
    shift
    ovq_run_second 10000 "$@"
    wt_expect_eq "$OVQ_EXIT" 1 "exit code of a second ovq.exe $what"
}

ovq_start_first
wt_expect_resets "first copy without arguments"

second_launch -s -s
wt_expect_title_now "ovq -s" "after ovq.exe -s"
wt_expect_no_resets "after ovq.exe -s"

second_launch -c -c
wt_expect_title_now "ovq -c" "after ovq.exe -c"
wt_expect_resets "after ovq.exe -c"

# upper case, one at a time (from off, then from on)
second_launch -S -S
wt_expect_title_now "ovq -S" "after ovq.exe -S"
wt_expect_no_resets "after ovq.exe -S"
second_launch -C -C
wt_expect_title_now "ovq -C" "after ovq.exe -C"
wt_expect_resets "after ovq.exe -C"

# both in one launch, from off: -S turns it on, -C off again
second_launch "-S -C" -S -C
wt_expect_title_now "ovq -S -C" "after ovq.exe -S -C"
wt_expect_resets "after ovq.exe -S -C"

# -s twice in a row: on, then off again
second_launch "-s (1)" -s
wt_expect_no_resets "after the first of two ovq.exe -s"
second_launch "-s (2)" -s
wt_expect_title_now "ovq -s" "after the second of two ovq.exe -s"
wt_expect_resets "after the second of two ovq.exe -s"

wt_expect "the first copy still runs" kill -0 "$FIRST_PID"
