# shellcheck shell=bash
# What the project's scripts share. Sourced first by every shell script that a person or CTest
# runs, which then runs only as the checkout's owner: root installs packages
# (tools/install-deps.sh) and runs nothing else here. (The Python helpers only read; the sudo and
# su of tests/image/bin are reprotest's, in the reproducibility check's own namespace.)
#
#   check_build_owner        stops, saying how to mend it, where build/ holds a file that isn't
#                            the checkout owner's, or leads to a folder that isn't theirs
#   subordinate_ids          unshare's options for a user namespace with the caller's
#                            subordinate ids (/etc/subuid, /etc/subgid), or why there is none
#   own_namespaces UNSHARE_OPTION... -- CMD...
#                            runs CMD as the first process of new namespaces, a PID namespace
#                            among them, and exits with its status; it ends with this script
#   private_tmp DIR...       a tmpfs over /tmp, in a mount namespace of the caller's own, through
#                            which each DIR that lies under /tmp is still seen
#   shown TEXT               TEXT as a message may print it: control characters escaped
#   user_label UID           the account's name, or what stands for a uid with none
#   source_commit DIR        the commit that the sources in DIR are at, as a release names it
#   debian_source SUITE      the address apt takes the main component of Debian's SUITE from

checkout=$(realpath "$(dirname "${BASH_SOURCE[0]}")/..")
checkout_uid=$(stat -c %u "$checkout")

# A path, or a line of a file, may hold anything, an escape sequence that repaints the terminal
# included: where it holds a character that doesn't print, it is shown in bash's $'...' quoting.
shown() { # TEXT
  if [[ $1 == *[![:print:]]* ]]; then printf '%q' "$1"; else printf '%s' "$1"; fi
}

user_label() { # UID
  getent passwd "$1" | cut -d: -f1 | grep . || echo "uid $1, which has no account here"
}

# Root writing in a checkout that another user owns leaves files the owner can't change, and
# runs whatever the owner's checkout holds with every right: so no script runs but as the owner.
# The installer is the one exception: it writes nothing in the checkout, and root runs it, as the
# checkout's own code, only in a clone whose code it trusts.
only_the_owner() { # THE SCRIPT'S ARGUMENTS...
  [ "$(id -u)" -ne "$checkout_uid" ] || return 0
  local name how
  name=$(getent passwd "$checkout_uid" | cut -d: -f1) || true
  if [ "$(id -u)" -ne 0 ]; then
    how="sudo -u ${name:-"'#$checkout_uid'"}"
  elif [ -n "$name" ]; then
    how="runuser -u $name --"
  else
    how="setpriv --reuid=$checkout_uid --regid=$checkout_uid --clear-groups env HOME=/"
  fi
  echo "$(shown "$checkout") belongs to $(user_label "$checkout_uid"), and its scripts run only as" \
    "their owner, so this one has changed nothing: run it as them ($how$(printf ' %q' "$0" "$@"))." >&2
  exit 1
}
[ "$(realpath "$0")" = "$checkout/tools/install-deps.sh" ] || only_the_owner "$@"

