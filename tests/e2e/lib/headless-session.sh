# shellcheck shell=bash
# Sourced by the end-to-end scripts that need a desktop: runs the script again inside a
# headless session of its own (Xvfb on a display it picks, a private D-Bus session, a
# temporary home and runtime folder, nothing of the caller's environment), and afterwards
# ends whatever that session left running.

skip() { echo "SKIPPED: $*"; exit 77; }

require_programs() { # program...
    for program in Xvfb openbox dbus-run-session dbus-send "$@"; do
        command -v "$program" >/dev/null 2>&1 || skip "$program is not installed"
    done
}

in_headless_session() { [ "${HEADLESS_SESSION_WORK:-}" != "" ]; }

# The processes started in the session at $1: they carry its runtime folder.
session_pids() { # work folder
    for proc in /proc/[0-9]*; do
        { tr '\0' '\n' <"$proc/environ"; } 2>/dev/null | grep -qxF "XDG_RUNTIME_DIR=$1/run" &&
            echo "${proc#/proc/}"
    done
    return 0
}

run_in_headless_session() { # script [argument...]; exits with the script's status
    local work display xvfb status=0
    work=$(mktemp -d)
    mkdir -p "$work/home" "$work/run"
    chmod 700 "$work/run"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb=$!
    for _ in $(seq 1 100); do
        [ -s "$work/display" ] && break
        sleep 0.05
    done
    display=$(cat "$work/display")
    if [ -z "$display" ]; then
        kill "$xvfb" 2>/dev/null || true
        cat "$work/xvfb.log"
        rm -rf "$work"
        echo "FAILED: Xvfb did not start"
        exit 1
    fi
    env -i PATH="$PATH" LANG=C.UTF-8 HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
        XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
        XDG_CACHE_HOME="$work/home/.cache" DISPLAY=":$display" HEADLESS_SESSION_WORK="$work" \
        dbus-run-session -- "$@" || status=$?
    for pid in $(session_pids "$work"); do
        kill -KILL "$pid" 2>/dev/null || true
    done
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    rm -rf "$work"
    exit "$status"
}

# Waits for the D-Bus name $1 on the session bus, up to $2 seconds.
wait_for_bus_name() { # name seconds
    local tries=$(($2 * 20))
    for _ in $(seq 1 "$tries"); do
        if dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
            org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q "boolean true"; then
            return 0
        fi
        sleep 0.05
    done
    return 1
}
