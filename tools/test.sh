#!/usr/bin/env bash
# Checks that nothing is missing (tools/install-deps.sh), builds the presets and runs every test
# once: the host tests, the end-to-end suite, then the release workflow (cmake --workflow --preset
# release), which checks the image and its reproducibility before it writes the release. It runs
# as the checkout's owner, root only in a checkout of its own (CI's).
set -euo pipefail
. "$(dirname "$0")/common.sh"
cd "$checkout"

tools/install-deps.sh
check_build_owner

cmake --preset host
cmake --build --preset host
ctest --preset host

cmake --preset windows
cmake --build --preset windows
ctest --preset e2e

cmake --workflow --preset release
