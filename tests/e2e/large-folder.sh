#!/usr/bin/env bash
# The file manager's selection in large folders, read from the real Dolphin in a headless
# session of its own: a folder of 2,000 items. Keyboard navigation gives the one file, Ctrl+A
# and Escape give none, a shift-selection gives none, a rubber band over one item gives it and
# over two far apart none, each through the probe's report of every change; and it prints the
# longest the main thread was held by the answer of a look (the probe's longest slice).
# Dolphin runs first with the build's plug-ins, which count its selection (no item is read
# over the accessibility bus), then without them, when every item's state is read (the
# keyboard and selection cases again).
# Usage: large-folder.sh PATH/TO/scrivlet-atspi-probe [PLUG-IN FOLDER]
# Skips (exit 77) when the session's programs are not installed.
set -euo pipefail
probe="$1"
plugins="${2:+$(readlink -f "$2")}"
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
# shellcheck source=../support/x11-test.sh
. "$(dirname "$0")/../support/x11-test.sh"
trap 'end_x11_test KILL $probe_pid $dolphin_pid' EXIT
skip_without_x11_session
# shellcheck disable=SC2119  # no tray: the probe shows none
start_x11_session
mkdir -p "$HOME/.config" "$HOME/large"
for i in $(seq -w 1 2000); do : >"$HOME/large/item$i.txt"; done
cat >"$HOME/.config/dolphinrc" <<'RC'
[General]
ShowFullPathInTitlebar=true
RememberOpenedTabs=false
RC

# Dolphin on the folder (with the plug-ins in $1 when given) and the probe following it; the
# probe's reports go on in the same file.
follow_file_manager() { # [plug-in folder]
    end_processes KILL "$probe_pid" "$dolphin_pid"
    if [ -n "${1:-}" ]; then
        file_manager_preload=$(sanitizer_runtimes_of "$1/kf5/overlayicon/scrivlet_overlayicon.so")
        QT_PLUGIN_PATH="$1" start_file_manager "$HOME/large"
    else
        file_manager_preload="" start_file_manager "$HOME/large"
    fi
    pass_from=$(($(wc -l <"$out") + 1))
    consumed=$((pass_from - 1)) # nothing the last probe said counts
    "$probe" --pid "$dolphin_pid" --scans >>"$out" 2>"$work/probe.err" &
    probe_pid=$!
    expect_selection none 15
}
# Requires the looks of this pass to have counted the selection one way only: by the file
# manager's plug-in, or by reading the items (a look may also end before counting).
expect_counted_by() { # file-manager|items
    tail -n "+$pass_from" "$out" | awk -v by="counted-by=$1" '$2 == "scan" && $8 != "counted-by=nobody" {
        looks++; if ($8 != by) wrong = $0 }
        END { if (wrong != "") { print "a look counted otherwise: " wrong; exit 1 }
              if (looks == 0) { print "no look counted the selection"; exit 1 } }' ||
        fail "the selection was not counted by $1"
}

: >"$out"
if [ -n "$plugins" ]; then
    follow_file_manager "$plugins"
else
    follow_file_manager
fi

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
    if tail -n "+$((consumed + 1))" "$out" | grep " selection /" >/dev/null; then
        fail "a file was reported while two were selected"
    fi
    xdotool key Escape
    sleep 0.6
    xdotool key Left
    expect_selection "$folder/${names[997]}" 20
    xdotool key Escape
    expect_selection none 5
}

