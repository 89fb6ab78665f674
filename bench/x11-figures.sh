#!/usr/bin/env bash
# Figures of the app on an X11 session (headless, as in the end-to-end test), with Dolphin's
# real selection read through the accessibility bus:
#   - selection in Dolphin to panel shown: from the key press that selects one file to the
#     panel mapped (median and p99 over 50 selections);
#   - window moved to panel moved (median and p99 over 50 moves);
#   - the app's CPU and memory over 60 s of idling beside an open Dolphin with the panel shown
#     (one sample a second; medians);
# then, for comparison, the app's own share of a selection: the same app told the selection
# through a file instead of Dolphin (a scripted stand-in), selection told to panel shown.
# Prints the load average before and after: the machine may be shared.
# Usage: bench/x11-figures.sh [BUILD_DIR] [IDLE_SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath "${1:-$root/build/default}")"
idle_seconds="${2:-60}"
work=$(mktemp -d)
pid=""
dolphin_pid=""
dolphin_window=""

fail() {
    echo "x11-figures: $*" >&2
    cat "$work/log" >&2 2>/dev/null || true
    exit 1
}

# shellcheck source=../tests/support/x11-session.sh
. "$root/tests/support/x11-session.sh"
# shellcheck source=../tests/support/x11-test.sh
. "$root/tests/support/x11-test.sh"
trap 'end_x11_test TERM $pid $dolphin_pid' EXIT

start_bench_session "$build"
# In Dolphin's view, sorted by name: the keys go back and forth between the two.
echo "sample" >"$work/files/report.txt"
echo "sample" >"$work/files/summary.txt"
start_file_manager "$work/files"

start_app
xdotool windowactivate --sync "$dolphin_window"
xdotool key End # summary.txt
wait_for "the panel" panel_shown
panel=$(panel_window)

echo "== selection in Dolphin (key press) to panel shown"
"$latency" --keys "$panel" 50 | tail -n 1
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
echo "CPU: median $(median "$work/cpu") ticks/s of $ticks, total $(((previous - first) * 1000 / ticks)) ms over $idle_seconds s"
echo "RSS: median $(median "$work/rss") kB, max $(sort -n "$work/rss" | tail -n 1) kB"

echo "== for comparison, the app's share: selection told through a file to panel shown"
end_processes TERM "$pid"
pid=""
SCRIVLET_X11_SELECTION_FILE="$work/selection" start_app
xdotool windowactivate --sync "$dolphin_window"
echo "$work/files/report.txt" >"$work/selection"
wait_for "the panel" panel_shown
"$latency" --selection "$work/selection" "$work/files/report.txt" "$(panel_window)" 50 | tail -n 1
echo "load average at the end: $(cut -d ' ' -f 1-3 /proc/loadavg)"
