// The reading state of one recording: its byte stream and the values that
// the preamble and the block-start records set for the records that follow
// (revisions, scales, sample rate, running sample time, the tag word read
// ahead).  The record decoders work on this state; the file object owns it.
#pragma once

#include <cstdint>
#include <memory>

#include "format/InputStream.h"
#include "vokapi.h"

namespace vok {

// The file's one message text buffer: a length and room for 500 bytes, laid
// out as an LString so that Event.message can point at it.
struct MessageBuffer {
    static constexpr int kCapacity = 500;
    std::int16_t length = 0;
    char text[kCapacity] = {};

    LString* asLString() { return reinterpret_cast<LString*>(this); }
};
static_assert(offsetof(MessageBuffer, text) == offsetof(LString, c),
              "MessageBuffer must look like an LString");

struct RecordReader {
    std::unique_ptr<InputStream> stream;
    bool good = true;            // the stream can be read
    bool open = true;            // the stream exists
    bool endOfPreamble = false;  // "ENDP:\n" was read
    std::uint16_t revision = 0;         // from "VERSION: TARNVIK MK "
    std::uint16_t trackerRevision = 1;  // from "SOURCE: TARNVIK"
    std::uint16_t recordingModeWord = 0;
    std::uint16_t filterWord = 0;
    float gazeScale = 1.0f;
    float velocityScale = 10.0f;
    float sampleRate = 250.0f;
    std::uint32_t runningTime = 0;  // time of the last sample decoded in sequence
    std::uint16_t pendingTag = 0;   // tag word read but not yet decoded; 0 none
    bool messageTimeOffsets = false;
    MessageBuffer message;
};

}  // namespace vok
