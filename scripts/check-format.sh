#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that every C++ file of the tree is formatted as .clang-format says; names each place that is not
# and fails. Reformat a file with `clang-format -i FILE`. Needs clang-format (scripts/install-deps.sh).
set -eu
cd "$(dirname "$0")/.."
find app bench cport cportctl examples sim tests tools -name '*.cpp' -o -name '*.h' | sort |
  xargs clang-format --dry-run -Werror
