#!/usr/bin/env bash
# Root runs the commands of a checkout's owner with the owner's own groups, whatever the folder's
# group, also for a uid with no account here; and gives back build/ through a link only to a
# folder of the owner's. Root only.
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "skipped: only root runs commands as another user" && exit 77; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
chmod 755 "$work" && mkdir "$work/tools" && cp "$(dirname "$0")/../../tools/common.sh" "$work/tools/"
failures=0
expect() { # WHAT EXPECTED ACTUAL: ACTUAL begins with EXPECTED
  [[ $3 == "$2"* ]] && echo "ok   $1: $3" ||
    { echo "FAIL $1: expected \"$2\", got \"$3\"" && failures=$((failures + 1)); }
}
# A script's shell, sourcing common.sh in the checkout as it is at the time.
in_checkout() { bash -c '. "$0/tools/common.sh" && "$@"' "$work" "$@" 2>&1 || true; }
# the checkout's owner and group | what the owner's commands run as: uid, gid, groups, HOME
for case in "nobody:0|65534 $(id -g nobody) $(id -G nobody) $(getent passwd nobody | cut -d: -f6)" \
  "4242:4243|4242 4243 4243 $work/build/home" "4242:0|4242 65534 65534 $work/build/home"; do
  chown "${case%|*}" "$work"
  expect "${case%|*}" "${case#*|}" "$(in_checkout as_owner sh -c 'echo $(id -u) $(id -g) $(id -G) $HOME')"
done
expect "the home of an owner with no account" 4242 "$(stat -c %u "$work/build/home")"

# build/, a link to a folder of the owner's and then of root's, where root left a file.
rm -rf "$work/build" && mkdir -p "$work/elsewhere/build" && touch "$work/elsewhere/build/root's"
ln -s elsewhere/build "$work/build" && chown -h 4242:4243 "$work" "$work/build"
for case in "4242:4243|Giving build/ back" "0:0|build/ leads to"; do
  chown "${case%%:*}" "$work/elsewhere/build" && chown 0:0 "$work/elsewhere/build/root's"
  said=$(in_checkout check_build_owner)
  expect "build/ a link to a folder of uid ${case%%:*}" "${case/|/ }" \
    "$(stat -c %u:%g "$work/elsewhere/build/root's") $said"
done
exit $failures
