# End-to-end tests of the Connect dialog, the Choose Instrument dialog and the
# comms log switch, sourced by run-e2e.sh (with helpers.sh). Instruments are
# parlex2-sim processes on loopback addresses, on a pseudo-terminal mapped as
# a COM port, and, for the LAN search, inside a pair of network namespaces
# with a wineserver of their own.

cd_answer="dialog=Test Connection"
cd_idn="Veltmark,VXM66,10472,2.15"

# Waits for the message box captioned CAPTION, checks it is owned by the
# Connect dialog and says TEXT, and answers it with OK.
cd_expect_message() {  # CAPTION TEXT WHAT
  drive wait "dialog=$1" >/dev/null || { fail "$3: no \"$1\" message"; return 1; }
  expect_eq "$(drive text "dialog=$1" 65535)" "$2" "$3"
  expect_eq "$(drive owner "dialog=$1")" "#32770 Connect" "$3: owner of the message"
  press_to_close "dialog=$1" 1 "$3: OK"
}

cd_visible() { cd_state "$connect_dialog" "$1" | cut -d' ' -f1; }
# "VISIBLE ENABLED" (1 or 0 each) of control ID, from the driver's
# "enabled|disabled visible|hidden X Y W H".
cd_state() {  # WINDOW ID
  local s
  s=$(drive state "$1" "$2") || return 1
  case "$s" in
    enabled\ visible*) echo "1 1" ;;
    disabled\ visible*) echo "1 0" ;;
    enabled\ hidden*) echo "0 1" ;;
    disabled\ hidden*) echo "0 0" ;;
    *) echo "? $s" ;;
  esac
}

# After the dialog's Connect the main window carries on: title, controls.
cd_expect_connected() {  # TITLE-SUFFIX
  wait_for "title after Connect: Parlex2 v1_4     $1" title_is "Parlex2 v1_4     $1"
  expect_eq "$(drive state "$main" 18002 | cut -d' ' -f1)" enabled "command box after Connect"
}

cd_ini_value() { sed -n "s/^$1=\(.*\)\r$/\1/p" "$ini"; }

# ---- tests -----------------------------------------------------------------

test_connect_dialog_at_start_switches_its_form_and_cancel_changes_nothing() {
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025'
  start_at_connect_dialog || return
  expect_eq "$(drive items "$connect_dialog" 113 | tr '\n' '|')" " USB| LAN| Serial" "interfaces, none chosen"
  expect_eq "$(drive items "$connect_dialog" 115 | tr '\n' '|')" " 1200| 2400| 4800| 9600| 19200| 38400" \
    "baud rates, none chosen"
  expect_eq "$(cd_state "$connect_dialog" 116)" "1 1" "Test shown"
  expect_eq "$(cd_state "$connect_dialog" 117) $(cd_state "$connect_dialog" 1006)" "0 1 0 1" \
    "address and search hidden"

  ok "pick LAN" drive pick "$connect_dialog" 113 LAN
  sleep 0.2
  expect_eq "$(cd_state "$connect_dialog" 117) $(cd_state "$connect_dialog" 1006)" "1 1 1 1" \
    "LAN: address and search shown"
  expect_eq "$(cd_visible 114) $(cd_visible 115) $(cd_visible 119)" "0 0 0" "LAN: port and baud hidden"
  expect_eq "$(drive text "$connect_dialog" 118)" "IP Address:" "LAN label"
  screenshot connect-dialog-lan "$connect_dialog"

  ok "pick USB" drive pick "$connect_dialog" 113 USB
  sleep 0.2
  expect_eq "$(cd_state "$connect_dialog" 117) $(cd_state "$connect_dialog" 1006)" "0 1 0 1" \
    "USB: address and search hidden"
  expect_eq "$(cd_state "$connect_dialog" 114)" "1 1" "USB: port list"
  expect_eq "$(cd_state "$connect_dialog" 115) $(cd_state "$connect_dialog" 119)" "1 0 1 0" \
    "USB: baud shown but fixed"
  expect_eq "$(drive text "$connect_dialog" 118)" "COM Port:" "USB label"

  ok "pick Serial" drive pick "$connect_dialog" 113 Serial
  sleep 0.2
  expect_eq "$(cd_state "$connect_dialog" 115) $(cd_state "$connect_dialog" 119)" "1 1 1 1" \
    "Serial: baud chosen"

  # Nothing chosen but the interface: Connect asks for the port.
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_message "Test Connection" "Please select a COM Port" "Connect without a port"
  press_to_close "$connect_dialog" 2 "Cancel"
  expect_eq "$(drive title "$main")" "Parlex2 v1_4" "title after Cancel"
  grep -q '^\[Connect\]' "$ini" && fail "Cancel saved the connection"
  local id
  for id in 18000 18002 18003; do
    expect_eq "$(drive state "$main" $id | cut -d' ' -f1)" disabled "control $id after Cancel"
  done
  # The Instrument items stay grey: only a picture shows a menu of another
  # process under Wine.
  menu_screenshot alt+i menu-instrument-after-cancel
  quit_program
}

