#!/usr/bin/env bash
# tools/fresh-root.sh --rebuild refuses each release folder below at once, before it needs root,
# saying why and printing nothing of it raw; those it reads rightly (CRLF, a last line without its
# newline) get as far as their commit, which this checkout hasn't.
set -euo pipefail
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
mkdir -p "$work/checkout/tools" && cp "$(dirname "$0")"/../../tools/{fresh-root,common}.sh "$_"
git=(git -C "$work/checkout" -c user.name=test -c user.email=test@example.org)
"${git[@]}" init --quiet && "${git[@]}" add tools && "${git[@]}" commit --quiet -m sources
dangling=$("${git[@]}" commit-tree -p HEAD -m "a stash, say" "HEAD^{tree}")
fetched=$("${git[@]}" commit-tree -p HEAD -m "a review" "HEAD^{tree}")
"${git[@]}" update-ref refs/remotes/origin/review "$fetched"
absent=$(printf '%040d' 7) zip=Narvelox-1.00.0009-win32.zip
# As tools/write-release.sh writes it, the tools' lines cut short; more lines after them.
info() { printf '%s\ncommit: %s\nSOURCE_DATE_EPOCH: 1 (1970)\nDebian: 12.11\nzip: Zip 3.0\n%s' "$zip" "$@"; }
sums="$(printf '%064d' 1)  $zip
$(printf '%064d' 2)  Narvelox.exe"
esc=$'\e[1A\e[2KThe rebuild is the release, byte for byte.\e[8m'
# what the refusal says | BUILD-INFO.txt | SHA256SUMS
cases=(
  "line 6 of BUILD-INFO.txt holds a control character|$(info "$absent" "note: $esc")|$sums"
  "line 2 of SHA256SUMS holds a control character|$(info "$absent")|$sums$esc"
  "line 6 of BUILD-INFO.txt holds a control character|$(info "$absent" $'note: 12\r13')|$sums"
  "names no commit|$(info "$absent extra")|$sums"
  "names a commit with uncommitted changes|$(info "$absent with uncommitted changes")|$sums"
  "names Debian twice|$(info "$absent" "Debian: 13.1")|$sums"
  "names no Narvelox-VERSION-win32.zip|$(info "$absent" | sed '1s|.*|Narvelox-/../x-win32.zip|')|$sums"
  "gives no SHA-256 of Narvelox.exe|$(info "$absent")|"
  "names LICENSE.txt, which the release does not hold|$(info "$absent")|$sums
$(printf '%064d' 3)  LICENSE.txt"
  "has no commit $absent|$(info "$absent" | sed 's/$/\r/')|$(sed 's/$/\r/' <<<"$sums")"
  "No branch or tag of|$(info "$dangling")|$sums"
  "No branch or tag of|$(info "$fetched")|$sums"
)
failures=0
for i in "${!cases[@]}"; do
  IFS='|' read -r -d '' expected build_info checksums <<<"${cases[$i]}" || true
  mkdir "$work/$i" && printf '%s' "$build_info" >"$work/$i/BUILD-INFO.txt"
  printf '%s' "${checksums%$'\n'}" >"$work/$i/SHA256SUMS" # the last line without its newline
  status=0 && said=$(timeout 20 "$work/checkout/tools/fresh-root.sh" --rebuild "$work/$i" 2>&1) || status=$?
  if [ $status -eq 1 ] && [[ $said == *"$expected"* ]] && ! LC_ALL=C grep -q '[^ -~]' <<<"$said"; then
    echo "ok   $expected" && continue
  fi
  printf 'FAIL case %d: exit status %d, expected 1 and "%s", got:\n%s\n' "$i" $status "$expected" \
    "$(cat -v <<<"$said" | sed 's/^/  /')"
  failures=$((failures + 1))
done
exit $failures
