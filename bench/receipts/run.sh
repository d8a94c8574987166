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

export ALARMS
BENCH_ARGS=("$BUILD" ${COUNTS[*]})
source "$(dirname "$0")/../netns-server.sh"
WORK=$(mktemp -d /tmp/tavinor-receipts.XXXXXX)
trap 'bench_stop_server; rm -rf "$WORK"' EXIT

for n in ${COUNTS[*]}; do
    inst=$WORK/server-$n
    bench_server "$inst" "$BIN" $'[General]\r\nServer=1\r\nInit=1\r\nStationname=Bench\r\nCompleteLog=0\r\n'
    result=$(timeout 600 "$PEER" 127.0.0.1 "$n" "$ALARMS")
    echo "$result $(bench_server_figures)"
    LC_ALL=C grep -a 'R.ckmeldung' "$inst/Log/log.csv" | tail -1 | cut -c1-200 | iconv -f CP1252 -t UTF-8 | sed 's/^/# last result: /'
    bench_stop_server
done
