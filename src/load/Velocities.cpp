#include "load/Velocities.h"

#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vok {

namespace {

constexpr float kMissing = 1e8f;
constexpr int kNeighbourReach = 19;  // neighbours on each side
// Pupil sizes below this count as a lost eye.
constexpr float kMinPupilSize = 15.0f;
// Head-referenced positions are in units of a plane 15000 units from the eye.
constexpr float kHeadRefDistance = 15000.0f;
constexpr double kDegreesPerRadian = 57.2958;
constexpr double kMinResolution = 0.01;
constexpr double kMaxResolution = 10000.0;

bool present(float value) { return value != kMissing; }

bool usableResolution(float r) { return r > kMinResolution && r < kMaxResolution; }

// Offset in half-milliseconds of the neighbour j periods away, or false when
// it cannot be represented (a rate of 0 or below gives an infinite or
// negative period).
bool neighbourOffset(int j, float period, std::uint64_t& offset) {
    const float halfPeriods = std::trunc(static_cast<float>(j) * period * 2.0f);
    // 2^64 as a float: every value below it fits in the offset.
    constexpr float kLimit = 18446744073709551616.0f;
    if (!(halfPeriods >= 0.0f && halfPeriods < kLimit)) return false;  // NaN fails too
    offset = static_cast<std::uint64_t>(halfPeriods);
    return true;
}

// Resolution from the head-referenced position (cx, cy): the pixels per
// degree of a flat plane at 15000 units, at that point of the plane.
void headRefResolution(float cx, float cy, float& rx, float& ry) {
    const float cx2 = cx * cx;
    const float cy2 = cy * cy;
    const float f2 = kHeadRefDistance * kHeadRefDistance;
    const double sum = static_cast<double>(cx2) + static_cast<double>(cy2) + static_cast<double>(f2);
#if defined(__SSE2__)
    // Both axes in one register: the same correctly rounded square roots
    // and divisions, side by side.
    const __m128d radicands = _mm_set_pd(static_cast<double>(cx2) + static_cast<double>(f2),
                                         static_cast<double>(cy2) + static_cast<double>(f2));
    const __m128d scaled = _mm_div_pd(_mm_div_pd(_mm_set1_pd(sum), _mm_sqrt_pd(radicands)),
                                      _mm_set1_pd(kDegreesPerRadian));
    double both[2];
    _mm_storeu_pd(both, scaled);
    rx = static_cast<float>(both[0]);
    ry = static_cast<float>(both[1]);
#else
    rx = static_cast<float>(sum / std::sqrt(static_cast<double>(cy2) + static_cast<double>(f2)) /
                            kDegreesPerRadian);
    ry = static_cast<float>(sum / std::sqrt(static_cast<double>(cx2) + static_cast<double>(f2)) /
                            kDegreesPerRadian);
#endif
    if (!usableResolution(rx) || !usableResolution(ry)) {
        rx = kMissing;
        ry = kMissing;
    }
}

// The resolution one group's velocities of an eye are divided by: the
// override pair unless resX is 1e8; for head-referenced positions the one
// at the centre position (cx, cy) when both are present; else the sample's
// own when ownUsable.  (1e8, 1e8) where none serves.
inline void chooseResolution(float resX, float resY, int group, float cx, float cy, bool ownUsable,
                             const Sample& sample, float& rx, float& ry) {
    rx = kMissing;
    ry = kMissing;
    if (resX != kMissing) {
        rx = resX;
        ry = resY;
    } else if (group == kGroupHeadRef && present(cx) && present(cy)) {
        headRefResolution(cx, cy, rx, ry);
    } else if (ownUsable) {
        rx = sample.resolutionX;
        ry = sample.resolutionY;
    }
}

// A resolution a velocity can be divided by.
inline bool dividing(float r) { return r != kMissing && r > kMinResolution; }

// n when the formulas may read it for the eye: it carries the eye
// (eyeBit) with a pupil of usable size, a lost eye (pupil below 15)
// counting as a gap in every group; else null.
inline const Sample* usableFor(const Sample* n, unsigned eyeBit, int eye) {
    if (n == nullptr || (n->flags & eyeBit) == 0) return nullptr;
    if ((n->flags & VOK_SAMPLE_PUPILSIZE) != 0 && n->pupilSize[eye] < kMinPupilSize) return nullptr;
    return n;
}

float mean2(float x, float y) { return (x + y) * 0.5f; }

float mean4(const float* s) { return (((s[0] + s[1]) + s[2]) + s[3]) * 0.25f; }

// Mean of eight values as the mean of their four pair means.
float mean8(const float* s) {
    const float pairs[4] = {mean2(s[0], s[1]), mean2(s[2], s[3]), mean2(s[4], s[5]),
                            mean2(s[6], s[7])};
    return mean4(pairs);
}

}  // namespace

