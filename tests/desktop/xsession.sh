# What the desktop tests share, sourced by each after setting `name` (their name in messages):
# a mount namespace of their own, where an empty private folder stands over the program's
# temporary folder so that the user's real result folder is never touched; an X server of their
# own; waiting on a condition. Needs Xvfb and xdotool; exit 77 (skipped) without them.
#
#   name=... ; source xsession.sh "$@"   (re-runs the calling script in the namespace)

skip() { echo "$name: skipped: $*"; exit 77; }
fail() { echo "$name: FAILED: $*"; exit 1; }

private=/var/tmp/redim-$(id -u)
result=$private/RaduZor
if [ -z "${REDIM_PRIVATE_TMP:-}" ]; then
  command -v Xvfb >/dev/null || skip "Xvfb is not installed"
  command -v xdotool >/dev/null || skip "xdotool is not installed"
  unshare -m --propagation private true 2>/dev/null || skip "no private mount namespace here"
  # Only the program's own folder is covered, so the script and the build may live anywhere.
  mkdir -p -m 0700 "$private"
  exec unshare -m --propagation private env REDIM_PRIVATE_TMP=1 \
    bash -c 'mount -t tmpfs -o mode=0700 tmpfs "$1" && shift && exec bash "$@"' \
    _ "$private" "$0" "$@"
fi
unset QT_QPA_PLATFORM  # the real X11 platform of our Xvfb, whatever the caller's shell says

# Waits for a shell condition, however long a loaded machine takes: CTest's time-out bounds the
# whole test, and the last line printed names what it was waiting for. A program under test
# (`redim`, when set) that ended meanwhile fails the wait at once.
wait_for() {
  echo "$name: waiting for $1"
  until eval "$2"; do
    [ -z "${redim:-}" ] || kill -0 "$redim" 2>/dev/null || fail "redim ended while waiting for $1"
    sleep 0.1
  done
}

# Waits for the program's main window to be shown and its start-up to be over (the result
# folder's log written), so that clicks reach a window that takes them: sets `window`.
wait_for_main_window() {
  window=$(xdotool search --sync --onlyvisible --name " Redimensionnement d'images  Jpeg" | head -n 1)
  wait_for "the result folder and its log at start-up" "[ -f '$result/Log.txt' ]"
}

# Opens `path` through the program's open-file dialog: types it into the dialog's name field and
# presses Return, then waits for the dialog to go. A Return that meets the name's completion list
# only closes the list, so Return is pressed again while the dialog stays; keys sent before the
# field had the keyboard are lost, so after that the whole name is typed again over what the
# field holds. `before`, when given, runs once with the name typed, before the first Return.
open_in_dialog() {
  local path=$1 before=${2:-} dialog attempt tick
  dialog=$(xdotool search --sync --onlyvisible --name "^(Ouvrir|Open)$" | head -n 1)
  xdotool windowfocus --sync "$dialog"
  sleep 1  # the name field takes the keyboard a moment after the dialog has it
  xdotool type --delay 5 "$path"
  [ -z "$before" ] || eval "$before"
  for attempt in 1 2 3 4 5 6; do
    if [ "$attempt" -gt 2 ]; then
      xdotool windowfocus --sync "$dialog"
      xdotool key --clearmodifiers ctrl+a
      xdotool type --delay 5 "$path"
    fi
    xdotool key Return
    for tick in $(seq 50); do
      xdotool search --onlyvisible --name "^(Ouvrir|Open)$" >/dev/null || return 0
      sleep 0.1
    done
    echo "$name: the open-file dialog is still there, trying again"
  done
  fail "the open-file dialog did not take $path"
}

# Starts an X server of 1280 x 1024 on a display nobody uses (Xvfb picks it): sets DISPLAY and
# `xvfb`, its process.
start_x() {
  local number
  number=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
  xvfb=$!
  wait_for "Xvfb starts" "[ -s '$number' ]"
  export DISPLAY=:$(cat "$number")
  rm -f "$number"
}
