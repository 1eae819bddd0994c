#include "java/MessageText.h"

namespace vok::java {

void trimMessage(LString& message) {
    const int n = message.length;
    if (n < 0) return;
    char* text = message.c;
    if (n == 0) {
        text[0] = '\0';
        return;
    }
    // m - 1 is where the text ends.  The stored length of a tracker's
    // message counts its terminating NUL; other texts (merged log lines,
    // texts of other writers) are stored without one, and their last
    // character must not make way for it: they end at the stored length.
    int m = n < kJavaMessageLimit ? n : kJavaMessageLimit;
    if (n < kJavaMessageLimit && text[n - 1] != '\0') m = n + 1;
    text[m - 1] = '\0';
    int i = m - 2;
    for (int k = 0; k < 4 && i >= 0 && text[i] == '\0'; ++k) --i;
    if (i >= 0 && text[i] == '\n') text[i] = '\0';
}

}  // namespace vok::java
