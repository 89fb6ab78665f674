#!/usr/bin/env bash
# Selection to panel shown at three folder sizes, with Dolphin's real selection read through
# the accessibility bus on an X11 session of its own (headless): for folders of 200, 2,000 and
# 10,000 items, the median and p99 over 50 key presses that each select one file (Left and
# Right in turn, after Escape), and the longest the app's main thread was held meanwhile (the
# app's stall meter, SCRIVLET_STALL_FILE). Dolphin runs with the build's plug-ins, which count
# its selection for the app; with WITHOUT_PLUGINS=1 it runs without them, and the app reads
# every item's state instead.
# Usage: [WITHOUT_PLUGINS=1] bench/x11-folder-sizes.sh [BUILD_DIR] [SAMPLES] [SIZES...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath "${1:-$root/build/default}")"
samples="${2:-50}"
shift $(($# > 2 ? 2 : $#))
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(200 2000 10000)
work=$(mktemp -d)
pid=""
dolphin_pid=""

fail() {
    echo "x11-folder-sizes: $*" >&2
    cat "$work/log" >&2 2>/dev/null || true
    exit 1
}

# shellcheck source=../tests/support/x11-session.sh
. "$root/tests/support/x11-session.sh"
# shellcheck source=../tests/support/x11-test.sh
. "$root/tests/support/x11-test.sh"
trap 'end_x11_test TERM $pid $dolphin_pid' EXIT

start_bench_session "$build"
wall_ms() { date +%s%3N; }

# The stall's own processor time: the thread at work (high) or not run by a loaded machine (low).
printf '%-8s %12s %12s %12s %12s\n' items "median ms" "p99 ms" "stall ms" "of it ran ms"
for size in "${sizes[@]}"; do
    folder="$work/files/size$size"
    mkdir -p "$folder"
    (cd "$folder" && seq -w 1 "$size" | sed 's/^/item/; s/$/.txt/' | xargs touch)
    middle="item$(seq -w 1 "$size" | sed -n "$((size / 2))p").txt"
    if [ "${WITHOUT_PLUGINS:-0}" = 1 ]; then
        start_file_manager "$folder"
    else
        QT_PLUGIN_PATH="$build/Scrivlet.app/Contents/PlugIns/qt5" start_file_manager "$folder"
    fi
    : >"$work/stalls"
    SCRIVLET_STALL_FILE="$work/stalls" start_app
    xdotool windowactivate --sync "$dolphin_window"
    file_manager_select "$folder/$middle"
    wait_for "the panel" panel_shown
    from=$(wall_ms)
    "$latency" --keys "$(panel_window)" "$samples" >"$work/samples" || fail "the samples at $size items"
    to=$(wall_ms)
    read -r stall ran < <(awk -v from="$from" -v to="$to" '$1 >= from && $1 <= to && $2 > max {
        max = $2; ran = $3 } END { printf "%.1f %.1f\n", max, ran }' "$work/stalls")
    # "median M ms, p99 P ms over N samples"
    read -r median p99 < <(tail -n 1 "$work/samples" | awk '{ print $2, $5 }')
    printf '%-8s %12s %12s %12s %12s\n' "$size" "$median" "$p99" "$stall" "$ran"
    end_processes TERM "$pid" "$dolphin_pid"
    pid=""
    dolphin_pid=""
done
echo "load average at the end: $(cut -d ' ' -f 1-3 /proc/loadavg)"
