#include "nav/Trials.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/ApiBoundary.h"
#include "core/Log.h"
#include "nav/Cursor.h"
#include "nav/VOKFile.h"

namespace vok {

namespace {

constexpr const char* kInputPrefix = "inPut_type_";
constexpr std::size_t kInputPrefixLength = 11;

std::uint32_t itemTime(const ItemEntry& e) { return static_cast<std::uint32_t>(sortKey(e) >> 1); }

// The value of an identifier in input split mode: its decimal value when it
// is 1 to 3 characters long, else 0.
int inputValue(const char* identifier, bool& taken) {
    taken = false;
    if (identifier == nullptr) return 0;
    const std::size_t length = std::strlen(identifier);
    if (length < 1 || length > 3) return 0;
    taken = true;
    return std::atoi(identifier);
}

enum class Mark { None, Start, End };

class TrialBuilder {
public:
    explicit TrialBuilder(VOKFile& file)
        : file_(file), list_(file.trials), index_(file.recording.items.index), trials_(file.trials.entries) {}

    void run() {
        if (list_.inputSplit) takeInputValues();
        const auto n = static_cast<std::uint32_t>(index_.size());
        for (std::uint32_t i = 0; i < n; ++i) {
            const int type = itemType(index_[i]);
            if (type == MESSAGEEVENT && !list_.inputSplit) {
                mark(classifyMessage(i), i);
            } else if (type == INPUTEVENT && list_.inputSplit) {
                mark(classifyInput(i), i);
            } else if (type == RECORDING_INFO && index_[i].recording != nullptr) {
                if (index_[i].recording->state == 0) {
                    recordingEnd(i);
                } else {
                    recordingStart(i);
                }
            }
        }
        finish();
    }

private:
    void takeInputValues() {
        bool taken;
        startInput_ = inputValue(list_.startIdentifier, taken);
        if (taken) printDirect("!!!!!!!!!!!!!!!!!!!B\n");
        endInput_ = inputValue(list_.endIdentifier, taken);
        if (taken) printDirect("!!!!!!!!!!!!!!!!!!!!!!A\n");
        printDirect(" Start Input: %d\n End Input: %d\n", startInput_, endInput_);
    }

    // Item i, read into the decoder's lookup buffer.
    const FloatData* read(std::uint32_t i) {
        return file_.decoder.readItemAt(i, file_.cursor.currentRecording, ItemDecoder::Into::Lookup);
    }

    Mark classifyMessage(std::uint32_t i) {
        const char* start = list_.startIdentifier;
        const char* end = list_.endIdentifier;
        if (start == nullptr && end == nullptr) return Mark::None;
        const FloatData* data = read(i);
        if (data == nullptr || data->event.message == nullptr) return Mark::None;
        const char* text = data->event.message->c;
        if (std::strstr(text, "!V") != nullptr) return Mark::None;
        if (start != nullptr && std::strstr(text, start) != nullptr) return Mark::Start;
        if (end != nullptr && std::strstr(text, end) != nullptr) return Mark::End;
        return Mark::None;
    }

    Mark classifyInput(std::uint32_t i) {
        const FloatData* data = read(i);
        if (data == nullptr) return Mark::None;
        const std::uint16_t value = data->event.input;
        if (value == static_cast<std::uint16_t>(startInput_)) return Mark::Start;
        if (value == static_cast<std::uint16_t>(endInput_)) return Mark::End;
        return Mark::None;
    }

    void mark(Mark m, std::uint32_t i) {
        if (m == Mark::Start) {
            if (!trials_.empty()) fetchRecording();
            if (open_ && recording_ != nullptr) closeAt(i, itemTime(index_[i]));
            if (!open_) openAt(i);
        } else if (m == Mark::End) {
            if (open_ && !trials_.empty()) {
                fetchRecording();
                if (recording_ != nullptr) closeAt(i + 1, itemTime(index_[i]));
            }
        }
    }

    void recordingEnd(std::uint32_t i) {
        lastEnd_ = i;
        if (list_.startIdentifier == nullptr && list_.endIdentifier == nullptr) {
            fetchRecording();
            if (open_) closeAt(i + 1, itemTime(index_[i]));
        }
    }

