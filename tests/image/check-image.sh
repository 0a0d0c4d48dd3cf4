#!/usr/bin/env bash
# Reads the built executable's PE header and import table back: the program must be a
# hardened 32-bit GUI image, importing only DLLs that Windows always loads from the system
# folder (so a DLL planted beside it is never loaded), and stay within its size budget.
set -euo pipefail
exe=$1
headers=$(i686-w64-mingw32-objdump -p "$exe")
failures=0
expect() { # what, expected, actual
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: expected '$2', got '$3'"
    failures=$((failures + 1))
  fi
}

expect format "pei-i386" "$(echo "$headers" | sed -n 's/.*file format //p')"
expect subsystem "00000002	(Windows GUI)" "$(echo "$headers" | sed -n 's/^Subsystem\t\t//p')"
expect timestamp "Thu Jan  1 00:00:00 1970" "$(echo "$headers" | sed -n 's/^Time\/Date\t\t//p')"
for flag in DYNAMIC_BASE NX_COMPAT TERMINAL_SERVICE_AWARE; do
  expect "DllCharacteristics $flag" yes "$(echo "$headers" | grep -qw "$flag" && echo yes || echo no)"
done
expect imports "kernel32.dll msvcrt.dll user32.dll" \
  "$(echo "$headers" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort | xargs)"
size=$(stat -c %s "$exe")
expect "size within 32 KiB" yes "$([ "$size" -le 32768 ] && echo yes || echo "no ($size bytes)")"

[ "$failures" -eq 0 ] && echo "image checks passed ($size bytes)"
exit "$failures"
