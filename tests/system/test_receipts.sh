#!/bin/bash
# Delivery receipts between real PCs. A server; program stations B and C that show alarms, D set to show
# nothing, F whose network is cut after it registered; a fake station E that speaks today's protocol only;
# station A raises with F12. A learns that B and C show the alarm, D apart, E an older version, F missing
# after the wait; the server's log and A's log hold the same result; E receives exactly today's bytes.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh" "$1"
source "$HERE/netlib.sh"

net_require_root
net_setup
for pc in s:1 b:2 c:3 a:4 d:5 e:6 f:7; do net_add_pc "${pc%%:*}" "${pc##*:}"; done
SRV_IP=$NET_PREFIX.1
A_IP=$NET_PREFIX.4
E_IP=$NET_PREFIX.6
# The event logs are Windows-1252.
cp1252() { printf '%s' "$1" | iconv -f UTF-8 -t CP1252; }
RESULT=$(cp1252 "Rückmeldung: Alarm angezeigt auf 2 von 3 Stationen / nicht bestätigt: Station F / keine Anzeige eingestellt: Station D / ohne Rückmeldung (ältere Version): Station E")

common=("Server=0" "Init=1" "Servername=$SRV_IP" "Autoreconnect=1" "CheckBuzzer=0" "Visuell=1" "Akustisch=0")
SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
for pc in A B C F; do
    eval "$pc=\$(net_install ${pc,,} \"\${common[@]}\" \"Stationname=Station $pc\")" || tv_bail "install $pc"
done
D=$(net_install d "${common[@]/Visuell=1/Visuell=0}" "Stationname=Station D") || tv_bail "install d"

tv_start_display; DS=$TV_DISPLAY
net_start_program s "$SRV" "$DS"; SRV_PID=$NET_LAST_PID
tv_wait_for 15 net_listening s 10161 || tv_bail "server does not listen on 10161"
# Stations in this order take the server's slots in this order: the result lists them so.
for pc in B C D F A; do
    if [ "$pc" = A ] || [ "$pc" = B ]; then net_start_wm; else tv_start_display; fi
    eval "D$pc=\$TV_DISPLAY"
    net_start_program "${pc,,}" "${!pc}" "$TV_DISPLAY"; eval "${pc}_PID=\$NET_LAST_PID"
    tv_wait_file_contains 20 "${!pc}/Log/log.csv" "$SRV_IP;002:Connect Response" || tv_bail "station $pc did not register"
done
net_start_peer e station --server "$SRV_IP" --bind "$E_IP" --name "Station E" --record "$TV_ARTIFACTS/e.bytes"
tv_wait_file_contains 10 "$(net_peer_log e)" "DOWN" || tv_bail "server opened no downlink to fake station E"
# The server's answer to a station's offer is logged by the station like every downlink line.
for pc in A B C D F; do
    tv_check "$pc and the server agree on receipts" tv_wait_file_contains 10 "${!pc}/Log/log.csv" "$SRV_IP;013:"
done

# F's network goes: the server still holds its connections, but nothing reaches it any more.
ip -n "$(net_ns f)" link set eth0 down

# --- F12 at A ------------------------------------------------------------------------------------------
receipt_lines() { net_count "$A/Log/log.csv" "$SRV_IP;015:"; }
# Five stations at the start, then the answers of B, C and D: the time it took is printed, not judged.
answered() { [ "$(receipt_lines)" -ge 8 ]; }
T0=$(date +%s%N)
key_at "$DA" F12
tv_wait_for 10 answered && echo "# F12 at A to the receipts of B, C and D at A: $((($(date +%s%N) - T0) / 1000000)) ms"
tv_check "B shows the alarm" tv_wait_for 10 on "$DB" tv_has_window "$B_PID" --all --name "$RECEIVER"
tv_check "C shows the alarm" tv_wait_for 10 on "$DC" tv_has_window "$C_PID" --all --name "$RECEIVER"
tv_wait_for 10 on "$DA" tv_has_window "$A_PID" --all --name "$SENDER" || tv_bail "A shows no sender window"
tv_check "A receives the states of the stations" tv_wait_file_contains 10 "$A/Log/log.csv" "$SRV_IP;015:"
tv_check "the server logs the result after the wait" tv_wait_file_contains 15 "$SRV/Log/log.csv" "$A_IP (Station A);$RESULT"
tv_check "A's log holds the same result" tv_wait_file_contains 10 "$A/Log/log.csv" ";Station A;$RESULT"
tv_check "D showed nothing" on "$DD" tv_lacks_window "$D_PID" --all --name "$RECEIVER"
on "$DA" tv_shot "sender-with-receipts"

# A ends the alarm: F4 in its sender window.
on "$DA" tv_focus "$(on "$DA" tv_windows_of "$A_PID" --all --name "$SENDER" | head -1)"
key_at "$DA" F4
tv_check "the cancel closes B's window" tv_wait_for 10 on "$DB" tv_lacks_window "$B_PID" --all --name "$RECEIVER"

# --- E, the older station, received exactly today's bytes ---------------------------------------------------
A_REC="$A_IP|001: |Station A|1|0|$A_IP"
tv_wait_file_contains 10 "$TV_ARTIFACTS/e.bytes" "009: " || tv_not_ok "E received no cancel"
printf '005: %s\r\n009: %s\r\n' "$A_REC" "$A_REC" >"$TV_ROOT/e.expected"
# Registrations of others reach E as 002 lines at any time: the 002s stand apart, each of today's form.
grep -av '^002: ' "$TV_ARTIFACTS/e.bytes" >"$TV_ROOT/e.rest"
tv_check "E's downlink carried the alarm and its cancel and nothing else" cmp "$TV_ROOT/e.expected" "$TV_ROOT/e.rest"
tv_check "every 002 at E is of today's form" test \
    "$(grep -avcE "^(002: $SRV_IP:10161-$NET_PREFIX\.[0-9]+:[0-9]+|005: .*|009: .*)"$'\r$' "$TV_ARTIFACTS/e.bytes")" -eq 0
tv_check "E's uplink carried nothing back" test ! -s "$TV_ARTIFACTS/e.bytes.up"

tv_check "the stations are still running" sh -c "kill -0 $A_PID && kill -0 $B_PID"
tv_finish
