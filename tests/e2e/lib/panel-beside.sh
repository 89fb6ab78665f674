# shellcheck shell=bash disable=SC2154  # $work belongs to the sourcing script
# Sourced by the end-to-end scripts that watch the app's panel beside the file manager on an
# X11 session, after tests/support/x11-test.sh. Expects $work/log (the app's stderr, with debug
# lines) and $shots (where screenshots go).

# The panel lies right of the window, within a small gap, and overlaps it from top to bottom;
# or, with `left`, left of it.
panel_beside() { # window [right|left]
    local panel px py pw ph dx dy dw dh
    panel=$(panel_window) || return 1
    [ -n "$panel" ] || return 1
    read -r px py pw ph <<<"$(geometry_of "$panel")"
    read -r dx dy dw dh <<<"$(geometry_of "$1")"
    [ "$py" -lt $((dy + dh)) ] && [ $((py + ph)) -gt "$dy" ] && [ "$pw" -gt 0 ] || return 1
    if [ "${2:-right}" = left ]; then
        [ $((px + pw)) -le "$dx" ] && [ $((px + pw)) -ge $((dx - 40)) ]
    else
        [ "$px" -ge $((dx + dw)) ] && [ "$px" -le $((dx + dw + 40)) ]
    fi
}

# The app logs, at debug level, the file each panel it shows is for.
log_mark=0
mark_log() { log_mark=$(wc -l <"$work/log"); }
shown_since_mark() { tail -n "+$((log_mark + 1))" "$work/log" | sed -n 's/.*Panel shown for //p'; }
last_shown_is() { [ "$(shown_since_mark | tail -n 1)" = "$1" ]; }

# Waits until, since the last mark, the panel was last shown for `path` and sits beside
# `window`; then keeps a screenshot named `shot`.
expect_panel() { # shot path window [right|left]
    local shot=$1 path=$2 window=$3 side=${4:-right}
    wait_for "the panel shown for $path" last_shown_is "$path"
    wait_for "the panel for $path beside window $window" panel_beside "$window" "$side"
    last_shown_is "$path" || fail "the panel went on to: $(shown_since_mark | tail -n 1)"
    screenshot "$shot"
    echo "ok: $shot: the panel for ${path##*/} beside window $window"
}

# Sends keys that select `path` however often they come (typing its name, or End) until the
# app shows the panel for it: a file manager just started or just shown tells of no moment
# from which its keys reach the app's reader. Each round waits up to 2 s for the answer.
select_until_shown() { # path window key...
    local path=$1 window=$2
    shift 2
    for _ in 1 2 3 4 5; do
        keys_to "$window" "$@"
        for _ in $(seq 1 20); do
            last_shown_is "$path" && return 0
            sleep 0.1
        done
    done
}

# Keys to the file manager's window, once it is in front.
keys_to() { # window key...
    local window=$1
    shift
    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
    wait_for "window $window in front" test "$(xdotool getactivewindow 2>/dev/null)" = "$window"
    xdotool key --clearmodifiers "$@"
}

# Types a folder into the location bar of the window's active view and goes there; waits
# until the title, the folder's full path, says it is shown. The bar completes what is typed
# as it comes, off the toolkit's thread: on a busy machine a completion can land over keys
# typed after it, and the path is then typed again.
go_to_folder() { # window folder
    local attempt
    for attempt in 1 2 3; do
        keys_to "$1" ctrl+l
        xdotool key ctrl+a
        xdotool type --delay 10 "$2"
        xdotool key Return
        for _ in $(seq 1 50); do
            title_is "$1" "$2" && return 0
            sleep 0.1
        done
        echo "the folder $2 was not shown after typing it (attempt $attempt)"
    done
    fail "the folder $2 was not shown"
}
title_is() { # window folder
    case "$(xdotool getwindowname "$1" 2>/dev/null)" in
    "$2 — Dolphin" | "$2 - Dolphin") return 0 ;;
    esac
    return 1
}
