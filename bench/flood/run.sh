#!/bin/bash
# Flood benchmark: the server program in a private network namespace, N flooding peers (garbage lines,
# binary bytes, over-long lines, about 1.2 MB/s each, reconnecting now and then, registered with a name of
# 3000 characters) and two well-behaved stations raising an alarm every 2 s for 60 s. For each N: alarms
# relayed to both stations / raised, latency median and worst, the server's peak memory and CPU, the
# growth of its event log.
#   sudo bash bench/flood/run.sh <build/bin> [N ...]        (default N: 1 6)
# TV_FLOOD_SECONDS changes the 60 s, TV_FLOOD_VERBOSE=1 prints every alarm.
set -u
BIN=$(cd "${1:?usage: $0 <build/bin> [peers...]}" && pwd)
shift
COUNTS=("${@:-1 6}")
SECONDS_RUN=${TV_FLOOD_SECONDS:-60}
HERE=$(cd "$(dirname "$0")" && pwd)
PEER=$HERE/floodpeer.py

BENCH_ARGS=("$BIN" ${COUNTS[*]})
source "$HERE/../netns-server.sh"
WORK=$(mktemp -d /tmp/tavinor-flood.XXXXXX)
PIDS=()
cleanup() {
    local p
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null; done
    bench_stop_server
    rm -rf "$WORK"
}
trap cleanup EXIT
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }

for n in ${COUNTS[*]}; do
    inst=$WORK/server-$n
    bench_server "$inst" "$BIN" $'[General]\r\nServer=1\r\nInit=1\r\nStationname=Zentrale\r\n'
    for i in $(seq "$n"); do
        python3 "$PEER" flood --server 127.0.0.1 --bind "127.2.0.$i" --rate 1.2 --reconnect 10 \
            --name-length 3000 --seconds $((SECONDS_RUN + 4)) >"$WORK/flood-$n-$i.out" 2>&1 &
        PIDS+=("$!")
    done
    sleep 2
    log0=$(size_of "$inst/Log/log.csv")
    cpu0=$(bench_cpu_s "$SERVER_PID")
    result=$(timeout $((SECONDS_RUN + 60)) python3 "$PEER" alarms --server 127.0.0.1 --stations 2 --interval 2 \
        --seconds "$SECONDS_RUN" ${TV_FLOOD_VERBOSE:+--verbose})
    log1=$(size_of "$inst/Log/log.csv")
    cpu1=$(bench_cpu_s "$SERVER_PID")
    rss=$(awk '/VmHWM/ {print $2}' "/proc/$SERVER_PID/status")
    sent=0
    for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null; done
    for f in "$WORK"/flood-$n-*.out; do
        s=$(awk '/^CLOSED|^SENT/ {v=$2} END {print v+0}' "$f")
        sent=$((sent + s))
    done
    echo "peers=$n ${result:-alarms=failed} server_peak_rss_mb=$((rss / 1024))" \
        "server_cpu_pct=$(echo "$cpu0 $cpu1 $SECONDS_RUN" | awk '{printf "%.0f", 100 * ($2 - $1) / $3}')" \
        "log_growth_mb=$(echo "$log0 $log1" | awk '{printf "%.2f", ($2 - $1) / 1e6}')" \
        "flood_mb_per_s=$(echo "$sent $SECONDS_RUN" | awk '{printf "%.1f", $1 / 1e6 / ($2 + 2)}')" \
        "garbage_only_cuts=$(grep -acF 'seit 30 s nur ung' "$inst/Log/log.csv")"
    bench_stop_server
    PIDS=()
done
