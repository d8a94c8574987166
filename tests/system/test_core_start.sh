# Start, single-instance refusal, tray icon, main window and the orderly end, for a station and for the
# server, each in a fresh installation on a private X display with openbox and trayer. Then a station in a
# folder named outside Windows-1252 under the C locale.
# Usage: bash test_core_start.sh <path-to-build/bin>

source "$(dirname "$0")/lib.sh"

[ -x "$TV_BIN/tavinor" ] || tv_bail "no program at $TV_BIN/tavinor"

# The last line of the log ends in "text" CR LF.
log_has_line() { [ -f "$1" ] && grep -q -- "$2"$'\r$' "$1"; }
log_lacks() { ! grep -q -- "$2" "$1" 2>/dev/null; }
main_of() { tv_windows_of "$1" --all --name "^$caption\$" | head -n1; }
has_main() { [ -n "$(main_of "$1")" ]; }
lacks_main() { ! has_main "$1"; }

# The main window's button "Beenden" (cmdCancel): the right one of the two buttons in the bottom row, whose
# height the 48-pixel picture beside them sets.
ask_via_button() {
    local main geo
    has_main "$1" || { tv_click_icon "$1" 1 2 && tv_wait_for 5 has_main "$1"; } || return 1
    main=$(main_of "$1")
    tv_focus "$main"
    geo=$(tv_x xwininfo -id "$main" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
        /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF} END {printf "%d %d", x + w - 52, y + h - 35}')
    # shellcheck disable=SC2086
    tv_xdo mousemove $geo >/dev/null 2>&1
    sleep 0.2
    tv_xdo click 1 >/dev/null 2>&1
    tv_wait_for 5 has_box "$1" && boxes_of "$1" | head -n1
}

# scenario client|server
scenario() {
    MODE=$1
    local word folder pid pid2 box ups=1
    if [ "$MODE" = server ]; then word=Server; else word=Client; fi
    caption="tavinor $word"

    folder=$(tv_install "$MODE") || tv_bail "$MODE: cannot make an installation"
    if [ "$MODE" = server ]; then
        printf '[General]\r\nServer=1\r\nInit=1\r\n' >"$folder/tavinor.ini"
        ups=2 # the server's menu ends with "Status-Monitor" below "Beenden"
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
    tv_wait_for 20 tv_icon_embedded "$pid" || tv_bail "$MODE: no tray icon of pid $pid inside trayer"
    tv_ok "$MODE: tray icon embedded in trayer"
    sleep 0.5
    tv_check "$MODE: the main window stays hidden after the start" lacks_main "$pid"

    # --- a second copy in the same folder is refused ---
    tv_start_program "$folder" "$MODE-second"
    pid2=$TV_LAST_PID
    if tv_wait_for 15 has_box "$pid2"; then
        tv_ok "$MODE: second copy shows a box titled tavinor"
        tv_check "$MODE: second copy says Programm bereits gestartet! on stderr" \
            tv_file_contains "$TV_ARTIFACTS/$MODE-second.err" "Programm bereits gestartet!"
        tv_focus "$(boxes_of "$pid2" | head -n1)"
        tv_xdo key --clearmodifiers Return >/dev/null 2>&1
        tv_check "$MODE: second copy ends after its box is confirmed" tv_wait_gone 10 "$pid2"
    else
        tv_not_ok "$MODE: second copy shows no box (pid $pid2 alive: $(tv_alive "$pid2" && echo yes || echo no))"
    fi
    tv_check "$MODE: the first copy runs on" tv_alive "$pid"
    tv_check "$MODE: the second copy wrote no line" test "$(grep -c gestartet "$log")" -eq 1

    # --- a double click shows the main window ---
    tv_click_icon "$pid" 1 2
    tv_check "$MODE: double click on the tray icon shows the window \"$caption\"" tv_wait_for 10 has_main "$pid"
    sleep 0.3

    # --- Beenden, answered Nein ---
    box=$(end_question_at "$pid" "$ups") || tv_bail "$MODE: tray menu entry Beenden brings up no question titled tavinor"
    tv_ok "$MODE: tray menu entry Beenden asks"
    sleep 0.3
    tv_focus "$box"
    tv_xdo key --clearmodifiers Return >/dev/null 2>&1 # "Nein" has the focus
    tv_check "$MODE: the question closes on Return" tv_wait_for 10 lacks_box "$pid"
    sleep 1
    tv_check "$MODE: after Nein the program runs on" tv_alive "$pid"
    tv_check "$MODE: after Nein no beendet line" log_lacks "$log" "beendet"
    tv_check "$MODE: after Nein the tray icon stays" tv_icon_embedded "$pid"
    # --- Beenden, answered Ja ---
    box=$(ask_via_button "$pid") || tv_bail "$MODE: the main window's button Beenden brings up no question"
    tv_ok "$MODE: the main window's button Beenden asks"
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
    folder=$(tv_install "Łódź-Дом") || tv_bail "unicode: cannot make an installation"
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

tv_start_desktop
scenario client
scenario server
unicode_scenario
tv_finish