bool positionPair(const Sample& sample, int eye, int group, float& x, float& y) {
    x = kMissing;
    y = kMissing;
    if (eye != 0 && eye != 1) return false;
    const unsigned eyeBit = eye == 0 ? VOK_SAMPLE_LEFT : VOK_SAMPLE_RIGHT;
    if ((sample.flags & eyeBit) == 0) return false;
    if ((sample.flags & VOK_SAMPLE_PUPILSIZE) != 0 && sample.pupilSize[eye] < kMinPupilSize) {
        return true;
    }
    switch (group) {
        case kGroupGaze:
            if ((sample.flags & VOK_SAMPLE_GAZE) != 0) {
                x = sample.gazeX[eye];
                y = sample.gazeY[eye];
            }
            break;
        case kGroupHeadRef:
            if ((sample.flags & VOK_SAMPLE_HEADREF) != 0) {
                x = sample.headRefX[eye];
                y = sample.headRefY[eye];
            }
            break;
        case kGroupPupil:
            if ((sample.flags & VOK_SAMPLE_PUPILXY) != 0) {
                x = sample.pupilX[eye];
                y = sample.pupilY[eye];
            }
            break;
        default:
            break;
    }
    return true;
}

bool windowHasMissing(const float* series, int centre, int width, int count) {
    const int half = width / 2;
    // The window's last value is series[centre + half]: it must lie below count.
    if (count < width || centre - half < 0 || centre + half >= count) return true;
    for (int i = centre - half; i <= centre + half; ++i) {
        if (!present(series[i])) return true;
    }
    return false;
}

float velocityClassic(bool fast, const float* s, int n, float resolution, float rate) {
    const int h = n / 2;
    auto has = [&](int i) { return i >= 0 && i < n && present(s[i]); };
    if (!fast && n >= 6 && has(h - 2) && has(h - 1) && has(h + 1) && has(h + 2)) {
        return ((s[h + 1] - (s[h - 1] + s[h - 2])) + s[h + 2]) * rate / 6.0f / resolution;
    }
    if (has(h - 1) && has(h + 1)) return (s[h + 1] - s[h - 1]) * rate * 0.5f / resolution;
    if (has(h - 1) && has(h)) return (s[h] - s[h - 1]) * rate / resolution;
    if (has(h) && has(h + 1)) return (s[h + 1] - s[h]) * rate / resolution;
    return kMissing;
}

float velocityRateScaled(bool fast, const float* s, int n, float resolution, float rate) {
    const int h = n / 2;
    int width;
    if (rate < 500.0f) {
        width = 5;
    } else if (rate < 1000.0f) {
        width = 9;
    } else if (rate < 2000.0f) {
        width = 19;
    } else {
        width = 39;
    }
    if (windowHasMissing(s, h, width, n)) return kMissing;

    // The window check above keeps every index below inside the series.
    float a, b, c, d;
    switch (width) {
        case 5:
            a = s[h - 2];
            b = s[h - 1];
            c = s[h + 1];
            d = s[h + 2];
            break;
        case 9:
            a = mean2(s[h - 4], s[h - 3]);
            b = mean2(s[h - 2], s[h - 1]);
            c = mean2(s[h + 1], s[h + 2]);
            d = mean2(s[h + 3], s[h + 4]);
            break;
        case 19:
            a = mean4(s + (h - 9));
            b = mean4(s + (h - 5));
            c = mean4(s + (h + 2));
            d = mean4(s + (h + 6));
            break;
        default:
            a = mean8(s + (h - 19));
            b = mean8(s + (h - 11));
            c = mean8(s + (h + 4));
            d = mean8(s + (h + 12));
            break;
    }

    float v;
    if (!fast) {
        v = (c + d) - (a + b);
        v = v * 0.167f;
    } else {
        v = c - b;
        v = v * 0.5f;
    }
    if (rate >= 500.0f) {
        if (rate < 1000.0f) {
            v = v * 1.2f;
        } else if (rate < 2000.0f) {
            v = v * 1.0909091f;
        } else {
            v = v * 1.0434783f;
        }
    }
    return 250.0f / resolution * v;
}

