# shellcheck shell=bash
# Sourced by the end-to-end scripts that run the real app without a desktop: a temporary
# folder $work holding the app's home ($work/home) and runtime folder ($work/run), the
# environment the app is started with, a wait on its log and the clean-up. Nothing of the
# caller's home, session or journal reaches the app.
#
#   sandbox_create [no-system-entries]
#                             sets $work and sandbox_env; call first. With no-system-entries
#                             the system's desktop entries are hidden: the handler of
#                             scrivlet: URLs is the sandbox's own or none
#   in_sandbox COMMAND...     runs a command with the sandbox's environment alone
#   wait_for_log LOG TEXT [COUNT [PID]]
#                             until LOG holds COUNT (1) lines with TEXT; fails at once when
#                             PID (the app) has ended, else after 30 s
#   stop_processes PID...     kills those of them still running (empty ones are skipped)
#   sandbox_end PID...        those, then $work: the exit trap's work
#   fail MESSAGE              prints it and the end of $work/log, exits 1; a script may define
#                             its own after sourcing this file

# The sanitizers' options of the test run reach the app, so that their reports end it.
# shellcheck disable=SC2120  # most callers want the system's entries as they are
sandbox_create() { # [no-system-entries]
    work=$(mktemp -d)
    mkdir -p "$work/home" "$work/run"
    chmod 700 "$work/run"
    sandbox_env=(PATH="$PATH" HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
        XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
        XDG_CACHE_HOME="$work/home/.cache" SCRIVLET_LOG_TO_STDERR=1)
    [ -z "${ASAN_OPTIONS:-}" ] || sandbox_env+=("ASAN_OPTIONS=$ASAN_OPTIONS")
    [ -z "${UBSAN_OPTIONS:-}" ] || sandbox_env+=("UBSAN_OPTIONS=$UBSAN_OPTIONS")
    [ "${1:-}" != no-system-entries ] || sandbox_env+=(XDG_DATA_DIRS="$work/no-system-entries")
}

in_sandbox() { env -i "${sandbox_env[@]}" "$@"; }

# The budget is wall-clock time: on a loaded machine (or under the sanitizers) each look at
# the log takes far longer than the pause between looks.
wait_for_log() { # log text [count [pid]]
    local log="$1" text="$2" count="${3:-1}" watched="${4:-}" deadline=$((SECONDS + 30))
    until [ "$(grep -cF -- "$text" "$log" 2>/dev/null || true)" -ge "$count" ]; do
        if [ -n "$watched" ] && ! kill -0 "$watched" 2>/dev/null; then
            [ "$(grep -cF -- "$text" "$log" 2>/dev/null || true)" -ge "$count" ] && return 0
            fail "the app ended before it logged: $text"
        fi
        [ "$SECONDS" -lt "$deadline" ] || fail "never logged in 30 s: $text"
        sleep 0.05
    done
}

stop_processes() { # pid...
    local running
    for running in "$@"; do
        if [ -n "$running" ] && kill -0 "$running" 2>/dev/null; then
            kill -KILL "$running" 2>/dev/null || true
            wait "$running" 2>/dev/null || true
        fi
    done
}

sandbox_end() { # pid...
    stop_processes "$@"
    rm -rf "$work"
}

fail() {
    echo "FAILED: $*"
    echo "--- log:"
    tail -n 50 "$work/log" 2>/dev/null || true
    exit 1
}
