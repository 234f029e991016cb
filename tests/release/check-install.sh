#!/usr/bin/env bash
# The Windows Installer package of one flavour, installed, upgraded and removed
# by Wine's own msiexec, in a fresh Wine prefix of the flavour's kind:
#
#   tests/release/check-install.sh <x86|x64> <package> <older package> <ovq.exe of the package>
#       <ovq.exe of the older package> <probe.exe> <work dir> [<signed ovq.exe>]
#
# The older package is a lower version of the same product, built by the
# release test. Every msiexec runs with /qn and a verbose log (/l*v) unless
# said, started by the probe, which reads its whole exit code. A copy that a
# package must end is made slow to end first: the probe loads holdexit.dll (from
# beside probe.exe) into it, which holds the process, its exe still mapped, for
# five seconds after it has begun to exit; so only a package that waits for the
# process itself, not just for the `ovq.exe -x` it starts, finds the files free.
# Each step checks what it must change and, by a snapshot of the package's files
# (their bytes) and registry keys, what it must leave alone:
#  1. the older package with AUTOSTART=1: exit code 0; the exe's bytes in
#     INSTALLDIR, and the licence beside it; the Start-menu and Startup shortcuts read back (target, working
#     directory, icon: the package's icon file, which holds the program); the
#     uninstall entry (name, version, publisher, no Modify, install location,
#     the product's icon); the registry value the Startup shortcut keeps. The
#     installed exe, started by its shortcut's target, shows its window.
#  2. the package over it with that copy running and no AUTOSTART: exit code 0;
#     the custom action ran the copy's own `ovq.exe -x` (which exited 1), waited
#     out the copy's hold, saw it end with 0, and all that while the script ran,
#     before any file was touched and before the older product's removal (the
#     log, in order); the new exe in place; the package started it again in the
#     session once the run had committed, and that process is the copy that
#     runs; both shortcuts kept (AUTOSTART remembered); one product, the newer,
#     registered.
#  3. the same package again, with that copy running: exit code 0, the copy
#     still runs, the exe not written again, the snapshot's bytes the same.
#  4. the older package over it, with that copy running: refused with 1603 and
#     nothing changed (the snapshot to the file times); shown with the basic UI
#     (/qb), the refusal's message box gives the package's message.
#  5. a repair (REINSTALL=ALL, every file written again) with that copy running and a hung stand-in named ovq.exe
#     that ignores -x: exit code 0 (no restart asked for); the copy ended by its
#     -x, the stand-in by the package after 30 s; the program started again
#     once in the session.
#  6. removal with the copy running: exit code 0, the copy has ended and
#     nothing started again, nothing of the package left (folder, shortcuts,
#     icon, uninstall entry, product registration, registry value, the list of
#     ended copies); a second removal by the product code answers 1605.
#  7. the package without AUTOSTART on a clean machine: the Start-menu shortcut
#     only, no registry value of its own; the exe shows its window; with that
#     copy running, ADDLOCAL=Startup adds the Startup shortcut and REMOVE=Startup
#     takes it away again, the copy left alone; removed with nothing running,
#     nothing left. Then the older package with AUTOSTART=1 and an upgrade with
#     AUTOSTART=0: the Startup shortcut and its registry value gone.
#  8. an upgrade made to fail right after it ended the running copy (a package
#     made for the test, with its own folder): it fails, the older version stays
#     registered with its exe, and its copy runs again, started by the package
#     from its own file.
#  9. with a signed ovq.exe given: it runs under Wine, shows its window and
#     ends with -x.
# Exit code 0 when every check passed. Logs and screenshots stay in the work
# dir; the prefix is removed when every check passed, and Xvfb, the wineserver
# and the keeper window it started are stopped in any case.
set -uo pipefail
if (($# < 7 || $# > 8)); then
    echo "usage: $0 <x86|x64> <package> <older package> <ovq.exe> <older ovq.exe> <probe.exe> <work dir> [<signed ovq.exe>]" >&2
    exit 2
fi
flavour=$1 package=$(realpath "$2") older=$(realpath "$3") exe=$(realpath "$4") older_exe=$(realpath "$5")
probe_exe=$(realpath "$6") work=$7 signed=${8:+$(realpath "$8")}
case $flavour in
x86) arch=win32 ;;
x64) arch=win64 ;;
*) echo "no flavour '$flavour': x86 or x64" >&2; exit 2 ;;
esac

