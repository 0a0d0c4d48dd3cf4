#!/usr/bin/env bash
# Runs a command as root in a fresh clone of this project on a fresh root of Debian 12 or 13, as on
# a newly installed, up-to-date machine that never saw the project, and leaves nothing behind.
#
#   tools/fresh-root.sh 12|13 [COMMAND...]    COMMAND defaults to tools/test.sh
#   tools/fresh-root.sh --rebuild RELEASE_DIR  rebuilds a release and compares its bytes
#   tools/fresh-root.sh --keep DIR ...         either of them, with the root on disk in DIR, where
#                                              it stays; the same call enters it again as it was
#
# Run it as root on Debian; it installs mmdebstrap, bubblewrap and git where they are missing. The
# root is Debian's minbase with git and ca-certificates, from the Debian mirror of this machine's
# own apt sources, with the release's -updates and -security suites. The clone is of this
# repository's HEAD, without its uncommitted changes, at /root/narvelox, where COMMAND runs; its
# exit status is the script's.
#
# --rebuild takes the SHA256SUMS and BUILD-INFO.txt of a release (tools/write-release.sh), builds
# the commit that BUILD-INFO.txt names on the Debian release it names, puts what it built in
# build/rebuild/, and prints each published hash beside the rebuilt one, and the lines of the two
# BUILD-INFO.txt that differ. It exits 0 only if every hash matches, and the commit and its time.
#
# The root lives on a tmpfs in a mount namespace of the script's own, and all it runs, in a PID
# namespace whose first process is the script's second run; the first run waits outside as the
# owner. However the owner ends, by an exit, a failure, Ctrl-C, SIGTERM or SIGKILL, that first
# process goes with it (setpriv --pdeathsig, unshare --kill-child), the kernel ends every other,
# and the tmpfs goes with the last of them. The tmpfs takes at most half the memory; tools/test.sh
# fills some 8 GB of it, a rebuild less: where that is too much, --keep DIR puts the root on disk.
set -euo pipefail
args=("$@") script=$(realpath "$0") project=$(realpath "$(dirname "$0")/..")
usage="usage: tools/fresh-root.sh [--keep DIR] 12|13 [COMMAND...]
       tools/fresh-root.sh [--keep DIR] --rebuild RELEASE_DIR"
[ "$(id -u)" -eq 0 ] || { echo "tools/fresh-root.sh needs root: run it as root." >&2 && exit 1; }

