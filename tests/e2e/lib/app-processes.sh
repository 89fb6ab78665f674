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