# The Wine tests' harness (tests/wine/lib.sh) in a prefix of this test's own,
# made anew: the probe (its first and last lines checked), the copies started
# (ended at the end), the checks.
rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")
export OVQ_WINE_STATE=$work/wine OVQ_WINE_ARTIFACTS=$work OVQ_WINE_ARCH=$arch
# shellcheck source=tests/wine/lib.sh disable=SC1091
. "$(dirname "$0")/../wine/lib.sh"
# shellcheck disable=SC2034 # lib.sh reads WT_NAME and OVQ_EXE
WT_NAME=install-$flavour
wt_init "$exe" "$probe_exe"
# wt_on_exit ends the copies started and tells the result; then the Wine
# environment of this test goes too.
install_on_exit() {
    (wt_on_exit)
    local rc=$?
    ovq_env_stop "$PROBE_EXE"
    ((rc == 0)) && rm -rf "$WINEPREFIX"
    exit $rc
}
trap install_on_exit EXIT
# shellcheck source=tests/release/install-lib.sh
. "$(dirname "$0")/install-lib.sh"

new_code=$(product_code "$package")
old_code=$(product_code "$older")
[[ -n $new_code && -n $old_code && $new_code != "$old_code" ]] ||
    wt_die "the packages' product codes: '$new_code' and '$old_code'"

