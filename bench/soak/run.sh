#!/bin/bash
# Soak: a server and stations A, B, C (as in bench/alarm-latency) run for a while with an alarm every 10 s,
# raised with the alert key at A and ended with F4; the resident memory of every program is sampled after
# each alarm. Prints the first and last sample and the growth per program.
#   sudo bash bench/soak/run.sh <build/bin> [minutes]          (default 10)
HERE=$(cd "$(dirname "$0")" && pwd)
MINUTES=${2:-10}
BIN_DIR=$(cd "${1:?usage: $0 <build/bin> [minutes]}" && pwd) || exit 1
export TV_ARTIFACTS=${TV_ARTIFACTS:-$(dirname "$BIN_DIR")/bench-artifacts/soak}
export TV_TIME_LIMIT=${TV_TIME_LIMIT:-$((MINUTES * 60 + 600))}
LAT=$HERE/../alarm-latency
source "$HERE/../../tests/system/lib.sh" "$BIN_DIR"
source "$HERE/../../tests/system/netlib.sh"
source "$LAT/setup.sh"

rss_kb() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }
SAMPLES=$TV_ARTIFACTS/rss.txt
echo "# alarm server_kb a_kb b_kb c_kb" >"$SAMPLES"
end=$((SECONDS + MINUTES * 60))
n=0
while [ $SECONDS -lt $end ]; do
    next=$((SECONDS + 10))
    n=$((n + 1))
    python3 "$LAT/latency.py" drive --alarms 1 --a-display "$DA" --b-display "$DB" --c-display "$DC" \
        --switch-ns "$NET_SWITCH" --a-ip "$NET_PREFIX.4" --b-ip "$NET_PREFIX.2" --c-ip "$NET_PREFIX.3" \
        --srv-ip "$SRV_IP" >"$TV_ARTIFACTS/alarm-$n.txt" 2>&1 || tv_bail "alarm $n failed"
    echo "$n $(rss_kb "$S_PID") $(rss_kb "$A_PID") $(rss_kb "$B_PID") $(rss_kb "$C_PID")" >>"$SAMPLES"
    while [ $SECONDS -lt $next ]; do sleep 0.2; done
done
# The first alarms warm caches and build windows once: growth is counted from the fifth sample on.
awk 'NR > 1 {a[NR] = $0} END {
    split(a[6], f, " "); split(a[NR], l, " "); names[2] = "server"; names[3] = "A"; names[4] = "B"; names[5] = "C"
    printf "alarms=%d", l[1]
    for (i = 2; i <= 5; i++) printf " %s_rss_mb=%.1f->%.1f(%+.1f)", names[i], f[i] / 1024, l[i] / 1024, (l[i] - f[i]) / 1024
    print ""
}' "$SAMPLES"
tv_ok "samples in $SAMPLES"
tv_finish
