#!/usr/bin/env bash
# Runs one group of scenarios in the tests' Wine session, in a fresh work folder.
#   run-group.sh SESSION_DIR WORK_DIR GROUP SCENARIOS_EXE LAUNCHER_EXE STANDIN_EXE
set -euo pipefail
session=$1 work=$2 group=$3
rm -rf "$work"
mkdir -p "$work"
# Wine's drive Z: is the root of the host's file system.
windows_path() { local path; path=$(realpath "$1"); echo "Z:${path//\//\\}"; }
exec "$(dirname "$0")/../../tools/standin/wine-session.sh" run "$session" \
  wine "$4" "$(windows_path "$5")" "$(windows_path "$6")" "$(windows_path "$work")" "$group"
