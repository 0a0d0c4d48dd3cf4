#!/usr/bin/env bash
# Installs, as root on Debian 12, the Debian packages that building and testing need, and the
# user the reproducibility test builds as. Only what is missing is installed, so running it again
# costs a few seconds, and once root has run it, it asks nothing of any other user.
set -euo pipefail

# Says, before a step that needs root, what it does; and where it isn't root, that it can't.
as_root() { # WHAT
  if [ "$(id -u)" -ne 0 ]; then
    echo "$1 needs root: run tools/install-deps.sh as root once, then run this again." >&2
    exit 1
  fi
  echo "$1, as root."
}

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
  as_root "Installing ${missing[*]} with apt-get"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# qemu-i386 runs Wine's 32-bit programs where the host runs only 64-bit code
# (tools/harness/session.sh). Bookworm's own qemu 7.2 mishandles MAP_FIXED_NOREPLACE, and
# Wine can't start under it; bookworm-backports has 10.0. It comes from that suite alone, at the
# address of the machine's own Debian sources, and without qemu-user-binfmt, which would hand
# every 32-bit program on the machine to qemu.
qemu=$(dpkg-query -W -f='${Status} ${Version}' qemu-user 2>/dev/null) || true
if [[ $qemu != "install ok installed "* ]] || ! dpkg --compare-versions "${qemu##* }" ge 1:10; then
  as_root "Installing qemu-user from bookworm-backports with apt-get"
  # The address apt takes the main component of Debian's release CODENAME from; empty if none.
  debian() { # CODENAME
    apt-cache policy | awk -v release="n=$1," '/^ +[0-9]+ / { uri = $2 }
      index($0, release) && /,c=main,/ { print uri; exit }'
  }
  if [ -z "$(debian bookworm-backports)" ]; then
    [ -n "$(debian bookworm)" ] || apt-get update -qq
    mirror=$(debian bookworm)
    [ -n "$mirror" ] || { echo "apt has no source of Debian bookworm's main" >&2 && exit 1; }
    printf '%s\n' "Types: deb" "URIs: $mirror" "Suites: bookworm-backports" \
      "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" \
      >/etc/apt/sources.list.d/bookworm-backports.sources
    apt-get update -qq
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -t bookworm-backports \
    --no-install-recommends qemu-user >/dev/null
fi

# The reproducibility test has reprotest make its second build as this user.
if ! id narvelox-rebuilder >/dev/null 2>&1; then
  as_root "Adding the system user narvelox-rebuilder"
  useradd --system --user-group --no-create-home --shell /usr/sbin/nologin narvelox-rebuilder
fi