void velocityForAxis(bool fast, int group, int rate, float resX, float resY,
                     const Neighbourhood& neighbourhood, int eye, int trackerRevision,
                     float (&outX)[2], float (&outY)[2]) {
    if (eye != 0 && eye != 1) return;
    float xs[kNeighbourhoodSize];
    float ys[kNeighbourhoodSize];
    for (int i = 0; i < kNeighbourhoodSize; ++i) {
        const Sample* neighbour = neighbourhood[static_cast<std::size_t>(i)];
        if (neighbour == nullptr) {
            xs[i] = kMissing;
            ys[i] = kMissing;
        } else {
            positionPair(*neighbour, eye, group, xs[i], ys[i]);
        }
    }
    const float cx = xs[kNeighbourhoodCentre];
    const float cy = ys[kNeighbourhoodCentre];

    outX[eye] = kMissing;
    outY[eye] = kMissing;

    float rx = kMissing;
    float ry = kMissing;
    if (resX != kMissing) {
        rx = resX;
        ry = resY;
    } else if (group == kGroupHeadRef && present(cx) && present(cy)) {
        headRefResolution(cx, cy, rx, ry);
    } else {
        const Sample* centre = neighbourhood[kNeighbourhoodCentre];
        if (centre != nullptr && usableResolution(centre->resolutionX) &&
            usableResolution(centre->resolutionY)) {
            rx = centre->resolutionX;
            ry = centre->resolutionY;
        }
    }

    const float rateF = static_cast<float>(rate);
    const bool classic = trackerRevision < 3;
    if (rx != kMissing && rx > kMinResolution) {
        outX[eye] = classic ? velocityClassic(fast, xs, kNeighbourhoodSize, rx, rateF)
                            : velocityRateScaled(fast, xs, kNeighbourhoodSize, rx, rateF);
    }
    if (ry != kMissing && ry > kMinResolution) {
        outY[eye] = classic ? velocityClassic(fast, ys, kNeighbourhoodSize, ry, rateF)
                            : velocityRateScaled(fast, ys, kNeighbourhoodSize, ry, rateF);
    }
}

void findNeighbours(const SampleWindow& window, const Sample& sample, int rate,
                    Neighbourhood& neighbourhood, int reach) {
    neighbourhood.fill(nullptr);
    neighbourhood[kNeighbourhoodCentre] = &sample;
    if (rate <= 0) return;
    if (reach > kNeighbourReach) reach = kNeighbourReach;

    const float period = static_cast<float>(1000.0 / rate);
    const std::uint64_t key = sample.timeHalfMs;
    for (int j = reach; j >= 1; --j) {
        std::uint64_t offset = 0;
        if (!neighbourOffset(j, period, offset)) continue;
        if (offset <= key) {
            const int slot = window.find(key - offset);
            if (slot >= 0) {
                neighbourhood[static_cast<std::size_t>(kNeighbourhoodCentre - j)] =
                    &window.slot(slot);
            }
        }
        if (offset <= std::numeric_limits<std::uint64_t>::max() - key) {
            const int slot = window.find(key + offset);
            if (slot >= 0) {
                neighbourhood[static_cast<std::size_t>(kNeighbourhoodCentre + j)] =
                    &window.slot(slot);
            }
        }
    }
}

