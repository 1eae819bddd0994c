// Uncorrected pupil and corneal-reflection (CR) values.
//
// A sample may carry the camera's raw measurements packed into ordinary
// fields, in one of two layouts chosen per eye by the sign of pupilSize:
//  - packed (pupilSize < 0): pupilSize is the pupil area minus 32700; the
//    whole parts of the pupil and CR positions are in pupilX/Y and
//    headRefX/Y (value + 32700 = sixteenths of a camera pixel); fractions and
//    dimensions are packed into gazeX (pupil) and gazeY (CR) after scaling by
//    the recording's raw scale; the CR area is resolutionX or resolutionY
//    times that scale; a second CR may be in headData (type 196 or 200);
//  - header (otherwise): the camera window's corner is packed into `input`
//    and headData holds offsets from the window centre, areas and
//    dimensions.
//
// These functions unpack one sample and one eye.  They never fail: a null
// sample, an eye other than 0 or 1 and values that cannot be computed give
// the markers below.  The exported functions find the RawSetup of the
// recording that covers the sample's time and pass their arguments through:
//
//     vok::storePair(xy, vok::uncorrectedRawPupil(sample, eye, setup));
//
// Pupil area, CR dimension, CR2 area and raw CR2 need no RawSetup.
#pragma once

#include <array>
#include <cstdint>

#include "vokapi.h"

namespace vok {

// Per-recording values needed to unpack the raw values; the defaults hold
// when no recording covers the sample's time.
struct RawSetup {
    float rawScale = 0.0f;
    std::uint32_t windowWidth = 176;
    std::uint32_t windowHeight = 190;
};

// The recording's values, or the defaults for a null recording.
RawSetup rawSetupOf(const RecordingInfo* recording);

using RawPoint = std::array<float, 2>;  // camera pixels; 1e8 missing
using RawIntPair = std::array<int, 2>;  // dimensions or window position

inline constexpr float kRawMissingPosition = 100000000.0f;
inline constexpr int kRawMissingInt = 100000000;
inline constexpr RawPoint kRawMissingPoint{kRawMissingPosition, kRawMissingPosition};
inline constexpr RawIntPair kRawMissingPair{kRawMissingInt, kRawMissingInt};

// Writes a result pair to a client's two-element array; NULL is ignored.
template <typename T>
inline void storePair(T* out, const std::array<T, 2>& value) {
    if (out == nullptr) return;
    out[0] = value[0];
    out[1] = value[1];
}

// Pupil area: 0 when there is no pupil.
int uncorrectedPupilArea(const Sample* sample, int eye);

// CR area: in the packed layout the resolution times the raw scale, rounded
// half up; 0 when that has no 32-bit value.
int uncorrectedCrArea(const Sample* sample, int eye, const RawSetup& setup);

// Pupil and CR positions in camera pixels; 1e8 when the area is 0, a part
// is missing, or the packed word cannot be formed.
RawPoint uncorrectedRawPupil(const Sample* sample, int eye, const RawSetup& setup);
RawPoint uncorrectedRawCr(const Sample* sample, int eye, const RawSetup& setup);

// Pupil width and height: (0, 0) without a pupil; 100000000 for a part that
// is missing or cannot be unpacked.
RawIntPair pupilDimension(const Sample* sample, int eye, const RawSetup& setup);

// CR width and height from headData[7], (100000000, 100000000) for
// headDataType 200.  Not per eye.
RawIntPair crDimension(const Sample* sample);

// Top-left corner of the camera window as the integer part of its centre
// (the corner plus half the window size); 100000000 where that has no
// 32-bit value.  Not per eye.
RawIntPair windowPosition(const Sample* sample, const RawSetup& setup);

// Second CR (packed layout with headDataType 196 or 200 only): its area, 0
// when absent, and its position, 1e8 when absent.
int uncorrectedCr2Area(const Sample* sample, int eye);
RawPoint uncorrectedRawCr2(const Sample* sample, int eye);

// Result of the overlap correction: the moved pupil centre and area.
struct OverlapCorrection {
    RawPoint pupil{};
    std::uint32_t area = 0;  // 0 when the corrected area has no 32-bit value
};

inline constexpr float kOverlapMargin = 3.0f;
inline constexpr int kOverlapPasses = 5;

// Moves a pupil disc (centre, area) towards the common centroid with a CR
// disc enlarged by `margin`, in proportion to how far the enlarged disc
// reaches into the pupil, refining the weight at most passes - 1 times.  The
// pupil area is read as an unsigned 32-bit value (so a negative area is
// taken modulo 2^32).  Unchanged when either area is below 1 or a position
// is 1e8.
OverlapCorrection correctPupilOverlap(RawPoint pupil, int pupilArea, RawPoint cr, int crArea,
                                      float margin = kOverlapMargin, int passes = kOverlapPasses);

// Pupil minus 1.02 times the CR, after the overlap correction.  1e8 for a
// null sample or an eye other than 0 or 1; a missing raw position otherwise
// enters the difference as the number 1e8.
RawPoint pupilMinusCr(const Sample* sample, int eye, const RawSetup& setup);

}  // namespace vok
