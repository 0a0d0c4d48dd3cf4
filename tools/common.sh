# shellcheck shell=bash
# What the scripts a person runs share. Sourced by the demo, the test command, the benchmark, the
# harness, the installer and the fresh root:
#
#   as_owner CMD...          runs CMD as the checkout's owner: where root runs a script in a
#                            checkout that another user owns, as that user, with the user's own
#                            groups, so that nothing CMD writes there is root's; else as it is
#   check_build_owner        where build/ holds a file that isn't the checkout owner's, root
#                            gives it back, and anyone else stops, saying how to mend it
#   own_namespaces [--as-owner] UNSHARE_OPTION... -- CMD...
#                            runs CMD as the first process of new namespaces, a PID namespace
#                            among them, and exits with its status; it ends with this script
#   shown TEXT               TEXT as a message may print it: control characters escaped
#   debian_source SUITE      the address apt takes the main component of Debian's SUITE from
#
# A checkout stays its owner's: root does only the steps that need root (installing packages,
# the release's reproducibility check, a fresh root), everything else as the owner, and writes
# nothing in the checkout itself.

checkout=$(realpath "$(dirname "${BASH_SOURCE[0]}")/..")
checkout_uid=$(stat -c %u "$checkout")

# A path, or a line of a file, may hold anything, an escape sequence that repaints the terminal
# included: where it holds a character that doesn't print, it is shown in bash's $'...' quoting.
shown() { # TEXT
  if [[ $1 == *[![:print:]]* ]]; then printf '%q' "$1"; else printf '%s' "$1"; fi
}

# Who owns the checkout, from the owner's account: owner_name, owner_gid (the account's own
# group, not the checkout folder's), owner_home, and owner_ids for chown. An owner with no account
# here, as a checkout mounted into a container often has, has no name, the checkout folder's
# group unless that is root's, and a home of its own in build/.
owner_account() {
  [ -z "${owner_ids:-}" ] || return 0
  local entry group
  if entry=$(getent passwd "$checkout_uid"); then
    IFS=: read -r owner_name _ _ owner_gid _ owner_home _ <<<"$entry"
  else
    owner_name="" owner_gid=$(stat -c %g "$checkout") owner_home=$checkout/build/home
    [ "$owner_gid" -ne 0 ] || owner_gid=65534 # nogroup
  fi
  group=$(getent group "$owner_gid" | cut -d: -f1) || true
  owner_ids=${owner_name:-$checkout_uid}:${group:-$owner_gid}
}

# Who UID is, for a message.
user_label() { # UID
  getent passwd "$1" | cut -d: -f1 | grep . || echo "user $1 (no account here)"
}

# Fills owner with setpriv's options, then env's, that make a command the checkout's owner's where
# root runs in a checkout that another user owns (sudo leaves root's HOME, USER and LOGNAME); else
# empties it.
owner_options() {
  owner=()
  [ "$(id -u)" -eq 0 ] && [ "$checkout_uid" -ne 0 ] || return 0
  owner_account
  if [ -n "$owner_name" ]; then
    owner=(--reuid="$checkout_uid" --regid="$owner_gid" --init-groups --
      env HOME="$owner_home" USER="$owner_name" LOGNAME="$owner_name")
  else
    # setpriv needs no account: the owner's uid alone, with no groups beside its own.
    owner=(--reuid="$checkout_uid" --regid="$owner_gid" --clear-groups --
      env -u USER -u LOGNAME HOME="$owner_home")
    [ -d "$owner_home" ] || setpriv "${owner[@]}" mkdir -p "$owner_home" || true
  fi
}

as_owner() { # CMD...
  owner_options
  if [ ${#owner[@]} -eq 0 ]; then
    "$@"
  else
    setpriv "${owner[@]}" "$@"
  fi
}

# A run as root of an earlier version of these scripts, a plain `sudo cmake ...`, or one killed
# halfway, may have left files of root's in build/, which the owner's builds can't write. build/
# may be a link to another disk: what it leads to is checked, and given back, if it is the
# owner's; root gives nothing away that the owner didn't have.
check_build_owner() {
  local build=$checkout/build foreign
  foreign=$(find -H "$build" ! -user "$checkout_uid" -print -quit 2>/dev/null) || true
  [ -n "$foreign" ] || return 0
  owner_account
  if [ -L "$build" ] && [ "$(stat -L -c %u "$build")" -ne "$checkout_uid" ]; then
    echo "build/ leads to $(shown "$(realpath "$build")"), which belongs to" \
      "$(user_label "$(stat -L -c %u "$build")"), not to $(user_label "$checkout_uid"), who" \
      "owns this checkout: link it to a folder of theirs, or remove the link." >&2
    exit 1
  fi
  if [ "$(id -u)" -eq 0 ]; then
    echo "Giving build/ back to $(user_label "$checkout_uid"), who owns this checkout."
    chown -R -H "$checkout_uid:$owner_gid" "$build"
  else
    local fix="$build/"
    echo "$(shown "${foreign#"$checkout/"}") belongs to $(user_label "$(stat -c %u "$foreign")")," \
      "not to this checkout's owner: sudo chown -R $owner_ids ${fix@Q} gives it back." >&2
    exit 1
  fi
}

# However this script ends, by an exit, a failure, Ctrl-C, SIGTERM or SIGKILL, CMD goes with it
# (setpriv --pdeathsig), and with CMD every other process in its PID namespace (unshare
# --kill-child). With --as-owner, CMD runs as the checkout's owner (as_owner): setpriv changes the
# user before it sets the signal, which a change of user would clear.
own_namespaces() { # [--as-owner] UNSHARE_OPTION... -- CMD...
  local as=(--)
  if [ "$1" = --as-owner ]; then
    owner_options
    [ ${#owner[@]} -eq 0 ] || as=("${owner[@]}")
    shift
  fi
  # In the background, where a script's SIGINT doesn't reach, so that it ends the owner alone.
  setpriv --pdeathsig KILL "${as[@]}" unshare --pid --fork --kill-child --mount-proc "$@" <&0 &
  local owned=$! status=0
  # unshare passes no signal on to its child: the owner ends the namespace itself.
  trap 'kill -KILL $owned; exit 130' INT
  trap 'kill -KILL $owned; exit 143' TERM
  wait $owned || status=$?
  exit $status
}

# Empty if apt has no such source.
debian_source() { # SUITE
  apt-cache policy 2>/dev/null | awk -v suite="n=$1," '/^ +[0-9]+ / { uri = $2 }
    index($0, suite) && /,c=main,/ { print uri; exit }'
}
