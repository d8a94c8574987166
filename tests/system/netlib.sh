# Network helpers for the system tests, on top of lib.sh: every "PC" is a network namespace with one address
# of a private test range on a bridge that lives in a namespace of its own, so nothing of it is seen or
# reachable outside. Needs root. net_cleanup removes every namespace and process this test made.

NET_PREFIX=${NET_PREFIX:-10.199.77}
NET_ID=tv$$
NET_SWITCH=${NET_ID}sw
NET_NAMESPACES=()
NET_PEER=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/netpeer.py
NET_GROUP_PIDS=()
RECEIVER='^tavinor - ALARM-Receiver$'
SENDER='^tavinor - ALARM-Sender$'
AUSGELOEST=$'ausgel\xf6st' # the event logs are Windows-1252

# on DISPLAY command...: runs a helper against one PC's display.
on() { (export DISPLAY=$1 TV_DISPLAY=$1; "${@:2}"); }
key_at() { DISPLAY=$1 timeout 10 xdotool key --clearmodifiers "$2" >/dev/null 2>&1; }
prop() { on "$1" tv_x xprop "${@:2}" 2>/dev/null; }
active_is() { [ "$(prop "$1" -root _NET_ACTIVE_WINDOW | grep -oE '0x[0-9a-f]+' | head -1)" = "$(printf '0x%x' "$2")" ]; }
# net_past T SECONDS: waits until SECONDS have gone by since T (a `date +%s.%N`), e.g. a window's key grace.
net_past() { while awk -v a="$1" -v s="$2" -v n="$(date +%s.%N)" 'BEGIN { exit !(n < a + s) }'; do sleep 0.1; done; }

