#!/usr/bin/env bash
# From `scrivlet set` returning to the running app's log line "Panel shows a change made
# elsewhere": the app's real binary on the simulated desktop in a temporary home, the panel
# showing one file, the command changing that file's rating. Prints the median and p95 in
# milliseconds over RUNS (50) sets, and the load average: the machine may be shared.
# Usage: bench/command-to-panel.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath "${1:-$root/build/default}")"
runs="${2:-50}"
app="$build/Scrivlet.app/Contents/MacOS/Scrivlet"
command="$build/Scrivlet.app/Contents/MacOS/scrivlet"
shown="Panel shows a change made elsewhere"

# shellcheck source=../tests/support/sandbox.sh
. "$root/tests/support/sandbox.sh"
sandbox_create
pid=""
trap 'sandbox_end "$pid"' EXIT
file="$work/home/report.txt"
echo text > "$file"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
# Not through in_sandbox: in the background that is a subshell, and $! would name it, not the
# app, which the exit trap would then leave running.
env -i "${sandbox_env[@]}" "$app" > /dev/null 2> "$work/log" &
pid=$!
wait_for_log "$work/log" "Ready." 1 "$pid"
in_sandbox "$command" set "$file" --rating 5 > /dev/null
in_sandbox "$build/tools/scrivlet-desktop" select-file "$file" > /dev/null
# The panel shows the file once a change to it shows; until then, set again.
for try in $(seq 1 100); do
    grep -qF -- "$shown" "$work/log" && break
    kill -0 "$pid" 2> /dev/null || fail "the app ended"
    in_sandbox "$command" set "$file" --rating $((try % 5 + 1)) > /dev/null
    sleep 0.2
done
grep -qF -- "$shown" "$work/log" || fail "the panel never showed the file"

samples=()
for run in $(seq 1 "$runs"); do
    seen=$(grep -cF -- "$shown" "$work/log" || true)
    in_sandbox "$command" set "$file" --rating $((run % 5 + 1)) > /dev/null
    returned=$(date +%s%N)
    # A tight look at the log: a pause between looks would be measured with the latency.
    until [ "$(grep -cF -- "$shown" "$work/log" || true)" -gt "$seen" ]; do :; done
    samples+=($((($(date +%s%N) - returned) / 1000)))
done
printf '%s\n' "${samples[@]}" | sort -n | awk -v runs="$runs" '
    { us[NR] = $1 }
    END {
        median = runs % 2 ? us[(runs + 1) / 2] : (us[runs / 2] + us[runs / 2 + 1]) / 2
        p95 = us[int(runs * 0.95 + 0.999)]
        printf "scrivlet set returned to panel updated, %d runs: median %.1f ms, p95 %.1f ms, max %.1f ms\n",
            runs, median / 1000, p95 / 1000, us[runs] / 1000
    }'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
