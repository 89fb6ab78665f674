#!/usr/bin/env bash
# Two checks on the headers of the libraries and programs:
#  - each header compiles on its own (it includes what it uses);
#  - the platform layer's headers include one another without a circle.
# Usage: tools/dev/check-headers.sh [compiler]   (run by the `check-headers` build target)
set -euo pipefail
cd "$(dirname "$0")/../.."
compiler="${1:-c++}"
read -r -a uuid_flags <<<"$(pkg-config --cflags uuid 2>/dev/null || true)"

headers=$(git ls-files -- 'Platform/*.h' 'Scrivcore/*.h' 'Scrivlet/*.h' 'ScrivletFinderSync/*.h' \
    'tools/*.h' 'tests/support/*.h')
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
failed=0
for header in $headers; do
    if ! "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror -I. \
        "${uuid_flags[@]}" -x c++ - <<<"#include \"$header\"" 2>"$errors"; then
        echo "not self-contained: $header"
        cat "$errors"
        failed=1
    fi
done

# Every include edge between platform headers, as "from to" pairs; tsort names a circle.
edges=$(for header in $(git ls-files -- 'Platform/*.h'); do
    sed -n 's/^#include "\(Platform\/[^"]*\.h\)"/\1/p' "$header" | while read -r dependency; do
        echo "$header $dependency"
    done
done)
if ! loops=$(tsort <<<"$edges" 2>&1 >/dev/null) || [ -n "$loops" ]; then
    echo "include circle in Platform/:"
    echo "$loops"
    failed=1
fi

if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "headers: $(wc -w <<<"$headers") self-contained, no include circle in Platform/"
