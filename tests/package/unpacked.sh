#!/usr/bin/env bash
# The Debian package as a user gets it: unpacks the newest build/redim_*.deb into a temporary
# folder with dpkg-deb -x and runs the desktop session (tests/desktop/session.sh) on its
# usr/bin/redim, which must find the package's own libimglib.so and ConvertImg. Skipped or failed
# as newest.sh says when the package is missing or out of date; exit 77 (skipped) where the
# session cannot run either.
#
#   unpacked.sh <build folder> <screenshot folder>
set -euo pipefail

build=$(cd "$1" && pwd)
shots=$2
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "package: FAILED: $*"; exit 1; }
. "$here/newest.sh"
newest_package "$build"

root=$(mktemp -d "${TMPDIR:-/tmp}/redim-package.XXXXXX")
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for file in usr/share/applications/redim.desktop usr/share/pixmaps/redim.xpm \
    usr/share/metainfo/org.example.redim_jpeg.metainfo.xml; do
  [ -f "$root/$file" ] || fail "the package has no $file"
done
[ "$(readlink "$root/usr/bin/redim")" = ../lib/redim/redim ] || fail "usr/bin/redim is not a link to ../lib/redim/redim"

bash "$here/../desktop/session.sh" "$build" "$shots" "$root/usr/bin/redim"
