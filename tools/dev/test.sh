#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Usage: tools/dev/test.sh [default|asan]
set -euo pipefail
cd "$(dirname "$0")/../.."
preset="${1:-default}"

tools/dev/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)"
