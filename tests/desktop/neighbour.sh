#!/usr/bin/env bash
# A neighbour who takes the program's private folder first: another local user makes
# /var/tmp/redim-<uid> of the user before the user starts the program, open to all with the lock
# in it held, or as a link to the user's home. The program still starts, in a private folder of
# the user's own (~/.cache/redim), puts nothing into the neighbour's folder or the home, and a
# second start finds the first there and ends.
#
#   neighbour.sh <build folder>
#
# It runs as root, in a mount namespace of its own where an empty /var/tmp stands over the real
# one; the user and the neighbour are two user ids that no account has. Exit 77 (skipped) when it
# cannot.
set -euo pipefail

build=$(cd "$1" && pwd)
skip() { echo "neighbour: skipped: $*"; exit 77; }

if [ -z "${REDIM_NEIGHBOUR_NAMESPACE:-}" ]; then
  [ "$(id -u)" -eq 0 ] || skip "only root can act as two other users"
  command -v setpriv >/dev/null || skip "setpriv is not installed"
  unshare -m --propagation private true 2>/dev/null || skip "no private mount namespace here"
  exec unshare -m --propagation private env REDIM_NEIGHBOUR_NAMESPACE=1 \
    bash -c 'mount -t tmpfs -o mode=1777 tmpfs /var/tmp && exec bash "$0" "$1"' "$0" "$build"
fi

fail() { echo "neighbour: FAILED: $*"; exit 1; }
# Waits for a shell condition; CTest's time-out bounds the whole test.
wait_for() {
  echo "neighbour: waiting for $1"
  until eval "$2"; do sleep 0.1; done
}
unused_uid() {
  local uid=$1
  while getent passwd "$uid" >/dev/null; do uid=$((uid + 1)); done
  echo "$uid"
}

user=$(unused_uid 61000)
neighbour=$(unused_uid $((user + 1)))
taken=/var/tmp/redim-$user
home=/var/tmp/home
cache=$home/.cache/redim
programs=/var/tmp/programs
install -d -m 0755 "$programs"
cp "$build/redim" "$build/libimglib.so" "$build/ConvertImg" "$programs/"
trap 'kill ${holder:-} ${first:-} 2>/dev/null || true' EXIT

# The program as the user, in the process that calls this (so that its id is the program's), with
# the sanitizers' options of a sanitizer tree.
exec_redim() {
  exec setpriv --reuid="$user" --regid="$user" --clear-groups env -i PATH=/usr/bin:/bin HOME="$home" \
    XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
    LSAN_OPTIONS="${LSAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "$programs/redim"
}

for case in locked link; do
  echo "neighbour: the folder taken as: $case"
  kill ${holder:-} 2>/dev/null || true
  rm -rf "$taken" "$home"
  install -d -m 0700 -o "$user" -g "$user" "$home" "$home/run"
  case $case in
    locked)
      # The lock is held on the descriptor that sleep inherits: ending it releases the lock.
      setpriv --reuid="$neighbour" --regid="$neighbour" --clear-groups \
        bash -c 'umask 0; mkdir -m 0777 "$1"; exec 9>"$1/.redim.lock"; flock 9; exec sleep infinity' _ "$taken" &
      holder=$!
      wait_for "the neighbour's lock" "[ -e '$taken/.redim.lock' ] && ! flock -n '$taken/.redim.lock' true"
      ;;
    link) setpriv --reuid="$neighbour" --regid="$neighbour" --clear-groups ln -s "$home" "$taken" ;;
  esac
  # What the taken folder holds (through the link: the home, where the program keeps its cache).
  listing() { ls -A "$taken/" | grep -vx .cache; }
  before=$(listing)

  exec_redim &
  first=$!
  wait_for "the program to start" \
    "[ -S '$cache/.redim.socket' ] || [ -e '$home/.redim.socket' ] || ! kill -0 $first 2>/dev/null"
  kill -0 "$first" 2>/dev/null || fail "$case: the program ended instead of starting"
  [ "$(listing)" = "$before" ] || fail "$case: the program wrote into the taken folder: $(listing)"
  [ -S "$cache/.redim.socket" ] || fail "$case: the program does not work in $cache"
  [ "$(stat -c '%u %a' "$cache")" = "$user 700" ] || fail "$case: $cache is not private"

  (exec_redim) || fail "$case: the second start exited with status $?"
  kill -0 "$first" 2>/dev/null || fail "$case: the first program ended"
  kill "$first"
  wait "$first" || true
done
echo "neighbour: passed"
