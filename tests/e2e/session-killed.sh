#!/usr/bin/env bash
# A session ends with its owner. This runs the end-to-end scenarios, kills them with SIGKILL as
# CTest's timeout would, once they run a 32-bit program in their session beside its hold, and
# expects nothing of that session to run 15 s later: no Xvfb, wineserver, Wine or qemu process.
# Their way of running 32-bit code is the one NARVELOX_32BIT names; a way that can't run here
# exits 77, and where neither way can, 1.
#   session-killed.sh NARVELOX_EXE STANDIN_EXE SESSION_DIR WORK_DIR
set -euo pipefail
. "$(dirname "$0")/../../tools/common.sh"
end_with_parent "$@"
[ $# -eq 4 ] || { echo "usage: session-killed.sh NARVELOX_EXE STANDIN_EXE SESSION_DIR WORK_DIR" >&2 && exit 2; }
mkdir -p -- "$4" # the scenarios' folder in it is made anew, its log overwritten: nothing else goes
"$(dirname "$0")/scenarios.sh" "$1" "$2" "$3" "$4/scenarios" >"$4/scenarios.log" 2>&1 &
owner=$!

# The live processes of the session's PID namespace, whose first process the owner's unshare
# starts: their names, qemu's with the program it runs. A dead one waits to be reaped as long as
# the host's init takes.
namespace=none
session() {
  local process
  for process in /proc/[0-9]*; do
    [ "$(readlink "$process/ns/pid" 2>/dev/null)" = "$namespace" ] &&
      ! grep -qs '^State:.Z' "$process/status" || continue
    [[ $(readlink "$process/exe" 2>/dev/null) != */qemu-i386 ]] || printf 'qemu-i386:'
    cat "$process/comm" 2>/dev/null
  done
}
until before=$(session) && [ "$(grep -c 'standin.exe$' <<<"$before")" -ge 2 ]; do
  # Scenarios that end first fail, or skip.
  kill -0 $owner 2>/dev/null || { cat "$4/scenarios.log" && wait $owner && exit 1 || exit $?; }
  first=$(pgrep -P "$(pgrep -P $owner)" 2>/dev/null) && namespace=$(readlink "/proc/$first/ns/pid" || echo none)
  sleep 0.1
done

echo "The session's processes before the owner's SIGKILL: $(sort <<<"$before" | xargs)"
{ kill -KILL $owner && wait $owner; } 2>/dev/null || true
killed=$(date +%s%N)
while [ -n "$(session)" ] && [ $(($(date +%s%N) - killed)) -lt 15000000000 ]; do
  sleep 0.1
done
[ -z "$(session)" ] || { echo "FAIL 15 s after the kill these still run: $(session | xargs)" && exit 1; }
echo "Nothing of the session runs $((($(date +%s%N) - killed) / 1000000)) ms after the kill."
