#!/bin/bash
# Installs what is missing, builds both flavours (the Windows program and the
# host build against the simulated Windows layer) and runs every test through
# ctest: the host tests and the fuzz target, then the Wine tests of the real
# ovq.exe. A machine without Wine fails here; nothing is skipped.
set -euo pipefail
cd "$(dirname "$0")"
started=$SECONDS

scripts/install-deps.sh

cmake --preset win32
cmake --build --preset win32
cmake --preset host
cmake --build --preset host

status=0
ctest --preset host -j 2 || status=1
echo "ovq.exe: $(stat -c %s build/win32/ovq.exe) bytes; set-up and builds done after $((SECONDS - started)) s"
ctest --preset win32 || status=1
exit $status
