// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/relaysim/Pacer.h"

#include <gtest/gtest.h>

#include <limits>

namespace varmio::relaysim {
namespace {

using namespace std::chrono_literals;
using Clock = Pacer::Clock;

const Clock::time_point kStart = Clock::time_point(1000s);

TEST(Pacer, RunsAreDueAtTheirStreamTimeDividedByTheSpeed)
{
    Pacer normal(1.0);
    normal.Start(kStart);
    EXPECT_EQ(normal.DueAt(0us), kStart);
    EXPECT_EQ(normal.DueAt(1500ms), kStart + 1500ms);

    Pacer fast(4.0);
    fast.Start(kStart);
    EXPECT_EQ(fast.DueAt(2s), kStart + 500ms);

    Pacer slow(0.5);
    slow.Start(kStart);
    EXPECT_EQ(slow.DueAt(2s), kStart + 4s);
}

TEST(Pacer, TimeSpentPausedIsLeftOut)
{
    Pacer pacer(2.0);
    pacer.Start(kStart);
    pacer.Pause(kStart + 1s);
    pacer.Pause(kStart + 2s); // a second pause changes nothing
    pacer.Resume(kStart + 11s);
    pacer.Resume(kStart + 12s); // nor a second resume
    EXPECT_EQ(pacer.DueAt(4s), kStart + 12s);
}

TEST(Pacer, UnpacedEverythingIsDueAtOnce)
{
    Pacer pacer(Pacer::kUnpaced);
    pacer.Start(kStart);
    EXPECT_FALSE(pacer.Paced());
    EXPECT_EQ(pacer.DueAt(3600s), kStart);
}

TEST(Pacer, OnlyPositiveFiniteSpeedsAreAccepted)
{
    for (const double bad : {-1.0, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
        EXPECT_THROW(Pacer{bad}, std::invalid_argument) << bad;
    Pacer crawling(1e-300); // absurd, but must not overflow
    crawling.Start(kStart);
    EXPECT_GT(crawling.DueAt(1s), kStart + 24h * 365 * 10);
}

} // namespace
} // namespace varmio::relaysim
