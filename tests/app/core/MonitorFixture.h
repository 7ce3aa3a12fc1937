// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A monitor on a RecordingDisplay, with a helper that sends whole relay packets.

#include "support/RecordingDisplay.h"

#include "varmio/Monitor.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace varmio::test {

class MonitorFixture : public ::testing::Test {
protected:
    void SendFrame(int msgType, int dataId, int dataValue)
    {
        for (int b : {0x35, 0x35, 0x35, msgType, dataId, dataValue >> 8, dataValue & 0xFF}) {
            monitor.ProcessFrameByte(static_cast<std::uint8_t>(b));
        }
    }

    RecordingDisplay display;
    Monitor monitor{display, Regional{}};
};

} // namespace varmio::test
