#!/usr/bin/env bash
# Root, in a checkout that another user owns, runs the owner's commands as the owner: with the
# owner's own group and groups, whatever the checkout folder's group; as a uid with no account
# here, with a home of its own; and gives back what root left in build/, through a link to a
# folder of the owner's, but not one that leads elsewhere. Needs root; skips without it.
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "skipped: only root runs commands as another user" && exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir "$work/tools"
cp "$(dirname "$0")/../../tools/common.sh" "$work/tools/"
failures=0
expect() { # WHAT EXPECTED ACTUAL
  [ "$2" = "$3" ] && echo "ok   $1: $3" || { echo "FAIL $1: expected \"$2\", got \"$3\"" && failures=$((failures + 1)); }
}
# In a shell of its own, as each script is, for the checkout as it is then.
in_checkout() { bash -c '. "$0/tools/common.sh" && "$@"' "$work" "$@" 2>&1 || true; }
nobody_gid=$(id -g nobody)
# owner | the checkout's owner and group | what its commands run as: uid, gid, groups, and HOME
cases=(
  "an account, the checkout in group root|nobody:0|65534 $nobody_gid $(id -G nobody) $(getent passwd nobody | cut -d: -f6)"
  "no account|4242:4243|4242 4243 4243 $work/build/home"
  "no account, the checkout in group root|4242:0|4242 65534 65534 $work/build/home"
)
for case in "${cases[@]}"; do
  IFS='|' read -r name ids expected <<<"$case"
  chown "$ids" "$work"
  expect "$name" "$expected" "$(in_checkout as_owner sh -c 'echo $(id -u) $(id -g) $(id -G) $HOME')"
done
expect "the home of an owner with no account" 4242 "$(stat -c %u "$work/build/home")"

# build/ a link to a folder of the owner's, where root left a file: given back, in the owner's group.
chown 4242:4243 "$work"
rm -rf "$work/build" && mkdir -p "$work/elsewhere/build" && touch "$work/elsewhere/build/root's"
chown 4242 "$work/elsewhere/build"
ln -s elsewhere/build "$work/build" && chown -h 4242 "$work/build"
in_checkout check_build_owner >/dev/null
expect "root's file behind build/, given back" 4242:4243 "$(stat -c %u:%g "$work/elsewhere/build/root's")"
# A link to a folder that isn't the owner's is refused: its files stay as they were.
chown root "$work/elsewhere/build" "$work/elsewhere/build/root's"
said=$(in_checkout check_build_owner)
expect "build/ leading to root's folder" "0 build/ leads to" \
  "$(stat -c %u "$work/elsewhere/build/root's") $(cut -c 1-15 <<<"$said")"
exit $failures
