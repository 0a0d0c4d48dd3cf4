#!/usr/bin/env bash
# A Wine session of its own, for the end-to-end tests and the demo: a virtual display (Xvfb),
# a Wine prefix, and one wineserver and one desktop kept from start to stop. The cursor
# confinement belongs to the desktop and outlasts the process that set it, so everything that
# watches it must share one session, and nobody else's.
#
#   wine-session.sh start DIR STANDIN [WxH]
#                                       starts the display and Wine; DIR/prefix is the prefix,
#                                       STANDIN the path of standin.exe. With WxH, Wine's desktop
#                                       is a virtual desktop of that size, where a game can switch
#                                       the display mode as it can't on the bare display; the
#                                       display's 1024x768 holds it at up to that size
#   wine-session.sh run DIR CMD...      runs CMD (e.g. wine x.exe) in the session
#   wine-session.sh stop DIR            ends the session's Wine processes and its display
set -euo pipefail
command=$1
dir=$(realpath -m "$2")
shift 2

enter() {
  local display
  display=$(cat "$dir/display")
  export WINEPREFIX=$dir/prefix WINEDEBUG=-all DISPLAY=":$display"
  # No installer prompts for Mono or Gecko, no menu entries on the host.
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
}

case $command in
start)
  "$0" stop "$dir" # whatever an interrupted run left behind
  mkdir -p "$dir"
  # A start that fails halfway, or is interrupted, leaves nothing running: its callers only
  # learn to stop the session once it has started.
  trap 'exit 1' INT TERM
  trap 'status=$?; [ "$status" -eq 0 ] || "$0" stop "$dir"' EXIT
  # Xvfb picks a free display and writes its number once it accepts clients. setsid and the
  # redirections detach it, so whoever started us (CTest) doesn't wait for it.
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    3>"$dir/display" </dev/null >"$dir/xvfb.log" 2>&1 &
  echo $! >"$dir/xvfb.pid"
  for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    sleep 0.1
  done
  [ -s "$dir/display" ] || { cat "$dir/xvfb.log" >&2; exit 1; }
  enter
  mkdir -p "$WINEPREFIX"
  # -p: the server stays when no Wine program runs.
  setsid wineserver -p </dev/null >"$dir/wineserver.log" 2>&1
  wineboot -i </dev/null >"$dir/wineboot.log" 2>&1
  # No window manager runs on the display: Wine then frames its windows itself, and doesn't
  # wait two seconds for a window manager to confirm that a closed box has gone.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # Wine reads which desktop to use, and its size, only when it starts the desktop, and
  # wineboot has started one already: so the session starts again after a change.
  if [ -n "${2:-}" ]; then
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$2" /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    restart=1
  elif wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1; then
    restart=1 # a sized session used this prefix before
  fi
  if [ -n "${restart:-}" ]; then
    wineserver -k
    wineserver -w
    setsid wineserver -p </dev/null >>"$dir/wineserver.log" 2>&1
  fi
  # Keeps the desktop, and with it any confinement, for the whole session (standin.cpp, Hold).
  setsid wine "$1" hold </dev/null >"$dir/hold.log" 2>&1 &
  for _ in $(seq 300); do
    grep -q ready "$dir/hold.log" && exit 0
    sleep 0.1
  done
  echo "Wine's desktop did not come up" >&2
  exit 1
  ;;
run)
  enter
  # Through files: Wine's helper processes would otherwise keep our output open.
  output=$(mktemp "$dir/run.XXXXXX")
  status=0
  "$@" </dev/null >"$output.out" 2>"$output.err" || status=$?
  cat "$output.out"
  cat "$output.err" >&2
  rm -f "$output" "$output.out" "$output.err"
  exit $status
  ;;
stop)
  if [ -s "$dir/display" ]; then
    (enter && wineserver -k) 2>/dev/null || true
  fi
  # Only the Xvfb this session started, should its process id have been reused since.
  pid=$(cat "$dir/xvfb.pid" 2>/dev/null) || true
  if [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]; then
    kill "$pid"
  fi
  rm -f "$dir/display" "$dir/xvfb.pid"
  ;;
*)
  echo "usage: $0 start DIR STANDIN [WxH] | run DIR CMD... | stop DIR" >&2
  exit 2
  ;;
esac
