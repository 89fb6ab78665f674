#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds
# (default 60), starting from its seed corpus. New inputs go to build/fuzz/corpus, crashes
# to build/fuzz/findings. Usage: tools/dev/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-60}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target url_command_fuzzer query_fuzzer
# Absolute paths: a fuzzer may change its current directory (the path check reads it).
root="$PWD"
fuzzers=(url_command query)
for fuzzer in "${fuzzers[@]}"; do
    corpus="$root/build/fuzz/corpus/$fuzzer"
    findings="$root/build/fuzz/findings/$fuzzer"
    mkdir -p "$corpus" "$findings"
    "$root/build/fuzz/fuzz/${fuzzer}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" "$root/fuzz/corpus/$fuzzer"
done
