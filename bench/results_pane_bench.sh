#!/usr/bin/env bash
# The results pane of Parlex2.exe under Wine, fed by the simulator's stream
# faster than the pane can show it:
#   - lines shown per second while the pane fills to each size (default 10 000,
#     100 000 and 1 000 000 lines), and the longest time the window took to
#     answer a message sent to it meanwhile (asked from outside every few ms);
#   - the same against a baseline measured in this run: a bare edit control
#     of the pane's size and font, appended to line by line and 1000 lines at
#     a time;
#   - that every streamed line is in the pane, in order;
#   - connect-and-identify wall time against its own fixed waits (the link's
#     100 ms drain after the wake byte and the 500 ms drain after *IDN?).
#
#   bench/results_pane_bench.sh [SIZE...]
#
# Builds what it needs, runs in a throw-away Wine prefix and Xvfb of its own
# and stops everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 100000 1000000)
target_rate=20000     # lines a second while the pane holds up to 100 000 lines
target_stall_ms=100   # longest unanswered time while the pane holds up to 100 000

export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
cmake --preset windows >/dev/null
cmake --build --preset windows --target Parlex2 uidriver >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native --target parlex2-sim >/dev/null
exe=$root/build/windows/win32/Parlex2.exe
driver=$root/build/windows/tools/uidriver/uidriver.exe
sim=$root/build/native/tools/sim/parlex2-sim
main=class=OVParlexWClass

source scripts/wine-env.sh
wine_env_session parlex2-pane-bench
drive() { local out; out=$(wine "$driver" "$@" 2>&1); printf '%s' "${out//$'\r'/}"; }

wine_env_start_xvfb "$work"
wine_env_make_prefix "$work/prefix"
wine_env_start_server

# The simulator streams 400 000 lines a second: more than any pane shows, so
# the link's buffer is always full and the program sets the pace.
addr=$(wine_env_random_loopback)
wine_env_start_sim "$sim" "$addr" --stream 400000 || { cat "$work/sim.log"; exit 1; }
wine_env_lan_settings "$addr" >/dev/null

echo "Baseline: a bare edit control under Wine"
read -r per_line batched <<<"$(drive editbaseline)"
echo "  one append per line:       $per_line lines/s"
echo "  one append per 1000 lines: $batched lines/s (while it holds under 10 000)"

wine "$driver" start "$exe" >"$work/start.log" 2>&1 || { cat "$work/start.log"; exit 1; }
UIDRIVER_TIMEOUT_MS=3000 wine "$driver" press dialog=Connect 2 >/dev/null 2>&1 || true  # the Connect dialog, if shown
t0=$(date +%s%N)
drive post "$main" 32771 1 >/dev/null
until [[ "$(drive title "$main")" == *LAN,* ]]; do
  [ $(( ($(date +%s%N) - t0) / 1000000 )) -lt 20000 ] || { echo "no connection" >&2; exit 1; }
  sleep 0.005
done
connect_ms=$(( ($(date +%s%N) - t0) / 1000000 ))
echo
echo "Connect and identify: $connect_ms ms, $(awk -v a="$connect_ms" 'BEGIN { printf "%.2f", a / 600 }') x its 600 ms of fixed waits"

drive type "$main" 18002 "stream on" >/dev/null
drive key "$main" enter >/dev/null
echo
echo "Results pane under the stream (lines held: lines/s since the previous size, longest unanswered)"
status=0
previous=0
while read -r lines rate stall; do
  if ! [[ "$lines" =~ ^[0-9]+$ ]]; then
    echo "  probe: $lines $rate $stall"
    status=1
    continue
  fi
  ratio=$(awk -v r="$rate" -v b="$per_line" 'BEGIN { printf "%.0f", r / b }')
  verdict=""
  if [ "$lines" -le 100000 ]; then
    if awk -v r="$rate" -v s="$stall" -v tr="$target_rate" -v ts="$target_stall_ms" \
      'BEGIN { exit !(r >= tr && s <= ts) }'; then
      verdict="  (target met: >= $target_rate lines/s, <= $target_stall_ms ms)"
    else
      verdict="  (TARGET MISSED: >= $target_rate lines/s, <= $target_stall_ms ms)"
      status=1
    fi
  fi
  printf '  %8d .. %8d lines: %6d lines/s, %4d x the line-by-line baseline; longest unanswered %6.1f ms%s\n' \
    "$previous" "$lines" "$rate" "$ratio" "$stall" "$verdict"
  previous=$lines
done < <(wine "$driver" probe "$main" 18000 "${sizes[@]}" 2>&1 | tr -d '\r')  # row by row

drive type "$main" 18002 "stream off" >/dev/null
drive key "$main" enter >/dev/null
# What the link still holds comes in; then the pane is compared line by line.
last=-1
while :; do
  sleep 1
  now=$(drive verifystream "$main" 18000 || echo error)
  [ "$now" != "$last" ] || break
  last=$now
done
echo
if [[ "$last" =~ ^[0-9]+$ ]]; then
  echo "Stream check: $last lines in the pane, numbered 1 to $last without a gap or change"
else
  echo "Stream check FAILED: $last"
  status=1
fi
wine "$driver" quit "$main" >/dev/null 2>&1 || true
exit $status