namespace {

// How many neighbours on each side the chosen formula reads: the classic
// formulas use two, the rate-scaled ones half their window.  Neighbours
// further out cannot change any result, so they are neither looked up nor
// read.
int neighbourReach(int rate, int trackerRevision) {
    if (trackerRevision < 3) return 2;
    const float r = static_cast<float>(rate);
    if (r < 500.0f) return 2;
    if (r < 1000.0f) return 4;
    if (r < 2000.0f) return 9;
    return kNeighbourReach;
}

struct GroupFields {
    int group;
    std::uint16_t flag;
    float (Sample::*x)[2];
    float (Sample::*y)[2];
    float (Sample::*outX)[2];
    float (Sample::*outY)[2];
    float (Sample::*fastX)[2];
    float (Sample::*fastY)[2];
};
// In the order of kGroups.
constexpr unsigned kGroupBits[] = {kVelocitiesOfGaze, kVelocitiesOfHeadRef, kVelocitiesOfPupil};
constexpr GroupFields kGroups[] = {
    {kGroupGaze, VOK_SAMPLE_GAZE, &Sample::gazeX, &Sample::gazeY, &Sample::gazeVelX, &Sample::gazeVelY,
     &Sample::fastGazeVelX, &Sample::fastGazeVelY},
    {kGroupHeadRef, VOK_SAMPLE_HEADREF, &Sample::headRefX, &Sample::headRefY, &Sample::headRefVelX,
     &Sample::headRefVelY, &Sample::fastHeadRefVelX, &Sample::fastHeadRefVelY},
    {kGroupPupil, VOK_SAMPLE_PUPILXY, &Sample::pupilX, &Sample::pupilY, &Sample::pupilVelX, &Sample::pupilVelY,
     &Sample::fastPupilVelX, &Sample::fastPupilVelY},
};

// The classic formulas for every eye, group and axis of a sample at once:
// twelve series side by side (lane = eye * 6 + group * 2 + axis), the five
// values around the centre each (missing ones are 1e8), so that the
// divisions of the lanes run together.  The arithmetic of each lane is
// velocityClassic's, for the normal and the fast form.
constexpr int kLanes = 12;
struct ClassicLanes {
    float v[5][kLanes];
    float res[kLanes];  // 1 in a lane whose result is not wanted
};

// The classic formulas, normal and fast form, for count series side by
// side: v[k][i] is the k-th of the five values around the centre of series
// i (1e8 where missing), res[i] its resolution (1 where the result is not
// wanted).  The arithmetic of each series is velocityClassic's.  Reads and
// writes count values from each pointer; count is a multiple of 4.
#if defined(__GNUC__)
// Four series in one register; a comparison gives all bits set where true.
typedef float Floats4 __attribute__((vector_size(16)));
typedef std::int32_t Masks4 __attribute__((vector_size(16)));

inline Floats4 choose(Masks4 mask, Floats4 whereSet, Floats4 elsewhere) {
    return reinterpret_cast<Floats4>((reinterpret_cast<Masks4>(whereSet) & mask) |
                                     (reinterpret_cast<Masks4>(elsewhere) & ~mask));
}

void classicForms(const float* const (&in)[5], const float* resolutions, float rate, float* normal, float* fast,
                  int count) {
    const Floats4 missing = {kMissing, kMissing, kMissing, kMissing};
    for (int l = 0; l < count; l += 4) {
        Floats4 v[5];
        for (int k = 0; k < 5; ++k) std::memcpy(&v[k], in[k] + l, sizeof(Floats4));
        Floats4 res;
        std::memcpy(&res, resolutions + l, sizeof res);
        const Masks4 p0 = v[0] != missing, p1 = v[1] != missing, p2 = v[2] != missing, p3 = v[3] != missing,
                     p4 = v[4] != missing;
        const Masks4 central = p1 & p3;
        const Masks4 backward = p1 & p2;
        const Masks4 forward = p2 & p3;
        // Every series computes every form; the presence of its values chooses.
        const Floats4 difference = choose(central, (v[3] - v[1]) * rate * 0.5f,
                                          choose(backward, (v[2] - v[1]) * rate, (v[3] - v[2]) * rate));
        const Floats4 shortForm = choose(central | backward | forward, difference / res, missing);
        const Floats4 longForm = ((v[3] - (v[1] + v[0])) + v[4]) * rate / 6.0f / res;
        const Floats4 normalForm = choose(p0 & p1 & p3 & p4, longForm, shortForm);
        std::memcpy(fast + l, &shortForm, sizeof shortForm);
        std::memcpy(normal + l, &normalForm, sizeof normalForm);
    }
}
#else
void classicForms(const float* const (&in)[5], const float* resolutions, float rate, float* normal, float* fast,
                  int count) {
    for (int l = 0; l < count; ++l) {
        const float v0 = in[0][l], v1 = in[1][l], v2 = in[2][l], v3 = in[3][l], v4 = in[4][l];
        const bool p0 = present(v0), p1 = present(v1), p2 = present(v2), p3 = present(v3), p4 = present(v4);
        const float res = resolutions[l];
        float shortForm = kMissing;
        if (p1 && p3) {
            shortForm = (v3 - v1) * rate * 0.5f / res;
        } else if (p1 && p2) {
            shortForm = (v2 - v1) * rate / res;
        } else if (p2 && p3) {
            shortForm = (v3 - v2) * rate / res;
        }
        fast[l] = shortForm;
        normal[l] = (p0 && p1 && p3 && p4) ? ((v3 - (v1 + v0)) + v4) * rate / 6.0f / res : shortForm;
    }
}
#endif

// Loads the five values around the centre of one group of one eye into
// the lanes lane (x) and lane + 1 (y); 1e8 where a neighbour is missing,
// unusable or lacks the group.
template <float (Sample::*X)[2], float (Sample::*Y)[2]>
inline void gatherClassic(const Sample* const (&usable)[5], std::uint16_t flag, int eye, ClassicLanes& lanes,
                          int lane) {
    for (int k = 0; k < 5; ++k) {
        const Sample* n = usable[k];
        const bool has = n != nullptr && (n->flags & flag) != 0;
        lanes.v[k][lane] = has ? (n->*X)[eye] : kMissing;
        lanes.v[k][lane + 1] = has ? (n->*Y)[eye] : kMissing;
    }
}

// The classic formulas for a sample whose neighbourhood is looked up two
// positions each way.
void classicVelocities(const Neighbourhood& neighbourhood, Sample& sample, float resX, float resY, float rate,
                       unsigned groups) {
    static constexpr unsigned kEyeBits[2] = {VOK_SAMPLE_LEFT, VOK_SAMPLE_RIGHT};
    constexpr int h = kNeighbourhoodCentre;
    const bool sampleResolution = usableResolution(sample.resolutionX) && usableResolution(sample.resolutionY);
    ClassicLanes lanes;
    bool wanted[kLanes];
    for (int eye = 0; eye < 2; ++eye) {
        const int first = eye * 6;
        if ((sample.flags & kEyeBits[eye]) == 0) {
            // No series: defined values for the lane loop, no result.
            for (int l = first; l < first + 6; ++l) {
                for (auto& position : lanes.v) position[l] = kMissing;
                lanes.res[l] = 1.0f;
                wanted[l] = false;
            }
            continue;
        }
        const Sample* usable[5];
        for (int k = 0; k < 5; ++k) {
            usable[k] = usableFor(neighbourhood[static_cast<std::size_t>(h - 2 + k)], kEyeBits[eye], eye);
        }
        if (groups & kVelocitiesOfGaze) {
            gatherClassic<&Sample::gazeX, &Sample::gazeY>(usable, VOK_SAMPLE_GAZE, eye, lanes, first);
        }
        if (groups & kVelocitiesOfHeadRef) {
            gatherClassic<&Sample::headRefX, &Sample::headRefY>(usable, VOK_SAMPLE_HEADREF, eye, lanes, first + 2);
        }
        if (groups & kVelocitiesOfPupil) {
            gatherClassic<&Sample::pupilX, &Sample::pupilY>(usable, VOK_SAMPLE_PUPILXY, eye, lanes, first + 4);
        }
        for (int groupIndex = 0; groupIndex < 3; ++groupIndex) {
            const int lx = first + groupIndex * 2;
            if ((groups & kGroupBits[groupIndex]) == 0) {
                // Not wanted: defined values for the lane loop, no result.
                for (int l = lx; l < lx + 2; ++l) {
                    for (auto& position : lanes.v) position[l] = kMissing;
                    lanes.res[l] = 1.0f;
                    wanted[l] = false;
                }
                continue;
            }
            const float cx = lanes.v[2][lx];
            const float cy = lanes.v[2][lx + 1];
            float rx, ry;
            chooseResolution(resX, resY, kGroups[groupIndex].group, cx, cy, sampleResolution, sample, rx, ry);
            wanted[lx] = dividing(rx);
            wanted[lx + 1] = dividing(ry);
            lanes.res[lx] = wanted[lx] ? rx : 1.0f;
            lanes.res[lx + 1] = wanted[lx + 1] ? ry : 1.0f;
        }
    }
    float normal[kLanes];
    float fast[kLanes];
    const float* const values[5] = {lanes.v[0], lanes.v[1], lanes.v[2], lanes.v[3], lanes.v[4]};
    classicForms(values, lanes.res, rate, normal, fast, kLanes);
    for (int eye = 0; eye < 2; ++eye) {
        if ((sample.flags & kEyeBits[eye]) == 0) continue;
        const int l = eye * 6;
        const auto out = [&](int lane, const float (&form)[kLanes]) { return wanted[lane] ? form[lane] : kMissing; };
        if (groups & kVelocitiesOfGaze) {
            sample.gazeVelX[eye] = out(l, normal);
            sample.gazeVelY[eye] = out(l + 1, normal);
            sample.fastGazeVelX[eye] = out(l, fast);
            sample.fastGazeVelY[eye] = out(l + 1, fast);
        }
        if (groups & kVelocitiesOfHeadRef) {
            sample.headRefVelX[eye] = out(l + 2, normal);
            sample.headRefVelY[eye] = out(l + 3, normal);
            sample.fastHeadRefVelX[eye] = out(l + 2, fast);
            sample.fastHeadRefVelY[eye] = out(l + 3, fast);
        }
        if (groups & kVelocitiesOfPupil) {
            sample.pupilVelX[eye] = out(l + 4, normal);
            sample.pupilVelY[eye] = out(l + 5, normal);
            sample.fastPupilVelX[eye] = out(l + 4, fast);
            sample.fastPupilVelY[eye] = out(l + 5, fast);
        }
    }
}

}  // namespace

