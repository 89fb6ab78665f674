#!/bin/sh
# Installs Scrivlet for the current user: copies the built Scrivlet.app into ~/Applications,
# registers it as the handler of scrivlet: URLs, registers its Finder extension, and puts the
# file manager's plug-ins (Dolphin's emblems and context-menu items) on the Qt plug-in path of
# the user's Plasma sessions. Safe to run again: a new build replaces the installed one in one
# step.
#
# Usage: tools/install.sh [PATH/TO/Scrivlet.app]     (default: build/default/Scrivlet.app)
# Undo:  ~/Applications/Scrivlet.app/Contents/Resources/uninstall.sh ~/Applications/Scrivlet.app
set -eu

identifier=com.scrivlet.Scrivlet
extension_identifier=com.scrivlet.Scrivlet.FinderSync
source_bundle=${1:-$(dirname "$0")/../build/default/Scrivlet.app}
source_bundle=${source_bundle%/}

xdg_dir() { # variable value, fallback
    case "$1" in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s\n' "$2" ;;
    esac
}

: "${HOME:?HOME must be set}"
config_home=$(xdg_dir "${XDG_CONFIG_HOME:-}" "$HOME/.config")
data_home=$(xdg_dir "${XDG_DATA_HOME:-}" "$HOME/.local/share")

if ! grep -qF "\"$identifier\"" "$source_bundle/Contents/Info.json" 2>/dev/null; then
    echo "not a Scrivlet bundle: $source_bundle (build it first: cmake --build --preset default)" >&2
    exit 1
fi
[ -f "$source_bundle/Contents/Resources/uninstall.sh" ] ||
    { echo "the bundle has no uninstall script: $source_bundle" >&2; exit 1; }

applications="$HOME/Applications"
installed="$applications/Scrivlet.app"
mkdir -p "$applications"
# Copy beside the old bundle, then swap: a running copy keeps its files until it quits.
staging=$(mktemp -d "$applications/.Scrivlet.app.XXXXXX")
trap 'rm -rf -- "$staging"' EXIT
cp -R -- "$source_bundle/." "$staging/"
chmod 755 "$staging"
if [ -e "$installed" ]; then
    rm -rf -- "$installed.old"
    mv -T -- "$installed" "$installed.old"
fi
mv -T -- "$staging" "$installed"
rm -rf -- "$installed.old"
echo "Installed $installed"

# The scrivlet: URL scheme: a desktop entry that names the app, made the scheme's default.
mkdir -p "$data_home/applications"
entry="$data_home/applications/$identifier.desktop"
exec_path=$(printf '%s' "$installed/Contents/MacOS/Scrivlet" | sed 's/[\\"`$]/\\&/g')
cat >"$entry.new" <<ENTRY
[Desktop Entry]
Type=Application
Name=Scrivlet
Comment=Annotations for your files
Exec="$exec_path" %u
MimeType=x-scheme-handler/scrivlet;
NoDisplay=true
Terminal=false
ENTRY
mv -f -- "$entry.new" "$entry"
list="$config_home/mimeapps.list"
line="x-scheme-handler/scrivlet=$identifier.desktop"
mkdir -p "$config_home"
if ! grep -qxF -e "$line" -e "$line;" "$list" 2>/dev/null; then
    if grep -q '^\[Default Applications\]' "$list" 2>/dev/null; then
        grep -v '^x-scheme-handler/scrivlet=' "$list" |
            awk -v line="$line" '{ print } /^\[Default Applications\]$/ { print line }' \
                >"$list.new"
    else
        { grep -v '^x-scheme-handler/scrivlet=' "$list" 2>/dev/null || true
          printf '[Default Applications]\n%s\n' "$line"; } >"$list.new"
    fi
    mv -f -- "$list.new" "$list"
fi
if command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database "$data_home/applications" >/dev/null 2>&1 || true
fi
echo "Registered $entry for scrivlet: URLs"

# The Finder extension: the file manager's host loads what this registration names.
extensions="$data_home/scrivlet/extensions"
mkdir -p "$extensions"
appex=$(printf '%s' "$installed/Contents/PlugIns/ScrivletFinderSync.appex" | sed 's/[\\"]/\\&/g')
printf '{"identifier": "%s", "path": "%s"}\n' "$extension_identifier" "$appex" \
    >"$extensions/$extension_identifier.json"
echo "Registered the Finder extension in $extensions"

# The file manager's plug-ins stay in the bundle; Qt finds them through QT_PLUGIN_PATH, which
# Plasma takes from the scripts in plasma-workspace/env when a session starts (and hands to
# everything started in it). Nothing outside this user's account changes.
plugins="$installed/Contents/PlugIns/qt5"
if [ -f "$plugins/kf5/overlayicon/scrivlet_overlayicon.so" ]; then
    env_dir="$config_home/plasma-workspace/env"
    env_script="$env_dir/scrivlet-file-manager.sh"
    quoted=$(printf '%s' "$plugins" | sed "s/'/'\\\\''/g")
    mkdir -p "$env_dir"
    cat >"$env_script.new" <<SCRIPT
# Written by Scrivlet's install command and removed by its uninstall script: the Qt plug-in
# folder holding Scrivlet's emblems and context-menu items for the file manager.
scrivlet_plugins='$quoted'
case ":\${QT_PLUGIN_PATH:-}:" in
*":\$scrivlet_plugins:"*) ;;
*) QT_PLUGIN_PATH="\$scrivlet_plugins\${QT_PLUGIN_PATH:+:\$QT_PLUGIN_PATH}"; export QT_PLUGIN_PATH ;;
esac
unset scrivlet_plugins
SCRIPT
    mv -f -- "$env_script.new" "$env_script"
    echo "Added $plugins to the Qt plug-in path of Plasma sessions ($env_script)"
    echo "Restart Dolphin to see the badges and menu items: log out and back in (Plasma reads"
    echo "the path at login), or quit every Dolphin window (and a background 'dolphin --daemon')"
    echo "and start it from a shell with:"
    echo "  QT_PLUGIN_PATH='$quoted'\${QT_PLUGIN_PATH:+:\$QT_PLUGIN_PATH} dolphin"
fi
