# Start, single-instance refusal, tray icon, main window and the orderly end, for a station and for the
# server, each in a fresh installation on a private X display with openbox and trayer. Then a station in a
# folder named outside Windows-1252 under the C locale (its log, numeric dates), and a station
# whose icon goes to a StatusNotifierItem host on a session bus.
# Usage: bash test_core_start.sh <path-to-build/bin>

source "$(dirname "$0")/lib.sh"

[ -x "$TV_BIN/tavinor" ] || tv_bail "no program at $TV_BIN/tavinor"

# The last line of the log ends in "text" CR LF.
log_has_line() { [ -f "$1" ] && grep -q -- "$2"$'\r$' "$1"; }
log_lacks() { ! grep -q -- "$2" "$1" 2>/dev/null; }

# The visible top-level window of `pid` whose title is exactly `title` (decimal id), empty when none.
window_titled() {
    tv_xdo search --all --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null | head -n1
}
has_window_titled() { [ -n "$(window_titled "$@")" ]; }
lacks_window_titled() { [ -z "$(window_titled "$@")" ]; }

# The open popup menu of `pid` (decimal id), empty when none: a visible override-redirect window that is
# not the tray icon (Qt does not always mark its menus with the popup-menu window type).
popup_menu_of() {
    local w icon
    icon=$(tv_embedded_icon "$1")
    for w in $(tv_windows_of "$1"); do
        [ "$w" = "$icon" ] && continue
        if tv_x xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes'; then
            echo "$w"
            return 0
        fi
    done
    return 1
}
has_popup_menu() { [ -n "$(popup_menu_of "$1")" ]; }

click_icon() { # pid button repeat
    local icon xy
    icon=$(tv_embedded_icon "$1") || return 1
    xy=$(tv_window_centre "$icon") || return 1
    # No --sync: it waits for a motion that never comes when the pointer is already there.
    # shellcheck disable=SC2086
    tv_xdo mousemove $xy >/dev/null 2>&1
    sleep 0.2
    tv_xdo click --repeat "$3" --delay 120 "$2"
}

# "Beenden" from the tray menu, the way a person does it: right click on the icon, the last entry.
ask_via_tray() {
    local pid=$1 menu geo
    click_icon "$pid" 3 1 >/dev/null 2>&1
    tv_wait_for 5 has_popup_menu "$pid" || return 1
    menu=$(popup_menu_of "$pid")
    # Up from no selection lands on the last entry; the server's menu ends with "Status-Monitor" below it.
    tv_xdo key --clearmodifiers Up >/dev/null 2>&1
    [ "$MODE" = server ] && tv_xdo key --clearmodifiers Up >/dev/null 2>&1
    sleep 0.2
    tv_xdo key --clearmodifiers Return >/dev/null 2>&1
    tv_wait_for 5 has_window_titled "$pid" tavinor && return 0
    # The keys went elsewhere: click the bottom entry of the menu instead.
    if [ -n "$(popup_menu_of "$pid")" ]; then
        geo=$(tv_x xwininfo -id "$menu" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
            /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF} END {printf "%d %d", x + w / 2, y + h - 12}')
        # On the server "Beenden" is the last entry but one (below it the monitor's entry, about 24 px high).
        [ "$MODE" = server ] && geo="${geo% *} $((${geo#* } - 24))"
        # shellcheck disable=SC2086
        tv_xdo mousemove $geo click 1 >/dev/null 2>&1
        tv_wait_for 5 has_window_titled "$pid" tavinor && return 0
        tv_xdo key Escape >/dev/null 2>&1
    fi
    return 1
}

# The main window's button "Beenden" (cmdCancel): the right one of the two buttons in the bottom row, whose
# height the 48-pixel picture beside them sets.
ask_via_button() {
    local pid=$1 caption=$2 main geo
    main=$(window_titled "$pid" "$caption")
    if [ -z "$main" ]; then
        click_icon "$pid" 1 2 >/dev/null 2>&1
        tv_wait_for 5 has_window_titled "$pid" "$caption" || return 1
        main=$(window_titled "$pid" "$caption")
    fi
    tv_focus "$main"
    geo=$(tv_x xwininfo -id "$main" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
        /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF} END {printf "%d %d", x + w - 52, y + h - 35}')
    # shellcheck disable=SC2086
    tv_xdo mousemove $geo >/dev/null 2>&1
    sleep 0.2
    tv_xdo click 1 >/dev/null 2>&1
    tv_wait_for 5 has_window_titled "$pid" tavinor
}

