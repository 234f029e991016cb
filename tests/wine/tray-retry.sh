#!/usr/bin/env bash
# An add of the icon that reported failure but landed, as at a busy log-on on
# Windows: Shell_NotifyIcon gives up waiting for the notification area after a
# few seconds and returns FALSE, and the notification area shows the icon a
# moment later all the same. Wine's Shell_NotifyIcon waits without a time
# limit, so the state is made with `probe tray-proxy` (tests/probe/TrayProxy.h):
# a window of the taskbar's class in front of Wine's real taskbar, where
# Shell_NotifyIcon finds it first, hands every request on to the real
# notification area and answers with the real result, except the first of
# ovq's, the add at its start-up, which it answers with failure. So the real
# notification area shows ovq's icon while ovq was told that its add failed.
# Then:
#   - the ticks' retry gets the icon known: ovq's next requests are a delete and
#     an add that the real notification area carries out, and no request comes
#     after them for 5 s (more than five ticks); an add alone would be refused
#     as a duplicate on every tick;
#   - the real notification area shows one icon, and a click on it opens ovq's
#     menu; the menu's X ends ovq with 0 and takes the icon away.
# Screenshots: tray-before.png, tray-icon.png, menu.png, after-exit.png.
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/tray-lib.sh
. "$(dirname "$0")/tray-lib.sh"
wt_init "$@"

QUIET_MS=5000

tray_locate
tray_mouse_away
tray_baseline

# The stand-in starts before ovq, so that ovq's very first add meets it.
proxy_out="$WT_DIR/tray-proxy.out"
wine "$PROBE_EXE" tray-proxy 1 "$QUIET_MS" 60000 </dev/null >"$proxy_out" 2>"$WT_DIR/tray-proxy.stderr" &
proxy_pid=$!
WT_PIDS+=("$proxy_pid") # ended at the test's end, should it come early
if ! wt_wait_line "$proxy_out" '^ready=1' 20000 "$proxy_pid"; then
    kill "$proxy_pid" 2>/dev/null
    wt_harness_fail "the stand-in for the notification area did not start: $(tr -s '\n' ' ' <"$proxy_out")"
fi

ovq_start_first
ovq_wait_pid_gone "$proxy_pid" 70000 || wt_harness_fail "tray-proxy still runs after 70 s"
proxy_rc=0
wait "$proxy_pid" || proxy_rc=$?
wt_forget "$proxy_pid"
sed 's/^/  proxy: /' "$proxy_out"
grep -q '^end=' "$proxy_out" || wt_harness_fail "tray-proxy ended without its result (Wine's exit code $proxy_rc)"

# Every request ovq made, in short: "add 1/0" is an add the real notification
# area carried out (1) and ovq was answered failure (0); one that the stand-in
# could not hand on shows as "add lost/0". The first six, and how many.
requests=$(awk '/^request=/ && / ovq=1 / {
        for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
        print v["op"] " " (v["delivered"] == 1 ? v["real"] : "lost") "/" v["answer"]
    }' "$proxy_out")
wt_expect_eq "$(head -n 6 <<<"$requests" | paste -sd, -) ($(grep -c . <<<"$requests") in all)" \
    "add 1/0,delete 1/1,add 1/1 (3 in all)" \
    "ovq's requests: the add at start-up (landed, answered failure), then the retry's delete and add"
wt_expect_eq "$(sed -n 's/^after_added=//p' "$proxy_out")" 0 "ovq's requests after its add succeeded"
wt_expect_eq "$(sed -n 's/^settled=//p' "$proxy_out")" 1 "no request from ovq for $QUIET_MS ms after that"

tray_wait_state one 10000 tray-icon
tray_expect_one "after the retry"
tray_exit_from_menu
