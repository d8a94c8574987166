#!/bin/bash
# A station's side of faults: an alarm raised while the server is down reaches everyone once it is back
# (and one cancelled before that reaches nobody); a foreign host on a station's port changes nothing; a
# taken server port is reported and retried; without reconnecting, one notice and then the end. Three
# groups of PCs run side by side; the figures go into the issue notes.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh" "$1"
source "$HERE/netlib.sh"

net_require_root

RELAYED="005:ALARM an Clients weitergeleitet"

log_count() { local d="DIR_$1"; net_count "${!d}/Log/log.csv" "$2"; }
log_count_above() { [ "$(log_count "$1" "$2")" -gt "$3" ]; }
stop_server() { kill -TERM "$SRV_PID"; tv_wait_gone 10 "$SRV_PID" || tv_bail "server did not end"; }
restart_server() {
    net_start_program s "$SRV" "$SRV_DISPLAY"
    SRV_PID=$NET_LAST_PID
}

# --- group a: alarms raised while the server is down ------------------------------------------------------
offline_alarm() {
    local la t0 b0 c0 t lost=0 pc w ra rb rc
    NET_SITE_SETTINGS=("Visuell=1")
    net_site a b c
    # Screenshots of A's screen.
    TV_DISPLAY=$DISPLAY_a
    la=$(net_losses a)
    stop_server
    tv_wait_for 20 net_losses_above a "$la" || tv_bail "A did not notice the server going"

    key_at "$DISPLAY_a" F12
    tv_check "A shows its sender window" tv_wait_for 10 on "$DISPLAY_a" tv_has_window "$PID_a" --all --name "$SENDER"
    tv_check "A's log says the alarm was not sent" tv_wait_for 5 log_count_above a "ALARM nicht gesendet" 0
    b0=$(log_count b "$RELAYED"); c0=$(log_count c "$RELAYED")
    restart_server
    t0=$SECONDS
    local tb="" tc=""
    while [ $((SECONDS - t0)) -lt 40 ] && { [ -z "$tb" ] || [ -z "$tc" ]; }; do
        [ -z "$tb" ] && log_count_above b "$RELAYED" "$b0" && tb=$((SECONDS - t0))
        [ -z "$tc" ] && log_count_above c "$RELAYED" "$c0" && tc=$((SECONDS - t0))
        sleep 0.2
    done
    for pc in b c; do
        w="t$pc"
        if [ -n "${!w}" ]; then
            tv_ok "the alarm raised offline at A reaches $pc after the server is back"
            net_figure "offline alarm: reached $pc after the server restart" "${!w} s"
        else
            tv_not_ok "the alarm raised offline at A reaches $pc after the server is back"
            lost=$((lost + 1))
        fi
    done
    net_figure "offline alarm: stations the alarm did not reach" "$lost of 2"
    tv_check "A's log says the alarm was sent later" tv_wait_for 5 log_count_above a "ALARM nachtr" 0
    key_at "$DISPLAY_a" F4

    # Raised offline again and the window closed before the server is back: nobody is alarmed.
    la=$(net_losses a)
    stop_server
    tv_wait_for 20 net_losses_above a "$la" || tv_bail "A did not notice the server going again"
    key_at "$DISPLAY_a" F12
    tv_wait_for 5 log_count_above a "ALARM nicht gesendet" 1 || tv_not_ok "second offline alarm not logged"
    w=$(on "$DISPLAY_a" tv_windows_of "$PID_a" --all --name "$SENDER" | head -1)
    [ -n "$w" ] && on "$DISPLAY_a" tv_close_window "$w"
    tv_check "A's sender window is closed" tv_wait_for 10 on "$DISPLAY_a" tv_lacks_window "$PID_a" --all --name "$SENDER"
    b0=$(log_count b "$RELAYED"); c0=$(log_count c "$RELAYED")
    ra=$(net_registrations a); rb=$(net_registrations b); rc=$(net_registrations c)
    restart_server
    for pc in a b c; do
        local r="r$pc"
        tv_wait_for 40 net_registrations_above "$pc" "${!r}" || tv_not_ok "$pc did not register again"
    done
    # Every station is registered again, so a waiting alarm would have gone out at A's registration.
    tv_check "the cancelled alarm reaches B" test "$(log_count b "$RELAYED")" -eq "$b0"
    tv_check "... nor C" test "$(log_count c "$RELAYED")" -eq "$c0"
    tv_check "A sent no alarm later" test "$(log_count a "ALARM nachtr")" -eq 1
}

