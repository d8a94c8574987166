#!/bin/bash
# The libraries under src/ depend one way. Each folder may include headers of its own folder and of the
# folders before it in this order, never of one after it; src/main.cpp belongs to app. Fails with one line
# per include that goes the wrong way. Usage: tools/check-layers.sh [source root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
layers="platform core ui net log windows admin alarm cli app"

cd "$root"
find src -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0 | sort -z |
    xargs -0 grep -H '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' /dev/null |
    awk -v layers="$layers" '
    BEGIN { n = split(layers, order, " "); for (i = 1; i <= n; i++) rank[order[i]] = i }
    {
        file = substr($0, 1, index($0, ":") - 1)
        split(file, part, "/")
        folder = part[2] == "main.cpp" ? "app" : part[2]
        if (!(folder in rank)) {
            if (!(folder in told)) print file ": folder src/" folder " is not in the layer order of tools/check-layers.sh"
            told[folder] = 1; bad = 1; next
        }
        match($0, /"[^"]*"/)
        inc = substr($0, RSTART + 1, RLENGTH - 2)
        target = substr(inc, 1, index(inc, "/") - 1)
        if ((target in rank) && rank[target] > rank[folder]) {
            print file " includes " inc ": " folder " may not use " target; bad = 1
        }
    }
    END { exit bad }' >&2 || {
    echo "check-layers: the order is ${layers// / -> }; where a lower folder must reach a higher one, it offers" \
        "a handler that the higher one installs" >&2
    exit 1
}
echo "check-layers: every include in src/ follows ${layers// / -> }"
