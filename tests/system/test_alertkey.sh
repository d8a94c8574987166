#!/bin/bash
# The global alert key between real PCs: a server and stations A, B, C, each in its own network namespace
# with its own X display and openbox. At A the key is pressed while an xterm has the focus: the alarm goes
# through the server to B and C (acknowledging: test_alarm_flow), A records the steps with F1-F4 and ends the
# alarm. Then B's Ctrl+Shift+F12, the key while A's tray menu is open (the program's own grab) and while B's
# end question waits; C has no hook library. Keys pressed at one display must not reach the other stations.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh" "$1"
source "$HERE/netlib.sh"

net_require_root
[ -f "$TV_BIN/libtvkbhk.so" ] || tv_bail "no libtvkbhk.so in $TV_BIN"
command -v xterm >/dev/null || tv_bail "xterm is not installed (tools/deps.sh test)"
net_abc
A_IP=$NET_PREFIX.4

common=("Server=0" "Init=1" "Servername=$SRV_IP" "Autoreconnect=1" "Visuell=1" "Akustisch=0")
SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
A=$(net_install a "${common[@]}" "Stationname=Station A") || tv_bail "install a"
B=$(net_install b "${common[@]}" "Stationname=Station B" "Alertkey=CTRL+SHIFT+F12" "AlertkeyCode=123") ||
    tv_bail "install b"
C=$(net_install c "${common[@]}" "Stationname=Station C") || tv_bail "install c"
rm -f "$C/libtvkbhk.so"

net_start_wm; DS=$TV_DISPLAY # openbox on the server's display too: it keeps Xvfb from resetting
net_start_wm tray; DB=$TV_DISPLAY; B_TRAYER=$NET_TRAYER_PID # B gets a tray too, for its end question
net_start_wm; DC=$TV_DISPLAY
net_start_wm tray; DA=$TV_DISPLAY
TV_TRAYER_PID=$NET_TRAYER_PID # the tray helpers of lib.sh look at A's trayer

net_start_program s "$SRV" "$DS"; SRV_PID=$NET_LAST_PID
tv_wait_for 15 net_listening s 10161 || tv_bail "server does not listen on 10161"
# A's desktop opens documents through this stand-in, which notes what it was asked to open.
OPENER=$TV_ROOT/opener
mkdir -p "$OPENER"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >>"%s"\n' "$TV_ARTIFACTS/a-opened.txt" >"$OPENER/xdg-open"
chmod +x "$OPENER/xdg-open"
PATH=$OPENER:$PATH net_start_program a "$A" "$DA"; A_PID=$NET_LAST_PID
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
alarms_sent() { net_count "$SRV/Log/log.csv" "$A_IP (Station A);004:"; } # alarms the server received from A

window_of() { on "$1" tv_windows_of "$2" --all --name "$3" | head -1; }
has_receiver() { on "$1" tv_has_window "$2" --all --name "$RECEIVER"; }
lacks_receiver() { ! has_receiver "$@"; }
is_above() { prop "$1" -id "$2" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE; }

# --- F12 at A while an xterm has the focus: the whole chain ---------------------------------------------
DISPLAY=$DA xterm -geometry 80x20+100+100 -T keytarget >/dev/null 2>&1 &
XTERM_PID=$!
tv_track "$XTERM_PID"
tv_wait_for 10 tv_has_window "$XTERM_PID" || tv_bail "no xterm at A"
XTERM_WIN=$(tv_windows_of "$XTERM_PID" | head -n1)
tv_focus "$XTERM_WIN"
[ "$(tv_xdo getwindowfocus)" = "$XTERM_WIN" ] || tv_bail "the xterm at A has no focus"
key_at "$DA" F12
tv_check "F12 at A reaches A's key-down handler" tv_wait_for 5 net_count_above "$AERR" "alert key 123/0" 0
tv_wait_file_contains 5 "$A/Log/log.csv" "ALARM $AUSGELOEST" || tv_bail "A logs no ALARM ausgelöst"
tv_ok "A logs ALARM ausgelöst"
tv_check "... exactly once" test "$(fired "$AERR" 123/0)" -eq 1
for pc in B C; do
    pid_var=${pc}_PID; disp_var=D$pc
    tv_check "$pc shows the receiver window" tv_wait_for 10 has_receiver "${!disp_var}" "${!pid_var}"
done
tv_check "F12 at A reaches no handler at B or C (one record per display)" \
    test "$(net_count "$BERR" "alert key")$(net_count "$CERR" "alert key")" = 00
