# The harness under every run of Narvelox.exe in Wine. The end-to-end tests, the demo and the
# benchmark source this file and say only what they run and what they check:
#
#   session_own ARGS...      runs the calling script again, with ARGS, as the first process of
#                            namespaces of its own (tools/common.sh), and exits with its status.
#                            In that second run
#                            session_owned is true and session_own returns at once, so what must
#                            happen on the host (installing, building) goes before it, under
#                            `if ! session_owned`. Source this file before changing folders. The
#                            session's /tmp is its own: of the host's, it sees only the folders
#                            of the checkout, its build/ and those named in session_keep.
#   session_start DIR STANDIN [WxH]
#                            starts a virtual display and Wine. DIR keeps the prefix (DIR/prefix),
#                            reused by the next session, and the logs of the start; STANDIN is
#                            the path of standin.exe. With WxH, Wine's desktop is a virtual desktop
#                            of that size, where a game can switch the display mode as it can't on
#                            the bare display; the display's 1024x768 holds it up to that size.
#   in_session CMD...        runs CMD (e.g. wine reg ...) in the session
#   standin ROLE [ARGS...]   runs standin.exe in one of its roles (standin.cpp)
#   session_trace FROM [FUNCTIONS]
#                            makes a traced run show the calls from the modules FROM (e.g.
#                            "narvelox.exe;control.exe") to the FUNCTIONS named (e.g.
#                            "KERNEL32.Sleep;user32.ClipCursor"), or to any function without them
#   watch DIR EXE [TEXT]     runs EXE (a Linux path) with the argument text TEXT under the watcher:
#                            DIR/timeline is the watcher's timeline, DIR/game.log the stand-in
#                            game's, with the game's STANDIN_* settings taken from the caller, and
#                            with STANDIN_TRACE=1 DIR/calls the calls Wine traced
#   windows_path PATH        PATH as Wine's programs see it
#   timeline DIR PROGRAM [AWK_OPTION...]
#                            runs the awk PROGRAM on DIR's timelines, read by timeline.awk
#   game_rects WxH           the rectangles of a stand-in game that switched to that mode, named
#                            for timeline's rects: its screen, and the centre half of it where it
#                            keeps the cursor
#
# The session ends with the script, however the script ends. Its first process is the script
# itself, in a PID namespace of its own: when it ends, the kernel ends every other process in
# there. The script's first run waits outside as the owner: if the owner ends, by an exit, Ctrl-C,
# SIGTERM or even SIGKILL, the namespace goes with it (own_namespaces). A user namespace, which
# maps the user alone, lets any user make the others. A network namespace and a /tmp of its own
# keep the session's sockets and locks, which Xvfb and Wine name after fixed paths under /tmp,
# apart from every other session's and the host's.
#
# Wine runs 32-bit Windows programs in 32-bit Linux processes, and not every x86-64 host runs
# 32-bit code. session_start finds out which way this host takes, by trying, prints it once and
# keeps it in session_way:
#   native     the host runs them itself
#   emulated   qemu-i386 runs them: the session's binfmt_misc, which no process outside its
#              namespaces sees, hands it every i386 program
# NARVELOX_32BIT=emulated takes the emulated way even where the host could run them itself, and
# NARVELOX_32BIT=native only the native way. A way asked for that can't run here exits 77 where
# the other way can, so that a test of it skips; where neither can, 1.

harness=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
. "$harness/../common.sh"
# The stand-in's settings are each run's own, never the caller's, and so is the session's way.
unset "${!STANDIN_@}"
session_way="" session_qemu=""
session_script=$(realpath "$0") # before the script changes its folder
session_owned() { [ $$ -eq 1 ] && [ "${NARVELOX_SESSION:-}" = owned ]; }

session_keep=() # folders under /tmp but outside the checkout that the session must see too
session_own() {
  if session_owned; then
    private_tmp "${session_keep[@]}"
    return 0
  fi
  NARVELOX_SESSION=owned own_namespaces --user --map-root-user --mount --net -- \
    "$BASH" "$session_script" "$@"
}