# --- group f: a foreign host on a station's port 10162 ----------------------------------------------------
foreign_host() {
    local alog
    NET_SITE_SETTINGS=("Visuell=1" "Autoreconnect=0")
    net_site b
    net_add_pc a 4
    net_add_pc x 9
    net_start_peer a station --server "$SRV_IP" --bind "$NET_PREFIX.4" --name "Station A" --vis 1 --ak 0
    alog=$(net_peer_log a)
    tv_wait_file_contains 10 "$alog" "DOWN" || tv_bail "server opened no downlink to fake station A"
    probe() {
        ip netns exec "$(net_ns x)" timeout 10 python3 -c '
import socket, sys
s = socket.create_connection((sys.argv[1], 10162), timeout=5)
s.sendall(b"005: 10.0.0.99|001: |Fremd|1|1|10.0.0.99\r\n009: 10.0.0.99|\r\n")
s.close()' "$IP_b"
    }
    probe
    tv_check "B logs the refused host" tv_wait_for 5 log_count_above b "Verbindung abgewiesen" 0
    tv_check "B shows no alarm from it" on "$DISPLAY_b" tv_lacks_window "$PID_b" --all --name "$RECEIVER"
    probe
    probe
    tv_check "B logs the host once a minute only" tv_wait_for 5 test "$(log_count b "Verbindung abgewiesen")" -eq 1
    tv_check "B (Autoreconnect 0) still runs" tv_alive "$PID_b"
    tv_check "B kept its link" test "$(net_losses b)" -eq 0
    net_peer_cmd a "send 004: " || tv_not_ok "fake A took no command"
    tv_check "B receives the next real alarm" tv_wait_for 10 log_count_above b "$RELAYED" 0
    tv_check "B shows it" tv_wait_for 10 on "$DISPLAY_b" tv_has_window "$PID_b" --all --name "$RECEIVER"
}

# --- group t: port 10161 taken at the server's start; then a station that does not reconnect --------------
port_taken_then_no_reconnect() {
    local holder flag t0 t before boxes max=0 box
    net_add_pc s 1
    # Another program holds 10161 until the flag file goes.
    flag=$TV_ROOT/hold
    touch "$flag"
    ip netns exec "$(net_ns s)" python3 -c '
import os, socket, sys, time
s = socket.socket()
s.bind(("0.0.0.0", 10161))
s.listen()
while os.path.exists(sys.argv[1]):
    time.sleep(0.1)' "$flag" &
    holder=$!
    tv_track "$holder"
    tv_wait_for 30 net_listening s 10161 || tv_bail "the port holder did not start"
    SRV_IP=$NET_PREFIX.1
    SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
    tv_start_display
    SRV_DISPLAY=$TV_DISPLAY
    restart_server
    # No "Autoreconnect" at all: a missing value means reconnect.
    net_add_pc b 2
    IP_b=$NET_PREFIX.2
    DIR_b=$(net_install b "Server=0" "Init=1" "Servername=$SRV_IP" "CheckBuzzer=0" "Stationname=Station b") ||
        tv_bail "install b"
    tv_start_display
    DISPLAY_b=$TV_DISPLAY
    net_start_program b "$DIR_b" "$DISPLAY_b"
    PID_b=$NET_LAST_PID
    tv_check "the server logs the taken port" tv_wait_file_contains 15 "$SRV/Log/log.csv" "Port 10161 belegt"
    tv_check "the server shows a notice" tv_wait_for 10 on "$SRV_DISPLAY" tv_has_window "$SRV_PID" --name '^tavinor$'
    tv_check "no start line while nothing listens" tv_file_lacks "$SRV/Log/log.csv" "Server gestartet"
    sleep 5
    rm -f "$flag"
    wait "$holder"
    t0=$SECONDS
    t=$(net_wait_since "$t0" 30 net_registrations_above b 0)
    tv_check "station b registers once the port is free" test -n "$t"
    [ -n "$t" ] && net_figure "port 10161 freed: station b registered after" "$t s"
    tv_check "the server's start line follows the open port" tv_file_contains "$SRV/Log/log.csv" "Server gestartet"

    # Without reconnecting, the server down for 30 s: one notice, then the end.
    net_set "$DIR_b" Autoreconnect 0
    export DISPLAY=$DISPLAY_b TV_DISPLAY=$DISPLAY_b
    before=$(tv_windows_of "$PID_b" --name '^tavinor$' | sort)
    stop_server
    t0=$SECONDS
    while [ $((SECONDS - t0)) -lt 30 ]; do
        boxes=$(comm -13 <(echo "$before") <(tv_windows_of "$PID_b" --name '^tavinor$' | sort) | grep -c .)
        [ "$boxes" -gt "$max" ] && max=$boxes
        sleep 1
    done
    tv_check "one lost-server notice in 30 s, no pile (saw $max)" test "$max" -eq 1
    net_figure "server down 30 s without reconnecting: notices open at most" "$max"
    tv_check "b runs while its notice is open" tv_alive "$PID_b"
    box=$(comm -13 <(echo "$before") <(tv_windows_of "$PID_b" --name '^tavinor$' | sort) | head -1)
    if [ -n "$box" ]; then
        tv_focus "$box"
        tv_xdo key Return
    fi
    tv_check "b ends after the notice" tv_wait_gone 10 "$PID_b"
}

net_group a offline_alarm
net_group f foreign_host
net_group t port_taken_then_no_reconnect
net_join
tv_finish
