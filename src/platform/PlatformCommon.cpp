// Platform helpers written once for every platform, on top of the calls
// each platform implements.
#include "platform/Platform.h"

#include <cstdlib>
#include <string>

namespace vok::platform {

bool isValidUtf8(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        unsigned char c = *p;
        int extra;
        unsigned long min;
        if (c < 0x80) {
            ++p;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            min = 0x10000;
        } else {
            return false;
        }
        unsigned long cp = c & (0x3F >> extra);
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        p += extra + 1;
    }
    return true;
}

bool appendToSearchPath(const char* directory) {
    const char* old = std::getenv("PATH");
    if (old == nullptr) return false;
    std::string value = old;
    value += searchPathSeparator();
    value += directory;
    return setEnvironment("PATH", value.c_str());
}

}  // namespace vok::platform
