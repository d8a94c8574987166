#!/bin/bash
# The Debian package on a real system: built from this build, checked by lintian, preseeded and installed on
# this machine, run the way an installed PC runs it (the relay service's command line as its own user without
# a display, the station's autostart command line as an ordinary user on an X display), an alarm raised with
# "tavinor --alarm", SIGTERM to both, and a purge that leaves the machine as it was.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh" "$1"
source "$HERE/netlib.sh"

BUILD=$(dirname "$TV_BIN")
PKG_USER=tvpkg$$
PKG_INSTALLED=0
PKG_SEEDED=0

# Whatever still runs as the throwaway user was started by this test.
end_user_processes() {
    local pid
    for pid in $(pgrep -u "$PKG_USER"); do kill -TERM "$pid" 2>/dev/null; done
    for pid in $(pgrep -u "$PKG_USER"); do tv_wait_gone 5 "$pid" || kill -KILL "$pid" 2>/dev/null; done
}

pkg_cleanup() {
    net_cleanup
    if [ "$PKG_INSTALLED" = 1 ]; then
        DEBIAN_FRONTEND=noninteractive dpkg --purge tavinor >"$TV_ARTIFACTS/cleanup-purge.log" 2>&1
    fi
    if [ "$PKG_SEEDED" = 1 ]; then echo PURGE | debconf-communicate tavinor >/dev/null 2>&1; fi
    if getent passwd "$PKG_USER" >/dev/null; then
        end_user_processes
        find /dev/shm -maxdepth 1 -user "$PKG_USER" -delete 2>/dev/null
        userdel "$PKG_USER" 2>/dev/null
    fi
}
trap pkg_cleanup EXIT

net_require_root
dpkg-query -W -f='${Status}' tavinor 2>/dev/null | grep -q installed && tv_bail "tavinor is installed on this machine already"
getent passwd tavinor >/dev/null && tv_bail "a user tavinor exists on this machine already"

# --- build and lint --------------------------------------------------------------------------------------
cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$TV_ARTIFACTS/pkg" >"$TV_ARTIFACTS/cpack.log" 2>&1 ||
    tv_bail "cpack failed"
DEB=$(ls "$TV_ARTIFACTS"/pkg/tavinor_*.deb 2>/dev/null | head -1)
[ -f "$DEB" ] || tv_bail "no package built"
tv_check "lintian finds no error" sh -c 'lintian --fail-on error "$1" >"$2" 2>&1' _ "$DEB" "$TV_ARTIFACTS/lintian.txt"
echo "# lintian: $(grep -c '^W:' "$TV_ARTIFACTS/lintian.txt") warnings (see $TV_ARTIFACTS/lintian.txt)"

# Whatever the package needs must be here already, so that the purge leaves exactly what was there.
if apt-get -s -o Debug::NoLocking=1 install --no-install-recommends "$DEB" 2>/dev/null | grep '^Inst ' | grep -vq '^Inst tavinor '; then
    tv_bail "the package would pull in more packages (run tools/deps.sh test)"
fi
passwd_before=$(getent passwd | sort)
group_before=$(getent group | sort)

# --- preseeded installation -------------------------------------------------------------------------------
net_setup
net_add_pc s 1
net_add_pc b 2
net_add_pc c 3
SRV_IP=$NET_PREFIX.1
PKG_SEEDED=1
debconf-set-selections <<SEED || tv_bail "preseed"
tavinor tavinor/role select station
tavinor tavinor/server string $SRV_IP
tavinor tavinor/station_name string Behandlung 2
tavinor tavinor/usb_button boolean false
tavinor tavinor/visual boolean true
tavinor tavinor/acoustic boolean false
SEED
PKG_INSTALLED=1
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "$DEB" \
    >"$TV_ARTIFACTS/install.log" 2>&1 || tv_bail "installation failed"

