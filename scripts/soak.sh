#!/usr/bin/env bash
# The long soak: parlex2-sim streams BYTES (default 100 MiB) of numbered,
# checked lines, text and binary values mixed, and parlex2-soak reads them
# through the link and the terminal's poller, over TCP and then over a
# pseudo-terminal, printing its resident memory every tenth of the way.
#
#   scripts/soak.sh               # 100 MiB each way, release build
#   scripts/soak.sh 10000000      # a shorter run
set -euo pipefail
cd "$(dirname "$0")/.."
bytes=${1:-104857600}

cmake --preset native-release >/dev/null
cmake --build --preset native-release -j "$(nproc)" --target parlex2-sim parlex2-soak >/dev/null
bin=build/native-release
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

start_sim() {  # start_sim OPTIONS...: runs the simulator until it is ready
  "$bin/tools/sim/parlex2-sim" "$@" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q '^ready' "$work/sim.out" && return 0
    sleep 0.1
  done
  echo "the simulator did not start:"; cat "$work/sim.out"; return 1
}
stop_sim() { kill "$sim_pid"; wait "$sim_pid" || true; sim_pid=; }

status=0
echo "== soak over TCP, $bytes bytes"
start_sim --tcp 127.77.0.72:10001
"$bin/tools/soak/parlex2-soak" --lan 127.77.0.72 --bytes "$bytes" || status=1
stop_sim
echo "== soak over a pseudo-terminal, $bytes bytes"
start_sim --pty "$work/com"
"$bin/tools/soak/parlex2-soak" --usb "$work/com" --bytes "$bytes" || status=1
stop_sim
exit $status
