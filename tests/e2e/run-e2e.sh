#!/usr/bin/env bash
# End-to-end tests of Parlex2.exe under Wine, driven from outside by
# uidriver.exe. scripts/wine-tests.sh runs this with WINEPREFIX, DISPLAY and
# the prefix's wineserver already up. Prints a report in ctest's form, ending
# "N% tests passed, N tests failed out of N", and leaves screenshots in
# BUILD/screenshots.
#
#   tests/e2e/run-e2e.sh BUILD [NAME-PATTERN]
#
# A test is a shell function named test_*; tests run in the order written,
# each starting and ending the program itself. fail/expect_eq/ok record
# failures without stopping the test, so one run reports every fault.
set -uo pipefail
build=$(cd "${1:?usage: run-e2e.sh BUILD [PATTERN]}" && pwd)
pattern=${2:-}
: "${WINEPREFIX:?run from scripts/wine-tests.sh}" "${DISPLAY:?run from scripts/wine-tests.sh}"

source "$(dirname "$0")/helpers.sh"
source "$(dirname "$0")/connect-tests.sh"
source "$(dirname "$0")/upgrade-tests.sh"
source "$(dirname "$0")/pane-tests.sh"

# ---- tests -----------------------------------------------------------------

window_size() { drive rect "$main" | awk '{print $3 "x" $4}'; }

# The reference size: 808 x 608 and twice the sizing frame beyond 4 pixels.
reference_size() {
  local metrics fw fh
  metrics=$(drive metrics)
  fw=$(awk '{print $3}' <<<"$metrics")
  fh=$(awk '{print $4}' <<<"$metrics")
  echo "$((808 + (fw > 4 ? 2 * (fw - 4) : 0)))x$((608 + (fh > 4 ? 2 * (fh - 4) : 0)))"
}

test_first_run_creates_settings_and_opens_at_reference_size() {
  rm -rf "$company"
  start_program || return
  expect_eq "$(drive title "$main")" "Parlex2 v1_4" "title before any connection"
  expect_eq "$(window_size)" "$(reference_size)" "first window size"
  screenshot main-window
  [ -f "$ini" ] || { fail "no $ini"; quit_program; return; }
  local text created
  text=$(cat "$ini")
  created=$(sed -n 's/^Created=\(.*\)\r$/\1/p' "$ini")
  expect_eq "$(printf '[Init]\r\nCreated=%s\r\n' "$created" | od -An -c)" "$(od -An -c "$ini")" \
    "first-run file holds only Init/Created"
  [[ "$created" =~ ^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\ [1-9][0-9]?/[1-9][0-2]?/20[0-9]{2}$ ]] ||
    fail "Created '$created' is not HH:MM:SS D/M/YYYY"
  expect_eq "${created#* }" "$(date +%-d/%-m/%Y)" "Created date"
  quit_program
}

test_restart_restores_a_size_that_fits_the_screen() {
  local reference
  reference=$(reference_size)
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\nMainWindowHeight=500\nMainWindowWidth=700'
  start_program || return
  expect_eq "$(window_size)" "700x500" "restored size"
  quit_program

  # Wider than the 1280-pixel screen: the width falls back, the height stays.
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\nMainWindowHeight=520\nMainWindowWidth=5000'
  start_program || return
  expect_eq "$(window_size)" "${reference%x*}x520" "size with a too-wide stored width"
  quit_program
  # The window's real width replaces the unusable one at shutdown.
  expect_eq "$(grep -c "^MainWindowWidth=${reference%x*}"$'\r'"$" "$ini")" 1 "stored width after the run"
  expect_eq "$(grep -c "^MainWindowHeight=520"$'\r'"$" "$ini")" 1 "stored height after the run"
}

test_closing_without_resizing_writes_nothing() {
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\nMainWindowHeight=600\nMainWindowWidth=800'
  touch -d '2020-01-01 00:00:00' "$ini"
  local before
  before=$(stat -c '%y %s' "$ini")
  start_program || return
  expect_eq "$(window_size)" "800x600" "restored size"
  quit_program
  expect_eq "$(stat -c '%y %s' "$ini")" "$before" "settings file time and size"
}

