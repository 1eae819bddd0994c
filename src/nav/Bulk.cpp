// The bulk walk of the extension API: the cursor's own step and data calls,
// many items per call, written into the caller's column arrays.
#include <cmath>
#include <cstring>
#include <limits>

#include "core/ApiBoundary.h"
#include "core/Log.h"
#include "nav/Cursor.h"
#include "nav/Trials.h"
#include "nav/VOKFile.h"
#include "vokapi_ext.h"

namespace vok {

namespace {

constexpr std::uint32_t kNoText = 0xFFFFFFFFu;

bool wants(const VOKEXT_Batch& b, std::uint32_t kind) { return (b.kinds & kind) != 0; }

// Checks the request before anything is stepped; logs what is wrong.
bool validBatch(const VOKEXT_Batch& b) {
    if (b.sampleCount > b.sampleCapacity || b.eventCount > b.eventCapacity ||
        b.recordingCount > b.recordingCapacity || b.textUsed > b.textCapacity) {
        log("vokext_read_batch: a count is beyond its capacity\n");
        return false;
    }
    if (wants(b, VOKEXT_EVENTS) && b.events == nullptr && b.eventPosition == nullptr) {
        log("vokext_read_batch: events asked for without an events or eventPosition array\n");
        return false;
    }
    if (wants(b, VOKEXT_RECORDINGS) && b.recordings == nullptr && b.recordingPosition == nullptr) {
        log("vokext_read_batch: recordings asked for without a recordings or recordingPosition array\n");
        return false;
    }
    if (b.text != nullptr && b.textCapacity < VOKEXT_TEXT_ROOM && wants(b, VOKEXT_EVENTS)) {
        log("vokext_read_batch: the text buffer holds fewer than %d bytes\n", VOKEXT_TEXT_ROOM);
        return false;
    }
    return true;
}

// Room for one more item of every kind asked for.
bool hasRoom(const VOKEXT_Batch& b) {
    if (wants(b, VOKEXT_SAMPLES) && b.sampleCount >= b.sampleCapacity) return false;
    if (wants(b, VOKEXT_EVENTS)) {
        if (b.eventCount >= b.eventCapacity) return false;
        if (b.text != nullptr && b.textCapacity - b.textUsed < VOKEXT_TEXT_ROOM) return false;
    }
    if (wants(b, VOKEXT_RECORDINGS) && b.recordingCount >= b.recordingCapacity) return false;
    return true;
}

// Writes value() into row `row` of a column that was asked for; the value is
// worked out only then.
template <typename T, typename F>
inline void put(T* column, std::size_t stride, std::uint32_t row, F value) {
    if (column == nullptr) return;
    const T v = value();
    if (stride == 0) {
        column[row] = v;
    } else {
        std::memcpy(reinterpret_cast<char*>(column) + static_cast<std::size_t>(row) * stride, &v, sizeof v);
    }
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// A measured value: NaN when the sample does not carry it or marks it.
inline float measured(float v, bool carried) {
    return carried && v != VOK_MISSING_VALUE && v != VOK_ABSENT_VALUE && std::isfinite(v) ? v : kNaN;
}
// A computed velocity: NaN when it could not be computed.
inline float computed(float v) { return v != VOK_MISSING_VALUE && std::isfinite(v) ? v : kNaN; }

// The groups of one eye a sample carries.
struct EyeGroups {
    bool pupilXY, headRef, size, gaze;
};

void writeSample(const Sample& s, std::uint32_t position, const VOKEXT_SampleColumns& c, std::uint32_t row,
                 bool nan) {
    const std::size_t st = c.stride;
    // The whole record as served, byte for byte.
    if (c.records != nullptr) std::memcpy(&c.records[row], &s, sizeof s);
    const std::uint16_t f = s.flags;
    put(c.position, st, row, [&] { return position; });
    put(c.time, st, row, [&] { return s.time; });
    put(c.timeMs, st, row, [&] { return static_cast<double>(s.time) + ((f & VOK_SAMPLE_HALFMS) ? 0.5 : 0.0); });
    put(c.flags, st, row, [&] { return f; });
    for (int e = 0; e < 2; ++e) {
        const bool eye = (f & (e == 0 ? VOK_SAMPLE_LEFT : VOK_SAMPLE_RIGHT)) != 0;
        const EyeGroups g{eye && (f & VOK_SAMPLE_PUPILXY), eye && (f & VOK_SAMPLE_HEADREF),
                          eye && (f & VOK_SAMPLE_PUPILSIZE), eye && (f & VOK_SAMPLE_GAZE)};
        auto m = [nan](float v, bool carried) { return nan ? measured(v, carried) : v; };
        auto v = [nan](float x) { return nan ? computed(x) : x; };
        put(c.pupilX[e], st, row, [&] { return m(s.pupilX[e], g.pupilXY); });
        put(c.pupilY[e], st, row, [&] { return m(s.pupilY[e], g.pupilXY); });
        put(c.headRefX[e], st, row, [&] { return m(s.headRefX[e], g.headRef); });
        put(c.headRefY[e], st, row, [&] { return m(s.headRefY[e], g.headRef); });
        put(c.pupilSize[e], st, row, [&] { return m(s.pupilSize[e], g.size); });
        put(c.gazeX[e], st, row, [&] { return m(s.gazeX[e], g.gaze); });
        put(c.gazeY[e], st, row, [&] { return m(s.gazeY[e], g.gaze); });
        put(c.gazeVelX[e], st, row, [&] { return v(s.gazeVelX[e]); });
        put(c.gazeVelY[e], st, row, [&] { return v(s.gazeVelY[e]); });
        put(c.headRefVelX[e], st, row, [&] { return v(s.headRefVelX[e]); });
        put(c.headRefVelY[e], st, row, [&] { return v(s.headRefVelY[e]); });
        put(c.pupilVelX[e], st, row, [&] { return v(s.pupilVelX[e]); });
        put(c.pupilVelY[e], st, row, [&] { return v(s.pupilVelY[e]); });
        put(c.fastGazeVelX[e], st, row, [&] { return v(s.fastGazeVelX[e]); });
        put(c.fastGazeVelY[e], st, row, [&] { return v(s.fastGazeVelY[e]); });
        put(c.fastHeadRefVelX[e], st, row, [&] { return v(s.fastHeadRefVelX[e]); });
        put(c.fastHeadRefVelY[e], st, row, [&] { return v(s.fastHeadRefVelY[e]); });
        put(c.fastPupilVelX[e], st, row, [&] { return v(s.fastPupilVelX[e]); });
        put(c.fastPupilVelY[e], st, row, [&] { return v(s.fastPupilVelY[e]); });
    }
    const bool resolution = (f & VOK_SAMPLE_RESOLUTION) != 0;
    put(c.resolutionX, st, row, [&] { return nan ? measured(s.resolutionX, resolution) : s.resolutionX; });
    put(c.resolutionY, st, row, [&] { return nan ? measured(s.resolutionY, resolution) : s.resolutionY; });
    for (int k = 0; k < 8; ++k) put(c.headData[k], st, row, [&] { return s.headData[k]; });
    put(c.input, st, row, [&] { return s.input; });
    put(c.buttons, st, row, [&] { return s.buttons; });
    put(c.headDataType, st, row, [&] { return s.headDataType; });
    put(c.errors, st, row, [&] { return s.errors; });
}

void writeEvent(const Event& e, std::uint32_t position, bool extra, VOKEXT_Batch& b) {
    const std::uint32_t row = b.eventCount++;
    if (b.events != nullptr) {
        b.events[row] = e;
        b.events[row].message = nullptr;
    }
    if (b.eventPosition != nullptr) b.eventPosition[row] = position;
    if (b.eventExtra != nullptr) b.eventExtra[row] = extra ? 1 : 0;
    std::uint32_t offset = kNoText;
    if (b.text != nullptr && e.type == MESSAGEEVENT && e.message != nullptr) {
        const LString* m = e.message;
        // The stored length, bounded by the NUL the library adds and by the
        // room every message is promised.
        std::size_t n = m->length > 0 ? static_cast<std::size_t>(m->length) : 0;
        if (const void* nul = std::memchr(m->c, 0, n)) n = static_cast<std::size_t>(static_cast<const char*>(nul) - m->c);
        if (n > VOKEXT_TEXT_ROOM - 1) n = VOKEXT_TEXT_ROOM - 1;
        offset = b.textUsed;
        std::memcpy(b.text + offset, m->c, n);
        b.text[offset + n] = '\0';
        b.textUsed += static_cast<std::uint32_t>(n + 1);
    }
    if (b.eventText != nullptr) b.eventText[row] = offset;
}

// vok_get_float_data without the trip through the exported call.
const FloatData* dataOf(VOKFile& file) {
    return apiCall<FloatData*>(nullptr, [&file] { return currentData(file); });
}

// The position groups whose velocities the sample columns show.
unsigned velocityGroupsShown(const VOKEXT_Batch& b) {
    if (!wants(b, VOKEXT_SAMPLES)) return 0;
    const VOKEXT_SampleColumns& c = b.samples;
    if (c.records != nullptr) return kVelocitiesOfAll;
    unsigned groups = 0;
    for (int e = 0; e < 2; ++e) {
        if (c.gazeVelX[e] || c.gazeVelY[e] || c.fastGazeVelX[e] || c.fastGazeVelY[e]) groups |= kVelocitiesOfGaze;
        if (c.headRefVelX[e] || c.headRefVelY[e] || c.fastHeadRefVelX[e] || c.fastHeadRefVelY[e]) {
            groups |= kVelocitiesOfHeadRef;
        }
        if (c.pupilVelX[e] || c.pupilVelY[e] || c.fastPupilVelX[e] || c.fastPupilVelY[e]) {
            groups |= kVelocitiesOfPupil;
        }
    }
    return groups;
}

// For the length of a batch, the decoder computes only the velocities the
// batch writes (and of those only what the client left switched on).
class VelocitiesShown {
public:
    VelocitiesShown(ItemDecoder& decoder, const VOKEXT_Batch& b) : decoder_(decoder), saved_(decoder.velocityGroups()) {
        decoder_.setVelocityGroups(saved_ & velocityGroupsShown(b));
    }
    ~VelocitiesShown() { decoder_.setVelocityGroups(saved_); }
    VelocitiesShown(const VelocitiesShown&) = delete;
    VelocitiesShown& operator=(const VelocitiesShown&) = delete;

private:
    ItemDecoder& decoder_;
    const unsigned saved_;
};

// Moves the cursor past the samples ahead of it without reading them, for a
// batch that takes none: stepping over a sample changes nothing else.  Only
// the plain step (the merged one interleaves extra messages by time).
void passSamples(VOKFile& file) {
    const ItemIndex& index = file.recording.items.index;
    std::uint32_t p = file.cursor.position;
    while (p < index.size() && itemKind(index[p]) == kKindSample) ++p;
    file.cursor.position = p;
}

int readBatch(VOKFile& file, VOKEXT_Batch& b) {
    const bool nan = (b.options & VOKEXT_MISSING_AS_NAN) != 0;
    const bool skipSamples = !wants(b, VOKEXT_SAMPLES) && !file.recording.extra.present;
    const VelocitiesShown velocities(file.decoder, b);
    for (;;) {
        if (!hasRoom(b)) return 1;
        if (skipSamples) passSamples(file);
        const int code = apiCall(0, [&file] { return stepCursor(file); });
        if (code == 0) return 0;
        const bool extra = currentIsExtraMessage(file);
        // The list item just stepped to; a merged extra message stands before
        // the list item at the cursor.
        const std::uint32_t position = extra ? file.cursor.position : file.cursor.position - 1;
        if (code == SAMPLE_TYPE) {
            if (!wants(b, VOKEXT_SAMPLES)) continue;
            const FloatData* d = dataOf(file);
            if (d == nullptr) {
                ++b.unreadable;
                continue;
            }
            writeSample(d->sample, position, b.samples, b.sampleCount++, nan);
        } else if (code == RECORDING_INFO) {
            if (!wants(b, VOKEXT_RECORDINGS)) continue;
            const FloatData* d = dataOf(file);
            if (d == nullptr) {
                ++b.unreadable;
                continue;
            }
            const std::uint32_t row = b.recordingCount++;
            if (b.recordings != nullptr) b.recordings[row] = d->recording;
            if (b.recordingPosition != nullptr) b.recordingPosition[row] = position;
        } else {
            if (!wants(b, VOKEXT_EVENTS)) continue;
            const FloatData* d = dataOf(file);
            if (d == nullptr) {
                ++b.unreadable;
                continue;
            }
            writeEvent(d->event, position, extra, b);
        }
    }
}

}  // namespace
}  // namespace vok

extern "C" {

VOKAPI_EXPORT int vokext_read_batch(VOKFile* file, VOKEXT_Batch* batch) {
    if (file == nullptr || batch == nullptr) {
        vok::log("vokext_read_batch: %s is NULL\n", file == nullptr ? "the handle" : "the batch");
        return -1;
    }
    return vok::apiCall(-1, [&] { return vok::validBatch(*batch) ? vok::readBatch(*file, *batch) : -1; });
}

VOKAPI_EXPORT int vokext_rewind(VOKFile* file) {
    if (file == nullptr) return -1;
    return vok::apiCall(-1, [file] {
        vok::resetCursor(*file);
        return 0;
    });
}

VOKAPI_EXPORT int vokext_set_velocities(VOKFile* file, int on) {
    if (file == nullptr) return -1;
    file->decoder.setComputeVelocities(on != 0);
    return 0;
}

VOKAPI_EXPORT int vokext_get_trial_range(VOKFile* file, int trial, uint32_t* first, uint32_t* end) {
    if (file == nullptr || first == nullptr || end == nullptr) return -1;
    return vok::apiCall(-1, [&] {
        vok::ensureTrialList(*file);
        const std::vector<vok::TrialEntry>& entries = file->trials.entries;
        if (trial < 0 || static_cast<std::size_t>(trial) >= entries.size()) return -1;
        const vok::TrialEntry& t = entries[static_cast<std::size_t>(trial)];
        *first = t.startIndex;
        *end = t.endIndex;
        return 0;
    });
}

}  // extern "C"
