#!/bin/bash
# The first configuration of a fresh PC: a station started in an empty folder shows the settings dialog in
# the lower right corner before anything else; OK with a server address and Shift+1 as the alert key shows
# the restart notice and ends the program; the next start, as another user than the one who left a stale key
# record behind, runs without the dialog, connects to that server and raises the alarm with Shift+1. A key
# then typed into the dialog and saved with OK alone is the alert key at once. Server and station are each
# in their own network namespace with their own X display.
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
net_start_wm tray; DA=$TV_DISPLAY; TV_TRAYER_PID=$NET_TRAYER_PID
# The second start runs as this user; the stale records below belong to root.
USER_ID=$(id -u nobody)
STALE=("/dev/shm/tavinor_shared_mem$DA" "/dev/shm/tavinor_shared_mem.0$DA")
# Stations ended by signal leave their shared key record behind: remove it with the rest.
trap 'net_cleanup; rm -f "${STALE[@]}" "/dev/shm/tavinor_shared_mem.$USER_ID$DA"' EXIT

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
# On through the connect button, the name, both alarm boxes and their test buttons to the key field.
for _ in 1 2 3 4 5 6 7; do tv_xdo key --clearmodifiers Tab >/dev/null 2>&1; done
tv_xdo key --clearmodifiers shift+1 >/dev/null 2>&1
sleep 0.3
tv_shot "shift-1-captured"
tv_xdo key --clearmodifiers Tab Return >/dev/null 2>&1

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
tv_check "Shift+1 is stored as SHIFT+1" tv_file_contains "$A/tavinor.ini" $'Alertkey=SHIFT+1\r'
tv_check "... with its own key's code 49" tv_file_contains "$A/tavinor.ini" $'AlertkeyCode=49\r'
tv_check "the proposed visual alarm is stored" tv_file_contains "$A/tavinor.ini" $'Visuell=1\r'

# Records another user's sessions left behind (root's, under the old and the new name), readable by root only.
for f in "${STALE[@]}"; do head -c 1024 /dev/zero >"$f" && chmod 600 "$f"; done
chmod 755 "$TV_ROOT"
chown -R nobody "$A"

# --- the next start: no dialog, connected -------------------------------------------------------------
NET_USER=nobody net_start_program a "$A" "$DA"; A_PID=$NET_LAST_PID
tv_check "the next start registers with the server" \
    tv_wait_file_contains 20 "$A/Log/log.csv" "$SRV_IP;002:Connect Response"
tv_check "the server accepted the station" tv_file_contains "$SRV/Log/log.csv" "$A_IP;Client Anwendung gestartet"
tv_check "the next start shows no settings dialog" test -z "$(settings_window "$A_PID")"
tv_check "the station runs on" tv_alive "$A_PID"
tv_shot "second-start"

# --- the alert key of the first configuration, despite the stale records ---------------------------------
AERR=$TV_ARTIFACTS/a.err
alarms_at_server() { net_count "$SRV/Log/log.csv" ";004:"; } # only A raises alarms here
sender_at_a() { tv_windows_of "$A_PID" --all --name '^tavinor - ALARM-Sender$' | head -n1; }
tv_check "no shared-memory error at A" tv_file_lacks "$AERR" "shm_open"
tv_xdo key --clearmodifiers shift+1 >/dev/null 2>&1
tv_check "Shift+1 at A raises the alarm (key 49 with Shift)" tv_wait_for 5 net_count_above "$AERR" "alert key 49/1" 0
tv_check "... and the server receives it" tv_wait_for 5 net_count_above "$SRV/Log/log.csv" ";004:" 0
tv_wait_for 5 test -n "$(sender_at_a)" && tv_focus "$(sender_at_a)"
tv_xdo key --clearmodifiers F4 >/dev/null 2>&1
tv_wait_file_contains 5 "$A/Log/log.csv" "ALARM aufgehoben" || tv_not_ok "F4 at A does not end the alarm"

# --- a key typed into the dialog and saved with OK alone is armed at once ------------------------------
# The tray menu from the right button; "Einstellungen" is the fourth entry from the bottom.
icon=$(tv_embedded_icon "$A_PID") || tv_bail "A has no tray icon"
# shellcheck disable=SC2046
tv_xdo mousemove $(tv_window_centre "$icon") >/dev/null 2>&1
sleep 0.2
tv_xdo click 3 >/dev/null 2>&1
sleep 0.5
tv_xdo key Up Up Up Up Return >/dev/null 2>&1
tv_wait_for 10 has_settings_window "$A_PID" || tv_bail "the tray menu brings up no settings dialog"
tv_focus "$(settings_window "$A_PID")"
for _ in 1 2 3 4 5 6 7 8; do tv_xdo key --clearmodifiers Tab >/dev/null 2>&1; done
tv_xdo key --clearmodifiers F9 >/dev/null 2>&1
sleep 0.3
tv_shot "f9-typed"
tv_xdo key --clearmodifiers Tab Return >/dev/null 2>&1
no_settings_window() { ! has_settings_window "$1"; }
tv_check "OK closes the dialog" tv_wait_for 5 no_settings_window "$A_PID"
tv_check "F9 is stored" tv_file_contains "$A/tavinor.ini" $'AlertkeyCode=120\r'
sent=$(alarms_at_server)
tv_xdo key --clearmodifiers shift+1 >/dev/null 2>&1
tv_xdo key --clearmodifiers F9 >/dev/null 2>&1
tv_check "F9 raises the alarm at once" tv_wait_for 5 net_count_above "$AERR" "alert key 120/0" 0
tv_wait_for 5 net_count_above "$SRV/Log/log.csv" ";004:" "$sent"
sleep 1 # time for a second alarm, which must not come
tv_check "... once, and the old Shift+1 no longer does" \
    test "$(alarms_at_server)/$(net_count "$AERR" "alert key 49/1")" = "$((sent + 1))/1"

tv_finish
