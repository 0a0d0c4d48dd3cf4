#!/usr/bin/env bash
# Installs what is missing, builds both presets and runs every test once: the host tests, the
# end-to-end suite, then the release workflow, which checks the image and its reproducibility
# before it writes the release.
#
# It runs as root (sudo tools/test.sh): installing and the reproducibility check, which builds
# the release again as another user, need it. In a checkout that another user owns, only those
# two steps run as root, and what the release workflow writes is given back to that user.
set -euo pipefail
. "$(dirname "$0")/common.sh"
cd "$checkout"
if [ "$(id -u)" -ne 0 ]; then
  echo "tools/test.sh installs packages and checks the release by building it as another user," \
    "which need root: run sudo tools/test.sh." >&2
  exit 1
fi

tools/install-deps.sh
check_build_owner

as_owner cmake --preset host
as_owner cmake --build --preset host
as_owner ctest --preset host

as_owner cmake --preset windows
as_owner cmake --build --preset windows
as_owner ctest --preset e2e

trap 'give_back build/release' EXIT
cmake --workflow --preset release
