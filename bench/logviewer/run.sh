#!/bin/bash
# Log viewer benchmark: generates event logs of the given sizes in /tmp, opens each in the viewer and
# reports the time until the newest row is shown (from the call; load_ms: from the built window on) and the
# longest stall of the event loop during the load, and the peak memory, first with the file out of the page
# cache (cold), then again (warm), with the CPU time the viewer's process took until then.
#   REPEAT=N runs each opening N times and prints every run (the machine may be shared: take medians). Then (warm) it
# filters the log by one station and reports the time to the first and to all results and the longest stall.
# The generated files are deleted afterwards.
#
#   bench/logviewer/run.sh BUILD_DIR [LINES ...]     (default: 100000 1000000 10000000)
# BUILD_DIR holds tv_loggen and tv_logbench (bench/logviewer/ below it, or directly in it).
set -euo pipefail

build=${1:?usage: run.sh BUILD_DIR [LINES ...]}
shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000 10000000)

tooldir=$build/bench/logviewer
[ -x "$tooldir/tv_logbench" ] || tooldir=$build
gen=$tooldir/tv_loggen
bench=$tooldir/tv_logbench
for tool in "$gen" "$bench"; do
    [ -x "$tool" ] || { echo "missing $tool: build the targets tv_loggen and tv_logbench" >&2; exit 1; }
done

work=$(mktemp -d /tmp/tavinor-logbench.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/Log"
log=$work/Log/log.csv
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

printf '%-10s %-6s %8s %9s %10s %9s %8s %13s %12s %12s %8s\n' lines cache file_mb rows indexed_ms shown_ms load_ms \
    max_stall_ms peak_rss_mb time_rss_mb cpu_ms
for n in "${sizes[@]}"; do
    "$gen" "$n" "$log"
    file_mb=$(( $(stat -c %s "$log") / 1048576 ))
    for cache in cold warm; do
        for _ in $(seq "${REPEAT:-1}"); do
            if [ "$cache" = cold ]; then "$gen" --evict "$log"; fi
            out=$(/usr/bin/time -f 'time_rss_kb=%M' "$bench" "$work" 2>&1) || { echo "$out" >&2; exit 1; }
            field() { sed -n "s/.*\\b$1=\([0-9.]*\).*/\1/p" <<<"$out"; }
            printf '%-10s %-6s %8s %9s %10s %9s %8s %13s %12s %12s %8s\n' "$n" "$cache" "$file_mb" "$(field rows)" \
                "$(field indexed_ms)" "$(field shown_ms)" "$(field load_ms)" "$(field max_stall_ms)" \
                "$(field peak_rss_mb)" "$(( $(field time_rss_kb) / 1024 ))" "$(field cpu_ms)"
        done
    done
    out=$("$bench" "$work" --filter 2>&1) || { echo "$out" >&2; exit 1; }
    printf '%-10s filter by station: %s\n' "$n" "$(grep -o 'stations_ms=.*' <<<"$out")"
    rm -f "$log"
done
