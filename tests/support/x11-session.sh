# shellcheck shell=bash disable=SC2154,SC2034  # $work comes from the sourcing script; the
# file manager's pid and window set here are for it
# Sourced by the scripts that run programs on an X11 session of their own: a headless X server,
# a window manager, a private session bus (with a stand-in tray when asked) and the file
# manager, all in the temporary home $work/home, none touching the user's desktop. The
# sourcing script defines fail (message); stop_x11_session ends everything the session
# started, the accessibility bus and the file manager's helpers included.
#
# Every wait is for a signal the programs give, never for a time: a first run on a fresh
# machine (caches being built) or a loaded one stretches each step by seconds.
#   x11_session_missing [PROGRAM...]   what is not installed, empty when all is
#   start_x11_session [TRAY-HOST]      X server, session bus, window manager (and tray)
#   stop_x11_session                   ends all of it
#   wait_for WHAT COMMAND...           until COMMAND succeeds; fails after 30 s of clock
#   start_file_manager FOLDER          Dolphin's window up, active and on the bus
#   sanitizer_runtimes_of PLUG-IN      what $file_manager_preload needs for a sanitizer build
#   accessible_tree_published PID      the process's tree is on the accessibility bus
#   wait_for_view PROBE COUNT          Dolphin's view lists COUNT items (read by PROBE)
#   file_manager_select PATH...        selects files as a D-Bus request to show them does
#   start_other_application +X+Y TEXT, other_in_front, other_window
#   geometry_of WINDOW                 "x y width height" of the client area
#   active_window_of PID, bus_name_owned NAME, window_manager_runs, accessibility_bus

x11_session_missing() { # [program...]: prints what is missing to run a session; nothing when all is there
    local missing=() launcher_found=""
    for program in Xvfb openbox dbus-daemon dbus-send dolphin xdotool xwininfo xprop "$@"; do
        command -v "$program" >/dev/null || missing+=("$program")
    done
    # The file manager's selection comes over the accessibility bus, which the app starts.
    for launcher in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
        [ -x "$launcher" ] && launcher_found=yes
    done
    [ -n "$launcher_found" ] || missing+=(at-spi-bus-launcher)
    echo "${missing[*]}"
}

session_pids=()

# The stand-in tray ($tray_host). It is a test tool, not the product: what Qt's D-Bus module
# keeps at its end is no leak of ours, so a sanitizer build does not count it.
tray() {
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" "$tray_host" "$@"
}

# Starts Xvfb (on a free display it picks itself), the session bus, openbox and, when given
# one, the tray host; exports DISPLAY, DBUS_SESSION_BUS_ADDRESS and a home and runtime folder
# under $work. Args: [tray-host program]. The screen is 1600x1000 unless $x11_screen_size
# (WxHxDEPTH) says otherwise.
start_x11_session() {
    tray_host="${1:-}"
    mkdir -p "$work/home" "$work/run" "$work/files"
    chmod 700 "$work/run"
    export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config"
    export XDG_DATA_HOME="$work/home/.local/share" XDG_CACHE_HOME="$work/home/.cache"
    export QT_QPA_PLATFORM=xcb KDE_DEBUG=0 QT_LOGGING_RULES="*.debug=false;kf.*=false"
    # Nothing of the caller's desktop: its session, and whatever its accessibility bus says.
    unset SESSION_MANAGER XDG_CURRENT_DESKTOP XDG_SESSION_TYPE WAYLAND_DISPLAY
    unset AT_SPI_BUS_ADDRESS QT_ACCESSIBILITY QT_LINUX_ACCESSIBILITY_ALWAYS_ON NO_AT_BRIDGE

    exec 5>"$work/display"
    Xvfb -displayfd 5 -screen 0 "${x11_screen_size:-1600x1000x24}" -nolisten tcp >"$work/xvfb.log" 2>&1 &
    session_pids+=($!)
    exec 5>&-
    wait_for "the X server" test -s "$work/display"
    DISPLAY=":$(head -n 1 "$work/display")"
    export DISPLAY

    dbus-daemon --session --nofork --nopidfile --print-address=6 6>"$work/bus" \
        >/dev/null 2>&1 &
    session_pids+=($!)
    wait_for "the session bus" test -s "$work/bus"
    DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$work/bus")"
    export DBUS_SESSION_BUS_ADDRESS

    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    session_pids+=($!)
    window_manager_pid=$!
    wait_for "the window manager" window_manager_up

    if [ -n "$tray_host" ]; then
        # Started directly, not through tray(): its pid is the one to end.
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
            "$tray_host" watch "$work/tray" >"$work/tray.log" 2>&1 &
        session_pids+=($!)
        wait_for "the tray's watcher" test -e "$work/tray"
    fi
}

# The processes that carry the session's runtime folder: whatever the session started, down to
# what those started on their own (the accessibility bus, the file manager's helpers).
# Read with the shell's builtins only: a helper program would carry the folder itself.
session_processes() {
    local proc variables
    for proc in /proc/[0-9]*; do
        mapfile -d '' -t variables 2>/dev/null <"$proc/environ" || continue
        for variable in "${variables[@]}"; do
            if [ "$variable" = "XDG_RUNTIME_DIR=$work/run" ]; then
                echo "${proc#/proc/}"
                break
            fi
        done
    done
    return 0
}

