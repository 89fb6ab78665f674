#!/usr/bin/env bash
# A folder of the home swapped again and again with a link to a folder outside it, while the
# real app takes "annotate" and "remove" URLs for the files in it, saves panel edits of them
# and syncs their badges at launch. Not one file outside the home may be touched: half of the
# files there carry a badge and a comment as the app writes them, which a removal through the
# link would take away, half carry none, which an annotation through it would add; and any
# attribute write changes a file's change time.
# Usage: link-race.sh PATH/TO/Scrivlet PATH/TO/scrivlet-open PATH/TO/scrivlet-desktop
#                     PATH/TO/link-race [SECONDS]
set -euo pipefail
app="$1"
opener="$2"
desktop="$3"
race_tool="$4"
seconds="${5:-20}"
pid=""
swapper=""
files=400

# shellcheck source=../support/sandbox.sh
. "$(dirname "$0")/../support/sandbox.sh"
sandbox_create no-system-entries
trap 'sandbox_end "$pid" "$swapper"' EXIT
trap 'exit 1' INT TERM HUP

# Hands URLs to the app. Under a sanitizer build on a busy machine a batch can take longer
# than the opener waits for its answer: the app has the URLs then (exit 3), which is all
# this test needs, as each delivery is handled whole before the next event.
open_urls() {
    local status=0
    in_sandbox "$opener" --timeout 30 "$@" || status=$?
    [ "$status" -eq 0 ] || [ "$status" -eq 3 ] || fail "scrivlet-open failed with status $status"
}

ready="Ready. Listening for Finder events and URL scheme requests."
start_app() { # log file, to which each launch appends
    local before
    touch "$1"
    before=$(grep -cF "$ready" "$1" || true)
    env -i "${sandbox_env[@]}" "$app" >/dev/null 2>>"$1" &
    pid=$!
    wait_for_log "$1" "$ready" $((before + 1)) "$pid"
}
# Whether the app ends cleanly is for the quit tests to judge; here it only has to end.
stop_app() {
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
}
start_swapping() { # seconds
    "$race_tool" swap "$work/home/race" "$work/home/swap" "$1" >"$work/swaps" &
    swapper=$!
}
swapping() { kill -0 "$swapper" 2>/dev/null; }
finish_swapping() {
    wait "$swapper" || fail "the swapper failed"
    swapper=""
    if [ -L "$work/home/race" ] || [ ! -d "$work/home/race" ]; then
        fail "race is not a folder again"
    fi
}
urls() { # command first last
    for i in $(seq "$2" "$3"); do echo "scrivlet://$1?path=$work/home/race/f$i.txt"; done
}

mkdir -p "$work/home/race" "$work/outside"
for i in $(seq 1 "$files"); do
    echo "$i" >"$work/home/race/f$i.txt"
    echo "$i" >"$work/outside/f$i.txt"
done
ln -s "$work/outside" "$work/home/swap"
mapfile -t odd < <(seq -f "$work/outside/f%g.txt" 1 2 "$files")
"$race_tool" mark "${odd[@]}" || fail "cannot mark the files outside"
"$race_tool" snapshot "$work/outside" >"$work/before"

# 1. URL commands and panel edits while the folder is swapped. Each round sends every file's
#    "annotate", then every file's "remove", 50 URLs to an opener; now and then the panel
#    shows one of the files through the folder's path and its status is changed.
start_app "$work/log"
start_swapping "$seconds"
round=0
while swapping; do
    round=$((round + 1))
    for command in annotate remove; do
        for first in $(seq 1 50 "$files"); do
            mapfile -t batch < <(urls "$command" "$first" $((first + 49)))
            open_urls "${batch[@]}"
            swapping || break 2
        done
    done
    file="$work/home/race/f$(( (round % files) + 1 )).txt"
    in_sandbox "$desktop" select-file "$file" >/dev/null || fail "cannot select $file"
    in_sandbox "$desktop" set-status flagged >/dev/null 2>&1 || true # no panel: the file was gone
done
finish_swapping
echo "$(cat "$work/swaps") exchanges in $seconds s, $round rounds of URLs"
opened=$(grep -c "Opened annotation editor for f" "$work/log" || true)
rejected=$(grep -c "Rejected URL: path outside home or doesn't exist: $work/outside/f" "$work/log" ||
    true)
if [ "$opened" -eq 0 ] || [ "$rejected" -eq 0 ]; then
    fail "the race never ran both ways: $opened opened, $rejected rejected"
fi
echo "$opened annotate URLs accepted, $rejected URLs rejected as leading outside"

# 2. The launch's badge sync of the records left over, while the folder is swapped: launches
#    one after another for a quarter of the time.
mapfile -t batch < <(urls annotate 1 "$files")
open_urls "${batch[@]}"
stop_app
start_swapping "$(awk "BEGIN { print $seconds / 4 }")"
launches=0
while swapping; do
    start_app "$work/launch.log"
    stop_app
    launches=$((launches + 1))
done
finish_swapping
synced=$(grep -c "Synced badge xattrs for $files annotations" "$work/launch.log" || true)
[ "$synced" -eq "$launches" ] || fail "$launches launches, $synced badge syncs of $files records"
echo "$launches launches synced $files badges each"

# The writes that were refused, and those that reached the files in the home folder: the
# race must have sent writes both ways for its result to mean anything.
refused=$(cat "$work/log" "$work/launch.log" | grep -c "symbolic link on the way" || true)
badged=$("$race_tool" snapshot "$work/home/race" | grep -c "user.scrivlet.badge=" || true)
echo "$refused writes refused for a link on the way; $badged of $files files in the home badged"
"$race_tool" snapshot "$work/outside" >"$work/after"
touched=$(diff "$work/before" "$work/after" | grep -c '^>' || true)
echo "outside files touched: $touched of $files"
[ "$touched" -eq 0 ] || fail "files outside the home were written: $(diff "$work/before" "$work/after" | head -n 6)"
if [ "$refused" -eq 0 ] || [ "$badged" -eq 0 ]; then
    fail "the writes never met the link, or never reached the home folder"
fi
echo "ok: no file outside the home was touched"
