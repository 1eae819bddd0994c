#include "core/VOKException.h"

#include <cstdarg>
#include <cstdio>

namespace vok {

VOKException::VOKException(const char* format, ...) {
    va_list args;
    va_start(args, format);
    // vsnprintf cuts the text at 1023 characters and always terminates it.
    std::vsnprintf(message_, sizeof message_, format, args);
    va_end(args);
}

}  // namespace vok

namespace vok {

RecordError::RecordError(int status) : VOKException("Record cannot be decoded (%d)", status), status_(status) {}

}  // namespace vok