test_lan_test_connect_and_save_as_default() {
  sim_start || return
  local sim=$sim_dir refused=127.0.0.$((20 + RANDOM % 200))
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\n[Connect]\nInterface=2\nComPort=\nBaudRate=0\nIPAddr='"$sim_addr"
  start_at_connect_dialog || { sim_stop; return; }
  # The saved connection comes up in the dialog.
  expect_eq "$(drive items "$connect_dialog" 113 | grep '^\*')" "*LAN" "saved interface"
  expect_eq "$(cd_state "$connect_dialog" 117)" "1 1" "address shown"
  expect_eq "$(drive text "$connect_dialog" 117)" "$sim_addr" "saved address"

  ok "blank address" drive address "$connect_dialog" 117 blank
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_message "Test Connection" "Please enter an IP address" "Connect without an address"

  ok "refusing address" drive address "$connect_dialog" 117 "$refused"
  ok "Test" drive press "$connect_dialog" 116
  cd_expect_message "Test Connection" "Failed to connect to IP address $refused" "Test of a refusing address"

  ok "address" drive address "$connect_dialog" 117 "$sim_addr"
  ok "Test" drive press "$connect_dialog" 116
  drive wait "$cd_answer" >/dev/null && screenshot test-connection-message "$cd_answer"
  cd_expect_message "Test Connection" $'The connection was successful\n'"$cd_idn" "Test"
  ok "the dialog stays after Test" drive wait "$connect_dialog"

  ok "Save as Default" drive press "$connect_dialog" 120
  sleep 0.3
  expect_eq "$(cd_ini_value Interface) $(cd_ini_value IPAddr)" "2 $sim_addr" "saved LAN connection"

  # A silent instrument leaves the link open; the next Connect, to another
  # address, must ask the instrument there.
  local ip=$sim_addr
  sim_start --mode silent || { quit_program; sim_stop; return; }
  ok "silent address" drive address "$connect_dialog" 117 "$sim_addr"
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_message "Test Connection" "The connection failed" "Connect to a silent instrument"
  ok "address" drive address "$connect_dialog" 117 "$ip"
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_message "Test Connection" $'The connection was successful\n'"$cd_idn" "Connect"
  ok "Connect closes the dialog" drive gone "$connect_dialog"
  cd_expect_connected "LAN,${cd_idn#*,}"
  quit_program
  sim_stop
  # Test, then Connect: each woke the instrument and identified it.
  local rx
  rx=$(sim_received "$sim")
  expect_eq "$(count_of "$rx" '*IDN?')" 2 "identifications"
  expect_eq "$(count_of "$rx" 'version?')" 2 "version requests"
}

