// A replacement of the global operator new and delete for test programs
// that link support/AllocationHook.cpp: it counts allocations and live
// bytes, records the peak, and can make the Nth allocation from now throw
// std::bad_alloc.  Only one such program per process image; single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vok::test::allocation {

// The nth allocation (1-based) from now throws std::bad_alloc, once.
void failNth(std::uint64_t nth);
// No more failures; the counts go on.
void disarm();
// True once an armed failure was thrown.
bool fired();
// Allocations since the last failNth (or since the start).
std::uint64_t calls();

// Bytes allocated through operator new and not yet freed.
std::size_t liveBytes();
// The largest liveBytes() since the last resetPeak().
std::size_t peakBytes();
void resetPeak();

}  // namespace vok::test::allocation
