# End-to-end tests of the Connect dialog, the Choose Instrument dialog and the
# comms log switch, sourced by run-e2e.sh (its helpers: drive, ok, fail,
# expect_eq, start_program, quit_program, seed_settings). Instruments are
# parlex2-sim processes on loopback addresses, on a pseudo-terminal mapped as
# a COM port, and, for the LAN search, inside a pair of network namespaces
# with a wineserver of their own.

sim_exe=${PARLEX2_SIM:-$(cd "$build/../native/tools/sim" 2>/dev/null && pwd)/parlex2-sim}
connect=dialog=Connect
answer="dialog=Test Connection"
sim_idn="Veltmark,VXM66,10472,2.15"
work_e2e=$build/e2e-connect  # transcripts and the pseudo-terminal's link
rm -rf "$work_e2e"
mkdir -p "$work_e2e"

# Parlex2.exe opens the Connect dialog as soon as it starts. The tests of the
# window itself begin with it cancelled; these tests use
# start_at_connect_dialog instead.
eval "$(declare -f start_program | sed '1s/^start_program/start_program_only/')"
start_program() {
  start_program_only "$@" || return
  drive wait "$connect" >/dev/null || { fail "no Connect dialog at start"; return 1; }
  drive press "$connect" 2 >/dev/null
  drive gone "$connect" >/dev/null || fail "Cancel did not close the Connect dialog"
}
start_at_connect_dialog() {
  start_program_only "$@" || return
  drive wait "$connect" >/dev/null || { fail "no Connect dialog at start"; return 1; }
}

shot_of() {  # WINDOW NAME: a picture of one window
  local rect x y w h
  rect=$(drive rect "$1") || { fail "no window $1 for screenshot $2"; return; }
  read -r x y w h <<<"$rect"
  import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$shots/$2.png" \
    2>/dev/null || fail "no screenshot $2"
}

# ---- simulators ------------------------------------------------------------

sim_pids=()
sim_out=""
sim_seq=0  # names each simulator's files

start_sim() {  # OPTIONS...: a simulator with a transcript; sets sim_out
  [ -x "$sim_exe" ] || { fail "no simulator at $sim_exe (build the native parlex2-sim)"; return 1; }
  local i
  sim_out=$work_e2e/sim$((sim_seq++))
  "$sim_exe" --transcript "$sim_out.transcript" "$@" >"$sim_out.log" 2>&1 &
  sim_pids+=($!)
  for i in $(seq 1 200); do
    grep -q '^ready' "$sim_out.log" 2>/dev/null && return 0
    kill -0 "${sim_pids[-1]}" 2>/dev/null || break
    sleep 0.02
  done
  fail "simulator did not start: $(cat "$sim_out.log")"
  return 1
}

start_lan_sim() {  # a simulator on a free loopback address; sets sim_ip
  local tries
  for tries in 1 2 3 4 5; do
    sim_ip=127.0.0.$((20 + RANDOM % 200))
    start_sim --tcp "$sim_ip:10001" 2>/dev/null && return 0
  done
  return 1
}

stop_sims() {
  local pid
  for pid in "${sim_pids[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  sim_pids=()
}

# What the simulator received, as text (the transcript's RX lines).
received() { grep ' RX ' "$1.transcript" | sed 's/.*|\(.*\)|$/\1/' | tr -d '\n'; }
count_of() { grep -o -F -- "$2" <<<"$1" | wc -l; }

# Waits for the message box captioned CAPTION, checks it is owned by the
# Connect dialog and says TEXT, and answers it with OK.
expect_message() {  # CAPTION TEXT WHAT
  drive wait "dialog=$1" >/dev/null || { fail "$3: no \"$1\" message"; return 1; }
  expect_eq "$(drive text "dialog=$1" 65535)" "$2" "$3"
  expect_eq "$(drive owner "dialog=$1")" "#32770 Connect" "$3: owner of the message"
  ok "$3: OK" drive press "dialog=$1" 1
  ok "$3: message closed" drive gone "dialog=$1"
}

