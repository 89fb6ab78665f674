#!/usr/bin/env bash
# A tour of the real system, headless: a private X11 session (Xvfb, openbox, a session bus with
# a stand-in tray, the accessibility bus the app starts) with Dolphin on a folder of sample
# files, the Dolphin plug-ins loaded from the build (on the plug-in path of this session only),
# and the app installed in the session's home. Each moment is checked, then saved as a
# screenshot; a contact sheet of all of them closes the tour. The checks read what a person
# sees from where it is decided: window geometry from the X server, records from the store,
# emblems and menu items from the plug-ins' own trace of their answers to Dolphin.
#
# Usage: tools/dev/tour.sh [--build DIR] [OUTPUT-FOLDER]
#   DIR: the build tree (default build/default); OUTPUT-FOLDER: default build/tour.
#   tools/dev/tour.sh --display    the app and Dolphin (with the build's plug-ins) on the X11
#                                  display already running, for a person to try; the build is
#                                  installed first with tools/install.sh. Ctrl-C ends both.
# Exits 77 when the session's programs are not installed.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build/default"
on_display=""
out=""
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build="$(realpath -m "$2")" && shift 2 ;;
    --display) on_display=yes && shift ;;
    -*) echo "usage: tools/dev/tour.sh [--build DIR] [--display] [OUTPUT-FOLDER]" >&2 && exit 2 ;;
    *) out="$1" && shift ;;
    esac
done
out="$(realpath -m "${out:-$root/build/tour}")"
bundle="$build/Scrivlet.app"
plugins="$bundle/Contents/PlugIns/qt5"
tray_host="$build/tests/support/tray-host"
edit="$build/tests/store-edit"
work=$(mktemp -d)
pid=""
dolphin_pid=""
dolphin_window=""
other_pid=""

fail() {
    echo "tour: $*" >&2
    [ -z "${DISPLAY:-}" ] || import -window root "$out/failed.png" 2>/dev/null || true
    echo "--- app log:" >&2
    cat "$work/log" >&2 2>/dev/null || true
    echo "--- plug-in trace:" >&2
    tail -n 20 "$work/trace" >&2 2>/dev/null || true
    echo "--- file manager log:" >&2
    tail -n 20 "$work/dolphin.log" >&2 2>/dev/null || true
    exit 1
}

# shellcheck source=../../tests/support/x11-session.sh
. "$root/tests/support/x11-session.sh"
# shellcheck source=../../tests/support/x11-test.sh
. "$root/tests/support/x11-test.sh"
trap 'end_x11_test TERM $pid $dolphin_pid $other_pid' EXIT

for built in "$bundle/Contents/MacOS/Scrivlet" "$tray_host" "$edit"; do
    [ -x "$built" ] || fail "build first (cmake --build --preset default): no $built"
done
[ -d "$plugins/kf5" ] || fail "the build has no Dolphin plug-ins in $plugins"

sample_files() { # folder: the files the tour shows, in Dolphin's order by name
    mkdir -p "$1"
    for name in "Budget 2027.ods" "Notes.md" "Quarterly report.txt" "Team photo.jpg"; do
        echo "sample" >"$1/$name"
    done
}

# --display: no tour, the real thing on the person's own desktop and store.
if [ -n "$on_display" ]; then
    if [ -z "${DISPLAY:-}" ]; then
        echo "tour: --display needs an X11 display (DISPLAY is not set)" >&2
        exit 1
    fi
    # Run from elsewhere the app only offers to be moved: it runs installed, as a user has it.
    "$root/tools/install.sh" "$bundle" || fail "the build could not be installed"
    installed="$HOME/Applications/Scrivlet.app"
    sample_files "$out/files"
    echo "tour: Dolphin on $out/files with the build's plug-ins, and the app installed in" \
        "$installed; Ctrl-C ends both"
    # Dolphin first: the app follows the file manager it finds running at launch.
    QT_PLUGIN_PATH="$installed/Contents/PlugIns/qt5${QT_PLUGIN_PATH:+:$QT_PLUGIN_PATH}" \
        start_file_manager "$out/files"
    SCRIVLET_LOG_TO_STDERR=1 "$installed/Contents/MacOS/Scrivlet" --desktop=x11 &
    pid=$!
    wait "$pid" || true
    pid=""
    exit 0
fi