# A plain `sudo cmake ...`, or a run of an older version of these scripts as root, may have left
# files in build/ that the owner can't write, and a build would fail halfway: this says so first,
# and gives the command that mends it, for root to run. build/ may be a link to another disk, to a
# folder of the owner's only.
check_build_owner() {
  local build=$checkout/build real foreign
  [ -e "$build" ] || return 0
  real=$(realpath -- "$build")
  if [ -L "$build" ] && [ "$(stat -c %u "$real")" -ne "$checkout_uid" ]; then
    echo "build/ leads to $(shown "$real"), which belongs to $(user_label "$(stat -c %u "$real")")," \
      "not to $(user_label "$checkout_uid"), who owns this checkout: link it to a folder of" \
      "theirs, or remove the link." >&2
    exit 1
  fi
  foreign=$(find "$real" ! -user "$checkout_uid" -print -quit 2>/dev/null) || true
  [ -n "$foreign" ] || return 0
  [ "$foreign" != "$real" ] || foreign=$real/.
  # chown -R follows no link inside the tree: a Wine prefix links to / (dosdevices/z:).
  echo "$(shown "${foreign#"$real/"}") in build/ belongs to $(user_label "$(stat -c %u "$foreign")")," \
    "not to you: sudo chown -R $checkout_uid:$(id -g) ${real@Q} gives build/ back." >&2
  exit 1
}

# Fills id_map with unshare's options that make the caller root of a user namespace in which
# their subordinate ids are mapped too, from 1 up, and returns 0; else says in ids_why why not,
# and returns 1. Debian gives each new account a range; an older one may have none, and a uid with
# no account can have none, as newuidmap maps only an account's. The ranges are read here:
# unshare --map-auto of util-linux 2.38 takes the first range of the file for root's, whoever's.
subordinate_ids() {
  local uid name map first count said
  uid=$(id -u) id_map=(--map-root-user) ids_why=""
  name=$(getent passwd "$uid" | cut -d: -f1) || true
  if [ -z "$name" ]; then
    ids_why="uid $uid has no account here, and only an account can have subordinate ids: sudo"
    ids_why+=" useradd --uid $uid NAME, then sudo tools/install-deps.sh, gives it some"
    return 1
  fi
  for map in uid:users gid:groups; do
    read -r first count < <(subordinate_range "/etc/sub${map%:*}" "$name" "$uid") || true
    [ -n "${first:-}" ] || { ids_why="$name has no subordinate ids: sudo tools/install-deps.sh gives them" && return 1; }
    id_map+=("--map-${map#*:}=$first,1,$((count - 1))")
  done
  said=$(unshare --user "${id_map[@]}" true 2>&1) && return 0
  ids_why="unshare can't map $name's subordinate ids ($(shown "$said"))"
  command -v newuidmap >/dev/null || ids_why="newuidmap is missing: sudo tools/install-deps.sh installs it"
  return 1
}

# The first range of more than one id that FILE, /etc/subuid or /etc/subgid, gives the account
# NAME or its UID, as "FIRST COUNT"; nothing where there is none.
subordinate_range() { # FILE NAME UID
  awk -F: -v name="$2" -v uid="$3" '($1 == name || $1 == uid) && $3 > 1 { print $2, $3; exit }' \
    "$1" 2>/dev/null || true
}

# Makes the calling script end with the process that started it, however that one ends: CTest
# killed by its timeout or by its caller, say, takes the test it runs with it, and so the test's
# namespaces. Called first, as the script starts again under setpriv --pdeathsig.
end_with_parent() { # THE SCRIPT'S ARGUMENTS...
  [ "${NARVELOX_PARENT_DEATH:-}" = $$ ] ||
    NARVELOX_PARENT_DEATH=$$ exec setpriv --pdeathsig KILL "$BASH" "$0" "$@"
}

# However this script ends, by an exit, a failure, Ctrl-C, SIGTERM or SIGKILL, CMD goes with it
# (setpriv --pdeathsig), and with CMD every other process in its PID namespace (unshare
# --kill-child).
own_namespaces() { # UNSHARE_OPTION... -- CMD...
  local said
  if ! said=$(unshare --user true 2>&1); then
    echo "The kernel gives you no user namespace ($(shown "$said")): sudo sysctl" \
      "user.max_user_namespaces=10000 allows them." >&2
    exit 1
  fi
  # In the background, where a script's SIGINT doesn't reach, so that it ends the owner alone.
  setpriv --pdeathsig KILL unshare --pid --fork --kill-child --mount-proc "$@" <&0 &
  local owned=$! status=0
  # unshare passes no signal on to its child: the owner ends the namespace itself.
  trap 'kill -KILL $owned; exit 130' INT
  trap 'kill -KILL $owned; exit 143' TERM
  wait $owned || status=$?
  exit $status
}

# The checkout's build/ is always seen, whether it is in the checkout or a link to /tmp; DIR must be
# a folder, or in one, that is there when this is called. Temporary files go there too, whatever
# the caller's TMPDIR said: unset, not set to /tmp, with which Wine 10's wineserver crashes.
private_tmp() { # DIR...
  local dir top host dirs
  dirs=("$checkout" "$(realpath -m -- "$checkout/build")" "$@") # read before /tmp is hidden
  exec {host}</tmp
  mount -t tmpfs -o mode=1777 tmpfs /tmp
  for dir in "${dirs[@]}"; do
    [[ $dir == /tmp/?* ]] || continue
    top=${dir#/tmp/} top=${top%%/*}
    [ ! -d "/tmp/$top" ] && [ -d "/proc/self/fd/$host/$top" ] || continue
    mkdir "/tmp/$top"
    # Through the descriptor: the host's /tmp/TOP is hidden by its path, not by its inode.
    mount --no-canonicalize --rbind "/proc/self/fd/$host/$top" "/tmp/$top"
  done
  exec {host}<&-
  unset TMPDIR TEMP TMP
}

# What the sources in DIR are, as a release names them: their checkout's commit, with " with
# uncommitted changes" where there are any, or none where DIR is no checkout's top (sources
# unpacked inside another project's checkout are not at its commit). A checkout that git can't
# read, a corrupt index say, stops the script: nothing passes for clean that wasn't read.
source_commit() { # DIR
  local git=(env GIT_OPTIONAL_LOCKS=0 git -C "$1") commit changes
  [ -e "$1/.git" ] || { echo "none: not built from a git checkout" && return 0; }
  if ! commit=$("${git[@]}" rev-parse --verify --quiet HEAD) ||
    [ "$("${git[@]}" rev-parse --show-toplevel)" != "$1" ] || ! changes=$("${git[@]}" status --porcelain); then
    echo "git can't read which commit $(shown "$1") holds, and whether it has changes." >&2
    return 1
  fi
  echo "$commit${changes:+ with uncommitted changes}"
}

# Debian's own archive only, by its origin and label, not a vendor's that lists the same suite.
# Empty if apt has no such source.
debian_source() { # SUITE
  apt-cache policy 2>/dev/null | awk -v suite="$1" '/^ +[0-9]+ / { uri = $2 }
    /^ +release / && !found && index($0, ",n=" suite ",") && /,c=main(,|$)/ &&
      /[ ,]o=Debian( Backports)?,/ && /,l=Debian(-Security| Backports)?,/ { found = uri }
    END { print found }'
}
