#!/bin/sh
# Takes the screenshot of the main window shown in the README: builds the program, starts it on a
# virtual X display (Xvfb), waits for the window and its first clock tick, and saves the window to
# docs/window.png (or to the file given as first argument). Installs what is missing.
set -eu
cd "$(dirname "$0")/.."
out=${1:-docs/window.png}

scripts/install-deps.sh xdotool imagemagick

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
