// Exported access to the uncorrected pupil and corneal-reflection values.
// The handle serves only to find the recording block a sample belongs to
// (through the trial list), whose raw scale and camera window the packed
// values need.
#include "core/ApiBoundary.h"
#include "measures/RawValues.h"
#include "nav/Trials.h"

namespace {

vok::RawSetup setupFor(VOKFile* file, const Sample* sample) {
    if (file == nullptr || sample == nullptr) return vok::rawSetupOf(nullptr);
    return vok::rawSetupOf(vok::apiCall<const RecordingInfo*>(
        nullptr, [&] { return vok::recordingCoveringTime(*file, sample->time); }));
}

}  // namespace

extern "C" {

VOKAPI_EXPORT int vok_get_uncorrected_pupil_area(VOKFile*, Sample* sample, int eye) {
    return vok::uncorrectedPupilArea(sample, eye);
}

VOKAPI_EXPORT void vok_get_uncorrected_raw_pupil(VOKFile* file, Sample* sample, int eye, float* xy) {
    vok::storePair(xy, vok::uncorrectedRawPupil(sample, eye, setupFor(file, sample)));
}

VOKAPI_EXPORT int vok_get_uncorrected_cr_area(VOKFile* file, Sample* sample, int eye) {
    return vok::uncorrectedCrArea(sample, eye, setupFor(file, sample));
}

VOKAPI_EXPORT void vok_get_uncorrected_raw_cr(VOKFile* file, Sample* sample, int eye, float* xy) {
    vok::storePair(xy, vok::uncorrectedRawCr(sample, eye, setupFor(file, sample)));
}

VOKAPI_EXPORT void vok_get_pupil_dimension(VOKFile* file, Sample* sample, int eye, int* wh) {
    vok::storePair(wh, vok::pupilDimension(sample, eye, setupFor(file, sample)));
}

VOKAPI_EXPORT void vok_get_cr_dimension(VOKFile*, Sample* sample, int* wh) {
    vok::storePair(wh, vok::crDimension(sample));
}

VOKAPI_EXPORT void vok_get_window_position(VOKFile* file, Sample* sample, int* xy) {
    vok::storePair(xy, vok::windowPosition(sample, setupFor(file, sample)));
}

VOKAPI_EXPORT void vok_get_pupil_cr(VOKFile* file, Sample* sample, int eye, float* xy) {
    vok::storePair(xy, vok::pupilMinusCr(sample, eye, setupFor(file, sample)));
}

VOKAPI_EXPORT int vok_get_uncorrected_cr2_area(VOKFile*, Sample* sample, int eye) {
    return vok::uncorrectedCr2Area(sample, eye);
}

VOKAPI_EXPORT void vok_get_uncorrected_raw_cr2(VOKFile*, Sample* sample, int eye, float* xy) {
    vok::storePair(xy, vok::uncorrectedRawCr2(sample, eye));
}

}  // extern "C"
