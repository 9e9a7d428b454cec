#!/usr/bin/env bash
# A real desktop session: starts build/redim (or the program given as third argument, e.g. the
# one of an unpacked package) under Xvfb and, as a person would, clicks "Lire Jpeg", types a
# photo's path into the open-file dialog, clicks "Ecrire Jpeg", waits, clicks "Effacer Bmp" and
# "Quitter"; then checks the result folder, the log and that the program ended. Screenshots of
# each step go to the folder given as second argument.
#
#   session.sh <build folder> <screenshot folder> [program]
#
# It runs in a mount namespace of its own where an empty private folder stands over the
# program's temporary folder (xsession.sh), so the user's real result folder is never touched.
# Exit 77 (skipped) when Xvfb, xdotool or such a namespace is not available.
set -euo pipefail
name=session
source "$(dirname "$0")/xsession.sh" "$@"

build=$(cd "$1" && pwd)
shots=$(mkdir -p "$2" && cd "$2" && pwd)
program=${3:-$build/redim}
count() { find "$result" -maxdepth 1 -type f -iname "$1" | wc -l; }
shot() { "$build/tests/desktop_grab" "$shots/session-$1.png" || echo "session: no screenshot $1"; }

work=$(mktemp -d /tmp/redim-session.XXXXXX)
trap 'kill ${xvfb:-} 2>/dev/null || true; kill ${redim:-} 2>/dev/null || true; rm -rf "$work"' EXIT
start_x

photos="$work/Mes photos"
mkdir -p "$photos"
"$build/tests/desktop_make_photos" "$photos" "plage.jpg" "DSC0001.JPG" "été 2026.jpg"
result=$private/RaduZor

"$program" &
redim=$!
wait_for_main_window
shot 1-start

# The buttons' centres, in the window's own pixels.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
click 420 24   # "Lire Jpeg"
open_in_dialog "$photos/plage.jpg" "shot 2-dialog"
wait_for "three bitmaps" "[ \$(count '*.bmp') -eq 3 ]"
# The image library at work is the one beside the program (links resolved), found through its
# run path.
library=$(dirname "$(readlink -f "$program")")/libimglib.so
grep -q " $library\$" "/proc/$redim/maps" || fail "$library is not the library loaded"
shot 3-phase1

# A second start while the session runs brings its window forward and ends, leaving the result
# folder and the log as they were.
before=$(ls -l --time-style=full-iso "$result")
"$program" &
second=$!
wait_for "the second start ends" "! kill -0 $second 2>/dev/null"
wait "$second" || fail "the second start exited with status $?"
[ "$(ls -l --time-style=full-iso "$result")" = "$before" ] || fail "the second start changed the result folder"
kill -0 "$redim" 2>/dev/null || fail "the first program ended"

click 420 64   # "Ecrire Jpeg"
wait_for "three JPEGs" "[ \$(count '*.jpg') -eq 3 ]"
wait_for "the converter ends" "! pgrep -P $redim -x ConvertImg >/dev/null"  # ours only
shot 4-phase2

click 420 104  # "Effacer Bmp"
wait_for "the bitmaps erased" "[ \$(count '*.bmp') -eq 0 ]"
shot 5-erased

click 420 144  # "Quitter"
wait_for "the program ends" "! kill -0 $redim 2>/dev/null"
wait "$redim" || fail "redim exited with status $?"

[ ! -e "$result/Log.txt" ] || fail "Log.txt stayed although nothing failed"
[ "$(count '*.jpg')" -eq 3 ] || fail "expected three JPEGs"
for jpeg in "$result"/*.jpg; do
  head -c 2 "$jpeg" | od -An -tx1 | grep -q 'ff d8' || fail "$jpeg is not a JPEG"
  # The photo's story went through both phases: its date taken came along, its place did not.
  grep -aq '2024:06:01 10:20:29' "$jpeg" || fail "$jpeg lost the date its photo was taken"
  ! grep -aqP '\x30\x00\x00\x00\x01\x00\x00\x00\x03\x14\x00\x00\x64\x00\x00\x00' "$jpeg" ||
    fail "$jpeg still holds its photo's latitude"
done
echo "session: passed"