session_start() { # DIR STANDIN [WxH]
  session_dir=$(realpath -m -- "$1")
  session_standin=$(realpath -- "$2")
  local size=${3:-}
  mkdir -p "$session_dir"
  # One session a prefix: a second would wait, then say so. The lock goes with the session's last
  # process, an instant after the script's end.
  exec {session_lock}<"$session_dir"
  flock -w 60 "$session_lock" ||
    { echo "Another run has used $(shown "$session_dir") for a minute: let it end first." >&2 && exit 1; }
  rm -f "$session_dir"/{xvfb,wineserver,wineboot,reg,hold}.log "$session_dir/display"
  session_choose_way
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$session_dir/display" \
    </dev/null >"$session_dir/xvfb.log" 2>&1 &
  local _
  for _ in $(seq 100); do
    [ -s "$session_dir/display" ] && break
    sleep 0.1
  done
  [ -s "$session_dir/display" ] || session_failed xvfb "no display within 10 s"
  export DISPLAY=":$(cat "$session_dir/display")" WINEPREFIX=$session_dir/prefix WINEDEBUG=-all
  # No installer prompts for Mono or Gecko, no menu entries on the host.
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
  trap session_stop EXIT
  local made=""
  [ ! -f "$WINEPREFIX/system.reg" ] || made=1
  mkdir -p "$WINEPREFIX"
  # -p: the server stays when no Wine program runs.
  session_step wineserver wineserver -p
  [ -n "$made" ] || session_step wineboot wineboot -i
  # No window manager runs on the display: Wine then frames its windows itself, and doesn't
  # wait two seconds for a window manager to confirm that a closed box has gone.
  # With a size, the desktop named Default is a virtual one; without, "-" deletes the setting.
  local desktop=- desktop_size=-
  [ -z "$size" ] || desktop='"Default"' desktop_size="\"$size\""
  printf '%s\r\n' REGEDIT4 "" '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Managed"="N"' "" \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer]' "\"Desktop\"=$desktop" "" \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' "\"Default\"=$desktop_size" \
    >"$session_dir/settings.reg"
  session_step reg wine reg import "$(windows_path "$session_dir/settings.reg")"
  # Wine reads which desktop to use, and its size, only when it starts the desktop, which wineboot
  # has done: so after it the server starts again.
  if [ -z "$made" ]; then
    session_step wineserver wineserver -k
    session_step wineserver wineserver -w
    session_step wineserver wineserver -p
  fi
  # Keeps the desktop, and with it any confinement, for the whole session (standin.cpp, Hold).
  wine "$session_standin" hold </dev/null >"$session_dir/hold.log" 2>&1 &
  local hold=$!
  for _ in $(seq 300); do
    if grep -qs ready "$session_dir/hold.log"; then
      # On a desktop of another size than asked for, every check of a confinement would be off.
      [ -z "$size" ] || grep -qx "ready $size" "$session_dir/hold.log" ||
        session_failed hold "Wine's desktop is not $size"
      return 0
    fi
    kill -0 $hold 2>/dev/null || session_failed hold "standin.exe hold ended"
    sleep 0.1
  done
  session_failed hold "Wine's desktop did not come up within 30 s"
}

# Lets the wineserver write the prefix's registry and end; the kernel ends the rest.
session_stop() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

# One step of the start, its output in DIR/NAME.log: if it fails, the start says which step it
# was and shows the end of that log.
session_step() { # NAME CMD...
  local name=$1
  shift
  "$@" </dev/null >>"$session_dir/$name.log" 2>&1 || session_failed "$name" "exit code $?"
}
session_failed() { # NAME WHAT
  echo "session: $1 failed ($2); the end of $(shown "$session_dir/$1.log"):" >&2
  tail -n 20 "$session_dir/$1.log" | sed 's/^/  /' >&2
  exit 1
}

wine32=/usr/lib/wine/wine # Wine's loader of 32-bit programs: itself an i386 program

# Why WAY can't run 32-bit Wine here; nothing if it can. The emulated way's answer leaves qemu
# registered for the session.
session_why_not() { # WAY
  local output
  if [ "$1" = native ]; then
    output=$("$wine32" --version 2>&1) && return 0
    [[ $output != *"Exec format error"* ]] || output="this host runs only 64-bit code"
  elif ! command -v qemu-i386 >/dev/null; then
    output="qemu-i386 is missing (tools/install-deps.sh installs it)"
  elif ! mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; then
    output="Linux $(uname -r) gives no user namespace a binfmt_misc of its own (6.7 and later do)"
  else
    # qemu's own pattern for i386: ELF, 32-bit, little-endian, an executable or shared object
    # (the last \xfe), for the 386. F opens qemu-i386 once, here; P keeps the program's argv[0].
    printf ":narvelox-i386:M::%s:%s:/usr/bin/qemu-i386:FP\n" \
      "\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00" \
      "\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff" \
      >/proc/sys/fs/binfmt_misc/register
    output=$("$wine32" --version 2>&1) && return 0
  fi
  # The last line says why; a loader that failed without a word still may not be taken.
  output=$(tail -n 1 <<<"$output")
  echo "${output:-$wine32 failed without a word}"
}

