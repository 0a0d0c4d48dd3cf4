#!/usr/bin/env bash
# End-to-end scenarios: the real Narvelox.exe, with its real ten-second delay, under Wine in a
# 640x480 virtual desktop, with standin.exe as FRAV.EXE and as the watcher (tools/harness). They
# check what only the real exe can show: the real cut of its command line, its own name in the
# usage box, the error box, where it finds the game, and the confinement over time, read after
# the game has switched the display. A way of running 32-bit code that can't run here exits 77,
# and where neither way can, 1.
#   scenarios.sh NARVELOX_EXE STANDIN_EXE SESSION_DIR WORK_DIR
set -euo pipefail
. "$(dirname "$0")/../../tools/harness/session.sh"
end_with_parent "$@"
if [ $# -ne 4 ] || [ ! -f "$1" ] || [ ! -f "$2" ]; then
  echo "usage: scenarios.sh NARVELOX_EXE STANDIN_EXE SESSION_DIR WORK_DIR, the first two files" >&2
  exit 2
fi
narvelox=$(realpath -- "$1")
standin_exe=$(realpath -- "$2")
work=$(realpath -m -- "$4")
sessions=$(realpath -m -- "$3")
# WORK_DIR is emptied, but only where it is this script's, by its mark, or empty already: a wrong
# argument removes nothing. Both folders are made before the session, which sees only folders
# that are there, by their real paths; WORK_DIR is emptied once the session holds its prefix,
# which a second run of the same folders waits for.
both_made() {
  if [ ! -e "$work/.e2e-scenarios" ] && [ -n "$(ls -A "$work" 2>/dev/null)" ]; then
    echo "$(shown "$work") holds what these scenarios didn't make: give them a folder of their own." >&2
    exit 2
  fi
  mkdir -p -- "$work" "$sessions"
}
session_owned || both_made
session_keep=("$sessions" "$work")
session_own "$@"
session_start "$sessions" "$standin_exe" 640x480
both_made
find "$work" -mindepth 1 -delete
touch "$work/.e2e-scenarios"
late=$([ "$session_way" = native ] && echo 0.5 || echo 1) # how late a step may come, in seconds

desktop=$(standin clip) # nothing confines the cursor yet: the whole desktop
game_clip="200 150 400 300" # the stand-in game sets it as it ends, so the lift shows
usage_text=$'Usage: \r\n\r\n%s[.EXE] [/NoRun]\r\n\r\n/NoRun - Clip screen but don\'t start game.'

# Name, kind, the launcher's file name, where FRAV.EXE is (exe, cwd or none), how long the game
# runs (ms), the display mode it switches to, and last the argument text, tabs and spaces kept.
# Kinds: a usage or error box; a cliponly or game run, whose confinement is watched. The game's
# mode is larger than the desktop, so that a rectangle read before the switch shows: a smaller
# one is clamped.
cases="usage-renamed|usage|my.old launcher.exe|none|0||/?
no-game-anywhere|error|Narvelox.exe|none|0||
norun-spaced|cliponly|Narvelox.exe|exe|0|| /NoRun 
game-in-current-dir|game|Narvelox.exe|cwd|12000|800x600|"

# Every run is traced: Wine shows the launcher's calls that tell its story, from its first (the
# argument text) to the box or the confinement, each timed as it comes, so that each window counts
# from the event it is about, however long the launcher took to start.
session_trace "$(cut -d '|' -f 3 <<<"$cases" | sort -u | paste -sd ';')" \
  "KERNEL32.GetCommandLineW;KERNEL32.CreateProcessA;KERNEL32.Sleep;user32.ClipCursor;user32.MessageBoxW"

# Times are in seconds from the launcher's creation, as Windows keeps it. The confinement comes
# after the 10 s delay, which in a game run starts once CreateProcessA has returned, and in a
# clip-only run at the launcher's first call; no delay starts before the launcher's creation,
# nor, in a game run, before the game's. A box comes at once after the first call. Each step may
# come half a second late, or a second under emulation, where qemu first translates the code of
# user32 that the launcher calls after its delay. The rectangles: the desktop, the game's exit
# confinement, and with a mode the game's screen and its centre half, where the game keeps the
# cursor.
check='function fail(what) { printf "    %s\n", what }
function traced(event, function_,    i) { return (i = find("calls", event, "", "^" function_ "\\(")) ? at[i] : "none" }
END {
  ended = at[e = find("watcher", "end")]
  if (!e || values[e] != 0) fail("the launcher did not end with exit code 0")
  if (ENVIRON["box"] != ENVIRON["expected_box"]) fail("box text \"" ENVIRON["box"] "\"")
  cmdline = values[find("game", "cmdline")]
  if (cmdline != (kind == "game" ? "FRAV.EXE" : "")) fail("game command line \"" cmdline "\"")
  first = (i = find("calls", "call")) ? at[i] : "none"
  if (kind ~ /usage|error/) {
    shown = traced("call", "user32.MessageBoxW"); dismissed = traced("ret", "user32.MessageBoxW")
    if (first == "none" || shown == "none" || shown >= first + 2)
      fail("the box came at " shown " s, the first call at " first " s")
    else if (ended >= dismissed + late) fail("the launcher ended at " ended " s, its box went at " dismissed " s")
  }
  gameCreated = at[find("game", "created")]; gameEnded = at[find("game", "exit")]
  # A switch frees the cursor until the game confines it again: seen or not, by chance.
  want = kind == "cliponly" ? "^ desktop$" : kind == "game" ? "^( screen)? own screen( desktop)? exit desktop$" : ""
  if (want && clips("watcher") !~ want) fail("the confinement went:" clips("watcher"))
  if (kind == "game") {
    confined = at[find("watcher", "clip", at[find("watcher", "clip", "", "^own$")], "^screen$")]
    lifted = at[find("watcher", "clip", at[find("watcher", "clip", "", "^exit$")], "^desktop$")]
    launched = traced("ret", "KERNEL32.CreateProcessA")
  } else confined = at[find("watcher", "clip", 0, "^desktop$")]
  if (want && confined == "") fail("never confined to " (kind == "game" ? "the screen of the game" : "the desktop"))
  else if (kind == "cliponly" && (confined < 10 || first == "none" || confined >= first + 10 + late))
    fail("confined at " confined " s, the first call at " first " s")
  else if (kind == "game" && (confined < gameCreated + 10 || launched == "none" || confined >= launched + 10 + late))
    fail("confined at " confined " s, the game created at " gameCreated " s, CreateProcessA returned at " launched " s")
  if (kind == "game" && (lifted == "" || lifted < gameEnded || lifted >= gameEnded + late))
    fail("lifted at " lifted " s, the game ended at " gameEnded " s")
  if (want && ended >= (kind == "game" ? gameEnded : confined) + late) fail("ended at " ended " s")
}'

# Runs one case in WORK_DIR/NAME: the launcher in exe/, started in cwd/, watched, its box read
# and dismissed. What went wrong goes into failures, beside the timeline and the game's log.
run_case() { # name kind exe game ms mode text
  local dir=$work/$1 box="" expected_box="" rects="desktop=$desktop;exit=$game_clip"
  mkdir -p "$dir/exe" "$dir/cwd"
  cp "$narvelox" "$dir/exe/$3"
  [ "$4" = none ] || cp "$standin_exe" "$dir/$4/FRAV.EXE"
  [ -z "$6" ] || rects+=";$(game_rects "$6")"
  # A smaller confinement first, so that the launcher's, to the whole desktop, shows.
  [[ $2 != @(cliponly|game) ]] || standin clip 100 100 300 200 >/dev/null
  (cd "$dir/cwd" && STANDIN_TRACE=1 STANDIN_RUN_MS=$5 STANDIN_MODE=$6 \
    STANDIN_EXIT_CLIP=${game_clip// /,} watch "$dir" "$dir/exe/$3" "$7") &
  if [[ $2 = @(usage|error) ]]; then
    box=$(standin box dismiss) && box=${box#*$'\n'} # after the line with the box's place
    # shellcheck disable=SC2059 # the usage text is the format
    [ "$2" = usage ] && expected_box=$(printf "$usage_text" "${3%.*}") || expected_box="Can't start FRAV game."
  fi
  wait $! || true
  box=$box expected_box=$expected_box timeline "$dir" "$check" -v kind="$2" -v rects="$rects" \
    -v late="$late" >"$dir/failures"
}

while IFS='|' read -r name kind exe game ms mode text; do
  run_case "$name" "$kind" "$exe" "$game" "$ms" "$mode" "$text"
  [ ! -s "$work/$name/failures" ] && echo "PASS $name" ||
    printf 'FAIL %s\n%s\n' "$name" "$(cat "$work/$name/"{failures,timeline,game.log,calls})"
done <<<"$cases"
failed=$(find "$work" -name failures -size +0 | wc -l)
echo "$failed of $(wc -l <<<"$cases") cases failed"
[ "$failed" -eq 0 ]
