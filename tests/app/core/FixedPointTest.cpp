// SPDX-License-Identifier: GPL-3.0-or-later
// Fixed-point conversion and the number format of the stored values.

#include "varmio/Monitor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace varmio {
namespace {

// The value an f8.8 data value stands for, exactly (every such value is a double).
double ExactValue(std::int32_t dataValue, bool isSigned)
{
    const std::int32_t raw = isSigned && dataValue >= 0x8000 ? dataValue - 0x10000 : dataValue;
    return raw / 256.0;
}

TEST(FixedToTenthsTest, EveryDataValueRoundsToTheNearestTenthWithHalvesTowardZero)
{
    for (bool isSigned : {false, true}) {
        for (std::int32_t v = 0; v <= 0xFFFF; ++v) {
            const std::int32_t k = FixedToTenthsInt(v, isSigned);
            const double tenTimes = 10.0 * ExactValue(v, isSigned); // exact: v * 10 / 256 needs few bits
            const double distance = std::fabs(tenTimes - k);
            const bool nearest = distance < 0.5;
            const bool halfTowardZero = distance == 0.5 && std::fabs(static_cast<double>(k)) < std::fabs(tenTimes);
            ASSERT_TRUE(nearest || halfTowardZero) << "value " << v << " signed " << isSigned << " gave " << k;
        }
    }
}

TEST(FixedToTenthsTest, DecodedValueIsTheDoubleNearestToTheTenths)
{
    for (bool isSigned : {false, true}) {
        for (std::int32_t v = 0; v <= 0xFFFF; ++v) {
            const std::int32_t k = FixedToTenthsInt(v, isSigned);
            // strtod rounds the decimal text correctly: an independent way to the nearest double.
            const std::string text = std::to_string(k / 10) + "." + std::to_string(std::abs(k % 10));
            const double nearest = std::strtod((k < 0 && k > -10 ? "-" + text : text).c_str(), nullptr);
            ASSERT_EQ(FixedToTenths(v, isSigned), nearest) << "value " << v;
        }
    }
}

TEST(FixedToTenthsTest, KnownValues)
{
    EXPECT_EQ(FixedToTenthsInt(0x2D80, false), 455);
    EXPECT_EQ(FixedToTenthsInt(0x1580, false), 215);
    EXPECT_EQ(FixedToTenthsInt(0x1440, false), 202) << "20.25 gives 20.2";
    EXPECT_EQ(FixedToTenthsInt(0x14C0, false), 207) << "20.75 gives 20.7";
    EXPECT_EQ(FixedToTenthsInt(0xFFC0, true), -2) << "-0.25 gives -0.2";
    EXPECT_EQ(FixedToTenthsInt(0xFAC0, true), -52);
    EXPECT_EQ(FixedToTenthsInt(0xFFFF, false), 2560);
    EXPECT_EQ(FixedToTenthsInt(0xFFFF, true), 0);
    EXPECT_EQ(FixedToTenthsInt(0x8000, true), -1280);
    EXPECT_EQ(FixedToTenthsInt(0x8000, false), 1280);
    EXPECT_EQ(FixedToTenths(0xFFF3, true), -0.1);
}

TEST(NumberFormatTest, WholeValuesHaveNoFractionAndSmallOnesALeadingZero)
{
    const Regional regional;
    EXPECT_EQ(regional.FormatTenths(0), "0");
    EXPECT_EQ(regional.FormatTenths(450), "45");
    EXPECT_EQ(regional.FormatTenths(455), "45.5");
    EXPECT_EQ(regional.FormatTenths(3), "0.3");
    EXPECT_EQ(regional.FormatTenths(-2), "-0.2");
    EXPECT_EQ(regional.FormatTenths(-10), "-1");
    EXPECT_EQ(regional.FormatTenths(-1280), "-128");
    EXPECT_EQ(regional.FormatTenths(2560), "256");
    EXPECT_EQ(regional.FormatTenths(12345671), "1234567.1") << "no digit grouping";
    EXPECT_EQ(regional.FormatTenths(std::numeric_limits<std::int32_t>::min()), "-214748364.8");
}

TEST(NumberFormatTest, DecimalSeparatorComesFromTheRegionalSettings)
{
    Regional regional;
    regional.DecimalSeparator = ",";
    EXPECT_EQ(regional.FormatTenths(-52), "-5,2");
    EXPECT_EQ(regional.FormatTenths(50), "5");
    regional.DecimalSeparator = "\u066B"; // a separator of more than one byte
    std::string text = "x=";
    regional.AppendTenths(text, 17);
    EXPECT_EQ(text, "x=1\u066B7");
}

} // namespace
} // namespace varmio
