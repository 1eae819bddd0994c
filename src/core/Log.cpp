#include "core/Log.h"

#include <cstdarg>
#include <cstdio>

namespace vok {
namespace {
vok_log_function g_callback = nullptr;
}

void setLogFunction(vok_log_function callback) { g_callback = callback; }

int log(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (g_callback != nullptr) {
        g_callback(text);
    } else {
        std::fputs(text, stdout);
    }
    return 0;
}

void printDirect(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

}  // namespace vok

extern "C" VOKAPI_EXPORT void vok_set_log_function(vok_log_function callback) {
    vok::setLogFunction(callback);
}
