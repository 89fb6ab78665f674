#!/usr/bin/env bash
# Builds the Debian packages: scrivlet_<version>_amd64.deb and scrivlet-dolphin_<version>_amd64.deb
# in build/default. Installs what the build needs first (as tools/dev/test.sh does).
# Then, as root: apt install ./build/default/scrivlet_*.deb ./build/default/scrivlet-dolphin_*.deb
set -euo pipefail
cd "$(dirname "$0")/../.."

tools/dev/install-deps.sh
cmake --preset default
cmake --build --preset default
cd build/default
cpack -G DEB
ls -l -- scrivlet_*.deb scrivlet-dolphin_*.deb
