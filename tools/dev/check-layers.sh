#!/usr/bin/env bash
# The floor plan, checked: every folder of the code is a floor, and a floor uses only the
# floors it lists below (nothing upward, nothing sideways that the table does not name).
#  - an #include from one floor into another that it may not use fails;
#  - a target_link_libraries between our targets that does the same fails (the list of links
#    comes from the configured build, see cmake/ScrivletLayers.cmake);
#  - a circle between folders fails, whatever the table says.
# Usage: tools/dev/check-layers.sh [target-links-file]   (run by the `check-headers` target)
set -euo pipefail
cd "$(dirname "$0")/../.."
links_file="${1:-}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# floor            folder or file prefix            the floors it may use
cat >"$work/floors" <<'EOF'
base               Platform/base/
system             Platform/system/                 base
desktop            Platform/desktop/                base system
ui                 Platform/ui/                     base system desktop
services           Platform/Services.               base system desktop
platform           Platform/                        base system desktop ui services
atspi              Platform/backends/atspi/         base system desktop platform
simulated          Platform/backends/simulated/     base system desktop ui platform
x11                Platform/backends/x11/           base system desktop ui platform atspi qt
filemanager        Platform/backends/filemanager/   base system desktop platform
qt                 Platform/backends/qt/            base platform
glib               Platform/backends/glib/          base platform
control            Platform/control/                base system desktop ui services platform simulated
scrivcore          Scrivcore/                       base system desktop ui platform
command            ScrivletCommand/                 base system desktop ui platform scrivcore
extension          ScrivletFinderSync/              base system desktop ui services platform scrivcore simulated filemanager qt glib
app                Scrivlet/                        base system desktop ui services platform scrivcore simulated x11 control
support            tests/support/                   base system desktop ui services platform scrivcore simulated control app extension
tools              tools/                           base system desktop ui services platform scrivcore simulated atspi control app extension support
fuzz               fuzz/                            base system desktop ui services platform scrivcore app
bench              bench/                           base system desktop ui services platform scrivcore simulated filemanager qt glib control app extension support
tests              tests/                           base system desktop ui services platform scrivcore command simulated x11 atspi filemanager qt glib control app extension support tools
EOF

# Includes as "include FILE INCLUDED" and links as "link FOLDER TARGET FOLDER TARGET" lines,
# held against the table in one pass; it prints what goes against the floors, and the edges
# between folders (a detail/ folder counts as its parent's) as "edge FROM TO".
{
    git grep -n -E '^#include "[^"]+\.h"' -- '*.h' '*.cpp' |
        sed -E 's/^([^:]+):[0-9]+:#include "([^"]+)".*/include \1 \2/'
    if [ -n "$links_file" ]; then
        sed 's/^/link /' "$links_file"
    fi
} >"$work/uses"
awk -v table="$work/floors" '
    BEGIN {
        while ((getline line < table) > 0) {
            n = split(line, field, " ")
            prefix[field[1]] = field[2]
            for (i = 3; i <= n; i++) allowed[field[1] " " field[i]] = 1
        }
    }
    function floor_of(path,    name, best, found) {
        best = 0; found = ""
        for (name in prefix) {
            if (index(path, prefix[name]) == 1 && length(prefix[name]) > best) {
                best = length(prefix[name]); found = name
            }
        }
        return found
    }
    function folder_of(path) {
        sub(/\/[^\/]*$/, "", path)
        sub(/\/detail$/, "", path)
        return path
    }
    function check(kind, from_path, to_path, from_name, to_name,    from, to) {
        from = floor_of(from_path); to = floor_of(to_path)
        if (from == "" || to == "") {
            print "no floor for " (from == "" ? from_path : to_path) \
                " (add its folder to tools/dev/check-layers.sh)"
            failed = 1
        } else if (from != to && !((from " " to) in allowed)) {
            print kind " against the floors: " from_name " -> " to_name \
                " (" from " may not use " to ")"
            failed = 1
        }
    }
    $1 == "include" {
        includes++
        check("include", $2, $3, $2, $3)
        if (folder_of($2) != folder_of($3)) print "edge " folder_of($2) " " folder_of($3)
    }
    $1 == "link" {
        links++
        check("link", $2 "/", $4 "/", $3, $5)
    }
    END {
        print "counted " includes + 0 " " links + 0
        exit failed
    }' "$work/uses" >"$work/verdict" || failed=1
grep -v -e '^edge ' -e '^counted ' "$work/verdict" || true
read -r _ include_count link_count < <(grep '^counted ' "$work/verdict")
folder_edges=$(sed -n 's/^edge //p' "$work/verdict" | sort -u)

# A circle between folders; tsort names the folders on it.
if ! circle=$(tsort <<<"$folder_edges" 2>&1 >/dev/null) || [ -n "$circle" ]; then
    sed -n 's/^tsort: \([^-].*\)/\1/p' <<<"$circle" | paste -sd ' ' |
        sed 's/ / <-> /g; s/^/circle between folders: /'
    failed=1
fi

if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "layers: $include_count includes and $link_count links between our targets go down the" \
    "floors; no circle between $(awk 'NF { print $1; print $2 }' <<<"$folder_edges" |
        sort -u | wc -l) folders"
