#!/usr/bin/env bash
# Removes Scrivlet from this user's account: the login item, the scrivlet: URL handler, the
# Finder extension's registration, the file manager's plug-in path (a running Dolphin keeps
# the plug-ins until it ends), the app's defaults and caches (the badge images among them),
# and (when it is still there) the app bundle, which goes to the Trash. The annotation store,
# the badge queue and every file's tags, comment and other attributes are kept. A bundle that a
# system package installed stays: the package manager removes it, and the script names the
# command that does.
#
# Usage: uninstall.sh --self PID BUNDLE   as the app starts it: first waits for PID to end
#        uninstall.sh BUNDLE              by hand, with the app not running
#
# BUNDLE is checked before anything is removed: a path that is not a Scrivlet bundle, or a
# symbolic link (even to one), is refused and nothing changes. A missing BUNDLE is fine: the
# app moves itself to the Trash before this script gets going.
#
# Prints what it did; every "Removed" and "Moved" line is checked on disk first. Exits 0 when
# everything is gone (also when nothing was left to do), 1 when something could not be removed,
# BUNDLE was refused or belongs to a package, 2 on wrong arguments.
set -uo pipefail

identifier=com.scrivlet.Scrivlet
extension_identifier=com.scrivlet.Scrivlet.FinderSync
staged_name=scrivlet-uninstall.sh
wait_tenths=100 # how long the app may take to end: 10 seconds
trash_attempts=5
trash_names=1000 # Scrivlet.app, Scrivlet.app.2, ... before the trash counts as unusable

usage() {
    echo "usage: $0 --self PID BUNDLE | $0 BUNDLE" >&2
    exit 2
}

# An XDG variable counts only when it holds an absolute path, as for the app.
xdg_dir() { # variable value, fallback
    case "$1" in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s\n' "$2" ;;
    esac
}

app_pid=""
if [ "${1:-}" = "--self" ]; then
    [ $# -eq 3 ] || usage
    app_pid=$2
    bundle=$3
    case "$app_pid" in '' | *[!0-9]*) usage ;; esac
else
    [ $# -eq 1 ] || usage
    bundle=$1
fi
case "$bundle" in
/*.app | /*.app/) ;;
*)
    echo "not an app bundle path: $bundle" >&2
    exit 2
    ;;
esac
bundle=${bundle%/}

: "${HOME:?HOME must be set}"
config_home=$(xdg_dir "${XDG_CONFIG_HOME:-}" "$HOME/.config")
data_home=$(xdg_dir "${XDG_DATA_HOME:-}" "$HOME/.local/share")
cache_home=$(xdg_dir "${XDG_CACHE_HOME:-}" "$HOME/.cache")
status=0
changed=0

wait_for_app() {
    local tenths=0
    while kill -0 "$app_pid" 2>/dev/null; do
        if [ "$tenths" -ge "$wait_tenths" ]; then
            echo "Scrivlet (process $app_pid) has not ended; going on without it"
            return
        fi
        sleep 0.1
        tenths=$((tenths + 1))
    done
}

is_there() { # path; a dangling link counts
    [ -e "$1" ] || [ -L "$1" ]
}

# A real folder (not a link to one) whose Info.json names the app.
is_scrivlet_bundle() { # path
    [ -d "$1" ] && [ ! -L "$1" ] && grep -qF "\"$identifier\"" -- "$1/Contents/Info.json" 2>/dev/null
}

# Refuses, before anything is removed, a BUNDLE that is there but is not a Scrivlet bundle.
# A link is refused even when it leads to one: moving the link would leave the app in place,
# and following it would trash a bundle at a place the user did not name.
check_bundle() {
    if [ -L "$bundle" ]; then
        local target
        target=$(readlink -- "$bundle") || target="somewhere unreadable"
        echo "Left $bundle alone: it is a symbolic link (to $target), not the bundle itself;" \
            "name the bundle to uninstall it. Nothing was removed." >&2
        exit 1
    fi
    if is_there "$bundle" && ! is_scrivlet_bundle "$bundle"; then
        echo "Left $bundle alone: it is not a Scrivlet bundle. Nothing was removed." >&2
        exit 1
    fi
}

remove() { # path, what it is
    is_there "$1" || return 0
    if rm -rf -- "$1" && ! is_there "$1"; then
        echo "Removed $2 ($1)"
        changed=1
    else
        echo "Could not remove $2 ($1)" >&2
        status=1
    fi
}

# Drops our handler from a mimeapps.list, leaving every other line as it was.
forget_scheme_handler() { # list file
    local list=$1 line="x-scheme-handler/scrivlet=$identifier.desktop" kept
    [ -f "$list" ] || return 0
    grep -qxF -e "$line" -e "$line;" -- "$list" || return 0
    # grep -v answers 1 when no line is left, which is no failure here.
    grep -vxF -e "$line" -e "$line;" -- "$list" >"$list.scrivlet-new"
    kept=$?
    if [ "$kept" -le 1 ] && mv -f -- "$list.scrivlet-new" "$list" &&
        ! grep -qxF -e "$line" -e "$line;" -- "$list"; then
        echo "Removed the scrivlet: URL handler from $list"
        changed=1
    else
        rm -f -- "$list.scrivlet-new"
        echo "Could not update $list" >&2
        status=1
    fi
}

# Percent-encodes a path for a .trashinfo file: all but unreserved characters and '/'.
encode_path() {
    printf '%s' "$1" | od -An -tu1 -v | awk '{
        for (i = 1; i <= NF; i++) {
            c = sprintf("%c", $i + 0)
            if (c ~ /[A-Za-z0-9\/._~-]/) printf "%s", c; else printf "%%%02X", $i + 0
        }
    }'
}

# The trash as freedesktop.org describes it: the info file is created first (exclusively, so
# the name is ours), then the item moves in under the same name.
trash_once() { # path, trash folder
    local item=$1 trash=$2 encoded deleted base name info n=1
    encoded=$(encode_path "$item") || return 1
    deleted=$(date +%Y-%m-%dT%H:%M:%S) || return 1
    if [ "${encoded:0:1}" != / ] || [ -z "$deleted" ]; then
        return 1
    fi
    base=${item##*/}
    name=$base
    while :; do
        info="$trash/info/$name.trashinfo"
        if ! is_there "$trash/files/$name" && (set -C && : >"$info") 2>/dev/null; then
            break
        fi
        # Only a name that is taken is worth another try; a folder that refuses new files
        # refuses them under every name.
        if ! is_there "$info" && ! is_there "$trash/files/$name"; then
            return 1
        fi
        n=$((n + 1))
        [ "$n" -le "$trash_names" ] || return 1
        name="$base.$n"
    done
    if ! printf '[Trash Info]\nPath=%s\nDeletionDate=%s\n' "$encoded" "$deleted" >"$info" ||
        ! mv -T -- "$item" "$trash/files/$name"; then
        rm -f -- "$info"
        return 1
    fi
    # Only what has left its place and arrived in the trash counts as trashed.
    if is_there "$item" || ! is_scrivlet_bundle "$trash/files/$name"; then
        is_there "$trash/files/$name" || rm -f -- "$info"
        return 1
    fi
}

