// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Replaces the global operator new with one that counts every allocation, so a test or benchmark can
// show that a path allocates nothing. The replacement is a definition: include this header in one
// source file of an executable only.

#include <atomic>
#include <cstdlib>
#include <new>

namespace varmio::test {
inline std::atomic<long> g_allocations{0};

// Allocations made in the whole process so far.
inline long AllocationCount() { return g_allocations.load(std::memory_order_relaxed); }
} // namespace varmio::test

// The replacement pairs malloc with free by design; GCC cannot see that once it inlines them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size)
{
    varmio::test::g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop
