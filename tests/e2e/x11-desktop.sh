#!/usr/bin/env bash
# The app on a real X11 session: a headless X server with openbox, a private session bus with
# a stand-in tray, and Dolphin on a temporary folder. Checks that the app refuses to start
# without a display; finds Dolphin running before it (and, starting the accessibility bus,
# reads that Dolphin's selection); shows the panel beside Dolphin's window for the one file
# selected with the keyboard, which leaves the focus with Dolphin, stores a note typed into
# it, follows the window when it moves, hides when another application comes to the front and
# comes back with Dolphin, and stays closed from its close button until the next selection;
# sees Dolphin quit and start again and reads the new one's selection; brings Dolphin forward
# for a URL command; shows its menu in the tray and quits from it.
# Keys go to Dolphin only once its view lists the folder, text to the panel only once it has
# the keyboard focus: typed earlier, they are lost.
# Skipped (exit 77) when the session's programs are not installed.
# Usage: x11-desktop.sh PATH/TO/Scrivlet PATH/TO/tray-host PATH/TO/scrivlet-atspi-probe
set -euo pipefail
app="$1"
tray_host="$2"
probe="$3"
work=$(mktemp -d)
pid=""
dolphin_pid=""
dolphin_window=""
other_pid=""

fail() {
    echo "FAILED: $*"
    echo "--- app log:"
    cat "$work/log" 2>/dev/null || true
    exit 1
}

# shellcheck source=../support/x11-session.sh
. "$(dirname "$0")/../support/x11-session.sh"
# shellcheck source=../support/x11-test.sh
. "$(dirname "$0")/../support/x11-test.sh"
# shellcheck source=lib/panel-beside.sh
. "$(dirname "$0")/lib/panel-beside.sh"
trap 'end_x11_test KILL $pid $dolphin_pid $other_pid' EXIT
skip_without_x11_session xmessage sqlite3

# 1. No display: one clear line, a non-zero status.
status=0
env -u DISPLAY HOME="$work" XDG_RUNTIME_DIR="$work" "$app" --desktop=x11 >"$work/out" \
    2>"$work/err" || status=$?
if [ "$status" -eq 0 ] || [ "$(wc -l <"$work/err")" -ne 1 ] || ! grep -q "X11 display" "$work/err"
then
    fail "without a display: status $status, said: $(cat "$work/err")"
fi
status=0
env DISPLAY=:none HOME="$work" XDG_RUNTIME_DIR="$work" SCRIVLET_DESKTOP=x11 "$app" \
    >"$work/out" 2>"$work/err" || status=$?
if [ "$status" -eq 0 ] || ! grep -q "cannot open the X11 display" "$work/err"; then
    fail "with an unreachable display: status $status, said: $(cat "$work/err")"
fi
echo "ok: without an X11 display the app says so in one line and exits with status $status"

start_x11_session "$tray_host"
install_app "$(dirname "$app")/../.."
# In Dolphin's view, sorted by name: notes.txt, report.txt, summary.txt.
for name in notes report summary; do
    echo "$name" >"$work/files/$name.txt"
done
start_file_manager "$work/files"

app_lines() { sed -n 's/.*com\.scrivlet:app //p' "$work/log"; }

# 2. Dolphin runs before the app, which finds it at launch. No one has turned accessibility
# on yet: the app starts the accessibility bus, and this Dolphin then publishes its tree.
start_app
logged "Scrivlet: AX Observer started for Finder (PID $dolphin_pid)" ||
    fail "the app did not find Dolphin ($dolphin_pid) at launch"
app_lines | grep -x "AX selection tracker started" >/dev/null || fail "the tracker did not start"
logged "Started the accessibility bus, accessibility on" ||
    fail "the app did not start the accessibility bus"
wait_for "Dolphin's accessible tree" accessible_tree_published "$dolphin_pid"
wait_for_view "$probe" 3
echo "ok: the app finds Dolphin that ran before it and starts the accessibility bus"

# 3. One file selected in Dolphin with the keyboard: the panel appears beside Dolphin's window.
# Right of the window: the default placement has room there.
panel_beside_dolphin() { panel_beside "$dolphin_window"; }
panel_hidden || fail "the panel showed before anything was selected"
dolphin_keys End # summary.txt
wait_for "the panel beside Dolphin" panel_beside_dolphin
active_window_of "$dolphin_pid" || fail "showing the panel took the focus from Dolphin"
echo "ok: selecting one file in Dolphin shows the panel beside its window, which keeps the focus"

# 4. A note typed into the panel is stored, for the file selected in Dolphin.
read -r px py pw _ <<<"$(geometry_of "$(panel_window)")"
xdotool mousemove $((px + pw / 2)) $((py + 430)) click 1
panel_has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$(panel_window)" ]; }
wait_for "the panel taking the keyboard for its note" panel_has_focus
xdotool type --delay 15 "Checked by hand"
store="$HOME/.local/share/com.scrivlet.shared/annotations.sqlite"
note_stored() {
    [ "$(sqlite3 "$store" "SELECT note FROM annotations WHERE path = '$work/files/summary.txt'" \
        2>/dev/null)" = "Checked by hand" ]
}
wait_for "the typed note in the store" note_stored
echo "ok: a note typed into the panel is stored for the file selected in Dolphin"

