#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: a tour of the real system in a
# private headless X11 session (Dolphin with the build's plug-ins, and the app), each moment
# checked and saved as a screenshot, then a contact sheet of them all.
# Usage: tools/dev/demo.sh [OUTPUT-FOLDER]   the tour (default folder: build/tour)
#        tools/dev/demo.sh --display         the app and Dolphin on the X11 desktop running now
#        tools/dev/demo.sh --simulated       the simulated desktop's transcript instead
set -euo pipefail
cd "$(dirname "$0")/../.."

mode=tour
case "${1:-}" in
--simulated) mode=simulated && shift ;;
--display) mode=display && shift ;;
esac

tools/dev/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
case "$mode" in
simulated) build/default/tools/scrivlet-scenario tests/scenarios/demo.scenario ;;
display) tools/dev/tour.sh --display "$@" ;;
tour) tools/dev/tour.sh "$@" ;;
esac
