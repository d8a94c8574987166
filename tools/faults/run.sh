#!/usr/bin/env bash
# Plants the deliberate faults of faults.txt one at a time and reports which test catches each.
#   tools/faults/run.sh [-o table.md] [-n] [id ...]
#     -o FILE  the result table (default build-faults/result.md; FAULTS_WORK=DIR for another working folder)
#     -n       unit/GUI tests only, no system tests
#     id ...   only these faults
# Works on a copy of the worktree in build-faults/tree (its own build dir, ccache), so the worktree and its
# build stay untouched while it runs; the copy's file is restored after each fault, also on failure.
# A fault is first tried against the unit/GUI tests it names (stopping at the first failure); only when they
# all pass are the system tests it names run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
work=${FAULTS_WORK:-$repo/build-faults}
out=$work/result.md
system=1
while getopts "o:n" opt; do
    case $opt in
    o) out=$(realpath -m "$OPTARG") ;;
    n) system=0 ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
only=" $* "

tree=$work/tree
build=$tree/build
log=$work/log
mkdir -p "$tree" "$log"
# The tests read their data from ../shared beside the source tree.
[ -e "$work/shared" ] || ln -s "$(cd "$repo/.." && pwd)/shared" "$work/shared"

# The copy: every file git knows or would add. Its files are new to the build (a source older than an object
# the last fault left could hide a difference); ccache keeps the rebuild cheap.
# FAULTS_KEEP_TREE=1 runs again on the copy made last time.
if [ "${FAULTS_KEEP_TREE:-0}" != 1 ]; then
    find "$tree" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
    (cd "$repo" && git ls-files -co --exclude-standard | while IFS= read -r f; do
        [ -f "$f" ] && printf '%s\0' "$f"
    done | tar --null -T - -cf -) | (cd "$tree" && tar -xmf -)
fi

# Same relative paths as the worktree's own build: ccache serves both.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$repo")} CCACHE_NOHASHDIR=1
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache >"$log/configure.txt"

planted=
restore() {
    if [ -n "$planted" ]; then
        mv -f "$planted.orig" "$planted"
        touch "$planted" # newer than the object built with the fault, so the next build takes it anew
        planted=
    fi
}
trap restore EXIT INT TERM

plant() { # file fragment replacement
    cp -p "$1" "$1.orig"
    planted=$1
    python3 - "$1" "$2" "$3" <<'EOF'
import sys
path, old, new = sys.argv[1:]
text = open(path, encoding="utf-8").read()
assert text.count(old) == 1, f"{old!r} occurs {text.count(old)} times in {path}"
open(path, "w", encoding="utf-8").write(text.replace(old, new))
EOF
}

# The first test ctest reports failed in its output file, or nothing.
first_failed() { sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' "$1" | head -1; }

# Without a fault every unit/GUI test must pass, or a failure would count as a catch.
nice cmake --build "$build" >"$log/baseline.build.txt" 2>&1 || { echo "the unplanted copy does not build"; exit 1; }
if ! ctest --test-dir "$build" -LE system --timeout 300 >"$log/baseline.txt" 2>&1; then
    echo "unit/GUI tests fail without a fault:"
    sed -n '/tests FAILED/,$p' "$log/baseline.txt"
    exit 1
fi

printf '| fault | caught | by | s |\n|---|---|---|---|\n' >"$out"
caught_count=0
total=0
while IFS= read -r line; do
    case $line in '#'* | '') continue ;; esac
    id=${line%% @@ *}
    rest=${line#* @@ }
    frag=${rest%% @@ *}
    rest=${rest#* @@ }
    repl=${rest%% @@ *}
    rest=${rest#* @@ }
    units=${rest%% @@ *}
    rest=${rest#* @@ }
    systems=${rest%% @@ *}
    if [ "$only" != "  " ] && [[ $only != *" $id "* ]]; then
        continue
    fi
    total=$((total + 1))
    start=$SECONDS
    files=$(cd "$tree" && grep -rlF -- "$frag" src lib || true)
    if [ "$(cd "$tree" && grep -rF -- "$frag" src lib | wc -l)" != 1 ]; then
        printf '| %s | ? | fragment not found exactly once | 0 |\n' "$id" >>"$out"
        continue
    fi
    plant "$tree/$files" "$frag" "$repl"
    by=
    # shellcheck disable=SC2086
    if ! nice cmake --build "$build" --target ${units//|/ } >"$log/$id.build.txt" 2>&1; then
        by="(does not build)"
    elif ! ctest --test-dir "$build" -R "^($units)\$" -LE system --stop-on-failure --timeout 300 \
        >"$log/$id.unit.txt" 2>&1; then
        by=$(first_failed "$log/$id.unit.txt")
        by=${by:-unit tests}
    elif [ "$system" = 1 ] && [ "$systems" != "-" ]; then
        for s in ${systems//,/ }; do
            if ! timeout 400 bash "$tree/tests/system/$s.sh" "$build/bin" >"$log/$id.$s.txt" 2>&1; then
                by=$s
                break
            fi
        done
    fi
    restore
    if [ -n "$by" ] && [ "$by" != "(does not build)" ]; then
        caught_count=$((caught_count + 1))
        printf '| %s | yes | %s | %d |\n' "$id" "$by" $((SECONDS - start)) >>"$out"
    else
        printf '| %s | no | %s | %d |\n' "$id" "${by:-}" $((SECONDS - start)) >>"$out"
    fi
done <"$here/faults.txt"
echo "$caught_count caught of $total faults" | tee -a "$out"
