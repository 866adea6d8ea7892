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
for part in "$(dirname "$0")"/*-tests.sh; do source "$part"; done

# ---- tests -----------------------------------------------------------------

window_size() { drive rect "$main" | awk '{print $3 "x" $4}'; }

# The reference size: 808 x 608 and twice the sizing frame beyond 4 pixels.
reference_size() {
  local fw fh
  read -r _ _ fw fh <<<"$(drive metrics)"
  echo "$((808 + (fw > 4 ? 2 * (fw - 4) : 0)))x$((608 + (fh > 4 ? 2 * (fh - 4) : 0)))"
}

stored_size() { echo "$(ini_value MainWindowWidth)x$(ini_value MainWindowHeight)"; }

test_first_run_creates_settings_and_opens_at_reference_size() {
  rm -rf "$company"
  start_program || return
  expect_eq "$(drive title "$main")" "Parlex2 v1_4" "title before any connection"
  expect_eq "$(window_size)" "$(reference_size)" "first window size"
  screenshot main-window
  # The menus as they first are: Convert Binary checked, the Instrument items grey.
  menu_screenshot alt+r menu-result
  menu_screenshot alt+i menu-instrument
  local created
  created=$(ini_value Created)
  expect_eq "$(file_bytes "$ini")" "$(printf '[Init]\r\nCreated=%s\r\n' "$created" | file_bytes -)" \
    "first-run file holds only Init/Created"
  [[ "$created" =~ ^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\ $(date +%-d/%-m/%Y)$ ]] ||
    fail "Created '$created' is not HH:MM:SS and today's D/M/YYYY"
  quit_program
}

test_window_size_is_restored_fitted_to_the_screen_and_stored() {
  local width before minimised
  width=$(reference_size | cut -dx -f1)
  # A size that fits comes back, and closing without resizing writes nothing.
  seed_init $'MainWindowHeight=500\nMainWindowWidth=700'
  touch -d '2020-01-01 00:00:00' "$ini"
  before=$(stat -c '%y %s' "$ini")
  start_program || return
  expect_eq "$(window_size)" "700x500" "restored size"
  quit_program
  expect_eq "$(stat -c '%y %s' "$ini")" "$before" "settings file time and size"

  # Wider than the 1280-pixel screen: the width falls back, the height stays,
  # and the window's real width replaces the unusable one at shutdown.
  seed_init $'MainWindowHeight=520\nMainWindowWidth=5000'
  start_program || return
  expect_eq "$(window_size)" "${width}x520" "size with a too-wide stored width"
  quit_program
  expect_eq "$(stored_size)" "${width}x520" "stored size after the run"

  start_program || return
  ok "minimise" drive show "$main" min
  minimised=$(window_size)
  quit_program
  expect_eq "$(stored_size)" "$minimised" "stored size after closing minimised"
  [ "$minimised" != "${width}x520" ] || fail "the minimised window kept its full size"
}

test_resizing_stops_at_half_the_reference_keeps_anchors_and_is_saved() {
  seed_init
  local reference client send
  reference=$(reference_size)
  start_program || return
  ok "resize" drive resize "$main" 100 100
  expect_eq "$(window_size)" "$(( ${reference%x*} / 2 ))x$(( ${reference#*x} / 2 ))" "smallest size"
  # The pane shrinks with the window; the Send button keeps to the bottom right.
  client=$(drive client "$main")
  expect_eq "$(drive state "$main" 18000 | cut -d' ' -f3-)" \
    "6 6 $((648 - ${reference%x*} / 2)) $((514 - ${reference#*x} / 2))" "results pane at half size"
  send=$(drive state "$main" 18003)
  expect_eq "${send#* * }" "$((${client% *} - 81)) $((${client#* } - 30)) 75 24" "Send button at half size"
  ok "minimise" drive show "$main" min
  ok "restore" drive show "$main" restore
  expect_eq "$(drive state "$main" 18003)" "$send" "Send button after minimise and restore"
  ok "resize" drive resize "$main" 900 700
  expect_eq "$(window_size)" "900x700" "resized"
  quit_program
  expect_eq "$(file_bytes "$ini")" \
    "$(printf '[Init]\r\nCreated=09:05:30 7/3/2025\r\nMainWindowHeight=700\r\nMainWindowWidth=900\r\n' | file_bytes -)" \
    "settings after a resize"
}

test_about_box_from_menu_and_accelerators() {
  start_program || return
  # Each way to open it (the Help menu at the keyboard, its command, Alt+/
  # and Alt+?), each with a way to close it.
  local way open shut
  for way in "input alt+h a|key esc" "post 104|press 1" "input alt+/|input esc" "input alt+shift+/|close"; do
    read -ra open <<<"${way%|*}"
    read -ra shut <<<"${way#*|}"
    ok "${open[*]}" drive "${open[0]}" "$main" "${open[@]:1}"
    ok "About box from ${open[*]}" drive wait dialog=About
    expect_eq "$(drive text dialog=About 110)|$(drive text dialog=About 111)" "Parlex2|$version_string" \
      "About box from ${open[*]}"
    screenshot about-box
    ok "${shut[*]}" drive "${shut[0]}" dialog=About "${shut[@]:1}"
    ok "${shut[*]} closes the About box" drive gone dialog=About
  done
  expect_eq "$(drive title "$main")" "Parlex2 v1_4" "title after the About box"
  quit_program
}

test_debug_argument_removes_only_with_d1() {
  local dbg="$WINEPREFIX/drive_c/tmp/parlex2.dbg" run
  mkdir -p "$(dirname "$dbg")"
  echo trace >"$dbg"
  # The second -d1 finds no file, which is no error.
  for run in -d0:kept -d1:removed -d1:removed; do
    start_program "${run%:*}" || return
    quit_program
    expect_eq "$([ -e "$dbg" ] && echo kept || echo removed)" "${run#*:}" "debug file after ${run%:*}"
  done
}

test_version_record_names_the_product() {
  expect_eq "$(drive version "$exe" ProductName)" "Parlex2" "ProductName"
  expect_eq "$(drive version "$exe" ProductVersion)" "$version_string" "ProductVersion"
  expect_eq "$(drive version "$exe" FileVersion)" "1.4.16.0" "FileVersion"
}

test_lan_connection_identifies_the_instrument_with_calibration_warning() {
  lan_session --calstr "12_MAR_2023,OVL,10472" || return
  expect_eq "$(drive title "$main")" "Parlex2 v1_4     LAN,VXM66,10472,2.15" "title"
  expect_eq "$(states "$main" 18000 18001 18002 18003)" \
    "enabled visible|enabled visible|enabled visible|enabled visible" "controls after connecting"
  expect_eq "$(drive focus "$main")" 18002 "focus after connecting"
  has_lines "$(drive text "$main" 18001)" "panel" "Connection Info." "  Interface:  LAN" \
    "  Address:  $sim_addr" "  Model:  VXM66" "  Serial No:  10472" "  Type:  STD" "  BOOT release:  12" \
    "    02 OCT 2026" "    12 MAR 2023" "  >18 months since OVL Calibration  "
  screenshot main-connected
  end_test
}

test_terminal_sends_recalls_and_converts() {
  lan_session || return
  type_command "volt?"
  wait_for "reply to volt?" pane_has $'1.234'
  expect_eq "$(drive text "$main" 18000)" $'> volt?\n1.234' "pane after volt?"
  wait_for "command kept and selected" focus_is 18002
  ok "type" drive type "$main" 18002 "^c"
  ok "Send button" drive press "$main" 18003
  wait_for "echo of ^c" pane_has "> ^c"

  # Up: the command before the last; Down goes round; a click recalls.
  ok "up" drive key "$main" up
  wait_for "Up recalls volt?" text_is 18002 "volt?"
  ok "down" drive key "$main" down
  wait_for "Down recalls ^c" text_is 18002 "^c"
  ok "type" drive type "$main" 18002 "other"
  ok "click" drive clickline "$main" 18000 0
  wait_for "a click on '> volt?' recalls it" text_is 18002 "volt?"

  # Convert Binary: on at start, a binary reply shown as text; off, raw.
  local shown=() converted raw
  for _ in on off; do
    clear_pane
    type_command "bvolt?"
    wait_for "binary reply" pane_has $'bvolt?\n'
    sleep 0.3
    shown+=("$(drive text "$main" 18000 | sed -n 2p)")
    ok "Convert Binary" drive post "$main" 32778
  done
  converted=${shown[0]} raw=${shown[1]}
  [[ "$converted" =~ ^[[:print:]]+$ ]] || fail "converted reply '$converted' is not plain text"
  [ -n "$raw" ] && [ "$raw" != "$converted" ] && ! [[ "$raw" =~ ^[[:print:]]+$ ]] ||
    fail "with conversion off the reply '$raw' should be the raw bytes"
  end_test
}

# The read-failure question: Yes reconnects with the pane as it was; asked
# while the About box is open, it stands over the About box.
test_read_failure_asks_yes_reconnects_and_it_is_asked_over_the_about_box() {
  # Four identification lines, then the typed command: the link drops.
  lan_session --drop-after 5 || return
  type_command "volt?"
  expect_box Parlex2 "$read_failure_question" "question"
  expect_eq "$(state_word 18002 1)" disabled "command box while asking"
  screenshot_screen read-failure-question
  press_to_close dialog=Parlex2 6 "Yes"
  wait_for "controls enabled after reconnecting" state_is 18002 1 enabled
  expect_eq "$(drive title "$main")" "Parlex2 v1_4     LAN,VXM66,10472,2.15" "title after reconnecting"
  [[ "$(drive text "$main" 18000)" == "> volt?"* ]] || fail "the pane lost what it held"

  ok "command" drive post "$main" 104
  ok "About box" drive wait dialog=About
  sim_stop  # the instrument goes away: the poll's read fails
  expect_box Parlex2 "$read_failure_question" "question over the About box" "#32770 About"
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

# A script that stops on a failed test runs, steps and closes in the window's
# script panel; then measure_supply runs to its end and its record is saved.
test_scripts_run_step_close_and_save_both_reports() {
  lan_session --reading 'volt?=+4.98765E+00' --reading 'curr?=0.532' --reading 'temp?=41.7' || return
  local c_drive="$WINEPREFIX/drive_c" reference dy
  printf '%s\r\n' '"volt?' '=stop,onfail' '=10' '=11' '=test,hi' '"curr?' '"temp?' >"$c_drive/e2e-script.txt"
  cp "$(dirname "$0")/../../examples/measure_supply.txt" "$c_drive/measure_supply.txt"
  rm -f "$c_drive"/e2e-supply*
  # Nothing recorded yet: the item does nothing.
  drive post "$main" 32784 >/dev/null
  sleep 0.5
  UIDRIVER_TIMEOUT_MS=0 drive wait "dialog=Save Test Report" >/dev/null &&
    fail "Save Test Report opened before any test was recorded"
  menu_screenshot alt+r menu-result-no-report

  reference=$(reference_size)
  dy=$(($(window_size | cut -dx -f2) - ${reference#*x}))
  choose_file 32777 "Select Script File" 'C:\e2e-script.txt'
  wait_for "script panel shown" state_is 18005 2 visible
  expect_eq "$(state_word 18002 2)" hidden "command box with a script"
  expect_eq "$(drive items "$main" 18005 | grep -c '')" 7 "script lines"
  expect_eq "$(state_word 18000 6)" $((384 + dy)) "results pane height with a script"
  screenshot script-panel

  ok "Run" drive press "$main" 18006
  wait_for "running" text_is 18006 "Stop"
  expect_eq "$(state_word 18007 1)" disabled "Step while running"
  wait_for "stopped by the failed test" text_is 18006 "Run"
  wait_for "reply shown" pane_has "+4.98765E+00"
  expect_eq "$(drive items "$main" 18005 | grep '^\*')" '*"curr?' "next line selected"

  ok "Step" drive press "$main" 18007
  wait_for "one step" sim_received_has $'curr?\n'
  sleep 0.5  # a step that ran on would have moved the selection by now
  expect_eq "$(drive items "$main" 18005 | grep '^\*')" '*"temp?' "selection after the step"

  ok "Close" drive press "$main" 18008
  wait_for "command box back" state_is 18002 2 visible
  expect_eq "$(state_word 18005 2)" hidden "script list after Close"
  expect_eq "$(state_word 18000 6)" $((514 + dy)) "results pane height after Close"

  clear_pane
  choose_file 32777 "Select Script File" 'C:\measure_supply.txt'
  wait_for "script panel shown" state_is 18005 2 visible
  ok "Run" drive press "$main" 18006
  wait_for "running" text_is 18006 "Stop"
  UIDRIVER_TIMEOUT_MS=30000 drive waittext "$main" 18000 "done" >/dev/null || fail "the run did not end"
  wait_for "stopped at the end" text_is 18006 "Run"
  has_lines "$(drive text "$main" 18000)" "pane" "> volt?" "+4.98765E+00" "> curr?" "0.532" "> temp?" "41.7" \
    "done"
  screenshot measure-supply-run
  menu_screenshot alt+r menu-result-report

  # The file's extension decides the format; without one, the file type chosen.
  local name
  for name in 'e2e-supply.xml' 'e2e-supply.json' 'e2e-supply-typed'; do
    ok "Save Test Report" drive post "$main" 32784
    ok "save dialog ($name)" drive wait "dialog=Save Test Report"
    [ "$name" = e2e-supply-typed ] && { ok "JSON type" drive pick "dialog=Save Test Report" 1136 1; }
    ok "file name" drive type "dialog=Save Test Report" 1148 "C:\\$name"
    [ "$name" = e2e-supply-typed ] && screenshot_screen save-test-report-dialog
    press_to_close "dialog=Save Test Report" 1 "Save"
  done
  wait_for "JUnit report" test -s "$c_drive/e2e-supply.xml"
  wait_for "JSON report" test -s "$c_drive/e2e-supply.json"
  # The dialog adds the chosen type's extension to a name that has none.
  local typed="$c_drive/e2e-supply-typed.json"
  wait_for "report for the name without an extension" test -s "$typed"
  [ "$(head -c 1 "$typed")" = "{" ] || fail "the JSON file type gave no JSON report"

  # The record's contents are the script runner's; what the window adds is the
  # instrument it identified.
  local check
  check=$(/usr/bin/python3 -c 'import json, sys
r = json.load(open(sys.argv[1], encoding="utf-8"))
print(r["status"], r["instrument"]["model"], r["instrument"]["serial"], r["failures"], len(r["tests"]))' \
    "$c_drive/e2e-supply.json" 2>&1)
  expect_eq "$check" "failed VXM66 10472 1 4" "JSON report"
  grep -q '<property name="instrument.model" value="VXM66"/>' "$c_drive/e2e-supply.xml" ||
    fail "JUnit report does not name the instrument"
  rm -f "$c_drive"/e2e-supply* "$c_drive/measure_supply.txt" "$c_drive/e2e-script.txt"
  end_test
}

# ---- runner ----------------------------------------------------------------

# In the order written: this file's first, then each sourced file's.
mapfile -t tests < <(cd "$(dirname "$0")" && sed -n 's/^\(test_[A-Za-z0-9_]*\)() {$/\1/p' \
  "$(basename "$0")" ./*-tests.sh | grep -F -- "$pattern")

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
echo "$((total ? passed * 100 / total : 0))% tests passed, $((total - passed)) tests failed out of $total"
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