test_com_port_form_connects_through_a_mapped_pty() {
  sim_start_pty COM9 || return
  local sim=$sim_dir
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\n[Connect]\nInterface=3\nComPort=COM9\nBaudRate=9600\nIPAddr='
  start_at_connect_dialog || { end_test; return; }
  drive items "$connect_dialog" 114 | grep -q '^\*COM9$' || fail "COM9 not listed and chosen: $(drive items "$connect_dialog" 114)"
  expect_eq "$(drive items "$connect_dialog" 115 | grep '^\*')" "*9600" "saved rate chosen"
  screenshot connect-dialog-com "$connect_dialog"

  # USB runs at 19200 whatever the list shows.
  ok "pick USB" drive pick "$connect_dialog" 113 USB
  ok "pick 1200" drive pick "$connect_dialog" 115 0
  ok "Save as Default" drive press "$connect_dialog" 120
  sleep 0.3
  expect_eq "$(cd_ini_value Interface) $(cd_ini_value ComPort) $(cd_ini_value BaudRate)" "1 COM9 19200" \
    "saved USB connection"

  ok "pick Serial" drive pick "$connect_dialog" 113 Serial
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_message "Test Connection" $'The connection was successful\n'"$cd_idn" "Connect over COM9"
  ok "Connect closes the dialog" drive gone "$connect_dialog"
  cd_expect_connected "SER,${cd_idn#*,}"
  quit_program
  end_test
  local rx
  rx=$(sim_received "$sim")
  expect_eq "$(count_of "$rx" '*IDN?')" 1 "identification over the port"
  expect_eq "$(count_of "$rx" 'calstr?')" 1 "calibration request over the port"
}

