// Uncorrected pupil and corneal-reflection values.  The arithmetic keeps the
// tracker's own widths: single precision unless a step is written with
// doubles, and every float-to-integer step checked for range.
#include "measures/RawValues.h"

#include <cmath>
#include <optional>

#include "measures/Truncation.h"

namespace vok {

namespace {

constexpr float kPackedOffset = 32700.0f;       // bias of packed pupil sizes and positions
constexpr double kPackedFraction = 0.00390625;  // packed numerators are in 1/256 pixel
constexpr double kOffsetUnits = 250.0;          // header offsets are in 1/250 pixel
constexpr double kPi = 3.14159;
constexpr float kCrScale = 1.02f;
constexpr std::int16_t kCrDimensionAbsentType = 200;
constexpr std::int16_t kCr2TypeA = 196;
constexpr std::int16_t kCr2TypeB = 200;

bool usable(const Sample* sample, int eye) { return sample != nullptr && (eye == 0 || eye == 1); }

std::size_t slot(int eye) { return static_cast<std::size_t>(eye); }

// Packed layout: pupilSize holds the area minus 32700, so it is negative.
bool packedLayout(const Sample& sample, int eye) { return sample.pupilSize[slot(eye)] < 0.0f; }

// The word packed into a gaze field: trunc(s * field + 32700) in single
// precision; nothing when the value has no 32-bit integer value.
std::optional<std::int32_t> packedWord(float scale, float field) {
    return truncToInt32(scale * field + kPackedOffset);
}

int lowByte(std::int16_t word) { return static_cast<std::uint16_t>(word) & 0xFF; }

int highByteSigned(std::int16_t word) {
    return static_cast<std::int8_t>(static_cast<std::uint16_t>(word) >> 8);
}

RawIntPair bytePair(std::int16_t word) { return {lowByte(word), highByteSigned(word)}; }

struct WindowCentre {
    float x;
    float y;
};

// Corner from `input` (x / 4 in bits 0-8, y / 8 in bits 9-15) plus half the
// window, in single precision.
WindowCentre windowCentre(const Sample& sample, const RawSetup& setup) {
    const float cornerX = static_cast<float>((sample.input & 0x1FF) * 4);
    const float cornerY = static_cast<float>((sample.input >> 9) * 8);
    return {cornerX + static_cast<float>(setup.windowWidth) * 0.5f,
            cornerY + static_cast<float>(setup.windowHeight) * 0.5f};
}

// Shared by the pupil and the CR: the packed layout combines whole parts
// with the fractions of the packed word; the header layout adds offsets to
// the window centre.
RawPoint rawPosition(const Sample& sample, int eye, const RawSetup& setup, int area, float wholeX,
                     float wholeY, float packedField, std::int16_t offsetX, std::int16_t offsetY) {
    if (area == 0) return kRawMissingPoint;
    if (packedLayout(sample, eye)) {
        if (wholeX == kRawMissingPosition || wholeY == kRawMissingPosition ||
            packedField == kRawMissingPosition) {
            return kRawMissingPoint;
        }
        const auto word = packedWord(setup.rawScale, packedField);
        if (!word) return kRawMissingPoint;
        const float numeratorX = static_cast<float>((*word >> 4) & 15) + (wholeX + kPackedOffset) * 16.0f;
        const float numeratorY = static_cast<float>(*word & 15) + (wholeY + kPackedOffset) * 16.0f;
        return {static_cast<float>(static_cast<double>(numeratorX) * kPackedFraction),
                static_cast<float>(static_cast<double>(numeratorY) * kPackedFraction)};
    }
    const WindowCentre centre = windowCentre(sample, setup);
    return {static_cast<float>(static_cast<double>(centre.x) + static_cast<double>(offsetX) / kOffsetUnits),
            static_cast<float>(static_cast<double>(centre.y) + static_cast<double>(offsetY) / kOffsetUnits)};
}

// Dimension byte of a packed word (bits 8-15).
int packedDimension(float scale, float field) {
    const auto word = packedWord(scale, field);
    return word ? (*word >> 8) & 255 : kRawMissingInt;
}

// Radius of a disc of the given area, in double, rounded to float.
float discRadius(double area) { return static_cast<float>(std::sqrt(area / kPi)); }

// How far a pupil estimate (centre q, area b) is reached into by the
// enlarged CR disc (centre r, radius rc), relative to that disc's diameter.
float overlapWeight(const RawPoint& q, float b, const RawPoint& r, float rc) {
    const float rp = discRadius(b);
    const float d =
        static_cast<float>(std::hypot(static_cast<double>(q[0] - r[0]), static_cast<double>(q[1] - r[1])));
    const float reach = rp - (d - rc);
    return static_cast<float>(static_cast<double>(reach) * 0.5 / static_cast<double>(rc));
}

float clampUnit(float w) {
    if (w < 0.0f) return 0.0f;
    if (w > 1.0f) return 1.0f;
    return w;
}

}  // namespace

RawSetup rawSetupOf(const RecordingInfo* recording) {
    if (recording == nullptr) return RawSetup{};
    return RawSetup{recording->rawScale, recording->windowWidth, recording->windowHeight};
}

int uncorrectedPupilArea(const Sample* sample, int eye) {
    if (!usable(sample, eye)) return 0;
    const float p = sample->pupilSize[slot(eye)];
    if (p <= -kPackedOffset) return 0;
    if (p < 0.0f) return truncToInt32(p + kPackedOffset).value_or(0);
    return sample->headData[4];
}

int uncorrectedCrArea(const Sample* sample, int eye, const RawSetup& setup) {
    if (!usable(sample, eye)) return 0;
    if (packedLayout(*sample, eye)) {
        const float r = eye == 0 ? sample->resolutionX : sample->resolutionY;
        const float v = r * setup.rawScale;
        // Half up: floor of the double sum.
        return truncToInt32(std::floor(static_cast<double>(v) + 0.5)).value_or(0);
    }
    return sample->headData[5];
}

RawPoint uncorrectedRawPupil(const Sample* sample, int eye, const RawSetup& setup) {
    if (!usable(sample, eye)) return kRawMissingPoint;
    const std::size_t e = slot(eye);
    return rawPosition(*sample, eye, setup, uncorrectedPupilArea(sample, eye), sample->pupilX[e],
                       sample->pupilY[e], sample->gazeX[e], sample->headData[0], sample->headData[1]);
}

RawPoint uncorrectedRawCr(const Sample* sample, int eye, const RawSetup& setup) {
    if (!usable(sample, eye)) return kRawMissingPoint;
    const std::size_t e = slot(eye);
    return rawPosition(*sample, eye, setup, uncorrectedCrArea(sample, eye, setup), sample->headRefX[e],
                       sample->headRefY[e], sample->gazeY[e], sample->headData[2], sample->headData[3]);
}

RawIntPair pupilDimension(const Sample* sample, int eye, const RawSetup& setup) {
    if (!usable(sample, eye)) return kRawMissingPair;
    if (uncorrectedPupilArea(sample, eye) == 0) return {0, 0};
    if (packedLayout(*sample, eye)) {
        const std::size_t e = slot(eye);
        const float gx = sample->gazeX[e];
        const float gy = sample->gazeY[e];
        if (gx == kRawMissingPosition || gy == kRawMissingPosition) return kRawMissingPair;
        // Width from the CR's word, height from the pupil's.
        return {packedDimension(setup.rawScale, gy), packedDimension(setup.rawScale, gx)};
    }
    return bytePair(sample->headData[6]);
}

RawIntPair crDimension(const Sample* sample) {
    if (sample == nullptr || sample->headDataType == kCrDimensionAbsentType) return kRawMissingPair;
    return bytePair(sample->headData[7]);
}

RawIntPair windowPosition(const Sample* sample, const RawSetup& setup) {
    if (sample == nullptr) return kRawMissingPair;
    const WindowCentre centre = windowCentre(*sample, setup);
    return {truncToInt32(centre.x).value_or(kRawMissingInt), truncToInt32(centre.y).value_or(kRawMissingInt)};
}

int uncorrectedCr2Area(const Sample* sample, int eye) {
    if (!usable(sample, eye)) return 0;
    // Only the packed layout carries a second CR; a NaN pupil size is not
    // packed either.
    if (!packedLayout(*sample, eye)) return 0;
    const std::int16_t type = sample->headDataType;
    if (type != kCr2TypeA && type != kCr2TypeB) return 0;
    return type == kCr2TypeB && eye == 1 ? sample->headData[7] : sample->headData[3];
}

RawPoint uncorrectedRawCr2(const Sample* sample, int eye) {
    if (uncorrectedCr2Area(sample, eye) == 0) return kRawMissingPoint;
    const std::size_t k = sample->headDataType == kCr2TypeB && eye == 1 ? 4 : 0;
    const std::int16_t fractions = sample->headData[k + 2];
    return {static_cast<float>(static_cast<double>(sample->headData[k]) +
                               static_cast<double>(highByteSigned(fractions)) / 256.0),
            static_cast<float>(static_cast<double>(sample->headData[k + 1]) +
                               static_cast<double>(lowByte(fractions)) / 256.0)};
}

OverlapCorrection correctPupilOverlap(RawPoint pupil, int pupilArea, RawPoint cr, int crArea, float margin,
                                      int passes) {
    // The pupil area is an unsigned quantity; a negative value is read modulo
    // 2^32, which the unsigned conversion defines.
    const std::uint32_t unsignedArea = static_cast<std::uint32_t>(pupilArea);
    const OverlapCorrection unchanged{pupil, unsignedArea};
    const float area = static_cast<float>(unsignedArea);
    if (area < 1.0f || crArea < 1) return unchanged;
    if (pupil[0] == kRawMissingPosition || pupil[1] == kRawMissingPosition || cr[0] == kRawMissingPosition ||
        cr[1] == kRawMissingPosition) {
        return unchanged;
    }

    const float rc = discRadius(crArea) + margin;
    const float enlargedArea = static_cast<float>(static_cast<double>(rc * rc) * kPi);
    const float total = area + enlargedArea;
    const RawPoint centroid{(area * pupil[0] + cr[0] * enlargedArea) / total,
                            (area * pupil[1] + cr[1] * enlargedArea) / total};

    float w = overlapWeight(pupil, area, cr, rc);
    if (w < 0.0f) return unchanged;
    if (w > 1.0f) w = 1.0f;
    auto blend = [&](float weight, RawPoint& p, float& a) {
        p = {(1.0f - weight) * pupil[0] + weight * centroid[0],
             (1.0f - weight) * pupil[1] + weight * centroid[1]};
        a = (1.0f - weight) * area + weight * total;
    };
    RawPoint moved{};
    float movedArea = 0.0f;
    blend(w, moved, movedArea);
    for (int refinements = 0; w > 0.0f && refinements < passes - 1; ++refinements) {
        w = clampUnit(overlapWeight(moved, movedArea, cr, rc));
        blend(w, moved, movedArea);
    }
    return OverlapCorrection{moved, truncToUint32(movedArea).value_or(0)};
}

RawPoint pupilMinusCr(const Sample* sample, int eye, const RawSetup& setup) {
    if (!usable(sample, eye)) return kRawMissingPoint;
    const RawPoint pupil = uncorrectedRawPupil(sample, eye, setup);
    const RawPoint cr = uncorrectedRawCr(sample, eye, setup);
    const OverlapCorrection corrected = correctPupilOverlap(pupil, uncorrectedPupilArea(sample, eye), cr,
                                                            uncorrectedCrArea(sample, eye, setup));
    return {corrected.pupil[0] - kCrScale * cr[0], corrected.pupil[1] - kCrScale * cr[1]};
}

}  // namespace vok
