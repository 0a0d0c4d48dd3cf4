#!/usr/bin/env bash
# End-to-end scenarios: the real Narvelox.exe, with its real ten-second delay, under Wine on a
# virtual display of its own, with standin.exe as FRAV.EXE and as the watcher (tools/standin).
# They check what only the real exe can show: the real cut of its command line, its own name in
# the usage box, the error box, where it finds the game, and the confinement over time, read
# after the game has switched the display: Wine's desktop is a 640x480 virtual desktop. The
# session runs 32-bit code the way this host allows, or the way NARVELOX_32BIT names
# (tools/standin/wine-session.sh); a way that can't run here exits 77.
#   scenarios.sh NARVELOX_EXE STANDIN_EXE WORK_DIR
set -euo pipefail
narvelox=$1 standin_exe=$2 work=$3
session=$(dirname "$0")/../../tools/standin/wine-session.sh
rm -rf "$work"
mkdir -p "$work"
"$session" start "$work/wine" "$standin_exe" 640x480
trap '"$session" stop "$work/wine"' EXIT
standin() { "$session" run "$work/wine" wine "$standin_exe" "$@"; }
windows_path() { echo "Z:${1//\//\\}"; }

desktop=$(standin clip | tr -d '\r') # nothing confines the cursor yet: the whole desktop
game_clip="200 150 400 300"          # the stand-in game sets it as it ends, so the lift shows

