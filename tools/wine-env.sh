# Wine harness, sourced by wine-run.sh and wine-session.sh.
#
# A session is one private Xvfb on a free display number and one persistent
# wineserver on a private WINEPREFIX (prepared once and reused). Programs run
# inside a session share both, so a test program can find and dismiss a
# window of the program under test. A session stops only what it started,
# by process id; the wineserver of its own prefix is shut down cleanly.
# QZ_USE_DISPLAY=1 uses the caller's X display instead of a private Xvfb;
# QZ_XVFB_SCREEN sets the private Xvfb's screen (default 1920x1080x24).

qz_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

qz_find_wine() {
  if [[ -x /usr/lib/wine/wine64 ]]; then QZ_WINE=/usr/lib/wine/wine64
  elif command -v wine64 >/dev/null; then QZ_WINE=$(command -v wine64)
  else QZ_WINE=$(command -v wine); fi
  if [[ -x /usr/lib/wine/wineserver64 ]]; then QZ_WINESERVER=/usr/lib/wine/wineserver64
  else QZ_WINESERVER=$(command -v wineserver); fi
  [[ -n "$QZ_WINE" && -n "$QZ_WINESERVER" ]] || { echo "wine: not installed (run tools/setup.sh)" >&2; return 1; }
  export QZ_WINE QZ_WINESERVER
}

# The environment of every Wine process: quiet, and a crash ends the process
# instead of opening the debugger.
qz_wine_environment() {
  export WINEPREFIX="$QZ_WINE_HOME/prefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="winedbg.exe=d;winemenubuilder.exe=d;mscoree=d;mshtml=d"
  export WINEARCH=win64
  # Wine names Linux files and passes command lines in the locale's character
  # set; non-ASCII names need a UTF-8 one, which a C/POSIX locale (the usual
  # one of a CI job) is not.
  [[ "$(locale charmap 2>/dev/null)" == UTF-8 ]] || export LC_ALL=C.UTF-8
}

qz_start_xvfb() {
  local fdFile="$QZ_WINE_HOME/display.$$"
  rm -f "$fdFile"
  # -displayfd lets Xvfb pick a free display number itself.
  Xvfb -displayfd 3 -screen 0 "${QZ_XVFB_SCREEN:-1920x1080x24}" -nolisten tcp -noreset 3>"$fdFile" \
    </dev/null >/dev/null 2>&1 {QZ_LOCK_FD}>&- &
  QZ_XVFB_PID=$!
  local i
  for ((i = 0; i < 100; ++i)); do
    if [[ -s "$fdFile" ]] && grep -q '[0-9]' "$fdFile"; then break; fi
    kill -0 "$QZ_XVFB_PID" 2>/dev/null || { echo "wine harness: Xvfb did not start" >&2; return 1; }
    sleep 0.1
  done
  export DISPLAY=":$(tr -dc 0-9 <"$fdFile")"
  rm -f "$fdFile"
  [[ "$DISPLAY" != ":" ]] || { echo "wine harness: Xvfb gave no display" >&2; return 1; }
}

# Prepares the prefix once: wineboot, then the X11 driver settings under
# which Wine reports a 60 Hz display on Xvfb (it reports 0 Hz otherwise).
qz_prepare_prefix() {
  [[ -f "$WINEPREFIX/.qz-ready" ]] && return 0
  echo "wine harness: preparing $WINEPREFIX" >&2
  rm -rf "$WINEPREFIX"
  "$QZ_WINE" wineboot -i >/dev/null 2>&1 || true
  local key='HKCU\Software\Wine\X11 Driver'
  "$QZ_WINE" reg add "$key" /v UseXRandR /t REG_SZ /d N /f >/dev/null 2>&1
  "$QZ_WINE" reg add "$key" /v UseXVidMode /t REG_SZ /d N /f >/dev/null 2>&1
  "$QZ_WINESERVER" -w
  [[ -f "$WINEPREFIX/system.reg" ]] || { echo "wine harness: wineboot failed" >&2; return 1; }
  touch "$WINEPREFIX/.qz-ready"
}

qz_start_session() {
  mkdir -p "$QZ_WINE_HOME"
  qz_find_wine || return 1
  qz_wine_environment
  # One session per prefix at a time: the lock is held until the shell ends.
  exec {QZ_LOCK_FD}>"$QZ_WINE_HOME/session.lock"
  flock "$QZ_LOCK_FD"
  if [[ "${QZ_USE_DISPLAY:-}" == 1 && -n "${DISPLAY:-}" ]]; then
    : # the caller's own X display
  else
    qz_start_xvfb || return 1
  fi
  qz_prepare_prefix || return 1
  # Persistent while the session lasts, so programs start without paying for
  # a new server each time.
  "$QZ_WINESERVER" -p -f </dev/null >/dev/null 2>&1 {QZ_LOCK_FD}>&- &
  QZ_WINESERVER_PID=$!
  # Start Wine's own background processes (services, the desktop) now, with
  # no terminal or pipe of a test program: a process that inherits a test's
  # output pipe would keep ctest waiting for that test's end until the
  # session ends. rundll32 makes a window, which starts the desktop too.
  "$QZ_WINE" rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 {QZ_LOCK_FD}>&- || true
  export QZ_WINE_SESSION="$QZ_WINE_HOME"
}

qz_stop_session() {
  if [[ -n "${QZ_WINESERVER_PID:-}" ]]; then
    # Ends this prefix's server and whatever still runs in it.
    "$QZ_WINESERVER" -k >/dev/null 2>&1 || true
    local i
    for ((i = 0; i < 50; ++i)); do
      kill -0 "$QZ_WINESERVER_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$QZ_WINESERVER_PID" 2>/dev/null || true
    wait "$QZ_WINESERVER_PID" 2>/dev/null || true
    QZ_WINESERVER_PID=
  fi
  if [[ -n "${QZ_XVFB_PID:-}" ]]; then
    kill "$QZ_XVFB_PID" 2>/dev/null || true
    wait "$QZ_XVFB_PID" 2>/dev/null || true
    QZ_XVFB_PID=
  fi
  unset QZ_WINE_SESSION
}

# Runs one command inside the session: a Windows executable through Wine,
# anything else (a test script) as it is.
qz_run_in_session() {
  case "$1" in
    *.exe|*.EXE) "$QZ_WINE" "$@" ;;
    *) "$@" ;;
  esac
}
