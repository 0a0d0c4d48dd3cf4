#!/usr/bin/env bash
# Installs what is missing, builds both presets and runs every test once: the host tests, the
# end-to-end suite, then the release workflow, which checks the image and its reproducibility
# before it writes the release.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

cmake --preset host
cmake --build --preset host
ctest --preset host

cmake --preset windows
cmake --build --preset windows
ctest --preset e2e

cmake --workflow --preset release
