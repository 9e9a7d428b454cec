#!/usr/bin/env bash
# The Debian package as a user gets it: unpacks the newest build/redim_*.deb into a temporary
# folder with dpkg-deb -x and runs the desktop session (tests/desktop/session.sh) on its
# usr/bin/redim, which must find the package's own libimglib.so and ConvertImg. It builds
# nothing: `make check` and `make test` make the package first and set REDIM_REQUIRE_PACKAGE,
# so that a missing package, or one older than the programs it should hold, fails the test
# there; after a plain build, without the variable, the test skips with that reason. Exit 77
# (skipped) where the session cannot run either.
#
#   unpacked.sh <build folder> <screenshot folder>
set -euo pipefail

build=$(cd "$1" && pwd)
shots=$2
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "package: FAILED: $*"; exit 1; }
no_package() {
  [ -n "${REDIM_REQUIRE_PACKAGE:-}" ] && fail "$*"
  echo "package: skipped: $*"
  exit 77
}

deb=$(ls -t "$build"/redim_*.deb 2>/dev/null | head -n 1 || true)
[ -n "$deb" ] || no_package "no redim_*.deb in $build: run 'make package'"
for program in redim ConvertImg libimglib.so; do
  [ "$deb" -nt "$build/$program" ] || no_package "$deb is older than $build/$program: run 'make package'"
done

root=$(mktemp -d "${TMPDIR:-/tmp}/redim-package.XXXXXX")
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for file in usr/share/applications/redim.desktop usr/share/pixmaps/redim.xpm \
    usr/share/metainfo/org.example.redim_jpeg.metainfo.xml; do
  [ -f "$root/$file" ] || fail "the package has no $file"
done
[ "$(readlink "$root/usr/bin/redim")" = ../lib/redim/redim ] || fail "usr/bin/redim is not a link to ../lib/redim/redim"

bash "$here/../desktop/session.sh" "$build" "$shots" "$root/usr/bin/redim"
