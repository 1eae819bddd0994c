#include "platform/FaultInjection.h"

#include <mutex>

namespace vok::fault {

namespace {
struct PointState {
    bool armed = false;
    bool persistent = false;
    bool fired = false;
    std::uint64_t nth = 0;
    std::uint64_t calls = 0;
};
std::mutex g_lock;
PointState g_points[kPointCount];

int indexOf(Point point) { return static_cast<int>(point); }
}  // namespace

namespace detail {
std::atomic<bool> g_armed{false};

bool failSlow(Point point) {
    const std::lock_guard<std::mutex> lock(g_lock);
    PointState& s = g_points[indexOf(point)];
    if (!s.armed) return false;
    ++s.calls;
    const bool fail = s.persistent ? s.calls >= s.nth : s.calls == s.nth;
    if (fail) s.fired = true;
    return fail;
}
}  // namespace detail

void arm(Point point, std::uint64_t nth, bool persistent) {
    const std::lock_guard<std::mutex> lock(g_lock);
    PointState& s = g_points[indexOf(point)];
    s = PointState{};
    s.armed = nth != 0;
    s.persistent = persistent;
    s.nth = nth;
    bool any = false;
    for (const PointState& p : g_points) any = any || p.armed;
    detail::g_armed.store(any, std::memory_order_relaxed);
}

void disarm() {
    const std::lock_guard<std::mutex> lock(g_lock);
    for (PointState& s : g_points) s = PointState{};
    detail::g_armed.store(false, std::memory_order_relaxed);
}

std::uint64_t calls(Point point) {
    const std::lock_guard<std::mutex> lock(g_lock);
    return g_points[indexOf(point)].calls;
}

bool fired(Point point) {
    const std::lock_guard<std::mutex> lock(g_lock);
    return g_points[indexOf(point)].fired;
}

}  // namespace vok::fault
