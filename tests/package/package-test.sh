#!/usr/bin/env bash
# The Debian packages, installed into this machine's system as a user would install them:
#   1. cpack builds scrivlet_*.deb, scrivlet-dolphin_*.deb and scrivlet-nautilus_*.deb; lintian
#      finds no error.
#   2. apt-get installs all three; the files are where the system looks for them, and the
#      scrivlet command runs from PATH.
#   3. On a private X11 session (no QT_PLUGIN_PATH, no per-user install), xdg-open hands a
#      scrivlet: URL to the installed app, which starts and acts on it; Dolphin shows the
#      emblems of an annotated and a flagged file and the context menu's items, from the
#      plug-ins in Qt's system plug-in folder; "Remove Annotation" chosen there reaches the app.
#      GNOME's file manager loads the installed extension from its own folder and answers the
#      annotated file's emblem through it.
#   4. apt-get purge removes every file the packages installed and leaves the test home's data
#      (the store, the files' attributes) as it was.
# It changes the system, so it is no ctest test: CI runs it as root after the test command,
# and it purges the packages again on any way out. It refuses to run when either package is
# installed already, so that it never takes away what someone installed.
# Usage: tests/package/package-test.sh [BUILD-FOLDER]    (default: build/default, built)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
packages=(scrivlet scrivlet-dolphin scrivlet-nautilus)
bundle=/usr/lib/scrivlet/Scrivlet.app
app=$bundle/Contents/MacOS/Scrivlet
started=$(date +%s)

fail() {
    echo "FAILED: $*"
    for log in app.log dolphin.log xdg-open.log nautilus.log; do
        [ -s "${work:-/nonexistent}/$log" ] || continue
        echo "--- $log:"
        tail -n 20 "$work/$log"
    done
    exit 1
}
step() { # name: prints the time since the start before each step
    echo "[$(($(date +%s) - started)) s] $*"
}
installed_packages() {
    local package
    for package in "${packages[@]}"; do
        if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep "ok installed\|config-files" >/dev/null; then
            echo "$package"
        fi
    done
}
apt_get() {
    DEBIAN_FRONTEND=noninteractive apt-get -o APT::Sandbox::User=root -q -y "$@"
}

[ "$(id -u)" -eq 0 ] || fail "run as root: the test installs and purges the packages"
if [ -n "$(installed_packages)" ]; then
    fail "$(installed_packages | tr '\n' ' ')is installed on this machine; the test would remove it"
fi

work=$(mktemp -d)
cleanup() {
    if declare -F stop_x11_session >/dev/null; then
        stop_x11_session
    fi
    local left
    left=$(installed_packages)
    if [ -n "$left" ]; then
        # shellcheck disable=SC2086  # one word a package
        apt_get purge $left >/dev/null 2>&1 || echo "could not purge: $left" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# 1. The packages, and lintian's verdict on them.
step "building the packages"
rm -f "$build"/scrivlet_*.deb "$build"/scrivlet-dolphin_*.deb "$build"/scrivlet-nautilus_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
debs=("$build"/scrivlet_*_amd64.deb "$build"/scrivlet-dolphin_*_amd64.deb
    "$build"/scrivlet-nautilus_*_amd64.deb)
for deb in "${debs[@]}"; do
    [ -f "$deb" ] || fail "cpack made no $deb"
    echo "  $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
done
step "lintian"
lintian --fail-on error "${debs[@]}" 2>/dev/null || fail "lintian found errors"

# 2. Installed by apt, as a user installs them.
step "apt-get install"
apt_get install "${debs[@]}" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }
# Everything the packages put in the system, for the purge to be checked against.
dpkg-query -L "${packages[@]}" | sort -u >"$work/installed"
qt_plugins=$(QT_SELECT=qt5 qmake -query QT_INSTALL_PLUGINS)
# Wherever the file manager's build looks for extensions: the package knows.
nautilus_module=$(dpkg-query -L scrivlet-nautilus | grep '/libscrivlet-nautilus\.so$') ||
    fail "scrivlet-nautilus installs no module"
