#!/usr/bin/env bash
# The file manager's selection in large folders, read through AT-SPI from the real Dolphin in
# a headless session of its own: a folder of 2,000 items, its items asked many at a time.
# Keyboard navigation gives the one file, Ctrl+A and Escape give none, a shift-selection gives
# none, each through the probe's report of every change; and it prints the longest the main
# thread was held at once by a look at the view (the probe's longest slice).
# Usage: large-folder.sh PATH/TO/scrivlet-atspi-probe
# Skips (exit 77) when the session's programs are not installed.
set -euo pipefail
probe="$1"
work=$(mktemp -d)
out="$work/probe.out"
probe_pid=""
dolphin_pid=""

fail() {
    echo "FAILED: $*"
    echo "--- probe:"
    tail -n 40 "$out" "$work/probe.err" 2>/dev/null || true
    exit 1
}

# shellcheck source=../support/x11-session.sh
. "$(dirname "$0")/../support/x11-session.sh"

cleanup() {
    for running in $probe_pid $dolphin_pid; do
        kill -KILL "$running" 2>/dev/null || true
        wait "$running" 2>/dev/null || true
    done
    stop_x11_session
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck disable=SC2119  # no programs beyond the session's own
missing_programs=$(x11_session_missing)
if [ -n "$missing_programs" ]; then
    echo "SKIPPED: the X11 session needs programs that are not installed: $missing_programs"
    exit 77
fi
# shellcheck disable=SC2119  # no tray: the probe shows none
start_x11_session
mkdir -p "$HOME/.config" "$HOME/large"
for i in $(seq -w 1 2000); do : >"$HOME/large/item$i.txt"; done
cat >"$HOME/.config/dolphinrc" <<'RC'
[General]
ShowFullPathInTitlebar=true
RememberOpenedTabs=false
RC

consumed=0
# Waits for a report, printed after the last one expected, that reads "selection $1".
expect_selection() { # path|none [seconds]
    local wanted="selection $1" tries=$((${2:-10} * 50)) lines index
    for _ in $(seq 1 "$tries"); do
        mapfile -t lines < <(tail -n "+$((consumed + 1))" "$out")
        for index in "${!lines[@]}"; do
            if [ "${lines[$index]#* }" = "$wanted" ]; then
                consumed=$((consumed + index + 1))
                return 0
            fi
        done
        sleep 0.02
    done
    fail "no report of '$wanted'"
}

start_file_manager "$HOME/large"
"$probe" --pid "$dolphin_pid" --scans >"$out" 2>"$work/probe.err" &
probe_pid=$!
expect_selection none 15

check_folder() { # folder
    local folder="$1" names
    mapfile -t names < <(cd "$folder" && printf '%s\n' *)
    file_manager_select "$folder/${names[999]}"
    # The keys move from the item the file manager made current: wait until it has.
    expect_selection "$folder/${names[999]}" 20
    xdotool key Right
    expect_selection "$folder/${names[1000]}" 20
    xdotool key ctrl+a
    expect_selection none
    xdotool key Escape
    xdotool key Left
    expect_selection "$folder/${names[999]}" 20
    xdotool key shift+Left
    expect_selection none
    # Nothing else is reported once the selection of two has settled in the status bar.
    sleep 1
    if tail -n "+$((consumed + 1))" "$out" | grep -q " selection /"; then
        fail "a file was reported while two were selected"
    fi
    xdotool key Escape
    sleep 0.6
    xdotool key Left
    expect_selection "$folder/${names[997]}" 20
    xdotool key Escape
    expect_selection none 5
}

check_folder "$HOME/large"
echo "ok: 2,000 items: keyboard, select-all, clear, shift-selection"
longest=$(awk '/ scan / { split($7, s, "="); if (s[2] > max) max = s[2] } END { printf "%.1f", max * 1000 }' "$out")
echo "longest slice of a look at the view: $longest ms"
