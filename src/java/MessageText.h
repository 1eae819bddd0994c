// Message texts on their way to Java.
#pragma once

#include <cstddef>

#include "vokapi.h"

namespace vok::java {

// Longest message text handed to Java, in bytes, with its NUL.
inline constexpr int kJavaMessageLimit = 250;

// Trims a message text in place before it is handed to Java: the text ends
// at its stored length (a NUL counted in it included) or after 249 bytes,
// whichever comes first, and one line feed at its end (behind up to four
// further NULs) is removed.  The length field is left as it is.  A
// negative length leaves the text untouched.
//
// The record's text buffer must hold at least min(length + 1, 250) bytes;
// the library's message buffers hold 500.
void trimMessage(LString& message);

}  // namespace vok::java