namespace {

void prepareOffsets(NeighbourOffsets& offsets, int rate) {
    if (offsets.prepared && offsets.rate == rate) return;
    offsets.rate = rate;
    offsets.prepared = true;
    const float period = static_cast<float>(1000.0 / rate);
    for (int j = 1; j <= kNeighbourReach; ++j) {
        offsets.valid[j] = rate > 0 && neighbourOffset(j, period, offsets.offset[j]);
    }
}

// findNeighbours for the positions within reach of the centre only (the
// others are neither written nor read), with the offsets prepared.
void neighboursWithin(const SampleWindow& window, const Sample& sample, const NeighbourOffsets& offsets,
                      int reach, Neighbourhood& neighbourhood) {
    constexpr int h = kNeighbourhoodCentre;
    neighbourhood[h] = &sample;
    const std::uint64_t key = sample.timeHalfMs;
    for (int j = 1; j <= reach; ++j) {
        const Sample* before = nullptr;
        const Sample* after = nullptr;
        if (offsets.rate > 0 && offsets.valid[j]) {
            const std::uint64_t offset = offsets.offset[j];
            if (offset <= key) {
                const int slot = window.find(key - offset);
                if (slot >= 0) before = &window.slot(slot);
            }
            if (offset <= std::numeric_limits<std::uint64_t>::max() - key) {
                const int slot = window.find(key + offset);
                if (slot >= 0) after = &window.slot(slot);
            }
        }
        neighbourhood[static_cast<std::size_t>(h - j)] = before;
        neighbourhood[static_cast<std::size_t>(h + j)] = after;
    }
}

}  // namespace

