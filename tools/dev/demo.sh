#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: the store benchmarks over a
# collection of 100,000 annotated files, reported as medians of three runs.
set -euo pipefail
cd "$(dirname "$0")/../.."

tools/dev/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
build/default/bench/scrivcore_bench --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true --benchmark_display_aggregates_only=true "$@"
