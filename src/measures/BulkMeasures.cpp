// Derived measures of the extension API over many samples: each value is the
// one the single-sample call gives, so the calls themselves are used.
#include <cstddef>
#include <cstdint>

#include "vokapi_ext.h"

namespace {

// The single calls take a non-const record but only read it.
Sample* record(const Sample* samples, std::uint32_t i) { return const_cast<Sample*>(samples + i); }

}  // namespace

extern "C" {

VOKAPI_EXPORT int vokext_calculate_ppd(float x_extent, float y_extent, const Sample* samples, uint32_t count,
                                       int eye, double* ppdX, double* ppdY) {
    if (count == 0) return 0;
    if (samples == nullptr) return -1;
    for (std::uint32_t i = 0; i < count; ++i) {
        double x = 0.0, y = 0.0;
        vok_calculate_ppd(x_extent, y_extent, record(samples, i), eye, &x, &y);
        if (ppdX != nullptr) ppdX[i] = x;
        if (ppdY != nullptr) ppdY[i] = y;
    }
    return 0;
}

VOKAPI_EXPORT int vokext_raw_values(VOKFile* file, const Sample* samples, uint32_t count, int eye,
                                    VOKEXT_RawColumns* out) {
    if (count == 0) return 0;
    if (samples == nullptr || out == nullptr) return -1;
    for (std::uint32_t i = 0; i < count; ++i) {
        Sample* s = record(samples, i);
        const std::size_t pair = 2 * static_cast<std::size_t>(i);
        if (out->pupilArea != nullptr) out->pupilArea[i] = vok_get_uncorrected_pupil_area(file, s, eye);
        if (out->rawPupil != nullptr) vok_get_uncorrected_raw_pupil(file, s, eye, out->rawPupil + pair);
        if (out->crArea != nullptr) out->crArea[i] = vok_get_uncorrected_cr_area(file, s, eye);
        if (out->rawCr != nullptr) vok_get_uncorrected_raw_cr(file, s, eye, out->rawCr + pair);
        if (out->pupilDimension != nullptr) vok_get_pupil_dimension(file, s, eye, out->pupilDimension + pair);
        if (out->crDimension != nullptr) vok_get_cr_dimension(file, s, out->crDimension + pair);
        if (out->windowPosition != nullptr) vok_get_window_position(file, s, out->windowPosition + pair);
        if (out->pupilCr != nullptr) vok_get_pupil_cr(file, s, eye, out->pupilCr + pair);
        if (out->cr2Area != nullptr) out->cr2Area[i] = vok_get_uncorrected_cr2_area(file, s, eye);
        if (out->rawCr2 != nullptr) vok_get_uncorrected_raw_cr2(file, s, eye, out->rawCr2 + pair);
    }
    return 0;
}

}  // extern "C"