stop_x11_session() {
    local index pid
    for ((index = ${#session_pids[@]} - 1; index >= 0; index--)); do
        kill "${session_pids[index]}" 2>/dev/null || true
        wait "${session_pids[index]}" 2>/dev/null || true
    done
    session_pids=()
    for pid in $(session_processes); do
        kill -KILL "$pid" 2>/dev/null || true
    done
}

# Waits for a signal: what it waits for, then a command that succeeds once it is there. The
# budget is wall-clock time, not a count of tries: on a loaded machine each try of an X or
# D-Bus client takes far longer than the pause between tries. It only bounds a failure; a
# wait that passes returns as soon as its command succeeds.
wait_for() {
    local what="$1" deadline=$((SECONDS + 30))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "no sign of $what after 30 s"
        sleep 0.1
    done
}

window_manager_runs() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep "window id" >/dev/null; }
# Runs, or fails at once with what it said when it ended before taking the screen.
window_manager_up() {
    window_manager_runs && return 0
    kill -0 "$window_manager_pid" 2>/dev/null ||
        fail "the window manager ended: $(tail -n 5 "$work/openbox.log" 2>/dev/null | tr '\n' ' ')"
    return 1
}

bus_name_owned() { # name: succeeds when someone owns it on the session bus
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep "boolean true" >/dev/null
}

active_window_of() { # pid: succeeds when that process owns the active window
    [ "$(xdotool getactivewindow getwindowpid 2>/dev/null)" = "$1" ]
}

# The sanitizer runtimes a plug-in was linked with, for $file_manager_preload: the file manager
# is not built with them, and they must be loaded before anything else in it. Empty for a
# plug-in built without them.
sanitizer_runtimes_of() { # shared-object
    ldd "$1" | awk '/lib(asan|ubsan)\.so/ { printf "%s%s", sep, $3; sep = " " }'
}

# Starts the file manager on a folder (with $file_manager_preload, when set, loaded first; its
# own leaks are not the tests' business) and waits until its window is up and active and it
# answers on the session bus; sets $dolphin_pid and $dolphin_window. Its view may still be
# listing the folder then (it shows "Loading..."): keys typed into it before the items are in
# are lost, so wait_for_view before typing.
start_file_manager() {
    LD_PRELOAD="${file_manager_preload:-}" \
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
        dolphin --new-window "$1" >>"$work/dolphin.log" 2>&1 &
    dolphin_pid=$!
    wait_for "the file manager's window" active_window_of "$dolphin_pid"
    dolphin_window=$(xdotool getactivewindow)
    wait_for "the file manager on the bus" bus_name_owned "org.kde.dolphin-$dolphin_pid"
}

# The file manager selects the given files (and shows their folder), as when asked over D-Bus
# to show them.
file_manager_select() { # path...
    local urls="" path
    for path in "$@"; do
        urls="${urls:+$urls,}file://${path// /%20}"
    done
    dbus-send --session --type=method_call --dest="org.kde.dolphin-$dolphin_pid" \
        /dolphin/Dolphin_1 org.kde.dolphin.MainWindow.openFiles "array:string:$urls" boolean:false
}

# Another application with a window of its own (xmessage at +X+Y showing TEXT); sets
# $other_pid. other_in_front brings it to the front and succeeds once it is there.
start_other_application() { # +X+Y text
    xmessage -geometry "$1" "$2" >/dev/null 2>&1 &
    other_pid=$!
}
# xmessage names no process on its window (no _NET_WM_PID): found by its class.
other_window() { xdotool search --onlyvisible --class xmessage 2>/dev/null | head -n 1; }
other_in_front() {
    [ -n "$(other_window)" ] && xdotool windowactivate "$(other_window)" 2>/dev/null &&
        [ "$(xdotool getactivewindow)" = "$(other_window)" ]
}

# A window's place as "x y width height" in root coordinates (the client area, without the
# window manager's frame).
geometry_of() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
        /Width:/ { w = $2 } /Height:/ { h = $2 } END { print x, y, w, h }'
}

# The accessibility bus's address; fails while no one has started that bus.
accessibility_bus() {
    dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus \
        org.a11y.Bus.GetAddress 2>/dev/null | tr -d ' '
}

# Succeeds once the process (pid) has published its accessible tree: its application is among
# the registry's and shows at least one window. Until then nothing it does on screen reaches a
# reader of that tree, however long one waits after starting it.
accessible_tree_published() { # pid
    local bus name owner windows
    bus=$(accessibility_bus) && [ -n "$bus" ] || return 1
    for name in $(dbus-send --bus="$bus" --print-reply=literal --dest=org.a11y.atspi.Registry \
        /org/a11y/atspi/accessible/root org.a11y.atspi.Accessible.GetChildren 2>/dev/null |
        grep -o ':[0-9.]*'); do
        owner=$(dbus-send --bus="$bus" --print-reply=literal --dest=org.freedesktop.DBus / \
            org.freedesktop.DBus.GetConnectionUnixProcessID "string:$name" 2>/dev/null)
        [ "${owner##* }" = "$1" ] || continue
        windows=$(dbus-send --bus="$bus" --print-reply=literal --dest="$name" \
            /org/a11y/atspi/accessible/root org.freedesktop.DBus.Properties.Get \
            string:org.a11y.atspi.Accessible string:ChildCount 2>/dev/null)
        [ "${windows##* }" -gt 0 ] 2>/dev/null && return 0
    done
    return 1
}

# Waits until the file manager's view shows COUNT items, as its accessible tree tells the
# probe (the program given). Until then its window is up but its view is still listing the
# folder; on a first run (caches being built) or a loaded machine that takes seconds.
# Needs the accessibility bus running with accessibility on.
wait_for_view() { # probe count
    local probe_pid
    "$1" --pid "$dolphin_pid" --scans >"$work/view-probe" 2>&1 &
    probe_pid=$!
    wait_for "$2 items in the file manager's view" grep -q " scan cells=$2 " "$work/view-probe"
    kill -TERM "$probe_pid" 2>/dev/null || true
    wait "$probe_pid" 2>/dev/null || true
}
