# Sourced by the benchmarks that need the whole chain: a server and stations A, B and C, each in its own
# network namespace with its own X display and openbox (the rig of the system tests), all registered and A's
# alert key armed. Sets SRV, A, B, C (installation folders), DS, DA, DB, DC (displays), S_PID, A_PID, B_PID,
# C_PID and SRV_IP.
net_require_root
[ -f "$TV_BIN/libtvkbhk.so" ] || tv_bail "no libtvkbhk.so in $TV_BIN"
net_abc

common=("Server=0" "Init=1" "Servername=$SRV_IP" "Autoreconnect=1" "CheckBuzzer=0" "Visuell=1" "Akustisch=0")
SRV=$(net_install server "Server=1" "Init=1" "Stationname=Zentrale") || tv_bail "install server"
A=$(net_install a "${common[@]}" "Stationname=Station A") || tv_bail "install a"
B=$(net_install b "${common[@]}" "Stationname=Station B") || tv_bail "install b"
C=$(net_install c "${common[@]}" "Stationname=Station C") || tv_bail "install c"

net_start_wm; DS=$TV_DISPLAY
net_start_wm; DA=$TV_DISPLAY
net_start_wm; DB=$TV_DISPLAY
net_start_wm; DC=$TV_DISPLAY

net_start_program s "$SRV" "$DS"; S_PID=$NET_LAST_PID
tv_wait_for 15 net_listening s 10161 || tv_bail "server does not listen on 10161"
net_start_program a "$A" "$DA"; A_PID=$NET_LAST_PID
net_start_program b "$B" "$DB"; B_PID=$NET_LAST_PID
net_start_program c "$C" "$DC"; C_PID=$NET_LAST_PID
for pc in A B C; do
    folder=${!pc}
    tv_wait_file_contains 20 "$folder/Log/log.csv" "$SRV_IP;002:" || tv_bail "$pc did not register"
done
# The key is grabbed once A has applied its record.
tv_wait_for 10 test -e "/dev/shm/tavinor_shared_mem.0$DA" || tv_bail "A has no shared record"

