#!/usr/bin/env bash
# Shows Narvelox.exe at work: under Wine on a virtual display, with standin.exe playing
# FRAV.EXE. It runs 15 s: it switches the 1024x768 desktop to 640x480 once it has loaded, which
# is why the launcher waits before it reads the screen, switches back before it ends and then
# confines the cursor itself, so that the launcher lifting the confinement shows. Prints a
# timeline a player can read.
#
#   tools/run-launcher.sh           starts the game through the launcher
#   tools/run-launcher.sh --norun   a clip-only run: starts nothing, confines the cursor
#   tools/run-launcher.sh --usage   shows the usage box, saves a picture of it, dismisses it
#
# On a fresh Debian 12 machine run it as root: it installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

mode=${1:-}
case $mode in
"" | --norun | --usage) ;;
*)
  echo "usage: $0 [--norun | --usage]" >&2
  exit 2
  ;;
esac

tools/install-deps.sh
echo "Building the windows preset..."
log=$(mktemp)
if ! { cmake --preset windows && cmake --build --preset windows; } >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
rm -f "$log"

build=$root/build/windows
session=$root/build/demo-wine
demo=$root/build/demo # the game's folder: the launcher, and the stand-in as FRAV.EXE
rm -rf "$demo"
mkdir -p "$demo"
cp "$build/Narvelox.exe" "$demo/"
cp "$build/standin.exe" "$demo/FRAV.EXE"
windows_path() { echo "Z:${1//\//\\}"; }
session_script=$root/tools/standin/wine-session.sh
in_session() { "$session_script" run "$session" "$@"; }
standin() { in_session wine "$build/standin.exe" "$@"; }
launcher=$(windows_path "$demo/Narvelox.exe")

echo "Starting a virtual display and Wine (the first time takes a minute)..."
# Only in a Wine virtual desktop can the game switch the display; --norun and --usage show the
# plain session, as they always have.
size=1024x768 game_mode=640x480 exit_clip=300,200,700,500
[ -z "$mode" ] || size=""
"$session_script" start "$session" "$build/standin.exe" ${size:+"$size"}
trap '"$session_script" stop "$session"' EXIT

if [ "$mode" = --usage ]; then
  standin run "$launcher" "/?" >/dev/null &
  box=$(standin box | tr -d '\r')
  read -r _ left top right bottom <<<"${box%%$'\n'*}"
  sleep 0.5 # lets it finish painting
  picture=$root/build/usage-box.png
  DISPLAY=":$(cat "$session/display")" import -window root \
    -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$picture"
  standin box dismiss >/dev/null
  wait
  echo "Narvelox.exe /? shows a box captioned \"Zintrok - Narvelox\" that says:"
  echo
  sed 's/^/    /' <<<"${box#*$'\n'}"
  echo
  echo "Saved a picture of it in $picture"
  exit 0
fi

screen=$(standin clip) # nothing confines the cursor yet, so this is the whole screen
argument=${mode#--}
argument=${argument:+/$argument}
if [ -n "$argument" ]; then
  # A smaller confinement to start from, or the launcher's, to the whole desktop, wouldn't show.
  standin clip 0 0 512 384 >/dev/null
  echo "Cursor confined to 0,0-512,384 beforehand, so that the launcher's confinement shows."
else
  echo "The desktop is $size; the game switches the display to $game_mode once it has loaded."
fi
printf 'Running Narvelox.exe%s ' "${argument:+ $argument}"
cd "$demo"
STANDIN_LOG=$(windows_path "$demo/game.log") STANDIN_RUN_MS=15000 STANDIN_MODE=$game_mode \
  STANDIN_EXIT_CLIP=$exit_clip standin run "$launcher" ${argument:+"$argument"} >"$demo/timeline" &
while kill -0 $! 2>/dev/null; do
  printf .
  sleep 1
done
echo
wait $!
echo

# The game's own steps come from its log, the launcher's from the watcher. A display switch
# frees the cursor until the game confines it again, which the watcher may or may not catch:
# those moments are left out.
{
  sed 's/^/launcher /' "$demo/timeline"
  [ ! -f "$demo/game.log" ] || sed 's/^/game /' "$demo/game.log"
} | sort -s -g -k2,2 | awk -v screen="$screen" -v exit_clip="${exit_clip//,/ }" -v argument="$argument" '
  function say(text) { printf "%5.1f s  %s\n", ($2 - start) / 1000, text }
  function rect() { return $4 "," $5 "-" $6 "," $7 }
  { clip = $4 " " $5 " " $6 " " $7 }
  $1 == "launcher" && $3 == "start" { start = $2; say("launcher started (Narvelox.exe" (argument ? " " argument : "") ")") }
  $1 == "launcher" && $3 == "clip" && seen++ {
    if (gameEnded && clip == screen) say("confinement lifted")
    else if (!game && clip == screen) say("cursor confined to " rect() " (the desktop)")
    else if (own && clip == game) say("cursor confined to " rect() " (the game\x27s screen)")
  }
  $1 == "launcher" && $3 == "end" { say("launcher ended") }
  $1 == "game" && $3 == "cmdline" { say("game started, its command line: " substr($0, index($0, " cmdline ") + 9)) }
  $1 == "game" && $3 == "mode" && $6 != 0 { say("the game could not switch the display: error " $6) }
  $1 == "game" && $3 == "mode" && $6 == 0 {
    say("game switched the display " (game ? "back " : "") "to " $4 "x" $5)
    if (!game) game = "0 0 " $4 " " $5
  }
  $1 == "game" && $3 == "clip" && game && !own++ { say("the game confines the cursor to " rect() " within its screen") }
  $1 == "game" && $3 == "clip" && clip == exit_clip { say("the game confines the cursor to " rect() " as it ends") }
  $1 == "game" && $3 == "exit" { gameEnded = 1; say("game ended") }
'
cd "$root"
if [ -n "$argument" ]; then
  read -r left top right bottom <<<"$(standin clip)"
  echo "After the launcher the cursor stays confined to $left,$top-$right,$bottom."
fi
