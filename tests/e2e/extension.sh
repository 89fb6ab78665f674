#!/usr/bin/env bash
# The extension between real processes: the app, the host process with the plug-in loaded from
# the app bundle (watching badge changes), and the URL command the host opens its menu
# commands with. "Remove Annotation" chosen in the host reaches the app, which removes the
# record and what it wrote on the file, and the host sees the badge cleared; the flagged status
# chosen in the app's panel, or saved by another process, turns the badge "flagged"; a host started before the app, and one that outlives an app
# restart, keep working. Everything runs in a temporary home.
# Usage: extension.sh PATH/TO/Scrivlet PATH/TO/scrivlet-open PATH/TO/scrivlet-desktop
#                     PATH/TO/scrivlet-findersync-host PATH/TO/store-edit
set -euo pipefail
app=$(readlink -f "$1")
opener=$(readlink -f "$2")
desktop="$3"
host="$4"
edit="$5"
work=$(mktemp -d)
passed=0
host_pid=""

in_home() {
    env -i PATH="$PATH" HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
        XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
        XDG_DATA_DIRS="$work/no-system-entries" SCRIVLET_LOG_TO_STDERR=1 "$@"
}
# shellcheck source=lib/app-processes.sh
source "$(dirname "$0")/lib/app-processes.sh"
stop_host() {
    exec 3>&- || true
    if [ -n "$host_pid" ]; then
        kill -KILL "$host_pid" 2>/dev/null || true
        wait "$host_pid" 2>/dev/null || true
        host_pid=""
    fi
}
cleanup() {
    stop_host
    for pid in $(app_pids); do kill -KILL "$pid" || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*"
    echo "--- log:"; tail -n 40 "$work/log" 2>/dev/null || true
    echo "--- host:"; tail -n 40 "$work/host.out" 2>/dev/null || true
    exit 1
}
ok() { echo "ok: $*"; passed=$((passed + 1)); }

wait_until() { # command...
    for _ in $(seq 1 200); do "$@" && return 0; sleep 0.05; done
    return 1
}
count_in() { grep -cxF -- "$2" "$1" || true; }
at_least() { [ "$(count_in "$1" "$2")" -ge "$3" ]; }
wait_for_line() { # text [count]; app and host log to the same file
    wait_until at_least_in_log "$1" "${2:-1}" || fail "never logged${2:+ $2 times}: $1"
}
at_least_in_log() { [ "$(grep -cF -- "$1" "$work/log" || true)" -ge "$2" ]; }
wait_for_host_line() { # line [count]
    wait_until at_least "$work/host.out" "$1" "${2:-1}" ||
        fail "the host never printed${2:+ $2 times}: $1"
}

