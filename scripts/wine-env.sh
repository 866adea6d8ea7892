# Helpers for running Windows programs under Wine on a headless Linux machine,
# sourced by wine-tests.sh and run.sh. Every process started here is recorded
# by its id and stopped by wine_env_stop, which the callers run on EXIT.
#
#   wine_env_start_xvfb DIR      starts Xvfb on a free display; sets DISPLAY
#   wine_env_make_prefix PREFIX [managed]
#                                makes (if missing) a prefix fit for tests
#   wine_env_start_server        starts the prefix's one wineserver
#   wine_env_stop                stops the wineserver (and with it every Wine
#                                process of the prefix) and the Xvfb started
#   wine_env_session NAME        makes a fresh folder $work and, on exit,
#                                stops the simulator $sim_pid (when set), then
#                                Wine and Xvfb, and removes $work
#   wine_env_start_sim SIM ADDRESS [OPTION...]
#                                starts the simulator on ADDRESS:10001 in the
#                                session and waits for it; sets $sim_pid
#   wine_env_random_loopback     prints a random 127.x.y.z address
#   wine_env_lan_settings ADDRESS [keep]
#                                gives the prefix's settings file a LAN
#                                connection to ADDRESS ("keep": only when the
#                                file is missing); prints its path

WINE_ENV_XVFB_PID=""
WINE_ENV_SERVER_PID=""
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: the programs need neither, and their installers would
# stop prefix creation to ask.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

wine_env_start_xvfb() {
  local dir=$1 i
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -nolisten unix-abstract \
    9>"$dir/xvfb.display" >"$dir/xvfb.log" 2>&1 &
  WINE_ENV_XVFB_PID=$!
  for i in $(seq 1 100); do
    [ -s "$dir/xvfb.display" ] && break
    sleep 0.05
  done
  [ -s "$dir/xvfb.display" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$(tr -d '[:space:]' <"$dir/xvfb.display")"
}

wine_env_make_prefix() {  # PREFIX [managed]: "managed" keeps the desktop's window manager in charge
  export WINEPREFIX=$1
  [ -d "$WINEPREFIX/dosdevices" ] && return 0
  mkdir -p "$WINEPREFIX"
  # Made with the display already up: a prefix made without one cannot create
  # windows later.
  timeout 180 wineboot -i >/dev/null 2>&1 || { echo "wineboot failed" >&2; return 1; }
  # Without a window manager Wine waits 2 s on every window hide unless its
  # windows are unmanaged.
  if [ "${2:-}" != managed ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  fi
  # Fonts that draw caption buttons and dialogs as on Windows.
  cp /usr/share/wine/fonts/marlett.ttf /usr/share/wine/fonts/ms_sans_serif.ttf \
    "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
}

wine_env_start_server() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  wineserver -f -p &
  WINE_ENV_SERVER_PID=$!
  # The first program of a session starts the prefix's services, which would
  # keep the first caller's output pipes open (ctest's test discovery waits for
  # them): start them here with nothing attached.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_env_stop() {
  if [ -n "$WINE_ENV_SERVER_PID" ]; then
    wineserver -k >/dev/null 2>&1 || true
    kill "$WINE_ENV_SERVER_PID" 2>/dev/null || true
    wait "$WINE_ENV_SERVER_PID" 2>/dev/null || true
    WINE_ENV_SERVER_PID=""
  fi
  if [ -n "$WINE_ENV_XVFB_PID" ]; then
    kill "$WINE_ENV_XVFB_PID" 2>/dev/null || true
    wait "$WINE_ENV_XVFB_PID" 2>/dev/null || true
    WINE_ENV_XVFB_PID=""
  fi
}

wine_env_session() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  sim_pid=""
  trap wine_env_session_end EXIT
  # A signal would end the shell without its EXIT trap; a closed output
  # (the script piped into head) is one of them.
  trap 'exit 130' INT TERM HUP
  trap 'exit 141' PIPE
}

wine_env_session_end() {
  if [ -n "${sim_pid:-}" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  wine_env_stop
  rm -rf "$work"
}

wine_env_start_sim() {  # SIM ADDRESS [OPTION...]: false (and no $sim_pid) when it did not get ready
  local program=$1 address=$2 i
  shift 2
  "$program" --tcp "$address:10001" "$@" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for i in $(seq 1 250); do
    grep -q ready "$work/sim.log" 2>/dev/null && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.02
  done
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
  return 1
}

wine_env_random_loopback() {
  echo "127.$((RANDOM % 200 + 30)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1))"
}

wine_env_lan_settings() {  # ADDRESS [keep]
  local appdata ini
  for appdata in "$WINEPREFIX"/drive_c/users/*/AppData/Local; do
    [[ "$appdata" == */users/Public/* ]] || break
  done
  ini="$appdata/Veltmark/Parlexer/Parlexer.ini"
  if [ "${2:-}" != keep ] || [ ! -f "$ini" ]; then
    mkdir -p "$(dirname "$ini")"
    # The form the connection form's "Save as Default" writes.
    printf '[Init]\r\nCreated=%s\r\n[Connect]\r\nInterface=2\r\nComPort=\r\nBaudRate=0\r\nIPAddr=%s\r\n' \
      "$(date '+%H:%M:%S %-d/%-m/%Y')" "$1" >"$ini"
  fi
  echo "$ini"
}

# Takes a picture of the whole screen.
wine_env_screenshot() {
  import -display "$DISPLAY" -window root "$1" 2>/dev/null
}
