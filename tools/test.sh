#!/usr/bin/env bash
# Checks that nothing is missing (tools/install-deps.sh), builds the presets and runs every test
# once: the host tests, the end-to-end suite, then the release workflow's steps (cmake --workflow
# --preset release), which check the image and its reproducibility before they write the
# release. It runs as the checkout's owner, root only in a checkout of its own (CI's).
set -euo pipefail
. "$(dirname "$0")/common.sh"
[ $# -eq 0 ] || { echo "usage: tools/test.sh, which takes no arguments" >&2 && exit 2; }
cd "$checkout"

tools/install-deps.sh
check_build_owner

# Each step ends with this script, however it ends, and its tests with it (end_with_parent); the
# workflow's steps one by one, as a killed cmake --workflow would leave its ctest running.
step() { setpriv --pdeathsig KILL "$@"; }
step cmake --preset host
step cmake --build --preset host
step ctest --preset host

step cmake --preset windows
step cmake --build --preset windows
step ctest --preset e2e

step cmake --preset release
step cmake --build --preset release
step ctest --preset release
step cpack --preset release
