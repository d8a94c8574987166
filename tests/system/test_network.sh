#!/bin/bash
# The alarm network between real PCs: a server and two program stations plus fake stations, each in its own
# network namespace with its own address and X display. Registration, relay of every code with the sender's
# record, reuse of a station slot, server restart with and without automatic reconnection. The server is the
# one without a desktop (--headless, as the system service runs it): it must relay exactly as the desktop
# server of the other scenarios does.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh" "$1"
source "$HERE/netlib.sh"

net_require_root
net_setup
net_add_pc s 1
net_add_pc b 2
net_add_pc c 3
net_add_pc a 4
net_add_pc e 6
SRV_IP=$NET_PREFIX.1

common=("Server=0" "Init=1" "Servername=$SRV_IP" "Autoreconnect=1" "Visuell=1" "Akustisch=0")
SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
B=$(net_install b "${common[@]}" "Stationname=Station B") || tv_bail "install b"
C=$(net_install c "${common[@]}" "Stationname=Station C") || tv_bail "install c"

tv_start_display; DB=$TV_DISPLAY
tv_start_display; DC=$TV_DISPLAY

net_start_program s "$SRV" "" --headless; SRV_PID=$NET_LAST_PID
tv_wait_for 15 net_listening s 10161 || tv_bail "server does not listen on 10161"
tv_check "the server without a desktop names its address" grep -q "Adresse dieses Servers: $SRV_IP" "$TV_ARTIFACTS/s.err"
net_start_program b "$B" "$DB"; B_PID=$NET_LAST_PID
net_start_program c "$C" "$DC"; C_PID=$NET_LAST_PID

# --- registration -----------------------------------------------------------------------------------------
tv_check "station B registered (002 in its log)" tv_wait_file_contains 20 "$B/Log/log.csv" "$SRV_IP;002:Connect Response"
tv_check "station C registered (002 in its log)" tv_wait_file_contains 20 "$C/Log/log.csv" "$SRV_IP;002:Connect Response"
tv_check "server knows B by name after its second 001 or its first alarm" \
    tv_wait_file_contains 5 "$SRV/Log/log.csv" "$NET_PREFIX.2;001:Connect Request"
tv_check "B listens for its downlink on 10162" net_listening b 10162

# --- relay from a fake station A ---------------------------------------------------------------------------
net_start_peer a station --server "$SRV_IP" --bind "$NET_PREFIX.4" --name "Fake A" --vis 1 --ak 0
ALOG=$(net_peer_log a)
tv_wait_file_contains 10 "$ALOG" "DOWN" || tv_bail "server opened no downlink to fake station A"
A_REC="$NET_PREFIX.4|001: |Fake A|1|0|$NET_PREFIX.4"

relay() { # relay CODE REPLY LABEL
    local bb cb
    bb=$(net_count "$B/Log/log.csv" "$SRV_IP;$2:$3")
    cb=$(net_count "$C/Log/log.csv" "$SRV_IP;$2:$3")
    net_peer_cmd a "send $1: " || tv_not_ok "fake A took no command"
    tv_check "$1 from A comes back to A as $2 with A's record" tv_wait_file_contains 5 "$ALOG" "RECV $2: $A_REC"
    tv_check "$1 from A reaches B as $2" tv_wait_for 5 net_count_above "$B/Log/log.csv" "$SRV_IP;$2:$3" "$bb"
    tv_check "$1 from A reaches C as $2" tv_wait_for 5 net_count_above "$C/Log/log.csv" "$SRV_IP;$2:$3" "$cb"
}
relay 004 005 "ALARM an Clients weitergeleitet"
tv_check "server logs A's alarm under A's name" \
    tv_file_contains "$SRV/Log/log.csv" "$NET_PREFIX.4 (Fake A);004:ALARM von Client ausgel"
relay 006 007 "ALARM-Receive an Clients weitergeleitet"
relay 008 009 "ALARM-Cancel an Clients weitergeleitet"
relay 010 011 ""

# Two lines in one segment and one line split over two: all three relayed, in order.
net_peer_cmd a "raw $(printf '004: \r\n008: \r\n00' | xxd -p | tr -d '\n')"
sleep 0.3
net_peer_cmd a "raw $(printf '6: \r\n' | xxd -p | tr -d '\n')"
tv_check "merged and split lines all relayed in order" tv_wait_for 5 \
    sh -c "grep -a '^RECV 00[579]: $NET_PREFIX.4' '$ALOG' | tail -3 | cut -c6-9 | tr -d '\n' | grep -qx '005:009:007:'"

