#include "support/AllocationHook.h"

#include <cstdlib>
#include <new>

namespace vok::test::allocation {
namespace {
// Every block carries its size in front, kept at the strictest fundamental
// alignment so the caller's bytes stay aligned.
constexpr std::size_t kHeader = alignof(std::max_align_t);

bool g_armed = false;
bool g_fired = false;
std::uint64_t g_nth = 0;
std::uint64_t g_calls = 0;
std::size_t g_live = 0;
std::size_t g_peak = 0;
}  // namespace

void failNth(std::uint64_t nth) {
    g_armed = nth != 0;
    g_fired = false;
    g_nth = nth;
    g_calls = 0;
}
void disarm() { g_armed = false; }
bool fired() { return g_fired; }
std::uint64_t calls() { return g_calls; }
std::size_t liveBytes() { return g_live; }
std::size_t peakBytes() { return g_peak; }
void resetPeak() { g_peak = g_live; }

void* allocate(std::size_t size, bool nothrow) {
    ++g_calls;
    if (g_armed && g_calls == g_nth) {
        g_armed = false;
        g_fired = true;
        if (nothrow) return nullptr;
        throw std::bad_alloc();
    }
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) {
        if (nothrow) return nullptr;
        throw std::bad_alloc();
    }
    *reinterpret_cast<std::size_t*>(block) = size;
    g_live += size;
    if (g_live > g_peak) g_peak = g_live;
    return block + kHeader;
}

void release(void* p) {
    if (p == nullptr) return;
    auto* block = static_cast<unsigned char*>(p) - kHeader;
    g_live -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
}

}  // namespace vok::test::allocation

namespace alloc = vok::test::allocation;

void* operator new(std::size_t size) { return alloc::allocate(size, false); }
void* operator new[](std::size_t size) { return alloc::allocate(size, false); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return alloc::allocate(size, true); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return alloc::allocate(size, true); }
void operator delete(void* p) noexcept { alloc::release(p); }
void operator delete[](void* p) noexcept { alloc::release(p); }
void operator delete(void* p, std::size_t) noexcept { alloc::release(p); }
void operator delete[](void* p, std::size_t) noexcept { alloc::release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { alloc::release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { alloc::release(p); }
