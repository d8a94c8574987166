#!/bin/bash
# Links that fail without a word: the server's network silently drops every packet for 45 s, the server is
# killed and restarted, the server process hangs (SIGSTOP) for 100 s. Every station notices and registers
# again once the server is back. Two groups of PCs run side by side; the figures go into the issue notes.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh" "$1"
source "$HERE/netlib.sh"

net_require_root
command -v nft >/dev/null || tv_bail "nft missing: tools/deps.sh test installs nftables"

# --- group d: the server's link drops silently for 45 s, then the server is killed and restarted ----------
silent_drop_then_kill() {
    local ns t0 pc
    local -A n
    net_site b c
    ns=$(net_ns s)
    for pc in b c; do n[$pc]=$(net_losses $pc); done
    ip netns exec "$ns" nft -f - <<'NFT' || tv_bail "nft rule not set"
table inet tvdrop {
    chain in { type filter hook input priority 0; policy drop; }
    chain out { type filter hook output priority 0; policy drop; }
}
NFT
    t0=$SECONDS
    for pc in b c; do net_noticed $pc "$t0" "${n[$pc]}" 44 "silent drop"; done
    tv_wait_for 50 net_elapsed_ge "$t0" 45
    for pc in b c; do n[$pc]=$(net_registrations $pc); done
    ip netns exec "$ns" nft delete table inet tvdrop
    t0=$SECONDS
    for pc in b c; do net_back $pc "$t0" "${n[$pc]}" 40 "the link came back"; done
    tv_check "the server ran through the drop" tv_alive "$SRV_PID"

    { kill -KILL "$SRV_PID"; wait "$SRV_PID"; } 2>/dev/null
    tv_wait_gone 10 "$SRV_PID" || tv_bail "server did not die"
    for pc in b c; do n[$pc]=$(net_registrations $pc); done
    net_start_program s "$SRV" "$SRV_DISPLAY"
    SRV_PID=$NET_LAST_PID
    tv_wait_for 20 net_listening s 10161 || tv_bail "restarted server does not listen"
    t0=$SECONDS
    for pc in b c; do
        local p="PID_$pc"
        net_back $pc "$t0" "${n[$pc]}" 30 "a SIGKILL and restart of the server"
        tv_check "station $pc still runs" tv_alive "${!p}"
    done
}

# --- group p: the server process hangs for 100 s ----------------------------------------------------------
frozen_server() {
    local t0 lb rb
    net_site b
    lb=$(net_losses b)
    kill -STOP "$SRV_PID"
    t0=$SECONDS
    net_noticed b "$t0" "$lb" 99 "server frozen (SIGSTOP)"
    tv_check "the notice names the silent server" tv_file_contains "$DIR_b/Log/log.csv" "Server antwortet nicht"
    tv_wait_for 110 net_elapsed_ge "$t0" 100
    rb=$(net_registrations b)
    kill -CONT "$SRV_PID"
    t0=$SECONDS
    net_back b "$t0" "$rb" 40 "the server was continued (SIGCONT)"
    tv_check "station b still runs" tv_alive "$PID_b"
}

net_group d silent_drop_then_kill
net_group p frozen_server
net_join
tv_finish
