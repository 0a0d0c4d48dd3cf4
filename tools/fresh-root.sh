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
# runs; its exit status is the script's. A kept root's clone is brought to that commit first,
# without the edits and untracked files a command left there; its build/ stays.
#
# --rebuild takes the SHA256SUMS and BUILD-INFO.txt of a release (tools/write-release.sh), which it
# trusts no more than any download, and reads them before anything else: each must be printable
# ASCII, each field of BUILD-INFO.txt given once, SHA256SUMS the SHA-256 of the zip that
# BUILD-INFO.txt names and of Narvelox.exe, and of nothing else, and the commit one that a branch
# or tag of this checkout reaches. It builds that commit on the Debian release BUILD-INFO.txt
# names, puts what it built in build/rebuild/, and prints each published hash beside the rebuilt
# one, and the lines of the two BUILD-INFO.txt that differ. It exits 0 only if both files were
# rebuilt byte for byte, from the same commit and its time. One rebuild at a time uses
# build/rebuild/.
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
# Root reads a checkout that another user may own, which git refuses unless told it is the one
# meant; and no status of git's rewrites the checkout's index as root's.
export GIT_OPTIONAL_LOCKS=0
in_project=(git -c safe.directory="$project" -C "$project")

# What a release says, read before anything is built: the zip that BUILD-INFO.txt names on its
# first line, its commit and Debian release, and in published, the SHA-256 that SHA256SUMS gives
# of each file by its name. Says what is wrong with them, and exits, if anything is.
declare -A published=()
read_release() { # RELEASE_DIR
  local file bad line number key wrong=()
  local -A field=()
  info=$1/BUILD-INFO.txt
  for file in BUILD-INFO.txt SHA256SUMS; do
    if [ ! -f "$1/$file" ]; then
      wrong+=("there is no $file")
    # tools/write-release.sh writes both in printable ASCII, and their lines are shown on the
    # terminal: a control character, an escape sequence that paints over the verdict say, or any
    # other byte refuses the release.
    elif bad=$(LC_ALL=C grep -anvxE -m 1 $'[ -~]*\r?' "$1/$file") && [ -n "$bad" ]; then
      wrong+=("line ${bad%%:*} of $file holds a control character or a byte outside printable ASCII")
    fi
  done
  if [ ${#wrong[@]} -eq 0 ]; then
    # Each field on a line of its own, "NAME: value", once; CRLF line ends as LF.
    number=0
    while IFS= read -r line || [ -n "$line" ]; do
      number=$((number + 1)) line=${line%$'\r'} key=${line%%: *}
      if [ $number -eq 1 ]; then
        zip=$line
      elif [ -z "$line" ]; then
        continue
      elif [ "$key" = "$line" ]; then
        wrong+=("line $number of BUILD-INFO.txt is not \"NAME: value\": $line")
      elif [ -n "${field[$key]+set}" ]; then
        wrong+=("BUILD-INFO.txt names $key twice")
      else
        field[$key]=${line#"$key: "}
      fi
    done <"$info"
    commit=${field[commit]:-} debian=${field[Debian]:-}
    [[ $zip =~ ^Narvelox-[0-9]+(\.[0-9]+)*-win32\.zip$ ]] ||
      wrong+=("BUILD-INFO.txt names no Narvelox-VERSION-win32.zip on its first line")
    if [[ $commit =~ ^[0-9a-f]{40}\ with\ uncommitted\ changes$ ]]; then
      wrong+=("BUILD-INFO.txt names a commit with uncommitted changes, which no clone holds")
    elif [[ ! $commit =~ ^[0-9a-f]{40}$ ]]; then
      wrong+=("BUILD-INFO.txt names no commit (\"commit: \" and 40 hex digits)")
    fi
    [[ ${field[SOURCE_DATE_EPOCH]:-} =~ ^[0-9]+\  ]] ||
      wrong+=("BUILD-INFO.txt gives no SOURCE_DATE_EPOCH (its number of seconds)")
    [[ $debian =~ ^1[23](\.[0-9]+)*$ ]] ||
      wrong+=("BUILD-INFO.txt names Debian \"$debian\"; roots are of Debian 12 or 13")
    number=0
    while IFS= read -r line || [ -n "$line" ]; do
      number=$((number + 1)) line=${line%$'\r'}
      if [[ ! $line =~ ^([0-9a-fA-F]{64})\ [\ *](.+)$ ]]; then
        [ -z "$line" ] || wrong+=("line $number of SHA256SUMS is not a SHA-256 and a file name: $line")
      elif [[ ${BASH_REMATCH[2]} != @(Narvelox.exe|"$zip") ]]; then
        wrong+=("line $number of SHA256SUMS names ${BASH_REMATCH[2]}, which the release does not hold")
      elif [ -n "${published[${BASH_REMATCH[2]}]:-}" ]; then
        wrong+=("SHA256SUMS names ${BASH_REMATCH[2]} twice")
      else
        published[${BASH_REMATCH[2]}]=${BASH_REMATCH[1],,}
      fi
    done <"$1/SHA256SUMS"
    for key in "$zip" Narvelox.exe; do
      [ -n "${published[$key]:-}" ] || wrong+=("SHA256SUMS gives no SHA-256 of $key")
    done
  fi
  [ ${#wrong[@]} -eq 0 ] && return
  echo "$(shown "$1") is no release to rebuild:" >&2
  printf '  %s\n' "${wrong[@]}" >&2
  exit 1
}

# The commit to clone, in wanted: this checkout's HEAD, or the one the release names, which must
# be one that a branch or tag of the checkout's own reaches. A commit that none reaches (a stash,
# a dangling commit, whatever a fetch put under remotes/, a review's say) is none that the
# checkout's owner chose to build, and its scripts run as root.
choose_commit() {
  if ! wanted=$("${in_project[@]}" rev-parse --verify --quiet "${commit:-HEAD}^{commit}") ||
    [ "$wanted" != "${commit:-$wanted}" ]; then
    echo "$(shown "$project") has no commit ${commit:-at its HEAD}${commit:+, which BUILD-INFO.txt names}." >&2
    exit 1
  fi
  if [ -n "$commit" ] &&
    [ -z "$("${in_project[@]}" for-each-ref --count=1 --contains "$commit" refs/heads refs/tags)" ]; then
    echo "No branch or tag of $(shown "$project") reaches commit $commit, which BUILD-INFO.txt" \
      "names: bring a branch of yours to one that holds it (git pull, say), or rebuild another" \
      "release." >&2
    exit 1
  fi
}

keep="" release_dir="" commit="" wanted=""
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
! command -v git >/dev/null || choose_commit
[ "$(id -u)" -eq 0 ] || { echo "tools/fresh-root.sh needs root: run it with sudo." >&2 && exit 1; }
out=$project/build/rebuild

# The first run installs what it needs, then waits as the owner of the namespaces.
if [ "${FRESH_ROOT_OWNED:-}" != 1 ] || [ $$ -ne 1 ]; then
  if [ -n "$keep" ]; then
    # Two calls that made or entered one kept root at once would spoil it.
    mkdir -p "$keep" && exec {lock}<"$keep"
    flock -n "$lock" || { echo "Another call of tools/fresh-root.sh uses $(shown "$keep")." >&2 && exit 1; }
  fi
  if [ -n "$release_dir" ]; then
    # The rebuild ends in build/rebuild, written by the checkout's owner: before anything is
    # built, the owner must be able to write there, and no other rebuild may be using it.
    check_build_owner
    if ! as_owner mkdir -p "$out" || ! as_owner test -w "$out/"; then
      echo "$(user_label "$checkout_uid") can't write $(shown "$out"), where the rebuild goes." >&2
      exit 1
    fi
    exec {rebuilding}<"$out"
    flock -n "$rebuilding" || { echo "Another rebuild uses $(shown "$out")." >&2 && exit 1; }
    as_owner find "$out/" -mindepth 1 -delete
  fi
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
  [ -n "$wanted" ] || choose_commit
  [ -n "$commit" ] || [ -z "$("${in_project[@]}" status --porcelain)" ] ||
    echo "$(shown "$project") has uncommitted changes, which the clone leaves out."
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

# The helper that serves a clone reads only the global configuration, so the checkout is named
# the one meant there too; git writes the value, which any path may be.
export GIT_CONFIG_GLOBAL=/tmp/gitconfig
git config --global --add safe.directory "$project"
git config --global --add safe.directory "$project/.git"

# A root is whole once its clone is made; until then it carries a mark, by which the next call
# knows a root that a call stopped while making, and makes it afresh. The mark goes last.
unfinished=$root/.fresh-root-unfinished
mkdir -p "$root"
if [ -e "$unfinished" ]; then
  echo "Removing the half-made root in $(shown "$root"), which an earlier call stopped while making."
  find "$root" -mindepth 1 -maxdepth 1 ! -name .fresh-root-unfinished \
    -exec rm -rf --one-file-system {} +
  rm "$unfinished"
elif [ -n "$(ls -A "$root")" ]; then
  if [ ! -f "$root/etc/debian_version" ] || [ ! -d "$clone/.git" ]; then
    echo "$(shown "$root") holds something else than a root of this script's: give --keep" \
      "another folder." >&2
    exit 1
  fi
  kept=$(cat "$root/etc/debian_version")
  [ "${kept%%.*}" = "$release" ] ||
    { echo "$(shown "$root") holds Debian $(shown "$kept"), not $release." >&2 && exit 1; }
  echo "Entering the Debian $(shown "$kept") root kept in $(shown "$root"), its clone at commit" \
    "$(git -C "$clone" rev-parse --short HEAD); what a command left in the clone goes, but for" \
    "its build/."
fi
if [ -z "$(ls -A "$root")" ]; then
  touch "$unfinished"
  # shellcheck source=/dev/null
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  mirror=$(debian_source "$codename") security=$(debian_source "$codename-security")
  mirror=${mirror:-http://deb.debian.org/debian}
  security=${security:-http://deb.debian.org/debian-security}
  where="a tmpfs of at most $(df -h --output=size /tmp | tail -n 1 | tr -d ' '), half the memory"
  [ -z "$keep" ] || where=$(shown "$keep")
  echo "Making a fresh Debian $release ($suite) root from $mirror and $security, in $where."
  mmdebstrap --mode=root --variant=minbase --include=git,ca-certificates --skip=check/empty \
    "$suite" "$root" \
    "deb $mirror $suite main" "deb $mirror $suite-updates main" "deb $security $suite-security main"
  git clone --quiet --no-hardlinks "$project" "$clone"
  rm "$unfinished"
fi
# By its id: a kept clone has only the branches the checkout had when the clone was made.
git -C "$clone" fetch --quiet "$project" "$wanted"
if ! git -C "$clone" checkout --quiet --force --detach "$wanted"; then
  echo "The clone in $(shown "$root") stays at commit $(git -C "$clone" rev-parse --short HEAD)," \
    "not ${wanted:0:7}." >&2
  exit 1
fi
git -C "$clone" clean -ffdqx -e /build/
echo "Debian $(cat "$root/etc/debian_version"), commit $(git -C "$clone" rev-parse --short HEAD)" \
  "at /root/narvelox, running: $(shown "$*")"

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
  [ -z "$release_dir" ] || again=(--rebuild "${release_dir@Q}" "rebuilds and compares in it again")
  echo "The root stays in $(shown "$keep"): sudo tools/fresh-root.sh --keep ${keep@Q} ${again[*]}."
fi
[ -n "$release_dir" ] && [ $status -eq 0 ] || exit $status

# What the rebuild made, copied out of the root here and into build/rebuild by the checkout's
# owner, so that root writes nothing in the checkout; compared here.
rebuilt=/tmp/rebuilt
mkdir "$rebuilt"
cp -r "$clone/build/release/dist" "$clone/build/release/Narvelox.exe" "$rebuilt/"
as_owner cp -r "$rebuilt/." "$out/"
echo "The rebuilt release is in $(shown "$out/dist"), its Narvelox.exe in $(shown "$out")."
failures=0
for name in "$zip" Narvelox.exe; do
  file=$rebuilt/dist/$name
  [ "$name" != Narvelox.exe ] || file=$rebuilt/$name
  rebuilt_hash=$(sha256sum "$file" 2>/dev/null | cut -d' ' -f1) || true
  verdict="the same"
  [ "$rebuilt_hash" = "${published[$name]}" ] || verdict=DIFFERENT failures=$((failures + 1))
  printf '%s: %s\n  published %s\n  rebuilt   %s\n' "$name" "$verdict" "${published[$name]}" \
    "${rebuilt_hash:-none}"
done
# A line of BUILD-INFO.txt by what it names: the text before ": ", or the whole line. The
# published one with LF line ends, as the rebuilt one has.
tr -d '\r' <"$info" >/tmp/published-info
info_line() { awk -v key="$1" '{ k = $0; sub(/: .*/, "", k) } k == key { print; exit }' "$2"; }
while IFS= read -r key; do
  was=$(info_line "$key" /tmp/published-info) is=$(info_line "$key" "$rebuilt/dist/BUILD-INFO.txt")
  [ "$was" != "$is" ] || continue
  # The commit and its time say what was built: they must be the same; the tools may differ.
  [[ $key != @(commit|SOURCE_DATE_EPOCH) ]] || failures=$((failures + 1))
  printf 'BUILD-INFO.txt differs:\n  published %s\n  rebuilt   %s\n' "$was" "$is"
done < <(sed 's/: .*//' /tmp/published-info "$rebuilt/dist/BUILD-INFO.txt" | awk '!seen[$0]++')
if [ $failures -eq 0 ]; then
  echo "The rebuild is the release, byte for byte."
else
  echo "The rebuild differs from the release." && exit 1
fi
