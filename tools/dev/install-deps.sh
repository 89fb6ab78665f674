#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing, so a
# second run does nothing. Run as root (or with sudo available).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config clang-format clang-tidy shellcheck
    libsqlite3-dev libutf8proc-dev uuid-dev nlohmann-json3-dev liburiparser-dev libsystemd-dev
    libgtest-dev libgmock-dev libbenchmark-dev locales
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    sqlite3 xdg-utils
)

# The panel's dates follow the user's time locale; the tests check an English and a German one.
test_locales=(en_US.UTF-8 de_DE.UTF-8)
ensure_locales() {
    local wanted=()
    for name in "${test_locales[@]}"; do
        locale -a 2>/dev/null | grep -qix "${name/UTF-8/utf8}" || wanted+=("$name")
    done
    [ ${#wanted[@]} -eq 0 ] && return 0
    echo "Generating locales: ${wanted[*]}"
    for name in "${wanted[@]}"; do
        "${run_as_root[@]}" sed -i "s/^# *\(${name//./\\.} UTF-8\)/\1/" /etc/locale.gen
    done
    "${run_as_root[@]}" locale-gen >/dev/null
}

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

run_as_root=()
if [ "$(id -u)" -ne 0 ]; then
    run_as_root=(sudo)
fi

if [ ${#missing[@]} -eq 0 ]; then
    ensure_locales
    exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${run_as_root[@]}" apt-get update -qq
"${run_as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
ensure_locales
