// The file object: one open recording with everything the library knows
// about it.  Opening does all the loading work; the navigation layer then
// works on the object's lists and re-reads single records from its stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/RecordReader.h"
#include "load/ExtraMessages.h"
#include "load/ItemIndex.h"
#include "load/SampleWindow.h"
#include "vokapi.h"

namespace vok {

// The resolution override pair shared by every open file; (1e8, 1e8) means
// no override.  vok_open_file resets it, vok_open_file_ex may set it.  Read
// and written whole, without a lock, from any thread.
struct ResolutionOverride {
    float x, y;
};
ResolutionOverride sharedResolutionOverride();

struct OpenOptions {
    int consistency = 0;
    int loadEvents = 1;
    int loadSamples = 1;

    int level() const { return consistency & VOK_CONSISTENCY_LEVEL_MASK; }
    bool tolerant() const { return (consistency & VOK_TOLERANT_READING) != 0; }
};

enum class MagicVariant { Plain, Compressed };

// One trial: a stretch of the item index, from the item that began it to one
// past the item that ended it.
struct TrialEntry {
    RecordingInfo* recording;  // the block the trial lies in; null while open
    std::uint32_t duration;    // endTime - startTime
    std::uint32_t startTime;
    std::uint32_t endTime;
    std::uint32_t startIndex;
    std::uint32_t endIndex;
};

}  // namespace vok

// The exported header declares the handle type at global scope.
struct VOKFile {
    VOKFile(const VOKFile&) = delete;
    VOKFile& operator=(const VOKFile&) = delete;
    ~VOKFile();

    // ---- reading state ----
    vok::RecordReader reader;
    std::string preambleText;
    std::string tempFileName;  // set for a compressed recording; deleted at close
    std::uint64_t bodySize = 0;  // bytes of the record stream, when known

    // ---- options ----
    vok::OpenOptions options;
    bool repair = false;                        // consistency level 2

    // ---- what loading built ----
    vok::ItemIndex index;
    vok::RecordingList recordings;
    std::uint32_t firstRecordTime = 0;  // time of the first record read
    std::uint32_t largestTime = 0;      // largest record time read
    std::uint32_t inputType = 0;        // 1: input events; 2: samples with input words

    // ---- item assembly ----
    vok::SampleWindow window;
    FloatData itemBuffer{};  // the item most recently loaded
    // Remembered event times per eye for mending end events: saccade start,
    // saccade end, blink start, blink end, fixation start, fixation end.
    std::uint32_t startTimeMemory[6][2];

    // ---- cursor ----
    std::uint32_t cursor = 0;  // position of the next item a step returns
    bool dataNeedsReading = true;
    const RecordingInfo* currentRecording = nullptr;
    std::uint32_t fixupBase = 0;
    bool fixupDisabled = false;

    // Benchmarks switch this off to measure the walk without the velocity
    // computation; clients always get velocities.
    bool computeVelocities = true;

    // ---- trials (built on first use) ----
    std::vector<vok::TrialEntry> trials;
    std::int32_t currentTrial = -1;
    bool trialsBuilt = false;
    const char* startTrialIdentifier = nullptr;  // the caller's text, not copied
    const char* endTrialIdentifier = nullptr;
    bool inputSplit = false;  // trials delimited by input values instead of messages

    // ---- bookmarks ----
    std::vector<std::uint32_t> bookmarks;  // cursor positions, in the order set
    std::uint32_t currentBookmark = 0;     // may wrap to all ones

    // ---- extra message file ----
    vok::ExtraMessages extra;

    VOKFile();
};

namespace vok {

// Recognises a magic line (line end and terminating NUL included).
// Returns false for anything but the six accepted lines.
bool matchMagic(const char* line, MagicVariant& variant);

// Opens and loads a recording; raises VOKException on failure.  The caller
// owns the result.
VOKFile* openRecording(const char* path, const OpenOptions& options, const float* resolution);

}  // namespace vok