int computeSampleVelocities(const SampleWindow& window, Sample& sample, float resX, float resY,
                            int rate, int trackerRevision) {
    NeighbourOffsets offsets;
    return computeSampleVelocities(window, sample, resX, resY, rate, trackerRevision, offsets);
}

int computeSampleVelocities(const SampleWindow& window, Sample& sample, float resX, float resY,
                            int rate, int trackerRevision, NeighbourOffsets& offsets, unsigned groups) {
    const int reach = neighbourReach(rate, trackerRevision);
    prepareOffsets(offsets, rate);
    Neighbourhood neighbourhood;
    neighboursWithin(window, sample, offsets, reach, neighbourhood);

    const float rateF = static_cast<float>(rate);
    if (trackerRevision < 3) {
        classicVelocities(neighbourhood, sample, resX, resY, rateF, groups);
        return 0;
    }
    static constexpr unsigned kEyeBits[2] = {VOK_SAMPLE_LEFT, VOK_SAMPLE_RIGHT};
    constexpr int h = kNeighbourhoodCentre;
    const bool sampleResolution = usableResolution(sample.resolutionX) && usableResolution(sample.resolutionY);
    for (int eye = 0; eye < 2; ++eye) {
        if ((sample.flags & kEyeBits[eye]) == 0) continue;
        const Sample* usable[kNeighbourhoodSize];
        for (int i = h - reach; i <= h + reach; ++i) {
            usable[i] = usableFor(neighbourhood[static_cast<std::size_t>(i)], kEyeBits[eye], eye);
        }
        for (std::size_t groupIndex = 0; groupIndex < 3; ++groupIndex) {
            if ((groups & kGroupBits[groupIndex]) == 0) continue;
            const GroupFields& g = kGroups[groupIndex];
            // The same series serves the normal and the fast form.
            float xs[kNeighbourhoodSize];
            float ys[kNeighbourhoodSize];
            for (int i = h - reach; i <= h + reach; ++i) {
                const Sample* n = usable[i];
                if (n != nullptr && (n->flags & g.flag) != 0) {
                    xs[i] = (n->*g.x)[eye];
                    ys[i] = (n->*g.y)[eye];
                } else {
                    xs[i] = kMissing;
                    ys[i] = kMissing;
                }
            }
            const float cx = xs[h];
            const float cy = ys[h];
            float rx, ry;
            chooseResolution(resX, resY, g.group, cx, cy, sampleResolution, sample, rx, ry);
            float normalX = kMissing, normalY = kMissing, fastX = kMissing, fastY = kMissing;
            if (dividing(rx)) {
                normalX = velocityRateScaled(false, xs, kNeighbourhoodSize, rx, rateF);
                fastX = velocityRateScaled(true, xs, kNeighbourhoodSize, rx, rateF);
            }
            if (dividing(ry)) {
                normalY = velocityRateScaled(false, ys, kNeighbourhoodSize, ry, rateF);
                fastY = velocityRateScaled(true, ys, kNeighbourhoodSize, ry, rateF);
            }
            (sample.*g.outX)[eye] = normalX;
            (sample.*g.outY)[eye] = normalY;
            (sample.*g.fastX)[eye] = fastX;
            (sample.*g.fastY)[eye] = fastY;
        }
    }
    return 0;
}

