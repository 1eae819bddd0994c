// The single pass over a recording's records that builds its item index.
#pragma once

struct VOKFile;

namespace vok {

// Reads every record after the preamble once and keeps of each a 16-byte
// index entry (block starts and ends also become RecordingInfo records),
// drops what the open options exclude, fills sample gaps at the repair
// level, and sorts the index.  With tolerant set, read errors end the record
// stream instead of raising.  Raises VOKException on failure.
void preScan(VOKFile& file, bool tolerant);

}  // namespace vok
