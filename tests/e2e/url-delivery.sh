#!/usr/bin/env bash
# URL delivery between real processes: URLs opened from other processes reach the running app
# exactly once and in order, start it when it does not run, and a second copy started with a
# URL hands it over and ends. Every app runs in a temporary home.
# Usage: url-delivery.sh PATH/TO/Scrivlet PATH/TO/scrivlet-open PATH/TO/scrivlet-desktop
set -euo pipefail
app=$(readlink -f "$1")
opener="$2"
desktop="$3"
work=$(mktemp -d)
passed=0

in_home() {
    env -i PATH="$PATH" HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
        XDG_DATA_DIRS="$work/no-system-entries" SCRIVLET_LOG_TO_STDERR=1 "$@"
}
# shellcheck source=lib/app-processes.sh
source "$(dirname "$0")/lib/app-processes.sh"
cleanup() {
    for pid in $(app_pids); do kill -CONT "$pid" 2>/dev/null || true; kill -KILL "$pid" || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAILED: $*"; echo "--- log:"; tail -n 40 "$work/log" 2>/dev/null || true; exit 1; }
ok() { echo "ok: $*"; passed=$((passed + 1)); }

start_app() {
    env -i PATH="$PATH" HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
        XDG_DATA_DIRS="$work/no-system-entries" SCRIVLET_LOG_TO_STDERR=1 "$app" \
        >"$work/out" 2>"$work/log" &
    pid=$! # env becomes the app
    wait_for_line "Ready. Listening for Finder events and URL scheme requests."
}
wait_for_line() { # text [count]
    for _ in $(seq 1 200); do
        [ "$(grep -cF -- "$1" "$work/log")" -ge "${2:-1}" ] && return 0
        sleep 0.05
    done
    fail "never logged${2:+ $2 times}: $1"
}
wait_until() { # command...
    for _ in $(seq 1 200); do "$@" && return 0; sleep 0.05; done
    return 1
}
quit_app() { # through its menu, as a user would
    if ! in_home "$desktop" open-menu >/dev/null ||
        ! in_home "$desktop" choose "Quit Scrivlet" >/dev/null; then
        fail "could not quit the app from its menu"
    fi
    wait_until test ! -S "$socket" || fail "the app did not end"
}
url_for() { echo "scrivlet://$1?path=$work/home/Documents/$2"; }
records() { sqlite3 "$work/home/.local/share/com.scrivlet.shared/annotations.sqlite" "$1"; }
open_in_four_shells() { # command name: 4 shells open 25 URLs each, at the same time
    local shells=()
    for shell in 1 2 3 4; do
        (
            for i in $(seq "$shell" 4 100); do
                in_home "$opener" "$(url_for "$1" "f$i.txt")" || echo "shell $shell: f$i.txt" >>"$work/failures"
            done
        ) &
        shells+=($!)
    done
    wait "${shells[@]}"
    [ ! -s "$work/failures" ] || fail "opens failed: $(cat "$work/failures")"
}

mkdir -p "$work/home/Documents" "$work/run"
chmod 700 "$work/run"
for i in $(seq 1 100); do echo "$i" >"$work/home/Documents/f$i.txt"; done
for name in a b c d; do echo "$name" >"$work/home/Documents/$name.txt"; done
socket="$work/run/scrivlet/url-schemes/scrivlet.socket"

# 1. The running app receives what another process opens, and registered itself at launch.
start_app
in_home "$opener" "$(url_for annotate a.txt)" "$(url_for remove a.txt)" ||
    fail "scrivlet-open failed against the running app"
wait_for_line "Removed annotation for a.txt"
[ "$(grep -oE 'Opened annotation editor for a.txt|Removed annotation for a.txt' "$work/log" |
    tr '\n' ,)" = "Opened annotation editor for a.txt,Removed annotation for a.txt," ] ||
    fail "two URLs opened together were not handled once each, in order"
grep -qxF "Exec=$app %U" "$work/home/.local/share/applications/com.scrivlet.Scrivlet.desktop" ||
    fail "no desktop entry naming the app"
ok "URLs opened by another process reach the running app, in order; its desktop entry is written"

# 2. A second copy started with a URL hands it over and ends before it starts anything.
in_home timeout 10 "$app" "$(url_for annotate b.txt)" >"$work/second.out" 2>"$work/second.log" ||
    fail "the second copy ended with status $?"
wait_for_line "Opened annotation editor for b.txt"
[ -s "$work/second.log" ] && fail "the second copy logged: $(cat "$work/second.log")"
[ "$(app_pids | wc -l)" -eq 1 ] || fail "more than one app runs"
ok "a second start hands its URL to the running app and ends"

# 3. Four shells open 100 URLs at the same time: each arrives exactly once.
open_in_four_shells annotate
sed -n 's/.*com\.scrivlet:app //p' "$work/log" >"$work/lines"
for i in $(seq 1 100); do
    [ "$(grep -cxF "URL received: $(url_for annotate "f$i.txt")" "$work/lines")" -eq 1 ] ||
        fail "f$i.txt did not arrive exactly once"
done
[ "$(grep -c "Opened annotation editor for f" "$work/log")" -eq 100 ] || fail "not 100 handled"
ok "100 URLs from 4 concurrent shells arrive exactly once"

# 4. xdg-open finds the app through its desktop entry.
if command -v xdg-open >/dev/null; then
    in_home env DISPLAY=:0 xdg-open "$(url_for annotate c.txt)" || fail "xdg-open failed"
    wait_for_line "Opened annotation editor for c.txt"
    ok "xdg-open delivers to the running app"
else
    echo "skipped: xdg-open is not installed (xdg-utils)"
fi

# 5. A hung app fails the open in bounded time; a crashed one leaves a socket that is cleaned up.
kill -STOP "$pid"
started=$(date +%s%N)
in_home "$opener" --timeout 1 "$(url_for annotate d.txt)" 2>/dev/null && fail "a hung app took a URL"
[ $(( ($(date +%s%N) - started) / 1000000 )) -lt 3000 ] || fail "the open took too long"
kill -CONT "$pid"
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
[ -S "$socket" ] || fail "expected the crashed app's socket to be left behind"
ok "a hung app fails the open within its timeout"

# 6. With no app running (a stale socket left), the command starts the registered app.
in_home "$opener" "$(url_for annotate d.txt)" || fail "scrivlet-open did not start the app"
[ "$(app_pids | wc -l)" -eq 1 ] || fail "expected one app started by scrivlet-open"
[ "$(records "select count(*) from annotations where path = '$work/home/Documents/d.txt'")" = 1 ] ||
    fail "the app started by scrivlet-open did not annotate d.txt"
quit_app
ok "scrivlet-open starts the app when it does not run, past a stale socket"

# 7. Four shells at once with no app running: one app starts, and every URL is handled.
records "delete from annotations"
open_in_four_shells annotate
[ "$(app_pids | wc -l)" -eq 1 ] || fail "the shells started $(app_pids | wc -l) apps"
[ "$(records "select count(*) from annotations")" = 100 ] || fail "not every URL was handled"
quit_app
ok "concurrent opens start one app and every URL is handled"

echo "$passed passed, 0 failed"
