#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs clang-tidy with the checks of .clang-tidy over every source file of the tree, as the dev build
# compiles it (its compile_commands.json); fails on any finding. Needs clang-tidy (scripts/install-deps.sh).
# Takes a few minutes on two cores.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
# The generated Qt sources must exist before they can be checked.
cmake --build --preset dev -j "$(nproc)"
run-clang-tidy -p build/dev -j "$(nproc)" -quiet "^$(pwd)/(app|bench|cport|cportctl|sim|tests|tools)/"
