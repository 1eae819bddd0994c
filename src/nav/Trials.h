// Trials: stretches of the item index delimited by messages that carry the
// client's identifiers, by input items that carry agreed values, or, without
// identifiers, by the recording blocks themselves.
#pragma once

#include <cstdint>
#include <vector>

#include "vokapi.h"

struct VOKFile;

namespace vok {

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

// The trials of one file, built on first use.
struct TrialList {
    std::vector<TrialEntry> entries;
    std::int32_t current = -1;
    bool built = false;
    const char* startIdentifier = nullptr;  // the caller's text, not copied
    const char* endIdentifier = nullptr;
    bool inputSplit = false;  // trials delimited by input values instead of messages
};

// Builds the trial list again from the item index.  Message and input items
// are read on the way without touching the cursor or the client's record.
// The current trial keeps its value.
void buildTrialList(VOKFile& file);

// Builds the trial list when it has not been built yet.
void ensureTrialList(VOKFile& file);

// The current trial's entry, or null when the current trial is not an index
// of the list.  Builds the list first when needed.
const TrialEntry* currentTrialEntry(VOKFile& file);

// The recording of the last trial, in list order, with startTime <= time <=
// endTime; null when no trial covers the time (or that trial has none).
// Builds the list first when needed.
const RecordingInfo* recordingCoveringTime(VOKFile& file, std::uint32_t time);

// After the cursor was moved to position: when the list is built, the current
// trial becomes the first trial with startIndex <= position <= endIndex;
// with none it stays.
void updateCurrentTrial(VOKFile& file, std::int64_t position);

// Makes trial the current trial and moves the cursor to its first item.
// False (nothing changed) when trial is not an index of the list.
bool jumpToTrial(VOKFile& file, std::int64_t trial);

}  // namespace vok
