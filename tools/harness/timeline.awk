# Reads the timelines of one run, the watcher's, the stand-in game's log (standin.cpp gives their
# lines) and the calls Wine traced (session.sh, watch), for the awk program that follows it
# (session.sh, timeline). In its END that program finds:
#   n, at[i], who[i], what[i], values[i], raw[i]
#       every event, in order of time: at, in seconds from the creation of the process the
#       watcher started; who, "watcher", "game" or "calls"; what, the event (start, created, clip,
#       call, ret, ...); raw, the rest of its line, and values the same, but that a rectangle named
#       in -v rects="NAME=L T R B;..." has its name.
#   find(who, what, after, pattern)
#       the index of the first such event at or after the time `after` ("" for any time) whose
#       values match the regular expression `pattern` ("" for any), or 0, where at and values are
#       empty
#   clips(who)
#       the values of who's confinements after the first, which is the one it found, each after
#       a space
BEGIN {
  split(rects, named, ";")
  for (i in named) {
    eq = index(named[i], "=")
    rectName[substr(named[i], eq + 1)] = substr(named[i], 1, eq - 1)
  }
}

{
  rest = substr($0, length($1) + length($2) + 3)
  file = FILENAME == ARGV[1] ? 1 : FILENAME == ARGV[2] ? 2 : 3 # by name: a file may be empty
  if (file == 1 && $2 == "created") origin = $1
  # Each file is nearly in order: a sort by insertion costs nothing here.
  for (i = ++n; i > 1 && stamps[i - 1] > $1 + 0; i--) {
    stamps[i] = stamps[i - 1]
    who[i] = who[i - 1]
    what[i] = what[i - 1]
    values[i] = values[i - 1]
    raw[i] = raw[i - 1]
  }
  stamps[i] = $1 + 0
  who[i] = file == 1 ? "watcher" : file == 2 ? "game" : "calls"
  what[i] = $2
  raw[i] = rest
  values[i] = $2 == "clip" && rest in rectName ? rectName[rest] : rest
}

END {
  for (i = 1; i <= n; i++) at[i] = (stamps[i] - origin) / 1000
}

function find(source, event, after, pattern,    i) {
  for (i = 1; i <= n; i++)
    if (who[i] == source && what[i] == event && (after == "" || at[i] >= after) && values[i] ~ pattern)
      return i
  return 0
}

function clips(source,    i, seen, list) {
  for (i = 1; i <= n; i++)
    if (who[i] == source && what[i] == "clip" && seen++) list = list " " values[i]
  return list
}
