#!/usr/bin/env bash
# The app on an X11 desktop, headless: a session of its own (Xvfb, openbox, a session bus with
# a stand-in tray) with Dolphin on a folder of sample files, and a screenshot of each moment
# saved into a folder so a person can look: the panel beside Dolphin for the selected file,
# a rating and a note entered, the panel following the moved window, hiding behind another
# application and coming back. Files are selected in Dolphin with the keyboard; the app reads
# Dolphin's selection through the accessibility bus. The tray's menu is saved as text (a bare
# X server draws no tray).
# Usage: tools/dev/x11-demo.sh [OUTPUT-FOLDER]   (default: build/x11-demo; build first)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
out="$(realpath -m "${1:-$root/build/x11-demo}")"
app="$root/build/default/Scrivlet.app/Contents/MacOS/Scrivlet"
tray_host="$root/build/default/tests/support/tray-host"
work=$(mktemp -d)
pid=""
dolphin_pid=""
dolphin_window=""
other_pid=""

fail() {
    echo "x11-demo: $*" >&2
    cat "$work/log" >&2 2>/dev/null || true
    exit 1
}

# shellcheck source=../../tests/support/x11-session.sh
. "$root/tests/support/x11-session.sh"

cleanup() {
    for running in $pid $dolphin_pid $other_pid; do
        kill -TERM "$running" 2>/dev/null || true
        wait "$running" 2>/dev/null || true
    done
    stop_x11_session
    rm -rf "$work"
}
trap cleanup EXIT

if [ ! -x "$app" ] || [ ! -x "$tray_host" ]; then
    fail "build first: cmake --build --preset default --target Scrivlet tray-host"
fi
missing_programs=$(x11_session_missing xmessage import)
[ -z "$missing_programs" ] || fail "not installed: $missing_programs (see tools/dev/install-deps.sh)"
mkdir -p "$out"
rm -f "$out"/*.png

shot=0
screenshot() { # name: what the moment shows
    sleep 0.4 # the panel's fade lasts 0.15 s; let everything settle
    shot=$((shot + 1))
    local file
    file="$out/$(printf '%02d' "$shot")-$1.png"
    import -window root "$file"
    echo "saved $file"
}
panel_window() { xdotool search --pid "$pid" --onlyvisible --name '^Annotation$' 2>/dev/null; }
panel_shown() { [ -n "$(panel_window)" ]; }
panel_hidden() { [ -z "$(panel_window)" ]; }

start_x11_session "$tray_host"
"$root/tools/install.sh" "$root/build/default/Scrivlet.app" >"$work/install.log" 2>&1 ||
    fail "install failed: $(cat "$work/install.log")"
app="$HOME/Applications/Scrivlet.app/Contents/MacOS/Scrivlet"
for name in "Quarterly report.txt" "Budget 2027.ods" "Team photo.jpg" "Notes.md"; do
    echo "sample" >"$work/files/$name"
done

start_file_manager "$work/files"
screenshot dolphin

SCRIVLET_LOG_TO_STDERR=1 "$app" --desktop=x11 >/dev/null 2>"$work/log" &
pid=$!
wait_for "the app's start" grep -qsF "Ready." "$work/log"

# Dolphin selects the file typed from the keyboard, by the start of its name.
xdotool windowactivate --sync "$dolphin_window"
xdotool type --delay 40 "Bud"
wait_for "the panel" panel_shown
screenshot panel-beside-dolphin

read -r px py pw _ <<<"$(geometry_of "$(panel_window)")"
# The fourth star, then the note.
xdotool mousemove $((px + 90)) $((py + 155)) click 1
xdotool mousemove $((px + pw / 2)) $((py + 430)) click 1
xdotool type --delay 20 "Numbers checked against the ledger."
screenshot rating-and-note

xdotool windowactivate --sync "$dolphin_window"
xdotool windowmove "$dolphin_window" 40 60
screenshot panel-follows-window

start_other_application +700+500 "Another application in front"
wait_for "the other application in front" other_in_front
wait_for "the panel hidden" panel_hidden
screenshot other-application-in-front

xdotool windowactivate "$dolphin_window"
wait_for "the panel back" panel_shown
screenshot back-to-dolphin

tray menu "$work/tray" >"$out/tray-menu.txt"
echo "saved $out/tray-menu.txt"
