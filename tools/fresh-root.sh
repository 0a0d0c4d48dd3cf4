#!/usr/bin/env bash
# Runs a command as root of a fresh Debian 12 or 13, in a fresh clone of this project, as on a
# newly installed, up-to-date machine that never saw the project.
#
#   tools/fresh-root.sh 12|13 [COMMAND...]    COMMAND defaults to tools/test.sh
#   tools/fresh-root.sh --rebuild RELEASE_DIR  rebuilds a release and compares its bytes
#   tools/fresh-root.sh --keep DIR ...         either of them, with the root on disk in DIR, where
#                                              it stays for the next call to enter
#
# It needs no root: it runs as root of a user namespace in which the caller's subordinate ids are
# mapped too (tools/install-deps.sh gives them), where mmdebstrap makes the root and bubblewrap
# enters it. The root is Debian's minbase with git and ca-certificates, from the Debian mirror of
# this machine's own apt sources, with the release's -updates and -security suites; its root has
# the namespace's other ids for subordinate ids, so that the project's namespaces work in there.
# The clone is of this checkout's HEAD, without its uncommitted changes, at /root/narvelox, where
# COMMAND runs; its exit status is the script's. A kept root's clone is brought to that commit
# first, without the edits and untracked files a command left there; its build/ stays. The root
# is a clean machine, not a sandbox: what runs in there runs as the caller, who can reach their
# own files from there (through /proc), and its kept clone is the caller's to trust.
#
# --rebuild reads a release folder (tools/read-release.py) before anything else, once, and stops,
# saying why, unless it is a release of a commit that a branch of this checkout reaches. It
# builds that commit on the Debian release that BUILD-INFO.txt names, puts what it built in
# build/rebuild/, prints each published hash beside the rebuilt one (and the zip's in the folder,
# where it holds one) and the lines of the two BUILD-INFO.txt that differ. It exits 0 only if both
# files were rebuilt byte for byte, from the same commit and its time.
#
# The root lives on a tmpfs in a mount namespace of the script's own, and all it runs, in a PID
# namespace that ends with the script, however it ends (own_namespaces in tools/common.sh); the
# tmpfs goes with the last of its processes. It takes at most half the memory; tools/test.sh fills
# some 8 GB of it, a rebuild less: where that is too much, --keep DIR puts the root on disk. What
# stays: a kept root, and build/rebuild/ of a rebuild.
set -euo pipefail
. "$(dirname "$0")/common.sh"
args=("$@") script=$(realpath -- "$0") out=$checkout/build/rebuild
# The second run, in the namespaces: started by the first, as their first process.
owned="" && [ "${FRESH_ROOT_OWNED:-}" = 1 ] && [ $$ -eq 1 ] && owned=1
usage="usage: tools/fresh-root.sh [--keep DIR] 12|13 [COMMAND...]
       tools/fresh-root.sh [--keep DIR] --rebuild RELEASE_DIR"
export GIT_OPTIONAL_LOCKS=0 # git status writes nothing in the checkout

# The commit to clone, in wanted: this checkout's HEAD, or the one the release names, which a
# branch of this checkout must reach. A tag is not enough, since a fetch brings in other people's,
# nor is what a fetch put under remotes/ (a review's, say), a stash or a dangling commit: none of
# them is one that the checkout's owner chose to build.
choose_commit() {
  local branch="git branch rebuild-${commit:0:7} $commit"
  if ! wanted=$(git -C "$checkout" rev-parse --verify --quiet "${commit:-HEAD}^{commit}"); then
    echo "$(shown "$checkout") has no commit ${commit:-at its HEAD}${commit:+, which BUILD-INFO.txt" \
      "names: fetch it (git fetch), and where you trust it, $branch brings it in}." >&2
    exit 1
  fi
  if [ -n "$commit" ] && [ -z "$(git -C "$checkout" for-each-ref --count=1 --contains "$commit" refs/heads)" ]; then
    echo "No branch of $(shown "$checkout") reaches commit $commit, which BUILD-INFO.txt names (a" \
      "tag is not enough, as a fetch brings in other people's): where you trust it, $branch" \
      "brings it in." >&2
    exit 1
  fi
}