# --- slot reuse ------------------------------------------------------------------------------------------
net_peer_cmd a "close"
tv_check "A's uplink end is logged" tv_wait_file_contains 5 "$SRV/Log/log.csv" "$NET_PREFIX.4 (Fake A);Client Anwendung beendet"
tv_check "A's downlink is closed by the server" tv_wait_file_contains 5 "$ALOG" "CLOSED down"
net_start_peer e station --server "$SRV_IP" --bind "$NET_PREFIX.6" --name "Fake E" --no-connect
ELOG=$(net_peer_log e)
net_peer_cmd e "connect"
net_peer_cmd e "send 003: $NET_PREFIX.6"
tv_wait_file_contains 10 "$ELOG" "DOWN" || tv_not_ok "server opened no downlink to fake station E"
tv_check "the new station in the reused slot is logged by its own address" \
    tv_file_contains "$SRV/Log/log.csv" ";$NET_PREFIX.6;Client Anwendung gestartet"
tv_check "... and never under the previous station's name" tv_file_lacks "$SRV/Log/log.csv" "$NET_PREFIX.6 (Fake A)"
net_peer_cmd e "send 004: "
tv_check "an alarm before registering is relayed without a record" \
    tv_wait_for 5 grep -aqx "RECV 005: $NET_PREFIX.6|" "$ELOG"

# --- server restart, stations reconnect -----------------------------------------------------------------
regs() { net_count "$SRV/Log/log.csv" ";$NET_PREFIX.$1;001:Connect Request"; }
kill -TERM "$SRV_PID"
tv_wait_gone 10 "$SRV_PID" || tv_bail "server did not end"
tv_check "SIGTERM ends the server in order (end line in its log)" tv_file_contains "$SRV/Log/log.csv" "Server beendet"
b0=$(regs 2)
c0=$(regs 3)
net_start_program s "$SRV" "" --headless; SRV_PID=$NET_LAST_PID
tv_wait_for 15 net_listening s 10161 || tv_bail "restarted server does not listen"
t0=$SECONDS
tv_check "B registered again within 5 s of the restart" tv_wait_for 5 net_count_above "$SRV/Log/log.csv" \
    ";$NET_PREFIX.2;001:Connect Request" "$b0"
tv_check "C registered again within 5 s of the restart" tv_wait_for 5 net_count_above "$SRV/Log/log.csv" \
    ";$NET_PREFIX.3;001:Connect Request" "$c0"
echo "# re-registration after $((SECONDS - t0)) s"

# --- without automatic reconnection: the lost-server notice, then the end -------------------------------
net_set "$B" Autoreconnect 0
TV_DISPLAY=$DB
export DISPLAY=$DB
# Other notices (the emergency button's, at start) may be open already: the lost-server box is the new one.
before=$(tv_windows_of "$B_PID" --name '^tavinor$' | sort)
new_box() { comm -13 <(echo "$before") <(tv_windows_of "$B_PID" --name '^tavinor$' | sort) | grep -m1 .; }
has_new_box() { [ -n "$(new_box)" ]; }
kill -TERM "$SRV_PID"
tv_wait_gone 10 "$SRV_PID" || tv_bail "server did not end"
tv_check "B shows the lost-server notice" tv_wait_for 15 has_new_box
tv_shot "lost-server-notice"
tv_check "B is still running while the notice is open" tv_alive "$B_PID"
box=$(new_box)
if [ -n "$box" ]; then
    tv_focus "$box"
    tv_xdo key Return
    # Closing the box without its button ends the program as well.
    tv_wait_gone 3 "$B_PID" || tv_xdo windowclose "$box"
fi
# The last alarm from fake E is still shown at B: the end waits until its window is closed.
recv=$(tv_windows_of "$B_PID" --name '^tavinor - ALARM-Receiver$' | head -1)
if [ -n "$recv" ]; then
    tv_check "B does not end over an open alarm window" tv_alive "$B_PID"
    tv_close_window "$recv"
fi
tv_check "B ends after the notice" tv_wait_gone 10 "$B_PID"
tv_check "B's end is logged" tv_file_contains "$B/Log/log.csv" "Client beendet"
tv_check "C (Autoreconnect 1) keeps running and trying" tv_alive "$C_PID"

tv_finish