# The folders Windows Installer resolved, from the first log: the test looks
# where the package was told to put things, not where it is assumed to.
msi install-older /i "$(ovq_wine_path "$older")" /qn AUTOSTART=1
wt_expect_eq "$MSI_EXIT" 0 "older package with AUTOSTART=1: exit code"
install_dir=$(prop INSTALLDIR) menu_dir=$(prop ProgramMenuFolder) startup_dir=$(prop StartupFolder)
case $flavour in
x64) wt_expect_eq "$install_dir" 'C:\Program Files\ovq\' "INSTALLDIR" ;;
x86) wt_expect "INSTALLDIR is C:\\Program Files\\ovq\\ or C:\\Program Files (x86)\\ovq\\ ($install_dir)" \
    [ "$install_dir" = 'C:\Program Files\ovq\' -o "$install_dir" = 'C:\Program Files (x86)\ovq\' ] ;;
esac
[[ -n $menu_dir && -n $startup_dir ]] || wt_die "no ProgramMenuFolder or StartupFolder in $MSI_LOG"
wt_log "ProgramMenuFolder=$menu_dir StartupFolder=$startup_dir (ALLUSERS=$(prop ALLUSERS))"
installed_exe=${install_dir}ovq.exe
installed=$(unix "$installed_exe")
menu_lnk=${menu_dir}ovq.lnk startup_lnk=${startup_dir}ovq.lnk

# snapshot: the package's files with their bytes (and with TIMES=1 their
# inodes and times), and its registry keys.
snapshot() {
    local path
    for path in "$(unix "$install_dir")" "$(unix "$menu_lnk")" "$(unix "$startup_lnk")" \
        "$WINEPREFIX/drive_c/windows/Installer"; do
        [[ -e $path ]] || { echo "absent: $path"; continue; }
        find "$path" -type f -printf '%p\t%s\t%i\t%T@\n' | sort | while IFS=$'\t' read -r file size inode time; do
            echo "$file $size $(sha256sum <"$file" | cut -c1-16)${TIMES:+ $inode $time}"
        done
    done
    reg_query "$uninstall_key"
    reg_query 'HKLM\Software\ovq'
    reg_query 'HKLM\Software\ovq ended copies'
    # Windows Installer's note of the folders the package came from
    # (SourceList) is left out: Wine adds the same folder again on every run.
    reg_query "$products_key" | awk '/^HKEY/ { skip = /\\SourceList/ } !skip'
}

# unchanged WHAT NAME: the snapshot is the one saved as NAME (with the file
# times when TIMES=1); the difference is kept beside it.
unchanged() {
    snapshot >"$WT_DIR/$2.after"
    if cmp -s "$WT_DIR/$2.before" "$WT_DIR/$2.after"; then
        wt_log "ok: $1"
    else
        diff "$WT_DIR/$2.before" "$WT_DIR/$2.after" >"$WT_DIR/$2.diff"
        wt_log "FAIL: $1: $(head -c 600 "$WT_DIR/$2.diff" | tr '\n' ' ')"
        # shellcheck disable=SC2034 # lib.sh reads it
        WT_FAILED=1
    fi
}

# shortcut LNK CODE: the shortcut at LNK (Windows path) points at the
# installed exe, works in its folder and shows the icon of product CODE: the
# file Windows Installer keeps for it, which is the program itself.
shortcut() {
    local lnk=$1 code=$2 icon
    if ! probe shortcut-info "$lnk" >/dev/null; then
        wt_expect "shortcut $lnk can be read" false
        return
    fi
    wt_expect_eq "$(kv target)" "$installed_exe" "$lnk: target"
    wt_expect_eq "$(kv workdir)" "$install_dir" "$lnk: working directory"
    icon=$(kv icon)
    wt_expect_eq "$icon $(kv icon_index)" "C:\\windows\\Installer\\$code\\ovq.exe 0" "$lnk: icon"
    wt_expect "$lnk: the icon file holds the installed program" cmp -s "$(unix "$icon")" "$installed"
}

# entry CODE VERSION: the uninstall entry of product CODE.
entry() {
    local key="$uninstall_key\\$1" name
    name=$([[ $flavour == x64 ]] && echo "ovq (64-bit)" || echo ovq)
    wt_expect_eq "$(reg_value "$key" DisplayName)|$(reg_value "$key" DisplayVersion)|$(reg_value "$key" Publisher)" \
        "$name|$2|ovq" "uninstall entry $1: name, version, publisher"
    wt_expect_eq "$(reg_value "$key" NoModify)" 0x1 "uninstall entry $1: no Modify button"
    wt_expect_eq "$(reg_value "$key" InstallLocation)" "$install_dir" "uninstall entry $1: install location"
    wt_expect_eq "$(reg_value "$products_key\\$(packed "$1")" ProductIcon)" "C:\\windows\\Installer\\$1\\ovq.exe" \
        "product $1: its icon"
}


# nothing_left: no file of the package (its cached copy under
# C:\windows\Installer included) and none of its registry keys.
nothing_left() {
    local left
    left=$(snapshot | grep -v '^absent: ')
    wt_expect "after the removal nothing is left${left:+: ${left//$'\n'/; }}" [ -z "$left" ]
}

# 1. Installed with AUTOSTART=1.
wt_expect "the installed exe is the older package's" cmp -s "$installed" "$older_exe"
sed 's/\r*$/\r/' "$(dirname "$0")/../../LICENSE" >"$WT_DIR/LICENSE.txt"
wt_expect "the licence beside it: LICENSE.txt, LICENSE with CRLF" cmp -s "$(unix "${install_dir}LICENSE.txt")" "$WT_DIR/LICENSE.txt"
shortcut "$menu_lnk" "$old_code"
shortcut "$startup_lnk" "$old_code"
entry "$old_code" "$(prop ProductVersion)"
wt_expect_eq "$(reg_value 'HKLM\Software\ovq' Autostart)" 1 "HKLM\\Software\\ovq Autostart (the Startup shortcut's key path)"
probe shortcut-info "$menu_lnk" >/dev/null
OVQ_EXE=$(kv target)
ovq_start_first
copy=$FIRST_PID
wt_shot installed-copy-running
hold_exit

# 2. The upgrade, with that copy running.
msi upgrade /i "$(ovq_wine_path "$package")" /qn
wt_expect_eq "$MSI_EXIT" 0 "upgrade with a copy running: exit code"
log_order
copy_ended "$copy"
wt_expect "the new exe is in place" cmp -s "$installed" "$exe"
started_again "the upgrade" "$installed_exe"
shortcut "$menu_lnk" "$new_code"
shortcut "$startup_lnk" "$new_code"
wt_expect_eq "$(products)" "$new_code" "registered products after the upgrade"
entry "$new_code" "$(prop ProductVersion)"
wt_expect "the older product's icon folder is gone" [ ! -e "$WINEPREFIX/drive_c/windows/Installer/$old_code" ]
wt_expect_eq "$(reg_value 'HKLM\Software\ovq' Autostart)" 1 "AUTOSTART kept: HKLM\\Software\\ovq Autostart"

# 3. The same package again, with a copy running: the one the package started.
hold_exit
snapshot >"$WT_DIR/same-again.before"
exe_stamp=$(stat -c '%i %Y.%y' "$installed")
msi same-again /i "$(ovq_wine_path "$package")" /qn
wt_expect_eq "$MSI_EXIT" 0 "the same package again: exit code"
wt_expect "the same package again: the copy still runs" probe wait-window 0
wt_expect "the same package again: the exe not written again" [ "$(stat -c '%i %Y.%y' "$installed")" = "$exe_stamp" ]
unchanged "the same package again: the same files, bytes and registry" same-again

# 4. The older package over the newer one: refused, with the copy running.
export TIMES=1
snapshot >"$WT_DIR/downgrade.before"
msi downgrade /i "$(ovq_wine_path "$older")" /qn
wt_expect_eq "$MSI_EXIT" 1603 "the older package over the newer one: exit code"
wt_expect "the older package: the copy still runs" probe wait-window 0
unchanged "the older package: nothing changed, to the file times" downgrade
# Shown with the basic UI: its message box, closed as a user would.
env WINEDEBUG=-all OVQ_WINE_LOCALE=C.UTF-8 wine "$PROBE_EXE" run msiexec.exe /i "$(ovq_wine_path "$older")" /qb \
    </dev/null >"$WT_DIR/downgrade-qb.out" 2>&1 &
qb=$!
WT_PIDS+=("$qb")
if probe box-text 30000 'Install Failed' >/dev/null; then
    wt_expect_eq "$(kv text)" "A newer version of ovq is already installed. This package changes nothing; to install it, remove the newer version first." \
        "the refusal's message"
    wt_shot downgrade-refused
    probe close-class '#32770' >/dev/null
else
    wt_expect "the refusal's message box appears" false
fi
if ovq_wait_exit "$qb" 30000; then
    wt_expect_eq "$(sed -n 's/^exit=//p' "$WT_DIR/downgrade-qb.out" | tr -d '\r')" 1603 "the older package with /qb: exit code"
else
    wt_expect "msiexec /qb of the older package has ended" false
fi
cp "$WT_DIR/downgrade.before" "$WT_DIR/downgrade-qb.before"
unchanged "the older package with /qb: nothing changed" downgrade-qb
unset TIMES

# 5. A repair with that copy running and a hung one beside it: a program of
# that name that does not know -x (the probe, waiting) is ended by the package
# 30 s later, and the run still ends with 0, not with a restart asked for.
# The program starts again in the session, once.
hung_dir="$WINEPREFIX/drive_c/hung"
mkdir -p "$hung_dir"
cp "$PROBE_EXE" "$hung_dir/ovq.exe"
wine 'C:\hung\ovq.exe' idle-watch 120000 </dev/null >"$WT_DIR/hung.out" 2>&1 &
hung=$!
WT_PIDS+=("$hung")
wt_wait_line "$WT_DIR/hung.out" '^probe=idle-watch' 20000 "$hung" || wt_harness_fail "the hung stand-in did not start"
# (Wine's msiexec answers /fa with 1; REINSTALL=ALL with REINSTALLMODE=amus
# is the same repair, every file written again.)
msi repair /i "$new_code" REINSTALL=ALL REINSTALLMODE=amus /qn
wt_expect_eq "$MSI_EXIT" 0 "repair with a copy and a hung one running: exit code"
log_order
wt_expect "the hung one: the log says the package ended it after 30 s" \
    grep -a -q '^ovq: the copy in session 1 (process [0-9]*, C:\\hung\\ovq.exe) did not end within 30 s of its -x: the package ended it' "$MSI_LOG"
# (Wine does not pass the exit code of a process another one ended on to the
# loader's own: only its end is checked.)
wt_expect "the hung one has ended" ovq_wait_exit "$hung" 5000
wt_expect_eq "$(grep -a -c '^ovq: started ' "$MSI_LOG")" 1 "the program started once in the session of both"
started_again "the repair" "$installed_exe"
rm -rf "$hung_dir"

# 6. Removal with the copy running: it ends, nothing starts again.
hold_exit
msi remove /x "$(ovq_wine_path "$package")" /qn
wt_expect_eq "$MSI_EXIT" 0 "removal with a copy running: exit code"
log_order
wt_expect "the removal: the log says nothing is started again" \
    grep -a -q '^ovq: the program is removed: nothing is started in session 1, where a copy was ended' "$MSI_LOG"
wt_expect "the removal: no copy runs" probe wait-gone 0
nothing_left
msi remove-again /x "$new_code" /qn
wt_expect_eq "$MSI_EXIT" 1605 "a second removal by product code: exit code (unknown product)"

# 7. Without AUTOSTART, on a clean machine.
msi install /i "$(ovq_wine_path "$package")" /qn
wt_expect_eq "$MSI_EXIT" 0 "the package without AUTOSTART: exit code"
wt_expect "the installed exe is the package's" cmp -s "$installed" "$exe"
shortcut "$menu_lnk" "$new_code"
wt_expect "without AUTOSTART: no Startup shortcut" [ ! -e "$(unix "$startup_lnk")" ]
wt_expect "without AUTOSTART: no HKLM\\Software\\ovq" [ -z "$(reg_query 'HKLM\Software\ovq')" ]
entry "$new_code" "$(prop ProductVersion)"
OVQ_EXE=$installed_exe
ovq_start_first
wt_shot installed-without-autostart
# The Startup shortcut added and dropped on the installed version, with the
# copy left running: neither touches the program.
msi add-startup /i "$(ovq_wine_path "$package")" ADDLOCAL=Startup /qn
wt_expect_eq "$MSI_EXIT" 0 "ADDLOCAL=Startup: exit code"
shortcut "$startup_lnk" "$new_code"
wt_expect_eq "$(reg_value 'HKLM\Software\ovq' Autostart)" 1 "ADDLOCAL=Startup: HKLM\\Software\\ovq Autostart"
msi drop-startup /i "$(ovq_wine_path "$package")" REMOVE=Startup /qn
wt_expect_eq "$MSI_EXIT" 0 "REMOVE=Startup: exit code"
wt_expect "REMOVE=Startup: no Startup shortcut" [ ! -e "$(unix "$startup_lnk")" ]
wt_expect "REMOVE=Startup: no HKLM\\Software\\ovq" [ -z "$(reg_query 'HKLM\Software\ovq')" ]
wt_expect "REMOVE=Startup: the Start-menu shortcut stays" [ -e "$(unix "$menu_lnk")" ]
wt_expect "ADDLOCAL and REMOVE of Startup: the copy still runs" probe wait-window 0
probe close >/dev/null
ovq_wait_exit "$FIRST_PID" 10000 || wt_expect "the installed copy ended on WM_CLOSE" false
msi remove-idle /x "$(ovq_wine_path "$package")" /qn
wt_expect_eq "$MSI_EXIT" 0 "removal with nothing running: exit code"
nothing_left

# An upgrade with AUTOSTART=0 drops the Startup shortcut that the older
# version had.
msi install-older-again /i "$(ovq_wine_path "$older")" /qn AUTOSTART=1
wt_expect_eq "$MSI_EXIT" 0 "the older package with AUTOSTART=1 again: exit code"
msi upgrade-autostart-0 /i "$(ovq_wine_path "$package")" /qn AUTOSTART=0
wt_expect_eq "$MSI_EXIT" 0 "upgrade with AUTOSTART=0: exit code"
wt_expect "upgrade with AUTOSTART=0: no Startup shortcut" [ ! -e "$(unix "$startup_lnk")" ]
wt_expect "upgrade with AUTOSTART=0: no HKLM\\Software\\ovq" [ -z "$(reg_query 'HKLM\Software\ovq')" ]
shortcut "$menu_lnk" "$new_code"
wt_expect_eq "$(products)" "$new_code" "registered products after the upgrade with AUTOSTART=0"
msi remove-last /x "$(ovq_wine_path "$package")" /qn
wt_expect_eq "$MSI_EXIT" 0 "removal: exit code"
nothing_left

# 8. An upgrade that fails after it has ended the running copy: a package of
# this version made for the test (the failing package: an action that fails
# right after the copies are ended, and its own folder, so that Wine's
# rollback, which deletes the files of the failing package's components
# wherever they are, leaves the older version's alone). The older version
# stays installed and its copy runs again, from its own file.
cp "$package" "$WT_DIR/failing.msi"
msibuild "$WT_DIR/failing.msi" -q "UPDATE \`Directory\` SET \`DefaultDir\` = 'ovq-failing' WHERE \`Directory\` = 'INSTALLDIR'" &&
    msibuild "$WT_DIR/failing.msi" \
        -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('FailForTest', 1058, 'SystemFolder', 'cmd.exe /c exit 7')" &&
    msibuild "$WT_DIR/failing.msi" \
        -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('FailForTest', '', 1503)" ||
    wt_harness_fail "msibuild could not make the failing package"
msi install-older-for-failure /i "$(ovq_wine_path "$older")" /qn
wt_expect_eq "$MSI_EXIT" 0 "the older package, for the failing upgrade: exit code"
OVQ_EXE=$installed_exe
ovq_start_first
copy=$FIRST_PID
msi failing-upgrade /i "$(ovq_wine_path "$WT_DIR/failing.msi")" /qn
wt_expect "the failing upgrade fails (exit code $MSI_EXIT)" test "$MSI_EXIT" != 0 -a "$MSI_EXIT" != 3010
copy_ended "$copy"
wt_expect "the failing upgrade: the log says the run is rolled back" \
    grep -a -q '^ovq: the run is rolled back: the copies ended start again from their own program files' "$MSI_LOG"
wt_expect_eq "$(products)" "$old_code" "registered products after the failing upgrade"
wt_expect "the older exe is in place after the failing upgrade" cmp -s "$installed" "$older_exe"
started_again "the failing upgrade" "$installed_exe"
probe close >/dev/null
probe wait-gone 10000 >/dev/null || wt_expect "the restored copy ended on WM_CLOSE" false
msi remove-older /x "$old_code" /qn
wt_expect_eq "$MSI_EXIT" 0 "removal of the older version: exit code"

# 9. The signed program.
if [[ -n $signed ]]; then
    # shellcheck disable=SC2034
    OVQ_EXE=$signed
    ovq_start_first
    ovq_run_second 10000 -x
    ovq_wait_exit "$FIRST_PID" 10000
    wt_expect_eq "$OVQ_EXIT" 0 "the signed ovq.exe ran, showed its window and ended with -x: its exit code"
fi
