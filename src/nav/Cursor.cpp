#include "nav/Cursor.h"

#include "core/ApiBoundary.h"
#include "core/Log.h"
#include "nav/Trials.h"
#include "nav/VOKFile.h"

namespace vok {

void resetCursor(VOKFile& file) {
    Cursor& c = file.cursor;
    c.position = 0;
    c.currentRecording = nullptr;
    c.fixup = TimeFixup{0, file.recording.options.timeFixupOff()};
    c.merge = ExtraMerge{};
    if (file.recording.extra.present) c.merge.next = 0;
    file.decoder.forgetStartTimes();
}

int stepPlain(VOKFile& file) {
    Cursor& c = file.cursor;
    const ItemIndex& index = file.recording.items.index;
    if (c.position >= index.size()) return 0;
    const ItemEntry& e = index[c.position];
    const int type = itemType(e);
    if (type == RECORDING_INFO && e.recording != nullptr) {
        c.currentRecording = e.recording->state != 0 ? e.recording : nullptr;
    }
    ++c.position;
    // At the repair level the start events are decoded as they are passed, so
    // the times that mend their end events are known even when the client
    // never reads them.
    if (file.recording.options.repair() && (type == SBLINK || type == EBLINK || type == SSACC || type == SFIX)) {
        file.decoder.readItemAt(c.position - 1, c.currentRecording);
    }
    return type;
}

int currentItemType(const VOKFile& file) {
    const std::uint32_t i = file.cursor.position - 1;
    const ItemIndex& index = file.recording.items.index;
    return i < index.size() ? itemType(index[i]) : 0;
}

void applyFixup(VOKFile& file, FloatData& data, int typeCode) {
    TimeFixup& fixup = file.cursor.fixup;
    if (fixup.disabled) return;
    const Items& items = file.recording.items;
    const int kind = itemKindOfType(typeCode);
    bool justSet = false;
    if (kind == kKindEvent) {
        Event& e = data.event;
        if (fixup.base == 0) {
            fixup.base = (e.time != 0 && e.time < e.startTime) ? e.time : e.startTime;
            justSet = fixup.base != 0;
        }
    } else if (kind == kKindRecording || kind == kKindSample) {
        if (fixup.base == 0) {
            fixup.base = kind == kKindRecording ? data.recording.time : data.sample.time;
            justSet = fixup.base != 0;
        }
    } else {
        log("Unknown type %d\n", typeCode);
        return;
    }
    if (justSet) {
        // Times that stay far below the 32-bit limit need no shifting.
        if (items.largestTime < 0x3FFFFFFFu) {
            fixup.disabled = true;
            return;
        }
        log(kind == kKindEvent ? "Enabling time offset fixup \n" : "Enabling time offset fixup\n");
    }
    if (fixup.base == 0) return;
    switch (kind) {
        case kKindEvent:
            data.event.time -= items.firstRecordTime;
            data.event.startTime -= items.firstRecordTime;
            data.event.endTime -= items.firstRecordTime;
            break;
        case kKindRecording: data.recording.time -= fixup.base; break;
        default: data.sample.time -= items.firstRecordTime; break;
    }
}

std::uint64_t keyAtCursor(const VOKFile& file) {
    const ItemIndex& index = file.recording.items.index;
    if (file.cursor.position >= index.size()) return ~0ull;
    return sortKey(index[file.cursor.position]);
}

int peakItemIndex(const VOKFile& file) { return static_cast<int>(file.cursor.position); }

int getInputType(const VOKFile& file) { return static_cast<int>(file.recording.items.inputType); }

bool currentIsExtraMessage(const VOKFile& file) {
    return file.cursor.merge.pending || file.cursor.merge.decoded > 0;
}

void moveCursor(VOKFile& file, std::uint32_t position) {
    file.cursor.position = position;
    file.cursor.merge.pending = false;
    file.cursor.merge.decoded = -1;
}

void gotoIndex(VOKFile& file, int position) {
    if (position >= 0 && static_cast<std::size_t>(position) < file.recording.items.index.size()) {
        moveCursor(file, static_cast<std::uint32_t>(position));
    }
    updateCurrentTrial(file, position);
}

namespace {

// The record of the extra message returned by the last step, built afresh
// from its line so that the fixup applies to a fresh record every time.
FloatData* currentExtraData(VOKFile& file) {
    ExtraMerge& merge = file.cursor.merge;
    std::int32_t k;
    if (merge.decoded > 0) {
        k = merge.decoded - 1;
    } else {
        merge.pending = false;
        k = merge.next - 1;
    }
    if (k < 0) return nullptr;
    FloatData* data = buildExtraRecord(file.recording.extra, static_cast<std::uint32_t>(k));
    if (data == nullptr) return nullptr;
    merge.decoded = k + 1;
    // An extra message is a message event wherever it lies in the stream,
    // even before the first list item.
    applyFixup(file, *data, MESSAGEEVENT);
    return data;
}

// Kind of the current item: that of the list item before the cursor, or an
// event after a step that returned an extra message.
int currentKind(const VOKFile& file) {
    return currentIsExtraMessage(file) ? kKindEvent : itemKindOfType(currentItemType(file));
}

FloatData* currentDataOfKind(VOKFile* file, int kind) {
    if (file == nullptr || currentKind(*file) != kind) return nullptr;
    // The kind is judged by the index item, so a rejected call leaves the
    // record and the cursor alone.
    return currentData(*file);
}

// Finds the first sample item whose key is exactly target; returns its
// position or -1.  Items of one key can be of every kind, in any order, so
// the search finds the first item of the key and looks through all of them.
long findSampleWithKey(const ItemIndex& index, std::uint64_t target) {
    std::size_t lo = 0, hi = index.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (sortKey(index[mid]) < target) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    for (; lo < index.size() && sortKey(index[lo]) == target; ++lo) {
        if (itemKind(index[lo]) == kKindSample) return static_cast<long>(lo);
    }
    return -1;
}

}  // namespace

int stepCursor(VOKFile& file) {
    file.cursor.merge.decoded = -1;
    return file.recording.extra.present ? stepMerged(file) : stepPlain(file);
}

FloatData* currentData(VOKFile& file) {
    if (currentIsExtraMessage(file)) return currentExtraData(file);
    FloatData* data = file.decoder.readItemAt(file.cursor.position - 1, file.cursor.currentRecording);
    if (data != nullptr) applyFixup(file, *data, currentItemType(file));
    return data;
}

}  // namespace vok