missing=$(dpkg -L tavinor | while read -r f; do [ -e "$f" ] || [ -L "$f" ] || echo "$f"; done)
tv_check "every file of the package is in place" test -z "$missing"
for f in /opt/tavinor/tavinor /opt/tavinor/Server/tavinor /opt/tavinor/libtvkbhk.so /opt/tavinor/libiowkit.so \
    /lib/systemd/system/tavinor-server.service /lib/udev/rules.d/70-tavinor-iowarrior.rules \
    /etc/xdg/autostart/tavinor.desktop /usr/share/applications/tavinor.desktop \
    /usr/share/icons/hicolor/48x48/apps/tavinor.png /usr/share/icons/hicolor/scalable/apps/tavinor.svg; do
    [ -e "$f" ] || tv_not_ok "missing: $f"
done
tv_check "the contact file is a conffile" sh -c "dpkg-query -W -f='\${Conffiles}' tavinor | grep -q /etc/tavinor/kontakte.ini"
INI=/var/lib/tavinor/station/tavinor.ini
for kv in "Server=0" "Servername=$SRV_IP" "Stationname=Behandlung 2" "Visuell=1" "Akustisch=0" "CheckBuzzer=0" "Init=1"; do
    tv_check "preseed wrote $kv" grep -q "^$kv"$'\r'"\$" "$INI"
done
tv_check "the service's user owns its log folder, root its settings" test "$(stat -c %U /var/lib/tavinor/server/Log):$(stat -c %U /var/lib/tavinor/server/tavinor.ini)" = tavinor:root
tv_check "the udev rule gives the seat's user the three IO-Warrior products only" \
    grep -q 'ATTRS{idVendor}=="07c0", ATTRS{idProduct}=="1500|1501|1503", TAG+="uaccess"' /lib/udev/rules.d/70-tavinor-iowarrior.rules

# --- the relay service, as systemd would start it ----------------------------------------------------------
unit=/lib/systemd/system/tavinor-server.service
svc_cmd=$(sed -n 's/^ExecStart=//p' "$unit")
svc_user=$(sed -n 's/^User=//p' "$unit")
[ -n "$svc_cmd" ] && [ "$svc_user" = tavinor ] || tv_bail "unit without ExecStart or User"
# shellcheck disable=SC2086
ip netns exec "$(net_ns s)" setpriv --reuid="$svc_user" --regid="$svc_user" --init-groups -- \
    env -i HOME=/var/lib/tavinor/server PATH=/usr/bin:/bin $svc_cmd >"$TV_ARTIFACTS/service.out" 2>"$TV_ARTIFACTS/service.err" &
SVC_PID=$!
tv_track "$SVC_PID"
tv_wait_for 20 net_listening s 10161 || tv_bail "the service does not listen on 10161"
tv_check "the service names its address in the journal" grep -q "Adresse dieses Servers: $SRV_IP" "$TV_ARTIFACTS/service.err"

# A fake station C sees what the server relays.
net_start_peer c station --server "$SRV_IP" --bind "$NET_PREFIX.3" --name "Fake C" --vis 1 --ak 0
CLOG=$(net_peer_log c)
tv_wait_file_contains 10 "$CLOG" "DOWN" || tv_bail "the service opened no downlink to fake station C"

# --- the station of an ordinary user, from its autostart entry --------------------------------------------
useradd --no-create-home --shell /usr/sbin/nologin "$PKG_USER" || tv_bail "cannot create a user"
chmod 711 "$TV_ROOT"
HOME_DIR=$TV_ROOT/home
RUN_DIR=$TV_ROOT/run-user
mkdir -p "$HOME_DIR" "$RUN_DIR"
chown "$PKG_USER:" "$HOME_DIR" "$RUN_DIR"
chmod 700 "$RUN_DIR"
# A hook record another run left for a display would keep the station's key from starting: use a display
# without one.
for _ in 1 2 3 4 5; do
    net_start_wm
    [ -e "/dev/shm/tavinor_shared_mem$TV_DISPLAY" ] || break