test_comms_log_from_the_command_line_and_the_menu() {
  sim_start || return
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\n[Connect]\nInterface=2\nIPAddr='"$sim_addr"
  local logdir="$WINEPREFIX/drive_c/parlex2-logs"
  rm -rf "$logdir"
  start_at_connect_dialog -log 'C:\parlex2-logs\first\run.log' || { sim_stop; return; }
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_message "Test Connection" $'The connection was successful\n'"$cd_idn" "Connect"
  local log="$logdir/first/run.log"
  if [ -f "$log" ]; then
    local text
    text=$(tr -d '\r' <"$log")
    expect_eq "$(sed -n 1,2p <<<"$text")" $'Veltmark Parlex2 CommsLog\nSoftware Version 1_4 (build 16)' \
      "log header"
    [[ "$(sed -n 3p <<<"$text")" =~ ^\[[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}\]\ \*\*\*$'\t'LOG\ FILE\ OPENED$'\t'\*\*\*$ ]] ||
      fail "third header line: $(sed -n 3p <<<"$text")"
    grep -q $'\*\*\*\tCONNECTING\t\*\*\*' <<<"$text" || fail "no CONNECTING line"
    grep -q "IDENTIFIED: $cd_idn" <<<"$text" || fail "no IDENTIFIED line"
    grep -q '>>.*\*IDN?' <<<"$text" || fail "no line of the *IDN? sent"
    grep -q "<<.*$cd_idn" <<<"$text" || fail "no line of the reply"
    [ "$(grep -c $'[^\r]$' "$log")" -eq 0 ] || fail "log lines without CR LF"
  else
    fail "-log wrote no $log"
  fi

  # The menu: on, so it goes off without asking; off, so it asks.
  local lines_before
  lines_before=$(wc -l <"$log")
  ok "Comms Log off" drive post "$main" 32779
  sleep 0.3
  drive windows | grep -q 'Comms Log' && fail "turning the log off asked for a file"
  ok "Configuration" drive post "$main" 32771
  ok "Connect dialog" drive wait "$connect_dialog"
  ok "Test" drive press "$connect_dialog" 116
  cd_expect_message "Test Connection" $'The connection was successful\n'"$cd_idn" "Test with the log off"
  expect_eq "$(wc -l <"$log")" "$lines_before" "lines written while off"
  press_to_close "$connect_dialog" 2 "Cancel"

  ok "Comms Log on" drive post "$main" 32779
  if drive wait "dialog=Comms Log" >/dev/null; then
    # The dialog offers the last file; a new one in a new folder is chosen.
    ok "file name" drive type "dialog=Comms Log" 1148 'C:\parlex2-logs\second.log'
    press_to_close "dialog=Comms Log" 1 "Save"
  else
    fail "no file dialog for the comms log"
  fi
  menu_screenshot alt+c menu-configure-comms-log-on
  ok "Configuration" drive post "$main" 32771
  ok "Connect dialog" drive wait "$connect_dialog"
  ok "Test" drive press "$connect_dialog" 116
  cd_expect_message "Test Connection" $'The connection was successful\n'"$cd_idn" "Test with the new log"
  press_to_close "$connect_dialog" 2 "Cancel"
  if [ -f "$logdir/second.log" ]; then
    grep -q 'LOG FILE OPENED' "$logdir/second.log" || fail "second log has no header"
    grep -q '>>.*\*IDN?' "$logdir/second.log" || fail "second log has no exchange lines"
  else
    fail "the menu's log file was not written"
  fi
  quit_program
  sim_stop

  # A path the log cannot keep whole is refused before the window opens.
  launch_program -log "C:\\$(printf 'x%.0s' $(seq 1 300)).log" || return
  if drive wait dialog=Error >/dev/null; then
    expect_eq "$(drive text dialog=Error 65535)" $'Error opening comms log for writing\nComms Logging disabled' \
      "too long a log path"
    ok "OK" drive press dialog=Error 1
  else
    fail "no message for too long a log path"
  fi
  ok "Connect dialog after the message" drive wait "$connect_dialog"
  ok "Cancel" drive press "$connect_dialog" 2
  quit_program

  # A file that cannot be made (its folder is a file): the first entry says
  # so, once, and logging is off; the menu's check mark follows.
  sim_start || return
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\n[Connect]\nInterface=2\nIPAddr='"$sim_addr"
  start_at_connect_dialog -log 'C:\windows\win.ini\comms.log' || { sim_stop; return; }
  ok "Connect" drive press "$connect_dialog" 112
  if drive wait dialog=Error >/dev/null; then
    expect_eq "$(drive text dialog=Error 65535)" $'Error opening comms log for writing\nComms Logging disabled' \
      "log file that cannot be made"
    expect_eq "$(drive owner dialog=Error)" none "owner of the log's message"
    ok "OK" drive press dialog=Error 1
  else
    fail "no message for a log file that cannot be made"
  fi
  cd_expect_message "Test Connection" $'The connection was successful\n'"$cd_idn" "Connect with the log off"
  drive windows | grep -q ' Error$' && fail "the log's message came twice"
  menu_screenshot alt+c menu-configure-comms-log-after-error
  quit_program
  sim_stop
  rm -rf "$logdir"
}

# ---- the LAN search, inside network namespaces -------------------------------
#
# The search broadcasts to 255.255.255.255, and Wine makes every socket in the
# wineserver's network namespace. So this test makes two namespaces joined by
# a veth pair ("instruments" 10.77.0.1 and .3, "client" 10.77.0.2), gives the
# program a prefix of its own whose wineserver is started inside the client
# namespace, and checks that server's namespace before anything is pressed.

cd_ns_inst="" cd_ns_client="" cd_ns_server_pid="" cd_ns_prefix=""

cd_ns_run() { ip netns exec "$cd_ns_client" env WINEPREFIX="$cd_ns_prefix" DISPLAY="$DISPLAY" "$@"; }