test_resizing_is_limited_to_half_the_reference_and_saved() {
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025'
  local reference
  reference=$(reference_size)
  start_program || return
  ok "resize" drive resize "$main" 100 100
  expect_eq "$(window_size)" "$(( ${reference%x*} / 2 ))x$(( ${reference#*x} / 2 ))" "smallest size"
  ok "resize" drive resize "$main" 900 700
  expect_eq "$(window_size)" "900x700" "resized"
  quit_program
  expect_eq "$(file_bytes "$ini")" \
    "$(printf '[Init]\r\nCreated=09:05:30 7/3/2025\r\nMainWindowHeight=700\r\nMainWindowWidth=900\r\n' >"$ini.want"; file_bytes "$ini.want")" \
    "settings after a resize"
  rm -f "$ini.want"
}

test_closing_while_minimised_stores_the_minimised_size() {
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025\nMainWindowHeight=600\nMainWindowWidth=800'
  start_program || return
  ok "minimise" drive show "$main" min
  local minimised
  minimised=$(window_size)
  quit_program
  expect_eq "$(sed -n 's/^MainWindowWidth=\(.*\)\r$/\1/p' "$ini")x$(sed -n 's/^MainWindowHeight=\(.*\)\r$/\1/p' "$ini")" \
    "$minimised" "stored size after closing minimised"
  [ "$minimised" != 800x600 ] || fail "the minimised window kept its full size"
}

test_about_box_from_menu_and_accelerators() {
  start_program || return
  # The menu, as a user at the keyboard opens it: Alt+H, then A.
  ok "keys" drive input "$main" alt+h a
  ok "About box from the Help menu" drive wait dialog=About
  expect_eq "$(drive text dialog=About 110)" "Parlex2" "product name"
  expect_eq "$(drive text dialog=About 111)" "$version_string" "version string"
  screenshot about-box
  ok "keys" drive key dialog=About esc
  ok "Escape closes the About box" drive gone dialog=About

  ok "command" drive post "$main" 104
  ok "About box from its command" drive wait dialog=About
  press_to_close dialog=About 1 "button"

  ok "keys" drive input "$main" alt+/
  ok "About box from Alt+/" drive wait dialog=About
  expect_eq "$(drive text dialog=About 111)" "$version_string" "version string"
  ok "keys" drive input dialog=About esc
  ok "Escape closes the About box" drive gone dialog=About

  ok "keys" drive input "$main" alt+shift+/
  ok "About box from Alt+?" drive wait dialog=About
  ok "close box" drive close dialog=About
  ok "the close box closes the About box" drive gone dialog=About

  expect_eq "$(drive title "$main")" "Parlex2 v1_4" "title after the About box"
  quit_program
}

test_menu_shows_initial_item_states() {
  start_program || return
  # Pictures for the reviewer: Convert Binary checked, the Instrument items grey.
  ok "keys" drive input "$main" alt+r
  sleep 0.3
  screenshot menu-result
  ok "keys" drive input "$main" esc esc alt+i
  sleep 0.3
  screenshot menu-instrument
  ok "keys" drive input "$main" esc esc
  quit_program
}

test_debug_argument_removes_only_with_d1() {
  local dbg="$WINEPREFIX/drive_c/tmp/parlex2.dbg"
  mkdir -p "$(dirname "$dbg")"
  for arg in -d -dx -d0; do
    echo trace >"$dbg"
    start_program "$arg" || return
    quit_program
    [ -f "$dbg" ] || fail "$arg removed the debug file"
  done
  start_program -d1 || return
  quit_program
  [ ! -e "$dbg" ] || fail "-d1 left the debug file"
  start_program -d1 || return  # a missing file is no error
  quit_program
}

