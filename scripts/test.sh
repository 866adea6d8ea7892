#!/usr/bin/env bash
# Runs every test of Parlex2 on a Debian 12 machine: installs what is missing,
# builds natively (with AddressSanitizer and UBSan) and runs the unit and
# integration suites, runs every fuzz target briefly and the threaded suites
# under ThreadSanitizer, then builds the release packages and tests them
# installed, then cross-builds the Windows programs and runs the core and
# integration suites, the end-to-end tests, the zip's install test and the
# installer's install and uninstall test under Wine (scripts/wine-tests.sh
# builds the zip and the installer), and ends with the static checks. Says
# each stage's time as it ends and lists them all at the end. Exits non-zero
# when any test fails or when no test ran.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
status=0
passed=0
failed=0

# Each stage's wall time, said when it ends and listed again at the end.
stage_names=()
stage_seconds=()
current_stage=""
stage_start=0
stage_end() {
  [ -n "$current_stage" ] || return 0
  local seconds=$(( $(date +%s) - stage_start ))
  echo "-- $current_stage: $seconds s"
  stage_names+=("$current_stage")
  stage_seconds+=("$seconds")
  current_stage=""
}
stage() {  # stage NAME: ends the stage under way and starts NAME
  stage_end
  current_stage=$1
  stage_start=$(date +%s)
  echo "== $1"
}
run_start=$(date +%s)

stage "dependencies"
source scripts/deps.sh
parlex2_deps

count() {  # count LOG: adds ctest's totals from LOG to the run's
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n1 || true)
  if [ -z "$line" ]; then
    echo "No test result in $1"; status=1; return
  fi
  local total fail
  fail=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  [ "$total" -gt 0 ] || status=1
  passed=$((passed + total - fail))
  failed=$((failed + fail))
}

stage "native build (Debug, ASan + UBSan)"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
stage "native tests"
# Most of these tests wait on time-outs and the simulator rather than compute
# (their times add up to about twice the stage's), so twice as many run as
# there are cores.
ctest --preset native -j "$((jobs * 2))" 2>&1 | tee build/native/ctest.log || status=1
count build/native/ctest.log

stage "fuzzing (every target for a short while)"
scripts/fuzz.sh "${PARLEX2_FUZZ_SECONDS:-10}" || status=1

stage "ThreadSanitizer (the suites that run threads)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target parlex2_unit_tests parlex2_integration_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  build/tsan/tests/parlex2_unit_tests --gtest_filter='CommsLog*:*TransportConformance*:TransportOpen*:SocketsLayer*:UpgradeWorker*:UpgradeCommand*' || status=1
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  build/tsan/tests/parlex2_integration_tests \
  --gtest_filter='SimProcess*:Cli*:IdentifySim*:Soak*:UpgradeSim*' || status=1

stage "release build and .deb (the link benchmark is part of it)"
cmake --preset native-release >/dev/null
cmake --build --preset native-release -j "$jobs" --target package
stage "link benchmark (loopback peer)"
build/native-release/bench/parlex2-bench-link || status=1
stage "upgrade benchmark (LAN loopback and a 19200 baud pseudo-terminal)"
# A failed upgrade fails the run; a missed ratio (exit 2) is reported, since a
# loaded machine moves it (the figures stand in the log either way).
bench_status=0
build/native-release/bench/parlex2-bench-upgrade || bench_status=$?
case $bench_status in
  0) ;;
  2) echo "upgrade benchmark: a target was missed on this run (see the figures above)" ;;
  *) status=1 ;;
esac
stage ".deb install tests"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/native-release/CMakeCache.txt)
scripts/package-tests.sh deb "build/native-release/packages/parlex2_${version}_amd64.deb" 2>&1 |
  tee build/native-release/ctest-package.log || status=1
count build/native-release/ctest-package.log

if [ -x scripts/wine-tests.sh ]; then
  stage "Windows build and tests under Wine"
  scripts/wine-tests.sh 2>&1 | tee build/wine-tests.log || status=1
  for log in build/windows/ctest-*.log; do
    [ -f "$log" ] && count "$log"
  done
fi

stage "static checks (cppcheck, clang-tidy, include layers)"
scripts/static-checks.sh || status=1
stage_end

echo
echo "Stage times:"
for i in "${!stage_names[@]}"; do
  printf '  %6d s  %s\n' "${stage_seconds[$i]}" "${stage_names[$i]}"
done
printf '  %6d s  in all\n' $(( $(date +%s) - run_start ))
echo
echo "Parlex2: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
[ "$passed" -gt 0 ] || status=1
exit $status
