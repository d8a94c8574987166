# Helpers for the system tests: a private X display with window manager and tray host, throwaway
# installations copied from build/bin, waits with timeouts, screenshots, and a cleanup that ends exactly the
# processes this test started. Sourced by tests/system/test_*.sh, which are run as `bash test_x.sh <build/bin>`.
#
# Results are printed as "ok - ..." / "not ok - ..."; tv_finish exits non-zero when anything failed.

set -u

TV_BIN=$(cd "${1:?usage: $0 <path-to-build/bin>}" && pwd)
TV_NAME=$(basename "$0" .sh)
TV_ARTIFACTS=${TV_ARTIFACTS:-$(dirname "$TV_BIN")/tests/artifacts/$TV_NAME}
TV_FAILURES=0
TV_PASSES=0
TV_PIDS=()
TV_GROUPS=() # process groups led by program copies
# Every temp folder of the test lives below this one, so one removal cleans up (also those made in $(...)).
TV_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/tavinor-$TV_NAME.XXXXXX") || exit 1
TV_DISPLAY=
TV_SHOT=0

rm -rf "$TV_ARTIFACTS" && mkdir -p "$TV_ARTIFACTS"

# --- reporting -------------------------------------------------------------------------------------------

tv_ok() {
    TV_PASSES=$((TV_PASSES + 1))
    echo "ok - $*"
}

tv_not_ok() {
    TV_FAILURES=$((TV_FAILURES + 1))
    echo "not ok - $*"
}

# tv_check "description" command...: one result line from the command's exit status.
tv_check() {
    local what=$1
    shift
    if "$@"; then tv_ok "$what"; else tv_not_ok "$what"; fi
}

# A step the rest of the test depends on: report and stop (the exit trap cleans up).
tv_bail() {
    tv_not_ok "$*"
    tv_shot "bail"
    echo "# giving up after: $*"
    tv_finish
}

tv_finish() {
    echo "# $TV_PASSES passed, $TV_FAILURES failed; artefacts in $TV_ARTIFACTS"
    [ "$TV_FAILURES" -eq 0 ] && [ "$TV_PASSES" -gt 0 ]
    exit $?
}

# --- processes and cleanup -------------------------------------------------------------------------------

tv_track() { TV_PIDS+=("$1"); }

# True while the process exists and is not a zombie.
tv_alive() {
    local state
    [ -r "/proc/$1/stat" ] || return 1
    state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)
    [ -n "$state" ] && [ "$state" != Z ]
}

