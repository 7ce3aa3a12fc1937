#!/bin/sh
# Puts the licence's SPDX identifier at the head of every source file of ours that lacks it:
# "// SPDX-License-Identifier: GPL-3.0-or-later" in C++ files, the "#" form in CMake, shell and Python
# files (after a "#!" line where there is one). Files already carrying an identifier are left as they
# are, so running it again changes nothing. Only files under version control are looked at (nothing
# generated in a build folder); the data, the bundled fonts and the fuzzers' input samples are not ours
# to label and are skipped. Run from anywhere:
#     sh scripts/add-spdx.sh
set -eu
cd "$(dirname "$0")/.."
tag="SPDX-License-Identifier: GPL-3.0-or-later"

git ls-files -z | xargs -0 -n1 printf '%s\n' | while IFS= read -r file; do
  case "$file" in
    data/* | resources/fonts/* | tests/*/corpus/* | tests/*/*-corpus/* | .*) continue ;;
    *.cpp | *.h | *.hpp | *.cc) comment="//" ;;
    CMakeLists.txt | */CMakeLists.txt | *.cmake | *.sh | *.py) comment="#" ;;
    *) continue ;;
  esac
  [ -f "$file" ] || continue
  head -n 5 "$file" | grep -q "SPDX-License-Identifier:" && continue
  tmp="$file.spdx.$$"
  if head -n 1 "$file" | grep -q '^#!'; then
    { head -n 1 "$file"; printf '%s %s\n' "$comment" "$tag"; tail -n +2 "$file"; } >"$tmp"
  else
    { printf '%s %s\n' "$comment" "$tag"; cat "$file"; } >"$tmp"
  fi
  # Keep the file's mode (scripts stay executable).
  chmod --reference="$file" "$tmp"
  mv "$tmp" "$file"
  echo "$file"
done
