// Exported access to the preamble and versions.
#include <algorithm>
#include <cstring>

#include "load/VOKFile.h"

extern "C" VOKAPI_EXPORT int vok_get_preamble_text(VOKFile* file, char* buffer, int size) {
    if (file == nullptr || buffer == nullptr) return -1;
    if (size <= 0) return 0;
    std::size_t n = std::min(file->preambleText.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, file->preambleText.data(), n);
    buffer[n] = '\0';
    return 0;
}

extern "C" VOKAPI_EXPORT int vok_get_preamble_text_length(VOKFile* file) {
    if (file == nullptr || file->preambleText.empty()) return 0;
    return static_cast<int>(file->preambleText.size()) + 1;
}

extern "C" VOKAPI_EXPORT int vok_get_revision(VOKFile* file) {
    return file == nullptr ? -1 : file->reader.revision;
}

extern "C" VOKAPI_EXPORT int vok_get_tarnvik_revision(VOKFile* file) {
    return file == nullptr ? -1 : file->reader.trackerRevision;
}

extern "C" VOKAPI_EXPORT const char* vok_get_version(void) {
    return "4.2.1197.0 Windows   standalone Sep 27 2024";
}