emblems=/usr/share/icons/hicolor/scalable/emblems
for file in "$app" /usr/bin/scrivlet-open /usr/bin/scrivlet \
    /usr/share/man/man1/scrivlet.1.gz /usr/share/bash-completion/completions/scrivlet \
    /usr/share/zsh/vendor-completions/_scrivlet \
    "$nautilus_module" "$emblems/emblem-scrivlet-annotated.svg" \
    "$emblems/emblem-scrivlet-flagged.svg" \
    /usr/share/applications/com.scrivlet.Scrivlet.desktop \
    /usr/share/icons/hicolor/scalable/apps/com.scrivlet.Scrivlet.svg \
    "$qt_plugins/kf5/overlayicon/scrivlet_overlayicon.so" \
    "$qt_plugins/kf5/kfileitemaction/scrivlet_fileitemaction.so"; do
    [ -e "$file" ] || fail "not installed: $file"
done
desktop-file-validate /usr/share/applications/com.scrivlet.Scrivlet.desktop ||
    fail "the desktop entry is not valid"
[ "$(readlink -f /usr/bin/scrivlet-open)" = "$bundle/Contents/MacOS/scrivlet-open" ] ||
    fail "/usr/bin/scrivlet-open does not lead into the bundle"
[ "$(readlink -f /usr/bin/scrivlet)" = "$bundle/Contents/MacOS/scrivlet" ] ||
    fail "/usr/bin/scrivlet does not lead into the bundle"
scrivlet --help >/dev/null || fail "the scrivlet command does not run from PATH"
for binary in "$app" "$qt_plugins"/kf5/*/scrivlet_*.so "$nautilus_module"; do
    if ldd "$binary" | grep "not found"; then
        fail "$binary misses a library"
    fi
done
echo "  $(wc -l <"$work/installed") paths installed (files, links and folders)"

# 3. The installed app and plug-ins on a session of their own.
step "xdg-open and Dolphin on a private X11 session"
# shellcheck source=../support/x11-session.sh
source "$root/tests/support/x11-session.sh"
lacking=$(x11_session_missing xdg-open)
[ -z "$lacking" ] || fail "missing for the desktop part: $lacking"
unset QT_PLUGIN_PATH
start_x11_session "" # no tray: the app is started by xdg-open, on its default desktop
docs="$HOME/Documents"
mkdir -p "$docs"
annotated="$docs/annotated.txt"
flagged="$docs/flagged.txt"
plain="$docs/plain.txt"
for file in "$annotated" "$flagged" "$plain"; do printf "%s\n" "${file##*/}" >"$file"; done
store="$HOME/.local/share/com.scrivlet.shared/annotations.sqlite"
export SCRIVLET_LOG_TO_STDERR=1 SCRIVLET_FILE_MANAGER_TRACE="$work/trace"

# A scrivlet: URL, opened as any program opens one, starts the installed app, which acts on it.
[ "$(xdg-mime query default x-scheme-handler/scrivlet)" = com.scrivlet.Scrivlet.desktop ] ||
    fail "the desktop entry does not handle scrivlet: URLs"
url="scrivlet://annotate?path=$annotated"
# xdg-open waits for the program it starts; the session ends both.
xdg-open "$url" >"$work/xdg-open.log" 2>&1 &
session_pids+=("$!")
app_has() { grep -qsF -- "$1" "$work/xdg-open.log"; }
wait_for "the app's Ready line" app_has "Ready. Listening"
wait_for "the app to take the URL" app_has "URL received: $url"
running_app() {
    local proc
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/exe" 2>/dev/null)" = "$app" ] && return 0
    done
    return 1
}
running_app || fail "the URL did not reach the installed app"
# Installed where the package puts it, the app is where it belongs and never offers to move.
! app_has "com.scrivlet:install" || fail "the installed app asked to be moved"
record_count() { sqlite3 "$store" "select count(*) from annotations where path = '$1'" 2>/dev/null; }
has_record() { [ "$(record_count "$1")" = 1 ]; }
wait_for "the record of $annotated" has_record "$annotated"
echo "  ok: xdg-open reached the installed app, which did not ask to move and annotated the file"

# A flagged record, saved as the panel saves it, by the build's own store tool.
"$build/tests/store-edit" save "$flagged" flagged "Check the figures" >/dev/null ||
    fail "could not save the flagged record"

traced() { grep -qxF -- "$(IFS=$'\t'; printf '%s' "$*")" "$work/trace" 2>/dev/null; }
start_file_manager "$docs"
wait_for "the annotated file's emblem" traced overlays annotated "$annotated"
wait_for "the flagged file's emblem" traced overlays flagged "$flagged"
wait_for "the plain file asked, with no emblem" traced overlays none "$plain"
loaded() { grep -qF "$1" "/proc/$dolphin_pid/maps"; }
loaded "$qt_plugins/kf5/overlayicon/scrivlet_overlayicon.so" ||
    fail "the emblems did not come from the installed plug-in"
