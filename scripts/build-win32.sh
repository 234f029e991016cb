#!/usr/bin/env bash
# Builds the win32 preset for the scripts that run ovq.exe under Wine (run.sh,
# scripts/screenshots.sh): configures it on first use and writes the output to
# the log; on failure shows the log's end and exits 2.
#
#   scripts/build-win32.sh <log file>
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
log=$1

mkdir -p "$(dirname "$log")"
printf 'build-win32.sh: building the win32 preset (log: %s)\n' "$log" >&2
if ! (cd "$ROOT" && { [[ -f build/win32/CMakeCache.txt ]] || cmake --preset win32; } &&
    cmake --build --preset win32) >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    printf 'build-win32.sh: the build failed\n' >&2
    exit 2
fi
