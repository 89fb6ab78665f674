#!/bin/sh
# Removes Scrivlet from this user's account: the login item, the scrivlet: URL handler, the
# Finder extension's registration, the file manager's plug-in path (a running Dolphin keeps
# the plug-ins until it ends), the app's defaults and caches (the badge images among them),
# and (when it is still there) the app bundle, which goes to the Trash. The annotation store, the badge queue and
# every file's tags, comment and other attributes are kept.
#
# Usage: uninstall.sh --self PID BUNDLE   as the app starts it: first waits for PID to end
#        uninstall.sh BUNDLE              by hand, with the app not running
#
# Prints what it did. Exits 0 when everything is gone (also when nothing was left to do),
# 1 when something could not be removed, 2 on wrong arguments.
set -u

identifier=com.scrivlet.Scrivlet
extension_identifier=com.scrivlet.Scrivlet.FinderSync
staged_name=scrivlet-uninstall.sh
wait_tenths=100 # how long the app may take to end: 10 seconds
trash_attempts=5

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
    tenths=0
    while kill -0 "$app_pid" 2>/dev/null; do
        if [ "$tenths" -ge "$wait_tenths" ]; then
            echo "Scrivlet (process $app_pid) has not ended; going on without it"
            return
        fi
        sleep 0.1
        tenths=$((tenths + 1))
    done
}

remove() { # path, what it is
    if [ -e "$1" ] || [ -L "$1" ]; then
        if rm -rf -- "$1"; then
            echo "Removed $2 ($1)"
            changed=1
        else
            echo "Could not remove $2 ($1)" >&2
            status=1
        fi
    fi
}

# Drops our handler from a mimeapps.list, leaving every other line as it was.
forget_scheme_handler() { # list file
    list=$1
    line="x-scheme-handler/scrivlet=$identifier.desktop"
    [ -f "$list" ] || return 0
    grep -qxF -e "$line" -e "$line;" -- "$list" || return 0
    if grep -vxF -e "$line" -e "$line;" -- "$list" >"$list.scrivlet-new" &&
        mv -f -- "$list.scrivlet-new" "$list"; then
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
trash_once() { # path
    trash="$data_home/Trash"
    (umask 077 && mkdir -p "$trash/files" "$trash/info") || return 1
    base=$(basename -- "$1")
    name=$base
    n=1
    while :; do
        info="$trash/info/$name.trashinfo"
        if [ ! -e "$trash/files/$name" ] && (set -C && : >"$info") 2>/dev/null; then
            break
        fi
        n=$((n + 1))
        name="$base.$n"
    done
    if ! printf '[Trash Info]\nPath=%s\nDeletionDate=%s\n' "$(encode_path "$1")" \
        "$(date +%Y-%m-%dT%H:%M:%S)" >"$info"; then
        rm -f -- "$info"
        return 1
    fi
    if mv -T -- "$1" "$trash/files/$name"; then
        return 0
    fi
    rm -f -- "$info"
    return 1
}

is_our_bundle() {
    grep -qF "\"$identifier\"" "$bundle/Contents/Info.json" 2>/dev/null
}

trash_bundle() {
    [ -e "$bundle" ] || return 0
    if ! is_our_bundle; then
        echo "Left $bundle alone: it is not a Scrivlet bundle" >&2
        status=1
        return
    fi
    attempt=1
    while [ "$attempt" -le "$trash_attempts" ]; do
        if trash_once "$bundle"; then
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
