// Fuzz target: opens any byte sequence as a recording with options taken
// from its first byte, and walks whatever opened.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vokapi.h"

namespace {
void quiet(const char*) {}

const std::string& scratchPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr ? dir : "/tmp") + "/vokapi_fuzz_" + std::to_string(getpid()) + ".vok";
    }();
    return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    vok_set_log_function(quiet);
    const int consistency = data[0] & 0x1F;
    const int loadEvents = (data[0] & 0x20) ? 0 : 1;
    const int loadSamples = (data[0] & 0x40) ? 0 : 1;
    std::FILE* f = std::fopen(scratchPath().c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);

    int err = 0;
    VOKFile* file = vok_open_file(scratchPath().c_str(), consistency, loadEvents, loadSamples, &err);
    if (file != nullptr) {
        unsigned steps = 0;
        int type;
        while ((type = vok_get_next_data(file)) != 0 && steps < 100000) {
            FloatData* d = vok_get_float_data(file);
            if (d != nullptr && type == SAMPLE_TYPE) {
                vok_get_sample_close_to_time(file, d->sample.time);
                if (vok_get_sample(d) == nullptr) std::abort();
            }
            if (d != nullptr && type == RECORDING_INFO && vok_get_recording(d) == nullptr) std::abort();
            ++steps;
        }
        vok_close_file(file);
    }
    std::remove(scratchPath().c_str());
    return 0;
}
