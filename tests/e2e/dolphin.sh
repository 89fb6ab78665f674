#!/usr/bin/env bash
# The extension inside the real KDE file manager, on a private X server (Xvfb with openbox),
# a private session bus and a temporary home; the file manager loads the plug-ins from the
# build's app bundle through QT_PLUGIN_PATH. What the plug-ins told the file manager is read
# from their trace; screenshots of each step are kept for a person to look at.
#   1. A folder with an annotated, a flagged and a plain file shows the right emblems.
#   2. A flagged save (store write and badge notice, as the panel does it) turns the file's
#      emblem with one change signal, and the file manager asks for the new emblem.
#   3. "Remove Annotation", chosen in the file manager's context menu where the plug-in's item
#      shows, reaches the running app, which removes the record; the emblem goes. With no app
#      running, "Annotate This File…" starts the app, which annotates the file.
#   4. The file manager quits cleanly with the plug-ins loaded.
# Usage: dolphin.sh PATH/TO/Scrivlet PATH/TO/store-edit PATH/TO/PlugIns/qt5 [SCREENSHOT-FOLDER]
# Exits 77 (skipped) when Xvfb, openbox, dbus-daemon, xdotool or the file manager is missing.
# With plug-ins built under the sanitizers, their runtimes are preloaded into the file manager.
set -euo pipefail
app=$(readlink -f "$1")
edit=$(readlink -f "$2")
plugins=$(readlink -f "$3")
skip=77

for tool in Xvfb openbox dbus-daemon xdotool xprop dolphin sqlite3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool is not installed (the file manager test needs Xvfb, openbox, xprop," \
            "dbus-daemon, xdotool, sqlite3 and dolphin)"
        exit "$skip"
    fi
done

work=$(mktemp -d)
home="$work/home"
docs="$home/Documents"
trace="$work/trace"
shots="${4:-$work/shots}"
app_pid=""
dolphin_pid=""
passed=0
mkdir -p "$shots"

fail() {
    echo "FAILED: $*"
    echo "--- trace:"; tail -n 30 "$trace" 2>/dev/null || true
    echo "--- app log:"; tail -n 20 "$work/app.log" 2>/dev/null || true
    echo "--- file manager log:"; tail -n 20 "$work/dolphin.log" 2>/dev/null || true
    exit 1
}

# shellcheck source=../support/x11-session.sh
. "$(dirname "$0")/../support/x11-session.sh"
# shellcheck source=../support/x11-test.sh
. "$(dirname "$0")/../support/x11-test.sh"
# shellcheck source=lib/app-processes.sh
. "$(dirname "$0")/lib/app-processes.sh"
# What the session does not end itself (the apps the menu starts are the session's).
trap 'end_x11_test KILL $app_pid $dolphin_pid' EXIT

# shellcheck disable=SC2119  # no tray: the test reads none
x11_screen_size=1280x800x24 start_x11_session
# The system's data folders stay readable, since the file manager needs their MIME types and
# icons.
export XDG_STATE_HOME="$home/.local/state" XDG_DATA_DIRS=/usr/local/share:/usr/share \
    XDG_CONFIG_DIRS=/etc/xdg SCRIVLET_LOG_TO_STDERR=1
unset SCRIVLET_CONTAINER
mkdir -p "$docs" "$home/.config"

annotated="$docs/annotated.txt"
flagged="$docs/flagged.txt"
plain="$docs/plain.txt"
for file in "$annotated" "$flagged" "$plain"; do printf "%s\n" "${file##*/}" >"$file"; done
"$edit" save "$annotated" reviewed "Read it" >/dev/null || fail "could not save a record"
"$edit" save "$flagged" flagged "Check the figures" >/dev/null || fail "could not save a record"

# The app, as the user runs it.
"$app" >"$work/app.out" 2>"$work/app.log" &
app_pid=$!
wait_until 100 grep -qF "Ready. Listening" "$work/app.log" || fail "the app did not start"

