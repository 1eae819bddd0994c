#include "load/Consistency.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/Log.h"

namespace vok {

namespace {

using Position = std::int64_t;  // a position in the index, -1 for none

std::uint64_t recordingKey(RecordingInfo* record) {
    ItemEntry e{};
    e.code = RECORDING_INFO;
    e.recording = record;
    return sortKey(e);
}

// The per-eye steps index their state with slot - 1; entries of no known eye
// take no part in them.
inline bool hasEye(const ItemEntry& e) {
    const int slot = eyeSlot(e);
    return slot == 1 || slot == 2;
}
inline int eyeIndex(const ItemEntry& e) { return eyeSlot(e) - 1; }

inline std::uint32_t timeOf(const ItemEntry& e) { return static_cast<std::uint32_t>(sortKey(e) >> 1); }

}  // namespace

void markMergedNeighbours(RecordingList& recordings) {
    RecordingInfo* previous = nullptr;
    for (auto& owned : recordings) {
        RecordingInfo* current = owned.get();
        if (current == nullptr) continue;
        if (previous != nullptr) {
            // Keys as they stand: a predecessor merged with its own
            // predecessor already carries its bump.
            const auto d = static_cast<std::int32_t>(
                static_cast<std::uint32_t>(recordingKey(current) - recordingKey(previous)));
            if (d > -6 && d < 6) previous->merged = current->merged = 1;
        }
        previous = current;
    }
}

void mendGapEvents(ItemIndex& index) {
    const Position n = static_cast<Position>(index.size());
    Position S = -1;  // last recording start
    Position E = -1;  // last recording end
    std::vector<std::uint32_t> waiting;  // start events waiting for the next recording start
    bool blinkMoved = false;
    for (Position i = 0; i < n; ++i) {
        ItemEntry& e = index[static_cast<std::size_t>(i)];
        const int type = itemType(e);
        if (type == RECORDING_INFO) {
            if (e.recording == nullptr) continue;
            if (e.recording->state != 0) {
                S = i;
            } else {
                E = i;
            }
            if (S > E && !waiting.empty()) {
                const std::uint64_t key = sortKey(index[static_cast<std::size_t>(S)]);
                for (std::uint32_t p : waiting) {
                    index[p].timeHalfMs = key;
                    index[p].code |= kMarkA;
                }
                waiting.clear();
            }
            continue;
        }
        if (type < SBLINK || type > EFIX || S < 0 || E < 0) continue;
        const bool inGap = E >= S && sortKey(e) > sortKey(index[static_cast<std::size_t>(E)]);
        if (inGap) {
            switch (type) {
                case SBLINK:
                    waiting.push_back(static_cast<std::uint32_t>(i));
                    blinkMoved = true;
                    break;
                case SSACC:
                case SFIX:
                    waiting.push_back(static_cast<std::uint32_t>(i));
                    break;
                default:  // EBLINK, ESACC, EFIX
                    e.timeHalfMs = sortKey(index[static_cast<std::size_t>(E)]);
                    e.code |= kMarkA;
                    break;
            }
        }
        // The first blink end after a moved blink start tells the item
        // decoder to look for the start anew.
        if (type == EBLINK && blinkMoved) {
            e.code |= kMarkB;
            blinkMoved = false;
        }
    }
}

bool placeSamplesAndPairBlinks(ItemIndex& index, bool repair) {
    const std::size_t n = index.size();
    // Removed samples are compacted out in this same walk: positions kept
    // below (S, E, the orphan) are positions in the compacted index.
    std::size_t w = 0;
    bool inside = false;
    Position S = -1, E = -1;
    bool endMoved = false;
    bool startOpen[2] = {false, false};
    bool endSeen[2] = {false, false};
    Position orphan = -1;  // last blink end without a start, any eye

    for (std::size_t r = 0; r < n; ++r) {
        ItemEntry e = index[r];
        const int kind = itemKind(e);
        const int type = itemType(e);
        if (kind == kKindRecording) {
            if (e.recording != nullptr) {
                if (e.recording->state != 0) {
                    S = static_cast<Position>(w);
                    inside = true;
                } else {
                    E = static_cast<Position>(w);
                    inside = false;
                }
            }
            startOpen[0] = startOpen[1] = endSeen[0] = endSeen[1] = false;
        } else if (kind == kKindSample) {
            if (!inside) {
                // Not inside means the last recording item was an end, so E > S.
                if (S >= 0 && E > 0 && E > S &&
                    sortKey(index[static_cast<std::size_t>(E)]) == sortKey(index[static_cast<std::size_t>(S)])) {
                    // The end belongs before the start that shares its time.
                    std::rotate(index.begin() + S, index.begin() + E, index.begin() + E + 1);
                    if (orphan == E) {
                        orphan = S;
                    } else if (orphan >= S && orphan < E) {
                        ++orphan;
                    }
                    E = S;
                    S = S + 1;
                    inside = true;
                    endMoved = true;
                } else {
                    log("WARNING: VOK FILE MAY BE CORRUPTED. Sample at %d found without start recording. "
                        "Skipping this sample \n",
                        static_cast<int>(timeOf(e)));
                    continue;
                }
            }
        } else if ((type == SBLINK || type == EBLINK) && hasEye(e)) {
            const int eye = eyeIndex(e);
            if (type == SBLINK) {
                if (startOpen[eye]) log("No matching EBLINK found for SBLINK  %u \n", static_cast<unsigned>(timeOf(e)));
                startOpen[eye] = true;
                if (repair && orphan != -1 && endSeen[eye]) {
                    // The start of the orphan blink end was stamped late: it
                    // moves to the orphan's key.
                    startOpen[eye] = endSeen[eye] = false;
                    e.timeHalfMs = sortKey(index[static_cast<std::size_t>(orphan)]);
                    e.code |= kMarkA;
                }
            } else {
                if (endSeen[eye]) log("found EBLINK  with no SBLINK %u \n", static_cast<unsigned>(timeOf(e)));
                endSeen[eye] = true;
            }
            if (endSeen[eye]) {
                if (startOpen[eye]) {
                    startOpen[eye] = endSeen[eye] = false;  // a complete blink
                } else {
                    orphan = static_cast<Position>(w);
                }
            }
        }
        index[w++] = e;
    }
    index.resize(w);
    return endMoved;
}

void joinBlinksInSaccades(ItemIndex& index) {
    struct EyeState {
        bool inSaccade = false;
        int blinkStarts = 0;
        Position lastBlinkEnd = -1;
        bool joined = false;
    };
    EyeState eyes[2];
    // Entries to remove, collected and compacted out at the end so that the
    // walk stays linear.  Positions therefore stay those of the walk, and no
    // remembered position needs to follow a removal.
    std::vector<std::uint32_t> removed;
    const std::size_t n = index.size();
    for (std::size_t i = 0; i < n; ++i) {
        ItemEntry& e = index[i];
        const int type = itemType(e);
        if (itemKind(e) == kKindRecording) {
            eyes[0] = eyes[1] = EyeState{};
            continue;
        }
        if ((type != SSACC && type != ESACC && type != SBLINK && type != EBLINK) || !hasEye(e)) continue;
        EyeState& s = eyes[eyeIndex(e)];
        switch (type) {
            case SSACC:
            case ESACC:
                s = EyeState{};
                s.inSaccade = type == SSACC;
                break;
            case EBLINK:
                if (s.joined) e.code |= kMarkB;
                s.lastBlinkEnd = static_cast<Position>(i);
                break;
            default:  // SBLINK
                ++s.blinkStarts;
                if (s.inSaccade && s.blinkStarts >= 2 && s.lastBlinkEnd >= 1) {
                    // This start and the previous end go: the two blinks become one.
                    removed.push_back(static_cast<std::uint32_t>(i));
                    removed.push_back(static_cast<std::uint32_t>(s.lastBlinkEnd));
                    --s.blinkStarts;
                    s.lastBlinkEnd = -1;
                    s.joined = true;
                }
                break;
        }
    }
    if (removed.empty()) return;
    std::sort(removed.begin(), removed.end());
    std::size_t next = 0, w = 0;
    for (std::size_t r = 0; r < n; ++r) {
        if (next < removed.size() && removed[next] == r) {
            ++next;
            continue;
        }
        index[w++] = index[r];
    }
    index.resize(w);
}

void markSamplesInBlinks(ItemIndex& index) {
    bool inBlink[2] = {false, false};
    for (ItemEntry& e : index) {
        switch (itemKind(e)) {
            case kKindRecording:
                inBlink[0] = inBlink[1] = false;
                break;
            case kKindSample:
                if (inBlink[0]) e.code |= kMarkA;
                if (inBlink[1]) e.code |= kMarkB;
                break;
            default: {
                const int type = itemType(e);
                if ((type == SBLINK || type == EBLINK) && hasEye(e)) inBlink[eyeIndex(e)] = type == SBLINK;
                break;
            }
        }
    }
}

void checkConsistency(ItemIndex& index, RecordingList& recordings, int level) {
    level &= 3;
    if (level == 0) return;
    const bool repair = level == 2;

    markMergedNeighbours(recordings);
    sortItemIndex(index);
    mendGapEvents(index);
    sortItemIndex(index);
    const bool endMoved = placeSamplesAndPairBlinks(index, repair);
    if (!repair) return;

    // After a recording end was moved in front of its start, the order the
    // walk made is kept as it is.
    if (!endMoved) sortItemIndex(index);
    joinBlinksInSaccades(index);
    markSamplesInBlinks(index);
}


}  // namespace vok
