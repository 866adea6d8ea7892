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

exe=$build/win32/Parlex2.exe
driver=$build/tools/uidriver/uidriver.exe
shots=$build/screenshots
mkdir -p "$shots"
# The user's local application data folder of the prefix.
for appdata in "$WINEPREFIX"/drive_c/users/*/AppData/Local; do
  [[ "$appdata" == */users/Public/* ]] || break
done
company="$appdata/Veltmark"
ini="$company/Parlexer/Parlexer.ini"
main=class=OVParlexWClass
version_string="v1_4 (build 16) Jul 14 2025"

# ---- helpers ---------------------------------------------------------------

failures=0  # of the test running now

drive() {  # the driver's output without the console's carriage returns
  local out rc
  out=$(wine "$driver" "$@" 2>&1)
  rc=$?
  printf '%s' "${out//$'\r'/}"
  return $rc
}

fail() {
  echo "    FAILED: $*"
  failures=$((failures + 1))
}

expect_eq() {  # ACTUAL EXPECTED WHAT
  [ "$1" == "$2" ] || fail "$3: expected '$2', got '$1'"
}

ok() {  # WHAT COMMAND...: the command must succeed
  local what=$1
  shift
  "$@" >/dev/null || fail "$what"
}

start_program() {
  # Into a file: the program keeps the driver's output open for its lifetime,
  # so a pipe would never reach its end.
  wine "$driver" start "$exe" "$@" >"$build/e2e-start.log" 2>&1 ||
    { fail "Parlex2.exe did not open its window: $(cat "$build/e2e-start.log")"; return 1; }
}

quit_program() {
  local code
  code=$(drive quit "$main") || { fail "Parlex2.exe did not end"; return 1; }
  expect_eq "$code" 0 "exit code"
}

window_size() { drive rect "$main" | awk '{print $3 "x" $4}'; }

# The reference size: 808 x 608 and twice the sizing frame beyond 4 pixels.
reference_size() {
  local metrics fw fh
  metrics=$(drive metrics)
  fw=$(awk '{print $3}' <<<"$metrics")
  fh=$(awk '{print $4}' <<<"$metrics")
  echo "$((808 + (fw > 4 ? 2 * (fw - 4) : 0)))x$((608 + (fh > 4 ? 2 * (fh - 4) : 0)))"
}

screenshot() {  # NAME: the main window's area of the screen
  local rect x y w h
  rect=$(drive rect "$main") || return 0
  read -r x y w h <<<"$rect"
  import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$shots/$1.png" 2>/dev/null ||
    fail "no screenshot $1"
}

seed_settings() {  # TEXT: the settings file as given (\n becomes CR LF)
  mkdir -p "$(dirname "$ini")"
  printf '%s' "$1" | sed 's/$/\r/' >"$ini"
}

file_bytes() { od -An -c "$1" | tr -s ' \n' ' '; }

source "$(dirname "$0")/connect-tests.sh"

# ---- tests -----------------------------------------------------------------

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
  ok "button" drive press dialog=About 1
  ok "OK closes the About box" drive gone dialog=About

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

test_commands_not_yet_built_do_nothing() {
  start_program || return
  local id
  for id in 122 123 124 126 127 129 18003 32773 32778 32771 32774 32775 32776 32777 18006 18007 18008; do
    ok "post $id" drive post "$main" "$id"
  done
  ok "main window" drive send "$main" 123
  expect_eq "$(drive title "$main")" "Parlex2 v1_4" "title after the commands"
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

# ---- runner ----------------------------------------------------------------

tests=()
for name in $(declare -F | awk '{print $3}' | grep '^test_'); do
  [[ -z "$pattern" || "$name" == *$pattern* ]] && tests+=("$name")
done
# In the order written above.
mapfile -t tests < <(for t in "${tests[@]}"; do echo "$(grep -n "^$t()" "$0" | cut -d: -f1) $t"; done |
  sort -n | cut -d' ' -f2)

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