done
# as_user COMMAND...: in B's namespace, as the ordinary user, in a desktop session's environment. Always called
# in a subshell (background or $(...)), which it replaces: $! is the program's own pid.
as_user() {
    exec ip netns exec "$(net_ns b)" setpriv --reuid="$PKG_USER" --regid="$PKG_USER" --init-groups -- \
        env -i HOME="$HOME_DIR" XDG_RUNTIME_DIR="$RUN_DIR" DISPLAY="$TV_DISPLAY" PATH=/usr/bin:/bin \
        DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/tavinor-test-bus PULSE_SERVER=unix:/nonexistent/tavinor-test-pulse "$@"
}
st_cmd=$(sed -n 's/^Exec=//p' /etc/xdg/autostart/tavinor.desktop)
out=$(as_user $st_cmd --alarm 2>&1)
rc=$?
tv_check "--alarm without a running program fails with one line" test "$rc" -ne 0 -a "$(printf '%s\n' "$out" | wc -l)" -eq 1
# shellcheck disable=SC2086
as_user $st_cmd >"$TV_ARTIFACTS/station.out" 2>"$TV_ARTIFACTS/station.err" &
ST_PID=$!
tv_track "$ST_PID"
SLOG=/var/lib/tavinor/station/Log/log.csv
tv_check "the station registers with the service" tv_wait_file_contains 20 "$SLOG" "$SRV_IP;002:Connect Response"
tv_check "the station's log is written by the ordinary user" test "$(stat -c %U "$SLOG")" = "$PKG_USER"
tv_check "the configured station shows no first-start dialog" tv_lacks_window "$ST_PID" "Einstellungen"

# --- tavinor --alarm, relayed by the service ----------------------------------------------------------------
out=$(as_user tavinor --alarm 2>&1)
tv_check "tavinor --alarm from the path is accepted by the running station ($out)" test -z "$out"
tv_check "the service relays the station's alarm to C" \
    tv_wait_file_contains 10 "$CLOG" "RECV 005: $NET_PREFIX.2|001: |Behandlung 2|1|0|$NET_PREFIX.2"
tv_check "the service logs the alarm under the station's name" \
    tv_wait_file_contains 5 /var/lib/tavinor/server/Log/log.csv "$NET_PREFIX.2 (Behandlung 2);004:"

# --- orderly end on SIGTERM -----------------------------------------------------------------------------------
kill -TERM "$ST_PID"
tv_check "SIGTERM: the station writes its end line" tv_wait_file_contains 10 "$SLOG" "Client beendet"
kill -TERM "$SVC_PID"
tv_check "SIGTERM: the service writes its end line" tv_wait_file_contains 10 /var/lib/tavinor/server/Log/log.csv "Server beendet"
cp "$SLOG" "$TV_ARTIFACTS/station-log.csv"
cp /var/lib/tavinor/server/Log/log.csv "$TV_ARTIFACTS/server-log.csv"
tv_check "both have ended" tv_wait_for 10 sh -c "! kill -0 $ST_PID 2>/dev/null && ! kill -0 $SVC_PID 2>/dev/null"

# --- purge ---------------------------------------------------------------------------------------------------
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 purge -y -q tavinor >"$TV_ARTIFACTS/purge.log" 2>&1 &&
    PKG_INSTALLED=0
tv_check "purge succeeds" test "$PKG_INSTALLED" = 0
left=$(ls -d /opt/tavinor /var/lib/tavinor /etc/tavinor /etc/xdg/autostart/tavinor.desktop /lib/systemd/system/tavinor-server.service \
    /lib/udev/rules.d/70-tavinor-iowarrior.rules /usr/bin/tavinor 2>/dev/null)
tv_check "purge removes every file ($left)" test -z "$left"
tv_check "purge removes the debconf answers" sh -c "! echo 'GET tavinor/server' | debconf-communicate tavinor >/dev/null 2>&1"
PKG_SEEDED=0
end_user_processes
tv_check "the station leaves no shared memory behind" test -z "$(find /dev/shm -maxdepth 1 -user "$PKG_USER")"
userdel "$PKG_USER"
tv_check "purge removes the service's user and group" test "$(getent passwd | sort)" = "$passwd_before" -a "$(getent group | sort)" = "$group_before"
tv_finish
