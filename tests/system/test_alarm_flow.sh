#!/bin/bash
# One alarm between real PCs (own namespace, display and window manager each): fake station A raises, B and
# C show the receiver window, B's typing user acknowledges nothing, Enter after 2 s does and A hears of it;
# A's cancel closes C's window; acoustic only, C plays the tone once a second (recorded from a PulseAudio
# null sink) until the cancel.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh" "$1"
source "$HERE/netlib.sh"

net_require_root
net_setup

# --- a sound server without sound card: a null sink whose monitor we record ---------------------------------
PA_DIR=$(tv_mktemp pulse)
PA_SOCKET=$PA_DIR/native
if command -v pulseaudio >/dev/null && command -v parec >/dev/null; then
    HOME=$PA_DIR XDG_RUNTIME_DIR=$PA_DIR pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
        --use-pid-file=no --log-target=stderr --load="module-null-sink sink_name=tvsink rate=8000" \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$PA_SOCKET" >"$TV_ARTIFACTS/pulseaudio.log" 2>&1 &
    tv_track $!
    tv_wait_for 10 env PULSE_SERVER=unix:$PA_SOCKET pactl info >/dev/null 2>&1 ||
        tv_not_ok "PulseAudio with a null sink did not come up (see pulseaudio.log)"
else
    tv_not_ok "pulseaudio / parec missing: tools/deps.sh test installs them"
fi
# Every program copy plays to it (only C is acoustic).
export PULSE_SERVER=unix:$PA_SOCKET

NET_SITE_DESKTOP=1
NET_SITE_SETTINGS=("Autoreconnect=1" "Visuell=1" "Akustisch=0")
net_site b c
net_add_pc a 4
A_IP=$NET_PREFIX.4
net_start_peer a station --server "$SRV_IP" --bind "$A_IP" --name "Station A" --vis 1 --ak 0
ALOG=$(net_peer_log a)
tv_wait_file_contains 10 "$ALOG" "DOWN" || tv_bail "server opened no downlink to fake station A"

receiver_of() { on "$1" tv_windows_of "$2" --all --name "$RECEIVER" | head -1; }

# --- B's user is typing into an xterm (Space and Return, without pause) when the alarm arrives ---------------
TYPED=$TV_ARTIFACTS/b-xterm-typed.txt
DISPLAY=$DISPLAY_b xterm -geometry 80x20+40+40 -T typing -e sh -c "cat >'$TYPED'" >/dev/null 2>&1 &
XTERM_PID=$!
tv_track "$XTERM_PID"
on "$DISPLAY_b" tv_wait_for 10 tv_has_window "$XTERM_PID" || tv_bail "no xterm at B"
on "$DISPLAY_b" tv_focus "$(on "$DISPLAY_b" tv_windows_of "$XTERM_PID" | head -n1)"
(while :; do DISPLAY=$DISPLAY_b timeout 5 xdotool key space Return >/dev/null 2>&1; sleep 0.05; done) &
TYPIST=$!
tv_track "$TYPIST"
b_receiver_active() { local w; w=$(receiver_of "$DISPLAY_b" "$PID_b") && [ -n "$w" ] && active_is "$DISPLAY_b" "$w"; }

# --- A raises: B and C show the receiver window ---------------------------------------------------------
net_peer_cmd a "send 004: " || tv_bail "fake A took no command"
# The keys go on for a moment after B's window has taken the keyboard: all within its first second.
tv_check "B's receiver window takes the keyboard from the typing user" tv_wait_for 10 b_receiver_active
B_ACTIVE=$(date +%s.%N)
sleep 0.4
kill "$TYPIST" 2>/dev/null
wait "$TYPIST" 2>/dev/null
sleep 0.5
tv_check "B's user was typing into the xterm (b-xterm-typed.txt)" test -s "$TYPED"
tv_check "Space and Return typed as the window came up acknowledge nothing (no 006 from B)" \
    tv_file_lacks "$SRV/Log/log.csv" "$NET_PREFIX.2 (Station b);006:"
tv_check "server logs A's alarm under A's name" \
    tv_wait_file_contains 5 "$SRV/Log/log.csv" "$A_IP (Station A);004:ALARM von Client $AUSGELOEST"
for pc in b c; do
    dir=DIR_$pc; pid_var=PID_$pc; disp_var=DISPLAY_$pc
    tv_check "$pc logs the relayed alarm" tv_wait_file_contains 5 "${!dir}/Log/log.csv" "$SRV_IP;005:ALARM an Clients weitergeleitet"
    tv_check "$pc shows the receiver window" tv_wait_for 10 on "${!disp_var}" tv_has_window "${!pid_var}" --all --name "$RECEIVER"
done
WB=$(receiver_of "$DISPLAY_b" "$PID_b")
WC=$(receiver_of "$DISPLAY_c" "$PID_c")
[ -n "$WB" ] && [ -n "$WC" ] || tv_bail "no receiver window to inspect"
# --- B acknowledges with Enter: A receives the 007 with B's record --------------------------------------
# Once the window has been up for 2 s, Return is the user's answer to it.
net_past "$B_ACTIVE" 2
on "$DISPLAY_b" tv_focus "$WB"
on "$DISPLAY_b" tv_xdo key Return
tv_check "Enter 2 s after the window came up closes B's window" tv_wait_for 5 on "$DISPLAY_b" tv_lacks_window "$PID_b" --all --name "$RECEIVER"
tv_check "server logs B's acknowledgement" \
    tv_wait_file_contains 5 "$SRV/Log/log.csv" "$NET_PREFIX.2 (Station b);006:ALARM-Receive von Client"
