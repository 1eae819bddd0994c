// Windows: the system code page is the process's ANSI code page (CP_ACP);
// both it and UTF-8 are converted by the system's own calls.  Invalid bytes
// become U+FFFD and characters the code page lacks its default character.
#include <windows.h>

#include <climits>
#include <cstdio>

#include "platform/CodePage.h"

namespace vok::platform {

namespace {

UINT codePageOf(TextEncoding encoding) { return encoding == TextEncoding::Utf8 ? CP_UTF8 : CP_ACP; }

}  // namespace

std::string systemCodePageName() {
    char name[32];
    std::snprintf(name, sizeof name, "CP%u", static_cast<unsigned>(GetACP()));
    return name;
}

bool decodeToUtf16(std::string_view text, TextEncoding encoding, std::u16string& out) {
    out.clear();
    if (text.empty()) return true;
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
    const UINT cp = codePageOf(encoding);
    const int length = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(cp, 0, text.data(), length, nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<std::size_t>(n));
    const int k = MultiByteToWideChar(cp, 0, text.data(), length, reinterpret_cast<wchar_t*>(out.data()), n);
    if (k <= 0) {
        out.clear();
        return false;
    }
    out.resize(static_cast<std::size_t>(k));
    return true;
}

bool encodeFromUtf16(std::u16string_view text, TextEncoding encoding, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
    const UINT cp = codePageOf(encoding);
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(cp, 0, units, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    out.resize(static_cast<std::size_t>(n));
    const int k = WideCharToMultiByte(cp, 0, units, length, out.data(), n, nullptr, nullptr);
    if (k <= 0) {
        out.clear();
        return false;
    }
    out.resize(static_cast<std::size_t>(k));
    return true;
}

}  // namespace vok::platform
