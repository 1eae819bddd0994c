#include "core/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace vok {
namespace {
// Read once per message, so a callback replaced while another thread logs
// gets either the old or the new function, never a torn pointer.
std::atomic<vok_log_function> g_callback{nullptr};
}

void setLogFunction(vok_log_function callback) { g_callback.store(callback, std::memory_order_release); }

int log(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    const vok_log_function callback = g_callback.load(std::memory_order_acquire);
    if (callback != nullptr) {
        callback(text);
    } else {
        std::fputs(text, stdout);
    }
    return 0;
}

void printDirect(const char* format, ...) {
    // Formatted first and written in one call, so that lines from several
    // threads do not mix within a line.
    char text[1024];
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n >= 0 && static_cast<std::size_t>(n) >= sizeof text) {
        std::string longer(static_cast<std::size_t>(n) + 1, '\0');
        std::vsnprintf(longer.data(), longer.size(), format, again);
        std::fputs(longer.c_str(), stdout);
    } else if (n >= 0) {
        std::fputs(text, stdout);
    }
    va_end(again);
    std::fflush(stdout);
}

}  // namespace vok

extern "C" VOKAPI_EXPORT void vok_set_log_function(vok_log_function callback) {
    vok::setLogFunction(callback);
}
