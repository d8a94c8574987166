#!/bin/bash
# A station without an emergency button, between real PCs (network namespaces, one X display each): the
# warning about the missing button stays on screen while the station registers at the server, and F12
# raises an alarm that reaches the other station while the warning is still open. A second station has no
# device library at all and "CheckBuzzer" "0": it starts, registers and shows nothing.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh" "$1"
source "$HERE/netlib.sh"

net_require_root
[ -f "$TV_BIN/libiowkit.so" ] || tv_bail "no libiowkit.so in $TV_BIN"
net_setup
net_add_pc s 1
net_add_pc a 4
net_add_pc b 2
SRV_IP=$NET_PREFIX.1

common=("Server=0" "Init=1" "Servername=$SRV_IP" "Autoreconnect=1" "Visuell=1" "Akustisch=0")
SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
# A keeps the default "CheckBuzzer" (none in the file): "1".
A=$(net_install a "${common[@]}" "Stationname=Station A") || tv_bail "install a"
B=$(net_install b "${common[@]}" "Stationname=Station B" "CheckBuzzer=0") || tv_bail "install b"
rm -f "$B/libiowkit.so"

with_wm() {
    tv_start_display
    openbox --sm-disable >"$TV_ARTIFACTS/openbox-$TV_DISPLAY.log" 2>&1 &
    tv_track $!
    tv_wait_for 15 tv_wm_running || tv_bail "openbox did not come up on $TV_DISPLAY"
}
tv_start_display; DS=$TV_DISPLAY
with_wm; DB=$TV_DISPLAY
with_wm; DA=$TV_DISPLAY

# The warning: a visible window of the station titled exactly "tavinor".
warning_of() { DISPLAY=$1 tv_windows_of "$2" --name '^tavinor$' | head -n1; }
warning_open() { [ -n "$(warning_of "$@")" ]; }
registered() { tv_file_contains "$1/Log/log.csv" "$SRV_IP;002:Connect Response"; }

net_start_program s "$SRV" "$DS"; SRV_PID=$NET_LAST_PID
tv_wait_for 15 net_listening s 10161 || tv_bail "server does not listen on 10161"
net_start_program a "$A" "$DA"; A_PID=$NET_LAST_PID
net_start_program b "$B" "$DB"; B_PID=$NET_LAST_PID

# --- A: the warning does not hold up the start ----------------------------------------------------------
tv_check "A shows the warning about the missing button" tv_wait_for 20 warning_open "$DA" "$A_PID"
WARNING=$(warning_of "$DA" "$A_PID")
tv_shot "a-warning"
tv_check "A registers at the server while the warning is open" tv_wait_for 20 registered "$A"
tv_check "... and the warning is still open, nobody has answered it" warning_open "$DA" "$A_PID"
tv_check "A logged its start behind the warning" tv_file_contains "$A/Log/log.csv" "Client gestartet"
width=$(DISPLAY=$DA timeout 5 xwininfo -id "$WARNING" 2>/dev/null | awk '/^ *Width:/ {print $NF}')
tv_check "the warning is the wide message box of the program (width ${width:-?} px)" test "${width:-0}" -gt 400

# --- B: no library, no warning ---------------------------------------------------------------------------
tv_check "B (no device library) registers at the server" tv_wait_for 20 registered "$B"
sleep 1
tv_check "B (CheckBuzzer 0) shows no warning" test -z "$(warning_of "$DB" "$B_PID")"
tv_check "B says the device library is missing" tv_file_contains "$TV_ARTIFACTS/b.err" "libiowkit.so not found"
tv_check "B keeps running" tv_alive "$B_PID"

# --- F12 at A while the warning is open ------------------------------------------------------------------
tv_check "the warning at A is still open before F12" warning_open "$DA" "$A_PID"
DISPLAY=$DA timeout 10 xdotool key --clearmodifiers F12 >/dev/null 2>&1
tv_check "F12 raises the alarm at A" tv_wait_file_contains 10 "$A/Log/log.csv" "ALARM ausgel"
tv_check "the server relays it to B" tv_wait_file_contains 10 "$B/Log/log.csv" "$SRV_IP;005:"
tv_shot "a-after-f12"
tv_check "A keeps running" tv_alive "$A_PID"

tv_finish
