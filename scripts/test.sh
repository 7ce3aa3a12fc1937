#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the formatting, then builds and runs the whole suite: once plainly, once under AddressSanitizer + UndefinedBehaviorSanitizer,
# and the threaded tests under ThreadSanitizer.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Unformatted code fails the run before anything is built.
sh scripts/check-format.sh
jobs=$(nproc)
for preset in dev asan tsan; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
echo "All tests passed."
