#!/usr/bin/env bash
# The results pane of Parlex2.exe under Wine, against the bare edit control it
# is made of, both measured in this run:
#   - the bare control (the pane's class, styles, size and font) at each size:
#     its rate appending 1000 lines at a time, how long one append of 10 and
#     of 1000 lines takes when it holds that many lines, and how long removing
#     its oldest 1000 lines takes;
#   - the window fed by the simulator faster than any pane can show (400 000
#     lines a second): for each size (lines received since the pane was
#     cleared; default 10 000, 100 000, 300 000 and 1 000 000), the lines
#     taken in per second since the previous size and their ratio to the bare
#     control's batched rate at that size, the longest time the window took
#     to answer a message sent to it meanwhile, and the lines its edit
#     control holds (at most the scrollback);
#   - that nothing was lost: Save to File writes every streamed line, numbered
#     1, 2, 3... without a gap, and the pane shows the newest of them;
#   - once the pane (cleared, then filled at 20 000 lines a second, the last
#     20 000 lines at 2000) holds each size, a realistic stream of 200 lines
#     a second for 10 s: the longest unanswered time;
#   - connect-and-identify wall time against its own fixed waits (the link's
#     100 ms drain after the wake byte and the 500 ms drain after *IDN?).
# Every figure is printed with the machine's load average at the time: the
# ratios compare figures of the same run, the absolute ones are only as good
# as the machine was idle.
#
#   bench/results_pane_bench.sh [SIZE...]
#
# Exits 1 when a goal is missed (no answer slower than 100 ms, a rate at least
# the bare control's batched rate at the same size, nothing lost). Builds what
# it needs, runs in a throw-away Wine prefix and Xvfb of its own and stops
# everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 100000 300000 1000000)
budget_ms=100      # the longest the window may leave a message unanswered
slow_rate=200      # lines a second of the realistic stream
slow_seconds=10
fill_rate=20000    # lines a second while the pane fills before each slow phase,
near_rate=2000     # and for its last $near_lines lines
near_lines=20000

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
drive() {  # the driver's output; a failure is said on standard error
  local out rc=0
  out=$(wine "$driver" "$@" 2>&1) || rc=$?
  printf '%s' "${out//$'\r'/}"
  [ $rc -eq 0 ] || echo "uidriver $1 failed: ${out//$'\r'/}" >&2
  return $rc
}
load() { cut -d' ' -f1 /proc/loadavg; }
status=0
miss() { echo "  GOAL MISSED: $*"; status=1; }

wine_env_start_xvfb "$work"
wine_env_make_prefix "$work/prefix"
wine_env_start_server

echo "Bare edit control: the results pane's class, styles, size and font, alone"
echo "     holds  1000-line appends  append 10  append 1000  drop oldest 1000   load"
declare -A bare_rate
while read -r held rate ten thousand trim; do
  [[ "$held" =~ ^[0-9]+$ ]] || { echo "  editbaseline: $held $rate $ten $thousand $trim"; exit 1; }
  bare_rate[$held]=$rate
  printf '  %8d  %10d lines/s  %6.1f ms  %8.1f ms  %12.1f ms   %s\n' \
    "$held" "$rate" "$ten" "$thousand" "$trim" "$(load)"
done < <(wine "$driver" editbaseline "${sizes[@]}" 2>&1 | tr -d '\r')

# The simulator streams 400 000 lines a second once asked: more than any pane
# shows, so the link's buffer is always full and the program sets the pace.
addr=$(wine_env_random_loopback)
wine_env_start_sim "$sim" "$addr" --stream 400000 || { cat "$work/sim.log"; exit 1; }
wine_env_lan_settings "$addr" >/dev/null

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
echo "Connect and identify: $connect_ms ms, $(awk -v a="$connect_ms" 'BEGIN { printf "%.2f", a / 600 }') x its 600 ms of fixed waits   load $(load)"
command() {  # COMMAND typed into the command box and sent
  drive type "$main" 18002 "$1" >/dev/null && drive key "$main" enter >/dev/null || status=1
}

