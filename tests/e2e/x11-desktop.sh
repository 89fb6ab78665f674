#!/usr/bin/env bash
# The app on a real X11 session: a headless X server with openbox, a private session bus with
# a stand-in tray, and Dolphin on a temporary folder. Checks that the app refuses to start
# without a display, finds Dolphin running before it, sees it quit and start again after it,
# shows its menu in the tray with the right items enabled, and quits from that menu.
# Skipped (exit 77) when the session's programs are not installed.
# Usage: x11-desktop.sh PATH/TO/Scrivlet PATH/TO/tray-host
set -euo pipefail
app="$1"
tray_host="$2"
work=$(mktemp -d)
pid=""
dolphin_pid=""

fail() {
    echo "FAILED: $*"
    echo "--- app log:"
    cat "$work/log" 2>/dev/null || true
    exit 1
}

# shellcheck source=lib/x11-session.sh
. "$(dirname "$0")/lib/x11-session.sh"

cleanup() {
    for running in $pid $dolphin_pid; do
        kill -KILL "$running" 2>/dev/null || true
        wait "$running" 2>/dev/null || true
    done
    stop_x11_session
    rm -rf "$work"
}
trap cleanup EXIT

missing=$(x11_session_missing)
if [ -n "$missing" ]; then
    echo "SKIPPED: the X11 session needs programs that are not installed: $missing"
    exit 77
fi

# 1. No display: one clear line, a non-zero status, nothing else started.
status=0
env -u DISPLAY HOME="$work" XDG_RUNTIME_DIR="$work" "$app" --desktop=x11 >"$work/out" \
    2>"$work/err" || status=$?
[ "$status" -ne 0 ] || fail "started without a display"
[ "$(wc -l <"$work/err")" -eq 1 ] && grep -q "X11 display" "$work/err" ||
    fail "no single clear line without a display: $(cat "$work/err")"
status=0
env DISPLAY=:none HOME="$work" XDG_RUNTIME_DIR="$work" SCRIVLET_DESKTOP=x11 "$app" \
    >"$work/out" 2>"$work/err" || status=$?
[ "$status" -ne 0 ] && grep -q "cannot open the X11 display" "$work/err" ||
    fail "an unreachable display was not reported: $(cat "$work/err")"
echo "ok: without an X11 display the app says so and exits with status $status"

start_x11_session "$tray_host"
# Installed in the session's home, as a user has it: the app does not offer to move itself.
built_bundle=$(cd "$(dirname "$app")/../.." && pwd)
"$(dirname "$0")/../../tools/install.sh" "$built_bundle" >"$work/install.log" 2>&1 ||
    fail "install failed: $(cat "$work/install.log")"
app="$HOME/Applications/Scrivlet.app/Contents/MacOS/Scrivlet"
dolphin_pid=$(start_file_manager "$work/files")

app_lines() { sed -n 's/.*com\.scrivlet:app //p' "$work/log"; }
wait_for_line() { # text
    wait_for "grep -qF -- '$1' '$work/log'" "the log line \"$1\""
}

# 2. Dolphin runs before the app: the app finds it at launch.
SCRIVLET_LOG_TO_STDERR=1 "$app" --desktop=x11 >"$work/out" 2>"$work/log" &
pid=$!
wait_for_line "Ready. Listening for Finder events and URL scheme requests."
grep -qF "Scrivlet: AX Observer started for Finder (PID $dolphin_pid)" "$work/log" ||
    fail "the app did not find Dolphin ($dolphin_pid) at launch"
app_lines | grep -qx "AX selection tracker started" || fail "the tracker did not start"
echo "ok: the app finds Dolphin that ran before it"

# 3. Dolphin quits and starts again after the app: the app follows it.
kill -TERM "$dolphin_pid"
wait "$dolphin_pid" 2>/dev/null || true
dolphin_pid=""
wait_for_line "Finder terminated"
dolphin_pid=$(start_file_manager "$work/files")
wait_for_line "Finder launched"
wait_for_line "AX observer rebuilt after Finder relaunch"
grep -qF "Scrivlet: AX Observer started for Finder (PID $dolphin_pid)" "$work/log" ||
    fail "the app did not follow the new Dolphin ($dolphin_pid)"
kill -0 "$pid" 2>/dev/null || fail "the app ended while Dolphin restarted"
echo "ok: the app survives Dolphin quitting and finds it when it starts again"

# 4. The tray shows the app's menu; "Quit Scrivlet" ends the app.
wait_for 'test -s "$work/tray"' "the app's tray icon"
"$tray_host" menu "$work/tray" >"$work/menu" || fail "the tray's menu cannot be read"
expected=$(printf 'Preferences\xe2\x80\xa6\tdisabled\nUninstall Scrivlet\xe2\x80\xa6\tenabled\nQuit Scrivlet\tenabled')
[ "$(cat "$work/menu")" = "$expected" ] || fail "the tray's menu is: $(cat "$work/menu")"
"$tray_host" click "$work/tray" "Quit Scrivlet" || fail "the menu item cannot be chosen"
status=0
for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "exit status $status after Quit Scrivlet"
echo "ok: the tray's menu has the app's items and Quit Scrivlet ends the app"
