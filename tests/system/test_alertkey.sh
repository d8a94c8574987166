#!/bin/bash
# The global alert key between real PCs: a server and stations A, B, C, each in its own network namespace
# with its own X display and openbox. At A the key is pressed while an xterm has the focus, with a modifier
# too many, while the tray menu is open and while the end question waits; B watches Ctrl+Shift+F12; C has no
# hook library. Keys pressed at one display must not reach the stations of the others.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh" "$1"
source "$HERE/netlib.sh"

net_require_root
[ -f "$TV_BIN/libtvkbhk.so" ] || tv_bail "no libtvkbhk.so in $TV_BIN"
command -v xterm >/dev/null || tv_bail "xterm is not installed (tools/deps.sh test)"
net_setup
net_add_pc s 1
net_add_pc a 4
net_add_pc b 2
net_add_pc c 3
SRV_IP=$NET_PREFIX.1

common=("Server=0" "Init=1" "Servername=$SRV_IP" "Autoreconnect=1" "Visuell=1" "Akustisch=0")
SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
A=$(net_install a "${common[@]}" "Stationname=Station A") || tv_bail "install a"
B=$(net_install b "${common[@]}" "Stationname=Station B" "Alertkey=CTRL+SHIFT+F12" "AlertkeyCode=123") ||
    tv_bail "install b"
C=$(net_install c "${common[@]}" "Stationname=Station C") || tv_bail "install c"
rm -f "$C/libtvkbhk.so"

with_wm() { # a display with openbox on it
    tv_start_display
    openbox --sm-disable >"$TV_ARTIFACTS/openbox-$TV_DISPLAY.log" 2>&1 &
    tv_track $!
    tv_wait_for 15 tv_wm_running || tv_bail "openbox did not come up on $TV_DISPLAY"
}
tv_start_display; DS=$TV_DISPLAY
with_wm; DB=$TV_DISPLAY
with_wm; DC=$TV_DISPLAY
tv_start_desktop; DA=$TV_DISPLAY # A last: the tray helpers of lib.sh look at A's trayer
# The stations are ended by signal, which leaves their shared records behind: remove them with the rest.
trap 'net_cleanup; rm -f "/dev/shm/tavinor_shared_mem$DA" "/dev/shm/tavinor_shared_mem$DB" "/dev/shm/tavinor_shared_mem$DC"' EXIT

net_start_program s "$SRV" "$DS"; SRV_PID=$NET_LAST_PID
tv_wait_for 15 net_listening s 10161 || tv_bail "server does not listen on 10161"
net_start_program a "$A" "$DA"; A_PID=$NET_LAST_PID
net_start_program b "$B" "$DB"; B_PID=$NET_LAST_PID
net_start_program c "$C" "$DC"; C_PID=$NET_LAST_PID
for pc in A B C; do
    folder=${!pc}
    tv_wait_file_contains 20 "$folder/Log/log.csv" "$SRV_IP;002:Connect Response" || tv_not_ok "$pc did not register"
done

AERR=$TV_ARTIFACTS/a.err
BERR=$TV_ARTIFACTS/b.err
CERR=$TV_ARTIFACTS/c.err
fired() { net_count "$1" "tavinor: alert key $2"; }   # the main window's key-down handler ran
key_at() { DISPLAY=$1 timeout 10 xdotool key --clearmodifiers "$2" >/dev/null 2>&1; }
alarm_logged() { net_count "$A/Log/log.csv" "ALARM ausgel"; }

# --- F12 at A while an xterm has the focus -------------------------------------------------------------
DISPLAY=$DA xterm -geometry 80x20+100+100 -T keytarget >/dev/null 2>&1 &
XTERM_PID=$!
tv_track "$XTERM_PID"
tv_wait_for 10 tv_has_window "$XTERM_PID" || tv_bail "no xterm at A"
XTERM_WIN=$(tv_windows_of "$XTERM_PID" | head -n1)
tv_focus "$XTERM_WIN"
tv_check "the xterm at A has the focus" test "$(tv_xdo getwindowfocus)" = "$XTERM_WIN"
before_alarm=$(alarm_logged)
key_at "$DA" F12
tv_check "F12 at A reaches A's key-down handler" tv_wait_for 5 net_count_above "$AERR" "alert key 123/0" 0
tv_check "... exactly once" test "$(fired "$AERR" 123/0)" -eq 1
sleep 0.5
tv_check "F12 at A reaches no handler at B or C (one record per display)" \
    test "$(net_count "$BERR" "alert key")$(net_count "$CERR" "alert key")" = 00
tv_shot "a-after-f12"
if tv_wait_for 5 net_count_above "$A/Log/log.csv" "ALARM ausgel" "$before_alarm"; then
    tv_ok "A logs ALARM ausgelöst"
    tv_check "A sends 004: the server relays it to B" tv_wait_file_contains 5 "$B/Log/log.csv" "$SRV_IP;005:"
    tv_check "... and to C" tv_wait_file_contains 5 "$C/Log/log.csv" "$SRV_IP;005:"
    tv_check "the xterm at A is iconified" tv_wait_for 5 sh -c \
        "DISPLAY=$DA xprop -id $XTERM_WIN _NET_WM_STATE | grep -q _NET_WM_STATE_HIDDEN"
