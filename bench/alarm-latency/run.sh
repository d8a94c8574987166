#!/bin/bash
# Alarm latency from the alert key at station A to the receiver window on the screens of B and C: a server and
# three stations, each in its own network namespace with its own X display and openbox, built
# with the rig of the system tests. 20 alarms (or as many as given), each ended with F4 at A before the next.
# Times come from X events and kernel packet timestamps, not from sleeps; see latency.py.
#   sudo bash bench/alarm-latency/run.sh <build/bin> [alarms]
HERE=$(cd "$(dirname "$0")" && pwd)
ALARMS=${2:-20}
BIN_DIR=$(cd "${1:?usage: $0 <build/bin> [alarms]}" && pwd) || exit 1
export TV_ARTIFACTS=${TV_ARTIFACTS:-$(dirname "$BIN_DIR")/bench-artifacts/alarm-latency}
export TV_TIME_LIMIT=${TV_TIME_LIMIT:-900}
source "$HERE/../../tests/system/lib.sh" "$BIN_DIR"
source "$HERE/../../tests/system/netlib.sh"

net_require_root
[ -f "$TV_BIN/libtvkbhk.so" ] || tv_bail "no libtvkbhk.so in $TV_BIN"
net_setup
net_add_pc s 1
net_add_pc a 4
net_add_pc b 2
net_add_pc c 3
SRV_IP=$NET_PREFIX.1

common=("Server=0" "Init=1" "Servername=$SRV_IP" "Autoreconnect=1" "CheckBuzzer=0" "Visuell=1" "Akustisch=0")
SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
A=$(net_install a "${common[@]}" "Stationname=Station A") || tv_bail "install a"
B=$(net_install b "${common[@]}" "Stationname=Station B") || tv_bail "install b"
C=$(net_install c "${common[@]}" "Stationname=Station C") || tv_bail "install c"

net_start_wm; DS=$TV_DISPLAY
net_start_wm; DA=$TV_DISPLAY
net_start_wm; DB=$TV_DISPLAY
net_start_wm; DC=$TV_DISPLAY
# The stations are ended by signal, which leaves their shared records behind.
trap 'net_cleanup; rm -f "/dev/shm/tavinor_shared_mem.0$DA" "/dev/shm/tavinor_shared_mem.0$DB" "/dev/shm/tavinor_shared_mem.0$DC"' EXIT

net_start_program s "$SRV" "$DS"
tv_wait_for 15 net_listening s 10161 || tv_bail "server does not listen on 10161"
net_start_program a "$A" "$DA"
net_start_program b "$B" "$DB"
net_start_program c "$C" "$DC"
for pc in A B C; do
    folder=${!pc}
    tv_wait_file_contains 20 "$folder/Log/log.csv" "$SRV_IP;002:" || tv_bail "$pc did not register"
done
# The key is grabbed once A has applied its record.
tv_wait_for 10 test -e "/dev/shm/tavinor_shared_mem.0$DA" || tv_bail "A has no shared record"

echo "# $ALARMS alarms; per-alarm figures and the summary in ms"
python3 "$HERE/latency.py" drive --alarms "$ALARMS" --a-display "$DA" --b-display "$DB" --c-display "$DC" \
    --switch-ns "$NET_SWITCH" --a-ip "$NET_PREFIX.4" --b-ip "$NET_PREFIX.2" --c-ip "$NET_PREFIX.3" \
    --srv-ip "$SRV_IP" | tee "$TV_ARTIFACTS/figures.txt"
status=${PIPESTATUS[0]}
if [ "$status" = 0 ]; then tv_ok "figures in $TV_ARTIFACTS/figures.txt"; else tv_not_ok "the measurement failed"; fi
tv_finish
