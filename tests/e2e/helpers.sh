# The plumbing of the end-to-end tests, sourced by run-e2e.sh once `build`
# is set: the driver, checks that record failures, the program's start and
# end, screenshots, settings files, file dialogs and instrument simulators.

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
connect_dialog=dialog=Connect
version_string="v1_4 (build 16) Jul 14 2025"
read_failure_question="A problem has occurred trying to read data from the instrument. Would you like \
to attempt to re-establish communications?"

# ---- checks ----------------------------------------------------------------

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

wait_within() {  # SECONDS WHAT COMMAND...: retries the command until it succeeds
  local seconds=$1 what=$2 i
  shift 2
  for i in $(seq 1 $((seconds * 20))); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  fail "$what"
  return 1
}

wait_for() { wait_within 10 "$@"; }  # WHAT COMMAND...

title_is() { [ "$(drive title "$main")" == "$1" ]; }
title_has() { [[ "$(drive title "$main")" == *"$1"* ]]; }
text_is() { [ "$(drive text "$main" "$1")" == "$2" ]; }
pane_has() { [[ "$(drive text "$main" 18000)" == *"$1"* ]]; }
state_word() { drive state "$main" "$1" | awk -v n="$2" '{print $n}'; }
state_is() { [ "$(state_word "$1" "$2")" == "$3" ]; }  # ID FIELD VALUE
# Each control ID of WINDOW as a user sees it, "enabled visible", "disabled
# visible" or "hidden", joined by "|".
states() {  # WINDOW ID...
  local id
  for id in "${@:2}"; do drive state "$1" "$id" | cut -d' ' -f1-2; done |
    sed 's/^[a-z]* hidden$/hidden/' | paste -sd'|'
}
focus_is() { [ "$(drive focus "$main")" == "$1" ]; }
file_bytes() { od -An -c "$1" | tr -s ' \n' ' '; }
has_lines() {  # TEXT WHAT LINE...: each LINE is a whole line of TEXT
  local line
  for line in "${@:3}"; do grep -qxF -- "$line" <<<"$1" || fail "$2 has no line '$line'"; done
}

# ---- the program -----------------------------------------------------------

launch_program() {  # ARGUMENTS...: Parlex2.exe started, its first window up
  # Into a file: the program keeps the driver's output open for its lifetime,
  # so a pipe would never reach its end.
  local started=$SECONDS
  if ! wine "$driver" start "$exe" "$@" >"$build/e2e-start.log" 2>&1; then
    # Wine now and then fails to start a process at all: it ends at once
    # without a window. That start is made again, once, and said in the log.
    # A slow "showed no window" is a program still running without its
    # window, which is a failure.
    grep -q 'showed no window' "$build/e2e-start.log" && [ $((SECONDS - started)) -lt 5 ] &&
      echo "    note: Parlex2.exe ended before showing a window; started again" &&
      wine "$driver" start "$exe" "$@" >"$build/e2e-start.log" 2>&1 ||
      { fail "Parlex2.exe did not open its window: $(cat "$build/e2e-start.log")"; return 1; }
  fi
}

# Parlex2.exe opens the Connect dialog as soon as it starts: left up here, or
# cancelled by start_program for the tests of the window itself.
start_at_connect_dialog() {  # ARGUMENTS...
  launch_program "$@" || return
  drive wait "$connect_dialog" >/dev/null || { fail "no Connect dialog at start"; return 1; }
}

start_program() {  # ARGUMENTS...: started, with the Connect dialog cancelled
  start_at_connect_dialog "$@" || return
  drive press "$connect_dialog" 2 >/dev/null
  drive gone "$connect_dialog" >/dev/null || fail "Cancel did not close the Connect dialog"
}

quit_program() {
  local code
  code=$(drive quit "$main") || { fail "Parlex2.exe did not end"; return 1; }
  expect_eq "$code" 0 "exit code"
}

# A simulator on a LAN address and the program connected to it on the seeded
# settings, as the read-failure question's Yes reconnects (the Connect
# dialog's own tests drive the dialog).
lan_session() {  # SIM-ARGS...
  sim_start "$@" && seed_connection 2 "$sim_addr" && start_program &&
    drive post "$main" 32771 1 >/dev/null && wait_for "connected" title_has "LAN,VXM66" &&
    wait_for "controls enabled" state_is 18002 1 enabled || { end_test; return 1; }
}

press_to_close() {  # WINDOW BUTTON-ID WHAT: the button closes its window
  ok "$3" drive press "$1" "$2"
  ok "$3 closes $1" drive gone "$1"
}

# A message box captioned CAPTION saying TEXT (its CR LF read as LF), owned
# by OWNER ("#32770 Caption" of a dialog, "none", or anything when not given).
expect_box() {  # CAPTION TEXT WHAT [OWNER]
  drive wait "dialog=$1" >/dev/null || { fail "$3: no \"$1\" message"; return 1; }
  expect_eq "$(drive text "dialog=$1" 65535 | tr -d '\r')" "$2" "$3"
  [ -z "${4:-}" ] || expect_eq "$(drive owner "dialog=$1")" "$4" "$3: owner of the message"
}

clear_pane() {
  ok "clear" drive post "$main" 32773
  wait_for "pane cleared" text_is 18000 ""
}

type_command() {  # TEXT: typed into the command box and sent with Enter
  ok "type" drive type "$main" 18002 "$1"
  ok "enter" drive key "$main" enter
}

