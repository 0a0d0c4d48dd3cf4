#!/usr/bin/env bash
# Builds Narvelox.exe and writes its release twice from the same sources, in two folders of
# different names and seconds apart: the images and the zips must be byte for byte the same.
# Then reads the release back, as a player and a rebuilder would.
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build() {
  cmake -S "$source_dir" -B "$work/$1" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw-i686.cmake" >/dev/null
  cmake --build "$work/$1" --target Narvelox >/dev/null
  (cd "$work/$1" && cpack >/dev/null)
}
build first
sleep 2 # past the zip format's two-second clock
build second-with-a-longer-name
first=$work/first second=$work/second-with-a-longer-name
zip=Narvelox-$(exiftool -s3 -ProductVersion "$first/Narvelox.exe")-win32.zip
mkdir "$work/unzipped"
unzip -q "$first/dist/$zip" -d "$work/unzipped"
cp "$first/dist/SHA256SUMS" "$first/dist/$zip" "$work/unzipped/"

failures=0
check() { # what, command...
  "${@:2}" || { echo "FAIL $1"; failures=$((failures + 1)); }
}
# Notepad shows it: every line ends in CRLF, and there is nothing but printable ASCII.
plain_text() { ! grep -qv $'\r$' "$1" && ! LC_ALL=C grep -q $'[^\r -~]' "$1"; }
checksums_verify() (
  cd "$work/unzipped" && [ "$(awk '{ print $2 }' SHA256SUMS | xargs)" = "$zip Narvelox.exe" ] &&
    sha256sum --check --quiet SHA256SUMS
)
check "the two images are the same" cmp "$first/Narvelox.exe" "$second/Narvelox.exe"
check "the two zips are the same" cmp "$first/dist/$zip" "$second/dist/$zip"
check "the zip named after the version record holds exactly its three files" \
  test "$(zipinfo -1 "$first/dist/$zip" | xargs)" = "Narvelox.exe README.txt LICENSE.txt"
check "the exe in the zip is the one built" cmp "$work/unzipped/Narvelox.exe" "$first/Narvelox.exe"
check "README.txt is plain text with CRLF line ends" plain_text "$work/unzipped/README.txt"
check "LICENSE.txt is plain text with CRLF line ends" plain_text "$work/unzipped/LICENSE.txt"
check "SHA256SUMS verifies the zip and the exe" checksums_verify
check "BUILD-INFO.txt names the commit" \
  grep -qx "commit: $(git -C "$source_dir" rev-parse HEAD).*" "$first/dist/BUILD-INFO.txt"

[ "$failures" -eq 0 ] && echo "two builds and releases are identical ($(sha256sum <"$first/dist/$zip" | cut -c1-16))"
exit "$failures"
