#!/usr/bin/env bash
# shellcheck shell=bash
# What this Linux host can run of ovq: the one place that asks, once.
#
# Source it and call the functions. What the host is (its kernel, its Wine
# loaders) is asked once and exported, so that the programs a command starts
# (ctest, the tests, Wine's scripts) reuse it instead of asking again; what is
# made of it (which Wine, which flavour) is worked out afresh at every call, so
# that a caller's OVQ_NO_IA32 is honoured at every depth, also where an outer
# script has already asked:
#   ovq_host_ia32     whether 32-bit (i386) user code may run here: the kernel
#                     runs it (a tiny i386 program is run once) and OVQ_NO_IA32
#                     is not 1. Sets OVQ_HOST_IA32 (1 or 0) and, when 0,
#                     OVQ_HOST_IA32_WHY (the reason, one line). Returns 0 when
#                     i386 code runs.
#   ovq_host_wine     which Wine loaders start here (after scripts/install-deps.sh):
#                     OVQ_WINE32 and OVQ_WINE64 name the 32-bit and the 64-bit
#                     loader, or are empty when that loader cannot start.
#   ovq_host_flavour  the Windows build to run here: OVQ_HOST_FLAVOUR is win32
#                     where i386 code runs, else win64; OVQ_HOST_FLAVOUR_WHY says
#                     why, in words for a first line of output.
#   ovq_host_loader ARCH  the Wine loader that runs programs of ARCH (win32 or
#                     win64) here, in OVQ_LOADER; returns 1 when none starts,
#                     with OVQ_HOST_NO_WINE_WHY saying why in one line.
# Or run it:   scripts/host.sh       prints the answers.
#
# OVQ_NO_IA32=1 makes it answer "no 32-bit" on any host, so that what a host
# without IA-32 emulation does can be tried on one that runs both.
#
# The facts asked once, exported (tests/scripts/host-decision.sh sets them to
# try every kind of host on any one):
#   OVQ_KERNEL_IA32 (1 or 0) and OVQ_KERNEL_IA32_WHY   the kernel runs i386 code
#   OVQ_WINE32_STARTS, OVQ_WINE64_STARTS (1 or 0)       each Wine loader starts
# The loaders asked are OVQ_WINE32_LOADER and OVQ_WINE64_LOADER.

OVQ_WINE32_LOADER=${OVQ_WINE32_LOADER:-/usr/lib/wine/wine}
OVQ_WINE64_LOADER=${OVQ_WINE64_LOADER:-/usr/lib/wine/wine64}

ovq_host_ia32() {
    if [[ -z ${OVQ_KERNEL_IA32:-} ]]; then
        OVQ_KERNEL_IA32=1 OVQ_KERNEL_IA32_WHY=
        local why
        if ! why=$(_ovq_run_i386); then
            OVQ_KERNEL_IA32=0 OVQ_KERNEL_IA32_WHY=$why
        fi
        export OVQ_KERNEL_IA32 OVQ_KERNEL_IA32_WHY
    fi
    if [[ ${OVQ_NO_IA32:-0} == 1 ]]; then
        OVQ_HOST_IA32=0 OVQ_HOST_IA32_WHY="32-bit code is switched off by OVQ_NO_IA32=1"
    elif [[ $OVQ_KERNEL_IA32 == 1 ]]; then
        OVQ_HOST_IA32=1 OVQ_HOST_IA32_WHY=
    else
        OVQ_HOST_IA32=0 OVQ_HOST_IA32_WHY=${OVQ_KERNEL_IA32_WHY:-the kernel runs no i386 code}
    fi
    export OVQ_HOST_IA32 OVQ_HOST_IA32_WHY
    [[ $OVQ_HOST_IA32 == 1 ]]
}