# What a 32-bit process costs here from its creation to its first confinement, in seconds: the
# stand-in started directly, confining the cursor as it ends at once. The launcher pays as much
# before it confines, and nothing shows when it has; under emulation it is ten times the native
# cost, most of it translating Wine's code.
STANDIN_LOG=$(windows_path "$work/startup.log") STANDIN_RUN_MS=0 STANDIN_EXIT_CLIP=${game_clip// /,} \
  standin run "$(windows_path "$standin_exe")" >/dev/null
startup=$(awk '$2 == "created" { created = $1 } $2 == "clip" { clip = $1 }
  END { printf "%.3f", (clip - created) / 1000 }' "$work/startup.log")
echo "A 32-bit process takes $startup s here from its creation to its first confinement."
usage_text=$'Usage: \r\n\r\n%s[.EXE] [/NoRun]\r\n\r\n/NoRun - Clip screen but don\'t start game.'

# Name, kind, the launcher's file name, where FRAV.EXE is (exe, cwd or none), how long the game
# runs (ms), the display mode it switches to, and last the argument text, tabs and spaces kept.
# Kinds: a usage or error box; a cliponly or game run, whose confinement is watched; started,
# checked for the game's command line and that the launcher waited. The game's mode is larger
# than the desktop, so that a rectangle read before the switch shows: a smaller one is clamped.
cases="usage-renamed|usage|my.old launcher.exe|none|0||/?
no-game-anywhere|error|Narvelox.exe|none|0||
norun-spaced|cliponly|Narvelox.exe|exe|0|| /NoRun 
norun-tab|started|Narvelox.exe|exe|1000||/norun	
game-in-current-dir|game|Narvelox.exe|cwd|12000|800x600|"

# Runs one case in WORK_DIR/NAME: the launcher in exe/, started in cwd/, watched, its box read
# and dismissed. What went wrong goes into failures, beside the timeline and the game's log.
run_case() { # name kind exe game ms mode text
  local dir=$work/$1 box="" expected_box=""
  mkdir -p "$dir/exe" "$dir/cwd"
  cp "$narvelox" "$dir/exe/$3"
  [ "$4" = none ] || cp "$standin_exe" "$dir/$4/FRAV.EXE"
  # A smaller confinement first, so that the launcher's, to the whole desktop, shows.
  [[ $2 != @(cliponly|game) ]] || standin clip 100 100 300 200 >/dev/null
  (cd "$dir/cwd" && STANDIN_LOG=$(windows_path "$dir/game.log") STANDIN_RUN_MS=$5 STANDIN_MODE=$6 \
    STANDIN_EXIT_CLIP=${game_clip// /,} timeout 60 \
    "$session" run "$work/wine" wine "$standin_exe" run "$(windows_path "$dir/exe/$3")" \
    ${7:+"$7"} | tr -d '\r' >"$dir/timeline") &
  if [[ $2 = @(usage|error) ]]; then
    box=$(standin box dismiss) && box=${box#*$'\n'} # after the line with the box's place
    # shellcheck disable=SC2059 # the usage text is the format
    [ "$2" = usage ] && expected_box=$(printf "$usage_text" "${3%.*}") || expected_box="Can't start FRAV game."
  fi
  wait $! || true
  touch "$dir/game.log"
  # Times in seconds from the launcher's creation, as Windows keeps it; each step may come half a
  # second late. The confinement comes after the 10 s delay: in a game run, the delay starts
  # once the game has been created and before its first instruction; in a clip-only run, when
  # the launcher starts, which the measured start-up cost may put off.
  # With a mode, the game's screen and the centre half of it, where the game confines the cursor.
  box=$box expected_box=$expected_box awk -v kind="$2" -v desktop="$desktop" -v game_clip="$game_clip" -v mode="$6" -v startup="$startup" '
    function at(t) { return (t - start) / 1000 }
    function fail(what) { failures = failures "    " what "\n" }
    BEGIN { if (split(mode, m, "x") == 2) { screen = "0 0 " m[1] " " m[2]; own = m[1] / 4 " " m[2] / 4 " " m[1] * 3 / 4 " " m[2] * 3 / 4 } }
    FILENAME == ARGV[1] && $2 == "created" { start = $1 }
    FILENAME == ARGV[1] && $2 == "clip" && clipLines++ {
      clip = $3 " " $4 " " $5 " " $6
      clips = clips " " (clip == desktop ? "desktop" : clip == game_clip ? "game" : clip == screen ? "screen" : clip == own ? "own" : clip)
      if (clip == desktop) lifted = at($1)
      if (clip == (screen ? screen : desktop) && !confined && clips ~ (own ? " own " : "")) confined = at($1)
    }
    FILENAME == ARGV[1] && $2 == "end" { ended = at($1); code = $3 }
    FILENAME == ARGV[2] && $2 == "cmdline" { cmdline = substr($0, index($0, " cmdline ") + 9) }
    FILENAME == ARGV[2] && $2 == "created" { gameCreated = at($1) }
    FILENAME == ARGV[2] && $2 == "start" { gameStarted = at($1) }
    FILENAME == ARGV[2] && $2 == "exit" { gameEnded = at($1) }
    END {
      if (ended == "" || code != 0) fail("the launcher did not end with exit code 0")
      if (ENVIRON["box"] != ENVIRON["expected_box"]) fail("box text \"" ENVIRON["box"] "\"")
      if (cmdline != (kind ~ /game|started/ ? "FRAV.EXE" : "")) fail("game command line \"" cmdline "\"")
      if (kind ~ /usage|error/ && ended >= 3 + startup) fail("the launcher ended at " ended " s, not at once")
      # A switch frees the cursor until the game confines it again: seen or not, by chance.
      want = kind == "cliponly" ? "^ desktop$" : kind == "game" ? "^( screen)? own screen( desktop)? game desktop$" : ""
      if (want && clips !~ want) fail("the confinement went:" clips)
      if (want && !confined) fail("never confined to " (screen ? "the screen of the game" : "the desktop"))
      else if (kind == "cliponly" && (confined < 10 || confined >= 10.5 + startup))
        fail("confined at " confined " s, not within 10 to " 10.5 + startup " s")
      else if (kind == "game" && (confined < gameCreated + 10 || confined >= gameStarted + 10.5))
        fail("confined at " confined " s, the game was created at " gameCreated " s and started at " gameStarted " s")
      if (kind == "game" && (lifted < gameEnded || lifted >= gameEnded + 0.5))
        fail("lifted at " lifted " s, the game ended at " gameEnded " s")
      if (want && ended >= (kind == "game" ? gameEnded : confined) + 0.5) fail("ended at " ended " s")
      if (kind == "started" && (ended < 10 || ended < gameEnded)) fail("ended at " ended " s, before the game")
      printf "%s", failures
    }' "$dir/timeline" "$dir/game.log" >"$dir/failures"
}

failed=0
while IFS='|' read -r name kind exe game ms mode text; do
  run_case "$name" "$kind" "$exe" "$game" "$ms" "$mode" "$text"
  if [ -s "$work/$name/failures" ]; then
    failed=$((failed + 1))
    printf 'FAIL %s\n%s\n' "$name" "$(cat "$work/$name/"{failures,timeline,game.log})"
  else
    echo "PASS $name"
  fi
done <<<"$cases"
echo "$failed of $(wc -l <<<"$cases") cases failed"
[ "$failed" -eq 0 ]