test_version_record_names_the_product() {
  expect_eq "$(drive version "$exe" ProductName)" "Parlex2" "ProductName"
  expect_eq "$(drive version "$exe" ProductVersion)" "$version_string" "ProductVersion"
  expect_eq "$(drive version "$exe" FileVersion)" "1.4.16.0" "FileVersion"
}

test_lan_connection_identifies_the_instrument_with_calibration_warning() {
  sim_start --calstr "12_MAR_2023,OVL,10472" || return
  seed_connection 2 "$sim_addr"
  start_program || { end_test; return; }
  # Not connected: every control disabled, the script panel hidden.
  expect_eq "$(drive state "$main" 18002 | cut -d' ' -f1-2)" "disabled visible" "command box at start"
  expect_eq "$(drive state "$main" 18005 | cut -d' ' -f1-2)" "disabled hidden" "script list at start"
  expect_eq "$(drive text "$main" 18001)" "No connection" "panel at start"
  drive post "$main" 32771 1 >/dev/null
  wait_for "connected" title_has "LAN," || { end_test; return; }
  expect_eq "$(drive title "$main")" "Parlex2 v1_4     LAN,VXM66,10472,2.15" "title"
  local id
  for id in 18000 18001 18002 18003; do
    wait_for "control $id enabled" state_is $id 1 enabled
  done
  expect_eq "$(drive focus "$main")" 18002 "focus after connecting"
  local panel
  panel=$(drive text "$main" 18001)
  for line in "Connection Info." "  Interface:  LAN" "  Address:  $sim_addr" "  Model:  VXM66" \
    "  Serial No:  10472" "  Type:  STD" "  BOOT release:  12" "    02 OCT 2026" "    12 MAR 2023" \
    "  >18 months since OVL Calibration  "; do
    grep -qxF -- "$line" <<<"${panel//$'\r'/$'\n'}" || fail "panel has no line '$line'"
  done
  expect_eq "$(sim_received; echo .)" $'\x14\x14^[*IDN?\ncalstr?\ncalver?\nversion?\n.' "identification sent"
  sleep 0.3
  screenshot main-connected
  end_test
}

test_terminal_sends_recalls_saves_and_converts() {
  lan_session || return
  type_command "volt?"
  wait_for "reply to volt?" pane_has $'1.234'
  expect_eq "$(drive text "$main" 18000)" $'> volt?\n1.234' "pane after volt?"
  wait_for "command kept and selected" focus_is 18002
  # ^c goes out as the one control character and a line feed.
  ok "type" drive type "$main" 18002 "^c"
  ok "Send button" drive press "$main" 18003
  wait_for "echo of ^c" pane_has "> ^c"
  wait_for "0x03 0x0A sent" sim_received_has $'volt?\n\x03\n'

  # Up: the command before the last; Down goes round; a click recalls.
  ok "up" drive key "$main" up
  wait_for "Up recalls volt?" text_is 18002 "volt?"
  ok "down" drive key "$main" down
  wait_for "Down recalls ^c" text_is 18002 "^c"
  ok "type" drive type "$main" 18002 "other"
  ok "click" drive clickline "$main" 18000 0
  wait_for "a click on '> volt?' recalls it" text_is 18002 "volt?"
  ok "type" drive type "$main" 18002 "other"
  ok "click" drive clickline "$main" 18000 1
  sleep 0.3
  expect_eq "$(drive text "$main" 18002)" "other" "a click on a reply line changes nothing"

  # Save to File: the pane's lines, each ending CR LF.
  local saved pane
  save_results e2e-results.txt
  wait_for "saved file written" test -s "$saved"
  pane=$(drive text "$main" 18000)
  printf '%s\n' "$pane" | sed 's/$/\r/' >"$saved.want"
  expect_eq "$(file_bytes "$saved")" "$(file_bytes "$saved.want")" "saved file"
  rm -f "$saved" "$saved.want"

  # Convert Binary: on at start, a binary reply shown as text; off, raw.
  clear_pane
  type_command "bvolt?"
  wait_for "binary reply" pane_has $'bvolt?\n'
  sleep 0.3
  local converted raw
  converted=$(drive text "$main" 18000 | sed -n 2p)
  [[ "$converted" =~ ^[[:print:]]+$ ]] || fail "converted reply '$converted' is not plain text"
  ok "convert off" drive post "$main" 32778
  clear_pane
  type_command "bvolt?"
  wait_for "binary reply" pane_has $'bvolt?\n'
  sleep 0.3
  raw=$(drive text "$main" 18000 | sed -n 2p)
  [ -n "$raw" ] && [ "$raw" != "$converted" ] && ! [[ "$raw" =~ ^[[:print:]]+$ ]] ||
    fail "with conversion off the reply '$raw' should be the raw bytes"
  end_test
}

