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

source scripts/wine-env.sh
wine_env_session parlex2-run

headless=""
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  wine_env_start_xvfb "$work"
  wine_env_make_prefix "$root/build/windows/wineprefix"
else
  wine_env_make_prefix "$root/build/windows/wineprefix" managed
fi

# First run: the settings file with a LAN connection to the simulator.
ini=$(wine_env_lan_settings 127.0.0.1 keep)

wine_env_start_server

if [ -n "$sim" ]; then
  # 127.0.0.1, or when another program serves port 10001 there, another
  # loopback address, which the settings file's LAN address then follows
  # (only while it names a loopback address: a real instrument's stays).
  addr=127.0.0.1
  for try in 1 2 3 4 5 6; do
    wine_env_start_sim "$sim" "$addr" && break
    addr=$(wine_env_random_loopback)
  done
  [ -n "$sim_pid" ] || { cat "$work/sim.log"; echo "the simulator did not start" >&2; exit 1; }
  sed -i "s/^IPAddr=127\.[0-9.]*\r\?$/IPAddr=$addr\r/" "$ini"
  echo "Simulator on $addr:10001"
fi

if [ -z "$headless" ]; then
  wine "$exe" "$@"
else
  shots=$root/build/windows/screenshots
  mkdir -p "$shots"
  wine "$driver" start "$exe" "$@" >"$work/start.log" 2>&1 || { cat "$work/start.log"; exit 1; }
  # As a user would: Connect in the dialog that opens at start (LAN, the
  # simulator's address), OK to the connection's result, then a typed command.
  if wine "$driver" wait dialog=Connect >/dev/null 2>&1; then
    wine "$driver" press dialog=Connect 112 >/dev/null 2>&1 || true
    if wine "$driver" wait "dialog=Test Connection" >/dev/null 2>&1; then
      wine "$driver" press "dialog=Test Connection" 1 >/dev/null 2>&1 || true
    fi
    wine "$driver" gone dialog=Connect >/dev/null 2>&1 || true
  fi
  for i in $(seq 1 300); do
    title=$(wine "$driver" title class=OVParlexWClass 2>/dev/null | tr -d '\r')
    [[ "$title" == *LAN,* ]] && break
    sleep 0.1
  done
  wine "$driver" type class=OVParlexWClass 18002 'volt?' >/dev/null 2>&1 || true
  wine "$driver" key class=OVParlexWClass enter >/dev/null 2>&1 || true
  UIDRIVER_TIMEOUT_MS=20000 wine "$driver" waittext class=OVParlexWClass 18000 1.234 >/dev/null 2>&1 || true
  sleep 0.5  # let the window paint
  import -display "$DISPLAY" -window root "$shots/run.png"
  echo "No DISPLAY: Parlex2.exe ran under Xvfb, titled \"$title\"; screenshot: $shots/run.png"
  wine "$driver" quit class=OVParlexWClass >/dev/null 2>&1 || true
fi
