// Diagnostics: one log function for every text the library reports, and the
// few progress lines that always go to standard output.
#pragma once

#include "platform/Compiler.h"
#include "vokapi.h"

namespace vok {

// Formats printf-style into 512 bytes (longer texts are cut) and hands the
// text to the client's callback, or writes it to standard output unchanged.
// Always returns 0.
int log(const char* format, ...) VOK_PRINTF(1, 2);

// Writes a progress line straight to standard output, bypassing the
// callback, and flushes it so that it interleaves with the client's output.
void printDirect(const char* format, ...) VOK_PRINTF(1, 2);

void setLogFunction(vok_log_function callback);

}  // namespace vok
