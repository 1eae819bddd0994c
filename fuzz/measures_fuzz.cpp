// Derived measures on the samples of the recording in the input, under a
// physical setup from the input: pixels per degree and the raw camera
// values of both eyes.
#include "FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vokfuzz::quiet();
    vokfuzz::Input in(data, size);
    const std::uint8_t options = in.u8();
    float g[10];
    in.bytes(g, sizeof g);
    vok_compute_physical_setup(g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7], g[8], g[9]);
    std::vector<std::uint8_t> recording = in.rest();
    VOKFile* file = vokfuzz::openRecording(recording, options);
    for (int steps = 0; file != nullptr && vok_get_next_data(file) != 0 && steps < 4096; ++steps) {
        if (FloatData* d = vok_get_sample_data(file)) vokfuzz::measureSample(file, &d->sample);
    }
    vok_close_file(file);
    return 0;
}
