#!/usr/bin/env bash
# Reads the resources of a built Narvelox.exe back with tools that had no part
# in making them (exiftool, wrestool, icotool) and compares what they find
# with what the launcher must carry. Prints the differences and fails on any.
# Usage: check-resources.sh path/to/Narvelox.exe
set -euo pipefail

exe=${1:?usage: check-resources.sh path/to/Narvelox.exe}
[[ -f $exe ]] || { echo "check-resources: no such file: $exe" >&2; exit 2; }
for tool in exiftool wrestool icotool od; do
    command -v "$tool" >/dev/null || { echo "check-resources: $tool not installed" >&2; exit 2; }
done

# The release this build must identify itself as. The text form is worked out
# here independently of the CMake code that generates it.
version=1.0.0.9
IFS=. read -r major minor _ tweak <<<"$version"
text=$(printf '%d.%02d.%04d' "$major" "$minor" "$tweak")

expected="FileVersionNumber: $version
ProductVersionNumber: $version
FileVersion: $text
ProductVersion: $text
InternalName: Narvelox
OriginalFileName: Narvelox.EXE
LanguageCode: 0409
CharacterSet: 04B0
CompanyName: (set)
FileDescription: (set)
ProductName: (set)
LegalCopyright: (set)
Translation: 0409 04b0
icon group 1: 16x16 4-bit
icon group 1: 32x32 1-bit
icon group 1: 32x32 4-bit
icon group A_MAIN: 32x32 8-bit
manifest 1: present
manifest execution level: asInvoker, uiAccess false
manifest Common-Controls: version 6.0.0.0, publicKeyToken 6595b64144ccf1df
manifest mentions of dpiAware: 0"

# The first XML start tag matching $1 in $manifest, and one attribute's value.
element() { grep -Eo "<$1[^>]*>" <<<"$manifest" | head -n 1 || true; }
attr() { sed -n "s/.* $1=\"\([^\"]*\)\".*/\1/p" <<<"$2"; }

actual=$(
    exiftool -S -n -FileVersionNumber -ProductVersionNumber -FileVersion -ProductVersion \
        -InternalName -OriginalFileName -LanguageCode -CharacterSet "$exe"
    # Free text: any wording will do, but Explorer must have something to show.
    for tag in CompanyName FileDescription ProductName LegalCopyright; do
        value=$(exiftool -s3 "-$tag" "$exe")
        echo "$tag: ${value:+(set)}"
    done

    # VarFileInfo\Translation (exiftool does not report it): the two 16-bit
    # words after the UTF-16 key "Translation" and its padding.
    hex=$(wrestool -x --raw -t 16 -n 1 "$exe" 2>/dev/null | od -An -tx1 -v | tr -d ' \n')
    key=5400720061006e0073006c006100740069006f006e000000 # "Translation\0"
    if [[ $hex =~ $key(0000)?(..)(..)(..)(..) ]]; then
        m=("${BASH_REMATCH[@]}")
        echo "Translation: ${m[3]}${m[2]} ${m[5]}${m[4]}"
    fi

    # One line per image of every icon group, whatever groups there are.
    wrestool -l "$exe" | sed -n "s/^--type=14 --name='\{0,1\}\([^' ]*\)'\{0,1\} .*/\1/p" |
        while read -r group; do
            wrestool -x -t 14 -n "$group" "$exe" | icotool -l - |
                sed -n "s/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=\([0-9]*\).*/icon group $group: \1x\2 \3-bit/p"
        done | sort

    manifest=$(wrestool -x --raw -t 24 -n 1 "$exe" 2>/dev/null || true)
    echo "manifest 1: ${manifest:+present}"
    manifest=$(tr -s '[:space:]' ' ' <<<"$manifest")   # one line: tags may span several
    level=$(element requestedExecutionLevel)
    echo "manifest execution level: $(attr level "$level"), uiAccess $(attr uiAccess "$level")"
    controls=$(element 'assemblyIdentity[^>]*"Microsoft\.Windows\.Common-Controls"')
    echo "manifest Common-Controls: version $(attr version "$controls"), publicKeyToken $(attr publicKeyToken "$controls")"
    echo "manifest mentions of dpiAware: $({ grep -oi dpiaware <<<"$manifest" || true; } | wc -l)"
)

if diff -u --label expected --label "$exe" <(echo "$expected") <(echo "$actual"); then
    echo "check-resources: all $(wc -l <<<"$expected") resource checks match"
else
    echo "check-resources: resources differ from what Narvelox.exe must carry (see - expected / + found above)" >&2
    exit 1
fi
