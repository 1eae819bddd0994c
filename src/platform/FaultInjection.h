// Test hooks that make the library's reads from a recording and its writes
// to temporary files fail on purpose, so that tests can check every failure
// path: arm a point with N and its Nth call from then on reports a failure
// (once, or from then on).  Compiled into every build and inert until a test
// arms a point; the check is one predictable branch, taken where a buffer is
// refilled or a piece is written, never per byte.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Compiler.h"

namespace vok::fault {

enum class Point : int {
    Read = 0,        // a refill of a recording stream's buffer, a read of a compressed body
    TempCreate = 1,  // the creation of a temporary file
    TempWrite = 2,   // a write or flush of a temporary file
};
inline constexpr int kPointCount = 3;

namespace detail {
// Read by every thread that reads a recording; the points themselves are
// counted under a lock, so arming is safe while other threads read.
extern std::atomic<bool> g_armed;
bool failSlow(Point point);
}  // namespace detail

// True when this call at point must fail.  Counts the call while armed.
inline bool shouldFail(Point point) {
    if (VOK_LIKELY(!detail::g_armed.load(std::memory_order_relaxed))) return false;
    return detail::failSlow(point);
}

// Makes the nth call (1-based, counted from now) at point fail; with
// persistent set, every call from the nth on fails.  Other points are left
// as they are.
void arm(Point point, std::uint64_t nth, bool persistent = false);

// Disarms every point and resets the counts.
void disarm();

// Calls counted at point since it was armed.
std::uint64_t calls(Point point);

// True once an armed failure was delivered at point.
bool fired(Point point);

}  // namespace vok::fault