# scenario client|server
scenario() {
    MODE=$1
    local word caption folder pid pid2 box icon main
    if [ "$MODE" = server ]; then word=Server; else word=Client; fi
    caption="tavinor $word"

    folder=$(tv_install "$MODE") || tv_bail "$MODE: cannot make an installation"
    if [ "$MODE" = server ]; then
        printf '[General]\r\nServer=1\r\nInit=1\r\n' >"$folder/tavinor.ini"
    else
        # No emergency button here: without CheckBuzzer=0 its warning, also titled tavinor, would stand beside the question.
        printf '[General]\r\nInit=1\r\nCheckBuzzer=0\r\n' >"$folder/tavinor.ini"
    fi
    local log=$folder/Log/log.csv

    tv_start_program "$folder" "$MODE-first"
    pid=$TV_LAST_PID
    echo "# $MODE: installation $folder, pid $pid"

    # --- start ---
    tv_check "$MODE: folders Log and Tmp appear" tv_wait_for 15 test -d "$folder/Log" -a -d "$folder/Tmp"
    tv_check "$MODE: tavinor.ini gets Logfile=$folder/Log/log.csv" \
        tv_wait_file_contains 15 "$folder/tavinor.ini" "Logfile=$folder/Log/log.csv"
    tv_check "$MODE: log gets a line ending in ;$word gestartet" tv_wait_for 15 log_has_line "$log" ";$word gestartet"
    tv_alive "$pid" || tv_bail "$MODE: the program ended on its own (see $TV_ARTIFACTS/$MODE-first.err)"

    if tv_wait_for 20 tv_icon_embedded "$pid"; then
        icon=$(tv_embedded_icon "$pid")
        tv_ok "$MODE: tray icon embedded in trayer (window $icon)"
    else
        tv_bail "$MODE: no tray icon of pid $pid inside trayer"
    fi
    sleep 0.5
    tv_check "$MODE: the main window stays hidden after the start" lacks_window_titled "$pid" "$caption"

    # --- a second copy in the same folder is refused ---
    tv_start_program "$folder" "$MODE-second"
    pid2=$TV_LAST_PID
    if tv_wait_for 15 has_window_titled "$pid2" tavinor; then
        box=$(window_titled "$pid2" tavinor)
        tv_ok "$MODE: second copy shows a box titled tavinor"
        tv_check "$MODE: second copy says Programm bereits gestartet! on stderr" \
            tv_file_contains "$TV_ARTIFACTS/$MODE-second.err" "Programm bereits gestartet!"
        tv_focus "$box"
        tv_xdo key --clearmodifiers Return >/dev/null 2>&1
        tv_check "$MODE: second copy ends after its box is confirmed" tv_wait_gone 10 "$pid2"
    else
        tv_not_ok "$MODE: second copy shows no box (pid $pid2 alive: $(tv_alive "$pid2" && echo yes || echo no))"
    fi
    tv_check "$MODE: the first copy runs on" tv_alive "$pid"
    tv_check "$MODE: the second copy wrote no line" test "$(grep -c gestartet "$log")" -eq 1

    # --- a single left click does nothing on this (XEmbed) host; a double click shows the main window ---
    click_icon "$pid" 1 1 >/dev/null 2>&1
    sleep 1
    tv_check "$MODE: a single click on the tray icon shows nothing" lacks_window_titled "$pid" "$caption"
    click_icon "$pid" 1 2 >/dev/null 2>&1
    if tv_wait_for 10 has_window_titled "$pid" "$caption"; then
        main=$(window_titled "$pid" "$caption")
        tv_ok "$MODE: double click on the tray icon shows the window \"$caption\""
        sleep 0.3
    else
        tv_not_ok "$MODE: double click on the tray icon shows no window \"$caption\""
    fi

    # --- the title-bar close asks; Nein keeps the station on guard ---
    if [ "$MODE" = client ] && [ -n "$main" ]; then
        tv_focus "$main"
        tv_xdo key --clearmodifiers alt+F4 >/dev/null 2>&1
        if tv_wait_for 5 has_window_titled "$pid" tavinor; then
            tv_ok "$MODE: the title-bar close asks"
            tv_focus "$(window_titled "$pid" tavinor)"
            tv_xdo key --clearmodifiers Return >/dev/null 2>&1 # "Nein"
            tv_wait_for 5 lacks_window_titled "$pid" tavinor
        else
            tv_not_ok "$MODE: the title-bar close asks nothing"
        fi
        sleep 1
        tv_check "$MODE: after the title-bar close the program runs on" tv_alive "$pid"
        tv_check "$MODE: ... and logged no end" log_lacks "$log" "beendet"
    fi

    # --- Beenden, answered Nein ---
    ask_via_tray "$pid" || tv_bail "$MODE: tray menu entry Beenden brings up no question titled tavinor"
    tv_ok "$MODE: tray menu entry Beenden asks"
    box=$(window_titled "$pid" tavinor)
    sleep 0.3
    tv_focus "$box"
    tv_xdo key --clearmodifiers Return >/dev/null 2>&1 # "Nein" has the focus
    tv_check "$MODE: the question closes on Return" tv_wait_for 10 lacks_window_titled "$pid" tavinor
    sleep 1
    tv_check "$MODE: after Nein the program runs on" tv_alive "$pid"
    tv_check "$MODE: after Nein no beendet line" log_lacks "$log" "beendet"
    tv_check "$MODE: after Nein the tray icon stays" tv_icon_embedded "$pid"
    # --- Beenden, answered Ja ---
    ask_via_button "$pid" "$caption" || tv_bail "$MODE: the main window's button Beenden brings up no question"
    tv_ok "$MODE: the main window's button Beenden asks"
    box=$(window_titled "$pid" tavinor)
    sleep 0.3
    tv_focus "$box"
    # From "Nein" one step back to "Ja", then press it.
    tv_xdo key --clearmodifiers shift+Tab >/dev/null 2>&1
    sleep 0.2
    tv_xdo key --clearmodifiers space >/dev/null 2>&1
    tv_check "$MODE: after Ja the log ends in ;$word beendet" tv_wait_for 10 log_has_line "$log" ";$word beendet"
    tv_check "$MODE: after Ja the program ends" tv_wait_gone 10 "$pid"
    tv_check "$MODE: the log holds exactly a start and an end line" test "$(grep -c . "$log")" -eq 2
    tv_alive "$pid" && kill "$pid" 2>/dev/null
    return 0
}