    void recordingStart(std::uint32_t i) {
        // A trial still open from the previous block ends with that block.
        if (open_ && !trials_.empty() && lastEnd_ >= 0 && trials_.back().startTime < timeOf(lastEnd_)) {
            fetchRecording();
            if (recording_ != nullptr) {
                closeAt(static_cast<std::uint32_t>(lastEnd_) + 1, timeOf(lastEnd_));
                lastEnd_ = -1;
            }
        }
        lastStart_ = i;
        recording_ = index_[i].recording;
        if (!open_) openAt(i);
    }

    void finish() {
        if (trials_.empty() || !open_) return;
        if (lastEnd_ >= 0 && trials_.back().startTime < timeOf(lastEnd_)) {
            fetchRecording();
            if (recording_ != nullptr) {
                closeAt(static_cast<std::uint32_t>(lastEnd_) + 1, timeOf(lastEnd_));
                return;
            }
        }
        trials_.pop_back();
        printDirect("removed last trial\n");
    }

    std::uint32_t timeOf(std::int64_t i) const { return itemTime(index_[static_cast<std::size_t>(i)]); }

    // The recording of the block last started, when it was dropped by a close.
    // A block that starts at position 0 (the usual first item of a file)
    // counts too: otherwise every trial after the first of that block could
    // not be closed and would be lost.
    void fetchRecording() {
        if (recording_ == nullptr && lastStart_ >= 0)
            recording_ = index_[static_cast<std::size_t>(lastStart_)].recording;
    }

    void closeAt(std::uint32_t k, std::uint32_t t) {
        TrialEntry& last = trials_.back();
        last.endIndex = k;
        last.endTime = t;
        last.recording = recording_;
        last.duration = last.endTime - last.startTime;
        open_ = false;
        recording_ = nullptr;
    }

    void openAt(std::uint32_t i) {
        if (!trials_.empty() && trials_.back().recording == nullptr) return;
        trials_.push_back(TrialEntry{nullptr, 0, itemTime(index_[i]), 0, i, 0});
        open_ = true;
    }

    VOKFile& file_;
    TrialList& list_;
    const ItemIndex& index_;
    std::vector<TrialEntry>& trials_;
    bool open_ = false;
    RecordingInfo* recording_ = nullptr;
    std::int64_t lastStart_ = -1;
    std::int64_t lastEnd_ = -1;
    int startInput_ = 0;
    int endInput_ = 0;
};

}  // namespace

void buildTrialList(VOKFile& file) {
    TrialList& list = file.trials;
    list.entries.clear();
    list.built = true;
    std::fflush(stdout);
    try {
        TrialBuilder(file).run();
    } catch (...) {
        // No half-built list stays behind: the next trial call builds again.
        list.entries.clear();
        list.built = false;
        throw;
    }
}

void ensureTrialList(VOKFile& file) {
    if (!file.trials.built) buildTrialList(file);
}

const TrialEntry* currentTrialEntry(VOKFile& file) {
    ensureTrialList(file);
    const TrialList& list = file.trials;
    const std::int32_t k = list.current;
    if (k < 0 || static_cast<std::size_t>(k) >= list.entries.size()) return nullptr;
    return &list.entries[static_cast<std::size_t>(k)];
}

const RecordingInfo* recordingCoveringTime(VOKFile& file, std::uint32_t time) {
    ensureTrialList(file);
    const std::vector<TrialEntry>& entries = file.trials.entries;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->startTime <= time && time <= it->endTime) return it->recording;
    }
    return nullptr;
}

void updateCurrentTrial(VOKFile& file, std::int64_t position) {
    TrialList& list = file.trials;
    if (!list.built) return;
    for (std::size_t k = 0; k < list.entries.size(); ++k) {
        const TrialEntry& t = list.entries[k];
        if (t.startIndex <= position && position <= t.endIndex) {
            list.current = static_cast<std::int32_t>(k);
            return;
        }
    }
}

