// Exported opening and closing, and the preamble and version calls: the
// boundary where the file object is made from what loading built.
#include <algorithm>
#include <cstring>
#include <memory>

#include "core/ApiBoundary.h"
#include "nav/VOKFile.h"
#include "vokapi_ext.h"

namespace {

// Makes a file object, has load fill its recording, and puts the cursor at
// the start; a failure leaves nothing behind and answers null with -1.
template <typename Load>
VOKFile* openWith(int* errval, Load&& load) {
    if (errval != nullptr) *errval = 0;
    VOKFile* file = vok::apiCall<VOKFile*>(nullptr, [&] {
        auto made = std::make_unique<VOKFile>();
        load(made->recording);
        vok::resetCursor(*made);
        return made.release();
    });
    if (file == nullptr && errval != nullptr) *errval = -1;
    return file;
}

vok::OpenOptions optionsOf(int consistency, int loadEvents, int loadSamples) {
    vok::OpenOptions options;
    options.consistency = consistency;
    options.loadEvents = loadEvents;
    options.loadSamples = loadSamples;
    return options;
}

}  // namespace

extern "C" {

VOKAPI_EXPORT VOKFile* vok_open_file_ex(const char* path, int consistency, int loadEvents, int loadSamples,
                                        const float* resolution, int* errval) {
    return openWith(errval, [&](vok::Recording& recording) {
        vok::openRecording(recording, path, optionsOf(consistency, loadEvents, loadSamples), resolution);
    });
}

VOKAPI_EXPORT VOKFile* vok_open_file(const char* path, int consistency, int loadEvents, int loadSamples,
                                     int* errval) {
    const float none[2] = {1e8f, 1e8f};
    return vok_open_file_ex(path, consistency, loadEvents, loadSamples, none, errval);
}

VOKAPI_EXPORT VOKFile* vokext_open_memory(const void* data, size_t size, int consistency, int loadEvents,
                                          int loadSamples, int* err) {
    return openWith(err, [&](vok::Recording& recording) {
        vok::openRecordingInMemory(recording, data, size, optionsOf(consistency, loadEvents, loadSamples));
    });
}

VOKAPI_EXPORT int vok_close_file(VOKFile* file) {
    vok::apiCall([file] { delete file; });
    return 0;
}

VOKAPI_EXPORT int vok_get_preamble_text(VOKFile* file, char* buffer, int size) {
    if (file == nullptr || buffer == nullptr) return -1;
    if (size <= 0) return 0;
    const std::string& text = file->recording.preambleText;
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return 0;
}

VOKAPI_EXPORT int vok_get_preamble_text_length(VOKFile* file) {
    if (file == nullptr || file->recording.preambleText.empty()) return 0;
    return static_cast<int>(file->recording.preambleText.size()) + 1;
}

VOKAPI_EXPORT int vok_get_revision(VOKFile* file) { return file == nullptr ? -1 : file->recording.reader.revision; }

VOKAPI_EXPORT int vok_get_tarnvik_revision(VOKFile* file) {
    return file == nullptr ? -1 : file->recording.reader.trackerRevision;
}

VOKAPI_EXPORT const char* vok_get_version(void) { return "4.2.1197.0 Windows   standalone Sep 27 2024"; }

}  // extern "C"
