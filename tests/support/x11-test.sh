# shellcheck shell=bash disable=SC2154,SC2034  # $work, $shots, $out and fail come from the
# sourcing script; $app, $pid, $latency, $passed and $last_line set here are for it
# Sourced, after tests/support/x11-session.sh, by the scripts that run the app (or a probe)
# beside a file manager on an X11 session of their own: what they do alike before and around
# their own steps.
#   skip_without_x11_session [PROGRAM...]  exit 77 with a SKIPPED line when a program is missing
#   end_processes SIGNAL PID...            signals those given (empty ones skipped), reaps them
#   end_x11_test SIGNAL PID...             those, the session and $work: the exit trap's work
#   install_app BUNDLE                     into the session's home, as a user has it; sets $app
#   start_bench_session BUILD-FOLDER       for the benches: the build checked, the session with
#                                          its tray and the app installed; sets $latency
#   start_app [ARGUMENT...]                $app on the session, logging to $work/log; sets $pid
#                                          and returns once it is ready
#   logged TEXT, wait_for_line TEXT        the app's log holds TEXT (now, or within the wait)
#   panel_window, panel_shown, panel_hidden    the app's panel on the screen
#   dolphin_keys KEY...                    keys to the file manager's view, once it is in front
#   screenshot NAME                        the screen as $shots/NAME.png
#   wait_until TENTHS COMMAND...           until COMMAND succeeds, at most TENTHS tenths of a s
#   traced_count FIELD..., traced COUNT FIELD...   lines of the plug-ins' trace, $work/trace
#   expect_selection PATH|none [SECONDS]   the selection probe's next report ($out) reads so
#   records_of PATH                        how many records the home's store has for PATH
#   ok TEXT                                a step passed: says so and counts it in $passed

# shellcheck disable=SC2120  # called without programs where the session's own suffice
skip_without_x11_session() { # [program...]: beyond the session's own
    local missing
    missing=$(x11_session_missing "$@")
    [ -z "$missing" ] && return 0
    echo "SKIPPED: the X11 session needs programs that are not installed: $missing"
    exit 77
}

end_processes() { # signal pid...
    local signal=$1 running
    shift
    for running in "$@"; do
        [ -n "$running" ] || continue
        kill "-$signal" "$running" 2>/dev/null || true
        wait "$running" 2>/dev/null || true
    done
}

# For the exit trap, with the pids as they are at exit: trap 'end_x11_test KILL $pid' EXIT.
end_x11_test() { # signal pid...
    end_processes "$@"
    stop_x11_session
    rm -rf "$work"
}

# Run from anywhere else the app only offers to move itself to where a user has it.
install_app() { # bundle
    "$(dirname "${BASH_SOURCE[0]}")/../../tools/install.sh" "$(cd "$1" && pwd)" \
        >"$work/install.log" 2>&1 || fail "install failed: $(cat "$work/install.log")"
    app="$HOME/Applications/Scrivlet.app/Contents/MacOS/Scrivlet"
}

start_bench_session() { # build-folder
    latency="$1/bench/x11-follow-latency"
    if [ ! -x "$latency" ] || [ ! -x "$1/tests/support/tray-host" ]; then
        fail "build first: cmake --build --preset default --target Scrivlet tray-host x11-follow-latency"
    fi
    skip_without_x11_session
    echo "load average at the start: $(cut -d ' ' -f 1-3 /proc/loadavg) ($(nproc) cores)"
    start_x11_session "$1/tests/support/tray-host"
    install_app "$1/Scrivlet.app"
}

# Variables set before the call (SCRIVLET_LOG_DEBUG=1 start_app) reach the app too.
# shellcheck disable=SC2120  # most callers pass no arguments
start_app() { # [argument...]
    SCRIVLET_LOG_TO_STDERR=1 "$app" --desktop=x11 "$@" >"$work/out" 2>"$work/log" &
    pid=$!
    wait_for_line "Ready. Listening for Finder events and URL scheme requests."
}

logged() { grep -qsF -- "$1" "$work/log"; }
wait_for_line() { wait_for "the log line \"$1\"" logged "$1"; }

panel_window() { xdotool search --pid "$pid" --onlyvisible --name '^Annotation$' 2>/dev/null; }
panel_shown() { [ -n "$(panel_window)" ]; }
panel_hidden() { [ -z "$(panel_window)" ]; }

# Keys go to the view, which has the keyboard focus in the file manager's active window.
dolphin_keys() { # key...
    xdotool windowactivate --sync "$dolphin_window" >/dev/null 2>&1 || true
    wait_for "Dolphin in front" active_window_of "$dolphin_pid"
    xdotool key "$@"
}

screenshot() { # name
    import -display "$DISPLAY" -window root "$shots/$1.png" 2>/dev/null || true
}

# A wait with a budget of its own, for the steps that fail sooner than wait_for's 30 s.
wait_until() { # tenths command...
    local tenths=$1 tenth
    shift
    for ((tenth = 0; tenth < tenths; tenth++)); do "$@" && return 0; sleep 0.1; done
    return 1
}

# The plug-ins' trace ($work/trace): one tab-separated line for each answer to the file manager.
traced_count() { # field...: how many trace lines are exactly these fields
    local line
    line=$(IFS=$'\t' && printf '%s' "$*")
    [ -f "$work/trace" ] || { echo 0; return; }
    grep -cxF -- "$line" "$work/trace" || true
}
traced() { # count field...: the trace holds at least count such lines
    local count=$1
    shift
    [ "$(traced_count "$@")" -ge "$count" ]
}

# The selection probe's reports in $out, lines "MS selection PATH" ("MS selection none"):
# waits for one, after the last one expected, that reads "selection $1"; sets $last_line to
# it and moves $consumed past it.
consumed=0
last_line=""
expect_selection() { # path|none [seconds]
    local wanted="selection $1" tries=$((${2:-10} * 50)) lines index
    for _ in $(seq 1 "$tries"); do
        mapfile -t lines < <(tail -n "+$((consumed + 1))" "$out")
        for index in "${!lines[@]}"; do
            if [ "${lines[$index]#* }" = "$wanted" ]; then
                consumed=$((consumed + index + 1))
                last_line="${lines[$index]}"
                return 0
            fi
        done
        sleep 0.02
    done
    fail "no report of '$wanted'"
}

records_of() { # path
    sqlite3 "$HOME/.local/share/com.scrivlet.shared/annotations.sqlite" \
        "select count(*) from annotations where path = '${1//\'/\'\'}'"
}

ok() { echo "ok: $*"; passed=$((passed + 1)); }
