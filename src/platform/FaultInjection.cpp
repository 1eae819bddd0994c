#include "platform/FaultInjection.h"

namespace vok::fault {

namespace {
struct PointState {
    bool armed = false;
    bool persistent = false;
    bool fired = false;
    std::uint64_t nth = 0;
    std::uint64_t calls = 0;
};
PointState g_points[kPointCount];

int indexOf(Point point) { return static_cast<int>(point); }
}  // namespace

namespace detail {
bool g_armed = false;

bool failSlow(Point point) {
    PointState& s = g_points[indexOf(point)];
    if (!s.armed) return false;
    ++s.calls;
    const bool fail = s.persistent ? s.calls >= s.nth : s.calls == s.nth;
    if (fail) s.fired = true;
    return fail;
}
}  // namespace detail

void arm(Point point, std::uint64_t nth, bool persistent) {
    PointState& s = g_points[indexOf(point)];
    s = PointState{};
    s.armed = nth != 0;
    s.persistent = persistent;
    s.nth = nth;
    detail::g_armed = false;
    for (const PointState& p : g_points) detail::g_armed = detail::g_armed || p.armed;
}

void disarm() {
    for (PointState& s : g_points) s = PointState{};
    detail::g_armed = false;
}

std::uint64_t calls(Point point) { return g_points[indexOf(point)].calls; }

bool fired(Point point) { return g_points[indexOf(point)].fired; }

}  // namespace vok::fault