net_cleanup() {
    local ns pid
    # Groups end first and clean up after themselves.
    for pid in "${NET_GROUP_PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "${NET_GROUP_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    tv_cleanup
    for ns in "${NET_NAMESPACES[@]}"; do
        ip netns del "$ns" 2>/dev/null
    done
}
trap net_cleanup EXIT

net_require_root() {
    if [ "$(id -u)" != 0 ] || ! ip netns list >/dev/null 2>&1; then
        tv_bail "network namespaces need root (ip netns)"
    fi
}

net_setup() {
    ip netns add "$NET_SWITCH" || tv_bail "cannot create namespace $NET_SWITCH"
    NET_NAMESPACES+=("$NET_SWITCH")
    ip -n "$NET_SWITCH" link add br0 type bridge || tv_bail "cannot create bridge"
    ip -n "$NET_SWITCH" link set br0 up
}

# net_add_pc NAME HOST: namespace $NET_ID$NAME with address $NET_PREFIX.HOST/24 on eth0.
net_add_pc() {
    local ns=$NET_ID$1 a=${NET_ID}$1a b=${NET_ID}$1b
    ip netns add "$ns" || tv_bail "cannot create namespace $ns"
    NET_NAMESPACES+=("$ns")
    ip link add "$a" type veth peer name "$b" || tv_bail "cannot create veth $a"
    ip link set "$a" netns "$ns"
    ip link set "$b" netns "$NET_SWITCH"
    ip -n "$NET_SWITCH" link set "$b" master br0 up
    ip -n "$ns" link set "$a" name eth0
    ip -n "$ns" addr add "$NET_PREFIX.$2/24" dev eth0
    ip -n "$ns" link set eth0 up
    ip -n "$ns" link set lo up
}

net_ns() { echo "$NET_ID$1"; }

# net_install NAME KEY=VALUE...: a fresh installation with these settings; prints its folder.
net_install() {
    local d kv
    d=$(tv_install "$1") || return 1
    {
        printf '[General]\r\n'
        for kv in "${@:2}"; do printf '%s\r\n' "$kv"; done
    } >"$d/tavinor.ini"
    echo "$d"
}

# net_set FOLDER KEY VALUE: changes one setting of an installation (the program reads it anew each time).
net_set() {
    sed -i "s/^$2=.*\r\$/$2=$3\r/" "$1/tavinor.ini"
    grep -q "^$2=" "$1/tavinor.ini" || printf '%s=%s\r\n' "$2" "$3" >>"$1/tavinor.ini"
}

# net_start_program PC FOLDER DISPLAY [OPTION...]: runs FOLDER/tavinor inside the PC's namespace; sets NET_LAST_PID.
# With NET_USER set it runs as that user (the folder must be theirs).
net_start_program() {
    local ns=$NET_ID$1 folder=$2 display=$3 runtime as=()
    runtime=$(tv_mktemp runtime)
    chmod 700 "$runtime"
    if [ -n "${NET_USER:-}" ]; then
        chown "$NET_USER" "$runtime"
        as=(setpriv --reuid="$NET_USER" --regid="$(id -g "$NET_USER")" --clear-groups)
    fi
    (
        cd "$folder" || exit 1
        export DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$runtime
        export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/tavinor-test-bus
        exec ip netns exec "$ns" "${as[@]}" "$folder/tavinor" "${@:4}"
    ) >"$TV_ARTIFACTS/$1.out" 2>"$TV_ARTIFACTS/$1.err" &
    NET_LAST_PID=$!
    tv_track "$NET_LAST_PID"
}

# net_start_peer PC MODE ARGS...: the fake peer inside the PC's namespace, commands through a FIFO.
net_start_peer() {
    local pc=$1 fifo
    fifo=$TV_ROOT/$pc.ctl
    mkfifo "$fifo"
    ip netns exec "$NET_ID$pc" python3 -u "$NET_PEER" "${@:2}" --control "$fifo" >"$TV_ARTIFACTS/$pc.peer" 2>&1 &
    tv_track "$!"
    eval "NET_PEER_PID_$pc=$!"
}

net_peer_log() { echo "$TV_ARTIFACTS/$1.peer"; }

# net_peer_cmd PC COMMAND: hands a command to the fake peer and waits until it has been carried out.
net_peer_cmd() {
    local log verb before
    log=$(net_peer_log "$1")
    verb=${2%% *}
    before=$(grep -c "^DONE $verb\$" "$log" 2>/dev/null)
    timeout 5 sh -c 'printf "%s\n" "$1" >"$2"' _ "$2" "$TV_ROOT/$1.ctl" || return 1
    tv_wait_for 10 net_count_above "$log" "DONE $verb" "$before"
}

# Lines of FILE holding TEXT (fixed string, binary-safe).
net_count() { grep -acF -- "$2" "$1" 2>/dev/null || true; }
net_count_above() { [ "$(net_count "$1" "$2")" -gt "$3" ]; }

net_listening() { ip netns exec "$NET_ID$1" ss -ltnH "sport = :$2" 2>/dev/null | grep -q LISTEN; }

# net_start_wm [tray]: a desktop, with trayer only when asked; NET_WM_PID and NET_TRAYER_PID as set by lib.sh.
net_start_wm() {
    if [ "${1:-}" = tray ]; then tv_start_desktop; else tv_start_desktop notray; fi
    NET_WM_PID=$TV_WM_PID
    NET_TRAYER_PID=$TV_TRAYER_PID
}

# net_group NAME FUNCTION: runs FUNCTION in the background as a group of its own (switch, PCs, processes, temp
# folder and cleanup), so that scenarios that wait by nature run side by side; net_join collects the results.
net_group() {
    local name=$1 fn=$2
    (
        NET_ID=$NET_ID$name
        NET_SWITCH=${NET_ID}sw
        NET_NAMESPACES=()
        NET_GROUP_PIDS=()
        TV_PIDS=()
        TV_GROUPS=()
        TV_PASSES=0
        TV_FAILURES=0
        TV_ROOT=$(mktemp -d "$TV_ROOT/group-$name.XXXXXX") || exit 1
        TV_ARTIFACTS=$TV_ARTIFACTS/$name
        mkdir -p "$TV_ARTIFACTS"
        trap net_cleanup EXIT
        trap 'exit 130' INT TERM
        net_setup
        "$fn"
        echo "# group $name: $TV_PASSES passed, $TV_FAILURES failed"
    ) >"$TV_ARTIFACTS/group-$name.log" 2>&1 &
    NET_GROUP_PIDS+=("$!")
}

net_join() {
    local pid f
    for pid in "${NET_GROUP_PIDS[@]}"; do wait "$pid"; done
    NET_GROUP_PIDS=()
    for f in "$TV_ARTIFACTS"/group-*.log; do
        cat "$f"
        TV_PASSES=$((TV_PASSES + $(grep -c '^ok - ' "$f")))
        TV_FAILURES=$((TV_FAILURES + $(grep -c '^not ok - ' "$f")))
    done
}

# net_figure NAME VALUE: one measured figure, for the issue notes.
net_figure() { echo "# figure: $1: $2"; }

# net_wait_since T0 SECONDS command...: polls like tv_wait_for; prints the seconds since T0 (from $SECONDS)
# when the command first held, nothing on timeout.
net_wait_since() { tv_wait_for "${@:2}" && echo $((SECONDS - $1)); }

NET_LOST="Verbindung zum Server verloren"

# net_abc: namespaces for a server (.1) and stations a (.4), b (.2), c (.3); sets SRV_IP. The stations are
# ended by signal, which leaves their shared key records behind (displays DA, DB, DC): they go with the rest.
net_abc() {
    net_setup
    net_add_pc s 1
    net_add_pc a 4
    net_add_pc b 2
    net_add_pc c 3
    SRV_IP=$NET_PREFIX.1
    trap 'net_cleanup; rm -f /dev/shm/tavinor_shared_mem.0${DA:-:} /dev/shm/tavinor_shared_mem.0${DB:-:} /dev/shm/tavinor_shared_mem.0${DC:-:}' EXIT
}

# net_site PC... : a server (.1) and the stations named (.2 and up), all registered. Sets SRV, SRV_IP,
# SRV_PID, SRV_DISPLAY and per station DIR_<pc>, PID_<pc>, IP_<pc>, DISPLAY_<pc>. NET_SITE_SETTINGS are
# added to every station's settings; NET_SITE_DESKTOP=1 gives the stations a window manager and tray.
NET_SITE_SETTINGS=()
net_site() {
    local pc host=2
    net_add_pc s 1
    net_site_server
    tv_wait_for 20 net_listening s 10161 || tv_bail "server does not listen on 10161"
    for pc in "$@"; do
        net_site_station "$pc" "$host"
        host=$((host + 1))
    done
    for pc in "$@"; do
        tv_wait_for 30 net_registrations_above "$pc" 0 || tv_bail "station $pc did not register"
    done
}
# The parts of net_site, for a scenario that must come between them; the server's PC s must be there.
net_site_server() {
    SRV_IP=$NET_PREFIX.1
    SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
    tv_start_display
    SRV_DISPLAY=$TV_DISPLAY
    net_start_program s "$SRV" "$SRV_DISPLAY"
    SRV_PID=$NET_LAST_PID
}
net_site_station() { # PC HOST
    local dir
    net_add_pc "$1" "$2"
    dir=$(net_install "$1" "Server=0" "Init=1" "Servername=$SRV_IP" "CheckBuzzer=0" "Stationname=Station $1" \
        "${NET_SITE_SETTINGS[@]}") || tv_bail "install $1"
    printf -v "DIR_$1" '%s' "$dir"
    if [ "${NET_SITE_DESKTOP:-0}" = 1 ]; then tv_start_desktop; else tv_start_display; fi
    printf -v "DISPLAY_$1" '%s' "$TV_DISPLAY"
    net_start_program "$1" "$dir" "$TV_DISPLAY"
    printf -v "PID_$1" '%s' "$NET_LAST_PID"
    printf -v "IP_$1" '%s' "$NET_PREFIX.$2"
}

net_registrations() { local ip="IP_$1"; net_count "$SRV/Log/log.csv" ";${!ip};001:Connect Request"; }
net_registrations_above() { [ "$(net_registrations "$1")" -gt "$2" ]; }
net_losses() { local d="DIR_$1"; net_count "${!d}/Log/log.csv" "$NET_LOST"; }
net_elapsed_ge() { [ $((SECONDS - $1)) -ge "$2" ]; }
net_losses_above() { [ "$(net_losses "$1")" -gt "$2" ]; }

# net_noticed / net_back PC T0 COUNT WITHIN LABEL: the station logs a loss / registers again, past COUNT
# times, within WITHIN seconds of T0; prints the figure.
net_noticed() { net_timed "$1" net_losses_above "$2" "$3" "$4" "notices the lost server" "$5: station $1 noticed after"; }
net_back() {
    net_timed "$1" net_registrations_above "$2" "$3" "$4" "is registered again after $5" "$5: station $1 registered again after"
}
net_timed() {
    local t
    t=$(net_wait_since "$3" "$5" "$2" "$1" "$4")
    tv_check "station $1 $6" test -n "$t"
    [ -n "$t" ] && net_figure "$7" "$t s"
}
