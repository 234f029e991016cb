#!/usr/bin/env bash
# Texts sent by another program (probe settext, WM_SETTEXT across processes) run
# through the tokenizer's quote rules: text between quotes is one token, blanks
# included; an unterminated quote takes the rest of the text; a quote ends the
# token before it, so ovq"-x" is the two tokens ovq and -x.
# The order of the cases makes each one able to fail: a quoted "-s -c" is sent
# while the switch is on (split into -s and -c it would turn it off), a quoted
# "-c -s" while it is off (split, it would turn it on).
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/commands-lib.sh
. "$(dirname "$0")/commands-lib.sh"
wt_init "$@"

# send TEXT: WM_SETTEXT from the probe; must be delivered.
send() {
    probe settext "$1"
    wt_expect_eq "$(kv delivered)" 1 "delivery of '$1'"
}

ovq_start_first
wt_expect_resets "first copy without arguments"

send 'ovq "-s'
wt_expect_title_now 'ovq "-s' "unterminated quote"
wt_expect_no_resets "after 'ovq \"-s' (the unterminated quote still gives -s)"

send '"-s -c"'
wt_expect_title_now '"-s -c"' "quoted \"-s -c\""
wt_expect_no_resets "after '\"-s -c\"' while on (one token, no command)"

send 'ovq -c'
wt_expect_resets "after 'ovq -c'"

send '"-c -s"'
wt_expect_title_now '"-c -s"' "quoted \"-c -s\""
wt_expect_resets "after '\"-c -s\"' while off (one token, no command)"

send 'ovq"-x"'
wt_expect_gone_now "after 'ovq\"-x\"'"
ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq still runs 5 s after 'ovq\"-x\"'"
wt_expect_eq "$OVQ_EXIT" 0 "exit code after 'ovq\"-x\"'"
