#!/usr/bin/env bash
# The panel beside Dolphin on the screens a user may have, on an X11 session of its own (Xvfb
# with one wide screen, openbox, a private session bus with a stand-in tray); each case checks which file the
# app showed the panel for (its debug log) and where the panel went, and keeps a screenshot:
#   1. two monitors side by side on one wide X screen (RandR monitors), the second smaller:
#      with Dolphin on the second, the panel stays on that monitor, beside the window, slid up
#      to fit its height; with Dolphin at the right edge of the first, the panel goes to the
#      window's left rather than onto the other monitor;
#   2. HiDPI (QT_SCALE_FACTOR=2 for both programs): the panel sits beside the window and is
#      drawn at twice its size in pixels.
# Usage: dolphin-screens.sh PATH/TO/Scrivlet PATH/TO/tray-host [SCREENSHOT-FOLDER]
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
    [ -z "${DISPLAY:-}" ] || xrandr --listmonitors 2>&1 || true
    echo "--- app log:"
    tail -n 40 "$work/log" 2>/dev/null || true
    exit 1
}

# shellcheck source=../support/x11-session.sh
. "$(dirname "$0")/../support/x11-session.sh"
# shellcheck source=../support/x11-test.sh
. "$(dirname "$0")/../support/x11-test.sh"
# shellcheck source=lib/panel-beside.sh
. "$(dirname "$0")/lib/panel-beside.sh"
trap 'end_x11_test KILL $pid $dolphin_pid' EXIT
skip_without_x11_session import xrandr
mkdir -p "$shots"
files="$work/files"
# Dolphin on the files, its window moved and sized to x y width height, then the app; the panel
# shown for f3.txt beside the window, kept as a screenshot.
panel_beside_dolphin_at() { # x y width height shot
    start_file_manager "$files"
    xdotool windowmove --sync "$dolphin_window" "$1" "$2"
    xdotool windowsize --sync "$dolphin_window" "$3" "$4"
    SCRIVLET_LOG_DEBUG=1 start_app
    mark_log
    select_until_shown "$files/f3.txt" "$dolphin_window" End
    expect_panel "$5" "$files/f3.txt" "$dolphin_window"
}
# Whether the panel lies wholly inside the rectangle x y width height.
panel_inside() { # x y width height
    local px py pw ph
    read -r px py pw ph <<<"$(geometry_of "$(panel_window)")"
    [ "$px" -ge "$1" ] && [ "$py" -ge "$2" ] && [ $((px + pw)) -le $(($1 + $3)) ] &&
        [ $((py + ph)) -le $(($2 + $4)) ]
}

# A session with the app installed in its home, a folder of three files, and Dolphin on it.
x11_screen_size=2880x1000x24 start_x11_session "$tray_host"
install_app "$(dirname "$app")/../.."
mkdir -p "$files" "$HOME/.config"
for n in 1 2 3; do echo "$n" >"$files/f$n.txt"; done
printf '[General]\nShowFullPathInTitlebar=true\n' >"$HOME/.config/dolphinrc"

# 1. Two monitors: 1600x1000 at the left, 1280x800 at its right, top-aligned.
xrandr --setmonitor left 1600/423x1000/265+0+0 screen >/dev/null
xrandr --setmonitor right 1280/338x800/212+1600+0 none >/dev/null
[ "$(xrandr --listmonitors | head -n 1)" = "Monitors: 2" ] || fail "the monitors were not set"
panel_beside_dolphin_at 1700 380 560 380 6-second-monitor
panel_inside 1600 0 1280 800 || fail "the panel is not on the second monitor: $(geometry_of "$(panel_window)")"
echo "ok: on the second monitor the panel stays on it, beside the window"

before=$(geometry_of "$(panel_window)")
xdotool windowmove --sync "$dolphin_window" 1020 100
moved() { [ "$(geometry_of "$(panel_window)")" != "$before" ]; }
wait_for "the panel following the window" moved
wait_for "the panel left of the window" panel_beside "$dolphin_window" left
panel_inside 0 0 1600 1000 || fail "the panel is not on the first monitor: $(geometry_of "$(panel_window)")"
screenshot 6-first-monitor-edge
echo "ok: at the first monitor's right edge the panel goes left of the window"

# 2. HiDPI: both programs drawn at twice the size (QT_SCALE_FACTOR=2), started again on the
# same X screen, now one monitor.
end_processes KILL "$pid" "$dolphin_pid"
pid=""
dolphin_pid=""
xrandr --delmonitor left >/dev/null
xrandr --delmonitor right >/dev/null
export QT_SCALE_FACTOR=2
panel_beside_dolphin_at 40 60 1000 700 5-hidpi
# The panel is 300 units wide, drawn with two pixels to a unit: 600 pixels, not a small panel
# blown up, nor one at its unscaled size.
read -r _ _ pw ph <<<"$(geometry_of "$(panel_window)")"
[ "$pw" -eq 600 ] || fail "the panel is $pw pixels wide at a scale of 2, not 600"
echo "ok: at a scale factor of 2 the panel sits beside the window, ${pw}x$ph pixels"
echo "all cases passed in $((SECONDS - started)) s (screenshots: $shots)"
