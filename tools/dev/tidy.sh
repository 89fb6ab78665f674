#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) over the shipped code: the platform layer, Scrivcore,
# the app, the extension and the command. Needs a configured build folder for its compile commands.
# Usage: tools/dev/tidy.sh [build-folder] [file...]
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:-build/default}"
shift || true
if [ "$#" -gt 0 ]; then
    files=("$@")
else
    mapfile -t files < <(git ls-files -- 'Platform/*.cpp' 'Scrivcore/*.cpp' 'Scrivlet/*.cpp' \
        'ScrivletFinderSync/*.cpp' 'ScrivletCommand/*.cpp')
fi
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${files[@]}"
