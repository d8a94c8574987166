#!/bin/bash
# A station's side of faults: an alarm raised while the server is down reaches everyone once it is back; a
# taken server port is reported and retried; without reconnecting, one notice and then the end. Two groups
# of PCs run side by side; the figures go into the issue notes.
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
    local t0 b0 c0 t pc w
    NET_SITE_SETTINGS=("Visuell=1")
    net_site a b c
    # Screenshots of A's screen.
    TV_DISPLAY=$DISPLAY_a
    w=$(net_losses a)
    stop_server
    tv_wait_for 20 net_losses_above a "$w" || tv_bail "A did not notice the server going"

    key_at "$DISPLAY_a" F12
    tv_check "A shows its sender window" tv_wait_for 10 on "$DISPLAY_a" tv_has_window "$PID_a" --all --name "$SENDER"
    tv_check "A's log says the alarm was not sent" tv_wait_for 5 log_count_above a "ALARM nicht gesendet" 0
    b0=$(log_count b "$RELAYED"); c0=$(log_count c "$RELAYED")
    restart_server
    t0=$SECONDS
    for pc in b c; do
        w="${pc}0"
        t=$(net_wait_since "$t0" 40 log_count_above "$pc" "$RELAYED" "${!w}")
        tv_check "the alarm raised offline at A reaches $pc after the server is back" test -n "$t"
        [ -n "$t" ] && net_figure "offline alarm: reached $pc after the server restart" "$t s"
    done
    tv_check "A's log says the alarm was sent later" tv_wait_for 5 log_count_above a "ALARM nachtr" 0
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
    # The station has no "Autoreconnect" at all: a missing value means reconnect.
    NET_SITE_SETTINGS=()
    net_site_server
    net_site_station b 2
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
net_group t port_taken_then_no_reconnect
net_join
tv_finish
