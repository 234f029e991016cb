#!/bin/bash
# Installs what is missing, builds every flavour (the 32-bit Windows program
# with MinGW GCC and with clang and lld, the 64-bit one with MinGW GCC, and the
# host build against the simulated Windows layer) and runs every test through
# ctest: the host tests and the fuzz target, then the checks of each ovq.exe
# (size, imports, header flags, reproducibility) and the Wine tests of the real
# program, each flavour in a Wine prefix of its own kind; last the release
# of ./release.sh, the zip and the two installer packages, made from two
# clones with the builds of win32 and win64, and the packages installed,
# upgraded and removed by Wine's msiexec (tests/release/check-release.sh).
#
# The time of each step goes to build/test-times.txt, with the version, the
# commit and the machine; scripts/docs-table.sh times puts it into
# docs/building.md.
#
# A host whose kernel runs no 32-bit user code (scripts/host.sh) cannot start
# 32-bit Wine: there both 32-bit programs are still built and checked, the Wine
# tests run for the 64-bit one, and one line at the end names what did not run
# and why. A host where no Wine runs fails here; nothing is skipped silently.
set -euo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE
cd "$(dirname "$0")"
started=$SECONDS
started_at=$(date -u '+%Y-%m-%d %H:%M')
load=$(cut -d' ' -f1 /proc/loadavg 2>/dev/null || echo unknown)
# timed STEP: the time since the step before, as a row of the times table.
times=()
step_start=$SECONDS
timed() {
    times+=("| $1 | $((SECONDS - step_start)) s |")
    step_start=$SECONDS
}

# shellcheck source=scripts/host.sh
. scripts/host.sh
ovq_host_ia32 || true # asked once here; everything below is handed the answers
scripts/install-deps.sh
ovq_host_wine
timed "installing what is missing (\`scripts/install-deps.sh\`)"

for preset in win32 win32-clang win64 host; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
done
timed "configuring and building \`win32\`, \`win32-clang\`, \`win64\` and \`host\`"

status=0
ctest --preset host -j 2 || status=1
timed "the host tests (\`ctest --preset host\`)"
for preset in win32 win32-clang win64; do
    echo "$preset: ovq.exe $(stat -c %s "build/$preset/ovq.exe") bytes"
done
echo "set-up and builds done after $((SECONDS - started)) s"

if ovq_host_ia32; then
    for preset in win32 win32-clang win64; do
        ctest --preset "$preset" || status=1
    done
    not_run=
else
    # The 32-bit programs' own checks still run; their Wine tests cannot.
    ctest --preset win32 -LE wine || status=1
    ctest --preset win32-clang -LE wine || status=1
    ctest --preset win64 -LE needs-ia32 || status=1
    # tests NAME LABEL: the tests of a preset with the label, without the
    # fixture that brings Wine up and down.
    tests() { ctest --preset "$1" -N -L "$2" | sed -n 's/^ *Test *#[0-9]*: //p' | grep -v -e '^wine\.setup$' -e '^wine\.cleanup$'; }
    not_run="not run on this host, since 32-bit Wine cannot run here ($OVQ_HOST_IA32_WHY):"
    not_run+=" the $(tests win32 wine | wc -l) Wine tests of win32, the $(tests win32-clang wine | wc -l) of win32-clang,"
    not_run+=" $(tests win64 needs-ia32 | paste -sd, | sed 's/,/, /g') of win64,"
    not_run+=" and the x86 installer package under Wine's msiexec, in a 32-bit prefix and in a 64-bit one with the"
    not_run+=" upgrades between the flavours (it gets the table checks)"
fi
timed "the checks of each \`ovq.exe\` and the Wine tests"
tests/release/check-release.sh . build build/release-test || status=1
timed "the release test (\`tests/release/check-release.sh\`)"
echo "all done after $((SECONDS - started)) s"

# The times, and what they were measured on. A work tree with uncommitted
# changes names no commit, which the docs check then refuses.
version=$(sed -n 's/^project(ovq VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
[[ -z $(git status --porcelain --untracked-files=no 2>/dev/null) ]] || commit+=" with uncommitted changes"
total=$((SECONDS - started))
{
    printf 'ovq %s (commit %s), %s UTC, %s cores, load average %s at the start; %s; %s\n\n' "$version" "$commit" \
        "$started_at" "$(nproc)" "$load" \
        "$(ovq_host_ia32 && echo "a host that runs 32-bit and 64-bit code" || echo "a host that runs 64-bit code only")" \
        "$( ((status == 0)) && echo "every test passed" || echo "some tests FAILED")"
    echo "| Step of ./test.sh | Time |"
    echo "|---|---|"
    printf '%s\n' "${times[@]}"
    echo "| all of \`./test.sh\` | $total s ($((total / 60)) min $((total % 60)) s) |"
} >build/test-times.txt
echo "times of each step in build/test-times.txt"
[[ -z $not_run ]] || echo "test.sh: $not_run"
exit $status