tv_cleanup() {
    local i pid
    # What the program copies started themselves goes with their process group.
    for pid in "${TV_GROUPS[@]}"; do kill -TERM -- "-$pid" 2>/dev/null; done
    # Newest first: the program copies before the tray host, window manager and display they live on.
    for ((i = ${#TV_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${TV_PIDS[$i]}
        tv_alive "$pid" && kill -TERM "$pid" 2>/dev/null
    done
    for ((i = ${#TV_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${TV_PIDS[$i]}
        for _ in $(seq 20); do tv_alive "$pid" || break; sleep 0.1; done
        tv_alive "$pid" && kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    for pid in "${TV_GROUPS[@]}"; do kill -KILL -- "-$pid" 2>/dev/null; done
    rm -rf "$TV_ROOT"
}
trap tv_cleanup EXIT
trap 'exit 130' INT TERM

# End in order before the test runner's own limit would kill everything without cleanup.
TV_TIME_LIMIT=${TV_TIME_LIMIT:-280}
(
    for _ in $(seq "$TV_TIME_LIMIT"); do sleep 1; done
    echo "not ok - time limit of ${TV_TIME_LIMIT}s reached"
    kill -TERM $$
) &
tv_track $!

tv_mktemp() { mktemp -d "$TV_ROOT/${1:-tmp}.XXXXXX"; }

# --- waiting ---------------------------------------------------------------------------------------------

# tv_wait_for SECONDS command...: polls the command until it succeeds; false on timeout.
tv_wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    while ! "$@"; do
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.2
    done
}

tv_file_contains() { [ -f "$1" ] && grep -qF -- "$2" "$1"; }
tv_file_lacks() { ! tv_file_contains "$1" "$2"; }
tv_gone() { ! tv_alive "$1"; }
tv_wait_file_contains() { tv_wait_for "$1" tv_file_contains "$2" "$3"; }
tv_wait_gone() { tv_wait_for "$1" tv_gone "$2"; }

# --- X display, window manager, tray host ---------------------------------------------------------------

tv_xdo() { timeout 10 xdotool "$@"; }
tv_x() { DISPLAY=$TV_DISPLAY timeout 10 "$@"; }

# Starts Xvfb (without the reset after its last client left, which refuses connections for a moment) on
# the first free display number from 90 up; a number taken meanwhile by a parallel test
# makes that Xvfb fail on its lock, and the next number is tried. The display answering is not enough: until
# the losing Xvfb has died, the winner's socket answers for it; the lock file names the one that owns it.
tv_start_display() {
    local n=90 pid
    while [ "$n" -lt 190 ]; do
        if [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; then
            n=$((n + 1))
            continue
        fi
        Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp -noreset >"$TV_ARTIFACTS/xvfb-$n.log" 2>&1 &
        pid=$!
        tv_track "$pid"
        if tv_wait_for 10 tv_display_up "$n" "$pid" && tv_alive "$pid" &&
            [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$pid" ]; then
            TV_DISPLAY=":$n"
            export DISPLAY=$TV_DISPLAY
            echo "# display $TV_DISPLAY (Xvfb pid $pid)"
            return 0
        fi
        kill "$pid" 2>/dev/null
        n=$((n + 1))
    done
    tv_bail "no X display could be started"
}

tv_display_up() {
    tv_alive "$2" || return 0 # died: stop waiting, the caller tries the next number
    [ -S "/tmp/.X11-unix/X$1" ] && DISPLAY=":$1" timeout 5 xdpyinfo >/dev/null 2>&1
}

tv_wm_running() {
    tv_x xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

# Whether anybody owns the tray selection of screen 0. Plain libX11 through ctypes: no extra packages.
tv_tray_owned() {
    DISPLAY=$TV_DISPLAY timeout 10 python3 - 2>/dev/null <<'EOF'
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XDefaultScreen.argtypes = [ctypes.c_void_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XGetSelectionOwner.restype = ctypes.c_ulong
x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
d = x.XOpenDisplay(None) or sys.exit(1)
sys.exit(0 if x.XGetSelectionOwner(d, x.XInternAtom(d, b"_NET_SYSTEM_TRAY_S%d" % x.XDefaultScreen(d), 0)) else 1)
EOF
}

# tv_start_desktop [notray]: a new display with openbox and (unless "notray") trayer; sets TV_DISPLAY (exported as
# DISPLAY), TV_WM_PID and TV_TRAYER_PID. Now and then openbox could not open a display that had just answered
# the probe, so each helper gets three tries; the logs keep them all.
tv_start_desktop() {
    tv_start_display
    TV_TRAYER_PID=
    for _ in 1 2 3; do
        openbox --sm-disable >>"$TV_ARTIFACTS/openbox-$TV_DISPLAY.log" 2>&1 &
        TV_WM_PID=$!
        tv_track "$TV_WM_PID"
        tv_wait_for 15 tv_settled tv_wm_running "$TV_WM_PID"
        tv_wm_running && break
    done
    tv_wm_running || tv_bail "openbox did not come up on $TV_DISPLAY"
    [ "${1:-}" = notray ] && return 0
    for _ in 1 2 3; do
        trayer --edge bottom --align right --widthtype pixel --width 200 --heighttype pixel --height 28 \
            --SetDockType true >>"$TV_ARTIFACTS/trayer-$TV_DISPLAY.log" 2>&1 &
        TV_TRAYER_PID=$!
        tv_track "$TV_TRAYER_PID"
        tv_wait_for 15 tv_settled tv_tray_owned "$TV_TRAYER_PID"
        tv_tray_owned && return 0
    done
    tv_bail "trayer did not take the tray selection on $TV_DISPLAY"
}

# tv_settled CHECK PID: the check holds, or the process it waits for has given up.
tv_settled() { "$1" || ! tv_alive "$2"; }

# --- windows ---------------------------------------------------------------------------------------------

# Visible windows of a process, one decimal id a line; optional name pattern.
tv_windows_of() {
    local pid=$1
    shift
    tv_xdo search --onlyvisible --pid "$pid" "$@" 2>/dev/null
}

tv_has_window() { [ -n "$(tv_windows_of "$@")" ]; }
tv_lacks_window() { ! tv_has_window "$@"; }

# Every window id below `root` (hex), recursively, one a line, in decimal.
tv_descendants() {
    tv_x xwininfo -tree -id "$1" 2>/dev/null | grep -oE '^ +0x[0-9a-f]+' | while read -r w; do printf '%d\n' "$w"; done
}

# The top-level windows of trayer (its panel holds the embedded icons).
tv_trayer_windows() {
    local ws
    ws=$(tv_xdo search --pid "$TV_TRAYER_PID" 2>/dev/null)
    [ -n "$ws" ] || ws=$(tv_xdo search --classname '^trayer$' 2>/dev/null)
    echo "$ws"
}

# The window of process `pid` that trayer has embedded (decimal id), empty when none.
tv_embedded_icon() {
    local pid=$1 mine t w
    mine=$(tv_xdo search --pid "$pid" 2>/dev/null | sort -u)
    [ -n "$mine" ] || return 1
    for t in $(tv_trayer_windows); do
        for w in $(tv_descendants "$t"); do
            if grep -qx "$w" <<<"$mine"; then
                echo "$w"
                return 0
            fi
        done
    done
    return 1
}

tv_icon_embedded() { [ -n "$(tv_embedded_icon "$1")" ]; }

# Centre of a window in root coordinates: "x y".
tv_window_centre() {
    tv_x xwininfo -id "$1" 2>/dev/null | awk '
        /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
        /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF}
        END { if (w == "") exit 1; printf "%d %d\n", x + w / 2, y + h / 2 }'
}

# Brings a window to the front with the keyboard focus, so that the next keys reach it.
tv_focus() {
    tv_xdo windowactivate --sync "$1" >/dev/null 2>&1 || tv_xdo windowfocus --sync "$1" >/dev/null 2>&1
    sleep 0.3
}

# --- the tray menu and the program's message boxes (on TV_DISPLAY, with TV_TRAYER_PID's trayer) ------------

# tv_click_icon PID BUTTON [REPEAT]: clicks that station's tray icon.
tv_click_icon() {
    local icon
    icon=$(tv_embedded_icon "$1") || return 1
    # No --sync: it waits for a motion that never comes when the pointer is already there.
    # shellcheck disable=SC2046
    tv_xdo mousemove $(tv_window_centre "$icon") >/dev/null 2>&1
    sleep 0.2
    tv_xdo click --repeat "${3:-1}" --delay 120 "$2" >/dev/null 2>&1
}
# tray_menu_at PID: opens the tray menu of that station on the current display.
tray_menu_at() { tv_click_icon "$1" 3 && sleep 0.5; }
# boxes_of PID: the station's message boxes, visible windows titled exactly tavinor (xdotool's name search
# returns the alarm windows too) other than the tray icon, which bears that name as well.
boxes_of() {
    local w
    for w in $(tv_windows_of "$1" --name '^tavinor$'); do
        [ "$(tv_xdo getwindowname "$w" 2>/dev/null)" = tavinor ] &&
            [ "$(tv_x xwininfo -id "$w" | awk '/^ *Width:/ {print $NF}')" -ge 100 ] && echo "$w"
    done
}
has_box() { [ -n "$(boxes_of "$1")" ]; }
lacks_box() { ! has_box "$1"; }
# end_question_at PID [UPS]: opens a station's end question from the tray menu and prints the question's window.
# "Beenden" is the menu's last entry (UPS=1), on the server the last but one (UPS=2).
end_question_at() {
    tray_menu_at "$1" || return 1
    for _ in $(seq "${2:-1}"); do tv_xdo key Up >/dev/null 2>&1; done # up from no selection
    sleep 0.2
    tv_xdo key Return >/dev/null 2>&1
    tv_wait_for 5 has_box "$1" && boxes_of "$1" | head -n1
}

# --- screenshots -----------------------------------------------------------------------------------------

tv_shot() {
    [ -n "$TV_DISPLAY" ] || return 0
    TV_SHOT=$((TV_SHOT + 1))
    local file
    file=$(printf '%s/%02d-%s.png' "$TV_ARTIFACTS" "$TV_SHOT" "$1")
    timeout 20 import -display "$TV_DISPLAY" -window root "$file" >/dev/null 2>&1 || echo "# screenshot $1 failed"
}

# --- installations ---------------------------------------------------------------------------------------

# A fresh installation: a copy of build/bin in a new temp folder; prints the folder, false on failure.
tv_install() {
    local d
    d=$(tv_mktemp "${1:-inst}") || return 1
    cp -a "$TV_BIN/." "$d/" || return 1
    echo "$d"
}

# tv_start_program FOLDER LOGNAME: starts FOLDER/tavinor on the test display; sets TV_LAST_PID. Each copy gets
# its own network namespace when the system allows, so its listening ports cannot clash with anything else
# on this machine; the X server is still reached through /tmp/.X11-unix.
tv_start_program() {
    local folder=$1 log=$2 runtime
    runtime=$(tv_mktemp runtime)
    chmod 700 "$runtime"
    (
        cd "$folder" || exit 1
        export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$runtime
        # The instance lock lives in the temp folder: keep it inside this test's folder, shared by all copies.
        mkdir -p "$TV_ROOT/tmp"
        export TMPDIR=$TV_ROOT/tmp
        # No session bus: the icon goes through the X11 tray protocol.
        export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/tavinor-test-bus
        # Its own process group (same pid), so that the cleanup also reaches anything it starts.
        if [ "${TV_NETNS:-1}" = 1 ] && unshare -n true 2>/dev/null; then
            exec setsid unshare -n -- sh -c 'ip link set lo up 2>/dev/null; exec "$0"' "$folder/tavinor"
        fi
        exec setsid "$folder/tavinor"
    ) >"$TV_ARTIFACTS/$log.out" 2>"$TV_ARTIFACTS/$log.err" &
    TV_LAST_PID=$!
    tv_track "$TV_LAST_PID"
    TV_GROUPS+=("$TV_LAST_PID")
}