# The selected item's highlighted name, as "left top width height" on the screen: found in a
# picture of the window by the selection's colour, so that the bands below are drawn from
# where this file manager, at this machine's fonts, lays out its items.
highlight_box() {
    local wx wy ww wh box
    read -r wx wy ww wh <<<"$(geometry_of "$dolphin_window")"
    xdotool mousemove "$((wx + ww / 2))" "$((wy - 10))" # no hover highlight
    # Above the status bar, whose zoom slider has the same colour.
    box=$(import -window root -crop "${ww}x$((wh - 40))+$wx+$wy" png:- |
        convert - +repage -fuzz 5% -fill black +opaque '#2F8BC4' -format '%@' info: 2>/dev/null)
    # WxH+X+Y
    [[ "$box" =~ ^([1-9][0-9]*)x([1-9][0-9]*)\+([0-9]+)\+([0-9]+)$ ]] || return 1
    echo "$((wx + BASH_REMATCH[3])) $((wy + BASH_REMATCH[4])) ${BASH_REMATCH[1]} ${BASH_REMATCH[2]}"
}
# Sets $highlighted once the file manager has painted the selection on a row other than
# $1's (the highlight lags the selection it reports).
highlight_painted() { # [top to differ from]
    highlighted=$(highlight_box) && [ "$(echo "$highlighted" | cut -d ' ' -f 2)" != "${1:-}" ]
}
# A rubber band dragged with the mouse from one point to another, in steps as a hand moves.
rubber_band() { # x1 y1 x2 y2
    xdotool mousemove "$1" "$2" mousedown 1
    for step in 1 2 3 4 5 6 7 8; do
        xdotool mousemove "$(($1 + ($3 - $1) * step / 8))" "$(($2 + ($4 - $2) * step / 8))"
        sleep 0.02
    done
    xdotool mouseup 1
    band_ended=$(date +%s%3N)
}
# Waits for a look that began after the last band ended, then requires the last report to
# read "selection $1": an answer on the way (a band passing over one item) does not count.
expect_settled() { # path|none
    local tries
    looked_after_band() {
        awk -v since="$band_ended" '$2 == "scan" { split($5, s, "=");
            if ($1 - s[2] * 1000 > since) found = 1 } END { exit !found }' "$out"
    }
    for tries in $(seq 1 500); do
        looked_after_band && break
        sleep 0.02
    done
    [ "$tries" -lt 500 ] || fail "no look at the view after the band"
    [ "$(grep " selection " "$out" | tail -n 1 | cut -d ' ' -f 3-)" = "$1" ] ||
        fail "the band gave '$(grep " selection " "$out" | tail -n 1)', not '$1'"
    consumed=$(wc -l <"$out")
}

check_folder "$HOME/large"
echo "ok: 2,000 items: keyboard, select-all, clear, shift-selection"

# Rubber bands at the end of the view, around the last item (2000) and the one above it. Each
# starts on empty space beside the last item's icon, left of it within its cell.
names=("$HOME"/large/*)
xdotool key End
expect_selection "${names[1999]}" 20
wait_for "the last item highlighted" highlight_painted
read -r left top width _ <<<"$highlighted"
xdotool key Up
expect_selection "${names[1995]}" 20
wait_for "the item above highlighted" highlight_painted "$top"
read -r _ top_above _ _ <<<"$highlighted"
row=$((top - top_above))
centre=$((left + width / 2))
xdotool key Escape
expect_selection none 5
# Over the last item's icon alone: that file.
rubber_band "$((left + 3))" "$((top - row / 3))" "$centre" "$((top - row / 4))"
expect_settled "${names[1999]}"
# Up over the last item's icon and the name above it: two items far apart in the view's order,
# neither beside the other, give none.
rubber_band "$((left + 3))" "$((top - row / 3))" "$centre" "$((top - row))"
expect_settled none
echo "ok: 2,000 items: a rubber band over one item gives it, over several none"
longest=$(awk '/ scan / { split($7, s, "="); if (s[2] > max) max = s[2] } END { printf "%.1f", max * 1000 }' "$out")
echo "longest slice of a look at the view: $longest ms"
if [ -n "$plugins" ]; then
    expect_counted_by file-manager
    echo "ok: the plug-in counted every selection; no item was read"
fi
# A plug-in installed on the machine (the scrivlet-dolphin package) is in Qt's own plug-in
# folder, which Dolphin always reads: without it is then not to be had.
installed=(/usr/lib/*/qt5/plugins/kf5/overlayicon/scrivlet_overlayicon.so)
if [ -n "$plugins" ] && [ -e "${installed[0]}" ]; then
    echo "not run: the cases without the plug-in (installed at ${installed[0]})"
elif [ -n "$plugins" ]; then
    follow_file_manager
    check_folder "$HOME/large"
    expect_counted_by items
    echo "ok: without the plug-in, every item read: keyboard, select-all, clear, shift-selection"
fi
