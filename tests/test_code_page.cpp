// Text conversion between recordings' encodings and UTF-16: UTF-8 with
// ill-formed input, Windows-1252 in both directions, and on POSIX the
// system code page taken from the locale the host set up.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "platform/CodePage.h"

namespace vok::platform {
namespace {

std::u16string fromUtf8(const std::string& s) {
    std::u16string out;
    utf8ToUtf16(s, out);
    return out;
}

struct Utf8Case {
    const char* what;
    std::string bytes;
    std::u16string text;
};

TEST(CodePage, Utf8ToUtf16) {
    const Utf8Case cases[] = {
        {"ASCII", "abc", u"abc"},
        {"two, three and four bytes", "\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80", u"\u00e9\u65e5\U0001F600"},
        {"a stray continuation byte",
         "a\x80"
         "b",
         u"a\uFFFDb"},
        {"an overlong form", "\xc0\xaf", u"\uFFFD\uFFFD"},
        {"a cut sequence is one replacement",
         "\xe6\x97"
         "a",
         u"\uFFFDa"},
        {"a cut sequence at the end", "x\xf0\x9f\x98", u"x\uFFFD"},
        {"an encoded surrogate", "\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"bytes that never occur", "\xfe\xff", u"\uFFFD\uFFFD"},
        {"a NUL inside", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const Utf8Case& c : cases) EXPECT_EQ(c.text, fromUtf8(c.bytes)) << c.what;
}

TEST(CodePage, Utf16ToUtf8) {
    std::string out;
    utf16ToUtf8(u"\u00e9\u65e5\U0001F600z", out);
    EXPECT_EQ("\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80z", out);
    // Lone surrogates cannot be written: each becomes U+FFFD.
    utf16ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}, out);
    EXPECT_EQ(
        "a\xef\xbf\xbd"
        "b\xef\xbf\xbd",
        out);
}

TEST(CodePage, Windows1252BothWays) {
    std::string all;
    for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
    std::u16string text;
    windows1252ToUtf16(all, text);
    ASSERT_EQ(all.size(), text.size());
    EXPECT_EQ(u'\u20AC', text[0x80 - 1]);
    EXPECT_EQ(u'\u0081', text[0x81 - 1]) << "undefined bytes keep their value";
    EXPECT_EQ(u'\u0178', text[0x9F - 1]);
    EXPECT_EQ(u'\u00E9', text[0xE9 - 1]);
    std::string back;
    utf16ToWindows1252(text, back);
    EXPECT_EQ(all, back) << "every byte survives the round trip";

    utf16ToWindows1252(u"\u65e5 \U0001F600 \u20ac", back);
    EXPECT_EQ("? ? \x80", back) << "characters outside the code page become one '?' each";
}

#ifndef _WIN32

// Sets the C library's LC_CTYPE for a test and puts the old one back.
class CtypeLocale {
public:
    explicit CtypeLocale(const char* name) {
        const char* old = std::setlocale(LC_CTYPE, nullptr);
        old_ = old != nullptr ? old : "C";
        ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~CtypeLocale() { std::setlocale(LC_CTYPE, old_.c_str()); }
    CtypeLocale(const CtypeLocale&) = delete;
    CtypeLocale& operator=(const CtypeLocale&) = delete;
    bool ok() const { return ok_; }

private:
    std::string old_;
    bool ok_ = false;
};

TEST(CodePage, PlainAsciiLocalesStandForWindows1252) {
    CtypeLocale c("C");
    ASSERT_TRUE(c.ok());
    EXPECT_EQ("WINDOWS-1252", systemCodePageName());
    std::u16string text;
    ASSERT_TRUE(decodeToUtf16("caf\xe9 \x80", TextEncoding::SystemCodePage, text));
    EXPECT_EQ(u"caf\u00e9 \u20ac", text);
    std::string bytes;
    ASSERT_TRUE(encodeFromUtf16(u"Pr\u00fcfung", TextEncoding::SystemCodePage, bytes));
    EXPECT_EQ(
        "Pr\xfc"
        "fung",
        bytes);
}

TEST(CodePage, AUtf8LocaleGivesUtf8) {
    CtypeLocale utf8("C.UTF-8");
    if (!utf8.ok()) GTEST_SKIP() << "no C.UTF-8 locale on this system";
    std::u16string text;
    ASSERT_TRUE(decodeToUtf16("caf\xc3\xa9", TextEncoding::SystemCodePage, text));
    EXPECT_EQ(u"caf\u00e9", text);
    ASSERT_TRUE(decodeToUtf16("caf\xe9", TextEncoding::SystemCodePage, text));
    EXPECT_EQ(u"caf\uFFFD", text);
}

TEST(CodePage, TheUtf8FlagIgnoresTheLocale) {
    CtypeLocale c("C");
    std::u16string text;
    ASSERT_TRUE(decodeToUtf16("caf\xc3\xa9", TextEncoding::Utf8, text));
    EXPECT_EQ(u"caf\u00e9", text);
    std::string bytes;
    ASSERT_TRUE(encodeFromUtf16(u"\u65e5", TextEncoding::Utf8, bytes));
    EXPECT_EQ("\xe6\x97\xa5", bytes);
}

TEST(CodePage, OtherCharacterSetsGoThroughIconv) {
    std::u16string text;
    if (!decodeCharset("\xa4", "ISO-8859-15", text)) GTEST_SKIP() << "iconv has no ISO-8859-15 here";
    EXPECT_EQ(u"\u20ac", text);

    // Shift_JIS: two-byte characters, a byte that starts none, a cut one.
    ASSERT_TRUE(
        decodeCharset("\x93\xfa\x96\x7b"
                      "a\xff"
                      "b\x93",
                      "SHIFT_JIS", text));
    EXPECT_EQ(u"\u65e5\u672ca\uFFFDb\uFFFD", text);

    std::string bytes;
    ASSERT_TRUE(encodeCharset(u"\u65e5\u672c", "SHIFT_JIS", bytes));
    EXPECT_EQ("\x93\xfa\x96\x7b", bytes);
    ASSERT_TRUE(encodeCharset(u"a\U0001F600b\u00e9", "ISO-8859-1", bytes));
    EXPECT_EQ("a?b\xe9", bytes) << "a character the set lacks becomes one '?'";

    EXPECT_FALSE(decodeCharset("x", "NO-SUCH-CHARSET", text));
    EXPECT_TRUE(text.empty());
}

TEST(CodePage, LongTextsConvertWhole) {
    // Longer than iconv's output buffer of a single call.
    std::string latin(5000, '\xe9');
    std::u16string text;
    ASSERT_TRUE(decodeCharset(latin, "ISO-8859-1", text));
    EXPECT_EQ(std::u16string(5000, u'\u00e9'), text);
    std::string back;
    ASSERT_TRUE(encodeCharset(text, "ISO-8859-1", back));
    EXPECT_EQ(latin, back);
}

#else

TEST(CodePage, LocaleCharacterSets) {
    GTEST_SKIP() << "POSIX only: there the system code page is the locale's character set";
}

// Windows converts through MultiByteToWideChar and WideCharToMultiByte.
TEST(CodePage, WindowsConvertsUtf8AndTheAnsiCodePage) {
    const std::string name = systemCodePageName();
    ASSERT_GT(name.size(), 2u);
    EXPECT_EQ(name.substr(0, 2), "CP");
    EXPECT_EQ(name.find_first_not_of("0123456789", 2), std::string::npos) << name;

    std::u16string text;
    ASSERT_TRUE(decodeToUtf16("caf\xc3\xa9 \xf0\x9f\x98\x80", TextEncoding::Utf8, text));
    EXPECT_EQ(u"caf\u00e9 \U0001F600", text);
    ASSERT_TRUE(decodeToUtf16("caf\xe9", TextEncoding::Utf8, text));
    EXPECT_EQ(u"caf\uFFFD", text) << "a byte that forms no character";
    std::string bytes;
    ASSERT_TRUE(encodeFromUtf16(u"\u65e5x", TextEncoding::Utf8, bytes));
    EXPECT_EQ("\xe6\x97\xa5x", bytes);

    ASSERT_TRUE(decodeToUtf16("plain text", TextEncoding::SystemCodePage, text));
    EXPECT_EQ(u"plain text", text);
    ASSERT_TRUE(encodeFromUtf16(u"plain text", TextEncoding::SystemCodePage, bytes));
    EXPECT_EQ("plain text", bytes);
    EXPECT_TRUE(decodeToUtf16("", TextEncoding::SystemCodePage, text));
    EXPECT_TRUE(text.empty());
}

#endif

}  // namespace
}  // namespace vok::platform
