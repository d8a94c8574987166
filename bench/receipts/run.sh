#!/bin/bash
# Receipts benchmark: the server program and N stations of the C++ load peer (tv_receipts_peer) on distinct
# loopback addresses 127.1.x.y inside a private network namespace, so nothing else on the machine is
# touched. The stations offer receipts and answer every alarm at once; a raising station sends K alarms
# and times each from its 004 written to holding a "shown" line for every station. Prints those times, the
# server's peak resident memory and CPU time, and the load peer's own CPU time per alarm.
#   sudo bash bench/receipts/run.sh <build dir> [N ...]        (default N: 100 1000; K=10)
set -u
BUILD=$(cd "${1:?usage: $0 <build dir> [stations...]}" && pwd)
shift
COUNTS=("${@:-100 1000}")
ALARMS=${ALARMS:-10}
BIN=$BUILD/bin
PEER=$BUILD/bench/receipts/tv_receipts_peer
[ -x "$PEER" ] || { echo "missing $PEER: build the target tv_receipts_peer" >&2; exit 1; }

if [ "${TV_BENCH_INNER:-0}" != 1 ]; then
    [ "$(id -u)" = 0 ] || { echo "needs root (private network namespace)" >&2; exit 1; }
    exec env TV_BENCH_INNER=1 ALARMS="$ALARMS" unshare -n bash "$0" "$BUILD" ${COUNTS[*]}
fi

ip link set lo up
WORK=$(mktemp -d /tmp/tavinor-receipts.XXXXXX)
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
    result=$(timeout 600 "$PEER" 127.0.0.1 "$n" "$ALARMS")
    rss=$(awk '/VmHWM/ {print $2}' "/proc/$SERVER_PID/status")
    cpu=$(awk -v t="$TICKS" '{printf "%.2f", ($14 + $15) / t}' "/proc/$SERVER_PID/stat")
    echo "$result server_peak_rss_mb=$((rss / 1024)) server_cpu_s=$cpu"
    LC_ALL=C grep -a 'R.ckmeldung' "$inst/Log/log.csv" | tail -1 | cut -c1-200 | iconv -f CP1252 -t UTF-8 | sed 's/^/# last result: /'
    kill "$SERVER_PID"
    wait "$SERVER_PID" 2>/dev/null
    SERVER_PID=
done
