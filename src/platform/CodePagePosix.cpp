// POSIX: the system code page is the character set of the LC_CTYPE locale
// that the host program set up (a library must not call setlocale itself).
// UTF-8 and the Windows-1252 stand-in for plain ASCII locales are converted
// here directly; any other character set through iconv.
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <cerrno>
#include <cstring>

#include "platform/CodePage.h"

namespace vok::platform {

namespace {

enum class Charset { Utf8, Windows1252, Other };

bool sameName(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

Charset classify(const std::string& name) {
    const char* n = name.c_str();
    if (sameName(n, "UTF-8") || sameName(n, "UTF8")) return Charset::Utf8;
    if (sameName(n, "WINDOWS-1252") || sameName(n, "CP1252")) return Charset::Windows1252;
    return Charset::Other;
}

// iconv descriptor closed at the end of a scope.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// Runs iconv over the whole input.  On an invalid or incomplete sequence,
// onBad(out, bad input, bytes left) appends a replacement to out and
// returns how many input bytes to skip (at least one).
template <typename OnBad>
void convertAll(iconv_t cd, const char* input, std::size_t length, std::string& out, OnBad onBad) {
    char buffer[1024];
    char* in = const_cast<char*>(input);
    std::size_t inLeft = length;
    while (inLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        const int err = errno;
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (r == static_cast<std::size_t>(-1) && err != E2BIG) {
            std::size_t skip = onBad(out, in, inLeft);
            if (skip < 1) skip = 1;
            if (skip > inLeft) skip = inLeft;
            in += skip;
            inLeft -= skip;
        }
    }
    // End the output in the initial shift state.
    for (;;) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t r = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
        const int err = errno;
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (r != static_cast<std::size_t>(-1) || err != E2BIG) break;
    }
}

void appendUnitLe(std::string& out, char16_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
}

bool decodeWithIconv(const std::string& charset, std::string_view text, std::u16string& out) {
    Iconv cd("UTF-16LE", charset.c_str());
    if (!cd.ok()) return false;
    std::string bytes;
    convertAll(cd.get(), text.data(), text.size(), bytes, [](std::string& o, const char*, std::size_t) {
        appendUnitLe(o, 0xFFFD);
        return std::size_t{1};
    });
    out.resize(bytes.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return true;
}

bool encodeWithIconv(const std::string& charset, std::u16string_view text, std::string& out) {
    Iconv cd(charset.c_str(), "UTF-16LE");
    if (!cd.ok()) return false;
    std::string units;
    units.reserve(text.size() * 2);
    for (char16_t u : text) appendUnitLe(units, u);
    convertAll(cd.get(), units.data(), units.size(), out,
               [](std::string& o, const char* at, std::size_t left) {
                   o.push_back('?');
                   // Skip the whole character: a surrogate pair is two units.
                   if (left >= 4) {
                       const unsigned hi =
                           static_cast<unsigned char>(at[0]) | (static_cast<unsigned char>(at[1]) << 8);
                       const unsigned lo =
                           static_cast<unsigned char>(at[2]) | (static_cast<unsigned char>(at[3]) << 8);
                       if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF)
                           return std::size_t{4};
                   }
                   return std::size_t{2};
               });
    return true;
}

}  // namespace

std::string systemCodePageName() {
    // nl_langinfo answers for the locale in force; its text may be
    // overwritten by the next call, so it is copied at once.  (glibc keeps
    // the code set name in the locale's own data, so threads do not
    // overwrite each other's answer; only a concurrent setlocale would.)
    const char* codeset = nl_langinfo(CODESET);
    std::string name = codeset != nullptr ? codeset : "";
    if (name.empty() || sameName(name.c_str(), "ANSI_X3.4-1968") || sameName(name.c_str(), "ASCII") ||
        sameName(name.c_str(), "US-ASCII") || sameName(name.c_str(), "C") ||
        sameName(name.c_str(), "POSIX") || sameName(name.c_str(), "646")) {
        return "WINDOWS-1252";
    }
    return name;
}

bool decodeCharset(std::string_view text, const std::string& charset, std::u16string& out) {
    out.clear();
    switch (classify(charset)) {
        case Charset::Utf8:
            utf8ToUtf16(text, out);
            return true;
        case Charset::Windows1252:
            windows1252ToUtf16(text, out);
            return true;
        case Charset::Other:
            break;
    }
    if (!decodeWithIconv(charset, text, out)) {
        out.clear();
        return false;
    }
    return true;
}

bool encodeCharset(std::u16string_view text, const std::string& charset, std::string& out) {
    out.clear();
    switch (classify(charset)) {
        case Charset::Utf8:
            utf16ToUtf8(text, out);
            return true;
        case Charset::Windows1252:
            utf16ToWindows1252(text, out);
            return true;
        case Charset::Other:
            break;
    }
    if (!encodeWithIconv(charset, text, out)) {
        out.clear();
        return false;
    }
    return true;
}

bool decodeToUtf16(std::string_view text, TextEncoding encoding, std::u16string& out) {
    return decodeCharset(text, encoding == TextEncoding::Utf8 ? "UTF-8" : systemCodePageName(), out);
}

bool encodeFromUtf16(std::u16string_view text, TextEncoding encoding, std::string& out) {
    return encodeCharset(text, encoding == TextEncoding::Utf8 ? "UTF-8" : systemCodePageName(), out);
}

}  // namespace vok::platform