cd_ns_setup() {
  local tag=$$
  cd_ns_inst=p2e-inst-$tag cd_ns_client=p2e-client-$tag
  local vi=p2ei$tag vc=p2ec$tag
  ip netns add "$cd_ns_inst" || return 1
  ip netns add "$cd_ns_client" || return 1
  ip link add "$vi" netns "$cd_ns_inst" type veth peer name "$vc" netns "$cd_ns_client" &&
    ip -n "$cd_ns_inst" link set lo up && ip -n "$cd_ns_client" link set lo up &&
    ip -n "$cd_ns_inst" addr add 10.77.0.1/24 dev "$vi" &&
    ip -n "$cd_ns_inst" addr add 10.77.0.3/24 dev "$vi" &&
    ip -n "$cd_ns_client" addr add 10.77.0.2/24 dev "$vc" &&
    ip -n "$cd_ns_inst" link set "$vi" up && ip -n "$cd_ns_client" link set "$vc" up &&
    ip -n "$cd_ns_inst" route add default dev "$vi" &&
    ip -n "$cd_ns_client" route add default dev "$vc"
}

cd_ns_start_server() {  # a prefix of its own, its wineserver inside the client namespace
  cd_ns_prefix=$sim_work/ns-prefix
  rm -rf "$cd_ns_prefix"
  cp -a "$WINEPREFIX" "$cd_ns_prefix" || return 1
  ip netns exec "$cd_ns_client" env WINEPREFIX="$cd_ns_prefix" wineserver -f -p &
  cd_ns_server_pid=$!
  local own client i server
  own=$(readlink /proc/self/ns/net)
  client=$(ip netns exec "$cd_ns_client" readlink /proc/self/ns/net)
  for i in $(seq 1 100); do
    server=$(readlink "/proc/$cd_ns_server_pid/ns/net" 2>/dev/null)
    [ "$server" == "$client" ] && break
    sleep 0.02
  done
  [ -n "$client" ] && [ "$client" != "$own" ] && [ "$server" == "$client" ] || {
    fail "the namespace run's wineserver is not in the client namespace ($server, want $client)"
    return 1
  }
}

cd_ns_cleanup() {
  if [ -n "$cd_ns_server_pid" ]; then
    WINEPREFIX=$cd_ns_prefix wineserver -k >/dev/null 2>&1
    kill "$cd_ns_server_pid" 2>/dev/null
    wait "$cd_ns_server_pid" 2>/dev/null
  fi
  sim_stop
  [ -n "$cd_ns_client" ] && ip netns delete "$cd_ns_client" 2>/dev/null
  [ -n "$cd_ns_inst" ] && ip netns delete "$cd_ns_inst" 2>/dev/null
  [ -n "$cd_ns_prefix" ] && rm -rf "$cd_ns_prefix"
  cd_ns_inst="" cd_ns_client="" cd_ns_server_pid="" cd_ns_prefix=""
}

cd_ns_start_instrument() {  # OPTIONS...: a simulator answering the enquiries
  sim_wrap="ip netns exec $cd_ns_inst" sim_launch --discovery "$@" ||
    { fail "simulator did not start: $(cat "$sim_dir/log")"; return 1; }
}

cd_choose=dialog="Please Choose Instrument"

