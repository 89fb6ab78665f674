#!/usr/bin/env bash
# The file manager's selection read through AT-SPI, against the real Dolphin in a headless
# session of its own. Dolphin starts before anything turns accessibility on, as it does when
# the app starts after login; a second Dolphin starts after. Checks single and multiple
# selections, select-all and clear (which send no selection event), moving to another folder
# and a name with a space, each through the probe's report of every change; the folder's name
# alone in the title, then its full path.
# With --latency N it also times N keyboard selections, from the key press to the report of
# the right path, and the scan of a folder of 200 files.
# Usage: atspi-selection.sh PATH/TO/scrivlet-atspi-probe [--latency N]
# Skips (exit 77) when the desktop programs are not installed.
set -euo pipefail
script_dir=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib/headless-session.sh
. "$script_dir/lib/headless-session.sh"

if ! in_headless_session; then
    require_programs dolphin xdotool
    run_in_headless_session "$0" "$@"
fi

probe="$1"
latency_runs=0
if [ "${2:-}" = "--latency" ]; then
    latency_runs="${3:-50}"
fi
work="$HEADLESS_SESSION_WORK"
docs="$HOME/docs"
out="$work/probe.out"
pids=()
dolphin=""

cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*"
    echo "--- probe:"
    cat "$out" "$work/probe.err" 2>/dev/null || true
    exit 1
}

mkdir -p "$docs/sub" "$HOME/.config"
for name in alpha.txt beta.txt "gamma file.md"; do
    echo "$name" >"$docs/$name"
done
echo inner >"$docs/sub/inner.txt"
# The title holds the folder's name only (the default): the folder is rebuilt and confirmed.
cat >"$HOME/.config/dolphinrc" <<'RC'
[General]
ShowFullPathInTitlebar=false
RememberOpenedTabs=false
RC

openbox >/dev/null 2>&1 &
pids+=($!)

start_dolphin() {
    dolphin --new-window "$docs" >"$work/dolphin.log" 2>&1 &
    dolphin=$!
    pids+=("$dolphin")
    wait_for_bus_name "org.kde.dolphin-$dolphin" 30 || fail "Dolphin did not start"
}

probe_pid=""
start_probe() { # extra arguments
    : >"$out"
    consumed=0
    "$probe" --pid "$dolphin" "$@" >"$out" 2>"$work/probe.err" &
    probe_pid=$!
    pids+=("$probe_pid")
}

# The probe ends cleanly on SIGTERM (under the sanitizers: with nothing leaked).
stop_probe() {
    local status=0
    kill -TERM "$probe_pid"
    wait "$probe_pid" || status=$?
    [ "$status" -eq 0 ] || fail "the probe ended with status $status"
}

# Dolphin selects the given files (and shows their folder) as when asked to show them.
select_files() { # path...
    local urls=""
    for path in "$@"; do
        urls="${urls:+$urls,}file://${path// /%20}"
    done
    dbus-send --session --type=method_call --dest="org.kde.dolphin-$dolphin" /dolphin/Dolphin_1 \
        org.kde.dolphin.MainWindow.openFiles "array:string:$urls" boolean:false
}

consumed=0
last_line=""
# Waits for a report, printed after the last one expected, that reads "selection $1".
expect_selection() { # path|none [seconds]
    local wanted="selection $1" tries=$((${2:-10} * 50)) lines index
    for _ in $(seq 1 "$tries"); do
        mapfile -t lines < <(tail -n "+$((consumed + 1))" "$out")
        for index in "${!lines[@]}"; do
            if [ "${lines[$index]#* }" = "$wanted" ]; then
                consumed=$((consumed + index + 1))
                last_line="${lines[$index]}"
                return 0
            fi
        done
        sleep 0.02
    done
    fail "no report of '$wanted'"
}

start_dolphin
sleep 1 # its window mapped and its view filled, before accessibility comes on
start_probe
expect_selection none 15

select_files "$docs/alpha.txt"
expect_selection "$docs/alpha.txt"
select_files "$docs/alpha.txt" "$docs/beta.txt"
expect_selection none
select_files "$docs/beta.txt"
expect_selection "$docs/beta.txt"
xdotool key ctrl+a
expect_selection none
select_files "$docs/gamma file.md"
expect_selection "$docs/gamma file.md"
xdotool key Escape
expect_selection none
select_files "$docs/sub/inner.txt"
expect_selection "$docs/sub/inner.txt"
grep -q "Started the accessibility bus, accessibility on" "$work/probe.err" ||
    fail "the probe did not start the accessibility bus itself"
echo "ok: one, two, select-all, clear, another folder, before accessibility came on"

stop_probe

# A Dolphin started after the app made accessibility on, its title the full path.
dbus-send --session --type=method_call --dest="org.kde.dolphin-$dolphin" /dolphin/Dolphin_1 \
    org.kde.dolphin.MainWindow.quit
sed -i 's/ShowFullPathInTitlebar=false/ShowFullPathInTitlebar=true/' "$HOME/.config/dolphinrc"
start_dolphin
start_probe --scans
expect_selection none 15
select_files "$docs/beta.txt"
expect_selection "$docs/beta.txt"
select_files "$docs/sub/inner.txt"
expect_selection "$docs/sub/inner.txt"
echo "ok: a Dolphin started after accessibility came on, full path in its title"

if [ "$latency_runs" -gt 0 ]; then
    # Keyboard selections back and forth between two neighbours in the icon view.
    select_files "$docs/alpha.txt"
    expect_selection "$docs/alpha.txt"
    samples=()
    reports_before=$(grep -c " selection " "$out")
    for run in $(seq 1 "$latency_runs"); do
        if [ $((run % 2)) -eq 1 ]; then key=Right want="$docs/beta.txt"; else key=Left want="$docs/alpha.txt"; fi
        pressed=$(date +%s%3N)
        xdotool key "$key"
        expect_selection "$want"
        samples+=($((${last_line%% *} - pressed)))
    done
    mapfile -t sorted < <(printf '%s\n' "${samples[@]}" | sort -n)
    count=${#sorted[@]}
    p99_index=$(((count * 99 + 99) / 100 - 1))
    sleep 0.3
    reports=$(($(grep -c " selection " "$out") - reports_before))
    echo "key press to report: median ${sorted[$((count / 2))]} ms, p99 ${sorted[$p99_index]} ms," \
        "max ${sorted[$((count - 1))]} ms over $count selections; $reports reports"

    mkdir -p "$HOME/many"
    for i in $(seq -w 1 200); do
        : >"$HOME/many/file$i.txt"
    done
    select_files "$HOME/many/file100.txt"
    expect_selection "$HOME/many/file100.txt"
    for _ in 1 2 3 4 5; do
        xdotool key Right
        sleep 0.4
    done
    grep -E "scan cells=200 read=200" "$out" | awk '{
        split($6, cell, "="); split($5, all, "=");
        sum += cell[2]; whole += all[2]; n++
    } END { if (n) printf "scan of 200 items: %.3f ms per item, %.1f ms per rescan (%d scans)\n",
        sum / n / 200 * 1000, whole / n * 1000, n }'
fi
stop_probe
