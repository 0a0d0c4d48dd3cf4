#!/usr/bin/env bash
# Writes the release of a Windows build into OUT_DIR: NAME.zip with Narvelox.exe, README.txt and
# LICENSE.txt at its top level; SHA256SUMS for the zip and the exe; and BUILD-INFO.txt, which
# says what made them, so that anyone can rebuild the same bytes.
#
#   write-release.sh SOURCE_DIR CXX NAME OUT_DIR Narvelox.exe README.txt LICENSE.txt
#
# The zip depends on nothing but its three files: the entries in a fixed order, with fixed
# permissions, no owners or access times, and the commit's time as their timestamp, to the two
# seconds that zip keeps (SOURCE_DATE_EPOCH, when set, takes its place).
set -euo pipefail
. "$(dirname "$0")/common.sh"
fail() { echo "write-release.sh: $*" >&2 && exit 1; }
[ $# -eq 7 ] || fail "usage: write-release.sh SOURCE_DIR CXX NAME OUT_DIR Narvelox.exe README.txt LICENSE.txt"
for file in "${@:5}"; do
  [ -f "$file" ] || fail "there is no file $(shown "$file") to release."
done
source_dir=$(realpath -- "$1")
cxx=$2 name=$3 out=$(realpath -m -- "$4")
shift 4
[[ $name =~ ^[A-Za-z0-9][A-Za-z0-9._-]*$ ]] || fail "NAME $(shown "$name") is no file name of a release."
# OUT_DIR is written anew, so it may hold only what this script writes there: the three files,
# and their stage, which a killed run may have left.
if [ -e "$out" ] && { [ -L "$out" ] || [ ! -d "$out" ] ||
  find "$out" -mindepth 1 -printf '%y %P\n' | grep -qvxF -e "f $name.zip" -e "f SHA256SUMS" \
    -e "f BUILD-INFO.txt" -e "d .stage" -e "f .stage/Narvelox.exe" -e "f .stage/README.txt" \
    -e "f .stage/LICENSE.txt"; }; then
  fail "$(shown "$out") is no folder of a release, which it would remove: give it one of its own."
fi
commit=$(source_commit "$source_dir")
epoch=${SOURCE_DATE_EPOCH:-}
if [ -z "$epoch" ]; then
  [[ $commit != none* ]] || { echo "write-release.sh: not a git checkout; set SOURCE_DATE_EPOCH" >&2; exit 1; }
  epoch=$(git -C "$source_dir" log -1 --format=%ct)
fi

# The files staged in OUT_DIR itself, which a run that is killed leaves for the next to remove.
rm -rf "$out"
stage=$out/.stage
mkdir -p "$stage"
cp "$@" "$stage/"
chmod 0644 "$stage"/*
touch -d "@$epoch" "$stage"/*
# -X leaves out the owner and the extra time fields; zip stores local time, hence UTC.
(cd "$stage" && TZ=UTC zip -X -q "$out/$name.zip" Narvelox.exe README.txt LICENSE.txt)
{
  (cd "$out" && sha256sum "$name.zip")
  (cd "$stage" && sha256sum Narvelox.exe)
} >"$out/SHA256SUMS"
rm -r "$stage"

# NAME: VERSION, and the Debian package that FILE comes from: the first that dpkg names, not a
# diversion's lines.
tool() {
  local file package
  file=$(readlink -f "$2")
  package=$(dpkg -S "$file" 2>/dev/null | awk -v file="$file" '!found && !/^diversion by / &&
    substr($0, length($0) - length(file) + 1) == file { found = $1 }
    END { sub(/[,:]$/, "", found); print found }') || true
  echo "$1: $3${package:+ (Debian package $package $(dpkg-query -W -f='${Version}' "$package"))}"
}
ld=$("$cxx" -print-prog-name=ld)
{
  echo "$name.zip"
  echo "commit: $commit"
  echo "SOURCE_DATE_EPOCH: $epoch ($(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S UTC'))"
  echo "Debian: $(cat /etc/debian_version 2>/dev/null || echo none)"
  tool compiler "$(command -v "$cxx")" "$("$cxx" --version | head -n 1)"
  tool binutils "$ld" "$("$ld" --version | head -n 1)"
  tool "import libraries" "$("$cxx" -print-file-name=libkernel32.a)" "mingw-w64"
  tool CMake "$(command -v cmake)" "$(cmake --version | head -n 1)"
  tool zip "$(command -v zip)" "$(zip -v | sed -n 2p)"
} >"$out/BUILD-INFO.txt"
