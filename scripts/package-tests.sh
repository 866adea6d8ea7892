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
#       wineserver up) checks the entries' names as Windows sees them, lays
#       the zip's files into C:\Parlex2-zip with Wine's own xcopy (Wine folds
#       case as Windows does, Linux unzip would not), checks that each arrived
#       whole, then starts each program from there and checks it is the right
#       one: parlex2-cli.exe identify against parlex2-sim.exe, Parlex2.exe's
#       window
#   scripts/package-tests.sh setup PACKAGE-setup.exe UIDRIVER.exe
#       (the same Wine run, a prefix nothing was installed in) installs
#       silently into "C:\Lab Tools\Parlex2", checks the files, shortcuts and
#       Programs and Features entry, starts the programs as above, uninstalls
#       silently (the user's settings stay), then installs into Program Files
#       by default and uninstalls again
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
  local rc=0
  out=$("$@" 2>&1) || rc=$?
  [ "$rc" -eq 0 ] || { echo "$out"; echo "exit status $rc"; return 1; }
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
elif [ "$mode" = zip ] || [ "$mode" = setup ]; then
  driver=$(realpath "${3:?uidriver.exe}")
  : "${WINEPREFIX:?run inside wine-tests.sh}" "${DISPLAY:?run inside wine-tests.sh}"
  shots=$(dirname "$package")/../screenshots
  windows_path() { local p=${1//\//\\}; echo "Z:$p"; }
  unix_path() { local p=${1#C:\\}; echo "$WINEPREFIX/drive_c/${p//\\//}"; }
  # Every file under FROM is under TO with the same bytes, and TO holds no
  # other file but EXTRA: two names that are one on Windows leave one file.
  same_files() {  # FROM TO [EXTRA]
    local from=$1 to=$2 extra=${3:-} rel bad=0 want have
    while IFS= read -r -d '' rel; do
      cmp -s "$from/$rel" "$to/$rel" || { echo "missing or not the same: ${rel#./}"; bad=1; }
    done < <(cd "$from" && find . -type f -print0)
    want=$(find "$from" -type f | wc -l)
    have=$(find "$to" -type f ${extra:+! -path "$to/$extra"} | wc -l)
    [ "$want" -eq "$have" ] || { echo "$want files laid down, $have there"; bad=1; }
    return $bad
  }
  main=class=OVParlexWClass
  screenshot() {  # FILE: the main window's part of the screen
    local x y w h
    read -r x y w h < <(wine "$driver" rect "$main" | tr -d '\r') || return 1
    mkdir -p "$(dirname "$1")"
    import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$1"
  }
  # Parlex2.exe ends when asked, after the Connect dialog that it opens at
  # start when no connection was saved.
  end_parlex() {
    if UIDRIVER_TIMEOUT_MS=500 wine "$driver" wait dialog=Connect >/dev/null 2>&1; then
      wine "$driver" press dialog=Connect 2 && wine "$driver" gone dialog=Connect || return 1
    fi
    wine "$driver" quit "$main"
  }
  stop_sim() { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""; }
  # The three programs, started from FOLDER (as Windows names it) with it as
  # their working folder, as a double click does, are each the right one.
  programs_from() {  # LABEL FOLDER
    local label=$1 folder=$2 dir
    dir=$(unix_path "$2")
    check "$label: parlex2-sim.exe --version" \
      contains "parlex2-sim Parlex2 $version" wine "$folder\\parlex2-sim.exe" --version
    check "$label: parlex2-cli.exe --version" \
      contains "parlex2-cli Parlex2 $version" wine "$folder\\parlex2-cli.exe" --version
    (cd "$dir" && exec wine ./parlex2-sim.exe --tcp "$address:10001") >"$work/sim.out" 2>&1 &
    sim_pid=$!
    check "$label: parlex2-sim.exe serves $address" wait_ready "$work/sim.out"
    check "$label: parlex2-cli.exe identify against it" \
      contains "VXM66" wine "$folder\\parlex2-cli.exe" --lan "$address" identify
    check "$label: Parlex2.exe opens its window" bash -c "cd '$dir' && wine '$driver' start ./Parlex2.exe"
    check "$label: Parlex2.exe shows its title" contains "Parlex2 v1_4" wine "$driver" title "$main"
    UIDRIVER_TIMEOUT_MS=3000 wine "$driver" wait dialog=Connect >/dev/null 2>&1
    check "$label: screenshot $label-main.png" screenshot "$shots/$label-main.png"
    check "$label: Parlex2.exe ends when closed" end_parlex
    stop_sim
  }

  if [ "$mode" = zip ]; then
    check "zip: no two entries are one name on Windows, none refused" \
      "$root/scripts/windows-names.py" --zip "$package"
    check "zip: unpacks" unzip -q "$package" -d "$work/zip"
    unpacked=$(echo "$work"/zip/*/)
    unpacked=${unpacked%/}
    check "zip: holds the programs, README, quick start, examples" \
      test -f "$unpacked/Parlex2.exe" -a -f "$unpacked/parlex2-cli.exe" -a -f "$unpacked/parlex2-sim.exe" \
      -a -f "$unpacked/README.md" -a -f "$unpacked/QUICKSTART.txt" -a -f "$unpacked/examples/identify.txt" \
      -a -f "$unpacked/examples/firmware/A1_DEMO.HEX" -a -f "$unpacked/docs/screenshots/main-connected.png"
    # Notepad before Windows 10 shows a file with Linux line ends as one line.
    crlf() {  # FILE...: every line of each file ends in CR LF
      local f bad=0
      for f in "$@"; do
        [ -f "$f" ] || { echo "no $f"; bad=1; continue; }
        ! grep -qv $'\r$' "$f" || { echo "${f#"$unpacked"/}: Linux line ends"; bad=1; }
      done
      return $bad
    }
    check "zip: README, quick start, example scripts have Windows line ends" \
      crlf "$unpacked"/{README.md,QUICKSTART.txt,examples/*.txt,examples/firmware/*.upg}
    check "zip: programs need no MinGW DLLs" \
      bash -c "! x86_64-w64-mingw32-objdump -p '$unpacked'/*.exe | grep 'DLL Name' | grep -qi -e libstdc -e libgcc -e winpthread"
    folder='C:\Parlex2-zip'
    check "zip: Wine's xcopy lays it into $folder" \
      wine cmd /c xcopy /E /I /Q /Y "$(windows_path "$unpacked")" "$folder"
    check "zip: every entry arrives whole, none lost to case" same_files "$unpacked" "$(unix_path "$folder")"
    programs_from zip "$folder"
  else
    staged=$(dirname "$package")/_CPack_Packages/win64/NSIS/$(basename "$package" .exe)
    menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Parlex2"
    key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Parlex2'
    for appdata in "$WINEPREFIX"/drive_c/users/*/AppData/Local; do
      [[ "$appdata" == */users/Public/* ]] || break
    done
    ini="$appdata/Veltmark/Parlexer/Parlexer.ini"
    not_installed() {  # FOLDER: neither the folder, the shortcuts nor the entry
      local dir bad=0
      dir=$(unix_path "$1")
      [ ! -e "$dir" ] || { echo "$1 is there:"; ls -R "$dir"; bad=1; }
      [ ! -e "$menu" ] || { echo "Start menu:"; ls "$menu"; bad=1; }
      ! wine reg query "$key" || bad=1
      return $bad
    }
    # cmd hands NSIS the line as typed: /D= last and unquoted, blanks and all.
    install() {  # [FOLDER]
      (cd "$(dirname "$package")" && wine cmd /c "$(basename "$package") /S${1:+ /D=$1}")
    }
    # The uninstaller hands over to a copy of itself and returns at once.
    uninstall() {  # FOLDER
      local dir i
      dir=$(unix_path "$1")
      wine "$1\\Uninstall.exe" /S || return 1
      for i in $(seq 1 150); do
        [ -e "$dir" ] || [ -e "$menu" ] || return 0
        sleep 0.1
      done
      echo "still there after 15 s:"; ls -R "$dir" "$menu"
      return 1
    }
    lnk_has() {  # LINK TEXT: the shortcut's target or arguments (ANSI or UTF-16) hold TEXT
      local text
      text=$(strings -a "$1"; strings -a -e l "$1")
      [[ "$text" == *"$2"* ]]
    }
    shortcuts() {  # FOLDER: each shortcut starts what it says
      local bad=0
      lnk_has "$menu/Parlex2.lnk" "$1\\Parlex2.exe" || { echo "Parlex2.lnk"; bad=1; }
      lnk_has "$menu/Parlex2 Simulator.lnk" "$1\\parlex2-sim.exe" || { echo "Parlex2 Simulator.lnk"; bad=1; }
      lnk_has "$menu/Parlex2 README.lnk" 'notepad.exe' &&
        lnk_has "$menu/Parlex2 README.lnk" "$1\\README.md" || { echo "Parlex2 README.lnk"; bad=1; }
      [ "$bad" -eq 0 ] || ls -l "$menu"
      return $bad
    }

    check "installer: no two of its files are one name on Windows, none refused" \
      "$root/scripts/windows-names.py" --tree "$staged"
    folder='C:\Lab Tools\Parlex2'
    check "installer: nothing installed yet" not_installed "$folder"
    check "installer: installs silently into $folder (/S /D=)" install "$folder"
    check "installer: every file arrives whole, none lost to case" \
      same_files "$staged" "$(unix_path "$folder")" Uninstall.exe
    check "installer: Start-menu shortcuts to Parlex2, the simulator, the README" shortcuts "$folder"
    check "installer: an entry in Programs and Features with its uninstaller" \
      contains "\"$folder\\Uninstall.exe\"" wine reg query "$key" /v UninstallString
    programs_from installed "$folder"
    check "installer: parlex2-cli.exe saves a default connection (the user's settings)" \
      wine "$folder\\parlex2-cli.exe" --lan "$address" save-default
    check "installer: uninstalls silently" uninstall "$folder"
    check "installer: folder, shortcuts and entry are gone" not_installed "$folder"
    check "installer: the user's settings stay" grep -q "$address" "$ini"
    folder='C:\Program Files\Parlex2'
    check "installer: installs silently into $folder by default" install
    check "installer: every file arrives there whole" \
      same_files "$staged" "$(unix_path "$folder")" Uninstall.exe
    check "installer: uninstalls from there" uninstall "$folder"
    check "installer: folder, shortcuts and entry are gone again" not_installed "$folder"
  fi
else
  echo "unknown mode $mode" >&2
  exit 2
fi

passed=$((total - failed))
echo
echo "$((total ? passed * 100 / total : 0))% tests passed, $failed tests failed out of $total"
[ "$failed" -eq 0 ] && [ "$total" -gt 0 ]
