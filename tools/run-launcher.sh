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
# It checks first that nothing is missing (tools/install-deps.sh), which only root can install.
set -euo pipefail
. "$(dirname "$0")/harness/session.sh"
cd "$(dirname "$0")/.."
root=$PWD

mode=${1:-}
case $#:$mode in
0: | 1:--norun | 1:--usage) ;;
*)
  echo "usage: tools/run-launcher.sh [--norun | --usage]" >&2
  exit 2
  ;;
esac

if ! session_owned; then
  tools/install-deps.sh
  check_build_owner
  echo "Building the windows preset..."
  # Its output only where it fails, and in no file that a kill would leave behind.
  if ! log=$({ cmake --preset windows && cmake --build --preset windows; } 2>&1)
  then
    # Without its control characters: a path in it may hold an escape sequence.
    LC_ALL=C tr '\000-\010\013-\037\177' '?' <<<"$log" >&2
    exit 1
  fi
fi
session_own "$@"

build=$root/build/windows
echo "Starting a virtual display and Wine (the first time takes a minute)..."
# Only in a Wine virtual desktop can the game switch the display; --norun and --usage show the
# plain session, as they always have.
size=1024x768 game_mode=640x480 exit_clip="300 200 700 500"
[ -z "$mode" ] || size=""
session_start "$root/build/demo-wine" "$build/standin.exe" $size

demo=$root/build/demo # the game's folder: the launcher, and the stand-in as FRAV.EXE
rm -rf "$demo"
mkdir -p "$demo"
cp "$build/Narvelox.exe" "$demo/"
cp "$build/standin.exe" "$demo/FRAV.EXE"

if [ "$mode" = --usage ]; then
  watch "$demo" "$demo/Narvelox.exe" "/?" &
  shown=$!
  box=$(standin box)
  read -r _ left top right bottom <<<"${box%%$'\n'*}"
  sleep 0.5 # lets it finish painting
  picture=$root/build/usage-box.png
  import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$picture"
  standin box dismiss >/dev/null
  wait $shown
  echo "Narvelox.exe /? shows a box captioned \"Zintrok - Narvelox\" that says:"
  echo
  sed 's/^/    /' <<<"${box#*$'\n'}"
  echo
  echo "Saved a picture of it in $(shown "$picture")"
  exit 0
fi

desktop=$(standin clip) # nothing confines the cursor yet, so this is the whole screen
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
(cd "$demo" && STANDIN_RUN_MS=15000 STANDIN_MODE=$game_mode STANDIN_EXIT_CLIP=${exit_clip// /,} \
  watch "$demo" "$demo/Narvelox.exe" "$argument") &
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
timeline "$demo" 'function say(text) { printf "%5.1f s  %s\n", at[i] - at[find("watcher", "start")], text }
  function rect(   r) { split(raw[i], r, " "); return r[1] "," r[2] "-" r[3] "," r[4] }
  END {
    before = find("watcher", "clip") # the confinement the watcher found
    for (i = 1; i <= n; i++) {
      event = who[i] " " what[i]
      if (event == "watcher start") say("launcher started (Narvelox.exe" (argument ? " " argument : "") ")")
      else if (event == "watcher clip" && i != before && values[i] == "desktop") {
        if (gameEnded) say("confinement lifted")
        else if (!switched) say("cursor confined to " rect() " (the desktop)")
      } else if (event == "watcher clip" && values[i] == "screen" && ownSeen)
        say("cursor confined to " rect() " (the game\x27s screen)")
      else if (event == "watcher end") say("launcher ended")
      else if (event == "game cmdline") say("game started, its command line: " values[i])
      else if (event == "game mode") {
        split(values[i], mode, " ")
        if (mode[3] != 0) say("the game could not switch the display: error " mode[3])
        else say("game switched the display " (switched++ ? "back " : "") "to " mode[1] "x" mode[2])
      } else if (event == "game clip" && values[i] == "own" && !ownSeen++)
        say("the game confines the cursor to " rect() " within its screen")
      else if (event == "game clip" && values[i] == "exit") say("the game confines the cursor to " rect() " as it ends")
      else if (event == "game exit") {
        gameEnded = 1
        say("game ended")
      }
    }
  }' -v argument="$argument" -v rects="desktop=$desktop;exit=$exit_clip;$(game_rects "$game_mode")"
if [ -n "$argument" ]; then
  read -r left top right bottom <<<"$(standin clip)"
  echo "After the launcher the cursor stays confined to $left,$top-$right,$bottom."
fi
