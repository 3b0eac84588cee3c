#!/bin/sh
# Starts or stops what the Windows tests run in: a virtual X display, and a
# Wine prefix of their own whose server stays up between the tests.
#
#   session.sh start|stop STATE_DIR
#
# start leaves the display's number in STATE_DIR/display; the prefix is
# STATE_DIR/prefix. Exit status 77 (skipped) where Wine or Xvfb is missing.
set -eu

action=$1
state=$2
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
# No offers to install Mono or Gecko: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="

stop() {
  if command -v wineserver >/dev/null 2>&1 && [ -d "$WINEPREFIX" ]; then
    wineserver -k 2>/dev/null || true
  fi
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    rm -f "$state/xvfb.pid" "$state/display"
  fi
}

start() {
  for command in wine wineserver Xvfb; do
    if ! command -v "$command" >/dev/null 2>&1; then
      echo "no $command: run tests/install-deps.sh" >&2
      exit 77
    fi
  done
  stop
  mkdir -p "$state"
  rm -f "$state/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$state/display" >"$state/xvfb.log" 2>&1 &
  echo $! >"$state/xvfb.pid"
  tries=0
  until [ -s "$state/display" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ]; then
      echo "Xvfb did not start:" >&2
      cat "$state/xvfb.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  DISPLAY=":$(cat "$state/display")"
  export DISPLAY

  # Kept up from here on, so that each test's Wine starts in a blink. What
  # Wine leaves running must not hold the caller's output open: the test
  # runner waits for that to close.
  mkdir -p "$WINEPREFIX"
  wineserver --persistent >/dev/null 2>&1 </dev/null
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init >"$state/wineboot.log" 2>&1 </dev/null
  fi
  # Japanese glyphs in the message box, which Wine's own fonts lack; and a
  # caption Wine draws itself, as there is no window manager.
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS Shell Dlg' /d IPAGothic /f >/dev/null 2>&1 </dev/null
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 </dev/null
  # A relay trace, where a test asks for one, shows this call alone.
  wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d user32.MessageBoxW /f >/dev/null 2>&1 </dev/null
}

case $action in
start) start ;;
stop) stop ;;
*)
  echo "usage: session.sh start|stop STATE_DIR" >&2
  exit 2
  ;;
esac
