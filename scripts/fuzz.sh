#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each for SECONDS
# (default 20). New inputs go to build/fuzz/corpus/<target> (the tree's
# fuzz/corpus/<target> is read as seeds and never written); a failing input is
# saved to build/fuzz/artifacts/<target>/ and ends the run with a non-zero
# status. Prints one line per target: executions, speed, coverage (edges) and
# features. PARLEX2_FUZZ_JOBS targets run at once (default: one per core), each
# as one single-threaded fuzzer.
#
#   scripts/fuzz.sh            # about 20 s a target
#   scripts/fuzz.sh 600        # the long run
#   scripts/fuzz.sh 60 fuzz_script fuzz_identify   # chosen targets only
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
jobs=${PARLEX2_FUZZ_JOBS:-$(nproc)}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target parlex2_fuzz_targets >/dev/null

if (($#)); then
  targets=("$@")
else
  targets=()
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

fuzz_one() {  # fuzz_one TARGET: runs it, leaves build/fuzz/TARGET.{log,status}
  local target=$1
  local work=build/fuzz/corpus/$target artifacts=build/fuzz/artifacts/$target
  mkdir -p "$work" "$artifacts"
  local code=0
  build/fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$target" \
    >"build/fuzz/$target.log" 2>&1 || code=$?
  echo "$code" >"build/fuzz/$target.status"
}

running=()
for target in "${targets[@]}"; do
  rm -f "build/fuzz/$target.status"
  while ((${#running[@]} >= jobs)); do
    wait -n || true
    still=()
    for pid in "${running[@]}"; do kill -0 "$pid" 2>/dev/null && still+=("$pid"); done
    running=("${still[@]}")
  done
  fuzz_one "$target" &
  running+=("$!")
done
wait

status=0
printf '%-22s %12s %10s %8s %8s %s\n' target executions exec/s cov ft result
for target in "${targets[@]}"; do
  log=build/fuzz/$target.log
  result=ok
  if [ "$(cat "build/fuzz/$target.status" 2>/dev/null || echo missing)" != 0 ]; then
    result="FAILED (see $log; input in build/fuzz/artifacts/$target)"
    status=1
  fi
  # A fuzzer that failed early may have printed none of these.
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n1 || true)
  speed=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+).*/\1/p' "$log" | tail -n1 || true)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -n1 | cut -d' ' -f2 || true)
  ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -n1 | cut -d' ' -f2 || true)
  printf '%-22s %12s %10s %8s %8s %s\n' "$target" "${runs:--}" "${speed:--}" "${cov:--}" "${ft:--}" "$result"
done
exit $status
