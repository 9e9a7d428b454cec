#!/usr/bin/env bash
# A Wayland-only session: starts a headless weston, with no X display anywhere, and runs
# desktop_wayland there (the real main window on Qt's Wayland platform through both phases, and a
# second start of the real program with an activation token; see wayland_session.cpp).
#
#   wayland.sh <build folder> [program]
#
# Like session.sh it runs in a mount namespace of its own where an empty private folder stands
# over the program's temporary folder, so the user's real result folder is never touched. Exit 77
# (skipped) when weston or such a namespace is not available.
set -euo pipefail

build=$(cd "$1" && pwd)
program=${2:-$build/redim}
skip() { echo "wayland: skipped: $*"; exit 77; }
fail() { echo "wayland: FAILED: $*"; exit 1; }

private=/var/tmp/redim-$(id -u)
if [ -z "${REDIM_SESSION_PRIVATE_TMP:-}" ]; then
  command -v weston >/dev/null || skip "weston is not installed"
  unshare -m --propagation private true 2>/dev/null || skip "no private mount namespace here"
  mkdir -p -m 0700 "$private"
  exec unshare -m --propagation private env REDIM_SESSION_PRIVATE_TMP=1 \
    bash -c 'mount -t tmpfs -o mode=0700 tmpfs "$1" && exec bash "$0" "$2" "$3"' \
    "$0" "$private" "$build" "$program"
fi

XDG_RUNTIME_DIR=$(mktemp -d /tmp/redim-wayland.XXXXXX)
export XDG_RUNTIME_DIR
trap 'kill ${weston:-} 2>/dev/null || true; rm -rf "$XDG_RUNTIME_DIR"' EXIT
weston --backend=headless-backend.so --socket=wayland-redim --no-config --idle-time=0 \
  --log="$XDG_RUNTIME_DIR/weston.log" &
weston=$!
echo "wayland: waiting for weston"  # as long as it takes: CTest's time-out bounds the test
until [ -S "$XDG_RUNTIME_DIR/wayland-redim" ]; do
  kill -0 $weston 2>/dev/null || { cat "$XDG_RUNTIME_DIR/weston.log"; fail "weston ended"; }
  sleep 0.1
done

env -u DISPLAY -u QT_QPA_PLATFORM WAYLAND_DISPLAY=wayland-redim XDG_SESSION_TYPE=wayland \
  "$build/tests/desktop_wayland" "$program"
