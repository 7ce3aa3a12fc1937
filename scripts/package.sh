#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package build/package/varmio_<version>_<arch>.deb: installs what building needs
# and the packaging tools (help2man for the manual pages, dpkg-dev for the dependencies CPack reads
# from the programs), makes an optimised build without the tests, and runs CPack. With "--check" it
# then runs lintian, desktop-file-validate and appstreamcli validate on the result. Run as root from
# the project folder on Debian 12:
#     sh scripts/package.sh [--check]
set -eu
cd "$(dirname "$0")/.."
check=""
[ "${1:-}" = "--check" ] && check="lintian desktop-file-utils appstream"
# shellcheck disable=SC2086
sh scripts/install-deps.sh help2man dpkg-dev file $check
cmake --preset package
cmake --build --preset package -j"$(nproc)"
(cd build/package && cpack -G DEB)
deb=$(ls build/package/varmio_*.deb)
echo "Package: $deb"
if [ -n "$check" ]; then
  lintian --fail-on error "$deb"
  desktop-file-validate packaging/io.github.varmio.Varmio.desktop
  appstreamcli validate --no-net packaging/io.github.varmio.Varmio.metainfo.xml
fi
