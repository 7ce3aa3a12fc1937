// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Waiting for a condition with a deadline, never for a fixed time.

#include <chrono>

#include <poll.h>

namespace varmio::test {

inline constexpr std::chrono::milliseconds kPatience{60'000}; // for what should come at once, on a loaded machine

// Looks at `done()` every few milliseconds until it holds (true) or `patience` has passed (false).
// For conditions that give nothing to wait on, such as a file another process writes.
template <class Condition>
bool Eventually(Condition done, std::chrono::milliseconds patience = kPatience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        ::poll(nullptr, 0, 5);
    }
    return true;
}

} // namespace varmio::test
