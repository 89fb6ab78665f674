#!/usr/bin/env bash
# Starts the real app binary in a temporary home, throws 1,000 random byte strings at its
# control socket, and checks that it still runs, still answers, and ends cleanly; then checks
# that scrivlet-desktop fails on an "error:" reply and on an app that never answers.
# Usage: control-socket-fuzz.sh PATH/TO/Scrivlet PATH/TO/scrivlet-desktop PATH/TO/control-socket-fuzzer
set -euo pipefail
app="$1"
desktop="$2"
fuzzer="$3"
pid=""
mute_pid=""

# shellcheck source=../support/sandbox.sh
. "$(dirname "$0")/../support/sandbox.sh"
sandbox_create
# Whatever way the script ends, nothing it started outlives it.
cleanup() {
    stop_processes "$pid" "$mute_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

socket="$work/run/scrivlet/desktop.sock"

wait_for_socket() { # pid of the listener
    local deadline=$((SECONDS + 30))
    until [ -S "$socket" ]; do
        if ! kill -0 "$1" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
            fail "no control socket at $socket"
        fi
        sleep 0.05
    done
}

# 1. A thousand random requests; the app keeps running and answers.
env -i "${sandbox_env[@]}" "$app" >"$work/out" 2>"$work/log" &
pid=$!
wait_for_socket "$pid"
"$fuzzer" send "$socket" 1000 20261207 || fail "the socket stopped taking requests"
kill -0 "$pid" 2>/dev/null || fail "the app died"
in_sandbox "$desktop" status | grep "^status item" >/dev/null || fail "no answer to status afterwards"
echo "ok: 1000 random requests, the app still runs and answers status"

# 2. A bad number is an error reply and a failing client; the app goes on.
if in_sandbox "$desktop" open-menu x 2>"$work/client-err"; then
    fail "scrivlet-desktop exited 0 on an error reply"
fi
grep -q "^error: open-menu needs a status item number" "$work/client-err" ||
    fail "no error reply for open-menu x"
kill -0 "$pid" 2>/dev/null || fail "open-menu x ended the app"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"
echo "ok: open-menu x is an error for the client, the app goes on and ends cleanly"

# 3. An app that takes the request and never answers: the client fails.
rm -f "$socket"
"$fuzzer" mute "$socket" &
mute_pid=$!
wait_for_socket "$mute_pid"
if in_sandbox "$desktop" status >/dev/null 2>"$work/client-err"; then
    fail "scrivlet-desktop exited 0 without an answer"
fi
grep -q "no answer from Scrivlet" "$work/client-err" || fail "no message for a missing answer"
wait "$mute_pid" || true
mute_pid=""
echo "ok: no answer is a failure for the client"
echo "3 passed, 0 failed"
