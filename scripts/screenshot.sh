#!/bin/sh
# Takes the screenshots shown in the README: builds the program, starts it on a virtual X display
# (Xvfb), waits for the window and its first clock tick, and saves the window to docs/window.png (or
# to the file given as first argument). Then starts it again on a real capture with its message
# window open, selects the status row, and saves that window to docs/messages.png (or to the second
# argument). Installs what is missing.
set -eu
cd "$(dirname "$0")/.."
out=${1:-docs/window.png}
messages_out=${2:-docs/messages.png}
capture=data/captures/relay7/otgwfw_logfile.bin

scripts/install-deps.sh xvfb xauth xdotool imagemagick

cmake --preset dev >/dev/null
cmake --build --preset dev --target varmio -j "$(nproc)"

# Inside the virtual display: start the program, find its window, let the clock tick once, grab it.
xvfb-run -a -s "-screen 0 1366x768x24" sh -c '
  set -eu
  build/dev/app/varmio &
  app=$!
  trap "kill $app 2>/dev/null || true" EXIT
  window=$(timeout 30 xdotool search --sync --onlyvisible --name "^Varmio ver" | head -n 1)
  sleep 1.5   # the date-time box fills on the first tick, one second after start
  import -window "$window" "$1"
' screenshot "$out"
echo "Saved $out"

# The message window over a real capture: the overview sorted by ID, its first row (the status flags)
# selected so that the bits show below it.
xvfb-run -a -s "-screen 0 1366x768x24" sh -c '
  set -eu
  build/dev/app/varmio --replay "$2" --messages &
  app=$!
  trap "kill $app 2>/dev/null || true" EXIT
  window=$(timeout 30 xdotool search --sync --onlyvisible --name "^Varmio – zprávy" | head -n 1)
  xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
  xdotool key --window "$window" ctrl+Home
  sleep 0.5   # the details pane and the next refresh follow the selection
  import -window "$window" "$1"
' screenshot "$messages_out" "$capture"
echo "Saved $messages_out"
