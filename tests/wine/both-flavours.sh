#!/usr/bin/env bash
# The 32-bit and the 64-bit ovq.exe in one session share the single-copy marker
# and the window class, so either flavour hands over to the other. Both ways:
# one flavour runs resident; the other, launched with a text of its own and -s,
# exits 1, its text becomes the title and the idle resets stop; the other
# flavour's -x then exits 1 and ends the resident copy with 0.
# Runs in the 64-bit prefix, which starts 32-bit programs too where the host
# runs i386 code; on a host that does not, it is skipped with the reason.
#   bash tests/wine/both-flavours.sh <ovq.exe 64-bit> <probe.exe> <ovq.exe 32-bit>
# shellcheck source=tests/wine/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/wine/commands-lib.sh
. "$(dirname "$0")/commands-lib.sh"
WT_SKIP=77

# shellcheck source=scripts/host.sh
. "$(dirname "$0")/../../scripts/host.sh"
if ! ovq_host_ia32; then
    wt_log "SKIPPED: the 32-bit ovq.exe cannot run here: $OVQ_HOST_IA32_WHY"
    exit $WT_SKIP
fi
OVQ32_EXE=${3:-}
[[ -f $OVQ32_EXE ]] || { wt_log "FAIL: no 32-bit ovq.exe at '$OVQ32_EXE' (build the win32 preset first)"; exit 1; }
OVQ32_EXE=$(realpath "$OVQ32_EXE")
wt_init "$1" "$2"
OVQ64_EXE=$OVQ_EXE

# both_ways RESIDENT-EXE RESIDENT-NAME OTHER-EXE OTHER-NAME
both_ways() {
    local resident=$1 resident_name=$2 other=$3 other_name=$4
    wt_log "-- $resident_name resident, $other_name launched"
    OVQ_EXE=$resident
    ovq_start_first
    probe window-info
    wt_expect_eq "$(kv bits)-bit" "$resident_name" "the resident copy's machine"
    wt_expect_resets "$resident_name resident"

    OVQ_EXE=$other
    ovq_run_second 10000 "from-$other_name" -s
    wt_expect_eq "$OVQ_EXIT" 1 "exit code of the $other_name second launch"
    wt_expect_title_now "ovq from-$other_name -s" "the $other_name text at the $resident_name copy"
    wt_expect_no_resets "after -s from $other_name"

    ovq_run_second 10000 -x
    wt_expect_eq "$OVQ_EXIT" 1 "exit code of the $other_name ovq.exe -x"
    ovq_wait_exit "$FIRST_PID" 5000 || wt_die "the $resident_name copy still runs 5 s after -x from $other_name"
    wt_expect_eq "$OVQ_EXIT" 0 "exit code of the $resident_name copy"
    probe mutex-exists
    wt_expect_eq "$(kv exists)" 0 "single-copy mutex released"
}

both_ways "$OVQ32_EXE" 32-bit "$OVQ64_EXE" 64-bit
both_ways "$OVQ64_EXE" 64-bit "$OVQ32_EXE" 32-bit