bool jumpToTrial(VOKFile& file, std::int64_t trial) {
    TrialList& list = file.trials;
    if (trial < 0 || static_cast<std::uint64_t>(trial) >= list.entries.size()) return false;
    list.current = static_cast<std::int32_t>(trial);
    moveCursor(file, list.entries[static_cast<std::size_t>(trial)].startIndex);
    return true;
}

}  // namespace vok

// ---------------------------------------------------------------------------
// Exported boundary: no exception leaves these functions.

using namespace vok;

namespace {

// Runs a trial operation that answers 0 or -1 on a built list.
template <typename Operation>
int trialCall(VOKFile* file, Operation operation) {
    if (file == nullptr) return -1;
    return apiCall(-1, [&] {
        ensureTrialList(*file);
        return operation(*file) ? 0 : -1;
    });
}

}  // namespace

extern "C" {

VOKAPI_EXPORT int vok_set_trial_identifier(VOKFile* file, const char* start, const char* end) {
    if (file == nullptr) return -1;
    return apiCall(-1, [&] {
        TrialList& list = file->trials;
        std::fflush(stdout);
        list.endIdentifier = end;
        if (end != nullptr) {
            printDirect("setTrial End:  %s\n", end);
        } else {
            printDirect("Set TrialEndMesage Empty\n");
        }
        if (start != nullptr && std::strstr(start, kInputPrefix) != nullptr) {
            // Input split mode stays on for the life of the file.
            list.inputSplit = true;
            list.startIdentifier = start + kInputPrefixLength;
            printDirect("Input Split option found :%s  %s\n", start, list.startIdentifier);
        } else {
            list.startIdentifier = start;
        }
        buildTrialList(*file);
        return 0;
    });
}

VOKAPI_EXPORT const char* vok_get_start_trial_identifier(VOKFile* file) {
    return file != nullptr ? file->trials.startIdentifier : nullptr;
}

VOKAPI_EXPORT const char* vok_get_end_trial_identifier(VOKFile* file) {
    return file != nullptr ? file->trials.endIdentifier : nullptr;
}

VOKAPI_EXPORT int vok_get_trial_count(VOKFile* file) {
    if (file == nullptr) return 0;
    return apiCall(0, [file] {
        ensureTrialList(*file);
        return static_cast<int>(file->trials.entries.size());
    });
}

VOKAPI_EXPORT int vok_jump_to_trial(VOKFile* file, int trial) {
    return trialCall(file, [trial](VOKFile& f) { return jumpToTrial(f, trial); });
}

VOKAPI_EXPORT int vok_get_trial_header(VOKFile* file, Trial* header) {
    return trialCall(file, [header](VOKFile& f) {
        const TrialEntry* entry = currentTrialEntry(f);
        if (header == nullptr || entry == nullptr) return false;
        header->recording = entry->recording;
        header->duration = entry->duration;
        header->startTime = entry->startTime;
        header->endTime = entry->endTime;
        return true;
    });
}

VOKAPI_EXPORT int vok_goto_previous_trial(VOKFile* file) {
    return trialCall(file, [](VOKFile& f) { return jumpToTrial(f, std::int64_t{f.trials.current} - 1); });
}

VOKAPI_EXPORT int vok_goto_next_trial(VOKFile* file) {
    return trialCall(file, [](VOKFile& f) { return jumpToTrial(f, std::int64_t{f.trials.current} + 1); });
}

VOKAPI_EXPORT int vok_goto_trial_with_start_time(VOKFile* file, unsigned int start_time) {
    return trialCall(file, [start_time](VOKFile& f) {
        const std::vector<TrialEntry>& entries = f.trials.entries;
        for (std::size_t k = 0; k < entries.size(); ++k) {
            if (entries[k].startTime == start_time) return jumpToTrial(f, static_cast<std::int64_t>(k));
        }
        return false;
    });
}

VOKAPI_EXPORT int vok_goto_trial_with_end_time(VOKFile* file, unsigned int end_time) {
    return trialCall(file, [end_time](VOKFile& f) {
        const std::vector<TrialEntry>& entries = f.trials.entries;
        for (std::size_t k = 0; k < entries.size(); ++k) {
            if (entries[k].endTime == end_time) return jumpToTrial(f, static_cast<std::int64_t>(k));
        }
        return false;
    });
}

}  // extern "C"
