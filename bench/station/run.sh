#!/bin/bash
# A station's start, its return after a server restart, and what it costs while it waits. A server and one
# station, each in its own network namespace (the rig of the system tests), the station on its own X display.
#   start     station process started -> 002 to the station on the wire (kernel timestamp on the switch)
#   return    server restarted: its start -> 002 to the station again (and when its port was seen open)
#   idle      over 20 s of waiting (connected, no alarm): wake-ups of the station (context switches of all
#             its threads) and its resident memory; then the same with a USB button attached (the device
#             simulator in place of the device library); then the server's resident memory with 100 more
#             stations connected (tv_relaypeer)
#   sudo bash bench/station/run.sh <build/bin> [runs]         (runs of the start figure, default 5)
HERE=$(cd "$(dirname "$0")" && pwd)
RUNS=${2:-5}
BIN_DIR=$(cd "${1:?usage: $0 <build/bin> [runs]}" && pwd) || exit 1
export TV_ARTIFACTS=${TV_ARTIFACTS:-$(dirname "$BIN_DIR")/bench-artifacts/station}
export TV_TIME_LIMIT=${TV_TIME_LIMIT:-900}
source "$HERE/../../tests/system/lib.sh" "$BIN_DIR"
source "$HERE/../../tests/system/netlib.sh"
SIM=$(dirname "$BIN_DIR")/iowkit-sim/libiowkit.so
PEER=${TV_RELAYPEER:-$(dirname "$BIN_DIR")/bench/relay/tv_relaypeer}
[ -f "$SIM" ] || tv_bail "no simulator at $SIM"
[ -x "$PEER" ] || tv_bail "no load peer at $PEER (build tv_relaypeer)"

net_require_root
net_setup
net_add_pc s 1
net_add_pc a 2
SRV_IP=$NET_PREFIX.1
A_IP=$NET_PREFIX.2
SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
A=$(net_install a "Server=0" "Init=1" "Servername=$SRV_IP" "Autoreconnect=1" "CheckBuzzer=0" "Visuell=1" \
    "Akustisch=0" "Stationname=Station A") || tv_bail "install a"
net_start_wm; DS=$TV_DISPLAY
net_start_wm; DA=$TV_DISPLAY
trap 'net_cleanup; rm -f "/dev/shm/tavinor_shared_mem.0$DA"' EXIT

SNIFF=$TV_ARTIFACTS/wire.txt
ip netns exec "$NET_SWITCH" python3 -u "$HERE/../alarm-latency/latency.py" sniff >"$SNIFF" 2>&1 &
tv_track $!
tv_wait_for 10 grep -q READY "$SNIFF" || tv_bail "no sniffer"

now_ns() { date +%s%N; }
# The kernel time of the first 002 to the station after $1 (ns); empty when none yet.
reg_after() { awk -v t="$1" -v d="$A_IP" '$1 == "PKT" && $2 > t && $4 == d && $5 ~ /^002:/ {print $2; exit}' "$SNIFF"; }
registered_after() { [ -n "$(reg_after "$1")" ]; }
ms() { echo "scale=1; ($2 - $1) / 1000000" | bc; }
# Context switches of every thread of a process: each is a wake-up or a preemption.
switches() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/ctxt_switches/ {n += $2} END {print n + 0}'; }
rss_mb() { awk '/VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$1/status"; }
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }

start_server() {
    net_start_program s "$SRV" "$DS"
    SRV_PID=$NET_LAST_PID
    tv_wait_for 15 net_listening s 10161 || tv_bail "server does not listen"
}
start_server
starts=()
for run in $(seq "$RUNS"); do
    t0=$(now_ns)
    net_start_program a "$A" "$DA"
    A_PID=$NET_LAST_PID
    tv_wait_for 20 registered_after "$t0" || tv_bail "station did not register (run $run)"
    starts+=("$(ms "$t0" "$(reg_after "$t0")")")
    echo "# start run $run: $(ms "$t0" "$(reg_after "$t0")") ms"
    [ "$run" = "$RUNS" ] && break
    kill "$A_PID"; tv_wait_gone 10 "$A_PID"
    rm -f "/dev/shm/tavinor_shared_mem.0$DA"
