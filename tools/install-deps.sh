#!/usr/bin/env bash
# Installs, as root on Debian 12, the Debian packages that building and testing need, and the
# user the reproducibility test builds as. Only what is missing is installed, so running it again
# costs a few seconds.
set -euo pipefail

packages=(
  cmake g++ libgtest-dev                  # host build and its tests
  g++-mingw-w64-i686                      # the Windows cross compiler, windres included
  icoutils libimage-exiftool-perl         # read a built exe's resources back
  wine wine32:i386 wine64 xvfb imagemagick # run the real exe on a virtual display
  clang libclang-rt-14-dev                # the fuzzer
  bc procps                               # the benchmark's arithmetic and process lookup
  zip unzip git                           # the release (its timestamp is the commit's) and its checks
  reprotest diffoscope-minimal            # two builds of the release in varied environments, compared
  disorderfs faketime locales-all sudo    # what reprotest varies them with
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The reproducibility test has reprotest make its second build as this user.
id narvelox-rebuilder >/dev/null 2>&1 ||
  useradd --system --user-group --no-create-home --shell /usr/sbin/nologin narvelox-rebuilder
