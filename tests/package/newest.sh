# Sourced by the package's tests: sets `deb` to the newest <build folder>/redim_*.deb. They build
# nothing: `make check` and `make test` make the package first and set REDIM_REQUIRE_PACKAGE, so
# that a missing package, or one older than the programs it should hold, fails the test there;
# after a plain build, without the variable, the test skips (exit 77) with that reason.
#
#   newest_package <build folder>
newest_package() {
  local build=$1 program
  deb=$(ls -t "$build"/redim_*.deb 2>/dev/null | head -n 1 || true)
  [ -n "$deb" ] || no_package "no redim_*.deb in $build: run 'make package'"
  for program in redim ConvertImg libimglib.so; do
    [ "$deb" -nt "$build/$program" ] || no_package "$deb is older than $build/$program: run 'make package'"
  done
}

no_package() {
  if [ -n "${REDIM_REQUIRE_PACKAGE:-}" ]; then
    echo "package: FAILED: $*"
    exit 1
  fi
  echo "package: skipped: $*"
  exit 77
}
