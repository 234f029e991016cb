# shellcheck shell=bash
# What the release's tests of the packages under Wine's msiexec share
# (check-install.sh, check-wow64.sh); sourced after tests/wine/lib.sh and
# wt_init, in the test's Wine environment.
#   product_code MSI          the package's ProductCode
#   msi NAME ARGS...          msiexec ARGS with a verbose log WT_DIR/NAME.log;
#                             MSI_EXIT, MSI_LOG
#   prop NAME                 a property's final value in the last log
#   unix WINDOWS-PATH         the file in the prefix (drive C: only)
#   reg_query KEY [/reg:32]   the key's values as `wine reg query` gives them
#   reg_value KEY NAME [/reg:32]  one value's data
#   packed CODE, products     product codes as the registry has them
#   hold_exit, copy_ended PID, log_order, held, started_again WHAT EXE
#                             the running copies a package must end and start

# product_code MSI: the package's ProductCode.
product_code() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }'; }
# msi NAME ARGS...: msiexec ARGS with a verbose log in WT_DIR/NAME.log, started
# by the probe under C.UTF-8 (an English log); MSI_EXIT is its exit code.
msi() {
    local name=$1
    shift
    MSI_LOG=$WT_DIR/$name.log
    rm -f "$MSI_LOG"
    probe run msiexec.exe "$@" /l*v "$(ovq_wine_path "$WT_DIR")\\$name.log"
    MSI_EXIT=$(kv exit)
    wt_log "msiexec $* -> exit code $MSI_EXIT"
}
# prop NAME: a property's final value in the last msiexec log.
prop() { tr -d '\r' <"$MSI_LOG" | sed -n "s/^Property(S): $1 = //p" | tail -n 1; }
# unix WINDOWS-PATH: the file in the prefix (drive C: only).
unix() {
    local path=${1%\\}
    [[ ${path:0:3} == [Cc]:\\ ]] || { echo "/nonexistent/$path"; return; }
    path=${path:3}
    printf '%s/drive_c/%s' "$WINEPREFIX" "${path//\\//}"
}
# reg_query KEY [VIEW]: the key's values as `wine reg query` gives them, or
# nothing; VIEW /reg:32 reads the 32-bit programs' view of a 64-bit prefix
# (WOW6432Node), /reg:64 the 64-bit one.
reg_query() {
    local text
    text=$(OVQ_WINE_LOCALE=C.UTF-8 wine reg query "$1" /s ${2:+"$2"} </dev/null 2>/dev/null) && tr -d '\r' <<<"$text"
}
# reg_value KEY NAME [VIEW]: one value's data.
reg_value() { reg_query "$1" "${3:-}" | awk -v name="$2" '$1 == name { $1 = ""; $2 = ""; sub(/^ +/, ""); print; exit }'; }
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
products_key='HKLM\Software\Classes\Installer\Products'
# packed CODE: a product code as the Installer\Products key names it.
packed() {
    local c=${1//[\{\}-]/} out='' i
    out=$(rev <<<"${c:0:8}")$(rev <<<"${c:8:4}")$(rev <<<"${c:12:4}")
    for ((i = 16; i < 32; i += 2)); do out+=${c:i+1:1}${c:i:1}; done
    printf '%s' "$out"
}

# products: the product codes registered in the uninstall entries.
products() { reg_query "$uninstall_key" | grep -o '^HKEY.*\\{[0-9A-F-]\{36\}}$' | grep -o '{.*}' | sort | paste -sd' '; }

# hold_exit: the running copy, made slow to end (holdexit.dll, HOLD_MS).
HOLD_MS=5000
hold_exit() {
    probe inject-load "$(ovq_wine_path "$(dirname "$PROBE_EXE")/holdexit.dll")" >/dev/null ||
        wt_die "holdexit.dll could not be loaded into the running copy"
}

# copy_ended PID: the copy started as PID has ended, with exit code 0 (its -x).
copy_ended() {
    if ovq_wait_exit "$1" 5000; then
        wt_expect_eq "$OVQ_EXIT" 0 "the running copy ended with -x: its exit code"
    else
        wt_expect "the running copy (pid $1) has ended" false
    fi
}

# ended_line: the custom action's line of the copy it ended in session 1 by
# its -x, in the last log.
ended_line() {
    grep -a -m1 '^ovq: the copy in session 1 (process [0-9]*, .*) ended with exit code [0-9]*, [0-9]* ms after its own -x (which exited with [0-9]*)' \
        "$MSI_LOG" | tr -d '\r'
}

# log_order: in the last log, the custom action reported the running copy's
# end while the script ran (after InstallExecute began, which runs it), before
# the first file was removed or installed and before the older product's
# removal began.
log_order() {
    local executing ended first removal
    executing=$(grep -a -n -E '^Action start [0-9:]*: InstallExecute\.' "$MSI_LOG" | head -n 1 | cut -d: -f1)
    ended=$(grep -a -n '^ovq: the copy in session 1 (process [0-9]*, .*) ended with exit code' "$MSI_LOG" | head -n 1 | cut -d: -f1)
    first=$(grep -a -n -E '^Action start [0-9:]*: (RemoveFiles|InstallFiles)\.' "$MSI_LOG" |
        awk -F: -v after="${executing:-0}" '$1 > after { print $1; exit }')
    removal=$(grep -a -n -E '^Action start [0-9:]*: RemoveExistingProducts\.' "$MSI_LOG" | tail -n 1 | cut -d: -f1)
    wt_log "the custom action said: $(grep -a '^ovq: ' "$MSI_LOG" | tr -d '\r' | paste -sd'|')"
    wt_expect "the log: the script runs (line ${executing:-none}), the copy ended (line ${ended:-none}), then the first file action (line ${first:-none})" \
        test "${executing:-0}" -gt 0 -a "${ended:-0}" -gt "${executing:-0}" -a "${first:-0}" -gt "${ended:-0}"
    [[ -z $removal ]] || wt_expect "the log: the copy ended (line ${ended:-none}) before the older product's removal (line $removal)" \
        test "$removal" -gt "${ended:-0}"
    held
}

# held: in the last log, the copy ended with its -x (exit code 0), the
# custom action's -x launch handed its -x over to the running copy and ended
# with 1, and the wait for that copy lasted no less than the hold that made it
# slow to end: the package waited for the copy's process, not for the launch
# (which is over in moments).
held() {
    local line code copy_code waited
    line=$(ended_line)
    copy_code=$(sed -n 's/.* ended with exit code \([0-9]*\), .*/\1/p' <<<"$line")
    code=$(sed -n 's/.* -x (which exited with \([0-9]*\))$/\1/p' <<<"$line")
    waited=$(sed -n 's/.* ended with exit code [0-9]*, \([0-9]*\) ms after its own -x.*/\1/p' <<<"$line")
    wt_expect_eq "${copy_code:-none}" 0 "the ended copy's exit code, as the custom action saw it (ended by its -x)"
    wt_expect_eq "${code:-none}" 1 "the custom action's ovq.exe -x: exit code (a second copy that handed -x over)"
    wt_expect "the custom action waited ${waited:-no} ms for the copy, no less than its hold of $HOLD_MS ms" \
        test "${waited:-0}" -ge "$HOLD_MS"
}

# started_again WHAT EXE: the custom action started EXE in session 1 once
# the run had committed, and that process is the copy that runs now, from
# that file: the one whose window ovq's class names.
started_again() {
    local line pid
    line=$(grep -a -m1 "^ovq: started .* in session 1 as its user (process [0-9]*)" "$MSI_LOG" | tr -d '\r')
    pid=$(sed -n 's/.*(process \([0-9]*\))$/\1/p' <<<"$line")
    wt_expect_eq "$(sed -n 's/^ovq: started \(.*\) in session 1 as .*/\1/p' <<<"$line")" "$2" "$1: the program started again"
    if probe wait-window 10000 >/dev/null && probe window-info >/dev/null; then
        wt_expect_eq "$(kv pid)" "${pid:-none}" "$1: the running copy is the process the package started"
        wt_expect_eq "$(kv title)" "ovq" "$1: the running copy's title"
    else
        wt_expect "$1: a copy runs again within 10 s" false
    fi
}

