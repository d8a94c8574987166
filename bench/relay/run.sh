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

export TV_RELAYPEER="$PEER"
BENCH_ARGS=("$BIN" ${COUNTS[*]})
source "$(dirname "$0")/../netns-server.sh"
WORK=$(mktemp -d /tmp/tavinor-bench.XXXXXX)
trap 'bench_stop_server; rm -rf "$WORK"' EXIT

for n in ${COUNTS[*]}; do
    bench_server "$WORK/server-$n" "$BIN" $'[General]\r\nServer=1\r\nInit=1\r\nStationname=Bench\r\nCompleteLog=0\r\n'
    result=$(timeout 240 "$PEER" --server 127.0.0.1 --stations "$n" --alarms 50)
    echo "$result $(bench_server_figures)"
    bench_stop_server
done
