// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The chart of a run as a PNG picture (varmio-log --chart): the trends chart drawn into an image on
// Qt's offscreen platform, so no display is needed. Built only with the window's libraries; the
// header itself is Qt-free.

#include "varmio/Regional.h"
#include "varmio/TrendStore.h"

#include <string>

namespace varmio::logger {

// Draws everything `store` holds into the PNG file `path` (replaced if it exists). Call it once, on
// the main thread, with no Qt application running. Throws std::runtime_error with a one-line message
// when the file cannot be written.
void WriteChartPng(const TrendStore& store, const Regional& regional, const std::string& path);

} // namespace varmio::logger