start_app() {
    in_home "$app" >>"$work/out" 2>>"$work/log" &
    wait_for_line "Ready. Listening for Finder events and URL scheme requests." "$1"
}
quit_app() { # through its menu, as a user would
    { in_home "$desktop" open-menu >/dev/null && in_home "$desktop" choose "Quit Scrivlet" >/dev/null; } ||
        fail "could not quit the app from its menu"
    wait_until test ! -S "$socket" || fail "the app did not end"
    wait_for_apps_to_end 30 || fail "the app process did not end"
}
start_host() { # with --watch, reading commands from a pipe that fd 3 writes
    rm -f "$work/host.in"
    mkfifo "$work/host.in"
    in_home "$host" --watch --open-with "$opener" <"$work/host.in" >"$work/host.out" 2>>"$work/log" &
    host_pid=$!
    exec 3>"$work/host.in"
    wait_for_host_line ready
}
host_command() { # fields, sent tab-separated
    local IFS=$'\t'
    printf '%s\n' "$*" >&3
}
# Every byte but the unreserved ones and "/" percent-encoded (the names here are ASCII).
percent_encoded() {
    local LC_ALL=C text="$1" out="" c i
    for ((i = 0; i < ${#text}; i++)); do
        c=${text:i:1}
        case "$c" in
        [A-Za-z0-9._~/-]) out+="$c" ;;
        *) printf -v c '%%%02X' "'$c"; out+="$c" ;;
        esac
    done
    printf '%s' "$out"
}
records_of() { sqlite3 "$work/home/.local/share/com.scrivlet.shared/annotations.sqlite" \
    "select count(*) from annotations where path = '$1'"; }
attributes_of() { in_home "$edit" attributes "$1"; }

# The file flagged, then "Remove Annotation" chosen in the host: the host's badge turns
# "flagged", then the app removes the record, the badge attribute, the tags and the comment,
# and the host's watch shows the badge cleared. "panel" flags it in the app's panel (which
# shows that file); "store" saves a flagged record with a note and tags from another process.
flag_and_remove() { # path panel|store
    local flagged none listed expected
    flagged="$(printf 'watch\tflagged\t%s' "$1")"
    none="$(printf 'watch\tnone\t%s' "$1")"
    listed="$(printf 'badge\tnone\t%s' "$1")"
    if [ "$2" = panel ]; then
        expected="badge=flagged comment=none tags=none"
    else
        expected="badge=flagged comment=Check the figures tags=draft,urgent"
    fi
    set -- "$1" "$2" "$(count_in "$work/host.out" "$flagged")" \
        "$(count_in "$work/host.out" "$none")" "$(count_in "$work/host.out" "$listed")"
    if [ "$2" = panel ]; then
        in_home "$desktop" set-status flagged >/dev/null ||
            fail "could not choose the flagged status in the app's panel"
    else
        in_home "$edit" save "$1" flagged "Check the figures" draft urgent ||
            fail "could not save the flagged record"
    fi
    wait_for_host_line "$flagged" $(($3 + 1))
    [ "$(attributes_of "$1")" = "$expected" ] ||
        fail "the flagged save did not write the attributes: $(attributes_of "$1")"
    host_command choose "Remove Annotation" "$1"
    wait_until no_record "$1" || fail "the record of the removed file is still stored"
    wait_for_host_line "$none" $(($4 + 1))
    [ "$(attributes_of "$1")" = "badge=none comment=none tags=none" ] ||
        fail "the removal left attributes: $(attributes_of "$1")"
    host_command badges "$work/home/Documents"
    wait_for_host_line "$listed" $(($5 + 1))
}
no_record() { [ "$(records_of "$1")" = 0 ]; }

mkdir -p "$work/home/Documents" "$work/run"
chmod 700 "$work/run"
: >"$work/log"
report="$work/home/Documents/report one #1.txt"
other="$work/home/Documents/other.txt"
echo report >"$report"
echo other >"$other"
socket="$work/run/scrivlet/url-schemes/scrivlet.socket"
annotate_item="Annotate This File…"
edit_item="Edit Annotation…"

# 1. A URL command with a percent-encoded path annotates the file; the app keeps the record.
start_app 1
in_home "$opener" "scrivlet://annotate?path=$(percent_encoded "$report")" ||
    fail "scrivlet-open failed"
wait_for_line "Opened annotation editor for report one #1.txt"
quit_app
[ "$(records_of "$report")" = 1 ] || fail "the annotate command left no record"
ok "an annotate URL with an encoded path reaches the app and its record is kept"

# 2. The host started while no app runs: it badges from the store, and its commands start the
#    app and reach it. (An app started that way logs nowhere, so what it did is checked in the
#    store and on the file.)
start_host
host_command badges "$work/home/Documents"
wait_for_host_line "$(printf 'badge\tannotated\t%s' "$report")"
wait_for_host_line "$(printf 'badge\tnone\t%s' "$other")"
host_command choose "$edit_item" "$report"
wait_for_host_line "$(printf 'chose\t%s' "$edit_item")"
wait_until test -S "$socket" || fail "the host's command did not start the app"
[ "$(app_pids | wc -l)" -eq 1 ] || fail "expected the host's command to start one app"
flag_and_remove "$report" store
ok "a host started before the app: its commands start the app and reach it"

# 3. The app restarted while the host runs: the host's next commands reach the new app, and
#    its badges follow the new app's writes.
quit_app
start_app 2
host_command choose "$annotate_item" "$report"
wait_for_line "Opened annotation editor for report one #1.txt" 2
flag_and_remove "$report" panel
wait_for_line "Removed annotation for report one #1.txt"
[ "$(app_pids | wc -l)" -eq 1 ] || fail "expected exactly one app"
ok "after an app restart the running host's commands reach the new app"

host_command quit
wait "$host_pid" || fail "the host ended with status $?"
host_pid=""
echo "$passed passed, 0 failed"
