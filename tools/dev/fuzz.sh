#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds
# (default 60), all at once, each starting from its seed corpus. New inputs go to build/fuzz/corpus, crashes
# to build/fuzz/findings. Usage: tools/dev/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-60}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target url_command_fuzzer query_fuzzer
# Absolute paths: a fuzzer may change its current directory (the path check reads it).
# The targets run side by side, one per core, each with its own log, shown when it ends.
root="$PWD"
fuzzers=(url_command query)
pids=()
for fuzzer in "${fuzzers[@]}"; do
    corpus="$root/build/fuzz/corpus/$fuzzer"
    findings="$root/build/fuzz/findings/$fuzzer"
    mkdir -p "$corpus" "$findings"
    "$root/build/fuzz/fuzz/${fuzzer}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" "$root/fuzz/corpus/$fuzzer" \
        >"$root/build/fuzz/$fuzzer.log" 2>&1 &
    pids+=($!)
done
failed=0
for index in "${!fuzzers[@]}"; do
    status=0
    wait "${pids[index]}" || status=$?
    echo "=== ${fuzzers[index]}_fuzzer (exit $status)"
    tail -n 40 "$root/build/fuzz/${fuzzers[index]}.log"
    [ "$status" -eq 0 ] || failed=1
done
exit "$failed"
