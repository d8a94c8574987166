#!/bin/bash
# A flooding peer beside two well-behaved stations: every alarm is relayed, the stray lines reach the event
# log only within their budget and as a counted summary, and the peer that sends nothing valid for 30 s is
# cut off once.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh" "$1"
source "$HERE/netlib.sh"

net_require_root
net_setup
net_add_pc s 1
net_add_pc b 2
ip -n "$(net_ns b)" addr add "$NET_PREFIX.3/24" dev eth0
net_add_pc f 5
SRV_IP=$NET_PREFIX.1

SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
LOG=$SRV/Log/log.csv
tv_start_display
net_start_program s "$SRV" "$TV_DISPLAY"
tv_wait_for 15 net_listening s 10161 || tv_bail "server does not listen on 10161"
tv_wait_for 10 test -f "$LOG" || tv_bail "server wrote no log"
size0=$(stat -c %s "$LOG")

# The flooder registers with a name of 3000 characters, then sends garbage at 1 MB/s and never reconnects.
net_start_peer f flood --server "$SRV_IP" --bind "$NET_PREFIX.5" --rate 1 --name-length 3000 --seconds 50
FLOG=$(net_peer_log f)
tv_wait_file_contains 10 "$FLOG" "UP" || tv_bail "flooder did not connect"

result=$(ip netns exec "$(net_ns b)" timeout 60 python3 "$NET_PEER" alarms --server "$SRV_IP" \
    --bind "$NET_PREFIX.2,$NET_PREFIX.3" --interval 1 --seconds 10)
echo "# $result"
relayed=$(sed -n 's/.*relays_ok=\([0-9]*\)\/\([0-9]*\).*/\1 \2/p' <<<"$result")
tv_check "every alarm raised during the flood reached both stations ($relayed)" \
    test -n "$relayed" -a "${relayed% *}" = "${relayed#* }" -a "${relayed% *}" -gt 0

tv_check "the flooder is cut off after 30 s of nothing valid" tv_wait_file_contains 40 "$FLOG" "CLOSED"
stray() { iconv -c -f cp1252 -t utf-8 "$LOG" | grep -a -e 'Ungültige Zeile verworfen' -e 'Zeile ohne Zeilenende'; }
tv_check "the cut is logged once" test "$(iconv -c -f cp1252 -t utf-8 "$LOG" | grep -ac 'seit 30 s nur ungültige Zeilen')" = 1
tv_check "stray lines logged within the budget (at most 3 in the minute)" test "$(stray | wc -l)" -le 3 -a "$(stray | wc -l)" -ge 1
tv_check "... with a short station field" test "$(stray | awk '{ if (length($0) > 200) n++ } END { print n + 0 }')" = 0
tv_check "the rest is counted in a summary" \
    sh -c "iconv -c -f cp1252 -t utf-8 '$LOG' | grep -aqE '[0-9]+ weitere ungültige Zeilen von $NET_PREFIX.5 verworfen'"
grown=$(($(stat -c %s "$LOG") - size0))
tv_check "the log grew by less than 1 MB ($grown bytes)" test "$grown" -lt 1000000

cp "$LOG" "$TV_ARTIFACTS/server-log.csv"
tv_finish
