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

source "$HERE/setup.sh"

# A desktop in use has seen keys before its first alarm; an X server that never had one takes several
# milliseconds over its first, which would be counted against the first alarm.
for display in "$DA" "$DB" "$DC"; do DISPLAY=$display xdotool key shift; done
echo "# $ALARMS alarms; per-alarm figures and the summary in ms"
python3 "$HERE/latency.py" drive --alarms "$ALARMS" --a-display "$DA" --b-display "$DB" --c-display "$DC" \
    --switch-ns "$NET_SWITCH" --a-ip "$NET_PREFIX.4" --b-ip "$NET_PREFIX.2" --c-ip "$NET_PREFIX.3" \
    --srv-ip "$SRV_IP" | tee "$TV_ARTIFACTS/figures.txt"
status=${PIPESTATUS[0]}
if [ "$status" = 0 ]; then tv_ok "figures in $TV_ARTIFACTS/figures.txt"; else tv_not_ok "the measurement failed"; fi
tv_finish
