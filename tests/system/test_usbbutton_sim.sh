#!/bin/bash
# The emergency button end to end with the simulated device library at stations A and B (network
# namespaces, one X display each): a press at A raises the alarm once, the server relays it, B shows the
# receiver window and, with "Akustisch" "1", pulses its buzzer (bit 7) and LED (bit 6) at one-second steps
# until the window is closed, which switches every output off (255). A second press at A alarms B again;
# B is ended during that alarm ("Beenden", "Ja"), which switches the outputs off before the device is
# closed, and its next start switches them off once more.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh" "$1"
source "$HERE/netlib.sh"

SIM=$(cd "$TV_BIN/.." && pwd)/iowkit-sim/libiowkit.so
net_require_root
[ -f "$SIM" ] || tv_bail "no simulator at $SIM"
net_setup
net_add_pc s 1
net_add_pc a 4
net_add_pc b 2
SRV_IP=$NET_PREFIX.1

common=("Server=0" "Init=1" "Servername=$SRV_IP" "Autoreconnect=1" "Visuell=1" "CheckBuzzer=1")
SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
A=$(net_install a "${common[@]}" "Stationname=Station A" "Akustisch=0") || tv_bail "install a"
B=$(net_install b "${common[@]}" "Stationname=Station B" "Akustisch=1") || tv_bail "install b"
for pc in "$A" "$B"; do
    cp "$SIM" "$pc/libiowkit.so" && mkdir -p "$pc/iowsim" || tv_bail "cannot put the simulator into $pc"
done

with_wm() {
    tv_start_display
    openbox --sm-disable >"$TV_ARTIFACTS/openbox-$TV_DISPLAY.log" 2>&1 &
    tv_track $!
    tv_wait_for 15 tv_wm_running || tv_bail "openbox did not come up on $TV_DISPLAY"
}
tv_start_display; DS=$TV_DISPLAY
net_start_wm tray; DB=$TV_DISPLAY; B_TRAYER=$NET_TRAYER_PID # B's tray, for its end question
with_wm; DA=$TV_DISPLAY

registered() { tv_file_contains "$1/Log/log.csv" "$SRV_IP;002:Connect Response"; }
alarms_at_a() { net_count "$A/Log/log.csv" "ALARM ausgel"; }
receiver_of_b() { DISPLAY=$DB tv_windows_of "$B_PID" --all --name '^tavinor - ALARM-Receiver$' | head -n1; }
receiver_open() { [ -n "$(receiver_of_b)" ]; }
receiver_closed() { [ -z "$(receiver_of_b)" ]; }
# B's output reports as "time port3" (the IO-Warrior40 carries the outputs in report byte 4).
outputs_of_b() { awk 'NF == 6 { print $1, $6 }' "$B/iowsim/out-1" 2>/dev/null; }

net_start_program s "$SRV" "$DS"; SRV_PID=$NET_LAST_PID
tv_wait_for 15 net_listening s 10161 || tv_bail "server does not listen on 10161"
net_start_program a "$A" "$DA"; A_PID=$NET_LAST_PID
net_start_program b "$B" "$DB"; B_PID=$NET_LAST_PID

# --- start: the button is found and polled once the station is connected --------------------------------
tv_check "A opens its simulated button" tv_wait_file_contains 20 "$A/iowsim/events" "open 1"
tv_wait_for 20 registered "$A" || tv_bail "A did not register at the server"
tv_wait_for 20 registered "$B" || tv_bail "B did not register at the server"
tv_check "A starts polling the button once connected" tv_wait_file_contains 10 "$A/iowsim/events" "read 1"
tv_check "A shows no warning (a button is attached)" test -z "$(DISPLAY=$DA tv_windows_of "$A_PID" --name '^tavinor$')"
tv_check "B switches its outputs off once at start (FF) and writes nothing else before an alarm" \
    test "$(outputs_of_b | cut -d' ' -f2 | tr '\n' ' ')" = "FF "

# --- the press at A ----------------------------------------------------------------------------------------
echo press >>"$A/iowsim/in-1"
tv_check "a press at A raises the alarm" tv_wait_for 5 net_count_above "$A/Log/log.csv" "ALARM ausgel" 0
tv_check "the server relays it to B" tv_wait_file_contains 10 "$B/Log/log.csv" "$SRV_IP;005:"
tv_check "B shows the receiver window" tv_wait_for 10 receiver_open
tv_shot "b-receiver"
sleep 2 # held down: the device sends no further report
echo release >>"$A/iowsim/in-1"
sleep 1
tv_check "the held button and its release raised no second alarm (alarms: $(alarms_at_a))" test "$(alarms_at_a)" -eq 1