# A file named through the dialog a menu command opens.
choose_file() {  # COMMAND-ID CAPTION WINDOWS-PATH
  ok "$2" drive post "$main" "$1"
  ok "dialog $2" drive wait "dialog=$2"
  ok "file name" drive type "dialog=$2" 1148 "$3"
  ok "OK in $2" drive press "dialog=$2" 1
  ok "dialog $2 closes" drive gone "dialog=$2"
}

# Saves the results through Result > Save to File... as C:\NAME; `saved` is
# the file's path once it is written.
save_results() {  # NAME
  saved="$WINEPREFIX/drive_c/$1"
  rm -f "$saved"
  choose_file 129 "Save As" "C:\\$1"
  wait_for "saved file" test -s "$saved"
}

# Ends the test's program and simulators whatever happened.
end_test() {
  if UIDRIVER_TIMEOUT_MS=0 wine "$driver" wait "$main" >/dev/null 2>&1; then
    # A message box left open would keep the window from closing.
    UIDRIVER_TIMEOUT_MS=0 wine "$driver" close dialog=Parlex2 >/dev/null 2>&1
    quit_program
  fi
  sim_stop
}

# ---- pictures and settings -------------------------------------------------

screenshot() {  # NAME [WINDOW]: the window's area of the screen (the main window's)
  local rect x y w h
  sleep 0.3  # what was just shown is drawn
  rect=$(drive rect "${2:-$main}") || { [ -z "${2:-}" ] || fail "no window $2 for screenshot $1"; return 0; }
  read -r x y w h <<<"$rect"
  import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$shots/$1.png" 2>/dev/null ||
    fail "no screenshot $1"
}

# Menu states cannot be read from another process under Wine: a picture of
# the menu that KEY opens shows them.
menu_screenshot() {  # KEY NAME
  ok "keys" drive input "$main" "$1"
  screenshot "$2"
  ok "keys" drive input "$main" esc esc
}

screenshot_screen() {  # NAME: the whole screen (a message box may stand beyond the window)
  sleep 0.3
  import -display "$DISPLAY" -window root "$shots/$1.png" 2>/dev/null || fail "no screenshot $1"
}

seed_settings() {  # TEXT: the settings file as given (\n becomes CR LF)
  mkdir -p "$(dirname "$ini")"
  printf '%s' "$1" | sed 's/$/\r/' >"$ini"
}

seed_init() {  # [LINES]: the file of an earlier run, LINES after its Created line
  seed_settings $'[Init]\nCreated=09:05:30 7/3/2025'"${1:+$'\n'$1}"
}

seed_connection() {  # KIND ADDRESS-OR-PORT [BAUD]: the settings file's "Connect" section
  if [ "$1" = 2 ]; then
    seed_init $'[Connect]\nInterface=2\nComPort=\nBaudRate=0\nIPAddr='"$2"
  else
    seed_init $'[Connect]\nInterface='"$1"$'\nComPort='"$2"$'\nBaudRate='"${3:-19200}"$'\nIPAddr='
  fi
}

ini_value() { sed -n "s/^$1=\(.*\)\r$/\1/p" "$ini"; }  # KEY

# ---- simulated instruments -------------------------------------------------

# The instrument simulator, a native program (scripts/wine-tests.sh builds it).
sim_exe=${PARLEX2_SIM:-$(cd "$build/../native/tools/sim" 2>/dev/null && pwd)/parlex2-sim}
sim_work=$build/e2e-sims  # each simulator's folder: its log and transcript
rm -rf "$sim_work"
mkdir -p "$sim_work"
sim_pids=() sim_seq=0
sim_dir=""   # the last simulator's folder
sim_addr=""  # the last TCP simulator's address
sim_wrap=""  # a command the simulator runs under (ip netns exec NAME)

sim_launch() {  # SIM-ARGS...: one more simulator, with a transcript, up and ready
  [ -x "$sim_exe" ] || { fail "no simulator at $sim_exe (build the native parlex2-sim)"; return 1; }
  local i
  sim_dir=$sim_work/sim$((sim_seq++))
  mkdir -p "$sim_dir"
  $sim_wrap "$sim_exe" --transcript "$sim_dir/transcript" "$@" >"$sim_dir/log" 2>&1 &
  sim_pids+=($!)
  for i in $(seq 1 200); do
    grep -q '^ready' "$sim_dir/log" 2>/dev/null && return 0
    kill -0 "${sim_pids[-1]}" 2>/dev/null || return 1
    sleep 0.02
  done
  return 1
}

sim_start() {  # SIM-ARGS...: a simulator serving TCP on a loopback address of its own
  local try before=$sim_addr
  for try in 1 2 3 4 5; do
    # Other programs on this machine may serve 127.0.0.1:10001 already.
    sim_addr="127.$((RANDOM % 200 + 30)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1))"
    [ "$sim_addr" != "$before" ] || continue
    sim_launch --tcp "$sim_addr:10001" "$@" && return 0
  done
  fail "the simulator did not start: $(cat "$sim_dir/log")"
  return 1
}

sim_stop() {  # every simulator the test started
  local pid
  for pid in "${sim_pids[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  sim_pids=()
}

# What a simulator (the last one) received, as text: every RX chunk's bytes in
# order, the zero byte after each LAN write dropped.
sim_received() {  # [FOLDER]
  local hex
  hex=$(awk '$2 == "RX" { for (i = 3; i <= NF && $i !~ /^\|/; i++) printf "\\x%s", $i }' \
    "${1:-$sim_dir}/transcript")
  printf "$hex" | tr -d '\000'
}

sim_received_has() {
  local r
  r=$(sim_received; echo .)  # the dot keeps the last line feed
  [[ "${r%.}" == *"$1"* ]]
}