tv_check "the xterm at A is iconified" tv_wait_for 5 sh -c \
    "DISPLAY=$DA xprop -id $XTERM_WIN _NET_WM_STATE | grep -q _NET_WM_STATE_HIDDEN"
tv_wait_for 5 on "$DA" tv_has_window "$A_PID" --all --name "$SENDER" || tv_bail "A shows no sender window"
SW=$(window_of "$DA" "$A_PID" "$SENDER")
tv_check "A's sender window is the active window" tv_wait_for 3 active_is "$DA" "$SW"
tv_check "... and topmost (_NET_WM_STATE_ABOVE)" is_above "$DA" "$SW"

# --- F12 again at A during the incident (a panicked second press): out again, A's record stays ---------------
alarms_sent_are() { [ "$(alarms_sent)" -eq "$1" ]; }
key_at "$DA" F12
tv_check "a second F12 at A sends the alarm again (two 004 at the server)" tv_wait_for 5 alarms_sent_are 2
tv_check "... which reaches C again (005)" tv_wait_for 5 net_count_above "$C/Log/log.csv" "$SRV_IP;005:" 1
# --- the steps at A: F1-F4 recorded once each, F4 ends the alarm everywhere ------------------------------
STEPS=("Hilfe eingetroffen" $'Notfallausr\xfcstung eingetroffen' "ersten Schock gegeben" "ALARM aufgehoben")
tv_check "A's sender window still has the focus" active_is "$DA" "$SW"
for k in F1 F1 F2 F3 F4 F4; do key_at "$DA" "$k"; done
tv_wait_file_contains 5 "$A/Log/log.csv" "ALARM aufgehoben" || tv_not_ok "F4 at A logs no ALARM aufgehoben"
receivers_closed() { lacks_receiver "$DB" "$B_PID" && lacks_receiver "$DC" "$C_PID"; }
tv_check "F4 closes the receiver windows at B and C" tv_wait_for 5 receivers_closed
# A's own 009 comes back after the network round trip, long after its second F4 was handled.
tv_wait_file_contains 5 "$A/Log/log.csv" "$SRV_IP;009:" || tv_not_ok "A receives no 009"
counts=""
for s in "${STEPS[@]}"; do counts+="$(net_count "$A/Log/log.csv" "Station A;$s") "; done
tv_check "F1 twice, F2, F3, F4 twice: each step logged once at A ($counts)" test "$counts" = "1 1 1 1 "
# A's report (contents: tst_alarmsender) is what the log viewer opens below.
report_at_a() { ls "$A/Log/Einsätze/"*.html 2>/dev/null | head -n1; }
has_report_at_a() { [ -n "$(report_at_a)" ]; }
tv_check "F4 writes A's incident report" tv_wait_for 5 has_report_at_a
REPORT=$(report_at_a)
# Closing the sender window gives A's desktop back the windows the alarm minimised.
on "$DA" tv_focus "$SW"
key_at "$DA" alt+F4
tv_check "A's sender window closes" tv_wait_for 5 on "$DA" tv_lacks_window "$A_PID" --all --name "$SENDER"
tv_check "... the xterm the alarm minimised is back" tv_wait_for 5 sh -c \
    "! DISPLAY=$DA xprop -id $XTERM_WIN _NET_WM_STATE | grep -q _NET_WM_STATE_HIDDEN"

# --- B watches Ctrl+Shift+F12 (a modifier too many or too few: tst_keyhookrecord) --------------------------
tv_focus "$XTERM_WIN"
n=$(net_count "$AERR" "alert key")
key_at "$DB" ctrl+shift+F12
tv_check "ctrl+shift+F12 at B reaches B's handler as 123 with Ctrl+Shift" \
    tv_wait_for 5 net_count_above "$BERR" "alert key 123/3" 0
tv_check "... and nobody else's" test "$(net_count "$AERR" "alert key")" -eq "$n"
receiver_replaced_sender() { has_receiver "$DA" "$A_PID" && ! on "$DA" tv_has_window "$A_PID" --all --name "$SENDER"; }
tv_check "B's alarm reaches A: the receiver window replaces A's sender window" tv_wait_for 10 receiver_replaced_sender
tv_wait_for 5 on "$DB" tv_has_window "$B_PID" --all --name "$SENDER" && on "$DB" tv_focus "$(window_of "$DB" "$B_PID" "$SENDER")"
key_at "$DB" F4
tv_check "F4 at B ends its alarm at A" tv_wait_for 5 lacks_receiver "$DA" "$A_PID"

