#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix that the test or run script
# made (the CMake emulator of the windows preset). Refuses to run without one,
# so Wine never creates ~/.wine behind anybody's back.
if [ -z "${WINEPREFIX:-}" ] || [ ! -d "$WINEPREFIX/dosdevices" ]; then
  echo "wine-run.sh: WINEPREFIX does not name a prepared Wine prefix;" \
       "run scripts/wine-tests.sh or scripts/run.sh instead" >&2
  exit 125
fi
export WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"
