#!/usr/bin/env bash
# Runs a command as root in a fresh clone of this project on a fresh root of Debian 12 or 13, as on
# a newly installed, up-to-date machine that never saw the project.
#
#   tools/fresh-root.sh 12|13 [COMMAND...]    COMMAND defaults to tools/test.sh
#   tools/fresh-root.sh --rebuild RELEASE_DIR  rebuilds a release and compares its bytes
#   tools/fresh-root.sh --keep DIR ...         either of them, with the root on disk in DIR, where
#                                              it stays for the next call to enter
#
# Run it as root on Debian; it installs mmdebstrap, bubblewrap and git on this machine where they
# are missing. The root is Debian's minbase with git and ca-certificates, from the Debian mirror
# of this machine's own apt sources, with the release's -updates and -security suites. The clone
# is of this checkout's HEAD, without its uncommitted changes, at /root/narvelox, where COMMAND
# runs; its exit status is the script's. A kept root's clone is brought to that commit first.
#
# --rebuild takes the SHA256SUMS and BUILD-INFO.txt of a release (tools/write-release.sh) and
# reads them before anything else: SHA256SUMS must give the SHA-256 of the zip that
# BUILD-INFO.txt names and of Narvelox.exe, and of nothing else. It builds the commit that
# BUILD-INFO.txt names on the Debian release it names, puts what it built in build/rebuild/, and
# prints each published hash beside the rebuilt one, and the lines of the two BUILD-INFO.txt that
# differ. It exits 0 only if both files were rebuilt byte for byte, from the same commit and its
# time.
#
# The root lives on a tmpfs in a mount namespace of the script's own, and all it runs, in a PID
# namespace that ends with the script, however it ends (own_namespaces in tools/common.sh); the
# tmpfs goes with the last of its processes. It takes at most half the memory; tools/test.sh fills
# some 8 GB of it, a rebuild less: where that is too much, --keep DIR puts the root on disk. What
# stays: a kept root, build/rebuild/ of a rebuild, and the packages installed on this machine.
set -euo pipefail
. "$(dirname "$0")/common.sh"
args=("$@") script=$(realpath "$0") project=$checkout
usage="usage: tools/fresh-root.sh [--keep DIR] 12|13 [COMMAND...]
       tools/fresh-root.sh [--keep DIR] --rebuild RELEASE_DIR"

