// The one exception of the loading code: a printf-formatted message of at
// most 1023 characters.  It never leaves the library: every exported
// function catches it.
#pragma once

#include <exception>

#include "core/Compiler.h"

namespace vok {

class VOKException : public std::exception {
public:
    explicit VOKException(const char* format, ...) VOK_PRINTF(2, 3);
    const char* what() const noexcept override { return message_; }

private:
    char message_[1024];
};

// Raises a VOKException unless the condition holds.
#define VOK_CHECK(condition, ...)                      \
    do {                                               \
        if (!(condition)) throw ::vok::VOKException(__VA_ARGS__); \
    } while (0)

}  // namespace vok
