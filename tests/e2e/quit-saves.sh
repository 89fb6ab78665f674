#!/usr/bin/env bash
# Quitting the real app binary right after a panel edit, while the panel still fades in: the
# edit is stored and the app ends cleanly, whether SIGTERM or "Quit Scrivlet" ends it, 0 to
# 500 ms after the edit. With the store unable to take writes (a full disk, another program's
# lock) the app still ends cleanly, with one line for the failure and one for each lost edit;
# once the store takes writes again the kept edits land, with one line for the recovery. A
# second copy that ends at launch says only why.
# Sanitizer options in the environment reach the app, so an asan build's reports fail the test.
# Usage: quit-saves.sh PATH/TO/Scrivlet PATH/TO/scrivlet-desktop
set -euo pipefail
desktop="$2"
pid=""
reader=""
locker=""
passed=0
# shellcheck source=../support/sandbox.sh
. "$(dirname "$0")/../support/sandbox.sh"
sandbox_create no-system-entries
cleanup() {
    exec 7>&- 2>/dev/null || true
    sandbox_end "$pid" "$reader" "$locker"
}
trap cleanup EXIT

ok() { echo "ok: $*"; passed=$((passed + 1)); }

drive() { in_sandbox "$desktop" "$@"; }

# The log goes through a pipe: a limit on file sizes, which stands in for a full disk below,
# must not reach it. A write past that limit fails rather than killing the app.
start_app() {
    rm -f "$work/log.pipe"
    mkfifo "$work/log.pipe"
    cat "$work/log.pipe" >"$work/log" &
    reader=$!
    (
        trap '' XFSZ
        exec env -i "${sandbox_env[@]}" "$app" >"$work/out" 2>"$work/log.pipe"
    ) &
    pid=$! # env, then the app
    wait_for_line "Ready. Listening for Finder events and URL scheme requests."
    wait_until drive status >/dev/null 2>&1 || fail "the desktop cannot be driven"
}
wait_until() { # command...: a sanitized app can be slow, so up to 30 s
    local deadline=$((SECONDS + 30))
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}
logged() { [ "$(grep -cF -- "$1" "$work/log")" -ge "${2:-1}" ]; }
wait_for_line() { wait_until logged "$1" || fail "never logged: $1"; }
count() { grep -cF -- "$1" "$work/log" || true; }

# The app ends by itself once told to; its status is the test's concern.
quit_app() { # term | menu
    if [ "$1" = term ]; then
        kill -TERM "$pid"
    else
        drive open-menu >/dev/null || fail "the menu did not open"
        drive choose "Quit Scrivlet" >/dev/null || fail "could not choose Quit Scrivlet"
    fi
}
wait_app() { # answers the app's exit status once its whole log is in
    local status=0
    wait "$pid" || status=$?
    pid=""
    wait "$reader" || true
    reader=""
    return "$status"
}
no_sanitizer_reports() {
    ! grep -qE "AddressSanitizer|LeakSanitizer|runtime error:" "$work/log" ||
        fail "$1: the sanitizers reported"
}

# The panel shows once the selection reached the app; the edit is the status it offers.
edit() { # file
    touch "$1"
    drive select-file "$1" >/dev/null || fail "could not select $1"
    wait_until drive set-status flagged >/dev/null 2>&1 || fail "no panel to edit for $1"
}
store="$work/home/.local/share/com.scrivlet.shared/annotations.sqlite"
status_of() { sqlite3 "$store" "SELECT status FROM annotations WHERE path = '$1'"; }
stored_like() { sqlite3 "$store" "SELECT count(*) FROM annotations WHERE path LIKE '$1'"; }

mkdir -p "$work/home/docs"
built_bundle=$(cd "$(dirname "$1")/../.." && pwd)
env -i PATH="$PATH" HOME="$work/home" "$(dirname "$0")/../../tools/install.sh" "$built_bundle" \
    >"$work/install.log" || fail "install failed: $(cat "$work/install.log")"
app="$work/home/Applications/Scrivlet.app/Contents/MacOS/Scrivlet"
[ -x "$app" ] || fail "install left no app at $app"

