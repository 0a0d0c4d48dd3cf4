#!/usr/bin/env bash
# tools/fresh-root.sh --rebuild refuses each release folder below at once, saying why, printing
# nothing of it raw and nothing it doesn't read (a link is not followed, a FIFO not opened), and
# leaving the folder whole. Those it reads rightly (CRLF, a last line without its newline) get as
# far as their commit, which this checkout hasn't.
set -euo pipefail
. "$(dirname "$0")/../../tools/common.sh"
[ $# -eq 0 ] || { echo "usage: rebuild-refuses.sh, which takes no arguments" >&2 && exit 2; }
# A folder of its own in the build folder, not in /tmp, where a killed run would leave it.
work=$(mktemp -d "$PWD/rebuild-refuses.XXXXXX") && trap 'rm -rf "$work"' EXIT
mkdir -p "$work/checkout/tools" && cp "$checkout"/tools/{fresh-root.sh,common.sh,read-release.py} "$_"
git=(git -C "$work/checkout" -c user.name=test -c user.email=test@example.org)
"${git[@]}" init --quiet && "${git[@]}" add tools && "${git[@]}" commit --quiet -m sources
dangling=$("${git[@]}" commit-tree -p HEAD -m "a stash, say" "HEAD^{tree}")
fetched=$("${git[@]}" commit-tree -p HEAD -m "a review" "HEAD^{tree}")
"${git[@]}" update-ref refs/remotes/origin/review "$fetched"
tagged=$("${git[@]}" commit-tree -p HEAD -m "another's release" "HEAD^{tree}")
"${git[@]}" tag theirs "$tagged"
absent=$(printf '%040d' 7) zip=Narvelox-1.00.0009-win32.zip secret="a secret of root's"
echo "$secret" >"$work/secret"
# As tools/write-release.sh writes it, the tools' lines cut short; more lines after them.
info() { printf '%s\ncommit: %s\nSOURCE_DATE_EPOCH: 1 (1970)\nDebian: 12.11\nzip: Zip 3.0\n%s' "$zip" "$@"; }
sums="$(printf '%064d' 1)  $zip
$(printf '%064d' 2)  Narvelox.exe"
esc=$'\e[1A\e[2KThe rebuild is the release, byte for byte.\e[8m'
# what the refusal says | BUILD-INFO.txt | SHA256SUMS, where "link" is a link to a secret and
# "fifo" a FIFO; the folder is build/rebuild/CASE where "rebuild" follows.
cases=(
  "line 6 of BUILD-INFO.txt holds a control character|$(info "$absent" "note: $esc")|$sums"
  "line 2 of SHA256SUMS holds a control character|$(info "$absent")|$sums$esc"
  "line 6 of BUILD-INFO.txt holds a control character|$(info "$absent" $'note: 12\r13')|$sums"
  "names no commit|$(info "$absent extra")|$sums"
  "names a commit with uncommitted changes|$(info "$absent with uncommitted changes")|$sums"
  "line 6 of BUILD-INFO.txt gives a field that an earlier line gives|$(info "$absent" "Debian: 13.1")|$sums"
  "line 6 of BUILD-INFO.txt is not \"NAME: value\"|$(info "$absent" ": $secret")|$sums"
  "names no Narvelox-VERSION-win32.zip|$(info "$absent" | sed "1s|.*|$secret|")|$sums"
  "names no Narvelox-VERSION-win32.zip||$sums"
  "gives no SHA-256 of Narvelox.exe|$(info "$absent")|"
  "line 3 of SHA256SUMS names a file that the release does not hold|$(info "$absent")|$sums
$(printf '%064d' 3)  $secret"
  "line 1 of SHA256SUMS is not a SHA-256|$(info "$absent")|$secret"
  "line 2 of SHA256SUMS names a file that an earlier line names||$(printf '%064d' 1)  $secret
$(printf '%064d' 1)  $secret"
  "BUILD-INFO.txt is a link|link|$sums"
  "SHA256SUMS is no regular file|$(info "$absent")|fifo"
  "has no commit $absent|$(info "$absent" | sed 's/$/\r/')|$(sed 's/$/\r/' <<<"$sums")"
  "No branch of|$(info "$dangling")|$sums"
  "No branch of|$(info "$fetched")|$sums"
  "No branch of|$(info "$tagged")|$sums"
  "lies in build/rebuild/, which the rebuild empties|$(info "$absent")|$sums|rebuild"
)
failures=0
for i in "${!cases[@]}"; do
  IFS='|' read -r -d '' expected build_info checksums where <<<"${cases[$i]}" || true
  folder=$work/$i
  [ "${where%$'\n'}" != rebuild ] || folder=$work/checkout/build/rebuild/$i
  mkdir -p "$folder"
  for file in BUILD-INFO.txt:"$build_info" SHA256SUMS:"${checksums%$'\n'}"; do
    case ${file#*:} in
    link) ln -s "$work/secret" "$folder/${file%%:*}" ;;
    fifo) mkfifo "$folder/${file%%:*}" ;;
    *) printf '%s' "${file#*:}" >"$folder/${file%%:*}" ;; # the last line without its newline
    esac
  done
  status=0 && said=$(zip=elsewhere timeout 20 "$work/checkout/tools/fresh-root.sh" --rebuild "$folder" 2>&1) || status=$?
  if [ $status -eq 1 ] && [[ $said == *"$expected"* ]] && [[ $said != *"$secret"* ]] &&
    ! LC_ALL=C grep -q '[^ -~]' <<<"$said" && [ "$(ls "$folder" | wc -l)" -eq 2 ]; then
    echo "ok   $expected" && continue
  fi
  printf 'FAIL case %d: exit status %d, expected 1 and "%s", got:\n%s\n' "$i" $status "$expected" \
    "$(cat -v <<<"$said" | sed 's/^/  /')"
  failures=$((failures + 1))
done
exit $failures