skip_without_x11_session xmessage import montage sqlite3
mkdir -p "$out"
rm -f "$out"/*.png

# --- What the tour reads -------------------------------------------------------------------

# The window manager's frame around a client window, as "left right top bottom".
frame_extents() { xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= //p' | tr -d ','; }
# Where the placement puts the panel beside Dolphin's window, as "x y width height": level
# with the top of its frame, 8 px right of it, 300 by 600 (the screen has room on the right).
expected_panel_place() {
    local dx dy dw right top
    read -r dx dy dw _ <<<"$(geometry_of "$dolphin_window")"
    read -r _ right top _ <<<"$(frame_extents "$dolphin_window")"
    echo "$((dx + dw + right + 8)) $((dy - top)) 300 600"
}
panel_placed() {
    panel_shown && [ "$(geometry_of "$(panel_window)")" = "$(expected_panel_place)" ]
}

store="$work/home/.local/share/com.scrivlet.shared/annotations.sqlite"
record_of() { # path: "rating|status|note", nothing when there is no record
    sqlite3 "$store" "SELECT rating, status, note FROM annotations WHERE path = '${1//\'/\'\'}'" \
        2>/dev/null
}
record_is() { [ "$(record_of "$1")" = "$2" ]; }

# The emblem Dolphin was told last for a file (none, annotated, flagged).
emblem_of() {
    awk -F '\t' -v path="$1" '$1 == "overlays" && $3 == path { last = $2 } END { print last }' \
        "$work/trace" 2>/dev/null
}
emblem_is() { [ "$(emblem_of "$1")" = "$2" ]; }

# --- Moments ---------------------------------------------------------------------------------

moments=()
moment() { # name, what was checked
    local file
    moments+=("$1")
    file="$out/$(printf '%02d' "${#moments[@]}")-$1.png"
    import -window root "$file"
    printf '%d %s: %s  ok\n' "${#moments[@]}" "$1" "$2"
}

start_x11_session "$tray_host"
install_app "$bundle"
files="$HOME/Documents" # URL commands take files of the home only
sample_files "$files"
report="$files/Quarterly report.txt"
budget="$files/Budget 2027.ods"
photo="$files/Team photo.jpg"
notes="$files/Notes.md"
"$edit" save "$report" reviewed "Figures agreed" >/dev/null || fail "could not annotate"
"$edit" save "$budget" flagged "Check the totals" >/dev/null || fail "could not annotate"

# Dolphin first, as after a login: the app finds it at launch and starts the accessibility
# bus, on which the running Dolphin then publishes its tree.
file_manager_preload=$(sanitizer_runtimes_of "$plugins/kf5/overlayicon/scrivlet_overlayicon.so")
QT_PLUGIN_PATH="$plugins" SCRIVLET_FILE_MANAGER_TRACE="$work/trace" start_file_manager "$files"
start_app
grep -qF "AX Observer started for Finder (PID $dolphin_pid)" "$work/log" ||
    fail "the app did not find Dolphin"
wait_for "Dolphin's accessibility tree" accessible_tree_published "$dolphin_pid"

# 1. Emblems: blue on the annotated file, orange on the flagged one, none on the others.
wait_for "the annotated file's emblem" emblem_is "$report" annotated
wait_for "the flagged file's emblem" emblem_is "$budget" flagged
wait_for "no emblem on plain files" emblem_is "$photo" none
wait_for "no emblem on plain files" emblem_is "$notes" none
moment emblems "annotated and flagged files badged, plain files not (plug-in answers)"

# 2. A file selected with the keyboard: the panel beside Dolphin, where the placement puts it.
# Every item has had its emblem asked for, so the view lists the folder: keys typed into a
# view still loading it are lost.
dolphin_keys End # Team photo.jpg
wait_for "the panel beside Dolphin" panel_placed
moment panel-beside-dolphin "Team photo.jpg selected; panel at $(expected_panel_place) (X server)"

# 3. A rating, a status and a note entered in the panel; the store has them, and the file
# its blue emblem.
read -r px py pw _ <<<"$(geometry_of "$(panel_window)")"
xdotool mousemove $((px + 90)) $((py + 153)) click 1 # the fourth star
wait_for "the rating in the store" record_is "$photo" "4|none|"
# The status list opens as a window of its own beside the panel.
app_windows() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l; }
status_list_open() { [ "$(app_windows)" -gt 1 ]; }
status_list_closed() { [ "$(app_windows)" -eq 1 ]; }
choose_next_status() { # the one below the status shown
    xdotool mousemove $((px + 75)) $((py + 214)) click 1
    wait_for "the status list" status_list_open
    xdotool key Down Return
    wait_for "the status list closed" status_list_closed
}
choose_next_status # reviewed
wait_for "the status in the store" record_is "$photo" "4|reviewed|"
xdotool mousemove $((px + pw / 2)) $((py + 430)) click 1
panel_has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$(panel_window)" ]; }
wait_for "the panel taking the keyboard for its note" panel_has_focus
xdotool type --delay 20 "Use on the team page."
wait_for "the note in the store" record_is "$photo" "4|reviewed|Use on the team page."
wait_for "the new annotation's emblem" emblem_is "$photo" annotated
moment rating-status-note "4 stars, reviewed, a note stored (store); blue emblem (plug-in)"

# 4. Flagged in the panel: the plug-in hears the change and Dolphin asks for the orange emblem.
choose_next_status # flagged
wait_for "the flag in the store" record_is "$photo" "4|flagged|Use on the team page."
wait_for "the change heard by the plug-in" traced 1 changed flagged "$photo"
wait_for "the orange emblem" emblem_is "$photo" flagged
moment flagged-orange "status flagged (store); Dolphin told the orange emblem (plug-in)"

# 5. Dolphin's window moved: the panel follows to its new place.
xdotool windowactivate --sync "$dolphin_window" >/dev/null 2>&1 || true
wait_for "Dolphin in front" active_window_of "$dolphin_pid"
xdotool windowmove "$dolphin_window" 40 60
dolphin_moved() { read -r x _ <<<"$(geometry_of "$dolphin_window")" && [ "$x" -lt 200 ]; }
wait_for "Dolphin moved" dolphin_moved
wait_for "the panel beside the moved window" panel_placed
moment panel-follows-window "panel at $(expected_panel_place) beside the moved window (X server)"

# 6. Another application in front: the panel hides.
start_other_application +900+500 "Another application in front"
wait_for "the other application in front" other_in_front
wait_for "the panel hidden" panel_hidden
moment other-application "another application active; no panel mapped (X server)"

# 7. Dolphin's context menu for the file, with the extension's items.
items_shown() { [ "$(grep -c $'^item\t' "$work/trace")" -gt "$1" ]; }
items_before=$(grep -c $'^item\t' "$work/trace" || true)
dolphin_keys Menu # for Team photo.jpg, still selected
wait_for "the extension's items in the menu" \
    traced 1 menu 1 "Edit Annotation…" "Remove Annotation"
wait_for "the menu's items drawn" items_shown "$items_before"
moment context-menu "Edit Annotation… and Remove Annotation offered (plug-in)"

# 8. "Remove Annotation" chosen: the record and the emblem go.
read -r ix iy iw ih < <(grep $'^item\tRemove Annotation\t' "$work/trace" | tail -n 1 |
    cut -f3-6 | tr '\t' ' ')
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 1
wait_for "the choice reaching the plug-in" traced 1 chose "Remove Annotation" "$photo"
wait_for "the record removed" record_is "$photo" ""
wait_for "the emblem gone" emblem_is "$photo" none
wait_for "the panel closed with the record" panel_hidden
moment annotation-removed "record gone (store); no emblem (plug-in); panel closed (X server)"

# 9. From a terminal: `scrivlet set` flags another file, and Dolphin's emblem turns orange
# through the same notice the app's own saves post.
"$HOME/Applications/Scrivlet.app/Contents/MacOS/scrivlet" set "$notes" --status flagged \
    --tag "Q3 2026" >"$work/command.log" 2>&1 || fail "scrivlet set failed: $(cat "$work/command.log")"
wait_for "the command's flag in the store" record_is "$notes" "0|flagged|"
wait_for "the change heard by the plug-in" traced 1 changed flagged "$notes"
wait_for "the orange emblem" emblem_is "$notes" flagged
moment command-line "scrivlet set --status flagged: stored (store); orange emblem (plug-in)"

sheet="$out/contact-sheet.png"
labelled=()
for index in "${!moments[@]}"; do
    number=$((index + 1))
    labelled+=(-label "$number ${moments[index]}" "$out/$(printf '%02d' "$number")-${moments[index]}.png")
done
montage "${labelled[@]}" -tile 4x -geometry 480x300+8+8 -pointsize 18 "$sheet" ||
    fail "the contact sheet could not be made"
echo "tour: ${#moments[@]} moments and a contact sheet in $out"