# _ovq_run_i386: builds and runs an i386 program that only exits 0; on failure
# prints why: the kernel's own line about IA-32 emulation when its log has one,
# else what the start of the program gave.
_ovq_run_i386() {
    local dir out rc=0
    dir=$(mktemp -d)
    printf '.globl _start\n_start:\n\tmovl $1, %%eax\n\txorl %%ebx, %%ebx\n\tint $0x80\n' >"$dir/exit.s"
    if ! as --32 -o "$dir/exit.o" "$dir/exit.s" 2>"$dir/err" || ! ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" 2>>"$dir/err"; then
        printf 'no i386 program could be made to try it (%s)\n' "$(head -n1 "$dir/err")"
        rm -rf "$dir"
        return 1
    fi
    out=$("$dir/exit" 2>&1) || rc=$?
    rm -rf "$dir"
    ((rc == 0)) && return 0
    local kernel
    kernel=$(LC_ALL=C dmesg 2>/dev/null | grep -i 'IA-32 emulation' | tail -n1 | sed 's/^\[[^]]*\] *//')
    if [[ -n $kernel ]]; then
        printf 'the kernel says: %s\n' "$kernel"
    else
        printf 'an i386 program does not start here (%s)\n' "${out:-exit code $rc}"
    fi
    return 1
}

# _ovq_starts LOADER: whether the Wine loader starts (prints its version).
_ovq_starts() { "$1" --version >/dev/null 2>&1 && echo 1 || echo 0; }

ovq_host_wine() {
    # The 32-bit loader is tried only where the kernel runs i386 code: elsewhere
    # it cannot start, and trying it costs a failed exec.
    if [[ -z ${OVQ_WINE32_STARTS:-} ]]; then
        OVQ_WINE32_STARTS=0
        ovq_host_ia32 || true
        [[ $OVQ_KERNEL_IA32 == 1 ]] && OVQ_WINE32_STARTS=$(_ovq_starts "$OVQ_WINE32_LOADER")
        export OVQ_WINE32_STARTS
    fi
    if [[ -z ${OVQ_WINE64_STARTS:-} ]]; then
        OVQ_WINE64_STARTS=$(_ovq_starts "$OVQ_WINE64_LOADER")
        export OVQ_WINE64_STARTS
    fi
    OVQ_WINE32= OVQ_WINE64=
    if ovq_host_ia32 && [[ $OVQ_WINE32_STARTS == 1 ]]; then
        OVQ_WINE32=$OVQ_WINE32_LOADER
    fi
    [[ $OVQ_WINE64_STARTS == 1 ]] && OVQ_WINE64=$OVQ_WINE64_LOADER
    export OVQ_WINE32 OVQ_WINE64
    return 0
}

# shellcheck disable=SC2034
ovq_host_flavour() {
    if ovq_host_ia32; then
        OVQ_HOST_FLAVOUR=win32
        OVQ_HOST_FLAVOUR_WHY="the 32-bit ovq.exe, which every Windows runs"
    else
        OVQ_HOST_FLAVOUR=win64
        OVQ_HOST_FLAVOUR_WHY="the 64-bit ovq.exe under 64-bit Wine, since 32-bit code cannot run here ($OVQ_HOST_IA32_WHY)"
    fi
}

# shellcheck disable=SC2034
ovq_host_loader() {
    ovq_host_wine
    OVQ_LOADER= OVQ_HOST_NO_WINE_WHY=
    case $1 in
    win32) OVQ_LOADER=$OVQ_WINE32 ;;
    win64) OVQ_LOADER=$OVQ_WINE64 ;;
    *)
        OVQ_HOST_NO_WINE_WHY="no Wine for '$1': the kinds are win32 and win64"
        return 1
        ;;
    esac
    [[ -n $OVQ_LOADER ]] && return 0
    if [[ $1 == win32 ]] && ! ovq_host_ia32; then
        OVQ_HOST_NO_WINE_WHY="32-bit Wine cannot run here: $OVQ_HOST_IA32_WHY"
    elif [[ $1 == win32 ]]; then
        OVQ_HOST_NO_WINE_WHY="32-bit Wine ($OVQ_WINE32_LOADER) does not start: run scripts/install-deps.sh"
    else
        OVQ_HOST_NO_WINE_WHY="64-bit Wine ($OVQ_WINE64_LOADER) does not start: run scripts/install-deps.sh"
    fi
    return 1
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    set -u
    if ovq_host_ia32; then
        echo "i386 user code: runs"
    else
        echo "i386 user code: does not run: $OVQ_HOST_IA32_WHY"
    fi
    for arch in win32 win64; do
        if ovq_host_loader $arch; then
            echo "$arch Wine: $OVQ_LOADER"
        else
            echo "$arch Wine: $OVQ_HOST_NO_WINE_WHY"
        fi
    done
    ovq_host_flavour
    echo "run.sh runs $OVQ_HOST_FLAVOUR: $OVQ_HOST_FLAVOUR_WHY"
fi
