#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: the demo scenario, which plays a
# short session with the app on the simulated desktop and prints its transcript.
set -euo pipefail
cd "$(dirname "$0")/../.."

tools/dev/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
build/default/tools/scrivlet-scenario tests/scenarios/demo.scenario
