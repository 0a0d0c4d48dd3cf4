#!/usr/bin/env bash
# Builds the release under reprotest, which builds it once as it is and once more with what
# differs between two rebuilders' machines varied: the exe and dist/ must come out byte for byte
# the same, or diffoscope says where they differ. Not all variations combine, so reprotest runs
# twice, four builds in all. Then reads the release back, as a player and a rebuilder
# would. Runs as root, after tools/install-deps.sh.   check-reproducible.sh SOURCE_DIR
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  echo "The reproducibility check builds as another user and mounts a file system, which need" \
    "root: sudo tools/test.sh runs it." >&2
  exit 1
fi
id narvelox-rebuilder >/dev/null || { echo "run sudo tools/install-deps.sh first" >&2; exit 1; }
source_dir=$(realpath "$1") # a checkout that may be another user's than root's
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# reprotest runs `sudo -h localhost` to build as another user, and Debian 12's sudo refuses -h
# outside listing mode. A sudo that drops -h HOST before calling the real one changes nothing
# else and stays harmless once reprotest stops passing it; patching reprotest would not.
mkdir "$work/bin"
printf '#!/bin/sh\n[ "$1" != -h ] || shift 2\nexec /usr/bin/sudo "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/sudo"

# Every variation reprotest has, in two runs, as not all combine. The first run's second build
# is narvelox-rebuilder's, through sudo, which resets PATH (so no exec_path there) and must also
# set the host name (domain_host.use_sudo). disorderfs (fileordering) needs /dev/fuse, which only
# root may open on some machines, our CI's among them: the second run is root's, with it.
runs=("+all,-fileordering,user_group.available+=narvelox-rebuilder:narvelox-rebuilder,domain_host.use_sudo=1"
  "+all,-user_group")
# Root's run sets the host name in a user namespace, keeping exec_path, where it may: not in a
# chroot, for one, where it goes through sudo too.
unshare -r --uts true 2>/dev/null || runs[1]+=",domain_host.use_sudo=1"
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
  [ "$i" -ne 0 ] || echo "  the second build's user: $(id narvelox-rebuilder)"
  PATH=$work/bin:$PATH reprotest --verbosity 1 --store-dir "$store" --vary="${runs[$i]}" \
    -c "$build" "$work/sources" \
    "build/release/Narvelox.exe build/release/dist/*" >"$store.log" 2>&1 && status=0 || status=$?
  # What the second build varied, the verdict and the hashes; not the control build's setup.
  awk '/build "experiment-1"/ { on = 1 } on && /variation|: vary |Reproduction|^[0-9a-f]+  /' \
    "$store.log" | sed 's/^INFO:[a-z.]*:/  /'
  differences=$store/experiment-1.diffoscope.out # empty when they are the same
  [ ! -s "$differences" ] || { echo "FAIL the builds differ; diffoscope:" && cat "$differences"; }
  [ "$status" -eq 0 ] || { [ -s "$differences" ] || cat "$store.log"; exit 1; }
done

dist=$work/run0/control/source-root/build/release/dist
exe=$work/run0/control/source-root/build/release/Narvelox.exe
zip=Narvelox-$(exiftool -s3 -ProductVersion "$exe")-win32.zip
mkdir "$work/unzipped"
unzip -q "$dist/$zip" -d "$work/unzipped"
cp "$dist/SHA256SUMS" "$dist/$zip" "$work/unzipped/"

failures=0
check() { # what, command...
  "${@:2}" || { echo "FAIL $1"; failures=$((failures + 1)); }
}
# Notepad shows it: every line ends in CRLF, and there is nothing but printable ASCII.
plain_text() { ! grep -qv $'\r$' "$1" && ! LC_ALL=C grep -q $'[^\r -~]' "$1"; }
checksums_verify() (
  cd "$work/unzipped" && [ "$(awk '{ print $2 }' SHA256SUMS | xargs)" = "$zip Narvelox.exe" ] &&
    sha256sum --check --quiet SHA256SUMS
)
check "the zip named after the version record holds exactly its three files" \
  test "$(zipinfo -1 "$dist/$zip" | xargs)" = "Narvelox.exe README.txt LICENSE.txt"
check "the exe in the zip is the one built" cmp "$work/unzipped/Narvelox.exe" "$exe"
check "README.txt is plain text with CRLF line ends" plain_text "$work/unzipped/README.txt"
check "LICENSE.txt is plain text with CRLF line ends" plain_text "$work/unzipped/LICENSE.txt"
check "SHA256SUMS verifies the zip and the exe" checksums_verify
# Exactly what the sources are: the checkout's commit, with or without changes of its own, or none.
git=(env GIT_OPTIONAL_LOCKS=0 git -c safe.directory="$source_dir" -C "$source_dir")
commit="none: not built from a git checkout"
if [ "$("${git[@]}" rev-parse --show-toplevel 2>/dev/null)" = "$source_dir" ]; then
  commit=$("${git[@]}" rev-parse HEAD)
  [ -z "$("${git[@]}" status --porcelain)" ] || commit+=" with uncommitted changes"
fi
check "BUILD-INFO.txt names the commit of the sources: $commit" \
  grep -qxF "commit: $commit" "$dist/BUILD-INFO.txt"
exit "$failures"