echo
echo "Window under a stream of 400 000 lines/s (lines received: rate since the previous size)"
command "stream on"
previous=0
for size in "${sizes[@]}"; do
  read -r newest rate longest held <<<"$(drive probe "$main" 18000 "$size")"
  if ! [[ "$newest" =~ ^[0-9]+$ ]]; then
    echo "  probe: $newest $rate $longest $held"
    echo "  windows open:"; drive windows | sed 's/^/    /'
    echo "  the simulator's last words:"; tail -5 "$work/sim.log" | sed 's/^/    /'
    wine_env_screenshot "$root/build/windows/pane-bench-failed.png" || true
    status=1
    break
  fi
  base=${bare_rate[$size]:-0}
  ratio=$(awk -v r="$rate" -v b="$base" 'BEGIN { printf "%.1f", (b > 0 ? r / b : 0) }')
  printf '  %8d .. %8d: %7d lines/s, %5s x the bare control'"'"'s batched rate; longest unanswered %6.1f ms; control holds %6d   load %s\n' \
    "$previous" "$size" "$rate" "$ratio" "$longest" "$held" "$(load)"
  awk -v s="$longest" -v b=$budget_ms 'BEGIN { exit !(s <= b) }' || miss "unanswered for $longest ms"
  awk -v r="$rate" -v b="$base" 'BEGIN { exit !(r >= b) }' || miss "slower than the bare control"
  previous=$size
done

# The rest of the stream comes in; then the pane and the saved file are
# compared with what was sent.
command "stream off"
last=-1
while :; do
  read -r newest rate longest held <<<"$(drive watch "$main" 18000 1500)"
  [ "$newest" != "$last" ] || break
  last=$newest
done
shown=$(drive verifystream "$main" 18000 || echo error)
saved="$WINEPREFIX/drive_c/pane-bench.txt"
drive post "$main" 129 >/dev/null
drive wait "dialog=Save As" >/dev/null
drive type "dialog=Save As" 1148 'C:\pane-bench.txt' >/dev/null
drive press "dialog=Save As" 1 >/dev/null
UIDRIVER_TIMEOUT_MS=60000 drive gone "dialog=Save As" >/dev/null
for i in $(seq 1 120); do
  [ -s "$saved" ] && [ "$(stat -c %s "$saved")" = "$(sleep 0.5; stat -c %s "$saved")" ] && break
  sleep 0.5
done
check=$(awk '
  { sub(/\r$/, "") }
  /^stream,/ {
    split($0, f, ",")
    if (f[2] != n + 1 || f[3] != "1.234") { print "line " NR " is \"" $0 "\" after stream," n; bad = 1; exit }
    n = f[2]
  }
  END { if (!bad) print n + 0 }' "$saved" 2>&1)
read -r shown_first shown_last <<<"$shown"
if [[ "$check" =~ ^[0-9]+$ ]] && [ "$check" -gt 0 ] && [ "${shown_last:-}" = "$check" ]; then
  echo "  Nothing lost: the saved file holds stream lines 1 to $check without a gap or change;"
  echo "  the pane shows the newest of them, $shown_first to $shown_last"
else
  miss "the saved file: $check; the pane: $shown"
fi

# The realistic stream at each size: the pane is cleared and filled at a
# pace the window takes in as it comes (so little waits in the link), then
# the instrument sends 200 lines a second.
echo
echo "Window under a stream of $slow_rate lines/s for $slow_seconds s, once the pane holds each size"
drive post "$main" 32773 >/dev/null
command "stream rate,$near_rate"
command "stream on"
newest=0
for size in "${sizes[@]}"; do
  # The pane may show lines up to a scrollback after the newest received:
  # the last lines before each size come slowly enough for it to keep up.
  if [ "$size" -gt $((newest + near_lines)) ]; then
    command "stream rate,$fill_rate"
    drive probe "$main" 18000 $((size - near_lines)) >/dev/null || status=1
    command "stream rate,$near_rate"
  fi
  drive probe "$main" 18000 "$size" >/dev/null || status=1
  command "stream rate,$slow_rate"
  for i in $(seq 1 30); do  # until what the link held has come in
    read -r newest rate longest held <<<"$(drive watch "$main" 18000 1000)"
    [[ "$rate" =~ ^[0-9]+$ ]] && [ "$rate" -le $((slow_rate * 2)) ] && break
  done
  read -r newest rate longest held <<<"$(drive watch "$main" 18000 $((slow_seconds * 1000)))"
  printf '  %8d lines received: %4d lines/s, longest unanswered %6.1f ms; control holds %6d   load %s\n' \
    "$newest" "$rate" "$longest" "$held" "$(load)"
  awk -v s="$longest" -v b=$budget_ms 'BEGIN { exit !(s <= b) }' ||
    miss "unanswered for $longest ms under the $slow_rate lines/s stream"
  command "stream rate,$near_rate"
done
command "stream off"
wine "$driver" quit "$main" >/dev/null 2>&1 || true
[ $status -eq 0 ] && echo "All goals met." || echo "A goal was missed or a step failed (see above)."
exit $status
