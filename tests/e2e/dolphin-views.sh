#!/usr/bin/env bash
# The panel beside Dolphin across its views, panes, tabs and windows, on an X11 session of its
# own (Xvfb, openbox, a private session bus with a stand-in tray), one Dolphin and one app for
# all the cases. Each case checks which file the app showed the panel for (its debug log), that
# the panel sits beside the right window, and keeps a screenshot:
#   1. the icons, compact and details views (Ctrl+1, Ctrl+2, Ctrl+3);
#   2. split view (F3): the pane that has the focus is followed, right then left;
#   3. tabs (Ctrl+T, Ctrl+Tab): the current tab, its selection kept while it was hidden;
#   4. a second window (Ctrl+N): the one in front.
# Usage: dolphin-views.sh PATH/TO/Scrivlet PATH/TO/tray-host [SCREENSHOT-FOLDER]
# Skipped (exit 77) when the session's programs are not installed.
set -euo pipefail
app="$1"
tray_host="$2"
work=$(mktemp -d)
shots="${3:-$work/shots}"
pid=""
dolphin_pid=""
dolphin_window=""
started=$SECONDS

fail() {
    echo "FAILED: $*"
    [ -z "${DISPLAY:-}" ] || import -display "$DISPLAY" -window root "$shots/failed.png" 2>/dev/null || true
    echo "--- app log:"
    tail -n 60 "$work/log" 2>/dev/null || true
    exit 1
}

# shellcheck source=../support/x11-session.sh
. "$(dirname "$0")/../support/x11-session.sh"
# shellcheck source=../support/x11-test.sh
. "$(dirname "$0")/../support/x11-test.sh"
# shellcheck source=lib/panel-beside.sh
. "$(dirname "$0")/lib/panel-beside.sh"
trap 'end_x11_test KILL $pid $dolphin_pid' EXIT
skip_without_x11_session import
mkdir -p "$shots"

start_x11_session "$tray_host"
install_app "$(dirname "$app")/../.."
files="$work/files"
for folder in alpha beta gamma delta; do
    mkdir -p "$files/$folder"
    for n in 1 2 3; do echo "$folder $n" >"$files/$folder/${folder:0:1}$n.txt"; done
done
mkdir -p "$HOME/.config"
cat >"$HOME/.config/dolphinrc" <<'RC'
[General]
ShowFullPathInTitlebar=true
RememberOpenedTabs=false
RC

start_file_manager "$files/alpha"
xdotool windowmove --sync "$dolphin_window" 40 60
xdotool windowsize --sync "$dolphin_window" 900 600
SCRIVLET_LOG_DEBUG=1 start_app

# 1. Each view mode, with another file selected in each.
mark_log
select_until_shown "$files/alpha/a3.txt" "$dolphin_window" ctrl+1 End
expect_panel 1-icons "$files/alpha/a3.txt" "$dolphin_window"
mark_log
keys_to "$dolphin_window" ctrl+2 Home
expect_panel 1-compact "$files/alpha/a1.txt" "$dolphin_window"
mark_log
keys_to "$dolphin_window" ctrl+3 Down
expect_panel 1-details "$files/alpha/a2.txt" "$dolphin_window"

# 2. Split view: the new right pane takes the focus; it goes to another folder and a file is
# selected there; then a click on the empty part of the left pane gives that pane the focus.
keys_to "$dolphin_window" F3
go_to_folder "$dolphin_window" "$files/beta"
mark_log
keys_to "$dolphin_window" End
expect_panel 2-split-right "$files/beta/b3.txt" "$dolphin_window"
read -r dx dy dw dh <<<"$(geometry_of "$dolphin_window")"
mark_log
# Past the places panel, below the items.
xdotool mousemove $((dx + dw * 45 / 100)) $((dy + dh * 2 / 3)) click 1
wait_for "the left pane's folder in the title" title_is "$dolphin_window" "$files/alpha"
keys_to "$dolphin_window" End
expect_panel 2-split-left "$files/alpha/a3.txt" "$dolphin_window"
keys_to "$dolphin_window" F3

# 3. Tabs: a second tab on another folder; back to the first, whose selection is followed
# again, and forth. (A folder newly shown has its first item current and none selected: the
# keys below each move to another item, which selects it.)
go_to_folder "$dolphin_window" "$files/delta"
mark_log
keys_to "$dolphin_window" End
expect_panel 3-tab-first "$files/delta/d3.txt" "$dolphin_window"
keys_to "$dolphin_window" ctrl+t
go_to_folder "$dolphin_window" "$files/gamma"
mark_log
keys_to "$dolphin_window" End
expect_panel 3-tab-second "$files/gamma/g3.txt" "$dolphin_window"
mark_log
keys_to "$dolphin_window" ctrl+Tab
expect_panel 3-tab-back "$files/delta/d3.txt" "$dolphin_window"
mark_log
keys_to "$dolphin_window" ctrl+Tab
expect_panel 3-tab-forth "$files/gamma/g3.txt" "$dolphin_window"

# 4. A second window, as the file manager opens it (on the folder of the first); it goes right
# of the first. The panel follows the window in front, each with its own selection.
first_window=$dolphin_window
keys_to "$first_window" ctrl+n
other_dolphin_window() {
    local active
    active=$(xdotool getactivewindow 2>/dev/null) || return 1
    [ "$active" != "$first_window" ] && title_is "$active" "$files/gamma"
}
wait_for "a second Dolphin window in front" other_dolphin_window
second_window=$(xdotool getactivewindow)
xdotool windowmove --sync "$second_window" 640 300
xdotool windowsize --sync "$second_window" 600 500
mark_log
select_until_shown "$files/gamma/g2.txt" "$second_window" g 2
expect_panel 4-second-window "$files/gamma/g2.txt" "$second_window"
mark_log
xdotool windowactivate --sync "$first_window" 2>/dev/null
expect_panel 4-first-window "$files/gamma/g3.txt" "$first_window"
mark_log
xdotool windowactivate --sync "$second_window" 2>/dev/null
expect_panel 4-second-again "$files/gamma/g2.txt" "$second_window"

echo "all cases passed in $((SECONDS - started)) s (screenshots: $shots)"
