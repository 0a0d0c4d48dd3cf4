#!/usr/bin/env bash
# Reads a built Narvelox.exe back with tools that had no part in making it and compares what they
# find with what the shipped image must be: a hardened 32-bit GUI image within its size budget,
# importing exactly the functions the program calls from DLLs that Windows always loads from the
# system folder (so a DLL planted beside it is never loaded), with its resources.
#   check-image.sh path/to/Narvelox.exe
set -euo pipefail
exe=$1
headers=$(i686-w64-mingw32-objdump -p "$exe")
size=$(stat -c %s "$exe")

# The version is written out here, apart from project(VERSION), so that a wrong one fails.
expected="format pei-i386
Time/Date Thu Jan 1 00:00:00 1970
Subsystem 00000002 (Windows GUI)
DllCharacteristics DYNAMIC_BASE NX_COMPAT TERMINAL_SERVICE_AWARE
size at most 12288 bytes
kernel32.dll CloseHandle CreateProcessA ExitProcess FatalAppExitW GetCommandLineW GetModuleFileNameW Sleep WaitForSingleObject
user32.dll ClipCursor GetDesktopWindow GetWindowRect MessageBoxW
FileVersionNumber: 1.0.0.9
ProductVersionNumber: 1.0.0.9
FileVersion: 1.00.0009
ProductVersion: 1.00.0009
InternalName: Narvelox
OriginalFileName: Narvelox.EXE
LanguageCode: 0409
CharacterSet: 04B0
CompanyName: Zintrok
ProductName: Zintrok - Narvelox
LegalCopyright: Copyright (C) 2026 Zintrok
Translation, bytes: 0904b004
icon group 1: 16x16 4-bit
icon group 1: 32x32 1-bit
icon group 1: 32x32 4-bit
icon group A_MAIN: 32x32 8-bit
manifest: level=\"asInvoker\"
manifest: uiAccess=\"false\"
manifest: Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"
manifest: publicKeyToken=\"6595b64144ccf1df\""

actual=$(
  sed -n 's/.*file format /format /p' <<<"$headers"
  grep -E '^(Subsystem|Time/Date)' <<<"$headers" | tr -s ' \t' ' '
  echo DllCharacteristics $(grep -oE 'DYNAMIC_BASE|NX_COMPAT|TERMINAL_SERVICE_AWARE' <<<"$headers")
  [ "$size" -le 12288 ] && echo "size at most 12288 bytes" || echo "size $size bytes"
  # One line per DLL: its name, then the functions imported from it.
  awk '/DLL Name:/ { dll = tolower($3); printf "%s%s", sep, dll; sep = "\n" }
       dll && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { printf " %s", $3 }
       END { print "" }' <<<"$headers"

  exiftool -S -n -FileVersionNumber -ProductVersionNumber -FileVersion -ProductVersion \
    -InternalName -OriginalFileName -LanguageCode -CharacterSet -CompanyName -ProductName \
    -LegalCopyright "$exe"
  # exiftool skips VarFileInfo: its value follows the UTF-16 key "Translation" and padding.
  hex=$(wrestool -x --raw -t 16 -n 1 "$exe" | od -An -tx1 -v | tr -d ' \n')
  sed -n 's/.*5400720061006e0073006c006100740069006f006e000000\(0000\)\{0,1\}\(.\{8\}\).*/Translation, bytes: \2/p' <<<"$hex"
  for group in $(wrestool -l "$exe" | sed -n "s/^--type=14 --name='\{0,1\}\([^' ]*\).*/\1/p"); do
    wrestool -x -t 14 -n "$group" "$exe" | icotool -l - |
      sed "s/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=\([0-9]*\).*/icon group $group: \1x\2 \3-bit/"
  done | sort
  # One line per setting that matters; a DPI awareness setting must not be there at all.
  wrestool -x --raw -t 24 -n 1 "$exe" | tr -s '[:space:]' ' ' |
    grep -oE '(level|uiAccess|publicKeyToken)="[^"]*"|Common-Controls" version="[^"]*"|dpiAware' |
    sed 's/^Common/Microsoft.Windows.Common/; s/^/manifest: /'
)

if diff -u --label expected --label "$exe" <(echo "$expected") <(echo "$actual"); then
  echo "image checks passed: $(wc -l <<<"$expected") lines match ($size bytes)"
else
  exit 1
fi
