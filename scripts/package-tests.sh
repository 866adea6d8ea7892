#!/usr/bin/env bash
# Install tests of the release packages, reported in ctest's form (ending
# "N% tests passed, N tests failed out of N") so that test.sh counts them.
#
#   scripts/package-tests.sh deb PACKAGE.deb
#       unpacks the .deb into a throw-away root with dpkg -x and runs the
#       programs from there: --help, --version, and parlex2 identify against
#       the packaged simulator on 127.0.x.y
#   scripts/package-tests.sh zip PACKAGE.zip UIDRIVER.exe
#       (inside the Wine run of wine-tests.sh: WINEPREFIX, DISPLAY and the
#       wineserver up) unpacks the zip and starts Parlex2.exe and
#       parlex2-sim.exe from it, and connects the packaged parlex2-cli.exe to the
#       packaged simulator
set -uo pipefail
mode=${1:?usage: package-tests.sh deb|zip PACKAGE [UIDRIVER]}
package=$(realpath "${2:?package file}")
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^#define PARLEX2_VERSION_STRING "\(.*\)"$/\1/p' \
  "$(dirname "$package")/../generated/common/product_version.h")
work=$(mktemp -d "${TMPDIR:-/tmp}/parlex2-package.XXXXXX")
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

total=0
failed=0
check() {  # NAME COMMAND...: one test, passed when the command succeeds
  local name=$1 t0 t1
  shift
  total=$((total + 1))
  t0=$(date +%s%N)
  if "$@" >"$work/out" 2>&1; then
    t1=$(date +%s%N)
    printf '%3d/?  Test: %-55s Passed  %d ms\n' "$total" "$name" $(((t1 - t0) / 1000000))
  else
    failed=$((failed + 1))
    printf '%3d/?  Test: %-55s ***Failed\n' "$total" "$name"
    sed 's/^/    /' "$work/out"
  fi
}
contains() {  # TEXT COMMAND...: the command succeeds and prints TEXT
  local text=$1 out
  shift
  out=$("$@" 2>&1) || { echo "$out"; echo "exit status $?"; return 1; }
  out=${out//$'\r'/}
  [[ "$out" == *"$text"* ]] || { echo "$out"; echo "expected: $text"; return 1; }
}
wait_ready() {  # FILE: the simulator printed "ready" into FILE within 20 s
  for _ in $(seq 1 400); do
    grep -q ready "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  cat "$1"
  return 1
}

# A loopback address of this run's own, so runs side by side do not meet.
address="127.0.$((RANDOM % 200 + 50)).$((RANDOM % 250 + 2))"

if [ "$mode" = deb ]; then
  check "deb: unpacks with dpkg -x" dpkg -x "$package" "$work/root"
  bin=$work/root/usr/bin
  doc=$work/root/usr/share/doc/parlex2
  check "deb: holds the programs, README, quick start, examples" \
    test -x "$bin/parlex2" -a -x "$bin/parlex2-sim" -a -f "$doc/README.md" \
    -a -f "$doc/QUICKSTART.txt" -a -f "$doc/examples/identify.txt" \
    -a -f "$doc/examples/firmware/demo.upg" -a -f "$doc/docs/screenshots/main-connected.png"
  check "deb: control names the project's version" \
    contains "Version: $(sed -n 's/^project(Parlex2 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")" \
    dpkg-deb -f "$package"
  check "deb: parlex2 --help" contains "identify" "$bin/parlex2" --help
  check "deb: parlex2-sim --help" contains "--discovery" "$bin/parlex2-sim" --help
  check "deb: parlex2 --version" contains "parlex2 Parlex2 $version" "$bin/parlex2" --version
  check "deb: parlex2-sim --version" contains "parlex2-sim Parlex2 $version" "$bin/parlex2-sim" --version
  "$bin/parlex2-sim" --tcp "$address:10001" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  check "deb: parlex2-sim serves $address" wait_ready "$work/sim.out"
  check "deb: parlex2 identify against it" contains "VXM66" "$bin/parlex2" --lan "$address" identify
  check "deb: an example runs from the documentation folder" \
    contains "1.234" "$bin/parlex2" --lan "$address" run "$doc/examples/identify.txt"
elif [ "$mode" = zip ]; then
  driver=$(realpath "${3:?uidriver.exe}")
  : "${WINEPREFIX:?run inside wine-tests.sh}" "${DISPLAY:?run inside wine-tests.sh}"
  check "zip: unpacks" unzip -q "$package" -d "$work/zip"
  dir=$(echo "$work"/zip/*/)
  check "zip: holds the programs, README, quick start, examples" \
    test -f "$dir/Parlex2.exe" -a -f "$dir/parlex2-cli.exe" -a -f "$dir/parlex2-sim.exe" \
    -a -f "$dir/README.md" -a -f "$dir/QUICKSTART.txt" -a -f "$dir/examples/identify.txt" \
    -a -f "$dir/examples/firmware/A1_DEMO.HEX" -a -f "$dir/docs/screenshots/main-connected.png"
  check "zip: programs need no MinGW DLLs" \
    bash -c "! x86_64-w64-mingw32-objdump -p '$dir'/*.exe | grep 'DLL Name' | grep -qi -e libstdc -e libgcc -e winpthread"
  check "zip: parlex2-sim.exe --version" contains "parlex2-sim Parlex2 $version" wine "$dir/parlex2-sim.exe" --version
  check "zip: parlex2-cli.exe --version" contains "parlex2-cli Parlex2 $version" wine "$dir/parlex2-cli.exe" --version
  (cd "$dir" && exec wine ./parlex2-sim.exe --tcp "$address:10001") >"$work/sim.out" 2>&1 &
  sim_pid=$!
  check "zip: parlex2-sim.exe serves $address" wait_ready "$work/sim.out"
  check "zip: parlex2-cli.exe identify against it" contains "VXM66" wine "$dir/parlex2-cli.exe" --lan "$address" identify
  # The program's window opens from the unpacked folder, and it ends when
  # asked (after the Connect dialog that it opens at start, when there is one).
  start_parlex() { (cd "$dir" && wine "$driver" start ./Parlex2.exe >"$work/start.log" 2>&1); }
  end_parlex() {
    if UIDRIVER_TIMEOUT_MS=2000 wine "$driver" wait dialog=Connect >/dev/null 2>&1; then
      wine "$driver" press dialog=Connect 2 && wine "$driver" gone dialog=Connect || return 1
    fi
    wine "$driver" quit class=OVParlexWClass
  }
  check "zip: Parlex2.exe opens its window" start_parlex
  check "zip: Parlex2.exe shows its title" contains "Parlex2 v1_4" wine "$driver" title class=OVParlexWClass
  check "zip: Parlex2.exe ends when closed" end_parlex
else
  echo "unknown mode $mode" >&2
  exit 2
fi

passed=$((total - failed))
echo
echo "$((total ? passed * 100 / total : 0))% tests passed, $failed tests failed out of $total"
[ "$failed" -eq 0 ] && [ "$total" -gt 0 ]
