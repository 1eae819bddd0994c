#include "nav/Cursor.h"

#include <exception>

#include "core/Log.h"
#include "load/ItemAssembly.h"
#include "load/VOKFile.h"
#include "nav/Trials.h"

namespace vok {

int stepPlain(VOKFile& file) {
    if (file.cursor >= file.index.size()) return 0;
    const ItemEntry& e = file.index[file.cursor];
    const int type = itemType(e);
    if (type == RECORDING_INFO && e.recording != nullptr) {
        file.currentRecording = e.recording->state != 0 ? e.recording : nullptr;
    }
    ++file.cursor;
    file.dataNeedsReading = true;
    // At the repair level the start events are decoded as they are passed, so
    // the times that mend their end events are known even when the client
    // never reads them.
    if (file.repair && (type == SBLINK || type == EBLINK || type == SSACC || type == SFIX)) readItem(file);
    return type;
}

int currentItemType(const VOKFile& file) {
    const std::uint32_t i = file.cursor - 1;
    return i < file.index.size() ? itemType(file.index[i]) : 0;
}

void applyFixup(VOKFile& file, FloatData& data, int typeCode) {
    if (file.fixupDisabled) return;
    const int kind = itemKindOfType(typeCode);
    bool justSet = false;
    if (kind == kKindEvent) {
        Event& e = data.event;
        if (file.fixupBase == 0) {
            file.fixupBase = (e.time != 0 && e.time < e.startTime) ? e.time : e.startTime;
            justSet = file.fixupBase != 0;
        }
    } else if (kind == kKindRecording || kind == kKindSample) {
        if (file.fixupBase == 0) {
            file.fixupBase = kind == kKindRecording ? data.recording.time : data.sample.time;
            justSet = file.fixupBase != 0;
        }
    } else {
        log("Unknown type %d\n", typeCode);
        return;
    }
    if (justSet) {
        // Times that stay far below the 32-bit limit need no shifting.
        if (file.largestTime < 0x3FFFFFFFu) {
            file.fixupDisabled = true;
            return;
        }
        log(kind == kKindEvent ? "Enabling time offset fixup \n" : "Enabling time offset fixup\n");
    }
    if (file.fixupBase == 0) return;
    switch (kind) {
        case kKindEvent:
            data.event.time -= file.firstRecordTime;
            data.event.startTime -= file.firstRecordTime;
            data.event.endTime -= file.firstRecordTime;
            break;
        case kKindRecording: data.recording.time -= file.fixupBase; break;
        default: data.sample.time -= file.firstRecordTime; break;
    }
}

std::uint64_t keyAtCursor(const VOKFile& file) {
    if (file.cursor >= file.index.size()) return ~0ull;
    return sortKey(file.index[file.cursor]);
}

int peakItemIndex(const VOKFile& file) { return static_cast<int>(file.cursor); }

int getInputType(const VOKFile& file) { return static_cast<int>(file.inputType); }

bool currentIsExtraMessage(const VOKFile& file) { return file.extra.pending || file.extra.decoded > 0; }

void moveCursor(VOKFile& file, std::uint32_t position) {
    file.cursor = position;
    file.dataNeedsReading = true;
    file.extra.pending = false;
    file.extra.decoded = -1;
}

void gotoIndex(VOKFile& file, int position) {
    if (position >= 0 && static_cast<std::size_t>(position) < file.index.size()) {
        moveCursor(file, static_cast<std::uint32_t>(position));
    }
    updateCurrentTrial(file, position);
}

namespace {

// The record of the extra message returned by the last step, built afresh
// from its line so that the fixup applies to a fresh record every time.
FloatData* currentExtraData(VOKFile& file) {
    ExtraMessages& extra = file.extra;
    std::int32_t k;
    if (extra.decoded > 0) {
        k = extra.decoded - 1;
    } else {
        extra.pending = false;
        k = extra.next - 1;
    }
    if (k < 0) return nullptr;
    FloatData* data = buildExtraRecord(extra, static_cast<std::uint32_t>(k));
    // An extra message is a message event wherever it lies in the stream,
    // even before the first list item.
    if (data != nullptr) applyFixup(file, *data, MESSAGEEVENT);
    return data;
}

FloatData* currentData(VOKFile* file) {
    if (file == nullptr) return nullptr;
    if (currentIsExtraMessage(*file)) return currentExtraData(*file);
    FloatData* data = readItem(*file);
    if (data != nullptr) applyFixup(*file, *data, currentItemType(*file));
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
    return currentData(file);
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
}  // namespace vok

using namespace vok;

extern "C" {

VOKAPI_EXPORT int vok_get_next_data(VOKFile* file) {
    if (file == nullptr) return 0;
    try {
        file->extra.decoded = -1;
        return file->extra.present ? stepMerged(*file) : stepPlain(*file);
    } catch (const std::exception& e) {
        log("%s\n", e.what());
    } catch (...) {
    }
    return 0;
}

VOKAPI_EXPORT FloatData* vok_get_float_data(VOKFile* file) {
    try {
        return currentData(file);
    } catch (const std::exception& e) {
        log("%s\n", e.what());
    } catch (...) {
    }
    return nullptr;
}

VOKAPI_EXPORT FloatData* vok_get_event_data(VOKFile* file) {
    try {
        return currentDataOfKind(file, kKindEvent);
    } catch (const std::exception& e) {
        log("%s\n", e.what());
    } catch (...) {
    }
    return nullptr;
}

VOKAPI_EXPORT FloatData* vok_get_sample_data(VOKFile* file) {
    try {
        return currentDataOfKind(file, kKindSample);
    } catch (const std::exception& e) {
        log("%s\n", e.what());
    } catch (...) {
    }
    return nullptr;
}

VOKAPI_EXPORT FloatData* vok_get_recording_data(VOKFile* file) {
    try {
        return currentDataOfKind(file, kKindRecording);
    } catch (const std::exception& e) {
        log("%s\n", e.what());
    } catch (...) {
    }
    return nullptr;
}

VOKAPI_EXPORT Sample* vok_get_sample_close_to_time(VOKFile* file, unsigned int time) {
    if (file == nullptr) return nullptr;
    try {
        const long found = findSampleWithKey(file->index, 2ull * time);
        if (found < 0) return nullptr;
        const std::uint32_t saved = file->cursor;
        file->cursor = static_cast<std::uint32_t>(found) + 1;
        file->dataNeedsReading = true;
        FloatData* data = readItem(*file);
        file->cursor = saved;
        if (data == nullptr) return nullptr;
        applyFixup(*file, *data, SAMPLE_TYPE);
        return &data->sample;
    } catch (const std::exception& e) {
        log("%s\n", e.what());
    } catch (...) {
    }
    return nullptr;
}

VOKAPI_EXPORT unsigned int vok_get_element_count(VOKFile* file) {
    if (file == nullptr) return 0;
    std::size_t count = file->index.size();
    if (file->extra.count > 0) count += static_cast<std::size_t>(file->extra.count);
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