done
echo "start_to_002_ms median=$(printf '%s\n' "${starts[@]}" | median) runs=${starts[*]}"

# Timed from the server's start: a station that registers quickly may beat the poll that sees the port open.
returns=()
listens=()
for run in 1 2 3; do
    kill "$SRV_PID"; tv_wait_gone 10 "$SRV_PID"
    sleep 1
    t1=$(now_ns)
    net_start_program s "$SRV" "$DS"
    SRV_PID=$NET_LAST_PID
    tv_wait_for 15 net_listening s 10161 || tv_bail "server does not listen again"
    listens+=("$(ms "$t1" "$(now_ns)")")
    tv_wait_for 20 registered_after "$t1" || tv_bail "station did not register again"
    returns+=("$(ms "$t1" "$(reg_after "$t1")")")
done
echo "server_start_to_002_ms median=$(printf '%s\n' "${returns[@]}" | median) runs=${returns[*]}" \
    "(listening seen after ${listens[*]} ms; connect tick 2000 ms)"

# Per thread: "name switches".
per_thread() {
    local t
    for t in /proc/"$1"/task/*; do
        echo "$(tr ' ' _ <"$t/comm"):${t##*/} $(awk '/ctxt_switches/ {n += $2} END {print n + 0}' "$t/status")"
    done
}
idle() {
    sleep 3
    local c0 c1 t0
    t0=$(per_thread "$A_PID")
    c0=$(switches "$A_PID"); sleep 20; c1=$(switches "$A_PID")
    echo "idle_station_$1 wakeups_per_s=$(echo "scale=1; ($c1 - $c0) / 20" | bc) rss_mb=$(rss_mb "$A_PID")" \
        "by_thread:" $(join <(sort <<<"$t0") <(per_thread "$A_PID" | sort) | awk '{printf "%s=%d ", $1, $3 - $2}')
}
idle no_button

kill "$A_PID"; tv_wait_gone 10 "$A_PID"
rm -f "/dev/shm/tavinor_shared_mem.0$DA"
cp "$SIM" "$A/libiowkit.so"
t0=$(now_ns)
net_start_program a "$A" "$DA"
A_PID=$NET_LAST_PID
tv_wait_for 20 registered_after "$t0" || tv_bail "station with button did not register"
tv_wait_for 10 grep -q "^read 1" "$A/iowsim/events" || tv_bail "button not polled"
idle with_button
# A press while it waits is still seen: the receiver window is not this station's, but the 004 on the wire is.
tp=$(now_ns)
echo press >>"$A/iowsim/in-1"
pressed() { awk -v t="$tp" '$1 == "PKT" && $2 > t && $5 ~ /^004:/ {f = 1} END {exit !f}' "$SNIFF"; }
tv_wait_for 10 pressed && echo "button_press_seen=yes" || echo "button_press_seen=NO"

echo "idle_server_1_station rss_mb=$(rss_mb "$SRV_PID")"
ip netns exec "$(net_ns s)" "$PEER" --server 127.0.0.1 --stations 100 --alarms 0 --hold 15 >"$TV_ARTIFACTS/peer.txt" 2>&1 &
tv_track $!
tv_wait_for 60 grep -q "holding" "$TV_ARTIFACTS/peer.txt" || tv_bail "the 100 stations did not connect"
sleep 5
c0=$(switches "$SRV_PID"); sleep 5; c1=$(switches "$SRV_PID")
echo "idle_server_101_stations rss_mb=$(rss_mb "$SRV_PID") wakeups_per_s=$(echo "scale=1; ($c1 - $c0) / 5" | bc)"
tv_ok "figures above"
tv_finish
