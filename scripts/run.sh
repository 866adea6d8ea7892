#!/usr/bin/env bash
# Runs Parlex2.exe under Wine against the instrument simulator on 127.0.0.1.
#
# The program runs in the project's own Wine prefix, build/windows/wineprefix
# (never ~/.wine). On the first run the prefix's settings file is given a LAN
# connection to 127.0.0.1, so the connection form offers the simulator. With no
# DISPLAY the program runs under Xvfb, and a screenshot is saved (the path is
# printed) before the program is closed. Closing the window stops the
# simulator and the prefix's wineserver.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/deps.sh
parlex2_deps

cmake --preset windows >/dev/null
cmake --build --preset windows -j 2 --target Parlex2 uidriver
exe=$root/build/windows/win32/Parlex2.exe
driver=$root/build/windows/tools/uidriver/uidriver.exe
sim=""
if [ -f tools/sim/CMakeLists.txt ]; then
  cmake --preset native >/dev/null
  cmake --build --preset native -j 2 --target parlex2-sim
  sim=$root/build/native/tools/sim/parlex2-sim
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/parlex2-run.XXXXXX")
sim_pid=""
source scripts/wine-env.sh
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  wine_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

headless=""
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  wine_env_start_xvfb "$work"
  wine_env_make_prefix "$root/build/windows/wineprefix"
else
  wine_env_make_prefix "$root/build/windows/wineprefix" managed
fi

# First run: the settings file with a LAN connection to the simulator, in the
# form the connection form's "Save as Default" writes.
for appdata in "$WINEPREFIX"/drive_c/users/*/AppData/Local; do
  [[ "$appdata" == */users/Public/* ]] || break
done
ini="$appdata/Veltmark/Parlexer/Parlexer.ini"
if [ ! -f "$ini" ]; then
  mkdir -p "$(dirname "$ini")"
  printf '[Init]\r\nCreated=%s\r\n[Connect]\r\nInterface=2\r\nComPort=\r\nBaudRate=0\r\nIPAddr=127.0.0.1\r\n' \
    "$(date '+%H:%M:%S %-d/%-m/%Y')" >"$ini"
fi

wine_env_start_server

if [ -n "$sim" ]; then
  "$sim" --tcp 127.0.0.1:10001 >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for i in $(seq 1 100); do grep -q ready "$work/sim.log" 2>/dev/null && break; sleep 0.05; done
  grep -q ready "$work/sim.log" || { cat "$work/sim.log"; echo "the simulator did not start" >&2; exit 1; }
  echo "Simulator on 127.0.0.1:10001"
fi

if [ -z "$headless" ]; then
  wine "$exe" "$@"
else
  shots=$root/build/windows/screenshots
  mkdir -p "$shots"
  wine "$driver" start "$exe" "$@" >"$work/start.log" 2>&1 || { cat "$work/start.log"; exit 1; }
  sleep 1  # let the window and any dialog it opens paint
  import -display "$DISPLAY" -window root "$shots/run.png"
  echo "No DISPLAY: Parlex2.exe ran under Xvfb; screenshot: $shots/run.png"
  wine "$driver" quit class=OVParlexWClass >/dev/null 2>&1 || true
fi