# 1. The folder shown: each file's emblem as the plug-in answered it.
# Plug-ins built with the sanitizers need their runtimes loaded first in the file manager,
# which is not built with them.
file_manager_preload=$(sanitizer_runtimes_of "$plugins/kf5/overlayicon/scrivlet_overlayicon.so")
QT_PLUGIN_PATH="$plugins" SCRIVLET_FILE_MANAGER_TRACE="$trace" start_file_manager "$docs"
wait_until 300 traced 1 overlays annotated "$annotated" || fail "no emblem for the annotated file"
wait_until 50 traced 1 overlays flagged "$flagged" || fail "no flagged emblem"
wait_until 50 traced 1 overlays none "$plain" || fail "the plain file was not asked or got an emblem"
for file in "$docs"/*.txt; do
    [ "$(grep -c $'^overlays\t[a-z]*\t'"$file\$" "$trace")" -ge 1 ] || fail "never asked: $file"
done
sleep 1
screenshot 1-emblems
ok "the folder shows the annotated, flagged and plain files with their emblems"

# 2. A flagged save turns the emblem: one change signal, then the file manager asks again.
asked=$(traced_count overlays flagged "$annotated")
"$edit" save "$annotated" flagged "Now flagged" >/dev/null || fail "could not save"
wait_until 50 traced 1 changed flagged "$annotated" || fail "no change signal for the flagged save"
wait_until 50 traced $((asked + 1)) overlays flagged "$annotated" ||
    fail "the file manager did not ask for the new emblem"
[ "$(traced_count changed flagged "$annotated")" -eq 1 ] || fail "more than one change signal"
sleep 0.5
screenshot 2-flagged
ok "a flagged save turns the emblem with one change signal"

# The file manager's main window, titled after the folder it shows; looked up each time, since
# its popups share its class and come and go.
main_window() {
    local id
    for id in $(xdotool search --onlyvisible --class dolphin 2>/dev/null || true); do
        case "$(xdotool getwindowname "$id" 2>/dev/null)" in
        *Dolphin) echo "$id" && return 0 ;;
        esac
    done
    echo "FAILED: the file manager shows no main window" >&2
    return 1
}
item_lines() { grep -c $'^item\t' "$trace" || true; }
more_items_than() { [ "$(item_lines)" -gt "$1" ]; }
# Chooses a context-menu item of one file: selects the file by typing its name in the view,
# opens the menu from the keyboard, and clicks where the plug-in's item shows.
choose_in_menu() { # screenshot-name file item expected-items...
    local shot=$1 file=$2 item=$3 x y w h window
    shift 3
    window=$(main_window)
    xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
    xdotool key --window "$window" Escape
    xdotool type --window "$window" --delay 50 "$(basename "$file")"
    sleep 0.5
    local before
    before=$(item_lines)
    xdotool key --window "$window" Menu
    wait_until 50 traced 1 menu 1 "$@" || fail "the menu of $file did not offer: $*"
    wait_until 50 more_items_than "$before" || fail "the menu's items never showed"
    screenshot "$shot"
    read -r x y w h < <(grep $'^item\t'"$item"$'\t' "$trace" | tail -n 1 | cut -f3-6 | tr '\t' ' ')
    [ -n "$h" ] || fail "no item $item in the menu"
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
    wait_until 50 traced 1 chose "$item" "$file" || fail "$item was not chosen"
}

# 3. "Remove Annotation" from the context menu of the flagged file reaches the running app.
choose_in_menu 3-menu "$flagged" "Remove Annotation" "Edit Annotation…" "Remove Annotation"
wait_until 100 test "$(records_of "$flagged")" = 0 || fail "the app did not remove the record"
wait_until 50 traced 1 changed none "$flagged" || fail "no change signal for the removal"
wait_until 50 traced 1 overlays none "$flagged" || fail "the emblem of the removed record stayed"
sleep 0.5
screenshot 4-removed
ok "Remove Annotation from the context menu reaches the app; record and emblem are gone"

# 3b. With no app running, a command from the menu starts the app, which carries it out.
for pid in $(app_pids); do kill -TERM "$pid"; done
# The app saves and lets go of its desktop before it ends; on a loaded machine that takes
# a while, hence the session's wall-clock wait.
no_app_runs() { test -z "$(app_pids)"; }
wait_for "the app's end" no_app_runs
choose_in_menu 5-menu "$plain" "Annotate This File…" "Annotate This File…"
wait_until 100 test -n "$(app_pids)" || fail "the command did not start the app"
wait_until 100 test "$(records_of "$plain")" = 1 || fail "the started app did not annotate"
wait_until 50 traced 1 overlays annotated "$plain" || fail "the new annotation got no emblem"
sleep 0.5
screenshot 6-annotated
ok "with no app running, a command from the menu starts it and it annotates the file"

# 4. Quitting the file manager with the plug-ins loaded ends it cleanly.
window=$(main_window)
xdotool windowactivate --sync "$window" 2>/dev/null || true
# The window can go between the key's press and its release, which xdotool reports as an
# error; whether the file manager quit is checked below.
xdotool key --window "$window" ctrl+q 2>/dev/null || true
gone() { ! kill -0 "$1" 2>/dev/null; }
wait_until 100 gone "$dolphin_pid" || fail "the file manager did not quit"
status=0
wait "$dolphin_pid" || status=$?
[ "$status" -eq 0 ] || fail "the file manager ended with status $status"
ok "the file manager quits cleanly with the plug-ins loaded"

echo "$passed passed, 0 failed (screenshots: $shots)"
