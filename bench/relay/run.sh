#!/bin/bash
# Relay benchmark: the server program and N simulated stations (uplink and downlink each, on distinct
# loopback addresses 127.1.x.y) inside a private network namespace, so nothing else on the machine is
# touched. For each N: time from a 004 written to the first and the last 005 (50 alarms, alternating with
# 008 -> 009), as the load peer reads them and, without the peer, from the packets' kernel timestamps
# (server_*); the peer's own CPU time per alarm; the server's peak resident memory and CPU time.
#   sudo bash bench/relay/run.sh <build/bin> [N ...]        (default N: 100 500 1000)
# The peer is tv_relaypeer of the same build (build/bench/relay), or the file named by TV_RELAYPEER.
set -u
BIN=$(cd "${1:?usage: $0 <build/bin> [stations...]}" && pwd)
shift
COUNTS=("${@:-100 500 1000}")
PEER=${TV_RELAYPEER:-$BIN/../bench/relay/tv_relaypeer}
[ -x "$PEER" ] || { echo "missing $PEER: build the target tv_relaypeer" >&2; exit 1; }

if [ "${TV_BENCH_INNER:-0}" != 1 ]; then
    [ "$(id -u)" = 0 ] || { echo "needs root (private network namespace)" >&2; exit 1; }
    exec env TV_BENCH_INNER=1 TV_RELAYPEER="$PEER" unshare -n bash "$0" "$BIN" ${COUNTS[*]}
fi

ip link set lo up
WORK=$(mktemp -d /tmp/tavinor-bench.XXXXXX)
SERVER_PID=
cleanup() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
TICKS=$(getconf CLK_TCK)

for n in ${COUNTS[*]}; do
    inst=$WORK/server-$n
    cp -a "$BIN" "$inst"
    printf '[General]\r\nServer=1\r\nInit=1\r\nStationname=Bench\r\nCompleteLog=0\r\n' >"$inst/tavinor.ini"
    (cd "$inst" && QT_QPA_PLATFORM=offscreen exec "$inst/tavinor") >"$WORK/server-$n.out" 2>&1 &
    SERVER_PID=$!
    for _ in $(seq 50); do
        ss -ltnH 'sport = :10161' | grep -q LISTEN && break
        sleep 0.1
    done
    result=$(timeout 240 "$PEER" --server 127.0.0.1 --stations "$n" --alarms 50)
    rss=$(awk '/VmHWM/ {print $2}' "/proc/$SERVER_PID/status")
    cpu=$(awk -v t="$TICKS" '{printf "%.2f", ($14 + $15) / t}' "/proc/$SERVER_PID/stat")
    echo "$result server_peak_rss_mb=$((rss / 1024)) server_cpu_s=$cpu"
    kill "$SERVER_PID"
    wait "$SERVER_PID" 2>/dev/null
    SERVER_PID=
done