namespace {

// How far (in slots) a neighbour may lie for the slot batch; further ones
// go through the sample-by-sample path.
constexpr int kMaxSlotDistance = 8;
// A series of the batch: the slots from kMaxSlotDistance before its first
// to kMaxSlotDistance (and the rounding to whole registers) after its last.
constexpr int kSeriesPad = kMaxSlotDistance;
constexpr int kRounded = (kSlotBatch + 3) / 4 * 4;
constexpr int kSeriesLength = kRounded + 2 * kSeriesPad;

struct SlotSeries {
    float values[kLanes][kSeriesLength];  // lane = eye * 6 + group * 2 + axis
    float res[kLanes][kRounded];          // 1 where the result is not wanted
    std::int32_t wanted[kLanes][kRounded];  // 1 where the result is wanted
    float none[kRounded];  // the series of a neighbour find() cannot give
    float normal[kLanes][kRounded];
    float fast[kLanes][kRounded];
};

}  // namespace

bool slotVelocities(const SampleWindow& window, int first, int end, float resX, float resY, int rate,
                    int trackerRevision, NeighbourOffsets& offsets, unsigned groups, SampleVelocities* out) {
    static constexpr unsigned kEyeBits[2] = {VOK_SAMPLE_LEFT, VOK_SAMPLE_RIGHT};
    const int count = window.count();
    const int n = end - first;
    if (trackerRevision >= 3 || first < 0 || n <= 0 || n > kSlotBatch || end > count) return false;
    const std::uint64_t step = window.evenStep();
    if (step == 0) return false;
    prepareOffsets(offsets, rate);
    // Slots from a sample to its neighbour j periods away (keys spaced step
    // apart); -1 where find() would give none.
    int distance[3] = {0, -1, -1};
    for (int j = 1; j <= 2; ++j) {
        if (!(offsets.rate > 0 && offsets.valid[j])) continue;
        const std::uint64_t offset = offsets.offset[j];
        if (offset % step != 0) continue;
        if (offset / step > kMaxSlotDistance) return false;
        distance[j] = static_cast<int>(offset / step);
    }

    SlotSeries s;
    if (distance[1] < 0 || distance[2] < 0) {
        for (float& v : s.none) v = kMissing;
    }

    // Per slot of the series: the slot's sample, or null outside the window.
    const Sample* slots[kSeriesLength];
    for (int t = 0; t < kSeriesLength; ++t) {
        const int slot = first - kSeriesPad + t;
        slots[t] = slot >= 0 && slot < count ? &window.slot(slot) : nullptr;
    }
    // Per slot of the batch: whether its own resolution can serve.
    bool ownResolution[kRounded];
    for (int t = 0; t < kRounded; ++t) {
        const Sample* sample = t < n ? slots[kSeriesPad + t] : nullptr;
        ownResolution[t] = sample != nullptr && usableResolution(sample->resolutionX) &&
                           usableResolution(sample->resolutionY);
    }

    for (int eye = 0; eye < 2; ++eye) {
        // Samples that carry this eye with a pupil of usable size; a lost
        // eye (pupil below 15) counts as a gap in every group.
        const Sample* usable[kSeriesLength];
        for (int t = 0; t < kSeriesLength; ++t) usable[t] = usableFor(slots[t], kEyeBits[eye], eye);
        for (int groupIndex = 0; groupIndex < 3; ++groupIndex) {
            const int lx = eye * 6 + groupIndex * 2;
            if ((groups & kGroupBits[groupIndex]) == 0) {
                for (int lane = lx; lane < lx + 2; ++lane) {
                    for (int t = 0; t < kRounded; ++t) s.normal[lane][t] = s.fast[lane][t] = kMissing;
                }
                continue;
            }
            const GroupFields& g = kGroups[groupIndex];
            float* xs = s.values[lx];
            float* ys = s.values[lx + 1];
            for (int t = 0; t < kSeriesLength; ++t) {
                const Sample* sample = usable[t];
                const bool has = sample != nullptr && (sample->flags & g.flag) != 0;
                xs[t] = has ? (sample->*g.x)[eye] : kMissing;
                ys[t] = has ? (sample->*g.y)[eye] : kMissing;
            }
            // The resolution of each slot; none (so no result) for a slot
            // without the eye.
            for (int t = 0; t < kRounded; ++t) {
                float rx = kMissing;
                float ry = kMissing;
                const Sample* sample = t < n ? slots[kSeriesPad + t] : nullptr;
                if (sample != nullptr && (sample->flags & kEyeBits[eye]) != 0) {
                    chooseResolution(resX, resY, g.group, xs[kSeriesPad + t], ys[kSeriesPad + t], ownResolution[t],
                                     *sample, rx, ry);
                }
                const bool wantX = dividing(rx);
                const bool wantY = dividing(ry);
                s.wanted[lx][t] = wantX;
                s.wanted[lx + 1][t] = wantY;
                s.res[lx][t] = wantX ? rx : 1.0f;
                s.res[lx + 1][t] = wantY ? ry : 1.0f;
            }
            for (int lane = lx; lane < lx + 2; ++lane) {
                const float* centre = s.values[lane] + kSeriesPad;
                const auto at = [&](int j, int sign) { return distance[j] < 0 ? s.none : centre + sign * distance[j]; };
                const float* const around[5] = {at(2, -1), at(1, -1), centre, at(1, 1), at(2, 1)};
                classicForms(around, s.res[lane], static_cast<float>(rate), s.normal[lane], s.fast[lane], kRounded);
                const std::int32_t* wanted = s.wanted[lane];
                float* normal = s.normal[lane];
                float* fast = s.fast[lane];
                for (int t = 0; t < kRounded; ++t) {
                    normal[t] = wanted[t] != 0 ? normal[t] : kMissing;
                    fast[t] = wanted[t] != 0 ? fast[t] : kMissing;
                }
            }
        }
    }

    // Sample's order: gaze, head-referenced, pupil; x before y; left eye
    // before right; the fast forms after the normal ones.
    for (int eye = 0; eye < 2; ++eye) {
        for (int groupIndex = 0; groupIndex < 3; ++groupIndex) {
            for (int axis = 0; axis < 2; ++axis) {
                const int lane = eye * 6 + groupIndex * 2 + axis;
                const int field = groupIndex * 4 + axis * 2 + eye;
                const float* normal = s.normal[lane];
                const float* fast = s.fast[lane];
                for (int t = 0; t < n; ++t) {
                    out[t].v[field] = normal[t];
                    out[t].v[12 + field] = fast[t];
                }
            }
        }
    }
    return true;
}

}  // namespace vok