test_read_failure_asks_and_yes_reconnects() {
  # Four identification lines, then the typed command: the link drops.
  lan_session --drop-after 5 || return
  type_command "volt?"
  ok "the question" drive wait dialog=Parlex2
  expect_eq "$(drive text dialog=Parlex2 0xFFFF)" "A problem has occurred trying to read data from the instrument. Would you like to attempt to re-establish communications?" "question"
  expect_eq "$(state_word 18002 1)" disabled "command box while asking"
  screenshot_screen read-failure-question
  press_to_close dialog=Parlex2 6 "Yes"
  wait_for "controls enabled after reconnecting" state_is 18002 1 enabled
  wait_for "identified again" sim_received_has $'volt?\n\x14\x14^[*IDN?\n'
  expect_eq "$(drive title "$main")" "Parlex2 v1_4     LAN,VXM66,10472,2.15" "title after reconnecting"
  [[ "$(drive text "$main" 18000)" == "> volt?"* ]] || fail "the pane lost what it held"
  end_test
}

test_read_failure_while_the_about_box_is_open_is_asked_over_it() {
  lan_session || return
  ok "command" drive post "$main" 104
  ok "About box" drive wait dialog=About
  sim_stop  # the instrument goes away: the poll's read fails
  ok "the question" drive wait dialog=Parlex2
  expect_eq "$(drive owner dialog=Parlex2)" "#32770 About" "owner of the question"
  screenshot_screen read-failure-over-about
  press_to_close dialog=Parlex2 7 "No"
  press_to_close dialog=About 1 "OK"
  end_test
}

