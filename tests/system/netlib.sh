# Network helpers for the system tests, on top of lib.sh: every "PC" is a network namespace with one address
# of a private test range on a bridge that lives in a namespace of its own, so nothing of it is seen or
# reachable outside. Needs root. net_cleanup removes every namespace and process this test made.

NET_PREFIX=${NET_PREFIX:-10.199.77}
NET_ID=tv$$
NET_SWITCH=${NET_ID}sw
NET_NAMESPACES=()
NET_PEER=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/netpeer.py

net_cleanup() {
    local ns
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

# net_start_program PC FOLDER DISPLAY: runs FOLDER/tavinor inside the PC's namespace; sets NET_LAST_PID.
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
        exec ip netns exec "$ns" "${as[@]}" "$folder/tavinor"
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

# net_count FILE TEXT: lines of FILE holding TEXT (fixed string, binary-safe).
net_count() { grep -acF -- "$2" "$1" 2>/dev/null || true; }
net_count_above() { [ "$(net_count "$1" "$2")" -gt "$3" ]; }

net_listening() { ip netns exec "$NET_ID$1" ss -ltnH "sport = :$2" 2>/dev/null | grep -q LISTEN; }

# net_start_wm [tray]: a new display with openbox, and with "tray" trayer too; sets TV_DISPLAY (exported as
# DISPLAY), NET_WM_PID and NET_TRAYER_PID. Now and then openbox could not open a display that had just
# answered the probe ("Failed to open the display"), so each helper gets three tries; the logs keep them all.
net_start_wm() {
    tv_start_display
    NET_TRAYER_PID=
    for _ in 1 2 3; do
        openbox --sm-disable >>"$TV_ARTIFACTS/openbox-$TV_DISPLAY.log" 2>&1 &
        NET_WM_PID=$!
        tv_track "$NET_WM_PID"
        tv_wait_for 15 net_settled tv_wm_running "$NET_WM_PID"
        tv_wm_running && break
    done
    tv_wm_running || tv_bail "openbox did not come up on $TV_DISPLAY"
    [ "${1:-}" = tray ] || return 0
    for _ in 1 2 3; do
        trayer --edge bottom --align right --widthtype pixel --width 200 --heighttype pixel --height 28 \
            --SetDockType true >>"$TV_ARTIFACTS/trayer-$TV_DISPLAY.log" 2>&1 &
        NET_TRAYER_PID=$!
        tv_track "$NET_TRAYER_PID"
        tv_wait_for 15 net_settled tv_tray_owned "$NET_TRAYER_PID"
        tv_tray_owned && return 0
    done
    tv_bail "trayer did not take the tray selection on $TV_DISPLAY"
}

# net_settled CHECK PID: the check holds, or the process it waits for has given up.
net_settled() { "$1" || ! tv_alive "$2"; }
