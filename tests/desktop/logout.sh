#!/usr/bin/env bash
# The end of a session during a folder run: the X server goes away (the display is gone), or the
# session sends SIGTERM or SIGHUP (a logout). Each time the program ends without a crash and every
# bitmap it left is whole; a signal ends the session as the close box does: the run stops after
# the photo being written, and a session without failures leaves no log and nothing half-written.
#
#   logout.sh <build folder> [program]
#
# Runs in a mount namespace of its own (xsession.sh); exit 77 (skipped) where it cannot.
set -euo pipefail
name=logout
source "$(dirname "$0")/xsession.sh" "$@"

build=$(cd "$1" && pwd)
program=${2:-$build/redim}
bitmaps() { find "$result" -maxdepth 1 -type f -name '*.bmp' | wc -l; }

work=$(mktemp -d /tmp/redim-logout.XXXXXX)
xvfb=""
redim=""
trap 'kill $xvfb $redim 2>/dev/null || true; rm -rf "$work"' EXIT
photos="$work/photos"
mkdir -p "$photos"
"$build/tests/desktop_make_photos" "$photos" $(seq -f 'p%03g.jpg' 40)

# Starts a folder run of the 40 photos at 200 % on a fresh X server; returns once two are written.
start_run() {
  rm -rf "$result"
  start_x
  "$program" &
  redim=$!
  wait_for_main_window
  # At 200 %, so that the library works long on each photo: a click on the slider's groove, then
  # its last value.
  xdotool mousemove --window "$window" 30 229 click 1 key End
  xdotool mousemove --window "$window" 420 24 click 1  # "Lire Jpeg"
  open_in_dialog "$photos/p001.jpg"
  wait_for "two bitmaps" "[ \$(bitmaps) -ge 2 ]"
}

# Waits for the program's end: a crash is a signal (128 + its number) other than `sent`. Sets
# `status`, and checks that every bitmap left is whole.
ended() {
  local what=$1 sent=${2:-0}
  status=0
  wait "$redim" || status=$?
  redim=""
  [ "$status" -le 128 ] || [ "$status" -eq $((128 + sent)) ] ||
    fail "$what: the program died of signal $((status - 128))"
  # shellcheck disable=SC2046
  "$build/tests/desktop_check_bitmaps" $(find "$result" -maxdepth 1 -name '*.bmp') ||
    fail "$what: a bitmap is not whole"
}

# The display goes away: Qt ends the program at once, in the middle of the run. Four times: whether
# a thread of the run is inside the image library at that moment is a matter of timing.
# Ended by exit() in the middle of its event loop, the program does not release what Qt and
# fontconfig hold until the application object goes: no leak check then, in a sanitizer tree.
for attempt in 1 2 3 4; do
  ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 start_run
  kill "$xvfb"
  ended "display gone ($attempt)"
  wait "$xvfb" 2>/dev/null || true
done

for signal in TERM HUP; do
  start_run
  kill -s "$signal" "$redim"
  ended "SIG$signal" "$(kill -l "$signal")"
  [ "$status" -eq 0 ] || fail "SIG$signal: exit status $status"
  [ "$(bitmaps)" -lt 40 ] || fail "SIG$signal: the run went on to the last photo"
  [ ! -e "$result/Log.txt" ] || fail "SIG$signal: Log.txt stayed although nothing failed"
  # Nothing but the bitmaps and the one-program lock.
  leftovers=$(find "$private" ! -type d ! -name '*.bmp' ! -name .redim.lock)
  [ -z "$leftovers" ] || fail "SIG$signal: left behind: $leftovers"
  kill "$xvfb"
  wait "$xvfb" 2>/dev/null || true
done
echo "logout: passed"
