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
# Skips (exit 77) when the session's programs are not installed.
set -euo pipefail
probe="$1"
latency_runs=0
if [ "${2:-}" = "--latency" ]; then
    latency_runs="${3:-50}"
fi
work=$(mktemp -d)
out="$work/probe.out"
probe_pid=""
dolphin_pid=""

fail() {
    echo "FAILED: $*"
    echo "--- probe:"
    cat "$out" "$work/probe.err" 2>/dev/null || true
    exit 1
}

# shellcheck source=../support/x11-session.sh
. "$(dirname "$0")/../support/x11-session.sh"
# shellcheck source=../support/x11-test.sh
. "$(dirname "$0")/../support/x11-test.sh"
trap 'end_x11_test KILL $probe_pid $dolphin_pid' EXIT
skip_without_x11_session
# shellcheck disable=SC2119  # no tray: the probe shows none
start_x11_session
docs="$HOME/docs"

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

start_probe() { # extra arguments
    : >"$out"
    consumed=0
    "$probe" --pid "$dolphin_pid" "$@" >"$out" 2>"$work/probe.err" &
    probe_pid=$!
}

# The probe ends cleanly on SIGTERM (under the sanitizers: with nothing leaked).
stop_probe() {
    local status=0
    kill -TERM "$probe_pid"
    wait "$probe_pid" || status=$?
    probe_pid=""
    [ "$status" -eq 0 ] || fail "the probe ended with status $status"
}

start_file_manager "$docs"
start_probe # which starts the accessibility bus: Dolphin ran before it came on
expect_selection none 15

file_manager_select "$docs/alpha.txt"
expect_selection "$docs/alpha.txt"
file_manager_select "$docs/alpha.txt" "$docs/beta.txt"
expect_selection none
file_manager_select "$docs/beta.txt"
expect_selection "$docs/beta.txt"
xdotool key ctrl+a
expect_selection none
file_manager_select "$docs/gamma file.md"
expect_selection "$docs/gamma file.md"
xdotool key Escape
expect_selection none
# Cleared again at once, before Dolphin's status bar showed the selection: the status bar
# ends with the text it had, and nothing tells of the change but a later look.
sleep 0.5
xdotool key Left
expect_selection "$docs/beta.txt"
xdotool key Escape
expect_selection none 3
file_manager_select "$docs/sub/inner.txt"
expect_selection "$docs/sub/inner.txt"
grep -q "Started the accessibility bus, accessibility on" "$work/probe.err" ||
    fail "the probe did not start the accessibility bus itself"
echo "ok: one, two, select-all, clear (also at once), another folder, before accessibility came on"

stop_probe

# A Dolphin started after the app made accessibility on, its title the full path.
dbus-send --session --type=method_call --dest="org.kde.dolphin-$dolphin_pid" /dolphin/Dolphin_1 \
    org.kde.dolphin.MainWindow.quit
sed -i 's/ShowFullPathInTitlebar=false/ShowFullPathInTitlebar=true/' "$HOME/.config/dolphinrc"
start_file_manager "$docs"
start_probe --scans
expect_selection none 15
file_manager_select "$docs/beta.txt"
expect_selection "$docs/beta.txt"
file_manager_select "$docs/sub/inner.txt"
expect_selection "$docs/sub/inner.txt"
echo "ok: a Dolphin started after accessibility came on, full path in its title"

if [ "$latency_runs" -gt 0 ]; then
    # Keyboard selections back and forth between two neighbours in the icon view.
    file_manager_select "$docs/alpha.txt"
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
    file_manager_select "$HOME/many/file100.txt"
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
