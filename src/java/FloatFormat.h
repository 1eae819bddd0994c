// The number texts of the Java option adapter: a tab, then the value in a
// field of at least seven characters.
#pragma once

#include <cstddef>

namespace vok::java {

inline constexpr std::size_t kFloatTextSize = 56;
// Largest precision honoured; larger ones are cut to it so that every text
// fits its 56 bytes.
inline constexpr int kMaxFloatPrecision = 49;

// Formats value with precision decimals:
//  - 0: "\t%7.0f";
//  - 1 to 49: "\t %7.1e" when |value| is at least 100000 (precision 1),
//    10000 (precision 2) or 1000 (precision 3 and more), else "\t%7.*f";
//    a precision above 49 counts as 49;
//  - negative: "\t%7.*f", which prints six decimals.
// Returns the text length.
int formatFloatValue(float value, int precision, char (&text)[kFloatTextSize]);

}  // namespace vok::java
