# shellcheck shell=bash disable=SC2154  # $app and $work belong to the sourcing script
# Sourced by the end-to-end scripts. Expects $app (the app's executable) and $work (the
# test's folder, whose run/ is the apps' runtime folder).

# The apps of this test's home, found by their program and their runtime folder.
app_pids() {
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/exe" 2>/dev/null)" = "$app" ] || continue
        tr '\0' '\n' <"$proc/environ" 2>/dev/null | grep -xF "XDG_RUNTIME_DIR=$work/run" >/dev/null &&
            echo "${proc#/proc/}"
    done
    return 0
}

# Waits, by the clock, until no app of this test's home runs; when one still does after the
# budget, prints what its threads are doing (their state, and their stacks when gdb is there)
# and fails. An app under the sanitizers takes longer to end (the leak check runs at exit).
wait_for_apps_to_end() { # seconds
    local deadline=$((SECONDS + $1)) pid
    while [ -n "$(app_pids)" ]; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            for pid in $(app_pids); do
                echo "--- app $pid still running: $(grep '^State:' "/proc/$pid/status" 2>/dev/null)"
                if command -v gdb >/dev/null; then
                    timeout 30 gdb -p "$pid" -batch -ex "thread apply all bt" 2>/dev/null | grep '^#\|^Thread'
                fi
            done
            return 1
        fi
        sleep 0.05
    done
}
