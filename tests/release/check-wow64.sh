#!/usr/bin/env bash
# The x86 package on 64-bit Windows, and the upgrades from one flavour to the
# other, by Wine's own msiexec in a fresh 64-bit (WoW64) prefix, which runs
# 32-bit programs beside 64-bit ones as 64-bit Windows does. Only a host that
# runs 32-bit code can: the 32-bit copies and the x86 package's custom actions
# are 32-bit programs.
#
#   tests/release/check-wow64.sh <x86 package> <older x86 package> <x64 package> <older x64 package>
#       <older x86 ovq.exe> <x86 ovq.exe> <x64 ovq.exe> <older x64 ovq.exe>
#       <32-bit probe.exe> <64-bit probe.exe> <work dir>
#
# Every msiexec runs with /qn and a verbose log. Each copy a package must end is
# made slow to end first (holdexit.dll of its own bitness), as in
# check-install.sh. The steps:
#  1. the older x86 package with AUTOSTART=1: exit code 0; INSTALLDIR is
#     C:\Program Files (x86)\ovq\, with the exe's bytes; Autostart=1 under
#     HKLM\Software\ovq in the 32-bit programs' view (WOW6432Node) and not in
#     the 64-bit one; the installed exe runs as a 32-bit process.
#  2. removed with that copy running: exit code 0; the copy ended by its -x
#     after its hold; nothing started again; the folder and the value gone, the
#     product no more registered in either view.
#  3. the older x86 package with AUTOSTART=1 again, its copy running, and the
#     x64 package over it without AUTOSTART: exit code 0; the 32-bit copy ended
#     by its -x before any file was touched; the x64 product alone registered;
#     the 64-bit exe in C:\Program Files\ovq\, the x86 folder gone; AUTOSTART
#     kept: the value in the 64-bit view, none left in the 32-bit one, and the
#     Startup shortcut, like the Start-menu one, on the 64-bit exe; the 64-bit
#     exe started again in the session, a 64-bit process.
#  4. the newer x86 package over the older x64 one, whose copy runs: exit code
#     0; the x86 product alone registered; the 32-bit exe in Program Files
#     (x86), Program Files\ovq gone; the Start-menu shortcut on the 32-bit exe;
#     the 32-bit exe started again in the session. Then removed: nothing left.
# Exit code 0 when every check passed; the prefix is removed then.
set -uo pipefail
if (($# != 11)); then
    echo "usage: $0 <x86 package> <older x86 package> <x64 package> <older x64 package> <older x86 ovq.exe>" \
        "<x86 ovq.exe> <x64 ovq.exe> <older x64 ovq.exe> <32-bit probe.exe> <64-bit probe.exe> <work dir>" >&2
    exit 2
fi
x86=$(realpath "$1") older_x86=$(realpath "$2") x64=$(realpath "$3") older_x64=$(realpath "$4")
older_x86_exe=$(realpath "$5") x86_exe=$(realpath "$6") x64_exe=$(realpath "$7") older_x64_exe=$(realpath "$8")
probe32=$(realpath "$9") probe64=$(realpath "${10}") work=${11}

rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")
export OVQ_WINE_STATE=$work/wine OVQ_WINE_ARTIFACTS=$work OVQ_WINE_ARCH=win64
# shellcheck source=tests/wine/lib.sh disable=SC1091
. "$(dirname "$0")/../wine/lib.sh"
# shellcheck disable=SC2034 # lib.sh reads WT_NAME
WT_NAME=wow64
wt_init "$x64_exe" "$probe64"
wow64_on_exit() {
    (wt_on_exit)
    local rc=$?
    ovq_env_stop "$PROBE_EXE"
    ((rc == 0)) && rm -rf "$WINEPREFIX"
    exit $rc
}
trap wow64_on_exit EXIT
# shellcheck source=tests/release/install-lib.sh
. "$(dirname "$0")/install-lib.sh"

x86_dir='C:\Program Files (x86)\ovq\' x64_dir='C:\Program Files\ovq\'
x86_code=$(product_code "$x86") older_x86_code=$(product_code "$older_x86")
x64_code=$(product_code "$x64") older_x64_code=$(product_code "$older_x64")

# registered: the product codes in both views' uninstall entries.
registered() {
    { reg_query "$uninstall_key" /reg:64 && reg_query "$uninstall_key" /reg:32; } |
        grep -o '^HKEY.*\\{[0-9A-F-]\{36\}}$' | grep -o '{.*}' | sort -u | paste -sd' '
}

# hold_exit_bits 32|64: the running copy made slow to end, by the probe and
# holdexit.dll of its bitness.
hold_exit_bits() {
    local probe=$probe64
    [[ $1 == 32 ]] && probe=$probe32
    wine "$probe" inject-load "$(ovq_wine_path "$(dirname "$probe")/holdexit.dll")" </dev/null >"$WT_DIR/hold.out" 2>&1 ||
        wt_die "holdexit.dll could not be loaded into the running $1-bit copy: $(tr '\n' ' ' <"$WT_DIR/hold.out")"
}

# running_bits WHAT BITS: the copy that runs is a process of that bitness.
running_bits() {
    if probe wait-window 10000 >/dev/null && probe window-info >/dev/null; then
        wt_expect_eq "$(kv bits)" "$2" "$1: the running copy's bitness"
    else
        wt_expect "$1: a copy runs" false
    fi
}

# shortcut_target LNK EXE: the shortcut starts EXE.
shortcut_target() {
    if probe shortcut-info "$1" >/dev/null; then
        wt_expect_eq "$(kv target)" "$2" "$1: target"
    else
        wt_expect "shortcut $1 can be read" false
    fi
}

# 1. The older x86 package, with AUTOSTART=1.
msi install-x86 /i "$(ovq_wine_path "$older_x86")" /qn AUTOSTART=1
wt_expect_eq "$MSI_EXIT" 0 "the older x86 package with AUTOSTART=1: exit code"
wt_expect_eq "$(prop INSTALLDIR)" "$x86_dir" "the x86 package's INSTALLDIR on 64-bit Windows"
menu_lnk=$(prop ProgramMenuFolder)ovq.lnk startup_lnk=$(prop StartupFolder)ovq.lnk
wt_expect "the installed 32-bit exe is the package's" cmp -s "$(unix "${x86_dir}ovq.exe")" "$older_x86_exe"
wt_expect_eq "$(reg_value 'HKLM\Software\ovq' Autostart /reg:32)" 1 "Autostart in the 32-bit view (WOW6432Node)"
wt_expect_eq "$(reg_value 'HKLM\Software\ovq' Autostart /reg:64)" "" "no Autostart in the 64-bit view"
wt_expect_eq "$(registered)" "$older_x86_code" "registered products"
OVQ_EXE=${x86_dir}ovq.exe
ovq_start_first
copy=$FIRST_PID
running_bits "the installed x86 exe" 32
hold_exit_bits 32

# 2. Removed, with that copy running.
msi remove-x86 /x "$older_x86_code" /qn
wt_expect_eq "$MSI_EXIT" 0 "removal of the x86 package with its copy running: exit code"
log_order
copy_ended "$copy"
wt_expect "the removal: no copy runs" probe wait-gone 0
wt_expect "the removal: Program Files (x86)\\ovq is gone" [ ! -e "$(unix "$x86_dir")" ]
wt_expect_eq "$(reg_query 'HKLM\Software\ovq' /reg:32)$(reg_query 'HKLM\Software\ovq' /reg:64)" "" "the removal: no HKLM\\Software\\ovq in either view"
wt_expect_eq "$(registered)" "" "the removal: no product registered"

# 3. The x64 package over the older x86 one, whose copy runs.
msi install-x86-again /i "$(ovq_wine_path "$older_x86")" /qn AUTOSTART=1
wt_expect_eq "$MSI_EXIT" 0 "the older x86 package with AUTOSTART=1 again: exit code"
ovq_start_first
copy=$FIRST_PID
hold_exit_bits 32
msi x64-over-x86 /i "$(ovq_wine_path "$x64")" /qn
wt_expect_eq "$MSI_EXIT" 0 "the x64 package over the x86 one: exit code"
log_order
copy_ended "$copy"
wt_expect_eq "$(registered)" "$x64_code" "registered products after the x64 package over the x86 one"
wt_expect "the 64-bit exe in Program Files\\ovq" cmp -s "$(unix "${x64_dir}ovq.exe")" "$x64_exe"
wt_expect "Program Files (x86)\\ovq is gone" [ ! -e "$(unix "$x86_dir")" ]
wt_expect_eq "$(reg_value 'HKLM\Software\ovq' Autostart /reg:64)" 1 "AUTOSTART kept: Autostart in the 64-bit view"
wt_expect_eq "$(reg_query 'HKLM\Software\ovq' /reg:32)" "" "no HKLM\\Software\\ovq left in the 32-bit view"
shortcut_target "$menu_lnk" "${x64_dir}ovq.exe"
shortcut_target "$startup_lnk" "${x64_dir}ovq.exe"
started_again "the x64 package over the x86 one" "${x64_dir}ovq.exe"
running_bits "after the x64 package over the x86 one" 64

# 4. The newer x86 package over an older x64 one, whose copy runs.
probe close >/dev/null
probe wait-gone 10000 >/dev/null || wt_expect "the 64-bit copy ended on WM_CLOSE" false
msi remove-x64 /x "$x64_code" /qn
wt_expect_eq "$MSI_EXIT" 0 "removal of the x64 package: exit code"
msi install-older-x64 /i "$(ovq_wine_path "$older_x64")" /qn
wt_expect_eq "$MSI_EXIT" 0 "the older x64 package: exit code"
wt_expect "the older 64-bit exe is the package's" cmp -s "$(unix "${x64_dir}ovq.exe")" "$older_x64_exe"
OVQ_EXE=${x64_dir}ovq.exe
ovq_start_first
copy=$FIRST_PID
hold_exit_bits 64
msi x86-over-x64 /i "$(ovq_wine_path "$x86")" /qn
wt_expect_eq "$MSI_EXIT" 0 "the newer x86 package over the older x64 one: exit code"
log_order
copy_ended "$copy"
wt_expect_eq "$(registered)" "$x86_code" "registered products after the x86 package over the x64 one"
wt_expect "the 32-bit exe in Program Files (x86)\\ovq" cmp -s "$(unix "${x86_dir}ovq.exe")" "$x86_exe"
wt_expect "Program Files\\ovq is gone" [ ! -e "$(unix "$x64_dir")" ]
shortcut_target "$menu_lnk" "${x86_dir}ovq.exe"
started_again "the x86 package over the x64 one" "${x86_dir}ovq.exe"
running_bits "after the x86 package over the x64 one" 32
probe close >/dev/null
probe wait-gone 10000 >/dev/null || wt_expect "the 32-bit copy ended on WM_CLOSE" false
msi remove-last /x "$x86_code" /qn
wt_expect_eq "$MSI_EXIT" 0 "removal of the x86 package: exit code"
wt_expect "nothing left in Program Files (x86)\\ovq" [ ! -e "$(unix "$x86_dir")" ]
wt_expect_eq "$(registered)" "" "no product registered at the end"