# An installation below "Łódź" and Cyrillic letters, under the C locale: the log is written where the
# default says (the settings file cannot name that folder), with a numeric date.
unicode_scenario() {
    local folder log
    folder=$(tv_mktemp "Łódź-Дом") && cp -a "$TV_BIN/." "$folder/" || tv_bail "unicode: cannot make an installation"
    printf '[General]\r\nInit=1\r\nCheckBuzzer=0\r\n' >"$folder/tavinor.ini"
    log=$folder/Log/log.csv
    export LC_ALL=C
    tv_start_program "$folder" unicode
    unset LC_ALL
    tv_check "unicode: the start is logged in $folder" tv_wait_for 15 log_has_line "$log" ";Client gestartet"
    tv_check "unicode: the date is numeric under LANG=C ($(head -c 10 "$log" 2>/dev/null))" \
        grep -qE '^[0-9]{2}\.[0-9]{2}\.[0-9]{4};' "$log"
    tv_check "unicode: no mangled path in the settings file" tv_file_lacks "$folder/tavinor.ini" "?"
}

# A StatusNotifierItem host: a session bus with a watcher and a registered host. The icon registers as an
# item; the host's calls for a left click (Activate) and a right click (ContextMenu) show the main window
# and the menu.
sni_scenario() {
    local folder pid bus item service path
    bus=$TV_ROOT/session-bus
    dbus-daemon --session --nofork --address="unix:path=$bus" >"$TV_ARTIFACTS/dbus.log" 2>&1 &
    tv_track $!
    tv_wait_for 10 test -S "$bus" || tv_bail "sni: no session bus"
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$bus
    status-notifier-watcher >"$TV_ARTIFACTS/watcher.log" 2>&1 &
    tv_track $!
    watcher() { timeout 5 gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher "$@"; }
    tv_wait_for 10 watcher --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        ProtocolVersion >/dev/null 2>&1 || tv_bail "sni: no StatusNotifierWatcher"
    watcher --method org.kde.StatusNotifierWatcher.RegisterStatusNotifierHost org.kde.StatusNotifierHost-tavinor-test \
        >/dev/null || tv_bail "sni: the host does not register"
    items() { watcher --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems 2>/dev/null | grep -oE "'[^']+'" | tr -d "'" | head -n1; }
    has_item() { [ -n "$(items)" ]; }

    folder=$(tv_install sni) || tv_bail "sni: cannot make an installation"
    printf '[General]\r\nInit=1\r\nCheckBuzzer=0\r\n' >"$folder/tavinor.ini"
    TV_DBUS=$DBUS_SESSION_BUS_ADDRESS tv_start_program "$folder" sni
    pid=$TV_LAST_PID
    tv_check "sni: the icon registers as a StatusNotifierItem" tv_wait_for 15 has_item
    item=$(items)
    service=${item%%/*}
    path=/StatusNotifierItem
    [ "$service" != "$item" ] && path=/${item#*/}
    call() { timeout 5 gdbus call --session --dest "$service" --object-path "$path" \
        --method "org.kde.StatusNotifierItem.$1" 640 790 >/dev/null 2>&1; }
    call Activate
    tv_check "sni: a left click (Activate) shows the main window" tv_wait_for 10 has_window_titled "$pid" "tavinor Client"
    call ContextMenu
    tv_check "sni: a right click (ContextMenu) opens the menu" tv_wait_for 10 has_popup_menu "$pid"
    tv_xdo key Escape >/dev/null 2>&1
    unset DBUS_SESSION_BUS_ADDRESS
}

tv_start_desktop
scenario client
scenario server
unicode_scenario
sni_scenario
tv_finish