# 1. An edit, then a quit at once or a little later: by then the panel may still be fading in.
for how in term menu; do
    for delay in 0 0.05 0.1 0.2 0.5; do
        file="$work/home/docs/$how-$delay.txt"
        start_app
        edit "$file"
        sleep "$delay" # the deliberate time between the edit and the quit
        quit_app "$how"
        status=0
        wait_app || status=$?
        [ "$status" -eq 0 ] || fail "quit by $how $delay s after an edit: exit status $status"
        [ "$(status_of "$file")" = flagged ] || fail "quit by $how $delay s after an edit: not stored"
        no_sanitizer_reports "quit by $how $delay s after an edit"
    done
    ok "edits stored and a clean exit when quit by $how 0, 50, 100, 200 and 500 ms after them"
done

# 2. A full disk (no write may grow a file): one line for the failure, one per lost edit.
start_app
prlimit --pid "$pid" --fsize=0: || fail "cannot limit the app's file sizes"
for n in 1 2 3; do edit "$work/home/docs/full-$n.txt"; done
wait_for_line "Failed to save the annotation of"
quit_app term
status=0
wait_app || status=$?
[ "$status" -eq 0 ] || fail "quit with a full disk: exit status $status"
[ "$(count "Failed to save the annotation of")" -eq 1 ] || fail "full disk: not one failure line"
[ "$(count "before closing")" -eq 3 ] || fail "full disk: not one line for each of 3 lost edits"
[ "$(stored_like "%/full-%")" -eq 0 ] || fail "full disk: an edit reported lost was stored"
no_sanitizer_reports "quit with a full disk"
ok "full disk: a clean exit, one failure line and one line for each of 3 lost edits"

# 3. The disk has room again before the quit: the kept edits land on the backoff.
start_app
prlimit --pid "$pid" --fsize=0: || fail "cannot limit the app's file sizes"
for n in 1 2 3; do edit "$work/home/docs/recover-$n.txt"; done
wait_for_line "Failed to save the annotation of"
prlimit --pid "$pid" --fsize=unlimited: || fail "cannot lift the limit"
wait_for_line "Saving annotations works again"
# The recovery line comes with the first save that works; the other kept edits follow it.
all_recovered() { [ "$(stored_like "%/recover-%")" -eq 3 ]; }
wait_until all_recovered || fail "recovery: not all 3 kept edits stored"
quit_app menu
status=0
wait_app || status=$?
[ "$status" -eq 0 ] || fail "quit after a recovery: exit status $status"
[ "$(count "Failed to save the annotation of")" -eq 1 ] || fail "recovery: not one failure line"
[ "$(count "Saving annotations works again")" -eq 1 ] || fail "recovery: not one recovery line"
[ "$(count "before closing")" -eq 0 ] || fail "recovery: an edit was reported lost"
no_sanitizer_reports "quit after a recovery"
ok "disk freed: the 3 kept edits stored, one failure and one recovery line"

# 4. Another program holds the store's write lock until after the app ended.
start_app
mkfifo "$work/lock.in"
sqlite3 "$store" <"$work/lock.in" >"$work/lock.out" &
locker=$!
exec 7>"$work/lock.in"
echo "BEGIN EXCLUSIVE; SELECT 'locked';" >&7
wait_until grep -qx locked "$work/lock.out" || fail "could not lock the store"
for n in 1 2 3; do edit "$work/home/docs/locked-$n.txt"; done
wait_for_line "Failed to save the annotation of"
quit_app menu
status=0
wait_app || status=$?
exec 7>&-
wait "$locker" || true
locker=""
[ "$status" -eq 0 ] || fail "quit with a locked store: exit status $status"
[ "$(count "Failed to save the annotation of")" -eq 1 ] || fail "locked store: not one failure line"
[ "$(count "before closing")" -eq 3 ] || fail "locked store: not one line for each of 3 lost edits"
[ "$(stored_like "%/locked-%")" -eq 0 ] || fail "locked store: an edit reported lost was stored"
no_sanitizer_reports "quit with a locked store"
ok "locked store: a clean exit, one failure line and one line for each of 3 lost edits"

# 5. A second copy, started while one runs, ends during its launch with its instance line and
# nothing before it that would suggest it keeps running.
start_app
in_second_copy() { in_sandbox "$app" 2>"$work/second.log"; }
status=0
in_second_copy || status=$?
[ "$status" -eq 0 ] || fail "a second copy: exit status $status"
grep -q "Another Scrivlet instance is already running" "$work/second.log" ||
    fail "a second copy: no instance line"
if grep -v "Another Scrivlet instance is already running" "$work/second.log" | grep . >/dev/null; then
    fail "a second copy said more: $(cat "$work/second.log")"
fi
quit_app term
wait_app || fail "the first copy: exit status $?"
ok "a second copy ends with its instance line alone"

echo "$passed passed, 0 failed"