keep="" release_dir="" commit=""
if [ "${1:-}" = --keep ] && [ $# -ge 3 ]; then
  keep=$(realpath -m "$2") && shift 2
fi
if [ "${1:-}" = --rebuild ] && [ $# -eq 2 ]; then
  release_dir=$(realpath "$2") info=$(realpath "$2")/BUILD-INFO.txt
  if [ ! -f "$info" ] || [ ! -f "$release_dir/SHA256SUMS" ]; then
    echo "$release_dir holds no SHA256SUMS and BUILD-INFO.txt of a release" >&2 && exit 1
  fi
  commit=$(sed -n 's/^commit: \([0-9a-f]\{40\}\).*/\1/p' "$info")
  debian=$(sed -n 's/^Debian: //p' "$info")
  [[ ${debian%%.*} == @(12|13) ]] ||
    { echo "$info names Debian \"$debian\"; roots are of Debian 12 or 13" >&2 && exit 1; }
  set -- "${debian%%.*}" sh -c 'tools/install-deps.sh && cmake --workflow --preset release'
fi
[[ ${1:-} == @(12|13) ]] || { echo "$usage" >&2 && exit 2; }
release=$1 suite=$([ "$1" = 12 ] && echo bookworm || echo trixie)
shift
[ $# -gt 0 ] || set -- tools/test.sh

# The first run checks what it can before the root costs minutes, then waits as the owner.
if [ "${FRESH_ROOT_OWNED:-}" != 1 ] || [ $$ -ne 1 ]; then
  missing=()
  for tool in mmdebstrap:mmdebstrap bwrap:bubblewrap git:git; do
    command -v "${tool%:*}" >/dev/null || missing+=("${tool#*:}")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing ${missing[*]} on this machine with apt-get."
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null
  fi
  if [ -n "$release_dir" ] &&
    ! git -C "$project" cat-file -e "${commit:-none}^{commit}" 2>/dev/null; then
    echo "$project has no commit \"$(sed -n 's/^commit: //p' "$info")\", which $info names" >&2
    exit 1
  fi
  [ -z "$keep" ] || mkdir -p "$keep"
  # In the background, where a script's SIGINT doesn't reach, so that it ends the owner alone.
  FRESH_ROOT_OWNED=1 setpriv --pdeathsig KILL -- unshare --mount --propagation private --pid \
    --fork --kill-child --mount-proc -- "$BASH" "$script" "${args[@]}" <&0 &
  owned=$! status=0
  # unshare passes no signal on to its child: the owner ends the namespace itself.
  trap 'kill -KILL $owned; exit 130' INT
  trap 'kill -KILL $owned; exit 143' TERM
  wait $owned || status=$?
  exit $status
fi

# A tmpfs over /tmp, seen by no other process, holds the root. A folder of this run's that lies
# under the machine's /tmp is bound back in, through the /tmp the tmpfs hides.
exec {host}</tmp
mount -t tmpfs -o mode=1777 fresh-root /tmp
for dir in "$project" "$release_dir" "$keep"; do
  [[ $dir == /tmp/?* ]] || continue
  top=${dir#/tmp/} top=${top%%/*}
  [ ! -d "/tmp/$top" ] || continue
  mkdir "/tmp/$top"
  mount --no-canonicalize --rbind "/proc/self/fd/$host/$top" "/tmp/$top"
done
exec {host}<&-
root=${keep:-/tmp/fresh-root} clone=${keep:-/tmp/fresh-root}/root/narvelox

# The Debian mirror and security address this machine's apt takes its own release from.
debian() { # SUITE DEFAULT
  local uri
  uri=$(apt-cache policy 2>/dev/null | awk -v suite="n=$1," '/^ +[0-9]+ / { uri = $2 }
    index($0, suite) && /,c=main,/ { print uri; exit }')
  echo "${uri:-$2}"
}
if [ -f "$root/etc/debian_version" ]; then
  [ "$(cut -d. -f1 "$root/etc/debian_version")" = "$release" ] ||
    { echo "$root holds Debian $(cat "$root/etc/debian_version"), not $release" >&2 && exit 1; }
  echo "Entering the Debian $(cat "$root/etc/debian_version") root kept in $root."
else
  # shellcheck source=/dev/null
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  mirror=$(debian "$codename" http://deb.debian.org/debian)
  security=$(debian "$codename-security" http://deb.debian.org/debian-security)
  where="a tmpfs of at most $(df -h --output=size /tmp | tail -n 1 | tr -d ' '), half the memory"
  echo "Making a fresh Debian $release ($suite) root from $mirror and $security," \
    "in ${keep:-$where}."
  mmdebstrap --mode=root --variant=minbase --include=git,ca-certificates "$suite" "$root" \
    "deb $mirror $suite main" "deb $mirror $suite-updates main" "deb $security $suite-security main"
  git clone --quiet --no-hardlinks "$project" "$clone"
  [ -n "$commit" ] || [ -z "$(git -C "$project" status --porcelain)" ] ||
    echo "$project has uncommitted changes, which the clone leaves out."
fi
[ -z "$commit" ] || git -C "$clone" checkout --quiet --detach "$commit"
echo "Debian $(cat "$root/etc/debian_version"), commit $(git -C "$clone" rev-parse --short HEAD)" \
  "at /root/narvelox, running: $*"

# pivot_root, not chroot, and every capability root has: the project makes namespaces of its own,
# mounts binfmt_misc and FUSE file systems in them, and builds as another user through sudo. The
# /proc is this PID namespace's, with nothing mounted over any part of it, without which no user
# namespace in there may mount a /proc of its own. The name service is the machine's own.
status=0
bwrap --bind "$root" / --dev /dev --dev-bind-try /dev/fuse /dev/fuse --perms 1777 --tmpfs /dev/shm \
  --bind /proc /proc --ro-bind /sys /sys --perms 1777 --tmpfs /tmp \
  --ro-bind-try /etc/resolv.conf /etc/resolv.conf --ro-bind-try /etc/hosts /etc/hosts \
  --cap-add ALL --die-with-parent --chdir /root/narvelox --clearenv --setenv HOME /root \
  --setenv PATH /usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  --setenv TERM "${TERM:-dumb}" -- "$@" || status=$?
[ -z "$keep" ] ||
  echo "The root stays in $keep: tools/fresh-root.sh --keep $keep $release [COMMAND...] enters it."
[ -n "$release_dir" ] && [ $status -eq 0 ] || exit $status

# What the rebuild wrote, beside what the release says.
out=$project/build/rebuild
rm -rf "$out" && mkdir -p "$out"
cp -r "$clone/build/release/dist" "$clone/build/release/Narvelox.exe" "$out/"
echo "The rebuilt release is in $out/dist, its Narvelox.exe in $out."
failures=0
while read -r published name; do
  name=${name#\*} file=$out/dist/$name
  [ -f "$file" ] || file=$out/$name
  rebuilt=$(sha256sum "$file" 2>/dev/null | cut -d' ' -f1) || true
  verdict="the same"
  [ "$rebuilt" = "$published" ] || verdict=DIFFERENT failures=$((failures + 1))
  printf '%s: %s\n  published %s\n  rebuilt   %s\n' "$name" "$verdict" "$published" \
    "${rebuilt:-none}"
done <"$release_dir/SHA256SUMS"
# A line of BUILD-INFO.txt by what it names: the text before ": ", or the whole line.
info_line() { awk -v key="$1" '{ k = $0; sub(/: .*/, "", k) } k == key { print; exit }' "$2"; }
while IFS= read -r key; do
  published=$(info_line "$key" "$info") rebuilt=$(info_line "$key" "$out/dist/BUILD-INFO.txt")
  [ "$published" != "$rebuilt" ] || continue
  # The commit and its time say what was built: they must be the same; the tools may differ.
  [[ $key != @(commit|SOURCE_DATE_EPOCH) ]] || failures=$((failures + 1))
  printf 'BUILD-INFO.txt differs:\n  published %s\n  rebuilt   %s\n' "$published" "$rebuilt"
done < <(sed 's/: .*//' "$info" "$out/dist/BUILD-INFO.txt" | awk '!seen[$0]++')
if [ $failures -eq 0 ]; then
  echo "The rebuild is the release, byte for byte."
else
  echo "The rebuild differs from the release." && exit 1
fi
