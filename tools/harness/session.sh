#!/usr/bin/env bash
# A Wine session of its own, for the end-to-end tests, the demo and the benchmark: a virtual
# display (Xvfb), a Wine prefix, and one wineserver and one desktop kept from start to stop. The
# cursor confinement belongs to the desktop and outlasts the process that set it, so everything
# that watches it must share one session, and nobody else's.
#
#   wine-session.sh start DIR STANDIN [WxH]
#                                       starts the display and Wine; DIR/prefix is the prefix,
#                                       STANDIN the path of standin.exe. With WxH, Wine's desktop
#                                       is a virtual desktop of that size, where a game can switch
#                                       the display mode as it can't on the bare display; the
#                                       display's 1024x768 holds it at up to that size
#   wine-session.sh run DIR CMD...      runs CMD (e.g. wine x.exe) in the session
#   wine-session.sh stop DIR            ends the session's Wine processes and its display
# DIR/way names the way the session runs 32-bit code (below), "native" or "emulated (qemu-i386
# VERSION)"; DIR/hold.pid holds the process id of the idle standin.exe that keeps its desktop.
#
# Wine runs 32-bit Windows programs in 32-bit Linux processes, and not every x86-64 host runs
# 32-bit code. So start finds out which way this host takes, by trying, prints it once and keeps
# it for the session:
#   native     the host runs them itself
#   emulated   qemu-i386 runs them, in a user and mount namespace of the session's own whose
#              binfmt_misc hands it every i386 program; nothing outside the session sees that
# NARVELOX_32BIT=emulated takes the emulated way even where the host could run them itself, and
# NARVELOX_32BIT=native only the native way.
set -euo pipefail
command=$1
dir=$(realpath -m "$2")
shift 2

wine32=/usr/lib/wine/wine # Wine's loader of 32-bit programs: itself an i386 program
# Runs a command inside a new user and mount namespace where the kernel hands every i386 ELF
# program to qemu-i386. The pattern is qemu's own for i386: ELF, 32-bit, little-endian, an
# executable or shared object (the last \xfe), for the 386. F opens qemu-i386 once, here; P
# keeps the program's argv[0].
emulated=(unshare --user --map-root-user --mount sh -ec '
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || {
    echo "Linux $(uname -r) gives no user namespace a binfmt_misc of its own (6.7 and later do)" >&2
    exit 126
  }
  printf ":narvelox-i386:M::%s:%s:/usr/bin/qemu-i386:FP\n" \
    "\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00" \
    "\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff" \
    >/proc/sys/fs/binfmt_misc/register
  exec "$@"' sh)

# Prints why WAY can't run 32-bit Wine here; nothing if it can.
why_not() { # WAY
  local output
  if [ "$1" = native ]; then
    output=$("$wine32" --version 2>&1) && return 0
    [[ $output != *"Exec format error"* ]] || output="this host runs only 64-bit code"
  elif ! command -v qemu-i386 >/dev/null; then
    output="qemu-i386 is missing (tools/install-deps.sh installs it)"
  else
    output=$("${emulated[@]}" "$wine32" --version 2>&1) && return 0
  fi
  tail -n 1 <<<"$output"
}

# Picks the session's way, prints it and writes it to DIR/way: the native way where it runs,
# unless NARVELOX_32BIT names one. A way asked for that can't run here exits 77 where the other
# way can, so that a test of it skips; where neither can, 1.
choose_way() {
  local wanted=${NARVELOX_32BIT:-}
  case $wanted in
  "" | native | emulated) ;;
  *) echo "NARVELOX_32BIT is native, emulated or unset, not \"$wanted\"" >&2 && exit 2 ;;
  esac
  local -A why=([native]="$(why_not native)" [emulated]="$(why_not emulated)")
  if [ "$wanted" != emulated ] && [ -z "${why[native]}" ]; then
    echo native >"$dir/way"
    echo "32-bit code: native"
  elif [ "$wanted" != native ] && [ -z "${why[emulated]}" ]; then
    echo "emulated (qemu-i386 $(qemu-i386 --version | awk 'NR == 1 { print $3 }'))" >"$dir/way"
    echo "32-bit code: $(cat "$dir/way"): ${why[native]:-NARVELOX_32BIT=emulated asks for it}"
  elif [ -n "$wanted" ] && { [ -z "${why[native]}" ] || [ -z "${why[emulated]}" ]; }; then
    echo "32-bit code: $wanted cannot run here: ${why[$wanted]}" >&2
    exit 77
  else
    echo "32-bit code: cannot run here; native: ${why[native]}; emulated: ${why[emulated]}" >&2
    exit 1
  fi
}

