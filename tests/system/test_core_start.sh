# Start, single-instance refusal, tray icon, main window and the orderly end, for a station and for the
# server, each in a fresh installation on a private X display with openbox and trayer. The station's folder is
# named outside Windows-1252 and it runs under the C locale.
# Usage: bash test_core_start.sh <path-to-build/bin>

source "$(dirname "$0")/lib.sh"

[ -x "$TV_BIN/tavinor" ] || tv_bail "no program at $TV_BIN/tavinor"

# The last line of the log ends in "text" CR LF.
log_has_line() { [ -f "$1" ] && grep -q -- "$2"$'\r$' "$1"; }
main_of() { tv_windows_of "$1" --all --name "^$caption\$" | head -n1; }
has_main() { [ -n "$(main_of "$1")" ]; }
lacks_main() { ! has_main "$1"; }

# scenario client|server (the station under the C locale, in a folder named outside Windows-1252)
scenario() {
    MODE=$1
    local word=Client server=0 name="Łódź-Дом" folder pid pid2 box ups=1
    # The server's menu ends with "Status-Monitor" below "Beenden".
    [ "$MODE" = server ] && word=Server server=1 name=server ups=2
    caption="tavinor $word"
    folder=$(tv_install "$name") || tv_bail "$MODE: cannot make an installation"
    # No emergency button here: without CheckBuzzer=0 its warning, also titled tavinor, would stand beside the question.
    printf '[General]\r\nServer=%s\r\nInit=1\r\nCheckBuzzer=0\r\n' "$server" >"$folder/tavinor.ini"
    local log=$folder/Log/log.csv

    tv_start_program "$folder" "$MODE-first"
    pid=$TV_LAST_PID
    echo "# $MODE: installation $folder, pid $pid"

    # --- start ---
    tv_check "$MODE: folders Log and Tmp appear" tv_wait_for 15 test -d "$folder/Log" -a -d "$folder/Tmp"
    tv_check "$MODE: log gets a line ending in ;$word gestartet" tv_wait_for 15 log_has_line "$log" ";$word gestartet"
    if [ "$MODE" = server ]; then
        tv_check "$MODE: tavinor.ini gets Logfile=$folder/Log/log.csv" \
            tv_file_contains "$folder/tavinor.ini" "Logfile=$folder/Log/log.csv"
    else
        # The settings file cannot name this folder: the log goes where the default says, with a numeric date.
        tv_check "$MODE: no mangled path in the settings file" tv_file_lacks "$folder/tavinor.ini" "?"
        tv_check "$MODE: the date is numeric under LANG=C" grep -qE '^[0-9]{2}\.[0-9]{2}\.[0-9]{4};' "$log"
    fi
    tv_alive "$pid" || tv_bail "$MODE: the program ended on its own (see $TV_ARTIFACTS/$MODE-first.err)"
    tv_wait_for 20 tv_icon_embedded "$pid" || tv_bail "$MODE: no tray icon of pid $pid inside trayer"
    tv_ok "$MODE: tray icon embedded in trayer"
    sleep 0.5
    tv_check "$MODE: the main window stays hidden after the start" lacks_main "$pid"

    # --- a second copy in the same folder is refused ---
    tv_start_program "$folder" "$MODE-second"
    pid2=$TV_LAST_PID
    tv_wait_for 15 has_box "$pid2" || tv_bail "$MODE: second copy shows no box (see $TV_ARTIFACTS/$MODE-second.err)"
    tv_check "$MODE: second copy says Programm bereits gestartet! on stderr" \
        tv_file_contains "$TV_ARTIFACTS/$MODE-second.err" "Programm bereits gestartet!"
    tv_focus "$(boxes_of "$pid2" | head -n1)"
    tv_xdo key --clearmodifiers Return >/dev/null 2>&1
    tv_check "$MODE: second copy ends after its box is confirmed" tv_wait_gone 10 "$pid2"
    tv_check "$MODE: the first copy runs on" tv_alive "$pid"

    # --- a double click shows the main window ---
    tv_click_icon "$pid" 1 2
    tv_check "$MODE: double click on the tray icon shows the window \"$caption\"" tv_wait_for 10 has_main "$pid"
    sleep 0.3

    # --- Beenden, answered Nein, then Ja (the main window's button asks the same: tst_frmmain) ---
    box=$(end_question_at "$pid" "$ups") || tv_bail "$MODE: tray menu entry Beenden brings up no question titled tavinor"
    tv_ok "$MODE: tray menu entry Beenden asks"
    sleep 0.3
    tv_focus "$box"
    tv_xdo key --clearmodifiers Return >/dev/null 2>&1 # "Nein" has the focus
    tv_check "$MODE: the question closes on Return" tv_wait_for 10 lacks_box "$pid"
    sleep 1
    tv_check "$MODE: after Nein the program runs on" tv_alive "$pid"
    box=$(end_question_at "$pid" "$ups") || tv_bail "$MODE: after Nein the tray menu asks no more"
    sleep 0.3
    tv_focus "$box"
    # From "Nein" one step back to "Ja", then press it.
    tv_xdo key --clearmodifiers shift+Tab >/dev/null 2>&1
    sleep 0.2
    tv_xdo key --clearmodifiers space >/dev/null 2>&1
    tv_check "$MODE: after Ja the log ends in ;$word beendet" tv_wait_for 10 log_has_line "$log" ";$word beendet"
    tv_check "$MODE: after Ja the program ends" tv_wait_gone 10 "$pid"
    # Nothing from the second copy, nothing after Nein.
    tv_check "$MODE: the log holds exactly a start and an end line" test "$(grep -c . "$log")" -eq 2
    tv_alive "$pid" && kill "$pid" 2>/dev/null
    return 0
}

tv_start_desktop
LC_ALL=C scenario client
scenario server
tv_finish
