# End-to-end tests of the Connect dialog, the Choose Instrument dialog and the
# comms log switch, sourced by run-e2e.sh (with helpers.sh). Instruments are
# parlex2-sim processes on loopback addresses, on a pseudo-terminal mapped as
# a COM port, and, for the LAN search, inside a pair of network namespaces
# with a wineserver of their own.

cd_idn="Veltmark,VXM66,10472,2.15"

# A message box of the Connect dialog, answered with OK.
cd_expect_message() {  # CAPTION TEXT WHAT
  expect_box "$1" "$2" "$3" "#32770 Connect" && press_to_close "dialog=$1" 1 "$3: OK"
}

cd_expect_success() {  # WHAT [IDENTITY]
  cd_expect_message "Test Connection" $'The connection was successful\n'"${2:-$cd_idn}" "$1"
}

# After the dialog's Connect the main window carries on: title, controls.
cd_expect_connected() {  # TITLE-SUFFIX
  ok "Connect closes the dialog" drive gone "$connect_dialog"
  wait_for "title after Connect: Parlex2 v1_4     $1" title_is "Parlex2 v1_4     $1"
  expect_eq "$(state_word 18002 1)" enabled "command box after Connect"
}

cd_expect_log_error() {  # WHAT [OWNER]: the comms log's message, answered with OK
  expect_box Error $'Error opening comms log for writing\nComms Logging disabled' "$1" "${2:-}" &&
    ok "OK" drive press dialog=Error 1
}

# ---- tests -----------------------------------------------------------------

test_connect_dialog_at_start_switches_its_form_and_cancel_changes_nothing() {
  seed_init
  start_at_connect_dialog || return
  expect_eq "$(drive items "$connect_dialog" 113 | tr '\n' '|')" " USB| LAN| Serial" "interfaces, none chosen"
  expect_eq "$(drive items "$connect_dialog" 115 | tr '\n' '|')" " 1200| 2400| 4800| 9600| 19200| 38400" \
    "baud rates, none chosen"
  expect_eq "$(states "$connect_dialog" 116 117 1006)" "enabled visible|hidden|hidden" \
    "Test shown, address and search hidden"
  # Each interface's form: the label, then the port list, the baud rate list
  # and its label, the address and the search button.
  local pick want
  while IFS='=' read -r pick want; do
    ok "pick $pick" drive pick "$connect_dialog" 113 "$pick"
    sleep 0.2
    expect_eq "$(drive text "$connect_dialog" 118)|$(states "$connect_dialog" 114 115 119 117 1006)" "$want" \
      "$pick form"
    [ "$pick" != LAN ] || screenshot connect-dialog-lan "$connect_dialog"
  done <<'EOF'
LAN=IP Address:|hidden|hidden|hidden|enabled visible|enabled visible
USB=COM Port:|enabled visible|disabled visible|disabled visible|hidden|hidden
Serial=COM Port:|enabled visible|enabled visible|enabled visible|hidden|hidden
EOF

  # Nothing chosen but the interface: Connect asks for the port.
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_message "Test Connection" "Please select a COM Port" "Connect without a port"
  press_to_close "$connect_dialog" 2 "Cancel"
  expect_eq "$(drive title "$main")" "Parlex2 v1_4" "title after Cancel"
  grep -q '^\[Connect\]' "$ini" && fail "Cancel saved the connection"
  expect_eq "$(states "$main" 18000 18002 18003 18005)|$(drive text "$main" 18001)" \
    "disabled visible|disabled visible|disabled visible|hidden|No connection" "window after Cancel"
  # The Instrument items stay grey: only a picture shows a menu of another
  # process under Wine.
  menu_screenshot alt+i menu-instrument-after-cancel
  quit_program
}

test_lan_test_connect_and_save_as_default() {
  sim_start || return
  local ip=$sim_addr refused=127.0.0.$((20 + RANDOM % 200))
  seed_connection 2 "$sim_addr"
  start_at_connect_dialog || { sim_stop; return; }
  expect_eq "$(drive items "$connect_dialog" 113 | grep '^\*')|$(states "$connect_dialog" 117)" \
    "*LAN|enabled visible" "saved interface, address shown"
  expect_eq "$(drive text "$connect_dialog" 117)" "$ip" "saved address"

  ok "blank address" drive address "$connect_dialog" 117 blank
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_message "Test Connection" "Please enter an IP address" "Connect without an address"
  ok "refusing address" drive address "$connect_dialog" 117 "$refused"
  ok "Test" drive press "$connect_dialog" 116
  cd_expect_message "Test Connection" "Failed to connect to IP address $refused" "Test of a refusing address"
  ok "address" drive address "$connect_dialog" 117 "$ip"
  ok "Test" drive press "$connect_dialog" 116
  drive wait "dialog=Test Connection" >/dev/null && screenshot test-connection-message "dialog=Test Connection"
  cd_expect_success "Test"
  ok "the dialog stays after Test" drive wait "$connect_dialog"
  ok "Save as Default" drive press "$connect_dialog" 120
  sleep 0.3
  expect_eq "$(ini_value Interface) $(ini_value IPAddr)" "2 $ip" "saved LAN connection"
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_success "Connect"
  cd_expect_connected "LAN,${cd_idn#*,}"
  quit_program
  sim_stop
  # Test, then Connect: each woke the instrument and identified it.
  expect_eq "$(sim_received | grep -cF "*IDN?") $(sim_received | grep -cxF "version?")" "2 2" \
    "identifications"
}

