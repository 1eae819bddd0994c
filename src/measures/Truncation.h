// Truncation of floating-point values to 32-bit integers.  A plain cast is
// undefined when the value is NaN, infinite or outside the int32 range, so
// every conversion of a computed value goes through these checks.
#pragma once

#include <cstdint>
#include <optional>

namespace vok {

// The value truncated toward zero, or nothing when it has no int32 value.
// Floats convert exactly to double, so this serves both widths.
inline std::optional<std::int32_t> truncToInt32(double value) {
    // Every value strictly between these bounds truncates into range; NaN
    // fails both comparisons.
    if (value > -2147483649.0 && value < 2147483648.0) return static_cast<std::int32_t>(value);
    return std::nullopt;
}

// As truncToInt32 for the unsigned 32-bit range.
inline std::optional<std::uint32_t> truncToUint32(double value) {
    if (value > -1.0 && value < 4294967296.0) return static_cast<std::uint32_t>(value);
    return std::nullopt;
}

}  // namespace vok
