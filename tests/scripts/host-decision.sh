#!/usr/bin/env bash
# Which path every kind of host takes, tried on this one: scripts/host.sh's
# answers under a table of environments, each asked two levels deep, as
# test.sh asks and then the tests, run.sh and Wine's scripts it starts ask again.
#
# A row gives what the host is (the facts host.sh asks once and exports: the
# kernel runs i386 code, each Wine loader starts), what the outer script was
# given (OVQ_NO_IA32) and what the inner one was given, and what the inner one
# must then answer: 32-bit code, the flavour run.sh runs, the 32-bit and the
# 64-bit loader. The inner script is a new bash that inherits the outer one's
# exports, so a decision the outer one made and exported must not stick to it.
#   tests/scripts/host-decision.sh
set -uo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE
here=$(cd "$(dirname "$0")" && pwd)
host_sh=$here/../../scripts/host.sh
failed=0

# A loader that starts, and one that does not: the facts say which is which,
# and the answers must name the configured loaders.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ask OUTER-NO-IA32 INNER-NO-IA32 KERNEL W32 W64: the inner script's answers,
# "ia32 flavour win32-loader win64-loader", with "-" for an empty loader.
ask() {
    local outer=$1 inner=$2 kernel=$3 w32=$4 w64=$5
    env -i PATH="$PATH" HOME="$HOME" \
        OVQ_KERNEL_IA32="$kernel" OVQ_KERNEL_IA32_WHY="$([[ $kernel == 0 ]] && echo 'the kernel says: IA-32 emulation off')" \
        OVQ_WINE32_STARTS="$w32" OVQ_WINE64_STARTS="$w64" \
        OVQ_WINE32_LOADER=/fake/wine OVQ_WINE64_LOADER=/fake/wine64 \
        ${outer:+OVQ_NO_IA32=$outer} bash -c '
            . "$1"
            # What test.sh does before it starts anything.
            ovq_host_ia32
            ovq_host_wine
            ovq_host_flavour
            ovq_host_loader win32
            # The inner script, with what it was given.
            if [[ -n $2 ]]; then export OVQ_NO_IA32=$2; else unset OVQ_NO_IA32; fi
            exec bash -c "
                . \"\$1\"
                ovq_host_ia32 && ia32=1 || ia32=0
                ovq_host_flavour
                ovq_host_loader win32; w32=\${OVQ_LOADER:--}
                ovq_host_loader win64; w64=\${OVQ_LOADER:--}
                echo \"\$ia32 \$OVQ_HOST_FLAVOUR \$w32 \$w64\"
            " inner "$1"' outer "$host_sh" "$inner"
}

# outer NO_IA32 | inner NO_IA32 | kernel i386 | wine32 starts | wine64 starts | expected answers
while IFS='|' read -r outer inner kernel w32 w64 expected; do
    [[ -z $outer || $outer == \#* ]] && continue
    outer=${outer// /} inner=${inner// /} kernel=${kernel// /} w32=${w32// /} w64=${w64// /}
    expected=$(xargs <<<"$expected")
    [[ $outer == - ]] && outer=
    [[ $inner == - ]] && inner=
    got=$(ask "$outer" "$inner" "$kernel" "$w32" "$w64")
    what="outer OVQ_NO_IA32=${outer:-unset}, inner OVQ_NO_IA32=${inner:-unset}, kernel i386 $kernel, wine32 $w32, wine64 $w64"
    if [[ $got == "$expected" ]]; then
        echo "ok: $what: $got"
    else
        echo "FAIL: $what: expected '$expected', got '$got'"
        failed=1
    fi
done <<'TABLE'
# A host that runs 32-bit code: both loaders, the 32-bit build.
-  | -  | 1 | 1 | 1 | 1 win32 /fake/wine /fake/wine64
0  | 0  | 1 | 1 | 1 | 1 win32 /fake/wine /fake/wine64
# ... told to act as a 64-bit-only host, at the top or only further down: the
# outer script's decision, already exported, must not stick to the inner one.
1  | 1  | 1 | 1 | 1 | 0 win64 - /fake/wine64
-  | 1  | 1 | 1 | 1 | 0 win64 - /fake/wine64
0  | 1  | 1 | 1 | 1 | 0 win64 - /fake/wine64
# ... and back: a switch the outer script had is not the inner one's.
1  | -  | 1 | 1 | 1 | 1 win32 /fake/wine /fake/wine64
# A host whose kernel runs 64-bit code only, whatever it is told.
-  | -  | 0 | 0 | 1 | 0 win64 - /fake/wine64
1  | 0  | 0 | 0 | 1 | 0 win64 - /fake/wine64
# A 32-capable host whose 32-bit Wine is missing: still the 32-bit build, and
# no loader for it (run.sh then says why).
-  | -  | 1 | 0 | 1 | 1 win32 - /fake/wine64
# No Wine at all.
-  | -  | 0 | 0 | 0 | 0 win64 - -
TABLE

# The facts themselves are asked once: with none given, this host's kernel is
# asked, and what it said is handed down, whatever the switch.
got=$(env -i PATH="$PATH" HOME="$HOME" OVQ_NO_IA32=1 bash -c '. "$1"; ovq_host_ia32; echo "${OVQ_KERNEL_IA32:-unset} $OVQ_HOST_IA32"' _ "$host_sh")
if [[ $got =~ ^[01]\ 0$ ]]; then
    echo "ok: this host's kernel asked once (i386: ${got% *}); OVQ_NO_IA32=1 still answers 0"
else
    echo "FAIL: asking this host's kernel: expected '<0|1> 0', got '$got'"
    failed=1
fi
exit $failed
