#!/usr/bin/env bash
# Reads the built executable's PE header and import table back: a hardened 32-bit GUI image
# within its size budget, importing exactly the functions the program calls, from DLLs that
# Windows always loads from the system folder (so a DLL planted beside it is never loaded).
set -euo pipefail
exe=$1
headers=$(i686-w64-mingw32-objdump -p "$exe")
size=$(stat -c %s "$exe")

expected="format pei-i386
Time/Date Thu Jan 1 00:00:00 1970
Subsystem 00000002 (Windows GUI)
DllCharacteristics DYNAMIC_BASE NX_COMPAT TERMINAL_SERVICE_AWARE
size at most 12288 bytes
kernel32.dll CloseHandle CreateProcessA ExitProcess FatalAppExitW GetCommandLineW GetModuleFileNameW Sleep WaitForSingleObject
user32.dll ClipCursor GetDesktopWindow GetWindowRect MessageBoxW"

actual=$(
  sed -n 's/.*file format /format /p' <<<"$headers"
  grep -E '^(Subsystem|Time/Date)' <<<"$headers" | tr -s ' \t' ' '
  echo DllCharacteristics $(grep -oE 'DYNAMIC_BASE|NX_COMPAT|TERMINAL_SERVICE_AWARE' <<<"$headers")
  [ "$size" -le 12288 ] && echo "size at most 12288 bytes" || echo "size $size bytes"
  # One line per DLL: its name, then the functions imported from it.
  awk '/DLL Name:/ { dll = tolower($3); printf "%s%s", sep, dll; sep = "\n" }
       dll && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { printf " %s", $3 }
       END { print "" }' <<<"$headers"
)

if diff -u --label expected --label "$exe" <(echo "$expected") <(echo "$actual"); then
  echo "image checks passed ($size bytes)"
else
  exit 1
fi