test_com_port_form_connects_through_a_mapped_pty_until_it_is_unplugged() {
  local pty=$sim_work/pty com9=$WINEPREFIX/dosdevices/com9
  sim_launch --pty "$pty" && [ -e "$pty" ] || { fail "the simulator made no pty: $(cat "$sim_dir/log")"; return; }
  ln -sfn "$pty" "$com9"
  seed_connection 3 COM9 9600
  start_at_connect_dialog || { end_test; rm -f "$com9"; return; }
  drive items "$connect_dialog" 114 | grep -q '^\*COM9$' || fail "COM9 not listed and chosen: $(drive items "$connect_dialog" 114)"
  expect_eq "$(drive items "$connect_dialog" 115 | grep '^\*')" "*9600" "saved rate chosen"
  screenshot connect-dialog-com "$connect_dialog"
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_success "Connect over COM9"
  cd_expect_connected "SER,${cd_idn#*,}"
  type_command "temp?"
  wait_for "reply over the COM port" pane_has $'> temp?\n23.5'
  expect_eq "$(sim_received; echo .)" $'\x14\x14^[*IDN?\ncalstr?\ncalver?\nversion?\ntemp?\n.' "bytes on the port"
  # The port goes away (the instrument unplugged): the question, and No
  # leaves the window disconnected with the pane as it was.
  sim_stop
  if expect_box Parlex2 "$read_failure_question" "question when the port went away"; then
    press_to_close dialog=Parlex2 7 "No"
    wait_for "controls disabled" state_is 18002 1 disabled
    expect_eq "$(drive text "$main" 18000)" $'> temp?\n23.5' "pane after the port went away"
    expect_eq "$(drive text "$main" 18001)" "No connection" "panel after the port went away"
  fi
  end_test
  rm -f "$com9"
}

test_comms_log_from_the_command_line_and_the_menu() {
  sim_start || return
  seed_connection 2 "$sim_addr"
  local logdir="$WINEPREFIX/drive_c/parlex2-logs"
  local log="$logdir/first/run.log"
  rm -rf "$logdir"
  start_at_connect_dialog -log 'C:\parlex2-logs\first\run.log' || { sim_stop; return; }
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_success "Connect"
  # The header and entries are the comms log's own (its tests run under Wine
  # too); here: the folders made, the exchange logged, every line ending CR LF.
  if [ -f "$log" ]; then
    grep -q '>>.*\*IDN?' "$log" && grep -q "<<.*$cd_idn" "$log" || fail "no lines of the identification"
    [ "$(grep -c $'[^\r]$' "$log")" -eq 0 ] || fail "log lines without CR LF"
  else
    fail "-log wrote no $log"
  fi

  # The menu: on, so it goes off without asking; off, so it asks.
  ok "Comms Log off" drive post "$main" 32779
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
  cd_expect_success "Test with the new log"
  press_to_close "$connect_dialog" 2 "Cancel"
  grep -q '>>.*\*IDN?' "$logdir/second.log" || fail "the menu's log file has no exchange lines"
  quit_program

  # A path the log cannot keep whole is refused before the window opens.
  launch_program -log "C:\\$(printf 'x%.0s' $(seq 1 300)).log" || { sim_stop; return; }
  cd_expect_log_error "too long a log path"
  ok "Connect dialog after the message" drive wait "$connect_dialog"
  ok "Cancel" drive press "$connect_dialog" 2
  quit_program

  # A file that cannot be made (its folder is a file): the first entry says
  # so, once, and logging is off; the menu's check mark follows.
  start_at_connect_dialog -log 'C:\windows\win.ini\comms.log' || { sim_stop; return; }
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_log_error "log file that cannot be made" none
  cd_expect_success "Connect with the log off"
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
  local ini=${ini/#"$WINEPREFIX"/$cd_ns_prefix}
  local -x WINEPREFIX=$cd_ns_prefix
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\n[Connect]\nInterface=2\nIPAddr='
  cd_ns_start_instrument --tcp 10.77.0.1:10001 || return
  local first=$sim_dir
  cd_ns_start_instrument --tcp 10.77.0.3:10001 --idn "Veltmark,ZQM44,20001,3.01" || return
  ip netns exec "$cd_ns_client" env WINEPREFIX="$cd_ns_prefix" DISPLAY="$DISPLAY" \
    wine "$driver" start "$exe" >"$build/e2e-start.log" 2>&1 || {
    fail "Parlex2.exe did not start in the namespace: $(cat "$build/e2e-start.log")"; return; }
  ok "Connect dialog" drive wait "$connect_dialog"
  expect_eq "$(states "$connect_dialog" 1006)" "enabled visible" "search button shown for LAN"

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
  expect_eq "$(states "$cd_choose" 1)" "disabled visible" "OK disabled before a choice"
  local row
  row=$(grep -n '10.77.0.3' <<<"$rows" | head -1 | cut -d: -f1)
  ok "select" drive select "$cd_choose" 1007 $((row - 1))
  sleep 0.2
  expect_eq "$(states "$cd_choose" 1)" "enabled visible" "OK enabled by a choice"
  screenshot choose-instrument "$cd_choose"
  press_to_close "$cd_choose" 1 "OK"
  # Both enquiries came from the client's side of the pair.
  expect_eq "$(grep -c 'enquiry of .* from 10.77.0.2' "$first/transcript")" 6 \
    "enquiries from the client namespace"
  expect_eq "$(drive text "$connect_dialog" 117)" "10.77.0.3" "chosen address in the dialog"
  ok "Connect" drive press "$connect_dialog" 112
  cd_expect_success "Connect to the chosen instrument" "Veltmark,ZQM44,20001,3.01"
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
    expect_eq "$(states "$cd_choose" 1)" "enabled visible" "OK enabled with the row preselected"
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
  cd_ns_start_server && cd_lan_search_steps
  cd_ns_cleanup
}
