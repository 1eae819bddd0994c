// The reading state of one recording: its byte stream and the values that
// the preamble and the block-start records set for the records that follow
// (revisions, scales, sample rate, running sample time, the tag word read
// ahead).  The record decoders work on this state; the file object owns it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/LStringBuffer.h"
#include "format/InputStream.h"
#include "vokapi.h"

namespace vok {

// A decoded message's text: a length and room for 500 bytes.
using MessageBuffer = LStringBuffer<500>;

// The values a block start sets for the records that follow it, from the
// stream position just after that block start on.
struct BlockValues {
    std::uint64_t from = 0;
    float gazeScale = 1.0f;
    float velocityScale = 10.0f;
    float sampleRate = 250.0f;
};

struct RecordReader {
    std::unique_ptr<InputStream> stream;  // null: nothing to read
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
    MessageBuffer message;  // where a message's text goes unless the caller names a buffer

    // Block values in file order, noted by the reading loop, so that a
    // record read again later is decoded with the scales of its own block
    // rather than those of the last block read.
    std::vector<BlockValues> blockValues;

    void noteBlockValues() {
        BlockValues v;
        v.from = stream ? stream->position() : 0;
        v.gazeScale = gazeScale;
        v.velocityScale = velocityScale;
        v.sampleRate = sampleRate;
        blockValues.push_back(v);
    }

    // Sets the scales and rate in force at a stream position.
    void restoreBlockValuesAt(std::uint64_t position) {
        if (blockValues.empty()) {
            gazeScale = 1.0f;
            velocityScale = 10.0f;
            sampleRate = 250.0f;
            return;
        }
        if (current_ >= blockValues.size() || position < blockValues[current_].from ||
            (current_ + 1 < blockValues.size() && position >= blockValues[current_ + 1].from)) {
            // Last entry that starts at or before position; none: the initial values.
            std::size_t lo = 0, hi = blockValues.size();
            while (lo < hi) {
                const std::size_t mid = lo + (hi - lo) / 2;
                if (blockValues[mid].from <= position) {
                    lo = mid + 1;
                } else {
                    hi = mid;
                }
            }
            if (lo == 0) {
                current_ = blockValues.size();
                gazeScale = 1.0f;
                velocityScale = 10.0f;
                sampleRate = 250.0f;
                return;
            }
            current_ = lo - 1;
        }
        const BlockValues& v = blockValues[current_];
        gazeScale = v.gazeScale;
        velocityScale = v.velocityScale;
        sampleRate = v.sampleRate;
    }

private:
    std::size_t current_ = static_cast<std::size_t>(-1);
};

}  // namespace vok
