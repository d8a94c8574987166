# Sourced by the load benchmarks: re-runs the calling script inside a private network namespace (root),
# and starts the server program there. The caller sets BENCH_ARGS (its own arguments) before sourcing.
#   bench_server FOLDER BIN INI   copies BIN to FOLDER, writes INI, starts it; sets SERVER_PID, waits for 10161
#   bench_cpu_s PID               user+system CPU seconds of PID
#   bench_server_figures          "server_peak_rss_mb=… server_cpu_s=…" of SERVER_PID
if [ "${TV_BENCH_INNER:-0}" != 1 ]; then
    [ "$(id -u)" = 0 ] || { echo "needs root (private network namespace)" >&2; exit 1; }
    exec env TV_BENCH_INNER=1 unshare -n bash "$0" "${BENCH_ARGS[@]}"
fi
ip link set lo up
BENCH_TICKS=$(getconf CLK_TCK)
SERVER_PID=

bench_server() {
    cp -a "$2" "$1"
    printf '%s' "$3" >"$1/tavinor.ini"
    (cd "$1" && QT_QPA_PLATFORM=offscreen exec "$1/tavinor") >"$1.out" 2>&1 &
    SERVER_PID=$!
    for _ in $(seq 50); do
        ss -ltnH 'sport = :10161' | grep -q LISTEN && return 0
        sleep 0.1
    done
}

bench_cpu_s() { awk -v t="$BENCH_TICKS" '{printf "%.2f", ($14 + $15) / t}' "/proc/$1/stat"; }

bench_server_figures() {
    echo "server_peak_rss_mb=$(($(awk '/VmHWM/ {print $2}' "/proc/$SERVER_PID/status") / 1024))" \
        "server_cpu_s=$(bench_cpu_s "$SERVER_PID")"
}

bench_stop_server() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null
    SERVER_PID=
}
