#include "java/FloatFormat.h"

#include <cmath>
#include <cstdio>

namespace vok::java {

int formatFloatValue(float value, int precision, char (&text)[kFloatTextSize]) {
    const double v = value;
    int n;
    if (precision == 0) {
        n = std::snprintf(text, sizeof text, "\t%7.0f", v);
    } else if (precision > 0) {
        if (precision > kMaxFloatPrecision) precision = kMaxFloatPrecision;
        const float a = std::fabs(value);
        const bool large = (precision == 1 && a >= 100000.0f) || (precision == 2 && a >= 10000.0f) ||
                           (precision >= 3 && a >= 1000.0f);
        n = large ? std::snprintf(text, sizeof text, "\t %7.1e", v)
                  : std::snprintf(text, sizeof text, "\t%7.*f", precision, v);
    } else {
        n = std::snprintf(text, sizeof text, "\t%7.*f", precision, v);
    }
    if (n < 0) {
        text[0] = '\0';
        return 0;
    }
    return n < static_cast<int>(sizeof text) ? n : static_cast<int>(sizeof text) - 1;
}

}  // namespace vok::java
