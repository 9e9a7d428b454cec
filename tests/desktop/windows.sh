#!/usr/bin/env bash
# The three windows under a real window manager (openbox), as the desktop shows them:
#   windows.sh <build folder> screenreader   what a screen reader reads (screenreader.py, AT-SPI)
#   windows.sh <build folder> centring       each window lands in the middle of the screen, its
#                                            frame included
# Runs in a mount namespace of its own (xsession.sh); exit 77 (skipped) without openbox, or for
# the screen reader without D-Bus or python3-pyatspi.
set -euo pipefail
name="windows $2"
source "$(dirname "$0")/xsession.sh" "$@"

build=$(cd "$1" && pwd)
check=$2
command -v openbox >/dev/null || skip "openbox is not installed"
if [ "$check" = screenreader ]; then
  command -v dbus-run-session >/dev/null || skip "D-Bus is not installed"
  /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || skip "python3-pyatspi is not installed"
  # A session bus of its own, where the accessibility bus starts on demand.
  [ -n "${REDIM_OWN_BUS:-}" ] || exec env REDIM_OWN_BUS=1 dbus-run-session -- bash "$0" "$@"
fi

trap 'kill ${redim:-} 2>/dev/null || true; wait ${redim:-} 2>/dev/null || true; kill ${wm:-} ${xvfb:-} 2>/dev/null || true' EXIT
start_x
openbox >/dev/null 2>&1 &
wm=$!
wait_for "openbox starts" "xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$build/redim" &
redim=$!
main=$(xdotool search --sync --name " Redimensionnement d'images  Jpeg" | head -n 1)

if [ "$check" = screenreader ]; then
  /usr/bin/python3 "$(dirname "$0")/screenreader.py" || fail "see above"
  echo "$name: passed"
  exit 0
fi

# The window manager's frame around a window: its ancestor just below the root window.
frame_of() {
  local window=$1 tree
  for _ in 1 2 3 4 5; do
    tree=$(xwininfo -tree -id "$window")
    [ "$(sed -n 's/^  Parent window id: \(0x[0-9a-f]*\).*/\1/p' <<<"$tree")" != \
      "$(sed -n 's/^  Root window id: \(0x[0-9a-f]*\).*/\1/p' <<<"$tree")" ] || break
    window=$(sed -n 's/^  Parent window id: \(0x[0-9a-f]*\).*/\1/p' <<<"$tree")
  done
  echo "$window"
}
# How far a window's frame is from the middle of the screen, in pixels: "dx dy".
off_centre() {
  xwininfo -id "$(frame_of "$1")" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
    /Width:/ {w = $2} /Height:/ {h = $2} END {print int(x - (1280 - w) / 2), int(y - (1024 - h) / 2)}'
}
# Waits up to 10 s for a window to stand in the middle of the screen, to the pixel.
wait_centred() {
  local offset
  for _ in $(seq 100); do
    offset=$(off_centre "$2")
    [ "$offset" = "0 0" ] && return 0
    sleep 0.1
  done
  fail "the $1 window's frame stands $offset pixels from the middle of the screen"
}

wait_centred main "$main"
xdotool mousemove --window "$main" 420 184 click 1  # "A propos"
wait_centred About "$(xdotool search --sync --name "^ A propos$" | head -n 1)"
xdotool mousemove --window "$main" 420 224 click 1  # "Aide"
wait_centred Help "$(xdotool search --sync --name "^ Aide$" | head -n 1)"
echo "$name: passed"
