// Pieces shared by the commands that walk a recording: the recording blocks
// with their item counts, the trial plan that tells which trial an item
// belongs to, the cursor position, and a progress line for long walks.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vokapi.h"

namespace voktool {

struct ItemCounts {
    std::uint64_t samples = 0, fixations = 0, saccades = 0, blinks = 0, messages = 0, buttons = 0, inputs = 0;
    // Counts one stepped item by its type code.
    void count(int code);
    void add(const ItemCounts& o);
};

struct Block {
    int number = 0;  // 1-based
    RecordingInfo start{};
    std::optional<RecordingInfo> end;
    ItemCounts counts;
};

// Follows the recording-block records of a walk.  Items between blocks are
// counted as outside.
class BlockTracker {
public:
    // A RECORDING_INFO record.  Returns the block that it completed (an end
    // record, or a start that finds the previous block still open), if any.
    std::optional<Block> record(const RecordingInfo& info);
    // Counts an item in the open block (or outside) and in the totals.
    void count(int code) {
        totals_.count(code);
        (open_ ? current_.counts : outside_).count(code);
    }
    // The block still open at the end of the walk.
    std::optional<Block> finish();

    int number() const { return open_ ? current_.number : 0; }
    const ItemCounts& totals() const { return totals_; }
    const ItemCounts& outside() const { return outside_; }

private:
    bool open_ = false;
    int seen_ = 0;
    Block current_;
    ItemCounts totals_, outside_;
};

// Trials as the library builds them (with start/end identifiers, or one per
// recording block), with the item positions where they begin, so a walk can
// tell for each item which trial it lies in.
struct TrialEntry {
    std::uint32_t startIndex = 0;
    Trial header{};
    int block = 0;  // filled in by the walk
    std::string startMessage, endMessage;
};

class TrialPlan {
public:
    // Builds the trial list of a freshly opened file (cursor at 0) and puts the
    // cursor back at 0.  Identifiers may be empty (then each block is a trial).
    // The strings are kept alive by the plan, as the library holds them by
    // pointer.  Returns false with a reason when the cursor cannot be put back.
    bool build(VOKFile* file, const std::string& start, const std::string& end, std::string& reason);

    std::vector<TrialEntry>& trials() { return trials_; }
    const std::vector<TrialEntry>& trials() const { return trials_; }

    // Call before handling the list item at `position`; returns the trial
    // index (0-based) the item lies in, or -1.
    int enter(std::uint32_t position) {
        while (next_ < trials_.size() && trials_[next_].startIndex <= position) {
            current_ = static_cast<int>(next_);
            ++next_;
            justStarted_ = true;
        }
        return current_;
    }
    // Whether the trial began with the item just entered.
    bool startedHere() {
        const bool s = justStarted_;
        justStarted_ = false;
        return s;
    }
    // The trial an item with this tracker time lies in: a trial ends before
    // the first item later than its end time.
    int at(std::uint32_t rawTime) {
        if (current_ >= 0 && rawTime > trials_[static_cast<std::size_t>(current_)].header.endTime) close();
        return current_;
    }
    // Call after handling a message, input or recording item: closes the
    // current trial when this item ended it.
    void leave(int code, const FloatData* data, std::uint32_t rawTime);
    int current() const { return current_; }

    // Trial times are the tracker's; records may be served shifted by the
    // time offset fixup.  The shift of samples and events is learnt from the
    // first sample, or until one is read from the first block record (whose
    // item keys keep the tracker time; both shifts are the time of the first
    // record in all but odd files).
    void learnShift(const Sample& s) {
        if (!sampleShift_) {
            shift_ = static_cast<std::uint32_t>(s.timeHalfMs >> 1) - s.time;
            sampleShift_ = shiftKnown_ = true;
        }
    }
    void learnShift(const RecordingInfo& r) {
        if (!shiftKnown_) {
            shift_ = static_cast<std::uint32_t>(r.timeHalfMs >> 1) - r.time;
            shiftKnown_ = true;
        }
    }
    std::uint32_t tracker(std::uint32_t served) const { return served + shift_; }
    // A trial time as the records are served.
    std::uint32_t served(std::uint32_t tracker) const { return tracker - shift_; }

private:
    std::vector<TrialEntry> trials_;
    std::string start_, end_;
    bool identifiers_ = false;
    bool inputSplit_ = false;
    std::uint16_t endInput_ = 0, startInput_ = 0;
    std::size_t next_ = 0;
    int current_ = -1;
    bool justStarted_ = false;
    std::uint32_t shift_ = 0;
    bool shiftKnown_ = false, sampleShift_ = false;

    void close() { current_ = -1; }
};

// The cursor position through a bookmark (the item the next step returns).
std::optional<std::uint32_t> cursorPosition(VOKFile* file);

// A one-line progress display on standard error, shown only on a terminal.
class Progress {
public:
    Progress(std::string label, std::uint64_t total, bool enabled);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    // Also where long work notices an interrupt (throws Interrupted).
    void step(std::uint64_t done) {
        if ((done & 0xFFFF) == 0) tick(done);
    }
    void clear();

    // Whether standard error is a terminal and this thread may draw on it
    // (batch worker threads do not: the batch shows its own line).
    static bool terminal();

private:
    void tick(std::uint64_t done);
    void show(std::uint64_t done);
    std::string label_;
    std::uint64_t total_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_, last_;
};

std::string_view eyesName(int eye);     // RecordingInfo.eye: 1 left, 2 right, 3 both
std::string_view recordsName(int type); // RecordingInfo.recordType: 1 samples, 2 events, 3 both

}  // namespace voktool