# Picks the session's way, prints it and keeps it: the native way where it runs, unless
# NARVELOX_32BIT names one.
session_choose_way() {
  local wanted=${NARVELOX_32BIT:-} native emulated=""
  case $wanted in
  "" | native | emulated) ;;
  *) echo "NARVELOX_32BIT is native, emulated or unset, not \"$(shown "$wanted")\"" >&2 && exit 2 ;;
  esac
  native=$(session_why_not native)
  if [ "$wanted" = emulated ] || [ -n "$native" ]; then
    emulated=$(session_why_not emulated)
  fi
  if [ "$wanted" != emulated ] && [ -z "$native" ]; then
    session_way=native
    echo "32-bit code: native"
  elif [ "$wanted" != native ] && [ -z "$emulated" ]; then
    session_way=emulated session_qemu=$(qemu-i386 --version | awk 'NR == 1 { print $3 }')
    echo "32-bit code: emulated (qemu-i386 $session_qemu): ${native:-NARVELOX_32BIT=emulated asks for it}"
  elif [ -n "$wanted" ] && { [ -z "$native" ] || [ -z "$emulated" ]; }; then
    echo "32-bit code: $wanted cannot run here: $([ "$wanted" = native ] && echo "$native" || echo "$emulated")" >&2
    exit 77
  else
    echo "32-bit code: cannot run here; native: $native; emulated: $emulated" >&2
    exit 1
  fi
}

# Through files: Wine's helper processes would otherwise keep our output open.
in_session() { # CMD...
  local output status=0
  output=$(mktemp -d)
  "$@" </dev/null >"$output/out" 2>"$output/err" || status=$?
  cat "$output/out"
  cat "$output/err" >&2
  rm -rf "$output"
  return $status
}

standin() { in_session wine "$session_standin" "$@"; }

# Wine's relay trace reads these settings as each process starts, and traces nothing unless the
# process runs with WINEDEBUG=+relay, as the watcher starts a traced run.
session_trace() { # FROM [FUNCTIONS]
  local include=-
  [ -z "${2:-}" ] || include="\"$2\""
  printf '%s\r\n' REGEDIT4 "" '[HKEY_CURRENT_USER\Software\Wine\Debug]' "\"RelayInclude\"=$include" \
    "\"RelayFromInclude\"=\"$1\"" '"RelayFromExclude"=-' >"$session_dir/trace.reg"
  in_session wine reg import "$(windows_path "$session_dir/trace.reg")" >/dev/null
}

# A run that hangs ends after a minute, so that the next one still runs. Its output goes to files,
# which no Wine helper process can keep open.
watch() { # DIR EXE [TEXT]
  rm -f "$1/game.log"
  local trace reader
  exec {trace}> >(session_calls >"$1/calls")
  reader=$!
  STANDIN_LOG=$(windows_path "$1/game.log") timeout 60 wine "$session_standin" run \
    "$(windows_path "$2")" ${3:+"$3"} </dev/null >"$1/timeline" 2>&"$trace" {trace}>&- || true
  # What the watched processes traced is in the pipe ahead of this line, however far behind the
  # reader is on a busy host. A Wine service they started may keep the pipe open for the rest of
  # the session, so the reader ends at this line, not at the pipe's end; on a line of its own,
  # should a process have been ended halfway through one.
  printf '\n%s\n' "$session_calls_end" >&"$trace"
  exec {trace}>&-
  wait "$reader"
  touch "$1/game.log" # no game may have run
}

# The calls in Wine's trace of a run with STANDIN_TRACE, each timed as its line arrives, on the
# clock of the timelines: "TIME call|ret DLL.FUNCTION..."; its other lines (window procedures and
# the like) are dropped, and any other line goes on to stderr.
session_calls_end="-- the watcher has ended --"
session_calls() {
  local line now
  while IFS= read -r line && [ "$line" != "$session_calls_end" ]; do
    now=${EPOCHREALTIME//[!0-9]/}
    if [[ $line =~ ^[0-9a-f]+:(Call|Ret)\ +([A-Za-z0-9_]+\.[A-Za-z0-9_]+\(.*) ]]; then
      echo "${now:0:-3}.${now: -3} ${BASH_REMATCH[1],,} ${BASH_REMATCH[2]}"
    elif [[ -n $line && $line != *@(trace:relay:|PE DLL \(|TLS callback \(|Starting thread| window proc | dialog proc )* ]]; then
      echo "$line" >&2
    fi
  done
}

windows_path() { echo "Z:${1//\//\\}"; }

game_rects() { # WxH
  local width height
  IFS=x read -r width height <<<"$1"
  echo "screen=0 0 $width $height;own=$((width / 4)) $((height / 4)) $((width * 3 / 4)) $((height * 3 / 4))"
}

timeline() { # DIR PROGRAM [AWK_OPTION...]
  local dir=$1 program=$2
  shift 2
  awk "$@" -f "$harness/timeline.awk" -f <(echo "$program") "$dir/timeline" "$dir/game.log" \
    "$dir/calls"
}
