#!/usr/bin/env bash
# The app beside GNOME's file manager on a real X11 session: a headless X server with openbox,
# a private session bus with a stand-in tray, and Nautilus with the extension's module mounted
# over its extension folder in a private mount namespace. The module tells the app the
# selection; the app shows the panel beside Nautilus's window for the one file selected, in a
# small folder and in one of 1,000 files (where the selected file lies far outside the rows
# the view has made). With two windows, coming back to the other one without selecting again
# never shows the panel for the file selected in the first.
# Skipped (exit 77) when the session's programs are not installed or no private mount
# namespace can be made.
# Usage: nautilus-panel.sh PATH/TO/Scrivlet PATH/TO/tray-host MODULE-FOLDER EXTENSION-FOLDER
#                          [SCREENSHOT-FOLDER]
set -euo pipefail
if [ -z "${SCRIVLET_PRIVATE_MOUNTS:-}" ]; then
    if ! unshare -m --propagation private true 2>/dev/null; then
        echo "SKIPPED: no private mount namespace (unshare -m needs root or user namespaces)"
        exit 77
    fi
    SCRIVLET_PRIVATE_MOUNTS=1 exec unshare -m --propagation private "$0" "$@"
fi
app=$(readlink -f "$1")
tray_host=$(readlink -f "$2")
module_folder=$(readlink -f "$3")
extension_folder="$4"
work=$(mktemp -d)
shots="${5:-$work/shots}"
pid=""
nautilus_pid=""

fail() {
    echo "FAILED: $*"
    echo "--- app log:"
    tail -n 30 "$work/log" "$work/out" 2>/dev/null || true
    exit 1
}

# shellcheck source=../support/x11-session.sh
. "$(dirname "$0")/../support/x11-session.sh"
# shellcheck source=../support/x11-test.sh
. "$(dirname "$0")/../support/x11-test.sh"
trap 'end_x11_test KILL $pid $nautilus_pid' EXIT
skip_without_x11_session nautilus
[ -d "$extension_folder" ] || { echo "SKIPPED: no folder $extension_folder"; exit 77; }
# The file manager, which is not built with the sanitizers, would need their runtimes loaded
# first to take a module built with them; with them preloaded it hangs at start, in its own
# first gettext call, before any module is loaded. The module's code runs under the
# sanitizers in its unit tests (nautilus_module_tests) instead.
# grep reads to the end: with -q it could leave ldd writing into a closed pipe, and pipefail
# would take ldd's broken pipe for no match.
if ldd "$module_folder/libscrivlet-nautilus.so" | grep -E 'lib(asan|ubsan)\.so' >/dev/null; then
    echo "SKIPPED: the file manager hangs at start with the sanitizer runtimes preloaded"
    exit 77
fi
# The GL renderer can hang a view on a software display; cairo draws the same. Through env,
# so that a file manager started in the background has the pid $! names.
file_manager=(env GSK_RENDERER=cairo nautilus)
mount --bind "$module_folder" "$extension_folder" ||
    { echo "SKIPPED: cannot mount over $extension_folder"; exit 77; }

start_x11_session "$tray_host"
install_app "$(dirname "$app")/../.."
mkdir -p "$work/files/many" "$shots"
for name in notes report summary; do echo "$name" >"$work/files/$name.txt"; done
for ((i = 0; i < 1000; i++)); do printf -v name 'file-%04d.txt' "$i"; : >"$work/files/many/$name"; done

# GNOME's file manager runs before the app.
"${file_manager[@]}" --new-window "$work/files" >>"$work/nautilus.log" 2>&1 &
nautilus_pid=$!
wait_for "the file manager's window" active_window_of "$nautilus_pid"

SCRIVLET_LOG_DEBUG=1 start_app --file-manager=nautilus
logged "Scrivlet: AX Observer started for Finder (PID $nautilus_pid)" ||
    fail "the app did not find the file manager ($nautilus_pid) at launch"
echo "ok: the app finds GNOME's file manager running before it"

nautilus_window() { xdotool getactivewindow; }
# The panel lies right of the window and overlaps it from top to bottom.
panel_beside_nautilus() {
    local panel px py ph nx ny nw nh
    panel=$(panel_window) || return 1
    active_window_of "$nautilus_pid" || return 1
    read -r px py _ ph <<<"$(geometry_of "$panel")"
    read -r nx ny nw nh <<<"$(geometry_of "$(nautilus_window)")"
    [ "$px" -ge $((nx + nw - 2)) ] && [ "$py" -lt $((ny + nh)) ] && [ $((py + ph)) -gt "$ny" ]
}

told() { grep -qxF "$1" "$work/run/scrivlet/file-manager-selection" 2>/dev/null; }
# The file manager selects one file, as a user's click does, and is in front; the module tells
# the app. A folder still loading in a new window may take the request before its files are
# there and select nothing: the request is made again then.
select_in_nautilus() { # path
    for _ in 1 2 3; do
        "${file_manager[@]}" --select "$1" >>"$work/nautilus.log" 2>&1
        for _ in $(seq 1 100); do
            told "$1" && break 2
            sleep 0.1
        done
    done
    told "$1" || fail "the selection of $1 was not told"
    wait_for "the file manager in front" active_window_of "$nautilus_pid"
}

select_in_nautilus "$work/files/report.txt"
wait_for "the panel beside the file manager" panel_beside_nautilus
screenshot 1-small-folder
echo "ok: selecting one file in a small folder shows the panel beside the file manager's window"

select_in_nautilus "$work/files/many/file-0999.txt"
wait_for "the panel beside the file manager" panel_beside_nautilus
screenshot 2-thousand-files
echo "ok: selecting the last of 1,000 files shows the panel beside the file manager's window"

# Two windows: the file manager opens the folder of each file it selects in a window of its own.
many_window=$(nautilus_window)
select_in_nautilus "$work/files/notes.txt"
wait_for "the panel beside the file manager" panel_beside_nautilus
[ "$(nautilus_window)" != "$many_window" ] || fail "the file manager opened no second window"
# Back to the window of 1,000 files, nothing selected anew: the extension's last word is the
# other window's file, which the panel must not show here.
log_mark=$(wc -l <"$work/log")
answers() { tail -n "+$((log_mark + 1))" "$work/log" | grep -E "Panel (shown for|hidden)"; }
xdotool windowactivate --sync "$many_window" 2>/dev/null
wait_for "an answer after the window switch (none: the panel kept the other window's file)" answers
if answers | grep -F "Panel shown for $work/files/notes.txt" >/dev/null; then
    fail "the panel showed the other window's file: $(answers | tr '\n' ' ')"
fi
echo "ok: switching to another window without selecting shows no other window's file"
