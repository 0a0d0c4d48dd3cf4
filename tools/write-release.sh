#!/usr/bin/env bash
# Writes the release of a Windows build into OUT_DIR: NAME.zip with Narvelox.exe, README.txt and
# LICENSE.txt at its top level; SHA256SUMS for the zip and the exe; and BUILD-INFO.txt, which
# says what made them, so that anyone can rebuild the same bytes.
#
#   write-release.sh SOURCE_DIR CXX NAME OUT_DIR Narvelox.exe README.txt LICENSE.txt
#
# The zip depends on nothing but its three files: the entries in a fixed order, with fixed
# permissions, no owners or access times, and the commit's time as their timestamp
# (SOURCE_DATE_EPOCH, when set, takes its place).
set -euo pipefail
source_dir=$(realpath "$1") cxx=$2 name=$3 out=$4
shift 4
# Root may build a checkout that another user owns: git refuses to read such a repository unless
# told it is the one meant, and its status would rewrite the index as root's.
git=(env GIT_OPTIONAL_LOCKS=0 git -c safe.directory="$source_dir" -C "$source_dir")
# The sources' own checkout only: sources unpacked inside another project's checkout are not at
# that project's commit.
commit=""
if [ "$("${git[@]}" rev-parse --show-toplevel 2>/dev/null)" = "$source_dir" ]; then
  commit=$("${git[@]}" rev-parse --quiet --verify HEAD) || commit=""
fi
epoch=${SOURCE_DATE_EPOCH:-}
if [ -z "$epoch" ]; then
  [ -n "$commit" ] || { echo "write-release.sh: not a git checkout; set SOURCE_DATE_EPOCH" >&2; exit 1; }
  epoch=$("${git[@]}" log -1 --format=%ct)
fi

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$@" "$stage/"
chmod 0644 "$stage"/*
touch -d "@$epoch" "$stage"/*
rm -rf "$out"
mkdir -p "$out"
# -X leaves out the owner and the extra time fields; zip stores local time, hence UTC.
(cd "$stage" && TZ=UTC zip -X -q "$out/$name.zip" Narvelox.exe README.txt LICENSE.txt)
{
  (cd "$out" && sha256sum "$name.zip")
  (cd "$stage" && sha256sum Narvelox.exe)
} >"$out/SHA256SUMS"

# NAME: VERSION, and the Debian package that FILE comes from.
tool() {
  local package
  package=$(dpkg -S "$(readlink -f "$2")" 2>/dev/null | cut -d: -f1) || true
  echo "$1: $3${package:+ (Debian package $package $(dpkg-query -W -f='${Version}' "$package"))}"
}
ld=$("$cxx" -print-prog-name=ld)
if [ -n "$commit" ]; then
  [ -z "$("${git[@]}" status --porcelain)" ] || commit+=" with uncommitted changes"
else
  commit="none: not built from a git checkout"
fi
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
