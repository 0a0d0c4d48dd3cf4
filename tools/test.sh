#!/usr/bin/env bash
# Installs what is missing, builds both presets and runs every test, then writes the release.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

cmake --preset host
cmake --build --preset host
ctest --preset host

cmake --preset windows
cmake --build --preset windows
ctest --preset windows

cmake --workflow --preset release