test_set_date_time_sends_six_clock_commands() {
  lan_session || return
  ok "type" drive type "$main" 18002 "x"
  ok "focus elsewhere" drive clickline "$main" 18000 0
  local day month year
  day=$(date +%d) month=$(printf '%02d' $(( 10#$(date +%m) - 1 ))) year=$(date +%y)
  ok "Set Date/Time" drive post "$main" 32775
  wait_for "six clock commands" sim_received_has "config,245,"
  local clock
  clock=$(sim_received | grep '^config,24')
  [[ "$clock" =~ ^config,240,[0-2][0-9]$'\n'config,241,[0-5][0-9]$'\n'config,242,[0-5][0-9]$'\n'config,243,$day$'\n'config,244,$month$'\n'config,245,$year$ ]] ||
    fail "clock commands: $clock"
  wait_for "focus back in the command box" focus_is 18002
  wait_for "the instrument's answers" pane_has $'ok\nok\nok\nok\nok\nok'
  end_test
}

test_script_panel_runs_stops_on_failed_test_steps_and_closes() {
  sim_start || return
  seed_connection 2 "$sim_addr"
  printf '%s\r\n' '"volt?' '=stop,onfail' '=10' '=11' '=test,hi' '"curr?' '"temp?' \
    >"$WINEPREFIX/drive_c/e2e-script.txt"
  connect_program "LAN,VXM66" || { end_test; return; }
  local client size reference dy
  client=$(drive client "$main")
  size=$(window_size)
  reference=$(reference_size)
  dy=$((${size#*x} - ${reference#*x}))
  choose_file 32777 "Select Script File" 'C:\e2e-script.txt'
  wait_for "script panel shown" state_is 18005 2 visible
  expect_eq "$(state_word 18002 2)" hidden "command box with a script"
  expect_eq "$(drive items "$main" 18005 | grep -c '')" 7 "script lines"
  expect_eq "$(state_word 18000 6)" $((384 + dy)) "results pane height with a script"
  expect_eq "$(state_word 18008 4)" $((${client#* } - 24 - 82)) "Close button's place"
  expect_eq "$(state_word 18007 4)" $((${client#* } - 24 - 108)) "Step button's place"
  expect_eq "$(state_word 18006 4)" $((${client#* } - 24 - 134)) "Run button's place"
  sleep 0.2
  screenshot script-panel

  ok "Run" drive press "$main" 18006
  wait_for "running" text_is 18006 "Stop"
  expect_eq "$(state_word 18007 1)" disabled "Step while running"
  wait_for "stopped by the failed test" text_is 18006 "Run"
  wait_for "reply shown" pane_has "1.234"
  expect_eq "$(drive items "$main" 18005 | grep '^\*')" '*"curr?' "next line selected"
  sim_received_has "curr?" && fail "the line after the failed test was sent"

  ok "Step" drive press "$main" 18007
  wait_for "one step" sim_received_has $'curr?\n'
  sleep 0.5
  sim_received_has "temp?" && fail "a step ran more than one line"
  expect_eq "$(drive items "$main" 18005 | grep '^\*')" '*"temp?' "selection after the step"

  ok "Close" drive press "$main" 18008
  wait_for "command box back" state_is 18002 2 visible
  expect_eq "$(state_word 18005 2)" hidden "script list after Close"
  expect_eq "$(state_word 18000 6)" $((514 + dy)) "results pane height after Close"
  rm -f "$WINEPREFIX/drive_c/e2e-script.txt"
  end_test
}

test_measure_supply_runs_in_the_window_and_saves_both_reports() {
  sim_start --reading 'volt?=+4.98765E+00' --reading 'curr?=0.532' --reading 'temp?=41.7' || return
  seed_connection 2 "$sim_addr"
  local source c_drive="$WINEPREFIX/drive_c"
  source=$(cd "$(dirname "$0")/../.." && pwd)
  cp "$source/examples/measure_supply.txt" "$c_drive/measure_supply.txt"
  rm -f "$c_drive"/e2e-supply*
  connect_program "LAN,VXM66" || { end_test; return; }
  # Nothing recorded yet: the item does nothing.
  drive post "$main" 32784 >/dev/null
  sleep 0.5
  UIDRIVER_TIMEOUT_MS=0 drive wait "dialog=Save Test Report" >/dev/null &&
    fail "Save Test Report opened before any test was recorded"
  menu_screenshot alt+r menu-result-no-report

  choose_file 32777 "Select Script File" 'C:\measure_supply.txt'
  wait_for "script panel shown" state_is 18005 2 visible
  ok "Run" drive press "$main" 18006
  wait_for "running" text_is 18006 "Stop"
  UIDRIVER_TIMEOUT_MS=30000 drive waittext "$main" 18000 "done" >/dev/null || fail "the run did not end"
  wait_for "stopped at the end" text_is 18006 "Run"
  local pane
  pane=$(drive text "$main" 18000)
  for line in "> volt?" "+4.98765E+00" "> curr?" "0.532" "> temp?" "41.7" "done"; do
    grep -qxF -- "$line" <<<"$pane" || fail "pane has no line '$line'"
  done
  sleep 0.2
  screenshot measure-supply-run
  menu_screenshot alt+r menu-result-report

  # The file's extension decides the format; without one, the file type chosen.
  local name
  for name in 'e2e-supply.xml' 'e2e-supply.json' 'e2e-supply-typed'; do
    ok "Save Test Report" drive post "$main" 32784
    ok "save dialog ($name)" drive wait "dialog=Save Test Report"
    [ "$name" = e2e-supply-typed ] && { ok "JSON type" drive pick "dialog=Save Test Report" 1136 1; }
    ok "file name" drive type "dialog=Save Test Report" 1148 "C:\\$name"
    [ "$name" = e2e-supply-typed ] && { sleep 0.3; screenshot_screen save-test-report-dialog; }
    press_to_close "dialog=Save Test Report" 1 "Save"
  done
  wait_for "JUnit report" test -s "$c_drive/e2e-supply.xml"
  wait_for "JSON report" test -s "$c_drive/e2e-supply.json"
  # The dialog adds the chosen type's extension to a name that has none.
  local typed="$c_drive/e2e-supply-typed.json"
  wait_for "report for the name without an extension" test -s "$typed"
  [ "$(head -c 1 "$typed")" = "{" ] || fail "the JSON file type gave no JSON report"

  local schemas="$source/tests/data/junit" check
  for xsd in JUnit.xsd jenkins-junit-10.xsd; do
    check=$(xmllint --noout --schema "$schemas/$xsd" "$c_drive/e2e-supply.xml" 2>&1) ||
      fail "JUnit report against $xsd: $check"
  done
  for json in "$c_drive/e2e-supply.json" "$typed"; do
    check=$(/usr/bin/python3 "$source/tests/tools/validate_json.py" \
      "$source/docs/test-report.schema.json" "$json" 2>&1) || fail "JSON report: $check"
  done
  # The window identified the instrument: the record names it.
  check=$(/usr/bin/python3 - "$c_drive/e2e-supply.json" <<'EOF'
import json, sys
r = json.load(open(sys.argv[1], encoding="utf-8"))
print(r["status"], r["instrument"]["model"], r["instrument"]["serial"], r["failures"])
for t in r["tests"]:
    print(t["line"], t["condition"], t["value"], t["passed"], t["name"])
EOF
)
  expect_eq "$check" "failed VXM66 10472 1
24 out 4.98765 True Supply voltage 4.75 V to 5.25 V
32 hi 0.532 False Load current at most 0.5 A
40 hi 2.6534298000000005 True Power from the stored readings, V x A, at most 3 W
47 hi 41.7 True Heatsink temperature below 60 C" "JSON report's tests"
  grep -q '<failure type="hi" message="0.532 is above the upper limit 0.5">' "$c_drive/e2e-supply.xml" ||
    fail "JUnit report has no failure for the load current"
  grep -q '<property name="instrument.model" value="VXM66"/>' "$c_drive/e2e-supply.xml" ||
    fail "JUnit report does not name the instrument"
  rm -f "$c_drive"/e2e-supply* "$c_drive/measure_supply.txt"
  end_test
}

test_com_port_connection_to_the_simulators_pty() {
  sim_start_pty COM9 || return
  seed_connection 1 COM9
  connect_program "USB,VXM66,10472,2.15" || { end_test; return; }
  type_command "temp?"
  wait_for "reply over the COM port" pane_has $'> temp?\n23.5'
  expect_eq "$(sim_received; echo .)" $'\x14\x14^[*IDN?\ncalstr?\ncalver?\nversion?\ntemp?\n.' "bytes on the port"
  # The port goes away (the instrument unplugged): the question, and No
  # leaves the window disconnected with the pane as it was.
  sim_stop
  if drive wait dialog=Parlex2 >/dev/null; then
    press_to_close dialog=Parlex2 7 "No"
    wait_for "controls disabled" state_is 18002 1 disabled
    expect_eq "$(drive text "$main" 18000)" $'> temp?\n23.5' "pane after the port went away"
    expect_eq "$(drive text "$main" 18001)" "No connection" "panel after the port went away"
  else
    fail "no read-failure question when the port went away"
  fi
  end_test
}

test_half_size_keeps_anchored_controls_in_place() {
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025'
  local reference rw rh
  reference=$(reference_size)
  rw=${reference%x*} rh=${reference#*x}
  start_program || return
  ok "resize" drive resize "$main" 100 100
  local client cw ch
  client=$(drive client "$main")
  cw=${client% *} ch=${client#* }
  expect_eq "$(drive state "$main" 18000 | cut -d' ' -f3-)" \
    "6 6 $((648 + rw / 2 - rw)) $((514 + rh / 2 - rh))" "results pane at half size"
  expect_eq "$(drive state "$main" 18001 | cut -d' ' -f3-)" \
    "$((cw - 138 - 6)) 6 138 $((514 + rh / 2 - rh))" "panel at half size"
  expect_eq "$(drive state "$main" 18002 | cut -d' ' -f3-)" \
    "6 $((ch - 24 - 6)) $((706 + rw / 2 - rw)) 24" "command box at half size"
  expect_eq "$(drive state "$main" 18003 | cut -d' ' -f3-)" \
    "$((cw - 75 - 6)) $((ch - 24 - 6)) 75 24" "Send button at half size"
  local before
  before=$(drive state "$main" 18003)
  ok "minimise" drive show "$main" min
  ok "restore" drive show "$main" restore
  expect_eq "$(drive state "$main" 18003)" "$before" "Send button after minimise and restore"
  quit_program
}

# ---- runner ----------------------------------------------------------------

tests=()
for name in $(declare -F | awk '{print $3}' | grep '^test_'); do
  [[ -z "$pattern" || "$name" == *$pattern* ]] && tests+=("$name")
done
# In the order written: this file's first, then each sourced file's.
shopt -s extdebug
mapfile -t tests < <(for t in "${tests[@]}"; do
  read -r _ line file <<<"$(declare -F "$t")"
  echo "$([ "$file" -ef "$0" ] && echo 0 || echo 1) $file $line $t"
done | sort -k1,1n -k2,2 -k3,3n | cut -d' ' -f4)
shopt -u extdebug

total=${#tests[@]}
passed=0
failed_names=()
echo "Test project $build (end-to-end, Parlex2.exe under Wine)"
run_started=$(date +%s%N)
for i in "${!tests[@]}"; do
  name=${tests[$i]}
  label="e2e.${name#test_}"
  printf '      Start %2d: %s\n' $((i + 1)) "$label"
  failures=0
  t0=$(date +%s%N)
  "$name"
  # Nothing of one test may leak into the next.
  if UIDRIVER_TIMEOUT_MS=0 wine "$driver" wait "$main" >/dev/null 2>&1; then
    fail "Parlex2.exe was left running"
    UIDRIVER_TIMEOUT_MS=3000 wine "$driver" quit "$main" >/dev/null 2>&1
  fi
  ms=$(( ($(date +%s%N) - t0) / 1000000 ))
  if [ "$failures" -eq 0 ]; then
    result="  Passed"
    passed=$((passed + 1))
  else
    result="***Failed"
    failed_names+=("$label")
  fi
  printf '%2d/%d Test #%d: %s %s %s %5d.%02d sec\n' $((i + 1)) "$total" $((i + 1)) "$label" \
    "$(printf '%*s' $((60 - ${#label})) '' | tr ' ' '.')" "$result" $((ms / 1000)) $((ms % 1000 / 10))
done
ms=$(( ($(date +%s%N) - run_started) / 1000000 ))
echo
if [ "$total" -gt 0 ]; then
  echo "$((passed * 100 / total))% tests passed, $((total - passed)) tests failed out of $total"
else
  echo "0% tests passed, 0 tests failed out of 0"
fi
echo
printf 'Total Test time (real) = %d.%02d sec\n' $((ms / 1000)) $((ms % 1000 / 10))
echo "Screenshots: $shots"
if [ ${#failed_names[@]} -gt 0 ]; then
  echo
  echo "The following tests FAILED:"
  printf '\t%s\n' "${failed_names[@]}"
  exit 1
fi
[ "$total" -gt 0 ]
