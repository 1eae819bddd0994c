#include "java/DisplayArea.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <mutex>

namespace vok::java {

namespace {

constexpr float kUnknown = 100000000.0f;
constexpr float kAbsent = -32768.0f;

// Shared by every VOK object (in any thread): messages of one recording set
// it and every open resets it.  Guarded, and read as a whole copy, so that a
// conversion never mixes two announcements.
std::mutex g_lock;
DisplayArea g_area{kUnknown, kUnknown, kUnknown, kUnknown, kUnknown, kUnknown};

bool complete(const DisplayArea& a) {
    return a.left != kUnknown && a.top != kUnknown && a.right != kUnknown && a.bottom != kUnknown &&
           a.width != kUnknown && a.height != kUnknown;
}

// The mapping of one axis, in the single- and double-precision steps the
// recordings' viewers use.
float mapAxis(const DisplayArea& area, float value, float low, float high, float size) {
    if (value == kUnknown || value == kAbsent || !complete(area)) return value;
    const float w = high - low;
    const auto e = static_cast<float>(static_cast<double>(w) / 0.95 - static_cast<double>(w));
    const float lo = low - e;
    const float hi = high + e;
    return (hi - lo) * (value / size) + lo;
}

// One " %d": white space, then an optional sign and digits.
const char* readInteger(const char* p, long long& value) {
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (!std::isdigit(static_cast<unsigned char>(*p))) return nullptr;
    long long v = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        v = v * 10 + (*p - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return nullptr;
        ++p;
    }
    if (negative) v = -v;
    if (v > INT_MAX || v < INT_MIN) return nullptr;
    value = v;
    return p;
}

}  // namespace

DisplayArea displayArea() {
    const std::lock_guard<std::mutex> lock(g_lock);
    return g_area;
}

void resetDisplayArea() {
    const std::lock_guard<std::mutex> lock(g_lock);
    g_area = DisplayArea{kUnknown, kUnknown, kUnknown, kUnknown, kUnknown, kUnknown};
}

float displayX(const DisplayArea& area, float value) {
    return mapAxis(area, value, area.left, area.right, area.width);
}

float displayY(const DisplayArea& area, float value) {
    return mapAxis(area, value, area.top, area.bottom, area.height);
}

float displayX(float value) { return displayX(displayArea(), value); }

float displayY(float value) { return displayY(displayArea(), value); }

bool readFourIntegers(const char* text, long long (&values)[4]) {
    const char* p = text;
    for (long long& v : values) {
        p = readInteger(p, v);
        if (p == nullptr) return false;
    }
    return true;
}

void noteDisplayMessage(const char* text) {
    if (text == nullptr) return;
    long long v[4];
    const std::lock_guard<std::mutex> lock(g_lock);
    if (std::strstr(text, "DISPLAY_COORDS") != nullptr) {
        // The text holds the keyword, so it is at least that long.
        if (readFourIntegers(text + 14, v)) {
            g_area.width = static_cast<float>(v[2] - v[0]);
            g_area.height = static_cast<float>(v[3] - v[1]);
        } else {
            g_area.width = kUnknown;
            g_area.height = kUnknown;
        }
    } else if (std::strstr(text, "DISPLAY_AREA_COORDS") != nullptr) {
        if (readFourIntegers(text + 19, v)) {
            g_area.left = static_cast<float>(v[0]);
            g_area.top = static_cast<float>(v[1]);
            g_area.right = static_cast<float>(v[2]);
            g_area.bottom = static_cast<float>(v[3]);
        } else {
            g_area.left = g_area.top = g_area.right = g_area.bottom = kUnknown;
        }
    }
}

}  // namespace vok::java
