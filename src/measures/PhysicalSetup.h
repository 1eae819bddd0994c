// Physical setup and pixels per degree.
//
// The client describes the experiment's geometry once; it becomes a
// projective mapping from display pixels to head-referenced coordinates
// (the plane 15000 units in front of the eye).  The angular resolution at a
// sample's gaze position is then measured by probing one step right and one
// step down from it and smoothed over the last ten good results of each eye.
//
// All of it is process-wide state shared by every file and thread; callers
// serialise the calls.
#pragma once

#include <array>
#include <cstdint>

#include "vokapi.h"

namespace vok {

// The value every computation here gives for "no value".
inline constexpr double kPpdMissing = 100000000.0;

// Depth of the head-referenced plane in front of the eye, and its square.
inline constexpr double kHeadRefDepth = 15000.0;
inline constexpr double kHeadRefDepthSquared = 225000000.0;

// A 3 x 3 matrix, row-major, applied to row vectors: (x, y, w) * M.
using Matrix3 = std::array<double, 9>;

// Four corner points P0..P3: top-left, bottom-left, top-right, bottom-right.
struct Quad {
    std::array<double, 4> x{};
    std::array<double, 4> y{};
};

inline constexpr int kPpdHistorySize = 10;

// The ten latest results of one eye and the slot the next one goes to.
struct PpdHistory {
    std::array<double, kPpdHistorySize> x{};
    std::array<double, kPpdHistorySize> y{};
    int position = 0;
};

struct PhysicalSetupState {
    Matrix3 a{};          // unit square -> head-referenced quadrilateral
    Matrix3 b{};          // unit square -> pixel quadrilateral
    Matrix3 bAdjugate{};  // adjugate of b, used as its inverse
    std::array<PpdHistory, 2> history{};
};

// The process-wide state, zero until the first computePhysicalSetup.
// computePhysicalSetup, calculatePpd and resetPhysicalSetup take its lock;
// the parts below that read or change it (pixelToHeadRef, probePpd,
// recordPpd) do not, and are called with the lock held or from one thread.
PhysicalSetupState& physicalSetupState();

// Back to the state at load time: zero matrices, empty histories.
void resetPhysicalSetup();

// The display rectangle in pixel coordinates, built from the physical
// rectangle through the pixels-per-unit scale of each axis.
Quad pixelQuad(float physLeft, float physTop, float physRight, float physBottom, float pixLeft, float pixTop,
               float pixRight, float pixBottom);

// The display rectangle in head-referenced coordinates.  A distanceBottom of
// exactly 100000000.0 selects the model with one eye distance; otherwise
// distance and distanceBottom are the distances to the top and bottom edges.
Quad headRefQuad(float distance, float distanceBottom, float physLeft, float physTop, float physRight,
                 float physBottom);

// The projective matrix that maps the unit square's corners (0,0), (1,0),
// (1,1), (0,1) to P1, P3, P2, P0.
Matrix3 squareToQuad(const Quad& quad);

// Transposed cofactor matrix.
Matrix3 adjugate(const Matrix3& m);

// (x, y, w) * m.
std::array<double, 3> applyMatrix(const std::array<double, 3>& v, const Matrix3& m);

// Maps a pixel position to head-referenced coordinates with the current
// matrices.  Fails (returns false) unless |W| > 1e-8, which includes a W that
// is not a number.
bool pixelToHeadRef(double x, double y, double& headX, double& headY);

// Angle in degrees between the directions through two head-referenced points.
double headRefAngle(double x1, double y1, double x2, double y2);

// Builds the matrices from the geometry and empties both histories.
// Degenerate geometry is not rejected: infinities and NaN flow into the
// matrices and make later transforms fail.  Returns 0.
int computePhysicalSetup(float distance, float distanceBottom, float physLeft, float physTop, float physRight,
                         float physBottom, float pixLeft, float pixTop, float pixRight, float pixBottom);

// The unsmoothed resolution at the sample's gaze position for eye 0 or 1:
// degrees covered by a probe step of (extent + 1) / 50 pixels.  A probe that
// cannot be made leaves its value (and the following one's) at 0.0.
struct PpdProbe {
    double x = 0.0;
    double y = 0.0;
};
PpdProbe probePpd(float xExtent, float yExtent, const Sample& sample, int eye);

// Stores a probe result in the eye's history and gives the smoothed, one
// decimal result; eye must be 0 or 1.  A probe value below 1.0 empties the
// history and gives 1e8 for both.
void recordPpd(int eye, const PpdProbe& probe, double& ppdX, double& ppdY);

// One decimal of an average: trunc((average + 0.05) * 10) / 10, or 1e8 when
// the scaled value has no 32-bit integer value.
double roundPpd(double average);

// The whole measurement.  An eye other than 0 or 1, a null sample, a null
// output or a sample without gaze or head-referenced positions gives 1e8 in
// each non-null output and leaves the histories alone.
void calculatePpd(float xExtent, float yExtent, const Sample* sample, int eye, double* ppdX, double* ppdY);

}  // namespace vok
