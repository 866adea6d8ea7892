#!/usr/bin/env bash
# Builds the Windows programs and tests them under Wine on this machine: the
# core suites cross-compiled for Windows (so the Win32 serial and Winsock code
# runs too), then the end-to-end tests of Parlex2.exe through the UI driver.
#
# Everything runs in a throw-away Wine prefix with its own Xvfb and one
# wineserver, which are stopped (and the prefix removed) however the run ends.
# Logs: build/windows/ctest-core.log, build/windows/ctest-e2e.log,
# build/windows/ctest-package.log (the release zip's install test) and
# build/windows/ctest-installer.log (the installer's install and uninstall);
# screenshots: build/windows/screenshots/.
#
#   scripts/wine-tests.sh [--e2e-only] [PATTERN]
# PATTERN picks the end-to-end tests whose names hold it; --e2e-only skips the
# core suites (for quick rounds on the window).
#
# The core suites find a null-modem pair of COM ports in the prefix:
#   PARLEX2_TEST_COM_PORT       COM7, one end
#   PARLEX2_TEST_COM_PEER_PORT  COM8, the other end (a test may open both)
set -euo pipefail
cd "$(dirname "$0")/.."
e2e_only=""
if [ "${1:-}" = --e2e-only ]; then e2e_only=1; shift; fi
e2e_pattern=${1:-}
root=$PWD
build=$root/build/windows

cmake --preset windows >/dev/null
cmake --build --preset windows -j 2
# The end-to-end tests talk to the instrument simulator, a native program.
cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target parlex2-sim

work=$(mktemp -d "${TMPDIR:-/tmp}/parlex2-wine.XXXXXX")
socat_pid=""
source scripts/wine-env.sh
cleanup() {
  local rc=$?
  if [ -n "$socat_pid" ]; then kill "$socat_pid" 2>/dev/null || true; wait "$socat_pid" 2>/dev/null || true; fi
  wine_env_stop
  rm -rf "$work"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

t0=$(date +%s)
wine_env_start_xvfb "$work"
wine_env_make_prefix "$work/prefix"
echo "Wine prefix ready in $(( $(date +%s) - t0 )) s (display $DISPLAY)"

# A null-modem pair: two pseudo-terminals joined by socat, mapped as COM7/COM8.
socat pty,raw,echo=0,link="$work/com7" pty,raw,echo=0,link="$work/com8" 2>"$work/socat.log" &
socat_pid=$!
for i in $(seq 1 100); do [ -e "$work/com7" ] && [ -e "$work/com8" ] && break; sleep 0.05; done
ln -sfn "$work/com7" "$WINEPREFIX/dosdevices/com7"
ln -sfn "$work/com8" "$WINEPREFIX/dosdevices/com8"
export PARLEX2_TEST_COM_PORT=COM7 PARLEX2_TEST_COM_PEER_PORT=COM8

wine_env_start_server

status=0
if [ -z "$e2e_only" ]; then
  echo "== core suites under Wine"
  t0=$(date +%s)
  ctest --preset windows 2>&1 | tee "$build/ctest-core.log" || status=1
  echo "core suites: $(( $(date +%s) - t0 )) s"
fi

if [ -x tests/e2e/run-e2e.sh ]; then
  echo "== end-to-end tests under Wine"
  t0=$(date +%s)
  tests/e2e/run-e2e.sh "$build" "$e2e_pattern" 2>&1 | tee "$build/ctest-e2e.log" || status=1
  echo "end-to-end tests: $(( $(date +%s) - t0 )) s"
fi

echo "== release zip, laid out and started under Wine"
t0=$(date +%s)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
cmake --build --preset windows --target package >"$build/package.log" 2>&1 || status=1
scripts/package-tests.sh zip "$build/packages/Parlex2-$version-win64.zip" \
  "$build/tools/uidriver/uidriver.exe" 2>&1 | tee "$build/ctest-package.log" || status=1
echo "release zip: $(( $(date +%s) - t0 )) s"
echo "== installer, installed, started and uninstalled under Wine"
t0=$(date +%s)
scripts/package-tests.sh setup "$build/packages/Parlex2-$version-win64-setup.exe" \
  "$build/tools/uidriver/uidriver.exe" 2>&1 | tee "$build/ctest-installer.log" || status=1
echo "installer: $(( $(date +%s) - t0 )) s"
exit $status
