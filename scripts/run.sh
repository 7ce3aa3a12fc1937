#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the monitor and starts it on its built-in demo relay (or on the port given as first argument):
# the window where a display exists, else the headless logger printing record lines until Ctrl-C.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target varmio varmio-log
bin=build/release
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  if [ $# -gt 0 ]; then exec "$bin/app/varmio" --port "$1"; else exec "$bin/app/varmio" --demo; fi
else
  if [ $# -gt 0 ]; then exec "$bin/tools/varmio-log/varmio-log" --port "$1"; else exec "$bin/tools/varmio-log/varmio-log" --demo; fi
fi