# What a release says, read before anything is built: the commit, the Debian release and the zip
# that BUILD-INFO.txt names (the zip on its first line), and in published, the SHA-256 that
# SHA256SUMS gives of each file by its name. Says what is wrong with them, and exits, if anything
# is.
declare -A published=()
read_release() { # RELEASE_DIR
  local sums=$1/SHA256SUMS wrong=() file line number=0 name
  info=$1/BUILD-INFO.txt
  for file in "$info" "$sums"; do
    [ -f "$file" ] || wrong+=("there is no $file")
  done
  if [ ${#wrong[@]} -eq 0 ]; then
    zip=$(head -n 1 "$info")
    commit=$(sed -n 's/^commit: \([0-9a-f]\{40\}\)\( .*\)\{0,1\}$/\1/p' "$info")
    debian=$(sed -n 's/^Debian: //p' "$info")
    [[ $zip == Narvelox-*-win32.zip ]] ||
      wrong+=("$info names no Narvelox-*-win32.zip on its first line")
    [ -n "$commit" ] || wrong+=("$info names no commit (\"commit: \" and 40 hex digits)")
    [[ ${debian%%.*} == @(12|13) ]] ||
      wrong+=("$info names Debian \"$debian\"; roots are of Debian 12 or 13")
    # Every line, the last too where no newline ends it.
    while IFS= read -r line || [ -n "$line" ]; do
      number=$((number + 1)) line=${line%$'\r'}
      if [[ ! $line =~ ^([0-9a-fA-F]{64})\ [\ *](.+)$ ]]; then
        [ -z "$line" ] || wrong+=("line $number of $sums is not a SHA-256 and a file name: $line")
      elif [[ ${BASH_REMATCH[2]} != @(Narvelox.exe|"$zip") ]]; then
        wrong+=("line $number of $sums names ${BASH_REMATCH[2]}, which the release does not hold")
      elif [ -n "${published[${BASH_REMATCH[2]}]:-}" ]; then
        wrong+=("$sums names ${BASH_REMATCH[2]} twice")
      else
        published[${BASH_REMATCH[2]}]=${BASH_REMATCH[1],,}
      fi
    done <"$sums"
    for name in "$zip" Narvelox.exe; do
      [ -n "${published[$name]:-}" ] || wrong+=("$sums gives no SHA-256 of $name")
    done
  fi
  [ ${#wrong[@]} -eq 0 ] && return
  echo "$1 is no release to rebuild:" >&2
  printf '  %s\n' "${wrong[@]}" >&2
  exit 1
}

keep="" release_dir="" commit=""
if [ "${1:-}" = --keep ] && [ $# -ge 3 ]; then
  keep=$(realpath -m "$2") && shift 2
fi
if [ "${1:-}" = --rebuild ] && [ $# -eq 2 ]; then
  release_dir=$(realpath -m "$2")
  read_release "$release_dir"
  set -- "${debian%%.*}" sh -c 'tools/install-deps.sh && cmake --workflow --preset release'
fi
[[ ${1:-} == @(12|13) ]] || { echo "$usage" >&2 && exit 2; }
release=$1 suite=$([ "$1" = 12 ] && echo bookworm || echo trixie)
shift
[ $# -gt 0 ] || set -- tools/test.sh
[ "$(id -u)" -eq 0 ] || { echo "tools/fresh-root.sh needs root: run it with sudo." >&2 && exit 1; }

# The first run installs what it needs, then waits as the owner of the namespaces.
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
  if [ -n "$keep" ]; then
    # Two calls that made or entered one kept root at once would spoil it.
    mkdir -p "$keep" && exec {lock}<"$keep"
    flock -n "$lock" || { echo "Another call of tools/fresh-root.sh uses $keep." >&2 && exit 1; }
  fi
  FRESH_ROOT_OWNED=1 own_namespaces --mount --propagation private -- "$BASH" "$script" "${args[@]}"
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

# Root reads a checkout that another user may own, which git refuses unless told it is the one
# meant; the helper that serves a clone reads only the global configuration, so it is said there.
# No status of git's rewrites the checkout's index as root's.
printf '[safe]\n\tdirectory = %s\n\tdirectory = %s/.git\n' "$project" "$project" >/tmp/gitconfig
export GIT_CONFIG_GLOBAL=/tmp/gitconfig GIT_OPTIONAL_LOCKS=0
wanted=${commit:-HEAD}
if ! wanted=$(git -C "$project" rev-parse --verify --quiet "$wanted^{commit}"); then
  echo "$project has no commit ${commit:-at its HEAD}${commit:+, which $info names}" >&2
  exit 1
fi
[ -n "$commit" ] || [ -z "$(git -C "$project" status --porcelain)" ] ||
  echo "$project has uncommitted changes, which the clone leaves out."

# A root is whole once its clone is made; until then it carries a mark, by which the next call
# knows a root that a call stopped while making, and makes it afresh.
unfinished=$root/.fresh-root-unfinished
mkdir -p "$root"
if [ -e "$unfinished" ]; then
  echo "Removing the half-made root in $root, which an earlier call stopped while making."
  find "$root" -xdev -mindepth 1 -delete
elif [ -n "$(ls -A "$root")" ]; then
  if [ ! -f "$root/etc/debian_version" ] || [ ! -d "$clone/.git" ]; then
    echo "$root holds something else than a root of this script's: give --keep another folder." >&2
    exit 1
  fi
  [ "$(cut -d. -f1 "$root/etc/debian_version")" = "$release" ] ||
    { echo "$root holds Debian $(cat "$root/etc/debian_version"), not $release" >&2 && exit 1; }
  echo "Entering the Debian $(cat "$root/etc/debian_version") root kept in $root, its clone at" \
    "commit $(git -C "$clone" rev-parse --short HEAD)."
  git -C "$clone" fetch --quiet "$project" "$wanted"
fi
if [ -z "$(ls -A "$root")" ]; then
  touch "$unfinished"
  # shellcheck source=/dev/null
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  mirror=$(debian_source "$codename") security=$(debian_source "$codename-security")
  mirror=${mirror:-http://deb.debian.org/debian}
  security=${security:-http://deb.debian.org/debian-security}
  where="a tmpfs of at most $(df -h --output=size /tmp | tail -n 1 | tr -d ' '), half the memory"
  echo "Making a fresh Debian $release ($suite) root from $mirror and $security," \
    "in ${keep:-$where}."
  mmdebstrap --mode=root --variant=minbase --include=git,ca-certificates --skip=check/empty \
    "$suite" "$root" \
    "deb $mirror $suite main" "deb $mirror $suite-updates main" "deb $security $suite-security main"
  git clone --quiet --no-hardlinks "$project" "$clone"
  rm "$unfinished"
fi
if ! git -C "$clone" checkout --quiet --detach "$wanted"; then
  echo "The clone in $root stays at commit $(git -C "$clone" rev-parse --short HEAD)," \
    "not $(git -C "$project" rev-parse --short "$wanted")." >&2
  exit 1
fi
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
if [ -n "$keep" ]; then
  again=("$release" "[COMMAND...]" "enters it")
  [ -z "$release_dir" ] || again=(--rebuild "$release_dir" "rebuilds and compares in it again")
  echo "The root stays in $keep: tools/fresh-root.sh --keep $keep ${again[*]}."
fi
[ -n "$release_dir" ] && [ $status -eq 0 ] || exit $status

# What the rebuild wrote, beside what the release says; in the checkout, as its owner's.
out=$project/build/rebuild
rm -rf "$out" && as_owner mkdir -p "$out"
cp -r "$clone/build/release/dist" "$clone/build/release/Narvelox.exe" "$out/"
give_back "$out"
echo "The rebuilt release is in $out/dist, its Narvelox.exe in $out."
failures=0
for name in "$zip" Narvelox.exe; do
  file=$out/dist/$name
  [ "$name" != Narvelox.exe ] || file=$out/$name
  rebuilt=$(sha256sum "$file" 2>/dev/null | cut -d' ' -f1) || true
  verdict="the same"
  [ "$rebuilt" = "${published[$name]}" ] || verdict=DIFFERENT failures=$((failures + 1))
  printf '%s: %s\n  published %s\n  rebuilt   %s\n' "$name" "$verdict" "${published[$name]}" \
    "${rebuilt:-none}"
done
# A line of BUILD-INFO.txt by what it names: the text before ": ", or the whole line.
info_line() { awk -v key="$1" '{ k = $0; sub(/: .*/, "", k) } k == key { print; exit }' "$2"; }
while IFS= read -r key; do
  was=$(info_line "$key" "$info") is=$(info_line "$key" "$out/dist/BUILD-INFO.txt")
  [ "$was" != "$is" ] || continue
  # The commit and its time say what was built: they must be the same; the tools may differ.
  [[ $key != @(commit|SOURCE_DATE_EPOCH) ]] || failures=$((failures + 1))
  printf 'BUILD-INFO.txt differs:\n  published %s\n  rebuilt   %s\n' "$was" "$is"
done < <(sed 's/: .*//' "$info" "$out/dist/BUILD-INFO.txt" | awk '!seen[$0]++')
if [ $failures -eq 0 ]; then
  echo "The rebuild is the release, byte for byte."
else
  echo "The rebuild differs from the release." && exit 1
fi
