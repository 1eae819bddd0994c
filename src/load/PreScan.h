// The single pass over a recording's records that builds its item index.
#pragma once

#include <cstdint>

#include "format/RecordReader.h"
#include "load/ItemIndex.h"

namespace vok {

// What the pass keeps and how it treats damage.
struct ScanOptions {
    int loadEvents = 1;          // 0: only block starts and ends of the events
    int loadSamples = 1;         // 0: no samples, no samples blocks
    bool repair = false;         // fill sample gaps with placeholders
    bool tolerant = false;       // read errors end the records instead of failing
    std::uint64_t bodySize = 0;  // bytes of the record stream, when known
};

// Reads every record after the preamble once and keeps of each a 16-byte
// index entry (block starts and ends also become RecordingInfo records),
// drops what the options exclude, fills sample gaps when repairing, and
// sorts the index.  Returns what it built.  Raises VOKException on failure.
//
// Damage is a policy of this loop, not of the decoders: strict, a record
// that cannot be decoded fails the pass and a short read goes through;
// tolerant, both end the records, and what was read before stays.
Items preScan(RecordReader& reader, const ScanOptions& options);

}  // namespace vok