cd_lan_search_steps() {
  local -x WINEPREFIX=$cd_ns_prefix
  local ini=${ini/#"$WINEPREFIX_OUTSIDE"/$cd_ns_prefix}
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\n[Connect]\nInterface=2\nIPAddr='
  cd_ns_start_instrument --tcp 10.77.0.1:10001 || return
  local first=$sim_dir
  cd_ns_start_instrument --tcp 10.77.0.3:10001 --idn "Veltmark,ZQM44,20001,3.01" || return
  cd_ns_run wine "$driver" start "$exe" >"$build/e2e-start.log" 2>&1 || {
    fail "Parlex2.exe did not start in the namespace: $(cat "$build/e2e-start.log")"; return; }
  ok "Connect dialog" drive wait "$connect_dialog"
  expect_eq "$(cd_state "$connect_dialog" 1006)" "1 1" "search button shown for LAN"

  ok "Search" drive press "$connect_dialog" 1006
  if ! UIDRIVER_TIMEOUT_MS=20000 drive wait "$cd_choose" >/dev/null; then
    fail "no Choose Instrument dialog"; quit_program; return
  fi
  local rows
  rows=$(drive rows "$cd_choose" 1007)
  # Each instrument answers both enquiries, so each is listed once per enquiry.
  expect_eq "$(sort -u <<<"$rows" | tr '\t' '>' | paste -sd'|')" \
    " 10.77.0.1>Veltmark,VXM66,10472,2.15| 10.77.0.3>Veltmark,ZQM44,20001,3.01" \
    "probed rows, none selected"
  expect_eq "$(cd_state "$cd_choose" 1)" "1 0" "OK disabled before a choice"
  local row
  row=$(grep -n '10.77.0.3' <<<"$rows" | head -1 | cut -d: -f1)
  ok "select" drive select "$cd_choose" 1007 $((row - 1))
  sleep 0.2
  expect_eq "$(cd_state "$cd_choose" 1)" "1 1" "OK enabled by a choice"
  screenshot choose-instrument "$cd_choose"
  press_to_close "$cd_choose" 1 "OK"
  # Both enquiries came from the client's side of the pair.
  expect_eq "$(grep -c 'enquiry of .* from 10.77.0.2' "$first/transcript")" 6 \
    "enquiries from the client namespace"
  expect_eq "$(drive text "$connect_dialog" 117)" "10.77.0.3" "chosen address in the dialog"
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_message "Test Connection" $'The connection was successful\nVeltmark,ZQM44,20001,3.01' \
    "Connect to the chosen instrument"
  ok "Connect closes the dialog" drive gone "$connect_dialog"
  cd_expect_connected "LAN,ZQM44,20001,3.01"

  # One instrument serving another port: only the second enquiry takes it and
  # the probe is refused. One row, selected; a double-click chooses it.
  sim_stop
  cd_ns_start_instrument --tcp 10.77.0.3:10002 || return
  ok "Configuration" drive post "$main" 32771
  ok "Connect dialog" drive wait "$connect_dialog"
  ok "blank address" drive address "$connect_dialog" 117 blank
  ok "Search" drive press "$connect_dialog" 1006
  if UIDRIVER_TIMEOUT_MS=20000 drive wait "$cd_choose" >/dev/null; then
    expect_eq "$(drive rows "$cd_choose" 1007 | tr '\t' '>')" "*10.77.0.3>Connection Failed 1" \
      "one row, preselected"
    expect_eq "$(cd_state "$cd_choose" 1)" "1 1" "OK enabled with the row preselected"
    ok "double-click" drive dblclick "$cd_choose" 1007 0
    ok "double-click closes" drive gone "$cd_choose"
    expect_eq "$(drive text "$connect_dialog" 117)" "10.77.0.3" "double-clicked address"
  else
    fail "no Choose Instrument dialog for one instrument"
  fi

  # Nobody answers.
  sim_stop
  ok "Search" drive press "$connect_dialog" 1006
  UIDRIVER_TIMEOUT_MS=20000 cd_expect_message "LAN Find Instrument" "No Instruments found on this subnet" \
    "search without instruments"
  ok "Cancel" drive press "$connect_dialog" 2
  quit_program
}

test_lan_search_lists_probed_instruments_inside_network_namespaces() {
  if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
    echo "    SKIPPED: network namespaces need root and iproute2"
    return
  fi
  if ! cd_ns_setup; then
    echo "    SKIPPED: cannot make network namespaces here"
    cd_ns_cleanup
    return
  fi
  WINEPREFIX_OUTSIDE=$WINEPREFIX
  cd_ns_start_server && cd_lan_search_steps
  cd_ns_cleanup
}
