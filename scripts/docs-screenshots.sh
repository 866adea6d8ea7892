#!/usr/bin/env bash
# Copies the README's pictures from the end-to-end run's screenshots
# (build/windows/screenshots, left by scripts/wine-tests.sh or scripts/test.sh)
# into docs/screenshots, and names the pictures the run did not take. Look at
# each before committing it.
#
#   scripts/docs-screenshots.sh [SCREENSHOT-FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
from=${1:-build/windows/screenshots}
to=docs/screenshots
mkdir -p "$to"
# The README's pictures: the end-to-end tests' name for each.
pictures=(
  main-connected         # the main window connected to the simulator
  connect-dialog-lan     # the Connect dialog, LAN chosen
  choose-instrument      # the LAN search's Please Choose Instrument list
  script-panel           # the main window running a script
  firmware-list          # the upgrade's Firmware Files List
  upgrade-finished       # the upgrade's progress dialog, finished
  about-box              # the About box
)
missing=0
for name in "${pictures[@]}"; do
  if [ -f "$from/$name.png" ]; then
    cp "$from/$name.png" "$to/$name.png"
    echo "copied   $to/$name.png"
  else
    echo "missing  $name.png (no end-to-end test takes it yet)"
    missing=$((missing + 1))
  fi
done
[ "$missing" -eq 0 ]
