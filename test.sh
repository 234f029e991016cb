#!/bin/bash
# Installs what is missing, builds every flavour (the Windows program with
# MinGW GCC and with clang and lld, and the host build against the simulated
# Windows layer) and runs every test through ctest: the host tests and the fuzz
# target, then the checks of each ovq.exe (size, imports, header flags,
# reproducibility) and the Wine tests of the real program. A machine without
# Wine fails here; nothing is skipped.
set -euo pipefail
cd "$(dirname "$0")"
started=$SECONDS

scripts/install-deps.sh

for preset in win32 win32-clang host; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
done

status=0
ctest --preset host -j 2 || status=1
for preset in win32 win32-clang; do
    echo "$preset: ovq.exe $(stat -c %s "build/$preset/ovq.exe") bytes"
done
echo "set-up and builds done after $((SECONDS - started)) s"
ctest --preset win32 || status=1
ctest --preset win32-clang || status=1
echo "all done after $((SECONDS - started)) s"
exit $status
