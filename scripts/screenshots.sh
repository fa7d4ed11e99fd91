#!/usr/bin/env bash
# Takes the README's screenshots: the main window with a branch opened, the
# configuration window of one object, the delete confirmation dialog and the
# event log, as
# PNG files in OUTDIR (default docs/screenshots). Runs qx_mis on the sample
# network and qx_tarn from the build tree BUILD (default build) on a private
# Xvfb display without a window manager, and drives them with xdotool.
#
#   bash scripts/screenshots.sh [BUILD [OUTDIR]]
#
# Rows and menus are found by position in the main window: ROW_Y is the height
# of the second row of the tree (the first child of the root), OPEN_X the x of
# its folder button, LABEL_X a point on its label, ROW_STEP the distance from
# one row to the next, EDIT_X the x of the Edit menu; each can be set in the
# environment for another look.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-docs/screenshots}")
mkdir -p "$out"

if [ -z "${QX_SHOT_INNER:-}" ]; then
  exec env QX_SHOT_INNER=1 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    bash "$0" "$build" "$out"
fi

row_y=${ROW_Y:-114}
open_x=${OPEN_X:-43}
label_x=${LABEL_X:-144}
row_step=${ROW_STEP:-25}
edit_x=${EDIT_X:-122}
data=$(mktemp -d /tmp/tarnwick-shots.XXXXXX)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$build/bin/qx_mis" --db "$data/mis.db" --listen "127.0.0.1:$port" 2>"$data/mis.log" &
server=$!
editor=
cleanup() {
  [ -n "$editor" ] && kill "$editor" 2>/dev/null
  kill "$server" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$data"
}
trap cleanup EXIT
for _ in $(seq 50); do nc -z 127.0.0.1 "$port" 2>/dev/null && break; sleep 0.1; done

leeds='/systemId="leeds-core-1"'
QX_HOME="$build" NLSPATH="$build/share/locale/en/LC_MESSAGES/%N" \
  "$build/bin/qx_tarn" -host "127.0.0.1:$port" -root "$leeds" -scope 1 >"$data/tarn.log" 2>&1 &
editor=$!

window() { # the first window whose title is $1, waiting up to 15 s
  for _ in $(seq 75); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) && [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.2
  done
  echo "screenshots: no window \"$1\"" >&2
  return 1
}
shot() { import -window "$1" "$out/$2"; echo "screenshots: $out/$2"; }

main=$(window "^Corvane QX 1.2: Tarnwick \\[127.0.0.1:$port\\]")
sleep 2
# Open the first rack's branch with its folder button, then its first shelf's.
xdotool mousemove --window "$main" "$open_x" "$row_y" click 1
sleep 1.5
xdotool mousemove --window "$main" "$label_x" "$row_y" click 1
sleep 1
# The keyboard focus two rows down (the frame), and the pointer resting on
# the row below it until its tool tip shows; the tip is a window of its own,
# so the picture is cut from the screen around the main window.
xdotool key Down Down
sleep 0.5
xdotool mousemove --window "$main" "$label_x" $((row_y + 3 * row_step))
sleep 2
eval "$(xdotool getwindowgeometry --shell "$main")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/main.png"
echo "screenshots: $out/main.png"

# The delete confirmation of the selected rack: Edit > Delete.
xdotool mousemove --window "$main" "$edit_x" 16 click 1
sleep 0.5
xdotool key d
dialog=$(window "Question")
sleep 1
shot "$dialog" dialog.png
xdotool windowfocus --sync "$dialog" key Escape
sleep 0.5

# A double click on the rack shows it in the configuration window.
xdotool mousemove --window "$main" "$label_x" "$row_y" click --repeat 2 --delay 80 1
form=$(window "^Tarnwick: Object Configuration$")
sleep 2
shot "$form" config.png

# The event log (Ctrl+L in the main window): what the status line said.
xdotool windowfocus --sync "$main" key ctrl+l
log=$(window "^Tarnwick: Event Log$")
sleep 1
shot "$log" eventlog.png
