#!/usr/bin/env bash
# A session ends with its owner. This runs the end-to-end scenarios, kills them with SIGKILL once
# a launcher runs in their session, as CTest's timeout would, and expects nothing of that session
# to run 15 s later: no Xvfb, wineserver, Wine or qemu process. Their way of running 32-bit code
# is the one NARVELOX_32BIT names; a way that can't run here exits 77.
#   session-killed.sh NARVELOX_EXE STANDIN_EXE SESSION_DIR WORK_DIR
set -euo pipefail
work=$(realpath -m "$4")
rm -rf "$work"
mkdir -p "$work"
"$(dirname "$0")/scenarios.sh" "$1" "$2" "$3" "$work/scenarios" >"$work/scenarios.log" 2>&1 &
owner=$!

# The live processes in the session's PID namespace, whose first process the owner's unshare
# starts, by name, and qemu's with the name of the program it runs. A dead one waits to be reaped
# as long as the host's init takes.
namespace=""
session() {
  local process
  for process in /proc/[0-9]*; do
    [ "$(readlink "$process/ns/pid" 2>/dev/null)" = "$namespace" ] || continue
    ! grep -q '^State:.Z' "$process/status" 2>/dev/null || continue
    [[ $(readlink "$process/exe" 2>/dev/null) != */qemu-i386 ]] || printf 'qemu-i386:'
    cat "$process/comm" 2>/dev/null
  done
}
for _ in $(seq 1200); do
  if ! kill -0 $owner 2>/dev/null; then
    wait $owner && status=0 || status=$?
    cat "$work/scenarios.log"
    [ $status -eq 77 ] || echo "FAIL the scenarios ended, with status $status, before a launcher ran"
    exit $status
  fi
  first=$(pgrep -P "$(pgrep -P $owner)" 2>/dev/null || true)
  [ -z "$first" ] || namespace=$(readlink "/proc/$first/ns/pid" 2>/dev/null || true)
  [ -n "$namespace" ] && grep -q "Narvelox.exe$" <<<"$(session)" && break
  sleep 0.1
done
[ -n "$namespace" ] || { echo "FAIL no session started within two minutes" && exit 1; }
echo "The session's processes before the owner's SIGKILL: $(session | sort | uniq -c | awk '{
  count = $1; sub(/^ *[0-9]+ /, ""); printf "%s%s%s", (NR > 1 ? ", " : ""), $0, (count > 1 ? " x" count : "") }')"
{ kill -KILL $owner && wait $owner; } 2>/dev/null || true
killed=$(date +%s%N)
while [ -n "$(session)" ] && [ $(($(date +%s%N) - killed)) -lt 15000000000 ]; do
  sleep 0.1
done
left=$(session)
if [ -n "$left" ]; then
  echo "FAIL 15 s after the kill these still run:"
  echo "$left"
  exit 1
fi
echo "Nothing of the session runs $(($(($(date +%s%N) - killed)) / 1000000)) ms after the kill."