echo "  ok: Dolphin shows the emblems from $qt_plugins/kf5/overlayicon"
file_manager_select "$flagged"
xdotool key --window "$dolphin_window" Escape
xdotool type --window "$dolphin_window" --delay 50 "$(basename "$flagged")"
menu_offered() { grep -q $'^menu\t1\t' "$work/trace" 2>/dev/null; }
xdotool key --window "$dolphin_window" Menu
wait_for "the context menu's items" menu_offered
loaded "$qt_plugins/kf5/kfileitemaction/scrivlet_fileitemaction.so" ||
    fail "the menu items did not come from the installed plug-in"
echo "  ok: Dolphin's context menu offers $(grep $'^menu\t1\t' "$work/trace" | tail -n 1 |
    cut -f3- | sed 's/\t/, /g')"
# Chosen there, "Remove Annotation" reaches the installed app, which removes the record.
item_shown() { grep -q $'^item\tRemove Annotation\t' "$work/trace" 2>/dev/null; }
wait_for "the menu item on screen" item_shown
read -r x y w h < <(grep $'^item\tRemove Annotation\t' "$work/trace" | tail -n 1 | cut -f3-6 |
    tr '\t' ' ')
xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
wait_for "the item chosen" traced chose "Remove Annotation" "$flagged"
no_record() { [ "$(record_count "$1")" = 0 ]; }
wait_for "the app to remove the record" no_record "$flagged"
wait_for "the emblem to go" traced overlays none "$flagged"
echo "  ok: Remove Annotation, chosen in the menu, reached the installed app; the emblem went"

# GNOME's file manager, with nothing mounted or set: the extension it loads is the installed
# one, and it answers the annotated file's emblem. (The GL renderer can hang on a software
# display; cairo draws the same.)
GSK_RENDERER=cairo SCRIVLET_FILE_MANAGER_TRACE="$work/nautilus-trace" \
    nautilus --new-window "$docs" >"$work/nautilus.log" 2>&1 &
nautilus_pid=$!
session_pids+=("$nautilus_pid")
wait_for "GNOME's file manager's window" active_window_of "$nautilus_pid"
nautilus_traced() {
    grep -qxF -- "$(IFS=$'\t'; printf '%s' "$*")" "$work/nautilus-trace" 2>/dev/null
}
wait_for "the annotated file's emblem in GNOME's file manager" nautilus_traced overlays annotated \
    "$annotated"
grep -qF "$nautilus_module" "/proc/$nautilus_pid/maps" ||
    fail "GNOME's file manager did not load $nautilus_module"
echo "  ok: GNOME's file manager shows the emblems from $nautilus_module"

# The user's data as it is before the purge: the store and what the files carry.
data_snapshot() {
    sqlite3 "$store" "select path, status, note from annotations order by path"
    for file in "$annotated" "$flagged" "$plain"; do
        printf '%s: %s\n' "$file" "$("$build/tests/store-edit" attributes "$file")"
    done
}
stop_x11_session
data_snapshot >"$work/data-before"

# 4. Purged: nothing the packages installed is left; the home is untouched.
step "apt-get purge"
apt_get purge "${packages[@]}" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge"; }
[ -z "$(installed_packages)" ] || fail "still installed: $(installed_packages)"
left=0
while IFS= read -r path; do
    # Folders the packages share with others (/usr/share/doc...) stay; their own go.
    if [ -L "$path" ] || [ -f "$path" ] || { [ -d "$path" ] && [[ $path == /usr/lib/scrivlet* ]]; }; then
        echo "  left after the purge: $path"
        left=$((left + 1))
    fi
done <"$work/installed"
[ "$left" -eq 0 ] || fail "$left installed paths are left after the purge"
data_snapshot >"$work/data-after"
diff "$work/data-before" "$work/data-after" || fail "the purge changed the test home's data"
# The annotated file's record and the three files' attributes.
[ "$(wc -l <"$work/data-before")" -ge 4 ] || fail "the data checked is incomplete"
echo "  ok: nothing installed is left; the store and the files' attributes are as they were"
step "passed"