# 5. Two files selected: the panel goes; one again: it comes back.
dolphin_keys shift+Left # report.txt and summary.txt
wait_for "the panel hidden with two files selected" panel_hidden
dolphin_keys Left # notes.txt
wait_for "the panel for one file again" panel_beside_dolphin
echo "ok: the panel goes while two files are selected and comes back for one"

# 6. Dolphin's window moves: the panel follows it.
xdotool windowactivate --sync "$dolphin_window"
read -r before_x _ <<<"$(geometry_of "$(panel_window)")"
xdotool windowmove "$dolphin_window" 60 120
panel_moved() { read -r x _ <<<"$(geometry_of "$(panel_window)")" && [ "$x" != "$before_x" ]; }
wait_for "the panel moving" panel_moved
wait_for "the panel beside the moved window" panel_beside_dolphin
echo "ok: the panel follows Dolphin's window"

# 7. Another application comes to the front: the panel goes; Dolphin again: it comes back.
start_other_application +900+600 "another application"
wait_for "the other application in front" other_in_front
wait_for "the panel hidden" panel_hidden
xdotool windowactivate "$dolphin_window"
wait_for "the panel back beside Dolphin" panel_beside_dolphin
echo "ok: the panel hides behind another application and comes back with Dolphin"

# 8. The panel's close button keeps it away until the next selection.
read -r px py pw _ <<<"$(geometry_of "$(panel_window)")"
xdotool mousemove $((px + pw - 14)) $((py + 14)) click 1
wait_for "the panel closed" panel_hidden
wait_for_line "Panel dismissed by user"
# Dolphin coming to the front again, as it does behind another application, brings no panel.
wait_for "the other application in front" other_in_front
xdotool windowactivate --sync "$dolphin_window"
wait_for "Dolphin in front" active_window_of "$dolphin_pid"
sleep 0.5
panel_hidden || fail "the closed panel came back with Dolphin in front, no new selection"
dolphin_keys End # summary.txt
wait_for "the panel for the next selection" panel_beside_dolphin
echo "ok: the close button hides the panel until the next selection"

# 9. Dolphin quits and starts again after the app: the app follows it and reads the new
# Dolphin's selection.
kill -TERM "$dolphin_pid"
wait "$dolphin_pid" 2>/dev/null || true
dolphin_pid=""
wait_for_line "Finder terminated"
wait_for "the panel gone with Dolphin" panel_hidden
start_file_manager "$work/files"
wait_for_line "AX observer rebuilt after Finder relaunch"
wait_for "the new Dolphin's accessible tree" accessible_tree_published "$dolphin_pid"
wait_for_view "$probe" 3
logged "Scrivlet: AX Observer started for Finder (PID $dolphin_pid)" ||
    fail "the app did not follow the new Dolphin ($dolphin_pid)"
# Another file than the one selected when Dolphin quit: the app takes a selection only when it
# differs from the one it took last.
dolphin_keys Right # from notes.txt, current but not selected in a new window, to report.txt
wait_for "the panel beside the new Dolphin" panel_beside_dolphin
echo "ok: the app survives Dolphin quitting and reads the selection of the one started after it"

# 10. A URL command from another program, with another application in front: the app brings
# Dolphin forward and shows the panel beside it.
wait_for "the other application in front" other_in_front
echo "draft" >"$HOME/plan.txt"
"$(dirname "$app")/scrivlet-open" "scrivlet://annotate?path=$HOME/plan.txt" ||
    fail "the URL could not be opened"
wait_for_line "Opened annotation editor for plan.txt"
wait_for "Dolphin brought to the front" active_window_of "$dolphin_pid"
wait_for "the panel beside Dolphin for the URL's file" panel_beside_dolphin
echo "ok: a URL command brings Dolphin to the front with the panel beside it"

# 11. The tray shows the app's menu; "Quit Scrivlet" ends the app.
wait_for "the app's tray icon" test -s "$work/tray"
tray menu "$work/tray" >"$work/menu" || fail "the tray's menu cannot be read"
expected=$(printf 'Preferences\xe2\x80\xa6\tdisabled\nUninstall Scrivlet\xe2\x80\xa6\tenabled\nQuit Scrivlet\tenabled')
[ "$(cat "$work/menu")" = "$expected" ] || fail "the tray's menu is: $(cat "$work/menu")"
tray click "$work/tray" "Quit Scrivlet" || fail "the menu item cannot be chosen"
app_ended() { ! kill -0 "$pid" 2>/dev/null; }
wait_for "the app's end" app_ended
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "exit status $status after Quit Scrivlet"
echo "ok: the tray's menu has the app's items and Quit Scrivlet ends the app"
