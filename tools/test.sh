#!/usr/bin/env bash
# Installs what is missing, builds the presets and runs every test once: the host tests, the
# end-to-end suite, then the steps of the release workflow (cmake --workflow --preset release),
# which check the image and its reproducibility before they write the release.
#
# It runs as root (sudo tools/test.sh): installing, and the reproducibility check, which builds
# the release again as another user, need it. Those two steps run as root, and everything else
# as the checkout's owner, so that root writes nothing in the checkout.
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
# Root running the owner's commands is tested only as root, which the owner's ctest skipped.
[ "$checkout_uid" -eq 0 ] || tests/tools/checkout-owner.sh

as_owner cmake --preset windows
as_owner cmake --build --preset windows
as_owner ctest --preset e2e

# The release workflow's steps, with its reproducibility test run by root outside CTest, which
# would write its log in build/release as root.
as_owner cmake --preset release
as_owner cmake --build --preset release
as_owner ctest --preset release --exclude-regex '^reproducible$'
tests/image/check-reproducible.sh "$checkout"
as_owner cpack --preset release
