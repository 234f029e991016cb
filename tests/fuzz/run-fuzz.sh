#!/bin/bash
# Runs the received-text fuzz target: first once over a 16 MiB text (with the
# sanitizers, in bounded time), then each seed once, then for a bounded time
# from the seeds.
# Any finding fails the test.
set -euo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE
fuzzer=$1 seeds=$2 work=$3 seconds=$4

rm -rf "$work" && mkdir -p "$work/corpus" "$work/large"
cp "$seeds"/* "$work/corpus/"

# A 16 MiB text of words, quotes and Japanese characters, ending in -x.
large="$work/large/16mib.txt"
set +o pipefail  # yes ends by SIGPIPE
{ printf 'ovq -s '
  yes $'\x83X\x83N ab\t"c d" -s' | tr '\n' ' ' | head -c $(( (16 << 20) - 10 ))
  printf ' -x'; } > "$large"
set -o pipefail
start=$(date +%s%N)
"$fuzzer" -rss_limit_mb=8192 -timeout=120 "$large" 2>"$work/large.log" || { cat "$work/large.log"; exit 1; }
echo "$(stat -c %s "$large")-byte text through the sanitized path: $(( ($(date +%s%N) - start) / 1000000 )) ms"

# Every seed once, as a fixed test case: the seeds are the texts of the
# tests' tables, and an input the fuzzer ever finds fault with joins them.
"$fuzzer" -runs=1 "$seeds"/* 2>"$work/seeds.log" || { tail -60 "$work/seeds.log"; exit 1; }
echo "$(ls "$seeds" | wc -l) seeds run once each"

# Inputs up to 64 KiB; one that takes over 10 s counts as a finding.
"$fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" 2>"$work/fuzz.log" || {
    tail -60 "$work/fuzz.log"
    echo "keep the input as a seed (cp $work/crash-* $seeds/) once its fault is mended"
    exit 1; }
grep -E "^stat::(number_of_executed_units|peak_rss_mb)|^Done" "$work/fuzz.log" || true
echo "fuzzing ran ${seconds} s with no finding"
