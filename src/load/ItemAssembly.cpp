#include "load/ItemAssembly.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "core/Log.h"
#include "core/VOKException.h"
#include "format/RecordDecoder.h"
#include "load/Velocities.h"

namespace vok {

namespace {

constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
constexpr int kRefillSlot = 448;

enum Memory { kSaccadeStart, kSaccadeEnd, kBlinkStart, kBlinkEnd, kFixationStart, kFixationEnd };

bool isBlockEnd(const ItemEntry& e) {
    const int t = itemType(e);
    return t == ENDSAMPLES || t == ENDEVENTS;
}

// Next sample entry after position i, or the index size.
std::uint32_t nextSampleEntry(const ItemIndex& index, std::uint32_t i) {
    const auto n = static_cast<std::uint32_t>(index.size());
    for (++i; i < n; ++i) {
        if (itemKind(index[i]) == kKindSample) return i;
    }
    return n;
}

void setVelocitiesMissing(Sample& s) {
    float* first = s.gazeVelX;
    float* last = s.fastPupilVelY + 2;
    for (float* v = first; v < last; ++v) *v = 1e8f;
}

int truncRate(float rate) {
    if (!(rate > -2147483648.0f && rate < 2147483648.0f)) return 0;
    return static_cast<int>(rate);
}

}  // namespace

void setRecordTag(FloatData& data, RecordTag tag) {
    std::uint16_t v = tag;
    std::memcpy(reinterpret_cast<unsigned char*>(&data) + kRecordTagOffset, &v, sizeof v);
}

RecordTag recordTag(const FloatData& data) {
    std::uint16_t v;
    std::memcpy(&v, reinterpret_cast<const unsigned char*>(&data) + kRecordTagOffset, sizeof v);
    switch (v) {
        case kTagIsEvent:
        case kTagIsSample:
        case kTagIsRecording: return static_cast<RecordTag>(v);
        default: return kTagNone;
    }
}

ItemDecoder::ItemDecoder(Recording& recording) : recording_(recording) {
    forgetStartTimes();
    setVelocitiesMissing(clearedSample_);
}

void ItemDecoder::forgetStartTimes() { std::memset(startTimeMemory_, 0xFF, sizeof startTimeMemory_); }

void ItemDecoder::fillSampleWindow(std::uint32_t i) {
    const ItemIndex& index = recording_.items.index;
    const auto n = static_cast<std::uint32_t>(index.size());
    if (i >= n || itemKind(index[i]) != kKindSample) return;
    SampleWindow& window = window_;
    RecordReader& reader = recording_.reader;
    if (window.reachesBeyond(sortKey(index[i]))) {
        window.reset();
    } else {
        window.shiftOut128();
        // Samples the window still holds need no second decoding: start at
        // the one it ends with, whose record leads on to the new ones.
        if (!window.empty()) {
            const std::uint64_t last = window.key(window.count() - 1);
            while (i < n && sortKey(index[i]) < last) i = nextSampleEntry(index, i);
            if (i >= n) return;
        }
    }

    // Each sample entry is read at its own position, with its own time, so
    // the window can never take one record for another (a seek inside the
    // stream's buffer costs nothing); between two samples that are not
    // adjacent in the file, the records in between are read so that a block
    // end stops the fill.
    while (i < n) {
        const ItemEntry& e = index[i];
        const std::uint64_t key = sortKey(e);
        if (window.full()) return;
        if (e.position == kPlaceholder) {
            window.append(placeholderSample(static_cast<std::uint32_t>(key >> 1)), key);
        } else {
            // Decoded straight into the window's next slot; groups the
            // record lacks read as on a cleared record.
            Sample& decoded = window.nextSlot();
            decoded = clearedSample_;
            reader.stream->seek(e.position);
            reader.pendingTag = e.tag;
            reader.restoreBlockValuesAt(e.position);
            try {
                decodeSample(reader, decoded, static_cast<std::uint32_t>(key >> 1));
            } catch (const RecordError&) {
                log("error reading vok file 5\n");
                throw VOKException("Error reading Sample - type");
            }
            if (recording_.options.repair() && decoded.time != static_cast<std::uint32_t>(key >> 1)) {
                window.append(placeholderSample(static_cast<std::uint32_t>(key >> 1)), key);
            } else {
                window.appendInPlace(key);
            }
        }

        const std::uint32_t next = nextSampleEntry(index, i);
        if (next >= n) return;
        const ItemEntry& ne = index[next];
        if (ne.position != kPlaceholder && e.position != kPlaceholder) {
            // Walk the records between the two samples, if any.
            for (;;) {
                const std::uint64_t at = reader.stream->position();
                if (at + 2 >= ne.position) break;  // reached it (or not in file order)
                std::uint16_t ignored;
                int tagResult;
                try {
                    tagResult = readTag(reader, &ignored);
                } catch (const VOKException&) {
                    return;  // the file ends here
                }
                if (tagResult != kTagEvent) break;
                Event ev{};
                const std::uint64_t eventPosition = reader.stream->position();
                try {
                    decodeEvent(reader, ev);
                } catch (const RecordError& failure) {
                    log("error reading vok file 4   %d %ld\n", failure.status(), static_cast<long>(eventPosition));
                    return;
                }
                if (ev.type == ENDSAMPLES || ev.type == ENDEVENTS) return;
            }
        } else if (e.position == kPlaceholder) {
            // After a placeholder, stop at a block end met in the index.
            for (std::uint32_t k = i + 1; k < next; ++k) {
                if (isBlockEnd(index[k])) return;
            }
        }
        i = next;
    }
}

int ItemDecoder::sampleSlot(std::uint32_t i) {
    const std::uint64_t key = sortKey(recording_.items.index[i]);
    int slot = window_.find(key);
    if (slot >= 0 && slot < kRefillSlot) return slot;
    if (slot < 0 && !window_.empty() && key >= window_.key(0) && key <= window_.key(window_.count() - 1)) {
        // Inside the window's range but not where the spacing puts it.
        return window_.findLinear(key);
    }
    // Near the window's end or outside it: one refill.  It reads from entry
    // i on (keeping the newest samples when it continues the window), so it
    // holds the sample afterwards, below the refill slot.
    fillSampleWindow(i);
    slot = window_.find(key);
    return slot < 0 ? window_.findLinear(key) : slot;
}

const Sample* ItemDecoder::sampleAt(std::uint32_t i) {
    const int slot = sampleSlot(i);
    return slot < 0 ? nullptr : &window_.slot(slot);
}

namespace {
std::uint32_t floatBits(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}
}  // namespace

bool ItemDecoder::batchedVelocities(int slot, float resX, float resY, int rate, int trackerRevision,
                                    Sample& sample) {
    static_assert(sizeof(SampleVelocities) ==
                      offsetof(Sample, fastPupilVelY) + sizeof sample.fastPupilVelY - offsetof(Sample, gazeVelX),
                  "the velocity fields lie together, in the batch's order");
    VelocityBatch& b = batch_;
    const std::uint32_t xBits = floatBits(resX), yBits = floatBits(resY);
    const bool current = b.valid && b.generation == window_.generation() && b.resXBits == xBits &&
                         b.resYBits == yBits && b.rate == rate && b.trackerRevision == trackerRevision &&
                         b.groups == velocityGroups_;
    if (!current || slot < b.first || slot >= b.end) {
        const int end = std::min(window_.count(), slot + kSlotBatch);
        b.valid = slotVelocities(window_, slot, end, resX, resY, rate, trackerRevision, neighbourOffsets_,
                                 velocityGroups_, b.slots);
        if (!b.valid) return false;
        b.generation = window_.generation();
        b.first = slot;
        b.end = end;
        b.resXBits = xBits;
        b.resYBits = yBits;
        b.rate = rate;
        b.trackerRevision = trackerRevision;
        b.groups = velocityGroups_;
    }
    std::memcpy(sample.gazeVelX, b.slots[slot - b.first].v, sizeof(SampleVelocities));
    return true;
}

int ItemDecoder::loadItem(std::uint32_t i, const RecordingInfo* currentRecording, Slot& into) {
    const ItemEntry& e = recording_.items.index[i];
    FloatData& out = into.record;
    switch (itemKind(e)) {
        case kKindRecording:
            std::memset(&out, 0, sizeof out);
            if (e.recording != nullptr) out.recording = *e.recording;
            setRecordTag(out, kTagIsRecording);
            return 0;
        case kKindEvent: {
            RecordReader& reader = recording_.reader;
            reader.stream->seek(e.position);
            reader.pendingTag = e.tag;
            reader.restoreBlockValuesAt(e.position);
            Event ev{};
            try {
                decodeEvent(reader, ev, &into.text);
            } catch (const RecordError& failure) {
                log("error reading vok file 4   %d %ld\n", failure.status(), static_cast<long>(e.position));
                throw VOKException("Error reading event - type(readItem)");
            }
            if (!isEventType(ev.type)) log(">>>>> FILE STRUCTURE ERROR: UNKNOWN EVENT (%d)\n", ev.type);
            std::memset(&out, 0, sizeof out);
            out.event = ev;
            setRecordTag(out, kTagIsEvent);
            return 0;
        }
        case kKindSample: {
            const int slot = sampleSlot(i);
            if (slot < 0) {
                // The window covers the key but holds no such sample.
                std::memset(&out, 0, sizeof out);
                return -1;
            }
            out.sample = window_.slot(slot);
            setVelocitiesMissing(out.sample);
            if (currentRecording != nullptr) {
                if (velocityGroups_ == 0) {
                    setRecordTag(out, kTagIsSample);
                    return 0;
                }
                const ResolutionOverride res = sharedResolutionOverride();
                const int rate = truncRate(currentRecording->sampleRate);
                const int revision = recording_.reader.trackerRevision;
                if (!batchedVelocities(slot, res.x, res.y, rate, revision, out.sample)) {
                    computeSampleVelocities(window_, out.sample, res.x, res.y, rate, revision, neighbourOffsets_,
                                            velocityGroups_);
                }
            } else {
                log("WARNING: VOK FILE MAY BE CORRUPTED. Samples %ld found without start recording \n",
                    static_cast<long>(out.sample.time));
            }
            setRecordTag(out, kTagIsSample);
            return 0;
        }
        default:
            std::memset(&out, 0, sizeof out);
            return -1;
    }
}

namespace {

// Walks back from i - 1 to the start of the blink whose end is at i.
void searchBlinkStart(const ItemIndex& index, std::uint32_t i, Event& ev) {
    const int slot = eyeSlot(index[i]);
    for (std::uint32_t k = i; k-- > 0;) {
        const ItemEntry& e = index[k];
        const int type = itemType(e);
        if (type == RECORDING_INFO) return;
        const bool paired = (type >= 1 && type <= 8) || (type >= 15 && type <= 18);
        if (!paired || eyeSlot(e) != slot) continue;
        if (type == SBLINK) {
            ev.startTime = static_cast<std::uint32_t>(sortKey(e) >> 1);
            return;
        }
        if (type == SMARK || type == STARTSAMPLES || type == STARTEVENTS) continue;
        return;
    }
}

}  // namespace

void ItemDecoder::mendEvent(std::uint32_t i, Event& ev) {
    const ItemIndex& index = recording_.items.index;
    const ItemEntry& entry = index[i];
    const int e = ev.eye == 1 ? 1 : 0;
    auto& m = startTimeMemory_;
    const auto k = static_cast<std::uint32_t>(sortKey(entry) >> 1);
    const bool movedKey = (entry.code & kMarkA) != 0;
    switch (ev.type) {
        case SBLINK:
            if (movedKey) ev.startTime = k;
            m[kBlinkStart][e] = ev.startTime;
            break;
        case EBLINK:
            if (movedKey) {
                ev.startTime = k;
            } else if (entry.code & kMarkB) {
                searchBlinkStart(index, i, ev);
            }
            m[kBlinkEnd][e] = ev.startTime;
            break;
        case SSACC:
            if (movedKey) ev.startTime = k;
            m[kSaccadeStart][e] = ev.startTime;
            break;
        case ESACC:
            m[kSaccadeEnd][e] = ev.startTime;
            if (m[kBlinkStart][e] != kEmpty && m[kBlinkEnd][e] != kEmpty &&
                m[kSaccadeStart][e] != m[kSaccadeEnd][e] && m[kSaccadeStart][e] != kEmpty) {
                ev.startTime = m[kSaccadeStart][e];
            }
            m[kSaccadeStart][e] = m[kSaccadeEnd][e] = m[kBlinkStart][e] = m[kBlinkEnd][e] = kEmpty;
            break;
        case SFIX:
            m[kFixationStart][e] = ev.startTime;
            break;
        case EFIX:
            m[kFixationEnd][e] = ev.startTime;
            if (m[kFixationStart][e] != kEmpty && m[kFixationStart][e] != ev.startTime) {
                ev.startTime = m[kFixationStart][e];
            }
            m[kFixationStart][e] = m[kFixationEnd][e] = kEmpty;
            break;
        default:
            break;
    }
}

FloatData* ItemDecoder::readItemAt(std::uint32_t i, const RecordingInfo* currentRecording, Into into) {
    const ItemIndex& index = recording_.items.index;
    if (i >= index.size()) return nullptr;
    Slot& slot = into == Into::Client ? client_ : lookup_;
    try {
        if (loadItem(i, currentRecording, slot) != 0) {
            log("Read error \n");
            return nullptr;
        }
    } catch (const VOKException& e) {
        log("Error %s \n", e.what());
        return nullptr;
    }
    const ItemEntry& entry = index[i];
    FloatData& out = slot.record;
    const int kind = itemKind(entry);
    if (kind == kKindEvent && recording_.options.repair()) {
        mendEvent(i, out.event);
    } else if (kind == kKindSample) {
        Sample& s = out.sample;
        if (entry.code & kMarkA) s.gazeX[0] = s.gazeY[0] = 1e8f;
        if (entry.code & kMarkB) s.gazeX[1] = s.gazeY[1] = 1e8f;
        if (sortKey(entry) != 2ull * s.time) s.flags |= VOK_SAMPLE_HALFMS;
    }
    return &out;
}

}  // namespace vok