# --- B's buzzer and LED ------------------------------------------------------------------------------------
sleep 3
outputs_of_b | tail -n +2 >"$TV_ARTIFACTS/b-outputs.txt"
first=$(head -n1 "$TV_ARTIFACTS/b-outputs.txt" | cut -d' ' -f2)
tv_check "B's first output switches buzzer and LED on (3F, got ${first:-nothing})" test "$first" = 3F
# After the first write: one write a second, alternating between off (FF) and the pattern (3F).
pulses_ok() {
    awk 'NR == 1 { next }
         { if (prev != "") { gap = $1 - prev; if (gap < 0.6 || gap > 1.4) bad = 1 }
           if ($2 != "FF" && $2 != "3F") bad = 1
           if (last != "" && $2 == last) bad = 1
           prev = $1; last = $2; n++ }
         END { exit !(n >= 4 && !bad) }' "$TV_ARTIFACTS/b-outputs.txt"
}
tv_check "B pulses buzzer and LED at one-second steps (FF/3F, see b-outputs.txt)" pulses_ok
tv_check "every report B writes has the other ports at 255" \
    test -z "$(awk 'NF && !($2 == "00" && $3 == "FF" && $4 == "FF" && $5 == "FF")' "$B/iowsim/out-1")"

# --- closing B's window switches everything off -------------------------------------------------------------
RECEIVER=$(receiver_of_b)
if [ -n "$RECEIVER" ]; then
    DISPLAY=$DB timeout 10 xdotool windowactivate --sync "$RECEIVER" >/dev/null 2>&1
    sleep 0.3
    DISPLAY=$DB timeout 10 xdotool key --clearmodifiers Return >/dev/null 2>&1
fi
tv_check "B's receiver window closes with Enter" tv_wait_for 10 receiver_closed
sleep 2.5
outputs_of_b >"$TV_ARTIFACTS/b-outputs-after-close.txt"
last=$(tail -n1 "$TV_ARTIFACTS/b-outputs-after-close.txt" | cut -d' ' -f2)
tv_check "B's last output is 255 (all off, got ${last:-nothing})" test "$last" = FF
sleep 1.5
tv_check "B writes nothing more once the window is gone" \
    test "$(outputs_of_b | wc -l)" -eq "$(wc -l <"$TV_ARTIFACTS/b-outputs-after-close.txt")"


# --- a second press at A alarms B again; B is ended during the alarm ----------------------------------------
echo press >>"$A/iowsim/in-1"
echo release >>"$A/iowsim/in-1"
tv_check "a second press at A raises the alarm again" tv_wait_for 5 net_count_above "$A/Log/log.csv" "ALARM ausgel" 1
tv_check "B shows the receiver window again" tv_wait_for 10 receiver_open
export DISPLAY=$DB TV_DISPLAY=$DB TV_TRAYER_PID=$B_TRAYER
question=$(end_question_at "$B_PID")
[ -n "$question" ] || tv_bail "B's end question could not be opened from its tray menu"
focus_ja "$question"
# "Ja" right after a write that switched buzzer and LED on: the end itself must switch them off.
n=$(outputs_of_b | wc -l)
fresh_on() { [ "$(outputs_of_b | wc -l)" -gt "$n" ] && [ "$(outputs_of_b | tail -n1 | cut -d' ' -f2)" = 3F ]; }
tv_wait_for 5 fresh_on || tv_not_ok "B's buzzer and LED did not pulse on while its end question waited"
tv_xdo key --clearmodifiers space >/dev/null 2>&1
tv_check "Ja ends B" tv_wait_gone 10 "$B_PID"
tv_check "B's last output before the end is 255 (got $(outputs_of_b | tail -n1 | cut -d' ' -f2))" \
    test "$(outputs_of_b | tail -n1 | cut -d' ' -f2)" = FF
n=$(outputs_of_b | wc -l)
net_start_program b "$B" "$DB"; B_PID=$NET_LAST_PID
wrote_again() { [ "$(outputs_of_b | wc -l)" -gt "$n" ]; }
tv_wait_for 20 wrote_again || tv_not_ok "B wrote no output at its next start"
first=$(outputs_of_b | sed -n "$((n + 1))p" | cut -d' ' -f2)
tv_check "B's first output at its next start is 255 (got ${first:-nothing})" test "$first" = FF

tv_check "A and B keep running" sh -c "kill -0 $A_PID && kill -0 $B_PID"
tv_finish
