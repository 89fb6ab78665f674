#!/usr/bin/env bash
# Starts the real app binary in a temporary home, as a user would, and checks its launch log,
# its clean end on SIGTERM, SIGINT and "Quit Scrivlet", its handling of URL arguments, and its
# refusal of a damaged store.
# Usage: real-binary.sh PATH/TO/Scrivlet.app/Contents/MacOS/Scrivlet PATH/TO/scrivlet-desktop
set -euo pipefail
app="$1"
desktop="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAILED: $*"; echo "--- log:"; cat "$work/log" 2>/dev/null || true; exit 1; }

start_app() { # args: extra arguments for the app
    env -i PATH="$PATH" HOME="$work/home" XDG_RUNTIME_DIR="$work/run" "$app" "$@" \
        >"$work/out" 2>"$work/log" &
    pid=$!
}

wait_for_line() { # text
    for _ in $(seq 1 200); do
        grep -qF -- "$1" "$work/log" && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    fail "never logged: $1"
}

app_lines() { sed -n 's/.*com\.scrivlet:app //p' "$work/log"; }

mkdir -p "$work/home" "$work/run"
chmod 700 "$work/run"

# 1. A normal launch, ended by SIGTERM.
start_app
wait_for_line "Ready. Listening for Finder events and URL scheme requests."
kill -TERM "$pid"
wait "$pid" || fail "exit status $? after SIGTERM"
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
wait "$pid" || fail "exit status $? after SIGINT"
[ "$(app_lines | head -n 1)" = "URL received before init, queuing 1 URL(s)" ] ||
    fail "the starting URL was not queued first"
echo "ok: starting URL queued and processed, clean end on SIGINT"

# 3. "Quit Scrivlet" chosen from the menu-bar icon's menu, driven from a terminal.
start_app
wait_for_line "Ready. Listening for Finder events and URL scheme requests."
drive() { env -i PATH="$PATH" HOME="$work/home" XDG_RUNTIME_DIR="$work/run" "$desktop" "$@"; }
drive open-menu | grep -q "Quit Scrivlet  \[Command-q\]" || fail "the menu does not offer Quit"
drive choose "Quit Scrivlet" >/dev/null || fail "could not choose Quit Scrivlet"
wait "$pid" || fail "exit status $? after Quit Scrivlet"
echo "ok: Quit Scrivlet ends the app"

# 4. A damaged store: FATAL line, the app ends by itself, the file is untouched.
store="$work/home/.local/share/com.scrivlet.shared/annotations.sqlite"
rm -f "$store"*
printf 'not a database\n%.0s' $(seq 1 300) >"$store"
cp "$store" "$work/store.before"
start_app
wait "$pid" || fail "exit status $? after a damaged store"
app_lines | grep -q "^FATAL: Failed to open database: " || fail "no FATAL line"
app_lines | grep -q "Menu bar icon set up" && fail "went on after the FATAL line"
cmp -s "$store" "$work/store.before" || fail "the damaged store was modified"
echo "ok: damaged store refused and left unchanged"
echo "4 passed, 0 failed"
