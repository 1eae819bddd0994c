// Turning index entries back into records: recordings from memory, events
// decoded again from the file, samples through the sample window.
#pragma once

#include <cstdint>

#include "vokapi.h"

struct VOKFile;

namespace vok {

// Kind tag that the library keeps in the bytes 190-191 of every FloatData it
// hands out (padding of Sample, unused by Event and RecordingInfo), so that
// vok_get_event/sample/recording can tell the member of a library record.
constexpr std::size_t kRecordTagOffset = 190;
enum RecordTag : std::uint16_t {
    kTagNone = 0,
    kTagIsEvent = 0x5601,
    kTagIsSample = 0x5602,
    kTagIsRecording = 0x5603,
};
void setRecordTag(FloatData& data, RecordTag tag);
RecordTag recordTag(const FloatData& data);

// Reads samples from index position i onward into the sample window.
void fillSampleWindow(VOKFile& file, std::uint32_t i);

// The window slot holding the sample of index position i, or null.
const Sample* sampleAt(VOKFile& file, std::uint32_t i);

// Loads entry i into the file's item buffer: 0 on success, -1 for an entry
// that cannot be loaded.  Raises VOKException when an event cannot be decoded.
int loadItem(VOKFile& file, std::uint32_t i);

// The item before the cursor, loaded into the item buffer, with the repairs
// and marks applied; null when there is none or it cannot be read.
FloatData* readItem(VOKFile& file);

}  // namespace vok
