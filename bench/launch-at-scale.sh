#!/usr/bin/env bash
# The real app's start at a large collection: time from exec to "Ready" and peak memory,
# with COUNT annotated files (default 100,000) seeded in a temporary home under TMPDIR.
# Usage: bench/launch-at-scale.sh BUILD_DIR [COUNT] [RUNS]
set -euo pipefail
build="$1"
count="${2:-100000}"
runs="${3:-5}"
app="$build/Scrivlet.app/Contents/MacOS/Scrivlet"
seed="$build/tests/support/scrivlet-seed"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
home="$work/home"
mkdir -p "$home" "$work/run"
chmod 700 "$work/run"
as_user() { env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$work/run" "$@"; }

as_user "$seed" bulk "$count" "$home/Collection"
for run in $(seq 1 "$runs"); do
    rm -f "$work/log"
    start=$(date +%s%N)
    env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$work/run" \
        /usr/bin/time -f "%M %U %S" -o "$work/rss" "$app" 2>"$work/log" &
    pid=$!
    until grep -qsF "Ready. Listening" "$work/log"; do sleep 0.005; done
    ready=$(date +%s%N)
    pkill -TERM -P "$pid" # the app is the child of time
    wait "$pid"
    read -r rss user system <"$work/rss"
    opened=$(grep -F "Database opened OK" "$work/log" | cut -c12-23)
    synced=$(grep -F "Synced badge xattrs" "$work/log" | cut -c12-23)
    echo "run $run: $(((ready - start) / 1000000)) ms to Ready (store opened $opened," \
        "upkeep done $synced), peak $((rss / 1024)) MB, CPU ${user}s user ${system}s system"
done