using namespace vok;

extern "C" {

VOKAPI_EXPORT int vok_get_next_data(VOKFile* file) {
    if (file == nullptr) return 0;
    return apiCall(0, [file] { return stepCursor(*file); });
}

VOKAPI_EXPORT FloatData* vok_get_float_data(VOKFile* file) {
    if (file == nullptr) return nullptr;
    return apiCall<FloatData*>(nullptr, [file] { return currentData(*file); });
}

VOKAPI_EXPORT FloatData* vok_get_event_data(VOKFile* file) {
    return apiCall<FloatData*>(nullptr, [file] { return currentDataOfKind(file, kKindEvent); });
}

VOKAPI_EXPORT FloatData* vok_get_sample_data(VOKFile* file) {
    return apiCall<FloatData*>(nullptr, [file] { return currentDataOfKind(file, kKindSample); });
}

VOKAPI_EXPORT FloatData* vok_get_recording_data(VOKFile* file) {
    return apiCall<FloatData*>(nullptr, [file] { return currentDataOfKind(file, kKindRecording); });
}

VOKAPI_EXPORT Sample* vok_get_sample_close_to_time(VOKFile* file, unsigned int time) {
    if (file == nullptr) return nullptr;
    return apiCall<Sample*>(nullptr, [file, time]() -> Sample* {
        const long found = findSampleWithKey(file->recording.items.index, 2ull * time);
        if (found < 0) return nullptr;
        FloatData* data = file->decoder.readItemAt(static_cast<std::uint32_t>(found), file->cursor.currentRecording);
        if (data == nullptr) return nullptr;
        applyFixup(*file, *data, SAMPLE_TYPE);
        return &data->sample;
    });
}

VOKAPI_EXPORT unsigned int vok_get_element_count(VOKFile* file) {
    if (file == nullptr) return 0;
    std::size_t count = file->recording.items.index.size();
    if (file->recording.extra.count > 0) count += static_cast<std::size_t>(file->recording.extra.count);
    return static_cast<unsigned int>(count);
}

VOKAPI_EXPORT Event* vok_get_event(FloatData* data) {
    if (data == nullptr) return nullptr;
    switch (recordTag(*data)) {
        case kTagIsEvent: return &data->event;
        case kTagIsSample:
        case kTagIsRecording: return nullptr;
        default: return data->event.type != SAMPLE_TYPE && data->event.type != RECORDING_INFO ? &data->event : nullptr;
    }
}

VOKAPI_EXPORT Sample* vok_get_sample(FloatData* data) {
    if (data == nullptr) return nullptr;
    switch (recordTag(*data)) {
        case kTagIsSample: return &data->sample;
        case kTagIsEvent:
        case kTagIsRecording: return nullptr;
        default: return data->event.type == SAMPLE_TYPE ? &data->sample : nullptr;
    }
}

VOKAPI_EXPORT RecordingInfo* vok_get_recording(FloatData* data) {
    if (data == nullptr) return nullptr;
    switch (recordTag(*data)) {
        case kTagIsRecording: return &data->recording;
        case kTagIsEvent:
        case kTagIsSample: return nullptr;
        default: return data->event.type == RECORDING_INFO ? &data->recording : nullptr;
    }
}

}  // extern "C"