tv_check "A receives 007 naming B" tv_wait_file_contains 5 "$ALOG" \
    "RECV 007: $NET_PREFIX.2|001: |Station b|1|0|$NET_PREFIX.2"
tv_check "C's window is still up" on "$DISPLAY_c" tv_has_window "$PID_c" --all --name "$RECEIVER"

# --- A cancels: C's window closes without acknowledging ---------------------------------------------------
net_peer_cmd a "send 008: "
tv_check "server logs A's cancel" tv_wait_file_contains 5 "$SRV/Log/log.csv" "$A_IP (Station A);008:ALARM-Cancel von Client"
tv_check "the cancel closes C's window" tv_wait_for 5 on "$DISPLAY_c" tv_lacks_window "$PID_c" --all --name "$RECEIVER"
tv_check "C logs the relayed cancel" tv_file_contains "$DIR_c/Log/log.csv" "$SRV_IP;009:ALARM-Cancel an Clients weitergeleitet"
sleep 0.5
tv_check "C's window closed by the program sends no acknowledgement" \
    tv_file_lacks "$SRV/Log/log.csv" "$NET_PREFIX.3 (Station c);006:"

# --- acoustic alerting only at C: no window, one tone a second until the cancel ----------------------------
net_set "$DIR_c" Visuell 0
net_set "$DIR_c" Akustisch 1
net_set "$DIR_b" Visuell 0 # B stays out of it: both off, nothing at all
CAP=$TV_ARTIFACTS/tone-capture.raw
PULSE_SERVER=unix:$PA_SOCKET parec -d tvsink.monitor --format=s16le --rate=8000 --channels=1 --latency-msec=20 \
    --raw >"$CAP" 2>"$TV_ARTIFACTS/parec.log" &
PAREC_PID=$!
tv_track $PAREC_PID
# Markers in capture time: the bytes recorded so far (8000 two-byte samples a second).
captured() { stat -c %s "$CAP" 2>/dev/null || echo 0; }
tv_wait_for 10 sh -c "[ \$(stat -c %s '$CAP' 2>/dev/null || echo 0) -gt 8000 ]" || tv_not_ok "parec records nothing"
sleep 1
T_ALARM=$(captured)
net_peer_cmd a "send 004: "
tv_wait_file_contains 5 "$DIR_c/Log/log.csv" "$SRV_IP;005:" || tv_not_ok "C did not receive the second alarm"
sleep 1
tv_check "acoustic only: C shows no window" on "$DISPLAY_c" tv_lacks_window "$PID_c" --all --name "$RECEIVER"
tv_check "both off: B shows no window" on "$DISPLAY_b" tv_lacks_window "$PID_b" --all --name "$RECEIVER"
sleep 3.5
T_CANCEL=$(captured)
net_peer_cmd a "send 008: "
sleep 3
kill -TERM $PAREC_PID 2>/dev/null
wait $PAREC_PID 2>/dev/null

# Tone onsets: 20 ms windows louder than the noise floor after at least 300 ms of quiet. One a second between
# the alarm and the cancel, none before or after.
python3 - "$CAP" "$T_ALARM" "$T_CANCEL" >"$TV_ARTIFACTS/tone-onsets.txt" <<'PY'
import array, math, sys
data = array.array("h", open(sys.argv[1], "rb").read())
alarm, cancel = int(sys.argv[2]) / 16000.0, int(sys.argv[3]) / 16000.0
onsets, quiet = [], 1.0
for i in range(0, len(data) - 160, 160):
    loud = math.sqrt(sum(s * s for s in data[i:i + 160]) / 160) > 1000
    if loud and quiet >= 0.3:
        onsets.append(i / 8000.0)
    quiet = 0.0 if loud else quiet + 0.02
during = [t for t in onsets if alarm - 0.3 <= t <= cancel + 0.3]
outside = [t for t in onsets if t < alarm - 0.3 or t > cancel + 0.8]
gaps = [b - a for a, b in zip(during, during[1:])]
print("alarm %.2f cancel %.2f onsets %s" % (alarm, cancel, " ".join("%.2f" % t for t in onsets)))
print("RESULT " + ("ok" if not outside and len(during) >= 4 and all(0.75 <= g <= 1.25 for g in gaps) else "bad"))
PY
sed 's/^/# /' "$TV_ARTIFACTS/tone-onsets.txt"
tv_check "C's tone plays once a second while the alarm is up and stops with the cancel" \
    grep -q "RESULT ok" "$TV_ARTIFACTS/tone-onsets.txt"
tv_check "C's hidden alarm was cancelled by the 009" tv_wait_for 3 sh -c \
    "[ \$(grep -ac '$SRV_IP;009:' '$DIR_c/Log/log.csv') -ge 2 ]"

tv_check "B and C are still running" sh -c "kill -0 $PID_b && kill -0 $PID_c"
tv_finish