visible() { ctl "$connect" "$1" | cut -d' ' -f1; }
# "VISIBLE ENABLED" (1 or 0 each) of control ID, from the driver's
# "enabled|disabled visible|hidden X Y W H".
ctl() {  # WINDOW ID
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

ini_value() { sed -n "s/^$1=\(.*\)\r$/\1/p" "$ini"; }

# ---- tests -----------------------------------------------------------------

test_connect_dialog_at_start_switches_its_form_and_cancel_changes_nothing() {
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025'
  start_at_connect_dialog || return
  expect_eq "$(drive items "$connect" 113 | tr '\n' '|')" " USB| LAN| Serial" "interfaces, none chosen"
  expect_eq "$(drive items "$connect" 115 | tr '\n' '|')" " 1200| 2400| 4800| 9600| 19200| 38400" \
    "baud rates, none chosen"
  expect_eq "$(ctl "$connect" 116)" "1 1" "Test shown"
  expect_eq "$(ctl "$connect" 117) $(ctl "$connect" 1006)" "0 1 0 1" \
    "address and search hidden"

  ok "pick LAN" drive pick "$connect" 113 LAN
  sleep 0.2
  expect_eq "$(ctl "$connect" 117) $(ctl "$connect" 1006)" "1 1 1 1" \
    "LAN: address and search shown"
  expect_eq "$(visible 114) $(visible 115) $(visible 119)" "0 0 0" "LAN: port and baud hidden"
  expect_eq "$(drive text "$connect" 118)" "IP Address:" "LAN label"
  shot_of "$connect" connect-dialog-lan

  ok "pick USB" drive pick "$connect" 113 USB
  sleep 0.2
  expect_eq "$(ctl "$connect" 117) $(ctl "$connect" 1006)" "0 1 0 1" \
    "USB: address and search hidden"
  expect_eq "$(ctl "$connect" 114)" "1 1" "USB: port list"
  expect_eq "$(ctl "$connect" 115) $(ctl "$connect" 119)" "1 0 1 0" \
    "USB: baud shown but fixed"
  expect_eq "$(drive text "$connect" 118)" "COM Port:" "USB label"

  ok "pick Serial" drive pick "$connect" 113 Serial
  sleep 0.2
  expect_eq "$(ctl "$connect" 115) $(ctl "$connect" 119)" "1 1 1 1" \
    "Serial: baud chosen"

  # Nothing chosen but the interface: Connect asks for the port.
  ok "Connect" drive press "$connect" 112
  expect_message "Test Connection" "Please select a COM Port" "Connect without a port"
  ok "Cancel" drive press "$connect" 2
  ok "Cancel closes the dialog" drive gone "$connect"
  expect_eq "$(drive title "$main")" "Parlex2 v1_4" "title after Cancel"
  grep -q '^\[Connect\]' "$ini" && fail "Cancel saved the connection"
  # The Instrument items stay grey: only a picture shows a menu of another
  # process.
  ok "keys" drive input "$main" alt+i
  sleep 0.3
  screenshot menu-instrument-after-cancel
  ok "keys" drive input "$main" esc esc
  quit_program
}

test_lan_test_connect_and_save_as_default() {
  start_lan_sim || return
  local sim=$sim_out refused=127.0.0.$((20 + RANDOM % 200))
  [ "$refused" != "$sim_ip" ] || refused=127.0.0.19
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\n[Connect]\nInterface=2\nComPort=\nBaudRate=0\nIPAddr='"$sim_ip"
  start_at_connect_dialog || { stop_sims; return; }
  # The saved connection comes up in the dialog.
  expect_eq "$(drive items "$connect" 113 | grep '^\*')" "*LAN" "saved interface"
  expect_eq "$(ctl "$connect" 117)" "1 1" "address shown"
  expect_eq "$(drive text "$connect" 117)" "$sim_ip" "saved address"

  ok "blank address" drive address "$connect" 117 blank
  ok "Connect" drive press "$connect" 112
  expect_message "Test Connection" "Please enter an IP address" "Connect without an address"

  ok "refusing address" drive address "$connect" 117 "$refused"
  ok "Test" drive press "$connect" 116
  expect_message "Test Connection" "Failed to connect to IP address $refused" "Test of a refusing address"

  ok "address" drive address "$connect" 117 "$sim_ip"
  ok "Test" drive press "$connect" 116
  drive wait "$answer" >/dev/null && shot_of "$answer" test-connection-message
  expect_message "Test Connection" $'The connection was successful\n'"$sim_idn" "Test"
  ok "the dialog stays after Test" drive wait "$connect"

  ok "Save as Default" drive press "$connect" 120
  sleep 0.3
  expect_eq "$(ini_value Interface) $(ini_value IPAddr)" "2 $sim_ip" "saved LAN connection"

  ok "Connect" drive press "$connect" 112
  expect_message "Test Connection" $'The connection was successful\n'"$sim_idn" "Connect"
  ok "Connect closes the dialog" drive gone "$connect"
  sleep 0.3
  screenshot main-window-connected
  quit_program
  stop_sims
  # Test, then Connect: each woke the instrument and identified it.
  local rx
  rx=$(received "$sim")
  expect_eq "$(count_of "$rx" '*IDN?')" 2 "identifications"
  expect_eq "$(count_of "$rx" 'version?')" 2 "version requests"
}

test_com_port_form_connects_through_a_mapped_pty() {
  start_sim --pty "$work_e2e/instrument-pty" || return
  local sim=$sim_out
  ln -sfn "$work_e2e/instrument-pty" "$WINEPREFIX/dosdevices/com9"
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\n[Connect]\nInterface=3\nComPort=COM9\nBaudRate=9600\nIPAddr='
  start_at_connect_dialog || { rm -f "$WINEPREFIX/dosdevices/com9"; stop_sims; return; }
  drive items "$connect" 114 | grep -q '^\*COM9$' || fail "COM9 not listed and chosen: $(drive items "$connect" 114)"
  expect_eq "$(drive items "$connect" 115 | grep '^\*')" "*9600" "saved rate chosen"
  shot_of "$connect" connect-dialog-com

  # USB runs at 19200 whatever the list shows.
  ok "pick USB" drive pick "$connect" 113 USB
  ok "pick 1200" drive pick "$connect" 115 0
  ok "Save as Default" drive press "$connect" 120
  sleep 0.3
  expect_eq "$(ini_value Interface) $(ini_value ComPort) $(ini_value BaudRate)" "1 COM9 19200" \
    "saved USB connection"

  ok "pick Serial" drive pick "$connect" 113 Serial
  ok "Connect" drive press "$connect" 112
  expect_message "Test Connection" $'The connection was successful\n'"$sim_idn" "Connect over COM9"
  ok "Connect closes the dialog" drive gone "$connect"
  quit_program
  rm -f "$WINEPREFIX/dosdevices/com9"
  stop_sims
  local rx
  rx=$(received "$sim")
  expect_eq "$(count_of "$rx" '*IDN?')" 1 "identification over the port"
  expect_eq "$(count_of "$rx" 'calstr?')" 1 "calibration request over the port"
}

test_comms_log_from_the_command_line_and_the_menu() {
  start_lan_sim || return
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\n[Connect]\nInterface=2\nIPAddr='"$sim_ip"
  local logdir="$WINEPREFIX/drive_c/parlex2-logs"
  rm -rf "$logdir"
  start_at_connect_dialog -log 'C:\parlex2-logs\first\run.log' || { stop_sims; return; }
  ok "Connect" drive press "$connect" 112
  expect_message "Test Connection" $'The connection was successful\n'"$sim_idn" "Connect"
  local log="$logdir/first/run.log"
  if [ -f "$log" ]; then
    local text
    text=$(tr -d '\r' <"$log")
    expect_eq "$(sed -n 1,2p <<<"$text")" $'Veltmark Parlex2 CommsLog\nSoftware Version 1_4 (build 16)' \
      "log header"
    [[ "$(sed -n 3p <<<"$text")" =~ ^\[[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}\]\ \*\*\*$'\t'LOG\ FILE\ OPENED$'\t'\*\*\*$ ]] ||
      fail "third header line: $(sed -n 3p <<<"$text")"
    grep -q $'\*\*\*\tCONNECTING\t\*\*\*' <<<"$text" || fail "no CONNECTING line"
    grep -q "IDENTIFIED: $sim_idn" <<<"$text" || fail "no IDENTIFIED line"
    grep -q '>>.*\*IDN?' <<<"$text" || fail "no line of the *IDN? sent"
    grep -q "<<.*$sim_idn" <<<"$text" || fail "no line of the reply"
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
  ok "Connect dialog" drive wait "$connect"
  ok "Test" drive press "$connect" 116
  expect_message "Test Connection" $'The connection was successful\n'"$sim_idn" "Test with the log off"
  expect_eq "$(wc -l <"$log")" "$lines_before" "lines written while off"
  ok "Cancel" drive press "$connect" 2
  ok "Cancel closes the dialog" drive gone "$connect"

  ok "Comms Log on" drive post "$main" 32779
  if drive wait "dialog=Comms Log" >/dev/null; then
    # The dialog offers the last file; a new one in a new folder is chosen.
    ok "file name" drive type "dialog=Comms Log" 1148 'C:\parlex2-logs\second.log'
    ok "Save" drive press "dialog=Comms Log" 1
    ok "file dialog closed" drive gone "dialog=Comms Log"
  else
    fail "no file dialog for the comms log"
  fi
  ok "keys" drive input "$main" alt+c
  sleep 0.3
  screenshot menu-configure-comms-log-on
  ok "keys" drive input "$main" esc esc
  ok "Configuration" drive post "$main" 32771
  ok "Connect dialog" drive wait "$connect"
  ok "Test" drive press "$connect" 116
  expect_message "Test Connection" $'The connection was successful\n'"$sim_idn" "Test with the new log"
  ok "Cancel" drive press "$connect" 2
  ok "Cancel closes the dialog" drive gone "$connect"
  if [ -f "$logdir/second.log" ]; then
    grep -q 'LOG FILE OPENED' "$logdir/second.log" || fail "second log has no header"
    grep -q '>>.*\*IDN?' "$logdir/second.log" || fail "second log has no exchange lines"
  else
    fail "the menu's log file was not written"
  fi
  quit_program
  stop_sims

  # A path the log cannot keep whole is refused before the window opens.
  start_program_only -log "C:\\$(printf 'x%.0s' $(seq 1 300)).log" || return
  if drive wait dialog=Error >/dev/null; then
    expect_eq "$(drive text dialog=Error 65535)" $'Error opening comms log for writing\nComms Logging disabled' \
      "too long a log path"
    ok "OK" drive press dialog=Error 1
  else
    fail "no message for too long a log path"
  fi
  ok "Connect dialog after the message" drive wait "$connect"
  ok "Cancel" drive press "$connect" 2
  quit_program
  rm -rf "$logdir"
}

# ---- the LAN search, inside network namespaces -------------------------------
#
# The search broadcasts to 255.255.255.255, and Wine makes every socket in the
# wineserver's network namespace. So this test makes two namespaces joined by
# a veth pair ("instruments" 10.77.0.1 and .3, "client" 10.77.0.2), gives the
# program a prefix of its own whose wineserver is started inside the client
# namespace, and checks that server's namespace before anything is pressed.

ns_inst="" ns_client="" ns_server_pid="" ns_prefix=""

ns_run() { ip netns exec "$ns_client" env WINEPREFIX="$ns_prefix" DISPLAY="$DISPLAY" "$@"; }

ns_setup() {
  local tag=$$
  ns_inst=p2e-inst-$tag ns_client=p2e-client-$tag
  local vi=p2ei$tag vc=p2ec$tag
  ip netns add "$ns_inst" || return 1
  ip netns add "$ns_client" || return 1
  ip link add "$vi" netns "$ns_inst" type veth peer name "$vc" netns "$ns_client" &&
    ip -n "$ns_inst" link set lo up && ip -n "$ns_client" link set lo up &&
    ip -n "$ns_inst" addr add 10.77.0.1/24 dev "$vi" &&
    ip -n "$ns_inst" addr add 10.77.0.3/24 dev "$vi" &&
    ip -n "$ns_client" addr add 10.77.0.2/24 dev "$vc" &&
    ip -n "$ns_inst" link set "$vi" up && ip -n "$ns_client" link set "$vc" up &&
    ip -n "$ns_inst" route add default dev "$vi" &&
    ip -n "$ns_client" route add default dev "$vc"
}

ns_start_server() {  # a prefix of its own, its wineserver inside the client namespace
  ns_prefix=$work_e2e/ns-prefix
  rm -rf "$ns_prefix"
  cp -a "$WINEPREFIX" "$ns_prefix" || return 1
  ip netns exec "$ns_client" env WINEPREFIX="$ns_prefix" wineserver -f -p &
  ns_server_pid=$!
  local own client i server
  own=$(readlink /proc/self/ns/net)
  client=$(ip netns exec "$ns_client" readlink /proc/self/ns/net)
  for i in $(seq 1 100); do
    server=$(readlink "/proc/$ns_server_pid/ns/net" 2>/dev/null)
    [ "$server" == "$client" ] && break
    sleep 0.02
  done
  [ -n "$client" ] && [ "$client" != "$own" ] && [ "$server" == "$client" ] || {
    fail "the namespace run's wineserver is not in the client namespace ($server, want $client)"
    return 1
  }
}

ns_cleanup() {
  if [ -n "$ns_server_pid" ]; then
    WINEPREFIX=$ns_prefix wineserver -k >/dev/null 2>&1
    kill "$ns_server_pid" 2>/dev/null
    wait "$ns_server_pid" 2>/dev/null
  fi
  stop_sims
  [ -n "$ns_client" ] && ip netns delete "$ns_client" 2>/dev/null
  [ -n "$ns_inst" ] && ip netns delete "$ns_inst" 2>/dev/null
  [ -n "$ns_prefix" ] && rm -rf "$ns_prefix"
  ns_inst="" ns_client="" ns_server_pid="" ns_prefix=""
}

ns_start_instrument() {  # OPTIONS...: a simulator answering the enquiries
  [ -x "$sim_exe" ] || { fail "no simulator at $sim_exe"; return 1; }
  local i
  sim_out=$work_e2e/sim$((sim_seq++))
  ip netns exec "$ns_inst" "$sim_exe" --discovery --transcript "$sim_out.transcript" "$@" \
    >"$sim_out.log" 2>&1 &
  sim_pids+=($!)
  for i in $(seq 1 200); do
    grep -q '^ready' "$sim_out.log" 2>/dev/null && return 0
    sleep 0.02
  done
  fail "simulator did not start: $(cat "$sim_out.log")"
  return 1
}

choose=dialog="Please Choose Instrument"

lan_search_steps() {
  local -x WINEPREFIX=$ns_prefix
  local ini=${ini/#"$WINEPREFIX_OUTSIDE"/$ns_prefix}
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\n[Connect]\nInterface=2\nIPAddr='
  ns_start_instrument --tcp 10.77.0.1:10001 || return
  local first=$sim_out
  ns_start_instrument --tcp 10.77.0.3:10001 --idn "Veltmark,ZQM44,20001,3.01" || return
  ns_run wine "$driver" start "$exe" >"$build/e2e-start.log" 2>&1 || {
    fail "Parlex2.exe did not start in the namespace: $(cat "$build/e2e-start.log")"; return; }
  ok "Connect dialog" drive wait "$connect"
  expect_eq "$(ctl "$connect" 1006)" "1 1" "search button shown for LAN"

  ok "Search" drive press "$connect" 1006
  if ! UIDRIVER_TIMEOUT_MS=20000 drive wait "$choose" >/dev/null; then
    fail "no Choose Instrument dialog"; quit_program; return
  fi
  local rows
  rows=$(drive rows "$choose" 1007)
  # Each instrument answers both enquiries, so each is listed once per enquiry.
  expect_eq "$(sort -u <<<"$rows" | tr '\t' '>' | paste -sd'|')" \
    " 10.77.0.1>Veltmark,VXM66,10472,2.15| 10.77.0.3>Veltmark,ZQM44,20001,3.01" \
    "probed rows, none selected"
  expect_eq "$(ctl "$choose" 1)" "1 0" "OK disabled before a choice"
  local row
  row=$(grep -n '10.77.0.3' <<<"$rows" | head -1 | cut -d: -f1)
  ok "select" drive select "$choose" 1007 $((row - 1))
  sleep 0.2
  expect_eq "$(ctl "$choose" 1)" "1 1" "OK enabled by a choice"
  shot_of "$choose" choose-instrument
  ok "OK" drive press "$choose" 1
  ok "choice closes" drive gone "$choose"
  # Both enquiries came from the client's side of the pair.
  expect_eq "$(grep -c 'enquiry of .* from 10.77.0.2' "$first.transcript")" 6 \
    "enquiries from the client namespace"
  expect_eq "$(drive text "$connect" 117)" "10.77.0.3" "chosen address in the dialog"
  ok "Connect" drive press "$connect" 112
  expect_message "Test Connection" $'The connection was successful\nVeltmark,ZQM44,20001,3.01' \
    "Connect to the chosen instrument"
  ok "Connect closes the dialog" drive gone "$connect"

  # One instrument serving another port: only the second enquiry takes it and
  # the probe is refused. One row, selected; a double-click chooses it.
  stop_sims
  ns_start_instrument --tcp 10.77.0.3:10002 || return
  ok "Configuration" drive post "$main" 32771
  ok "Connect dialog" drive wait "$connect"
  ok "blank address" drive address "$connect" 117 blank
  ok "Search" drive press "$connect" 1006
  if UIDRIVER_TIMEOUT_MS=20000 drive wait "$choose" >/dev/null; then
    expect_eq "$(drive rows "$choose" 1007 | tr '\t' '>')" "*10.77.0.3>Connection Failed 1" \
      "one row, preselected"
    expect_eq "$(ctl "$choose" 1)" "1 1" "OK enabled with the row preselected"
    ok "double-click" drive dblclick "$choose" 1007 0
    ok "double-click closes" drive gone "$choose"
    expect_eq "$(drive text "$connect" 117)" "10.77.0.3" "double-clicked address"
  else
    fail "no Choose Instrument dialog for one instrument"
  fi

  # Nobody answers.
  stop_sims
  ok "Search" drive press "$connect" 1006
  UIDRIVER_TIMEOUT_MS=20000 expect_message "LAN Find Instrument" "No Instruments found on this subnet" \
    "search without instruments"
  ok "Cancel" drive press "$connect" 2
  quit_program
}

test_lan_search_lists_probed_instruments_inside_network_namespaces() {
  if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
    echo "    SKIPPED: network namespaces need root and iproute2"
    return
  fi
  if ! ns_setup; then
    echo "    SKIPPED: cannot make network namespaces here"
    ns_cleanup
    return
  fi
  WINEPREFIX_OUTSIDE=$WINEPREFIX
  ns_start_server && lan_search_steps
  ns_cleanup
}
