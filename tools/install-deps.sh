#!/usr/bin/env bash
# Installs, as root on Debian 12 (bookworm) or 13 (trixie), the Debian packages that building and
# testing need, and the user the reproducibility test builds as; and gives subordinate ids to the
# user who ran it through sudo and to the checkout's owner, where they have none. Only what is
# missing is done, so running it again costs a few seconds; run by anyone else, it only checks
# that nothing is missing. It writes nothing in the checkout, and on any other system it stops
# before it changes anything. The scripts that need these run it first.
set -euo pipefail
. "$(dirname "$0")/common.sh"
[ $# -eq 0 ] || { echo "usage: tools/install-deps.sh, which takes no arguments" >&2 && exit 2; }

# Says, before a step that needs root, what it does; and where it isn't root, that it can't.
as_root() { # WHAT
  if [ "$(id -u)" -ne 0 ]; then
    echo "$1 needs root: run sudo tools/install-deps.sh once, then run this again." >&2
    exit 1
  fi
  echo "$1, as root."
}

# shellcheck source=/dev/null
. /etc/os-release 2>/dev/null || true
if [ "${ID:-}" != debian ] || [[ ${VERSION_ID:-} != @(12|13) ]] ||
  [ "$(dpkg --print-architecture 2>/dev/null)" != amd64 ]; then
  echo "tools/install-deps.sh supports Debian 12 and 13 on x86-64 (amd64), not" \
    "${PRETTY_NAME:-this system} on $(uname -m), so it has changed nothing." >&2
  exit 1
fi

# Names that Debian 12 and 13 both have; clang and its runtime are each release's default.
packages=(
  cmake g++ libgtest-dev                  # host build and its tests
  g++-mingw-w64-i686                      # the Windows cross compiler, windres included
  icoutils libimage-exiftool-perl         # read a built exe's resources back
  python3-pefile                          # read a built exe's headers and imports back
  python3-markdown-it                     # check the documents' links
  wine wine32:i386 wine64 xvfb imagemagick # run the real exe on a virtual display
  clang libclang-rt-dev                   # the fuzzer
  procps                                  # the benchmark's process lookup
  zip unzip git                           # the release (its timestamp is the commit's) and its checks
  uidmap                                  # newuidmap: a user namespace with subordinate ids
)
# Without what they recommend: diffoscope-minimal recommends some hundreds of readers of other
# kinds of file than the release's (Java, Android, R, disk images, ...), some gigabytes of them.
# What reprotest recommends, and varies the builds with, is named here.
bare_packages=(
  reprotest diffoscope-minimal xxd        # builds of the release in varied environments, compared
  disorderfs faketime locales-all         # what reprotest varies them with
  mmdebstrap bubblewrap                   # fresh Debian roots (tools/fresh-root.sh)
)

# A mirror in the middle of a sync fails an index or two ("File has unexpected size"): apt keeps
# the lists it has, and the installs that follow say what they can't find, if anything.
update_lists() {
  apt-get update -qq ||
    echo "apt-get could not read every package list (above); installing from those it has." >&2
}

# Those of PACKAGES that are not installed, one a line.
missing() { # PACKAGES...
  local package
  for package; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || echo "$package"
  done
}
mapfile -t missing < <(missing "${packages[@]}")
mapfile -t bare < <(missing "${bare_packages[@]}")
if [ $((${#missing[@]} + ${#bare[@]})) -gt 0 ]; then
  as_root "Installing ${missing[*]}${missing[*]:+ }${bare[*]} with apt-get"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  update_lists
  export DEBIAN_FRONTEND=noninteractive
  [ ${#missing[@]} -eq 0 ] || apt-get install -y -qq "${missing[@]}" >/dev/null
  [ ${#bare[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${bare[@]}" >/dev/null
fi

# qemu-i386 runs Wine's 32-bit programs where the host runs only 64-bit code
# (tools/harness/session.sh). It must be qemu 10 or later: bookworm's own 7.2 mishandles
# MAP_FIXED_NOREPLACE, and Wine can't start under it. Trixie has 10.0 itself; bookworm-backports
# has it for bookworm, so there it comes from that suite alone, at the address of the machine's
# own Debian sources. Never with qemu-user-binfmt, which would hand every 32-bit program on the
# machine to qemu.
qemu=$(dpkg-query -W -f='${Status} ${Version}' qemu-user 2>/dev/null) || true
if [[ $qemu != "install ok installed "* ]] || ! dpkg --compare-versions "${qemu##* }" ge 1:10; then
  candidate() { apt-cache policy qemu-user 2>/dev/null | awk '/Candidate:/ { print $2 }'; }
  version=$(candidate)
  if [ -z "$version" ] || [ "$version" = "(none)" ]; then
    as_root "Reading Debian's package lists with apt-get" && update_lists
    version=$(candidate)
  fi
  suite=()
  if ! dpkg --compare-versions "$version" ge 1:10; then
    suite=(-t "$VERSION_CODENAME-backports")
  fi
  as_root "Installing qemu-user from ${suite[1]:-$VERSION_CODENAME} with apt-get"
  if [ ${#suite[@]} -gt 0 ] && [ -z "$(debian_source "${suite[1]}")" ]; then
    mirror=$(debian_source "$VERSION_CODENAME")
    [ -n "$mirror" ] || { echo "apt has no source of Debian $VERSION_CODENAME's main" >&2 && exit 1; }
    printf '%s\n' "Types: deb" "URIs: $mirror" "Suites: ${suite[1]}" "Components: main" \
      "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" \
      >"/etc/apt/sources.list.d/${suite[1]}.sources"
    update_lists
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${suite[@]}" --no-install-recommends \
    qemu-user >/dev/null
fi

# The reproducibility test has reprotest make its second build as this user.
if ! id narvelox-rebuilder >/dev/null 2>&1; then
  as_root "Adding the system user narvelox-rebuilder"
  useradd --system --user-group --no-create-home --shell /usr/sbin/nologin narvelox-rebuilder
fi

# Subordinate ids make a user root of a user namespace with many ids: a fresh Debian root
# (tools/fresh-root.sh), and the reproducibility test's build as another user. Debian gives each
# new account a range; an older account, and root, may have none. Each gets the range useradd
# would give it: the first 65,536 ids from 100,000 up that no range in either file takes yet.
ranges_missing() { # NAME UID: the files that give the account no range
  local file
  for file in /etc/subuid /etc/subgid; do
    [ -n "$(subordinate_range "$file" "$1" "$2")" ] || echo "$file"
  done
}
owners=()
for uid in ${SUDO_UID:-} "$checkout_uid"; do
  name=$(getent passwd "$uid" | cut -d: -f1) || continue # a uid with no account can have none
  [ "$(id -u)" -eq 0 ] || [ "$uid" -eq "$(id -u)" ] || continue
  [[ " ${owners[*]} " == *" $name "* ]] || [ -z "$(ranges_missing "$name" "$uid")" ] ||
    owners+=("$name")
done
for name in "${owners[@]}"; do
  as_root "Giving $name subordinate uids and gids with usermod"
  first=$({ cat /etc/subuid /etc/subgid 2>/dev/null || true; } | awk -F: '$3 > 0 {
      start[NR] = $2; end[NR] = $2 + $3 }
    END { first = 100000
      do { moved = 0
        for (i in start) if (start[i] < first + 65536 && first < end[i]) { first = end[i]; moved = 1 }
      } while (moved)
      print first }')
  options=()
  for file in $(ranges_missing "$name" "$(id -u "$name")"); do
    options+=("--add-sub${file#/etc/sub}s" "$first-$((first + 65535))")
  done
  usermod "${options[@]}" "$name"
done
