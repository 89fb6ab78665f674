#!/usr/bin/env bash
# Figures of the app on an X11 session (headless, as in the end-to-end test): selection told to
# panel shown and window moved to panel moved (median and p99 over 50 each), then the app's CPU
# and memory over 60 s of idling beside an open Dolphin with the panel shown (one sample a
# second; medians). The selection is told through the file the app watches, so the first
# figure is the app's share of a selection, without reading it from Dolphin.
# Usage: bench/x11-figures.sh [BUILD_DIR] [IDLE_SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath "${1:-$root/build/default}")"
idle_seconds="${2:-60}"
tray_host="$build/tests/tray-host"
latency="$build/bench/x11-follow-latency"
work=$(mktemp -d)
pid=""
dolphin_pid=""
dolphin_window=""

fail() {
    echo "x11-figures: $*" >&2
    exit 1
}

# shellcheck source=../tests/e2e/lib/x11-session.sh
. "$root/tests/e2e/lib/x11-session.sh"

cleanup() {
    for running in $pid $dolphin_pid; do
        kill -TERM "$running" 2>/dev/null || true
        wait "$running" 2>/dev/null || true
    done
    stop_x11_session
    rm -rf "$work"
}
trap cleanup EXIT

start_x11_session "$tray_host"
"$root/tools/install.sh" "$build/Scrivlet.app" >/dev/null 2>&1 || fail "install failed"
echo "sample" >"$work/files/report.txt"
start_file_manager "$work/files"
SCRIVLET_X11_SELECTION_FILE="$work/selection" SCRIVLET_LOG_TO_STDERR=1 \
    "$HOME/Applications/Scrivlet.app/Contents/MacOS/Scrivlet" --desktop=x11 2>"$work/log" &
pid=$!
wait_for "the app's start" grep -qF "Ready." "$work/log"
echo "$work/files/report.txt" >"$work/selection"
panel_window() { xdotool search --pid "$pid" --onlyvisible --name '^Annotation$' 2>/dev/null; }
panel_shown() { [ -n "$(panel_window)" ]; }
wait_for "the panel" panel_shown

panel=$(panel_window)
echo "== selection told to panel shown"
"$latency" --selection "$work/selection" "$work/files/report.txt" "$panel" 50 | tail -n 1
echo "== window moved to panel moved"
"$latency" "$dolphin_window" "$panel" 50 | tail -n 1

echo "== idle beside Dolphin, panel shown: $idle_seconds s"
sleep 2
ticks=$(getconf CLK_TCK)
cpu_of() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
rss_of() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }
previous=$(cpu_of)
first=$previous
: >"$work/cpu"
: >"$work/rss"
for _ in $(seq 1 "$idle_seconds"); do
    sleep 1
    now=$(cpu_of)
    echo $((now - previous)) >>"$work/cpu"
    rss_of >>"$work/rss"
    previous=$now
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "CPU: median $(median "$work/cpu") ticks/s of $ticks, total $(( (previous - first) * 1000 / ticks )) ms over $idle_seconds s"
echo "RSS: median $(median "$work/rss") kB, max $(sort -n "$work/rss" | tail -n 1) kB"
