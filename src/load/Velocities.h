// Sample velocities: gaze, head-referenced and pupil-position velocity of
// each eye, in a normal and a fast form, in degrees of visual angle per
// second, computed from up to 19 neighbours on each side of a sample in the
// sample window.  1e8 marks an input that is absent and an output that
// cannot be computed.
#pragma once

#include <array>
#include <cstdint>

#include "load/SampleWindow.h"
#include "vokapi.h"

namespace vok {

// The neighbourhood of a sample, in time order: positions 0-18 hold the
// samples 19 down to 1 period before it, 19 the sample itself, 20-38 the
// samples 1 up to 19 periods after it.  Null where the window lacks one.
inline constexpr int kNeighbourhoodSize = 39;
inline constexpr int kNeighbourhoodCentre = 19;
using Neighbourhood = std::array<const Sample*, kNeighbourhoodSize>;

// Position groups, by the code the velocity computation uses for them.
inline constexpr int kGroupGaze = 192;
inline constexpr int kGroupHeadRef = 128;
inline constexpr int kGroupPupil = 64;

// Fills the twelve velocity pairs of each eye that sample carries (flags
// 0x8000 left, 0x4000 right) from its neighbours in window; the fields of
// an eye it lacks are left as they are.  sample.timeHalfMs is its key.
// resX/resY override the resolution unless resX is 1e8.  rate is the
// recording's sample rate in Hz; a rate of 0 or below gives no neighbours.
// trackerRevision below 3 selects the classic formula, else the rate-scaled
// one.  Returns 0.  Allocates nothing.
int computeSampleVelocities(const SampleWindow& window, Sample& sample, float resX, float resY,
                            int rate, int trackerRevision);

// The neighbour offsets of one sample rate, worked out once for a walk:
// offset[j] is the distance in half-milliseconds of the neighbour j periods
// away, valid[j] whether it can be represented (as findNeighbours has it).
struct NeighbourOffsets {
    int rate = 0;
    bool prepared = false;
    bool valid[20] = {};
    std::uint64_t offset[20] = {};
};

// The position groups whose velocities are wanted, as bits of a mask; the
// velocity fields of the groups left out are not touched.
inline constexpr unsigned kVelocitiesOfGaze = 1;
inline constexpr unsigned kVelocitiesOfHeadRef = 2;
inline constexpr unsigned kVelocitiesOfPupil = 4;
inline constexpr unsigned kVelocitiesOfAll = 7;

// As above, with the offsets taken from (and, for a new rate, worked out
// into) offsets, for the groups in the mask only.
int computeSampleVelocities(const SampleWindow& window, Sample& sample, float resX, float resY,
                            int rate, int trackerRevision, NeighbourOffsets& offsets,
                            unsigned groups = kVelocitiesOfAll);

// The 24 velocity fields of a sample in the order of its fields, gazeVelX
// to fastPupilVelY.
struct SampleVelocities {
    float v[24];
};
inline constexpr int kSlotBatch = 64;

// The velocities computeSampleVelocities gives the samples in slots
// [first, end) of window, at most kSlotBatch of them, worked out side by
// side: out[k] receives the velocity fields of slot first + k as they read
// on a copy of it whose velocity fields held 1e8.  Applies to the classic
// formulas (tracker revision below 3) in a window of evenly spaced keys;
// false, writing nothing, where it does not (the caller then goes sample
// by sample).
bool slotVelocities(const SampleWindow& window, int first, int end, float resX, float resY, int rate,
                    int trackerRevision, NeighbourOffsets& offsets, unsigned groups, SampleVelocities* out);

// Fills neighbourhood for sample (whose timeHalfMs is its key): the window
// slots found with find() for the keys j periods (j = 1..19) before and
// after, each offset being trunc(j * period * 2) half-milliseconds with the
// period 1000 / rate in f32.  Offsets that cannot be represented, a rate of
// 0 or below, and keys that would fall below 0 or past the largest key give
// no neighbour.  Position 19 is &sample.  Only the reach neighbours nearest
// on each side are looked up (all 19 by default).
void findNeighbours(const SampleWindow& window, const Sample& sample, int rate,
                    Neighbourhood& neighbourhood, int reach = 19);

// Computes outX[eye] and outY[eye] for one group and form from the
// neighbourhood (position 19 is the sample); 1e8 where not computable.
void velocityForAxis(bool fast, int group, int rate, float resX, float resY,
                     const Neighbourhood& neighbourhood, int eye, int trackerRevision,
                     float (&outX)[2], float (&outY)[2]);

// The (x, y) position of group for eye, or (1e8, 1e8) when the sample lacks
// the group, or its pupil size (when carried) is below 15.  Returns false
// only when the sample lacks the eye (or eye is not 0 or 1).
bool positionPair(const Sample& sample, int eye, int group, float& x, float& y);

// Velocity of one axis from a series of count positions centred on
// count / 2, by central differences; falls back to one-sided differences
// next to gaps.  1e8 when no two neighbouring values are present.
float velocityClassic(bool fast, const float* series, int count, float resolution, float rate);

// Velocity of one axis from four group means spaced as at 250 Hz, scaled to
// the rate.  1e8 when any value of the rate's window is missing.
float velocityRateScaled(bool fast, const float* series, int count, float resolution, float rate);

// True when the window of width values centred on centre does not lie
// inside the count values of series or holds a 1e8.
bool windowHasMissing(const float* series, int centre, int width, int count);

}  // namespace vok
