#!/usr/bin/env bash
# The extension inside the real GTK file manager, on a private X server (Xvfb with openbox),
# a private session bus and a temporary home. The file manager loads extensions only from its
# compiled-in folder, so the test runs in a private mount namespace with the build's module
# folder mounted over that one; the emblems' icons come from the build's share folder on
# XDG_DATA_DIRS. What the module told the file manager is read from its trace; screenshots of
# each step are kept for a person to look at.
#   1. A folder with an annotated, a flagged and a plain file shows the right emblems.
#   2. A flagged save (store write and badge notice, as the panel does it) has the file manager
#      ask for the file's emblem again, once, and it answers flagged.
#   3. "Remove Annotation", chosen in the file manager's context menu, reaches the running app,
#      which removes the record; the emblem goes. With no app running, "Annotate This File…"
#      starts the app, which annotates the file.
# Usage: nautilus.sh PATH/TO/Scrivlet PATH/TO/store-edit MODULE-FOLDER ICON-DATA-FOLDER
#                    EXTENSION-FOLDER [SCREENSHOT-FOLDER]
# Exits 77 (skipped) when a tool is missing or a private mount namespace cannot be made.
set -euo pipefail
skip=77
if [ -z "${SCRIVLET_PRIVATE_MOUNTS:-}" ]; then
    if ! unshare -m --propagation private true 2>/dev/null; then
        echo "SKIPPED: no private mount namespace (unshare -m needs root or user namespaces)"
        exit "$skip"
    fi
    SCRIVLET_PRIVATE_MOUNTS=1 exec unshare -m --propagation private "$0" "$@"
fi
app=$(readlink -f "$1")
edit=$(readlink -f "$2")
module_folder=$(readlink -f "$3")
icon_data=$(readlink -f "$4")
extension_folder="$5"

for tool in Xvfb openbox dbus-daemon xdotool xprop nautilus sqlite3 import; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool is not installed (the file manager test needs Xvfb, openbox," \
            "dbus-daemon, xdotool, xprop, sqlite3, imagemagick and nautilus)"
        exit "$skip"
    fi
done
[ -d "$extension_folder" ] || { echo "SKIPPED: no folder $extension_folder"; exit "$skip"; }
# The file manager, which is not built with the sanitizers, would need their runtimes loaded
# first to take a module built with them; with them preloaded it hangs at start, in its own
# first gettext call, before any module is loaded. The module's code runs under the
# sanitizers in its unit tests (nautilus_module_tests) instead.
# grep reads to the end: with -q it could leave ldd writing into a closed pipe, and pipefail
# would take ldd's broken pipe for no match.
if ldd "$module_folder/libscrivlet-nautilus.so" | grep -E 'lib(asan|ubsan)\.so' >/dev/null; then
    echo "SKIPPED: the file manager hangs at start with the sanitizer runtimes preloaded"
    exit "$skip"
fi
# The GL renderer can hang a view on a software display; cairo draws the same. Through env,
# so that a file manager started in the background has the pid $! names.
file_manager=(env GSK_RENDERER=cairo nautilus)
mount --bind "$module_folder" "$extension_folder" ||
    { echo "SKIPPED: cannot mount over $extension_folder"; exit "$skip"; }

work=$(mktemp -d)
home="$work/home"
docs="$home/Documents"
trace="$work/trace"
shots="${6:-$work/shots}"
app_pid=""
nautilus_pid=""
passed=0
mkdir -p "$shots"

fail() {
    echo "FAILED: $*"
    screenshot failed
    echo "--- trace:"; tail -n 30 "$trace" 2>/dev/null || true
    echo "--- app log:"; tail -n 20 "$work/app.log" 2>/dev/null || true
    echo "--- file manager log:"; tail -n 20 "$work/nautilus.log" 2>/dev/null || true
    exit 1
}

# shellcheck source=../support/x11-session.sh
. "$(dirname "$0")/../support/x11-session.sh"
# shellcheck source=../support/x11-test.sh
. "$(dirname "$0")/../support/x11-test.sh"
# shellcheck source=lib/app-processes.sh
. "$(dirname "$0")/lib/app-processes.sh"
# What the session does not end itself (the apps the menu starts are the session's).
trap 'end_x11_test KILL $app_pid $nautilus_pid' EXIT

# shellcheck disable=SC2119  # no tray: the test reads none
x11_screen_size=1280x800x24 start_x11_session
# The system's data folders stay readable, since the file manager needs their MIME types and
# icons, and the build's icons come first.
export XDG_STATE_HOME="$home/.local/state" XDG_DATA_DIRS="$icon_data:/usr/local/share:/usr/share" \
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

