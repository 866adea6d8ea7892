#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix that the test or run script
# made (the CMake emulator of the windows preset). Refuses to run without one,
# so Wine never creates ~/.wine behind anybody's back.
#
# Now and then Wine fails to start a process at all: it exits at once with an
# error status and the program never prints a byte. The test programs always
# print before they can fail, so a run that failed without a word is started
# again (twice at most), saying so; any run that printed anything stands.
if [ -z "${WINEPREFIX:-}" ] || [ ! -d "$WINEPREFIX/dosdevices" ]; then
  echo "wine-run.sh: WINEPREFIX does not name a prepared Wine prefix;" \
       "run scripts/wine-tests.sh or scripts/run.sh instead" >&2
  exit 125
fi
export WINEDEBUG="${WINEDEBUG:--all}"
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$out"' EXIT
for attempt in 1 2 3; do
  wine "$@" </dev/null >"$out" 2>&1
  rc=$?
  if [ "$rc" -eq 0 ] || [ -s "$out" ]; then break; fi
  echo "wine-run.sh: ${1##*/} ended with status $rc before printing anything (attempt $attempt)" >&2
done
cat "$out"
exit "$rc"
