#!/bin/bash
# The first configuration of a fresh PC: a station started in an empty folder shows the settings dialog in
# the lower right corner before anything else; OK with a server address shows the restart notice and ends
# the program; the next start runs without the dialog and connects to that server. Server and station are
# each in their own network namespace with their own X display.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh" "$1"
source "$HERE/netlib.sh"

net_require_root
net_setup
net_add_pc s 1
net_add_pc a 2
SRV_IP=$NET_PREFIX.1
A_IP=$NET_PREFIX.2

SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
A=$(tv_install fresh) || tv_bail "install station"
[ ! -e "$A/tavinor.ini" ] || tv_bail "the fresh installation has a settings file"

tv_start_display; DS=$TV_DISPLAY
tv_start_display; DA=$TV_DISPLAY
openbox --sm-disable >"$TV_ARTIFACTS/openbox-a.log" 2>&1 &
tv_track $!
tv_wait_for 15 tv_wm_running || tv_bail "openbox did not come up on $DA"
# Stations ended by signal leave their shared key record behind: remove it with the rest.
trap 'net_cleanup; rm -f "/dev/shm/tavinor_shared_mem$DA"' EXIT

net_start_program s "$SRV" "$DS"; SRV_PID=$NET_LAST_PID
tv_wait_for 15 net_listening s 10161 || tv_bail "server does not listen on 10161"

# --all: the name and the process must both match (xdotool's default is either).
settings_window() { tv_windows_of "$1" --all --name '^tavinor - Einstellungen$' | head -n1; }
has_settings_window() { [ -n "$(settings_window "$1")" ]; }
boxes() { tv_windows_of "$1" --all --name '^tavinor$' | sort; }

# --- first start: the dialog ------------------------------------------------------------------------------
net_start_program a "$A" "$DA"; A_PID=$NET_LAST_PID
tv_wait_for 20 has_settings_window "$A_PID" || tv_bail "no settings dialog on the first start"
DLG=$(settings_window "$A_PID")
tv_ok "the first start shows the settings dialog"
sleep 0.5
tv_shot "first-start-dialog"
tv_check "the start was logged before the dialog" tv_file_contains "$A/Log/log.csv" "Client gestartet"
tv_check "no connection attempt without a server address" tv_file_lacks "$A/Log/log.csv" "003:"
tv_check "the settings file knows no Init yet" tv_file_lacks "$A/tavinor.ini" "Init="

# Lower right corner: 50 twips (3 px) from the right edge, 500 twips (33 px) from the bottom, give or take
# the window frame.
read -r X Y W H < <(tv_x xwininfo -id "$DLG" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF} END {print x, y, w, h}')
echo "# dialog at ${X},${Y} size ${W}x${H} on 1280x800"
tv_check "the dialog sits at the right edge" test $((1280 - X - W)) -ge 0 -a $((1280 - X - W)) -le 20
tv_check "the dialog sits just above the bottom" test $((800 - Y - H)) -ge 20 -a $((800 - Y - H)) -le 60

# The program type has the focus; Tab leads to the server field; Enter is OK.
BEFORE=$(boxes "$A_PID")
tv_focus "$DLG"
tv_xdo key --clearmodifiers Tab >/dev/null 2>&1
sleep 0.2
tv_xdo type --delay 40 "$SRV_IP" >/dev/null 2>&1
sleep 0.2
tv_shot "server-typed"
tv_xdo key --clearmodifiers Return >/dev/null 2>&1

new_box() { comm -13 <(echo "$BEFORE") <(boxes "$A_PID") | grep -m1 .; }
has_new_box() { [ -n "$(new_box)" ]; }
if tv_wait_for 10 has_new_box; then
    tv_ok "OK shows the restart notice"
    BOX=$(new_box)
    sleep 0.3
    tv_shot "restart-notice"
    tv_focus "$BOX"
    tv_xdo key --clearmodifiers Return >/dev/null 2>&1
else
    tv_not_ok "OK shows no restart notice"
fi
tv_check "the program ends after the notice" tv_wait_gone 15 "$A_PID"
tv_check "the end is logged" tv_file_contains "$A/Log/log.csv" "Client beendet"
tv_check "Init=1 is stored" tv_file_contains "$A/tavinor.ini" $'Init=1\r'
tv_check "the station type is stored" tv_file_contains "$A/tavinor.ini" $'Server=0\r'
tv_check "the server address is stored" tv_file_contains "$A/tavinor.ini" "Servername=$SRV_IP"$'\r'

# --- the next start: no dialog, connected -------------------------------------------------------------
net_start_program a "$A" "$DA"; A_PID=$NET_LAST_PID
tv_check "the next start registers with the server" \
    tv_wait_file_contains 20 "$A/Log/log.csv" "$SRV_IP;002:Connect Response"
tv_check "the server accepted the station" tv_file_contains "$SRV/Log/log.csv" "$A_IP;Client Anwendung gestartet"
tv_check "the next start shows no settings dialog" test -z "$(settings_window "$A_PID")"
tv_check "the station runs on" tv_alive "$A_PID"
tv_shot "second-start"

tv_finish
