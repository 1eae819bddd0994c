// Text conversion between the encodings recordings use for their texts and
// UTF-16, the encoding of Java strings.
//
// A recording's texts are either UTF-8 or in the "system code page":
//  - on Windows the ANSI code page (CP_ACP) of the process;
//  - on POSIX the character set of the LC_CTYPE locale as the host program
//    left it (the library never calls setlocale), converted through iconv;
//    when that locale is plain ASCII ("C", "POSIX", "ANSI_X3.4-1968"),
//    Windows-1252 is taken instead, so that the accented letters of
//    recordings made on Western systems are kept rather than lost.
//
// Conversions never fail on bad input: bytes that form no character become
// U+FFFD, and characters that the target cannot hold become '?' (or U+FFFD
// in UTF-8 for a lone surrogate).
#pragma once

#include <string>
#include <string_view>

namespace vok::platform {

enum class TextEncoding { Utf8, SystemCodePage };

// Name of the character set the system code page stands for: "CP<n>" on
// Windows; on POSIX the locale's character set, or "WINDOWS-1252" for a
// plain ASCII locale.
std::string systemCodePageName();

// Decodes text into UTF-16.  False (out empty) only when the system code
// page is a character set that cannot be converted here.
bool decodeToUtf16(std::string_view text, TextEncoding encoding, std::u16string& out);

// Encodes UTF-16 text.  False (out empty) only when the system code page
// cannot be converted here.
bool encodeFromUtf16(std::u16string_view text, TextEncoding encoding, std::string& out);

#ifndef _WIN32
// POSIX: the conversions of a character set named as iconv names it (the
// system code page is one of them).  UTF-8 and Windows-1252 are converted
// by the codecs below, any other set through iconv.  False (out empty) when
// iconv does not know the set.
bool decodeCharset(std::string_view text, const std::string& charset, std::u16string& out);
bool encodeCharset(std::u16string_view text, const std::string& charset, std::string& out);
#endif

// ---- the codecs done here without the operating system ----

// UTF-8 to UTF-16; each maximal ill-formed subsequence becomes one U+FFFD.
void utf8ToUtf16(std::string_view text, std::u16string& out);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
void utf16ToUtf8(std::u16string_view text, std::string& out);
// Windows-1252 to UTF-16.  The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of the same
// value, as the Windows conversion does, so that every byte survives a round
// trip.
void windows1252ToUtf16(std::string_view text, std::u16string& out);
// UTF-16 to Windows-1252; characters outside it become '?' (a surrogate
// pair one '?').
void utf16ToWindows1252(std::u16string_view text, std::string& out);

}  // namespace vok::platform
