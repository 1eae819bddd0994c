// Derived measures on the samples of the recording in the input, under a
// physical setup from the input: pixels per degree and the raw camera
// values of both eyes.
#include "FuzzHarness.h"

namespace {
void measure(VOKFile* file, Sample* s) {
    float xy[2];
    int wh[2];
    double ppd[2];
    for (int eye = -1; eye <= 2; ++eye) {
        vok_calculate_ppd(1279.0f, 1023.0f, s, eye, &ppd[0], &ppd[1]);
        vok_get_uncorrected_pupil_area(file, s, eye);
        vok_get_uncorrected_raw_pupil(file, s, eye, xy);
        vok_get_uncorrected_cr_area(file, s, eye);
        vok_get_uncorrected_raw_cr(file, s, eye, xy);
        vok_get_pupil_dimension(file, s, eye, wh);
        vok_get_pupil_cr(file, s, eye, xy);
        vok_get_uncorrected_cr2_area(file, s, eye);
        vok_get_uncorrected_raw_cr2(file, s, eye, xy);
    }
    vok_get_cr_dimension(file, s, wh);
    vok_get_window_position(file, s, wh);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vokfuzz::quiet();
    vokfuzz::Input in(data, size);
    const std::uint8_t options = in.u8();
    float g[10];
    in.bytes(g, sizeof g);
    vok_compute_physical_setup(g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7], g[8], g[9]);
    VOKFile* file = vokfuzz::openRecording(in.rest(), options);
    for (int steps = 0; file != nullptr && vok_get_next_data(file) != 0 && steps < 4096; ++steps) {
        if (FloatData* d = vok_get_sample_data(file)) measure(file, &d->sample);
    }
    vok_close_file(file);
    return 0;
}