# --- C without the hook library --------------------------------------------------------------------------
tv_check "C says why it has no hook" tv_file_contains "$CERR" "libtvkbhk.so not loaded"
# The plain box: a small window titled tavinor (the program's own boxes of the start are larger).
c_has_window() {
    local w
    for w in $(DISPLAY=$DC tv_windows_of "$C_PID" --name '^tavinor$'); do
        [ "$(DISPLAY=$DC timeout 5 xwininfo -id "$w" | awk '/^ *Width:/ {print $NF}')" -lt 400 ] && return 0
    done
    return 1
}
tv_check "C shows the notice window (Failed to load DLL!)" tv_wait_for 10 c_has_window
tv_check "C went on starting behind the notice" tv_file_contains "$C/Log/log.csv" "Client gestartet"
TV_DISPLAY=$DA
key_at "$DC" F12
sleep 1
tv_check "C runs on and F12 there does nothing" sh -c "kill -0 $C_PID && ! grep -q 'alert key' '$CERR'"

# --- A with its tray menu open (the program's own keyboard grab) ------------------------------------------
# cancel_at_a: F4 in A's sender window; true when B's receiver window is gone again.
cancel_at_a() {
    local w
    w=$(window_of "$DA" "$A_PID" "$SENDER")
    [ -n "$w" ] && on "$DA" tv_focus "$w"
    key_at "$DA" F4
    tv_wait_for 5 lacks_receiver "$DB" "$B_PID"
}

# "Logbuch aufrufen" lists A's reports, the newest first, and opens one.
LOGBUCH='^tavinor - Logbuch$'
tray_menu_at "$A_PID" || tv_not_ok "A has no tray icon to open the log viewer from"
for k in Up Up Up Return; do tv_xdo key "$k" >/dev/null 2>&1; sleep 0.1; done
if tv_wait_for 5 tv_has_window "$A_PID" --name "$LOGBUCH"; then
    tv_focus "$(tv_windows_of "$A_PID" --name "$LOGBUCH" | head -n1)"
    key_at "$DA" alt+b
    tv_check "the log viewer opens A's report" \
        tv_wait_file_contains 5 "$TV_ARTIFACTS/a-opened.txt" "$(basename "$REPORT")"
    tv_focus "$(tv_windows_of "$A_PID" --name "$LOGBUCH" | head -n1)"
    key_at "$DA" alt+F4
    tv_wait_for 10 tv_lacks_window "$A_PID" --name "$LOGBUCH"
else
    tv_not_ok "\"Logbuch aufrufen\" opened no log viewer at A"
fi

n=$(net_count "$AERR" "alert key")
sent=$(alarms_sent)
if tray_menu_at "$A_PID"; then
    key_at "$DA" F12
    tv_check "F12 with A's tray menu open reaches the handler" tv_wait_for 5 net_count_above "$AERR" "alert key" "$n"
    tv_check "... and the alarm goes out (004 at the server, receiver window at B)" \
        tv_wait_for 5 has_receiver "$DB" "$B_PID"
    tv_check "... once" test "$(alarms_sent)" -eq $((sent + 1))
    tv_check "F4 at A ends it" cancel_at_a
else
    tv_not_ok "A has no tray icon to open the menu from"
fi

# --- B with the end question open when A's alarm arrives ----------------------------------------------------
question=$(export DISPLAY=$DB TV_DISPLAY=$DB TV_TRAYER_PID=$B_TRAYER; end_question_at "$B_PID")
if [ -n "$question" ]; then
    tv_ok "B's end question is open"
    key_at "$DA" F12
    tv_check "A's alarm shows the receiver window at B" tv_wait_for 10 has_receiver "$DB" "$B_PID"
    tv_check "... and closes B's end question" tv_wait_for 5 on "$DB" lacks_box "$B_PID"
    tv_check "B keeps running and logged no end" sh -c "kill -0 $B_PID && ! grep -q 'Client beendet' '$B/Log/log.csv'"
    tv_check "F4 at A ends it" cancel_at_a
else
    tv_not_ok "B's end question could not be opened from its tray menu"
fi
tv_check "all stations and the server still run" sh -c "kill -0 $SRV_PID && kill -0 $A_PID && kill -0 $B_PID && kill -0 $C_PID"

tv_finish