# What the release folder says, from its one read: zip, commit, debian, published[NAME] and held
# (the SHA-256 of the zip in the folder, if any), and info, the lines of its BUILD-INFO.txt.
declare -A published=()
take_release() { # WHAT_READ_RELEASE_PRINTED
  local key value
  held="" info=()
  while read -r key value; do
    case $key in
    zip | commit | debian | held) printf -v "$key" '%s' "$value" ;;
    published) published[${value% *}]=${value#* } ;;
    info) info+=("$value") ;;
    esac
  done <<<"$1"
}

keep="" release_dir="" commit="" wanted=""
if [ "${1:-}" = --keep ] && [ $# -ge 3 ]; then
  keep=$(realpath -m -- "$2") && shift 2
fi
if [ "${1:-}" = --rebuild ] && [ $# -eq 2 ]; then
  release_dir=$(realpath -m -- "$2")
  if [ -z "$owned" ]; then
    # The rebuild empties build/rebuild/ first: a release there would be gone before it was read.
    if [[ $release_dir/ == "$(realpath -m "$out")"/* ]]; then
      echo "$(shown "$release_dir") lies in build/rebuild/, which the rebuild empties: copy it" \
        "elsewhere and rebuild that." >&2
      exit 1
    fi
    [ -x /usr/bin/python3 ] || { echo "Reading a release needs python3: sudo tools/install-deps.sh installs it." >&2 && exit 1; }
    if ! FRESH_ROOT_RELEASE=$(/usr/bin/python3 "$checkout/tools/read-release.py" "$release_dir"); then
      echo "$(shown "$release_dir") is no release to rebuild:" >&2
      sed 's/^/  /' <<<"$FRESH_ROOT_RELEASE" >&2
      exit 1
    fi
  fi
  take_release "$FRESH_ROOT_RELEASE"
  set -- "${debian%%.*}" sh -c 'tools/install-deps.sh && cmake --workflow --preset release'
fi
[[ ${1:-} == @(12|13) ]] || { echo "$usage" >&2 && exit 2; }
release=$1 suite=$([ "$1" = 12 ] && echo bookworm || echo trixie)
shift
[ $# -gt 0 ] || set -- tools/test.sh
choose_commit

# The first run checks what it can, then waits as the owner of the namespaces.
if [ -z "$owned" ]; then
  missing=()
  for tool in mmdebstrap:mmdebstrap bwrap:bubblewrap newuidmap:uidmap; do
    command -v "${tool%:*}" >/dev/null || missing+=("${tool#*:}")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "A fresh root needs ${missing[*]}: sudo tools/install-deps.sh installs them." >&2
    exit 1
  fi
  subordinate_ids || { echo "A fresh root needs a user namespace of many ids: $ids_why." >&2 && exit 1; }
  if [ -n "$keep" ]; then
    # A kept root holds files of many ids, which build/'s check would take for strays.
    for dir in "$checkout" "$(realpath -m -- "$checkout/build")"; do
      [[ $keep/ != "$dir"/* ]] || { echo "Keep the root outside the checkout and its build/: $(shown "$keep") is in it." >&2 && exit 1; }
    done
    if ! mkdir -p -- "$keep" 2>/dev/null || [ ! -d "$keep" ] || [ ! -O "$keep" ]; then
      echo "--keep takes a folder of yours, or one that you can make, and $(shown "$keep") is none." >&2
      exit 1
    fi
    # Nobody else may swap it for a folder of theirs while the root is made: its folder is yours
    # or root's, and where others may write in it, sticky.
    parent=$(dirname -- "$keep")
    if [[ $(stat -c %u "$parent") != @(0|$(id -u)) ]] ||
      [ -n "$(find "$parent" -maxdepth 0 -perm /022 ! -perm -1000)" ]; then
      echo "$(shown "$parent"), where the kept root would be, is open to others: keep it in a" \
        "folder of yours." >&2
      exit 1
    fi
    # Two calls that made or entered one kept root at once would spoil it. The second run takes
    # the folder it was given only if it is still the one locked here.
    exec {lock}<"$keep"
    flock -n "$lock" || { echo "Another call of tools/fresh-root.sh uses $(shown "$keep")." >&2 && exit 1; }
    export FRESH_ROOT_KEPT=$(stat -L -c %d:%i "/proc/self/fd/$lock")
    if [ ! -e "$keep/.fresh-root" ] && [ ! -e "$keep/.fresh-root-unfinished" ] && [ -n "$(ls -A "$keep")" ]; then
      echo "$(shown "$keep") holds something else than a root that tools/fresh-root.sh made:" \
        "give --keep another folder." >&2
      exit 1
    fi
  fi
  if [ -n "$release_dir" ]; then
    # Only this rebuild writes in build/rebuild/ until it ends, a folder in build/, not a link.
    check_build_owner
    mkdir -p "$out" 2>/dev/null || true
    if [ -L "$out" ] || [ ! -d "$out" ]; then
      echo "build/rebuild is no folder, where the rebuild goes: remove it, or what it links to." >&2
      exit 1
    fi
    exec {rebuilding}<"$out"
    flock -n "$rebuilding" || { echo "Another rebuild uses $(shown "$out")." >&2 && exit 1; }
    find "$out/" -mindepth 1 -delete
  elif [[ $(source_commit "$checkout") == *uncommitted* ]]; then
    echo "$(shown "$checkout") has uncommitted changes, which the clone leaves out."
  fi
  FRESH_ROOT_OWNED=1 FRESH_ROOT_RELEASE=${FRESH_ROOT_RELEASE:-} own_namespaces "${id_map[@]}" \
    --mount --propagation private -- "$BASH" "$script" "${args[@]}"
fi

# The root is a machine of its own, whatever the caller's umask; what comes back to the caller
# takes theirs.
caller_umask=$(umask)
umask 022
private_tmp "$release_dir" "$keep"
if [ -n "$keep" ] && [ "$(stat -c %d:%i -- "$keep" 2>/dev/null)" != "${FRESH_ROOT_KEPT:-}" ]; then
  echo "$(shown "$keep") is no longer the folder that this call locked." >&2
  exit 1
fi
root=${keep:-$(mktemp -d /tmp/fresh-root.XXXXXX)}
clone=$root/root/narvelox in_clone=(git -C "$root/root/narvelox")

# A root carries a mark while it is made, by which the next call knows a root that a call stopped
# while making, and makes it afresh, and another once it is whole, which a kept root must carry.
mkdir -p "$root" && chmod 755 "$root" # a root's /, which apt's own user must pass through
if [ -e "$root/.fresh-root-unfinished" ]; then
  echo "Removing the half-made root in $(shown "$root"), which an earlier call stopped while making."
  find "$root" -mindepth 1 -maxdepth 1 ! -name .fresh-root-unfinished \
    -exec rm -rf --one-file-system {} +
  rm "$root/.fresh-root-unfinished"
elif [ -e "$root/.fresh-root" ]; then
  kept=$(cat "$root/etc/debian_version")
  [ "${kept%%.*}" = "$release" ] ||
    { echo "$(shown "$root") holds Debian $(shown "$kept"), not $release." >&2 && exit 1; }
  echo "Entering the Debian $(shown "$kept") root kept in $(shown "$root"), its clone at commit" \
    "$("${in_clone[@]}" rev-parse --short HEAD); what a command left in the clone goes, but for" \
    "its build/."
fi
if [ ! -e "$root/.fresh-root" ]; then
  touch "$root/.fresh-root-unfinished"
  # shellcheck source=/dev/null
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  mirror=$(debian_source "$codename") security=$(debian_source "$codename-security")
  mirror=${mirror:-http://deb.debian.org/debian}
  security=${security:-http://deb.debian.org/debian-security}
  where="a tmpfs of at most $(df -h --output=size /tmp | tail -n 1 | tr -d ' '), half the memory"
  [ -z "$keep" ] || where=$(shown "$keep")
  echo "Making a fresh Debian $release ($suite) root from $mirror and $security, in $where."
  # As root of this namespace: no device nodes (bubblewrap gives the root its /dev) and no sysfs
  # of its own, which only a network namespace's owner may mount.
  mmdebstrap --mode=root --variant=minbase --include=git,ca-certificates --skip=check/empty \
    --skip=chroot/mount/sys "$suite" "$root" \
    "deb $mirror $suite main" "deb $mirror $suite-updates main" "deb $security $suite-security main"
  # Every id of this namespace but root's own, for the project's namespaces in there.
  for map in uid gid; do
    echo "root:1:$(($(awk '{ ids += $3 } END { print ids }' "/proc/self/${map}_map") - 1))" \
      >"$root/etc/sub$map"
  done
  git clone --quiet --no-hardlinks "$checkout" "$clone"
  echo "A Debian $release root made by tools/fresh-root.sh" >"$root/.fresh-root"
  rm "$root/.fresh-root-unfinished"
fi
# By its id: a kept clone has only the branches the checkout had when the clone was made.
"${in_clone[@]}" fetch --quiet "$checkout" "$wanted"
if ! "${in_clone[@]}" checkout --quiet --force --detach "$wanted"; then
  echo "The clone in $(shown "$root") stays at commit $("${in_clone[@]}" rev-parse --short HEAD)," \
    "not ${wanted:0:7}." >&2
  exit 1
fi
"${in_clone[@]}" clean -ffdqx -e /build/
echo "Debian $(shown "$(cat "$root/etc/debian_version")"), commit $("${in_clone[@]}" rev-parse --short HEAD)" \
  "at /root/narvelox, running: $(shown "$*")"

# pivot_root, not chroot, and every capability of this namespace's root: the project makes
# namespaces of its own, mounts binfmt_misc and, where the machine lets it, FUSE file systems in
# them. The /proc is this PID namespace's, with nothing mounted over any part of it, without
# which no namespace in there may mount a /proc of its own. The name service is the machine's.
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
  # Its files belong to the caller's subordinate ids, which only a user namespace's root can remove.
  remove="rm -rf ${keep@Q}"
  [ "$(awk '$1 == 0 { print $2 }' /proc/self/uid_map)" -eq 0 ] ||
    remove="unshare --map-root-user --map-auto $remove"
  echo "The root stays in $(shown "$keep"): tools/fresh-root.sh --keep ${keep@Q} ${again[*]}," \
    "and $remove removes it."
fi
[ -n "$release_dir" ] || exit $status
if [ $status -ne 0 ]; then
  echo "The rebuild's build failed (exit status $status, above), so there is nothing to compare." >&2
  exit $status
fi

(umask "$caller_umask" && cp -r "$clone/build/release/dist" "$clone/build/release/Narvelox.exe" "$out/")
echo "The rebuilt release is in $(shown "$out/dist"), its Narvelox.exe in $(shown "$out")."
failures=0
for name in "$zip" Narvelox.exe; do
  file=$clone/build/release/dist/$name
  [ "$name" != Narvelox.exe ] || file=$clone/build/release/$name
  rebuilt_hash=$(sha256sum "$file" 2>/dev/null | cut -d' ' -f1) || true
  verdict="the same" folder=""
  [ "$name" != "$zip" ] || folder=$held
  [ "$rebuilt_hash" = "${published[$name]}" ] && [ "${folder:-$rebuilt_hash}" = "$rebuilt_hash" ] ||
    verdict=DIFFERENT failures=$((failures + 1))
  printf '%s: %s\n  published %s\n  rebuilt   %s\n' "$name" "$verdict" "${published[$name]}" \
    "${rebuilt_hash:-none}"
  [ -z "$folder" ] || printf '  the zip in the release folder %s\n' "$folder"
done
# A line of BUILD-INFO.txt by what it names: the text before ": ", or the whole line.
printf '%s\n' "${info[@]}" >/tmp/published-info
info_line() { awk -v key="$1" '{ k = $0; sub(/: .*/, "", k) } k == key && !found { found = $0 } END { print found }' "$2"; }
while IFS= read -r key; do
  was=$(info_line "$key" /tmp/published-info)
  is=$(info_line "$key" "$clone/build/release/dist/BUILD-INFO.txt")
  [ "$was" != "$is" ] || continue
  # The commit and its time say what was built: they must be the same; the tools may differ.
  [[ $key != @(commit|SOURCE_DATE_EPOCH) ]] || failures=$((failures + 1))
  printf 'BUILD-INFO.txt differs:\n  published %s\n  rebuilt   %s\n' "$was" "$is"
done < <(sed 's/: .*//' /tmp/published-info "$clone/build/release/dist/BUILD-INFO.txt" | awk '!seen[$0]++')
if [ $failures -eq 0 ]; then
  echo "The rebuild is the release, byte for byte."
else
  echo "The rebuild differs from the release." && exit 1
fi
