#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing, so a
# second run does nothing. Run as root (or with sudo available).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config clang-format clang-tidy shellcheck
    libsqlite3-dev libutf8proc-dev uuid-dev nlohmann-json3-dev liburiparser-dev libsystemd-dev
    libgtest-dev libgmock-dev libbenchmark-dev locales
    clang libclang-rt-14-dev
    sqlite3 xdg-utils
    # The Debian packages (cpack -G DEB): dependencies, the icon's bitmaps, and their checks.
    dpkg-dev file librsvg2-bin lintian desktop-file-utils
    # The X11 desktop backend and the file manager plug-ins (Qt 5 and KDE Frameworks 5).
    qtbase5-dev libqt5x11extras5-dev libxcb1-dev libxcb-ewmh-dev libxcb-randr0-dev libatspi2.0-dev libxtst-dev
    extra-cmake-modules libkf5kio-dev libkf5coreaddons-dev libkf5i18n-dev
    # Their end-to-end tests: a headless X server, a window manager and the file manager.
    dolphin xvfb openbox xdotool x11-utils x11-xserver-utils dbus-x11 at-spi2-core qdbus-qt5
    breeze-icon-theme imagemagick
    # The extension's module for the GTK file manager, and that file manager for its tests.
    libnautilus-extension-dev nautilus
)

# The panel's dates follow the user's time locale; the tests check an English and a German one.
test_locales=(en_US.UTF-8 de_DE.UTF-8)
ensure_locales() {
    local wanted=()
    for name in "${test_locales[@]}"; do
        locale -a 2>/dev/null | grep -ix "${name/UTF-8/utf8}" >/dev/null || wanted+=("$name")
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
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep "install ok installed" >/dev/null; then
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
# Some sandboxes deny the network to apt's unprivileged download user, and `apt-get update`
# then reports success with empty lists: download as root.
apt_get() {
    "${run_as_root[@]}" apt-get -o APT::Sandbox::User=root "$@"
}
apt_get update -qq
apt_get install -y -qq --no-install-recommends "${missing[@]}"
ensure_locales