else
    echo "# waiting for SendAlert: ALARM ausgelöst at A, 004/005 to B and C, xterm iconified, sender window"
    echo "#   in front and topmost, receiver windows at B and C, acknowledgement from B, F1-F4 at A"
fi

# --- a modifier too many -------------------------------------------------------------------------------
tv_focus "$XTERM_WIN"
n=$(net_count "$AERR" "alert key")
key_at "$DA" shift+F12
key_at "$DA" ctrl+F12
sleep 1
tv_check "shift+F12 and ctrl+F12 at A raise nothing" test "$(net_count "$AERR" "alert key")" -eq "$n"

# --- B watches Ctrl+Shift+F12 --------------------------------------------------------------------------
key_at "$DB" F12
key_at "$DB" ctrl+F12
sleep 1
tv_check "F12 and ctrl+F12 at B (CTRL+SHIFT+F12) raise nothing" test "$(net_count "$BERR" "alert key")" -eq 0
key_at "$DB" ctrl+shift+F12
tv_check "ctrl+shift+F12 at B reaches B's handler as 123 with Ctrl+Shift" \
    tv_wait_for 5 net_count_above "$BERR" "alert key 123/3" 0
tv_check "... and nobody else's" test "$(net_count "$AERR" "alert key")" -eq "$n"

# --- C without the hook library ------------------------------------------------------------------------
tv_check "C says why it has no hook" tv_file_contains "$CERR" "libtvkbhk.so not loaded"
# The plain box: a small window titled tavinor (the program's own boxes of the start are larger).
c_has_window() {
    local w
    for w in $(DISPLAY=$DC tv_windows_of "$C_PID" --name '^tavinor$'); do
        [ "$(DISPLAY=$DC timeout 5 xwininfo -id "$w" | awk '/^ *Width:/ {print $NF}')" -lt 400 ] && return 0
    done
    return 1
}
if tv_wait_for 10 c_has_window; then
    tv_ok "C shows the notice window (Failed to load DLL!)"
else
    tv_not_ok "C shows no window for the missing library"
fi
TV_DISPLAY=$DC tv_shot "c-failed-to-load"
TV_DISPLAY=$DA
tv_check "C went on starting behind the notice (start line and registration)" \
    tv_file_contains "$C/Log/log.csv" "Client gestartet"
key_at "$DC" F12
sleep 1
tv_check "C runs on and F12 there does nothing" sh -c "kill -0 $C_PID && ! grep -q 'alert key' '$CERR'"

# --- A with its tray menu open (the program's own keyboard grab) ----------------------------------------
n=$(net_count "$AERR" "alert key")
icon=$(tv_embedded_icon "$A_PID")
if [ -n "$icon" ]; then
    # shellcheck disable=SC2046
    tv_xdo mousemove $(tv_window_centre "$icon") >/dev/null 2>&1
    sleep 0.2
    tv_xdo click 3 >/dev/null 2>&1
    sleep 1
    tv_shot "a-tray-menu"
    key_at "$DA" F12
    tv_check "F12 with A's tray menu open reaches the handler" tv_wait_for 5 net_count_above "$AERR" "alert key" "$n"
    key_at "$DA" Escape
else
    tv_not_ok "A has no tray icon to open the menu from"
fi

# --- A with the end question open -----------------------------------------------------------------------
n=$(net_count "$AERR" "alert key")
question=""
if [ -n "$icon" ]; then
    tv_xdo mousemove $(tv_window_centre "$icon") >/dev/null 2>&1
    tv_xdo click 3 >/dev/null 2>&1
    sleep 0.5
    tv_xdo key Up >/dev/null 2>&1 # from no selection up to the last entry: "Beenden"
    sleep 0.2
    tv_xdo key Return >/dev/null 2>&1
    tv_wait_for 5 tv_has_window "$A_PID" --name '^tavinor$' && question=$(tv_windows_of "$A_PID" --name '^tavinor$' | head -n1)
fi
if [ -n "$question" ]; then
    tv_ok "A's end question is open"
    tv_shot "a-end-question"
    tv_focus "$question"
    key_at "$DA" F12
    tv_check "F12 while the end question waits reaches the handler" \
        tv_wait_for 5 net_count_above "$AERR" "alert key" "$n"
    sleep 1
    tv_check "A keeps running" tv_alive "$A_PID"
    tv_check "A logged no end" tv_file_lacks "$A/Log/log.csv" "Client beendet"
    if tv_has_window "$A_PID" --name '^tavinor$'; then
        tv_focus "$question"
        tv_xdo key Return >/dev/null 2>&1 # "Nein" has the focus
    fi
else
    tv_not_ok "A's end question could not be opened from the tray menu"
fi
tv_shot "a-end"
echo "# waiting for the alarm windows: the end question at B closed by an arriving alarm"

tv_finish
