#!/usr/bin/env bash
# A Wine state directory (prefix, loader, wineserver) belongs to the kind it
# was set up for: a run of the other kind, as a script that took the wrong
# path would make, is refused in one line and changes nothing there, neither
# the prefix nor the loader script. Tried without Wine: the host's facts are
# given (scripts/host.sh), and the loaders are names only.
#   tests/scripts/wine-state.sh
set -uo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE
here=$(cd "$(dirname "$0")" && pwd)
wine_env=$here/../../scripts/wine-env.sh
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check() { # check WHAT ACTUAL EXPECTED
    if [[ $2 == "$3" ]]; then
        echo "ok: $1 = $3"
    else
        echo "FAIL: $1: expected '$3', got '$2'"
        failed=1
    fi
}

# in_state DIR ARCH COMMAND...: COMMAND after sourcing wine-env.sh for that
# state directory and kind, on a host that runs both kinds; prints what it
# logged, then its exit code.
in_state() {
    local dir=$1 arch=$2
    shift 2
    env -i PATH="$PATH" HOME="$HOME" OVQ_WINE_STATE="$dir" OVQ_WINE_ARCH="$arch" \
        OVQ_KERNEL_IA32=1 OVQ_WINE32_STARTS=1 OVQ_WINE64_STARTS=1 \
        OVQ_WINE32_LOADER=/fake/wine OVQ_WINE64_LOADER=/fake/wine64 \
        bash -c '. "$1"; shift; "$@" 2>&1; echo "rc=$?"' _ "$wine_env" "$@"
}

# snapshot DIR: one hash of every file under DIR, its name and its bytes.
snapshot() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha256sum | sha256sum | cut -c1-16); }

# A win64 state, as the 64-bit suite sets it up: its loader script and kind.
state=$work/wine-test
out=$(in_state "$state" win64 ovq_loader_setup)
check "win64 loader set up in a new state directory" "$(tail -n1 <<<"$out")" rc=0
check "its kind" "$(cat "$state/kind" 2>/dev/null)" win64
check "its loader" "$(grep -c '/fake/wine64' "$state/bin/wine" 2>/dev/null)" 1
# What a made prefix holds, to see that nothing of it goes.
mkdir -p "$state/prefix/drive_c"
echo registry >"$state/prefix/system.reg"
printf 'prefix-settings 5 win64 desktop shell 800x600 marlett\ncreated in 1 ms\n' >"$state/prefix.ready"
before=$(snapshot "$state")

# The same state asked for win32: refused, nothing changed; asked for win64
# again: taken.
for step in ovq_loader_setup ovq_prefix_init; do
    out=$(in_state "$state" win32 "$step")
    check "win32 $step in the win64 state: exit code" "$(tail -n1 <<<"$out")" rc=1
    check "win32 $step in the win64 state: says why" \
        "$(grep -c "is set up for win64, not win32: left as it is" <<<"$out")" 1
    check "win32 $step in the win64 state: nothing changed" "$(snapshot "$state")" "$before"
done
out=$(in_state "$state" win64 ovq_loader_setup)
check "win64 again in its own state" "$(tail -n1 <<<"$out")" rc=0
check "win64 again: nothing changed" "$(snapshot "$state")" "$before"

# A state made before states named their kind: its prefix.ready says it.
old=$work/old
mkdir -p "$old/prefix"
echo registry >"$old/prefix/system.reg"
printf 'prefix-settings 5 win32 desktop shell 800x600 marlett\ncreated in 1 ms\n' >"$old/prefix.ready"
before=$(snapshot "$old")
out=$(in_state "$old" win64 ovq_prefix_init)
check "win64 in an older win32 state: exit code" "$(tail -n1 <<<"$out")" rc=1
check "win64 in an older win32 state: nothing changed" "$(snapshot "$old")" "$before"
exit $failed
