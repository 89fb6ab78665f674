#!/usr/bin/env bash
# The real app follows files moved while it was not running: two files are annotated, the
# app quits, one file is moved and the other renamed from a shell, and at the next start both
# records are under their new paths, the log says so, and both badges are right.
# Usage: moved-files.sh PATH/TO/Scrivlet PATH/TO/scrivlet-seed
set -euo pipefail
app="$1"
seed="$2"

app_pid=""

# shellcheck source=../support/sandbox.sh
. "$(dirname "$0")/../support/sandbox.sh"
sandbox_create
# Whatever way the script ends, no app it started is left running.
cleanup() {
    stop_processes "$app_pid"
    rm -rf "$work"
}
trap cleanup EXIT
home="$work/home"
mkdir -p "$home/Documents/Drafts" "$home/Archive"

fail() { echo "FAILED: $*"; echo "--- log:"; cat "$work/log" 2>/dev/null || true; exit 1; }
as_user() { in_sandbox "$@"; }

run_app_until_ready() {
    # The background job opens its log only once it runs: empty the file first, or the wait
    # below could read the previous run's "Ready" line.
    : >"$work/log"
    # Started directly, not through as_user: $! must be the app itself.
    env -i "${sandbox_env[@]}" "$app" >"$work/out" 2>"$work/log" &
    app_pid=$!
    wait_for_log "$work/log" "Ready. Listening for Finder events" 1 "$app_pid"
    kill -TERM "$app_pid"
    wait "$app_pid" || fail "exit status $? after SIGTERM"
    app_pid=""
}
app_lines() { sed -n 's/.*com\.scrivlet:app //p' "$work/log"; }

echo "draft" >"$home/Documents/Drafts/plan.txt"
echo "report" >"$home/Documents/report.txt"
run_app_until_ready
as_user "$seed" annotate "$home/Documents/Drafts/plan.txt" --flagged "$home/Documents/report.txt" ||
    fail "could not annotate"

mv "$home/Documents/Drafts/plan.txt" "$home/Archive/plan.txt"
mv "$home/Documents/report.txt" "$home/Documents/report-final.txt"
# Badges travel with the files; take one off so the sync has something to do.
as_user "$seed" clear-badge "$home/Archive/plan.txt"

run_app_until_ready
arrow=$(printf '\xe2\x86\x92')
app_lines | grep -xF "Resolved moved file: $home/Documents/Drafts/plan.txt $arrow $home/Archive/plan.txt" >/dev/null ||
    fail "the move is not in the log"
app_lines | grep -xF "Resolved moved file: $home/Documents/report.txt $arrow $home/Documents/report-final.txt" >/dev/null ||
    fail "the rename is not in the log"
app_lines | grep -xF "Refreshed stale bookmark for report-final.txt" >/dev/null || fail "no bookmark refresh"
app_lines | grep -xF "Synced badge xattrs for 2 annotations" >/dev/null || fail "no badge sync line"
echo "ok: the log names both moves"

[ "$(as_user "$seed" show "$home/Archive/plan.txt")" = annotated ] || fail "moved record missing"
[ "$(as_user "$seed" show "$home/Documents/report-final.txt")" = flagged ] ||
    fail "renamed record missing"
[ "$(as_user "$seed" show "$home/Documents/report.txt")" = none ] || fail "old key left behind"
echo "ok: both records are under their new paths"

[ "$(as_user "$seed" badge "$home/Archive/plan.txt")" = annotated ] || fail "badge not restored"
[ "$(as_user "$seed" badge "$home/Documents/report-final.txt")" = flagged ] || fail "wrong badge"
echo "ok: both badges are right"

# A third start finds nothing to do.
run_app_until_ready
app_lines | grep "^Resolved\|^Refreshed\|^Stale" >/dev/null && fail "a settled store was changed again"
echo "ok: nothing moves at the next start"
echo "4 passed, 0 failed"
