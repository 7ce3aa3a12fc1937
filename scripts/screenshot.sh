#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the screenshots shown in the README: builds the program, starts it on a virtual X display
# (Xvfb), waits for the window and its first clock tick, and saves the window to docs/window.png (or
# to the file given as first argument). Then starts it again on a real capture with its message
# window open, selects the status row, and saves that window to docs/messages.png (or to the second
# argument). Last, logs a real capture with varmio-log at the bus's pace (about three minutes) and
# saves the trends window over that record log to docs/trends.png (or to the third argument).
# Installs what is missing.
set -eu
cd "$(dirname "$0")/.."
out=${1:-docs/window.png}
messages_out=${2:-docs/messages.png}
trends_out=${3:-docs/trends.png}
capture=data/captures/relay7/otgwfw_logfile.bin

scripts/install-deps.sh xvfb xauth xdotool imagemagick

cmake --preset dev >/dev/null
cmake --build --preset dev --target varmio varmio-log -j "$(nproc)"

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

# The trends window over a record log that varmio-log made of a real capture. The capture holds no
# timing: its frames are fed to the logger at the bus's pace (one every half second, as the relay
# simulator replays captures), and the logger stamps each record line with its clock as it comes.
trend_capture=data/captures/relay7/tadox-viessmann_full_run_up_and_down.bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
records="$work/records.csv"
frames=$(($(wc -c <"$trend_capture") / 7))
i=0
while [ "$i" -lt "$frames" ]; do
  dd if="$trend_capture" bs=7 skip="$i" count=1 status=none
  sleep 0.5
  i=$((i + 1))
done | LC_ALL=C build/dev/tools/varmio-log/varmio-log --replay - --records "$records" --quiet
xvfb-run -a -s "-screen 0 1366x768x24" sh -c '
  set -eu
  LC_ALL=C build/dev/app/varmio --chart "$2" &
  app=$!
  trap "kill $app 2>/dev/null || true" EXIT
  window=$(timeout 30 xdotool search --sync --onlyvisible --name " graf" | head -n 1)
  [ -n "$window" ] || { echo "the trends window did not appear" >&2; exit 1; }
  sleep 1   # the chart lays itself out on the event loop
  import -window "$window" "$1"
' screenshot "$trends_out" "$records"
echo "Saved $trends_out"
