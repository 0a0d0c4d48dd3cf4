#!/usr/bin/env bash
# Builds Narvelox.exe twice from the same sources, in two folders of different names and a
# second apart, and requires the two images to be byte for byte the same.
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build() {
  cmake -S "$source_dir" -B "$work/$1" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw-i686.cmake" >/dev/null
  cmake --build "$work/$1" --target Narvelox >/dev/null
}
build first
sleep 1
build second-with-a-longer-name

if cmp "$work/first/Narvelox.exe" "$work/second-with-a-longer-name/Narvelox.exe"; then
  echo "two builds are identical ($(sha256sum <"$work/first/Narvelox.exe" | cut -c1-16))"
else
  exit 1
fi