# The packages that installed a path, space-separated; nothing when none did (or there is no
# package database to ask).
owning_packages() { # path
    command -v dpkg-query >/dev/null 2>&1 || return 0
    dpkg-query -S -- "$1" 2>/dev/null | awk -v path="$1" '
        /^diversion by / { next }
        (n = index($0, ": ")) && substr($0, n + 2) == path {
            list = substr($0, 1, n - 1); gsub(/:[a-z0-9]+/, "", list); gsub(/,/, "", list)
            print list; exit
        }'
}

trash_bundle() {
    is_there "$bundle" || return 0
    local trash="$data_home/Trash" attempt=1 packages
    # Never moved, even by a user allowed to: the package manager would lose track of it.
    packages=$(owning_packages "$bundle")
    if [ -n "$packages" ]; then
        echo "Left $bundle in place: the package manager installed it (package $packages)." \
            "Remove it with: sudo apt remove $packages" >&2
        status=1
        return
    fi
    if ! (umask 077 && mkdir -p -- "$trash/files" "$trash/info"); then
        echo "Could not move $bundle to the Trash: $trash cannot be made" >&2
        status=1
        return
    fi
    # mv would copy a bundle on another file system and then delete it file by file; a
    # failure half-way would leave half an app in each place.
    if [ "$(stat -c %d -- "$bundle")" != "$(stat -c %d -- "$trash/files")" ]; then
        echo "Could not move $bundle to the Trash: it is on another file system than $trash" >&2
        status=1
        return
    fi
    while [ "$attempt" -le "$trash_attempts" ]; do
        is_there "$bundle" || return 0
        # Checked again: the bundle has had time to change since the start.
        is_scrivlet_bundle "$bundle" || break
        if trash_once "$bundle" "$trash"; then
            echo "Moved $bundle to the Trash"
            changed=1
            return
        fi
        sleep 1
        attempt=$((attempt + 1))
    done
    echo "Could not move $bundle to the Trash" >&2
    status=1
}

[ -n "$app_pid" ] && wait_for_app
check_bundle

remove "$config_home/autostart/$identifier.desktop" "the login item"
remove "$data_home/applications/$identifier.desktop" "the scrivlet: URL handler"
forget_scheme_handler "$config_home/mimeapps.list"
forget_scheme_handler "$data_home/applications/mimeapps.list"
remove "$data_home/scrivlet/extensions/$extension_identifier.json" \
    "the Finder extension's registration"
rmdir -- "$data_home/scrivlet/extensions" "$data_home/scrivlet" 2>/dev/null
remove "$config_home/plasma-workspace/env/scrivlet-file-manager.sh" \
    "the file manager's plug-in path"
remove "$config_home/scrivlet/$identifier.json" "the app's defaults"
rmdir -- "$config_home/scrivlet" 2>/dev/null
remove "$cache_home/$identifier" "the app's caches"
trash_bundle

if command -v update-desktop-database >/dev/null 2>&1 && [ -d "$data_home/applications" ]; then
    update-desktop-database "$data_home/applications" >/dev/null 2>&1 || true
fi
if [ "$changed" -eq 0 ] && [ "$status" -eq 0 ]; then
    echo "Nothing to remove: Scrivlet is already uninstalled"
fi
# The copy the app staged in its temporary folder is not needed any more; the script in the
# bundle (or anywhere else) is never removed this way.
if [ -n "$app_pid" ] && [ "$(basename -- "$0")" = "$staged_name" ]; then
    rm -f -- "$0"
fi
exit "$status"
