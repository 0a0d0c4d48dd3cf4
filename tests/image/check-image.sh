#!/usr/bin/env bash
# Reads a built Narvelox.exe back with tools that had no part in making it and compares what they
# find with what the shipped image must be: a hardened 32-bit GUI image within its size budget,
# importing exactly the functions the program calls from DLLs that Windows always loads from the
# system folder (so a DLL planted beside it is never loaded), with its resources.
#   check-image.sh path/to/Narvelox.exe VERSION platform/image.txt
# VERSION is project(VERSION), major.minor.0.tweak; image.txt gives the size ceiling and the
# imports.
set -euo pipefail
. "$(dirname "$0")/../../tools/common.sh"
# A failure says why in one sentence, never with an exit status alone; a missing tool's is the
# shell's, and the lines it would have read show in the diff.
fail() { echo "check-image.sh: $*" >&2; exit 1; }
[ $# -eq 3 ] || fail "it takes three arguments, the exe, VERSION and image.txt, not $#."
for file in "$1" "$3"; do
  [ -f "$file" ] && [ -r "$file" ] || fail "there is no file $(shown "$file") to read."
done
exe=$(realpath -- "$1") version=$2 limits=$(realpath -- "$3")
[[ $version =~ ^[0-9]+\.[0-9]+\.0\.[0-9]+$ ]] ||
  fail "VERSION $(shown "$version") is not major.minor.0.tweak."
size=$(stat -c %s "$exe")
max=$(awk '$1 == "size" { print $2 }' "$limits")
[[ $max =~ ^[0-9]+$ ]] || fail "$(shown "$limits") gives no size ceiling, as one line \"size BYTES\"."
imports=$(grep -E '^[^# ]+\.dll ' "$limits") ||
  fail "$(shown "$limits") lists no imports, as lines \"NAME.dll FUNCTION...\"."
# Explorer's form of the version, worked out here apart from the build's, so that a build that
# writes it wrongly fails.
IFS=. read -r major minor _ tweak <<<"$version"
text=$(printf '%d.%02d.%04d' "$((10#$major))" "$((10#$minor))" "$((10#$tweak))")

expected="size at most $max bytes
format PE32, machine I386
Time/Date Thu Jan 1 00:00:00 1970
Subsystem WINDOWS_GUI
DllCharacteristics DYNAMIC_BASE NX_COMPAT TERMINAL_SERVER_AWARE
$imports
Translation: 0x0409 0x04b0
FileVersionNumber: $version
ProductVersionNumber: $version
FileVersion: $text
ProductVersion: $text
InternalName: Narvelox
OriginalFileName: Narvelox.EXE
LanguageCode: 0409
CharacterSet: 04B0
CompanyName: Zintrok
ProductName: Zintrok - Narvelox
LegalCopyright: Copyright (C) 2026 Zintrok
icon group 1: 16x16 4-bit
icon group 1: 32x32 1-bit
icon group 1: 32x32 4-bit
icon group A_MAIN: 32x32 8-bit
manifest: level=\"asInvoker\"
manifest: uiAccess=\"false\"
manifest: Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"
manifest: publicKeyToken=\"6595b64144ccf1df\""

# A part that finds nothing (no manifest, say) prints nothing, and the diff shows what is missing.
actual=$(
  [ "$size" -le "$max" ] && echo "size at most $max bytes" || echo "size $size bytes"
  # The headers, the imports, and the version record's Translation, which exiftool skips, as
  # pefile parses them; with Debian's own python3, which python3-pefile is installed for.
  /usr/bin/python3 - "$exe" <<'EOF'
import pefile, sys, time
pe = pefile.PE(sys.argv[1])
def name(table, prefix, value): # the value's name in Windows' headers, else its number
    return table.get(value, hex(value)).removeprefix(prefix)
magic = {pefile.OPTIONAL_HEADER_MAGIC_PE: "PE32", pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS: "PE32+"}
print("format %s, machine" % magic.get(pe.OPTIONAL_HEADER.Magic, hex(pe.OPTIONAL_HEADER.Magic)),
      name(pefile.MACHINE_TYPE, "IMAGE_FILE_MACHINE_", pe.FILE_HEADER.Machine))
stamp = time.gmtime(pe.FILE_HEADER.TimeDateStamp)
print("Time/Date", time.strftime("%a %b %-d %H:%M:%S %Y", stamp))
print("Subsystem", name(pefile.SUBSYSTEM_TYPE, "IMAGE_SUBSYSTEM_", pe.OPTIONAL_HEADER.Subsystem))
flags = pe.OPTIONAL_HEADER.DllCharacteristics # every flag that is set
print("DllCharacteristics", *(name(pefile.DLL_CHARACTERISTICS, "IMAGE_DLLCHARACTERISTICS_", bit)
                              for bit in (1 << i for i in range(16)) if flags & bit))
# One line per DLL: its name, then the functions imported from it, by name or #ordinal.
for dll in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
    print(dll.dll.decode().lower(),
          *(f.name.decode() if f.name else "#%d" % f.ordinal for f in dll.imports))
for fileinfo in sum(getattr(pe, "FileInfo", []), []):
    for var in getattr(fileinfo, "Var", []):
        for key, value in var.entry.items():
            print(key.decode() + ":", value)
EOF
  exiftool -S -n -FileVersionNumber -ProductVersionNumber -FileVersion -ProductVersion \
    -InternalName -OriginalFileName -LanguageCode -CharacterSet -CompanyName -ProductName \
    -LegalCopyright "$exe"
  for group in $(wrestool -l "$exe" | sed -n "s/^--type=14 --name='\{0,1\}\([^' ]*\).*/\1/p"); do
    wrestool -x -t 14 -n "$group" "$exe" | icotool -l - |
      sed "s/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=\([0-9]*\).*/icon group $group: \1x\2 \3-bit/"
  done | sort
  # One line per setting that matters; a DPI awareness setting must not be there at all.
  wrestool -x --raw -t 24 -n 1 "$exe" | tr -s '[:space:]' ' ' |
    grep -oE '(level|uiAccess|publicKeyToken)="[^"]*"|Common-Controls" version="[^"]*"|dpiAware' |
    sed 's/^Common/Microsoft.Windows.Common/; s/^/manifest: /'
) || true

if diff -u --label expected --label "$(shown "$exe")" <(echo "$expected") <(echo "$actual"); then
  echo "image checks passed: $(wc -l <<<"$expected") lines match ($size bytes)"
else
  echo "image checks failed: the diff above marks what the image must have -, what it has +."
  exit 1
fi
