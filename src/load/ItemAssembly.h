// Turning index entries back into records: recordings from memory, events
// decoded again from the file, samples through the sample window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/RecordReader.h"
#include "load/Recording.h"
#include "load/SampleWindow.h"
#include "load/Velocities.h"
#include "vokapi.h"

namespace vok {

// Kind tag that the library keeps in the bytes 190-191 of every FloatData it
// hands out (padding of Sample, unused by Event and RecordingInfo), so that
// vok_get_event/sample/recording can tell the member of a library record.
constexpr std::size_t kRecordTagOffset = 190;
static_assert(offsetof(Sample, errors) + sizeof(Sample::errors) <= kRecordTagOffset &&
                  offsetof(Sample, timeHalfMs) >= kRecordTagOffset + 2,
              "the record tag must lie in the padding of Sample");
static_assert(sizeof(Event) <= kRecordTagOffset && sizeof(RecordingInfo) <= kRecordTagOffset,
              "the record tag must lie past the end of Event and RecordingInfo");
static_assert(sizeof(FloatData) >= kRecordTagOffset + 2, "the record tag must lie inside FloatData");

enum RecordTag : std::uint16_t {
    kTagNone = 0,
    kTagIsEvent = 0x5601,
    kTagIsSample = 0x5602,
    kTagIsRecording = 0x5603,
};
void setRecordTag(FloatData& data, RecordTag tag);
RecordTag recordTag(const FloatData& data);

// The item decoding of one recording: the sample window, the record buffers
// and the event start times that the repair level remembers.
class ItemDecoder {
public:
    // Where a read puts its record.  Client: the buffer whose pointer the
    // data calls hand out.  Lookup: a buffer of its own, for the readers that
    // look at an item on the way (trials, the merged step), so that they
    // leave the client's record and its text alone.
    enum class Into { Client, Lookup };

    explicit ItemDecoder(Recording& recording);
    ItemDecoder(const ItemDecoder&) = delete;
    ItemDecoder& operator=(const ItemDecoder&) = delete;

    // The item at index position i, decoded into the buffer `into`, with
    // the repairs and marks applied; null when there is no such item or it
    // cannot be read (the reason is logged).  currentRecording is the block
    // the cursor is in: samples get their velocities at its rate.
    FloatData* readItemAt(std::uint32_t i, const RecordingInfo* currentRecording, Into into = Into::Client);

    // Forgets the event start times remembered for mending end events.
    void forgetStartTimes();

    // Off, samples carry 1e8 in every velocity field (for clients that read
    // none, and benchmarks that measure the walk without them).
    void setComputeVelocities(bool on) { velocityGroups_ = on ? kVelocitiesOfAll : 0u; }

    // The position groups (kVelocitiesOf* bits) whose velocities samples
    // get; the fields of the others hold 1e8.  A walk that reads only some
    // of them is spared the rest.
    void setVelocityGroups(unsigned groups) { velocityGroups_ = groups & kVelocitiesOfAll; }
    unsigned velocityGroups() const { return velocityGroups_; }

    const SampleWindow& window() const { return window_; }

    // Reads samples from index position i onward into the sample window.
    void fillSampleWindow(std::uint32_t i);

    // The window slot holding the sample of index position i, or null.  A
    // sample the window does not hold, or holds in its last 64 slots,
    // refills the window once.
    const Sample* sampleAt(std::uint32_t i);

private:
    // sampleAt's slot index, or -1.
    int sampleSlot(std::uint32_t i);
    // Puts the velocities of window slot `slot` into sample (a copy of it
    // whose velocity fields hold 1e8) from a batch worked out for the slots
    // from it on; false when the batch form does not apply.
    bool batchedVelocities(int slot, float resX, float resY, int rate, int trackerRevision, Sample& sample);

    struct Slot {
        FloatData record{};
        MessageBuffer text;  // the text a message record points at
    };

    // Loads entry i into slot: 0 on success, -1 for an entry that cannot be
    // loaded.  Raises VOKException when an event cannot be decoded.
    int loadItem(std::uint32_t i, const RecordingInfo* currentRecording, Slot& slot);
    void mendEvent(std::uint32_t i, Event& ev);

    Recording& recording_;
    SampleWindow window_;
    Slot client_;
    Slot lookup_;
    // Remembered event times per eye for mending end events: saccade start,
    // saccade end, blink start, blink end, fixation start, fixation end.
    std::uint32_t startTimeMemory_[6][2];
    unsigned velocityGroups_ = kVelocitiesOfAll;
    NeighbourOffsets neighbourOffsets_;
    // What a sample is decoded over: zeros, velocities 1e8.
    Sample clearedSample_{};
    // The batch's velocities hold for slots [first, end) while the window
    // and the settings they were worked out with stay the same.
    struct VelocityBatch {
        std::uint64_t generation = 0;
        bool valid = false;
        int first = 0;
        int end = 0;
        std::uint32_t resXBits = 0;
        std::uint32_t resYBits = 0;
        int rate = 0;
        int trackerRevision = 0;
        unsigned groups = 0;
        SampleVelocities slots[kSlotBatch];
    };
    VelocityBatch batch_;
};

}  // namespace vok
