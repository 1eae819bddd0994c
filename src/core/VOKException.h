// The one exception of the loading code: a printf-formatted message of at
// most 1023 characters.  It never leaves the library: every exported
// function catches it.
#pragma once

#include <exception>

#include "platform/Compiler.h"

namespace vok {

class VOKException : public std::exception {
public:
    explicit VOKException(const char* format, ...) VOK_PRINTF(2, 3);
    const char* what() const noexcept override { return message_; }

private:
    char message_[1024];
};

// A record the decoders cannot read.  status says why: kUnreadable when the
// stream cannot deliver a record here (no stream, at its end, still in the
// preamble) or the record is malformed, kOtherClass when the record waiting
// is a sample and an event was asked for, or the other way round.  The
// callers that turn it into their own message catch it by this type; any
// other VOKException is a short read or a failure of the source.
class RecordError : public VOKException {
public:
    static constexpr int kUnreadable = -1;
    static constexpr int kOtherClass = -2;
    explicit RecordError(int status);
    int status() const noexcept { return status_; }

private:
    int status_;
};

// Raises a VOKException unless the condition holds.
#define VOK_CHECK(condition, ...)                      \
    do {                                               \
        if (!(condition)) throw ::vok::VOKException(__VA_ARGS__); \
    } while (0)

}  // namespace vok
