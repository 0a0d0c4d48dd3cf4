#!/usr/bin/env bash
# tools/fresh-root.sh --rebuild trusts a release folder no more than any download: it reads it
# before it needs root or builds anything. Each folder below is refused at once, saying why, with
# nothing of the folder reaching the terminal raw; the folders it reads rightly (CRLF line ends,
# a last line without its newline) get as far as the commit, which this checkout doesn't have.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
co=$work/checkout
mkdir -p "$co/tools"
cp "$(dirname "$0")"/../../tools/{fresh-root,common}.sh "$co/tools/"
git=(git -C "$co" -c user.name=test -c user.email=test@example.org)
"${git[@]}" init --quiet && "${git[@]}" add tools && "${git[@]}" commit --quiet -m sources
head=$("${git[@]}" rev-parse HEAD)
dangling=$("${git[@]}" commit-tree -p HEAD -m "a stash, say" "HEAD^{tree}")
absent=$(printf '%040d' 7)

zip=Narvelox-1.00.0009-win32.zip
info() { printf '%s\ncommit: %s\nSOURCE_DATE_EPOCH: 1 (1970)\nDebian: 12.11\n%s' "$zip" "$1" "${2:-}"; }
sums="$(printf '%064d' 1)  $zip
$(printf '%064d' 2)  Narvelox.exe"
esc=$'\e[1A\e[2KThe rebuild is the release, byte for byte.\e[8m'
# name | what the refusal must say | BUILD-INFO.txt | SHA256SUMS
cases=(
  "escape in BUILD-INFO|line 5 of BUILD-INFO.txt holds a control character|$(info "$absent" "note: $esc")|$sums"
  "escape in SHA256SUMS|line 2 of SHA256SUMS holds a control character|$(info "$absent")|$sums$esc"
  "carriage return inside a line|line 5 of BUILD-INFO.txt holds a control character|$(info "$absent" $'note: 12\r13')|$sums"
  "commit and more|names no commit|$(info "$absent" | sed 's/^commit: .*/& extra/')|$sums"
  "commit with changes|names a commit with uncommitted changes|$(info "$head with uncommitted changes")|$sums"
  "two Debian lines|names Debian twice|$(info "$absent" "Debian: 13.1")|$sums"
  "zip out of the folder|names no Narvelox-VERSION-win32.zip|$(info "$absent" | sed '1s|.*|Narvelox-/../../x-win32.zip|')|$sums"
  "empty SHA256SUMS|gives no SHA-256 of Narvelox.exe|$(info "$absent")|"
  "another file summed|names LICENSE.txt, which the release does not hold|$(info "$absent")|$sums
$(printf '%064d' 3)  LICENSE.txt"
  "no commit here, CRLF|has no commit $absent|$(info "$absent" | sed 's/$/\r/')|$(sed 's/$/\r/' <<<"$sums")"
  "a commit no branch or tag reaches|No branch or tag of|$(info "$dangling")|$sums"
)
failures=0
for case in "${cases[@]}"; do
  IFS='|' read -r -d '' name expected build_info checksums <<<"$case" || true
  release=$work/$name
  mkdir "$release"
  printf '%s' "$build_info" >"$release/BUILD-INFO.txt"
  printf '%s' "${checksums%$'\n'}" >"$release/SHA256SUMS" # the last line without its newline
  status=0
  said=$(timeout 20 "$co/tools/fresh-root.sh" --rebuild "$release" 2>&1) || status=$?
  if [ $status -ne 1 ] || [[ $said != *"$expected"* ]] || LC_ALL=C grep -q '[^ -~]' <<<"$said"; then
    echo "FAIL $name: exit status $status, expected 1 and \"$expected\", got:"
    cat -v <<<"$said" | sed 's/^/  /'
    failures=$((failures + 1))
  else
    echo "ok   $name: ${said##*$'\n'}"
  fi
done
exit $failures
