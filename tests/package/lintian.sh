#!/usr/bin/env bash
# The Debian package as Debian's own checker judges it: lintian on the newest build/redim_*.deb,
# failing on any error or warning, or on a program built without Debian's hardening flags; the
# pedantic, informational and experimental tags are shown beside them. Skipped or failed as
# newest.sh says when the package is missing or out of date; exit 77 (skipped) where lintian is
# not installed.
#
#   lintian.sh <build folder>
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/newest.sh"
newest_package "$build"
command -v lintian >/dev/null || { echo "package: skipped: lintian is not installed"; exit 77; }

status=0
report=$(lintian --fail-on error,warning --pedantic --display-info --display-experimental "$deb") || status=$?
[ -z "$report" ] || echo "$report"
# A program built without Debian's hardening flags is only an informational tag, but these read
# photos from anywhere: it fails the test too.
if grep -q ' hardening-' <<<"$report"; then
  echo "package: FAILED: programs built without Debian's hardening flags"
  exit 1
fi
exit "$status"
