#!/usr/bin/env bash
# The real app follows files moved while it was not running: two files are annotated, the
# app quits, one file is moved and the other renamed from a shell, and at the next start both
# records are under their new paths, the log says so, and both badges are right.
# Usage: moved-files.sh PATH/TO/Scrivlet PATH/TO/scrivlet-seed
set -euo pipefail
app="$1"
seed="$2"

work=$(mktemp -d)
app_pid=""
# Whatever way the script ends, no app it started is left running.
cleanup() {
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
        kill -KILL "$app_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
home="$work/home"
mkdir -p "$home/Documents/Drafts" "$home/Archive" "$work/run"
chmod 700 "$work/run"

fail() { echo "FAILED: $*"; echo "--- log:"; cat "$work/log" 2>/dev/null || true; exit 1; }
as_user() { env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$work/run" "$@"; }

run_app_until_ready() {
    # The background job opens its log only once it runs: empty the file first, or the wait
    # below could read the previous run's "Ready" line.
    : >"$work/log"
    # Started directly, not through as_user: $! must be the app itself.
    # The log goes to stderr even where a journal runs, so that this check can read it.
    env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$work/run" SCRIVLET_LOG_TO_STDERR=1 \
        "$app" >"$work/out" 2>"$work/log" &
    app_pid=$!
    local pid=$app_pid
    # Up to 30 s: the desktop tests beside this one can keep a 2-core machine busy.
    for _ in $(seq 1 600); do
        grep -qF "Ready. Listening for Finder events" "$work/log" && break
        kill -0 "$pid" 2>/dev/null || fail "the app ended early"
        sleep 0.05
    done
    grep -qF "Ready. Listening for Finder events" "$work/log" || fail "never ready"
    kill -TERM "$pid"
    wait "$pid" || fail "exit status $? after SIGTERM"
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
app_lines | grep -qxF "Resolved moved file: $home/Documents/Drafts/plan.txt $arrow $home/Archive/plan.txt" ||
    fail "the move is not in the log"
app_lines | grep -qxF "Resolved moved file: $home/Documents/report.txt $arrow $home/Documents/report-final.txt" ||
    fail "the rename is not in the log"
app_lines | grep -qxF "Refreshed stale bookmark for report-final.txt" || fail "no bookmark refresh"
app_lines | grep -qxF "Synced badge xattrs for 2 annotations" || fail "no badge sync line"
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
app_lines | grep -q "^Resolved\|^Refreshed\|^Stale" && fail "a settled store was changed again"
echo "ok: nothing moves at the next start"
echo "4 passed, 0 failed"
