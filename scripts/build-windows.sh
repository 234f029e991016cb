#!/usr/bin/env bash
# Builds a Windows preset (win32 or win64) for the scripts that run ovq.exe under
# Wine (run.sh, scripts/screenshots.sh): configures it on first use and writes
# the output to the log; on failure shows the log's end and exits 2.
#
#   scripts/build-windows.sh <preset> <log file>
set -euo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE
ROOT=$(cd "$(dirname "$0")/.." && pwd)
preset=$1 log=$2

mkdir -p "$(dirname "$log")"
printf 'build-windows.sh: building the %s preset (log: %s)\n' "$preset" "$log" >&2
if ! (cd "$ROOT" && { [[ -f build/$preset/CMakeCache.txt ]] || cmake --preset "$preset"; } &&
    cmake --build --preset "$preset") >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    printf 'build-windows.sh: the build failed\n' >&2
    exit 2
fi
