#!/usr/bin/env bash
# Starts the real app binary in a temporary home, as a user would, and checks its launch log,
# its clean end on SIGTERM, SIGINT and "Quit Scrivlet", its handling of URL arguments, and its
# refusal of a damaged store.
# Usage: real-binary.sh PATH/TO/Scrivlet.app/Contents/MacOS/Scrivlet PATH/TO/scrivlet-desktop
set -euo pipefail
desktop="$2"
pid=""
second=""

# shellcheck source=../support/sandbox.sh
. "$(dirname "$0")/../support/sandbox.sh"
sandbox_create
# Whatever way the script ends, no app it started is left running.
cleanup() {
    stop_processes "$pid" "$second"
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAILED: $*"; echo "--- log:"; cat "$work/log" 2>/dev/null || true; exit 1; }

start_app() { # args: extra arguments for the app
    # The background job opens its log only once it runs: empty the file first, so that no
    # wait reads a line of the previous start.
    : >"$work/log"
    # The log goes to stderr even where a journal runs, so that this script can read it.
    env -i "${sandbox_env[@]}" "$app" "$@" >"$work/out" 2>"$work/log" &
    pid=$!
}

wait_app() { # waits for the app to end and answers its exit status
    local status=0
    wait "$pid" || status=$?
    pid=""
    return "$status"
}

wait_for_line() { wait_for_log "$work/log" "$1" 1 "$pid"; }

app_lines() { sed -n 's/.*com\.scrivlet:app //p' "$work/log"; }

built_bundle=$(cd "$(dirname "$1")/../.." && pwd)
env -i PATH="$PATH" HOME="$work/home" "$(dirname "$0")/../../tools/install.sh" "$built_bundle" \
    >"$work/install.log" || fail "install failed: $(cat "$work/install.log")"
app="$work/home/Applications/Scrivlet.app/Contents/MacOS/Scrivlet"
[ -x "$app" ] || fail "install left no app at $app"
# With the file manager's plug-ins built, Plasma sessions get their folder on the plug-in path.
plugins="$work/home/Applications/Scrivlet.app/Contents/PlugIns/qt5"
if [ -d "$plugins" ]; then
    # shellcheck disable=SC2016 # expanded by the inner shell, after the script ran
    path=$(env -i HOME="$work/home" QT_PLUGIN_PATH=/elsewhere sh -c \
        '. "$HOME/.config/plasma-workspace/env/scrivlet-file-manager.sh" && echo "$QT_PLUGIN_PATH"')
    [ "$path" = "$plugins:/elsewhere" ] || fail "the plug-in path is not set up: $path"
fi

# 1. A normal launch, ended by SIGTERM.
start_app
wait_for_line "Ready. Listening for Finder events and URL scheme requests."
kill -TERM "$pid"
wait_app || fail "exit status $? after SIGTERM"
expected="Launch started
DB path: $work/home/.local/share/com.scrivlet.shared/annotations.sqlite
Database opened OK
Synced badge xattrs for 0 annotations
Menu bar icon set up
AX selection tracker started
Ready. Listening for Finder events and URL scheme requests."
[ "$(app_lines)" = "$expected" ] || fail "launch lines differ"
[ -s "$work/out" ] && fail "wrote to standard output"
echo "ok: launch log in order, clean end on SIGTERM"

# 2. A URL among the arguments is queued before launch finishes; SIGINT ends the run.
start_app "scrivlet://annotate?path=$work/home/a.txt"
wait_for_line "Processing 1 queued URL(s)"
kill -INT "$pid"
wait_app || fail "exit status $? after SIGINT"
[ "$(app_lines | head -n 1)" = "URL received before init, queuing 1 URL(s)" ] ||
    fail "the starting URL was not queued first"
echo "ok: starting URL queued and processed, clean end on SIGINT"

# 3. "Quit Scrivlet" chosen from the menu-bar icon's menu, driven from a terminal.
start_app
wait_for_line "Ready. Listening for Finder events and URL scheme requests."
drive() { in_sandbox "$desktop" "$@"; }
menu_ready() { drive open-menu 2>/dev/null | grep "Quit Scrivlet  \[Command-q\]" >/dev/null; }
deadline=$((SECONDS + 30))
until menu_ready; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the menu does not offer Quit"
    sleep 0.05
done
drive choose "Quit Scrivlet" >/dev/null || fail "could not choose Quit Scrivlet"
wait_app || fail "exit status $? after Quit Scrivlet"
echo "ok: Quit Scrivlet ends the app"

# 4. A damaged store: FATAL line, the app ends by itself, the file is untouched.
store="$work/home/.local/share/com.scrivlet.shared/annotations.sqlite"
rm -f "$store"*
printf 'not a database\n%.0s' $(seq 1 300) >"$store"
cp "$store" "$work/store.before"
start_app
wait_app || fail "exit status $? after a damaged store"
app_lines | grep "^FATAL: Failed to open database: " >/dev/null || fail "no FATAL line"
app_lines | grep "Menu bar icon set up" >/dev/null && fail "went on after the FATAL line"
cmp -s "$store" "$work/store.before" || fail "the damaged store was modified"
echo "ok: damaged store refused and left unchanged"
rm -f "$store"*

# 5. Two copies started at the same moment, 20 times: exactly one stays, the other ends with
# its "instance" line.
instance_line="Another Scrivlet instance is already running"
for round in $(seq 1 20); do
    env -i "${sandbox_env[@]}" "$app" 2>"$work/log.a" &
    pid=$!
    env -i "${sandbox_env[@]}" "$app" 2>"$work/log.b" &
    second=$!
    # Settled once one copy has ended and the other is ready, past any reason to end.
    deadline=$((SECONDS + 30))
    until { ! kill -0 "$pid" 2>/dev/null || ! kill -0 "$second" 2>/dev/null; } &&
        cat "$work/log.a" "$work/log.b" | grep -F "Ready. Listening" >/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || break
        sleep 0.05
    done
    alive=0
    for running in $pid $second; do kill -0 "$running" 2>/dev/null && alive=$((alive + 1)); done
    [ "$alive" -eq 1 ] || fail "round $round: $alive copies running"
    cat "$work/log.a" "$work/log.b" >"$work/log"
    [ "$(grep -c "$instance_line" "$work/log")" -eq 1 ] || fail "round $round: no single instance line"
    for running in $pid $second; do
        if kill -0 "$running" 2>/dev/null; then kill -TERM "$running"; fi
        wait "$running" 2>/dev/null || true
    done
    pid=""
    second=""
done
echo "ok: 20 rounds of two copies started together, exactly one stayed every time"
echo "5 passed, 0 failed"
