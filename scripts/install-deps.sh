#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages that building, running and testing need, when any is missing, and
# the extra packages named as arguments (scripts that need more than the build pass them).
# (locales: the locale sources from which the regional-settings tests build the locales they need;
# python3: the test that redraws the LED glyphs and compares them with the committed bitmaps;
# ser2net: the TCP serial bridge the network port tests run in front of a pseudo-terminal;
# mosquitto, mosquitto-clients: the MQTT broker and its command-line clients the publishing tests use;
# openssl: makes the throw-away certificate authority and broker certificate of the MQTT-over-TLS test;
# libqt6opengl6-dev: the OpenGL module Qt Charts' CMake package asks for, not pulled in without recommends;
# clang-format, clang-tidy: the style checks, scripts/check-format.sh and scripts/tidy.sh;
# fonts-liberation2: the source of the window's font under resources/fonts, compiled into the program;
# doxygen: the API reference of cport and cportctl, whose test fails on any warning.)
set -eu
pkgs="cmake ninja-build g++ qt6-base-dev qt6-charts-dev libqt6opengl6-dev libsimpleini-dev libcli11-dev
      libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libmosquitto-dev locales python3 ser2net
      mosquitto mosquitto-clients openssl clang-format clang-tidy fonts-liberation2 doxygen $*"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
fi