enter() {
  local display
  display=$(cat "$dir/display")
  export WINEPREFIX=$dir/prefix WINEDEBUG=-all DISPLAY=":$display"
  # No installer prompts for Mono or Gecko, no menu entries on the host.
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
  way=()
  [[ $(cat "$dir/way" 2>/dev/null) != emulated* ]] || way=("${emulated[@]}")
}

# One step of the start, its output in DIR/NAME.log: if it fails, the start says which step it
# was and shows the end of that log.
step() { # NAME CMD...
  local name=$1
  shift
  "$@" </dev/null >>"$dir/$name.log" 2>&1 || failed "$name" "exit code $?"
}
failed() { # NAME WHAT
  echo "wine-session: $1 failed ($2); the end of $dir/$1.log:" >&2
  tail -n 20 "$dir/$1.log" | sed 's/^/  /' >&2
  exit 1
}

case $command in
start)
  "$0" stop "$dir" # whatever an interrupted run left behind
  mkdir -p "$dir"
  rm -f "$dir"/*.log
  # A start that fails halfway, or is interrupted, leaves nothing running: its callers only
  # learn to stop the session once it has started.
  trap 'exit 1' INT TERM
  trap 'status=$?; [ "$status" -eq 0 ] || "$0" stop "$dir"' EXIT
  choose_way
  # Xvfb picks a free display and writes its number once it accepts clients. setsid and the
  # redirections detach it, so whoever started us (CTest) doesn't wait for it.
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    3>"$dir/display" </dev/null >"$dir/xvfb.log" 2>&1 &
  echo $! >"$dir/xvfb.pid"
  for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    sleep 0.1
  done
  [ -s "$dir/display" ] || failed xvfb "no display within 10 s"
  enter
  mkdir -p "$WINEPREFIX"
  # -p: the server stays when no Wine program runs.
  step wineserver setsid wineserver -p
  step wineboot "${way[@]}" wineboot -i
  # No window manager runs on the display: Wine then frames its windows itself, and doesn't
  # wait two seconds for a window manager to confirm that a closed box has gone.
  step reg "${way[@]}" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  # Wine reads which desktop to use, and its size, only when it starts the desktop, and
  # wineboot has started one already: so the session starts again after a change.
  if [ -n "${2:-}" ]; then
    step reg "${way[@]}" wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$2" /f
    step reg "${way[@]}" wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
    restart=1
  elif "${way[@]}" wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1; then
    restart=1 # a sized session used this prefix before
  fi
  if [ -n "${restart:-}" ]; then
    step wineserver wineserver -k
    step wineserver wineserver -w
    step wineserver setsid wineserver -p
  fi
  # Keeps the desktop, and with it any confinement, for the whole session (standin.cpp, Hold).
  setsid "${way[@]}" wine "$1" hold </dev/null >"$dir/hold.log" 2>&1 &
  echo $! >"$dir/hold.pid"
  for _ in $(seq 300); do
    grep -q ready "$dir/hold.log" && exit 0
    kill -0 "$(cat "$dir/hold.pid")" 2>/dev/null || failed hold "standin.exe hold ended"
    sleep 0.1
  done
  failed hold "Wine's desktop did not come up within 30 s"
  ;;
run)
  enter
  # Through files: Wine's helper processes would otherwise keep our output open.
  output=$(mktemp "$dir/run.XXXXXX")
  status=0
  "${way[@]}" "$@" </dev/null >"$output.out" 2>"$output.err" || status=$?
  cat "$output.out"
  cat "$output.err" >&2
  rm -f "$output" "$output.out" "$output.err"
  exit $status
  ;;
stop)
  if [ -s "$dir/display" ]; then
    # -w: a server still ending holds the prefix, and the next session's server would give up.
    (enter && wineserver -k && wineserver -w) 2>/dev/null || true
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