# 1. The folder shown: each file's emblem as the module answered it.
SCRIVLET_FILE_MANAGER_TRACE="$trace" "${file_manager[@]}" --new-window "$docs" \
    >"$work/nautilus.log" 2>&1 &
nautilus_pid=$!
wait_until 300 traced 1 overlays annotated "$annotated" || fail "no emblem for the annotated file"
wait_until 50 traced 1 overlays flagged "$flagged" || fail "no flagged emblem"
wait_until 50 traced 1 overlays none "$plain" || fail "the plain file was not asked or got an emblem"
sleep 1
screenshot 1-emblems
ok "the folder shows the annotated, flagged and plain files with their emblems"

# 2. A flagged save: the file manager is told once and asks for the new emblem.
asked=$(traced_count overlays flagged "$annotated")
"$edit" save "$annotated" flagged "Now flagged" >/dev/null || fail "could not save"
wait_until 50 traced 1 changed flagged "$annotated" || fail "the module heard no change"
wait_until 50 traced $((asked + 1)) overlays flagged "$annotated" ||
    fail "the file manager did not ask for the new emblem"
[ "$(traced_count changed flagged "$annotated")" -eq 1 ] || fail "told of the change more than once"
sleep 0.5
screenshot 2-flagged
ok "a flagged save turns the emblem: the file manager asks again once"

# The file manager's window showing the documents folder, looked up each time.
main_window() {
    xdotool search --onlyvisible --name "^Documents" 2>/dev/null | head -n 1
}
# The context menu: the one large override-redirect window shown (a menu is one; a tooltip is
# small), as "X Y WIDTH HEIGHT".
menu_geometry() {
    local id info
    for id in $(xwininfo -root -children | awk '/^ +0x[0-9a-f]+ / { print $1 }'); do
        info=$(xwininfo -id "$id" 2>/dev/null) || continue
        grep -q "Override Redirect State: yes" <<<"$info" || continue
        grep -q "Map State: IsViewable" <<<"$info" || continue
        awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
             /Width:/ { w = $NF } /Height:/ { h = $NF }
             END { if (w > 100 && h > 100) print x, y, w, h }' <<<"$info"
    done | head -n 1
}
# Chooses the extension's last item in the context menu of one file: the file manager selects
# the file in its window (which asks the module for the selection's items), the menu key opens
# the menu (GTK 4 takes keys only on the focused window), and a click goes to the row above
# the menu's last section, "Properties": the extension's items end there. GTK 4's menus take
# no reliable arrow keys from a synthetic keyboard.
choose_last_item() { # screenshot-name file item expected-items...
    local shot=$1 file=$2 item=$3 window menus x y w h
    shift 3
    menus=$(traced_count menu 1 "$@")
    "${file_manager[@]}" --select "$file" >>"$work/nautilus.log" 2>&1
    wait_until 50 traced $((menus + 1)) menu 1 "$@" || fail "the selection of $file did not offer: $*"
    window=$(main_window)
    [ -n "$window" ] || fail "no window of the file manager"
    # A key sent while the window manager still hands the focus over is lost: pressed again
    # until the menu shows.
    for _ in 1 2 3 4 5; do
        xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
        xdotool key Menu
        wait_until 20 test -n "$(menu_geometry)" && break
    done
    [ -n "$(menu_geometry)" ] || fail "the context menu did not open"
    # The menu's entrance animation ends before its rows take clicks where they are drawn.
    sleep 0.5
    screenshot "$shot"
    read -r x y w h < <(menu_geometry)
    xdotool mousemove $((x + w / 2)) $((y + h - last_item_from_bottom)) click 1
    wait_until 50 traced 1 chose "$item" "$file" || fail "$item was not chosen"
}
# The row's centre above the menu's bottom edge (its shadow included), in GTK 4.8's theme.
last_item_from_bottom=94

# 3. "Remove Annotation" from the context menu of the flagged file reaches the running app.
choose_last_item 3-menu "$flagged" "Remove Annotation" "Edit Annotation…" "Remove Annotation"
wait_until 100 test "$(records_of "$flagged")" = 0 || fail "the app did not remove the record"
wait_until 50 traced 1 changed none "$flagged" || fail "the module heard no change for the removal"
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
choose_last_item 5-menu "$plain" "Annotate This File…" "Annotate This File…"
wait_until 100 test -n "$(app_pids)" || fail "the command did not start the app"
wait_until 100 test "$(records_of "$plain")" = 1 || fail "the started app did not annotate"
wait_until 50 traced 1 overlays annotated "$plain" || fail "the new annotation got no emblem"
sleep 0.5
screenshot 6-annotated
ok "with no app running, a command from the menu starts it and it annotates the file"

echo "$passed passed, 0 failed (screenshots: $shots)"
