# shellcheck shell=bash
# What the scripts a person runs share. Sourced by the demo, the test command, the benchmark, the
# harness, the installer and the fresh root:
#
#   as_owner CMD...          runs CMD as the checkout's owner: where root runs a script in a
#                            checkout that another user owns, as that user, so that nothing CMD
#                            writes there is root's; else as it is
#   give_back PATH           gives PATH, which a step that needs root wrote in the checkout, back
#                            to the checkout's owner
#   check_build_owner        where build/ holds a file that isn't the checkout owner's, root
#                            gives it back, and anyone else stops, saying how to mend it
#   own_namespaces [--as-owner] UNSHARE_OPTION... -- CMD...
#                            runs CMD as the first process of new namespaces, a PID namespace
#                            among them, and exits with its status; it ends with this script
#   debian_source SUITE      the address apt takes the main component of Debian's SUITE from
#
# A checkout stays its owner's: root does only the steps that need root (installing packages,
# the release's reproducibility check, a fresh root), and everything else as the owner.

checkout=$(realpath "$(dirname "${BASH_SOURCE[0]}")/..")
checkout_uid=$(stat -c %u "$checkout") checkout_gid=$(stat -c %g "$checkout")

# Fills owner with setpriv's options, then env's, that make a command the checkout's owner's where
# root runs in a checkout that another user owns (sudo leaves root's HOME, USER and LOGNAME); else
# empties it.
owner_options() {
  owner=()
  [ "$(id -u)" -eq 0 ] && [ "$checkout_uid" -ne 0 ] || return 0
  local name home
  if ! IFS=: read -r name _ _ _ _ home _ < <(getent passwd "$checkout_uid"); then
    echo "$checkout belongs to user $checkout_uid, who has no account here to run as." >&2
    exit 1
  fi
  owner=(--reuid="$checkout_uid" --regid="$checkout_gid" --init-groups --
    env HOME="$home" USER="$name" LOGNAME="$name")
}

as_owner() { # CMD...
  owner_options
  if [ ${#owner[@]} -eq 0 ]; then
    "$@"
  else
    setpriv "${owner[@]}" "$@"
  fi
}

give_back() { # PATH
  [ "$(id -u)" -ne 0 ] || [ ! -e "$1" ] || chown -R "$checkout_uid:$checkout_gid" "$1"
}

# A run as root of an earlier version of these scripts, or one killed before it gave back what it
# wrote, may have left files of root's in build/, which the owner's builds can't write.
check_build_owner() {
  local foreign
  foreign=$(find "$checkout/build" ! -user "$checkout_uid" -print -quit 2>/dev/null) || true
  [ -n "$foreign" ] || return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Giving build/ back to $(stat -c %U "$checkout"), who owns this checkout."
    give_back "$checkout/build"
  else
    echo "${foreign#"$checkout/"} belongs to $(stat -c %U "$foreign"), not to this checkout's" \
      "owner: sudo chown -R $(stat -c %U:%G "$checkout") $checkout/build gives it back." >&2
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
