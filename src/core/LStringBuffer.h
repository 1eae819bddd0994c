// A text buffer laid out as an LString, so that Event.message can point at
// it: a 16-bit length and room for Capacity bytes.  Every message text the
// library hands out lives in one of these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vokapi.h"

namespace vok {

template <int Capacity>
struct LStringBuffer {
    static constexpr int kCapacity = Capacity;
    std::int16_t length = 0;
    char text[Capacity] = {};

    LString* asLString() {
        static_assert(offsetof(LStringBuffer, length) == offsetof(LString, length) &&
                          offsetof(LStringBuffer, text) == offsetof(LString, c),
                      "an LStringBuffer must look like an LString");
        return reinterpret_cast<LString*>(this);
    }
};

}  // namespace vok
