#!/usr/bin/env bash
# Builds the release under reprotest, which builds it once as it is and once more with what
# differs between two rebuilders' machines varied: the exe and dist/ must come out byte for byte
# the same, or diffoscope says where they differ. Not all variations combine, so reprotest runs
# twice where this machine allows both, four builds in all. Then reads the release back, as a
# player and a rebuilder would.   check-reproducible.sh SOURCE_DIR
#
# It runs as root of a user namespace of its own, in which the caller's subordinate ids are
# mapped where they have some, so that a build can run as another user; it builds on a /tmp of
# its own, which goes with it however it ends.
set -euo pipefail
. "$(dirname "$0")/../../tools/common.sh"
end_with_parent "$@"
[ $# -eq 1 ] && [ -d "$1" ] || { echo "usage: check-reproducible.sh SOURCE_DIR" >&2 && exit 2; }
source_dir=$(realpath -- "$1")
if [ "${NARVELOX_REPRODUCIBLE:-}" != owned ] || [ $$ -ne 1 ]; then
  subordinate_ids || true
  NARVELOX_REPRODUCIBLE=owned ids_why=$ids_why own_namespaces "${id_map[@]}" --mount -- \
    "$BASH" "$0" "$source_dir"
fi
private_tmp "$source_dir"
work=$(mktemp -d /tmp/reproducible.XXXXXX)

# Root here needs no sudo, which reprotest calls for its other user and its host name, nor su,
# by which it runs its builds: bin/ holds its own, copied where the other user reaches them too,
# whatever the caller's umask and home's mode. reprotest takes the builds' user from USER.
chmod 755 "$work" && install -m 755 -d "$work/bin" && install -m 755 "$(dirname "$0")"/bin/* "$work/bin"
export PATH=$work/bin:$PATH USER=root LOGNAME=root

# Every variation reprotest has, in two runs, as not all combine: the first run's second build is
# narvelox-rebuilder's, which needs the caller's subordinate ids. disorderfs (fileordering) needs
# /dev/fuse, which is root's alone on many machines, and would run as that other user: the second
# run, without one, shuffles the order of files where this machine allows it.
runs=("+all,-fileordering,user_group.available+=narvelox-rebuilder:narvelox-rebuilder,domain_host.use_sudo=1")
if [ -n "$ids_why" ]; then
  runs=("+all,-fileordering,-user_group,domain_host.use_sudo=1")
  echo "The builds' user is not varied: $ids_why."
fi
if { : <>/dev/fuse; } 2>/dev/null; then
  runs+=("+all,-user_group,domain_host.use_sudo=1")
else
  echo "The order of files in folders is not varied: /dev/fuse is not yours to open here."
fi
build="cmake --preset release >/dev/null && cmake --build --preset release >/dev/null &&
  cpack --preset release >/dev/null"
# The sources as a clone has them, uncommitted changes included, but none of the builds. A copy
# under a name of our own: reprotest reads its source patterns as shell words and puts the
# source folder into a shell command, which an odd name in the checkout would break.
mkdir "$work/sources"
find "$source_dir" -mindepth 1 -maxdepth 1 ! -name build -exec cp -a -t "$work/sources" {} +
for i in "${!runs[@]}"; do
  store=$work/run$i
  echo "reprotest --vary=${runs[$i]}"
  [[ ${runs[$i]} == *-user_group* ]] || echo "  the second build's user: $(id narvelox-rebuilder)"
  reprotest --verbosity 1 --store-dir "$store" --vary="${runs[$i]}" -c "$build" "$work/sources" \
    "build/release/Narvelox.exe build/release/dist/*" >"$store.log" 2>&1 && status=0 || status=$?
  # What the second build varied, the verdict and the hashes; not the control build's setup.
  awk '/build "experiment-1"/ { on = 1 } on && /variation|: vary |Reproduction|^[0-9a-f]+  /' \
    "$store.log" | sed 's/^INFO:[a-z.]*:/  /'
  differences=$store/experiment-1.diffoscope.out # empty when they are the same
  [ ! -s "$differences" ] || { echo "FAIL the builds differ; diffoscope:" && cat "$differences"; }
  [ "$status" -eq 0 ] || { [ -s "$differences" ] || cat "$store.log"; exit 1; }
done

built=$work/run0/control/source-root/build/release
dist=$built/dist exe=$built/Narvelox.exe
version=$(exiftool -s3 -ProductVersion "$exe") && zip=Narvelox-$version-win32.zip
mkdir "$work/unzipped"
unzip -q "$dist/$zip" -d "$work/unzipped"
cp "$dist/SHA256SUMS" "$dist/$zip" "$work/unzipped/"

failures=0
check() { # what, command...
  "${@:2}" || { echo "FAIL $1"; failures=$((failures + 1)); }
}
# Notepad shows it: there is text, every line ends in CRLF, and there is nothing but printable
# ASCII.
plain_text() { [ -s "$1" ] && ! grep -qv $'\r$' "$1" && ! LC_ALL=C grep -q $'[^\r -~]' "$1"; }
checksums_verify() (
  cd "$work/unzipped" && [ "$(awk '{ print $2 }' SHA256SUMS | xargs)" = "$zip Narvelox.exe" ] &&
    sha256sum --check --quiet SHA256SUMS
)
check "the zip named after the version record holds exactly its three files" \
  test "$(zipinfo -1 "$dist/$zip" | xargs)" = "Narvelox.exe README.txt LICENSE.txt"
check "the exe in the zip is the one built" cmp "$work/unzipped/Narvelox.exe" "$exe"
# The players' README and the licence, from their sources, with the version and CRLF line ends.
for text in README.txt:docs/README.txt.in LICENSE.txt:LICENSE; do
  check "${text%:*} in the zip is made from ${text#*:}" cmp "$work/unzipped/${text%:*}" \
    <(sed "s/@NARVELOX_VERSION_TEXT@/$version/g; s/\$/\r/" "$source_dir/${text#*:}")
  check "${text%:*} is plain text with CRLF line ends" plain_text "$work/unzipped/${text%:*}"
done
check "SHA256SUMS verifies the zip and the exe" checksums_verify
commit=$(source_commit "$source_dir")
check "BUILD-INFO.txt names the commit of the sources: $commit" \
  grep -qxF "commit: $commit" "$dist/BUILD-INFO.txt"
exit "$failures"
