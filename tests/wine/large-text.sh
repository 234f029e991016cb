#!/usr/bin/env bash
# A 15 MiB text and a null text reach ovq's window procedure; both are delivered
# from inside ovq's process (probe inject-*, see tests/probe/Inject.h), since Wine
# does not carry either across processes.
# - 15 MiB whose last word is -s, after filler words with code page 932 words
#   among them: the -s runs (the idle resets stop) and the whole text becomes the
#   title (read back inside ovq and compared byte for byte).
# - A null lParam: ovq keeps running, nothing runs, the title becomes empty.
# - After both, a second ovq.exe -x still ends ovq with 0.
# 15 MiB is the most Wine takes: its X11 driver passes the title on to the X
# server as UTF-8, and a 16 MiB one ends the process with an X error.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/commands-lib.sh
. "$(dirname "$0")/commands-lib.sh"
wt_init "$@"

SIZE=$((15 * 1024 * 1024))

ovq_start_first
wt_expect_resets "first copy without arguments"

probe inject-settext-size "$SIZE" -s || wt_die "the 15 MiB text was not delivered"
wt_log "15 MiB text: written in $(kv write_ms) ms, delivered (commands run, title set) in $(kv elapsed_ms) ms;" \
    "UTF-16 $(kv text_utf16_units) units, UTF-8 $(kv text_utf8_bytes) bytes; read back in $(kv readback_ms) ms"
wt_expect_eq "$(kv user32_base_target)" "$(kv user32_base)" "user32.dll base in ovq and in the probe"
wt_expect_eq "$(kv text_bytes)" "$SIZE" "size of the generated text"
wt_expect "the text holds double-byte characters (UTF-16 $(kv text_utf16_units) units < $SIZE bytes)" \
    test "$(kv text_utf16_units)" -lt "$SIZE"
wt_expect_eq "$(kv result)" 1 "SendMessageA result for the 15 MiB text"
wt_expect_eq "$(kv alive)" 1 "window alive after the 15 MiB text"
# GetWindowTextLengthA from another process may report more than the ANSI length
# (Wine reports two bytes per UTF-16 unit), never less.
title_length=$(kv title_length) units=$(kv text_utf16_units)
wt_expect "title length $title_length (GetWindowTextLengthA) between $SIZE and 2 x $units" \
    test "${title_length:-0}" -ge "$SIZE" -a "${title_length:-0}" -le $((2 * units))
wt_expect_eq "$(kv readback_length)" "$SIZE" "title length read back inside ovq"
wt_expect_eq "$(kv readback_match)" 1 "title equals the text, byte for byte"
wt_expect_no_resets "after the 15 MiB text ending in -s"

probe inject-settext-null || wt_die "the null text was not delivered"
wt_log "null text delivered in $(kv elapsed_ms) ms"
wt_expect_eq "$(kv result)" 1 "SendMessageA result for the null text"
wt_expect_eq "$(kv alive)" 1 "window alive after the null text"
null_title_length=$(kv title_length)
wt_expect_eq "$null_title_length" 0 "title length after the null text"
wt_expect "ovq still runs after the null text" kill -0 "$FIRST_PID"
# (the title is read only when short: a 15 MiB one would flood the logs)
if [[ $null_title_length == 0 ]]; then
    wt_expect_title_now "" "after the null text"
fi
wt_expect_no_resets "after the null text (the switch stays on)"

ovq_run_second 10000 -x
wt_expect_eq "$OVQ_EXIT" 1 "exit code of a second ovq.exe -x"
wt_expect_gone_now "after ovq.exe -x returned"
ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq still runs 5 s after ovq.exe -x"
wt_expect_eq "$OVQ_EXIT" 0 "exit code of ovq after the large and null texts and -x"
