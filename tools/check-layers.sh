#!/bin/bash
# The libraries under src/ depend one way. Each folder may include headers of its own folder and of the
# folders before it in this order, never of one after it; src/main.cpp belongs to app. Fails with one line
# per include that goes the wrong way. Usage: tools/check-layers.sh [source root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
layers=(platform core ui net log windows admin alarm cli app)

declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

bad=0
while IFS= read -r file; do
    rel=${file#"$root"/}
    folder=${rel#src/}
    folder=${folder%%/*}
    [[ $folder == main.cpp ]] && folder=app
    if [[ -z ${rank[$folder]+x} ]]; then
        echo "$rel: folder src/$folder is not in the layer order of tools/check-layers.sh" >&2
        bad=1
        continue
    fi
    while IFS= read -r inc; do
        target=${inc%%/*}
        [[ -z ${rank[$target]+x} ]] && continue
        if ((rank[$target] > rank[$folder])); then
            echo "$rel includes $inc: $folder may not use $target" >&2
            bad=1
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find "$root/src" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) | sort)

if ((bad)); then
    echo "check-layers: the order is ${layers[*]}; where a lower folder must reach a higher one, it offers a handler that the higher one installs" >&2
    exit 1
fi
order=$(printf ' -> %s' "${layers[@]}")
echo "check-layers: every include in src/ follows ${order# -> }"
