// Physical setup and pixels per degree.  Every arithmetic step keeps the
// width it is written in: most of it is double, and the few single-precision
// steps are spelled out as float expressions.
#include "measures/PhysicalSetup.h"

#include <cmath>
#include <mutex>

#include "measures/Truncation.h"

namespace vok {

namespace {

// Process-wide by design: one setup for every caller.  The lock makes each
// call see whole matrices and keeps a history from being updated by two
// calls at once; the order of calls from several threads stays theirs.
std::mutex gLock;
PhysicalSetupState gState{};

// Marker that selects the model with a single eye distance.
constexpr float kSingleDistanceMarker = 100000000.0f;

constexpr double kRadiansToDegrees = 57.2958;
constexpr double kMinimumW = 0.00000001;
constexpr double kMinimumAngle = 0.00001;

void emptyHistory(PpdHistory& history) { history = PpdHistory{}; }

bool validEye(int eye) { return eye == 0 || eye == 1; }

}  // namespace

PhysicalSetupState& physicalSetupState() { return gState; }

void resetPhysicalSetup() {
    const std::lock_guard<std::mutex> lock(gLock);
    gState = PhysicalSetupState{};
}

Quad pixelQuad(float physLeft, float physTop, float physRight, float physBottom, float pixLeft, float pixTop,
               float pixRight, float pixBottom) {
    // Physical units per pixel, formed in single precision, then inverted.
    const float qx = (physRight - physLeft) / (pixRight - pixLeft);
    const float qy = (physBottom - physTop) / (pixBottom - pixTop);
    const double kx = 1.0 / static_cast<double>(qx);
    const double ky = 1.0 / static_cast<double>(qy);
    const double ox = static_cast<double>(pixLeft) - static_cast<double>(physLeft) * kx;
    const double oy = static_cast<double>(pixTop) - static_cast<double>(physTop) * ky;

    const double left = static_cast<double>(physLeft) * kx + ox;
    const double right = static_cast<double>(physRight) * kx + ox;
    const double top = static_cast<double>(physTop) * ky + oy;
    const double bottom = static_cast<double>(physBottom) * ky + oy;

    Quad q;
    q.x = {left, left, right, right};
    q.y = {top, bottom, top, bottom};
    return q;
}

Quad headRefQuad(float distance, float distanceBottom, float physLeft, float physTop, float physRight,
                 float physBottom) {
    const double left = physLeft;
    const double right = physRight;
    Quad q;
    if (distanceBottom == kSingleDistanceMarker) {
        const double d = distance;
        const double xl = left / d * kHeadRefDepth;
        const double xr = right / d * kHeadRefDepth;
        const double yt = static_cast<double>(physTop) / d * (-kHeadRefDepth);
        const double yb = static_cast<double>(physBottom) / d * (-kHeadRefDepth);
        q.x = {xl, xl, xr, xr};
        q.y = {yt, yb, yt, yb};
        return q;
    }

    // Two distances: the triangle eye / top edge / bottom edge gives the
    // angles of both edges and their depths.
    const double d1 = distance;
    const double d2 = distanceBottom;
    const double top = std::fabs(static_cast<double>(physTop));
    const double height = static_cast<double>(physBottom - physTop);  // single-precision difference
    const double alpha = std::acos((d1 * d1 + d2 * d2 - top * top) / (2.0 * d1 * d2));
    const double beta = std::acos((d1 * d1 + d2 * d2 - height * height) / (2.0 * d1 * d2));
    const double gamma = beta - alpha;
    const double zt = d1 * std::cos(alpha);
    const double zb = d2 * std::cos(gamma);
    const double yt = (-d1 * std::sin(alpha)) / zt * kHeadRefDepth;
    const double yb = (d2 * std::sin(gamma)) / zb * kHeadRefDepth;
    q.x = {left / zt * kHeadRefDepth, left / zb * kHeadRefDepth, right / zt * kHeadRefDepth,
           right / zb * kHeadRefDepth};
    q.y = {yt, yb, yt, yb};
    return q;
}

Matrix3 squareToQuad(const Quad& quad) {
    const auto& x = quad.x;
    const auto& y = quad.y;
    const double sx = x[1] - x[3] + x[2] - x[0];
    const double sy = y[1] - y[3] + y[2] - y[0];
    double g = 0.0;
    double h = 0.0;
    if (sx != 0.0 || sy != 0.0) {
        const double d = (y[0] - y[2]) * (x[3] - x[2]) - (y[3] - y[2]) * (x[0] - x[2]);
        if (d != 0.0) {
            g = (sx * (y[0] - y[2]) - sy * (x[0] - x[2])) / d;
            h = (sy * (x[3] - x[2]) - sx * (y[3] - y[2])) / d;
        }
    }
    // clang-format off
    return Matrix3{x[3] - x[1] + g * x[3], y[3] - y[1] + g * y[3], g,
                   x[0] - x[1] + h * x[0], y[0] - y[1] + h * y[0], h,
                   x[1],                   y[1],                   1.0};
    // clang-format on
}

Matrix3 adjugate(const Matrix3& m) {
    return Matrix3{m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
                   m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
                   m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
}

std::array<double, 3> applyMatrix(const std::array<double, 3>& v, const Matrix3& m) {
    return {v[0] * m[0] + v[1] * m[3] + v[2] * m[6], v[0] * m[1] + v[1] * m[4] + v[2] * m[7],
            v[0] * m[2] + v[1] * m[5] + v[2] * m[8]};
}

bool pixelToHeadRef(double x, double y, double& headX, double& headY) {
    const auto v = applyMatrix(applyMatrix({x, y, 1.0}, gState.bAdjugate), gState.a);
    // Written as a positive test so that a NaN W fails.
    if (!(std::fabs(v[2]) > kMinimumW)) return false;
    headX = v[0] / v[2];
    headY = v[1] / v[2];
    return true;
}

double headRefAngle(double x1, double y1, double x2, double y2) {
    const double dot = x1 * x2 + kHeadRefDepthSquared + y1 * y2;
    const double norms =
        (x1 * x1 + kHeadRefDepthSquared + y1 * y1) * (x2 * x2 + kHeadRefDepthSquared + y2 * y2);
    return std::acos(dot / std::sqrt(norms)) * kRadiansToDegrees;
}

int computePhysicalSetup(float distance, float distanceBottom, float physLeft, float physTop, float physRight,
                         float physBottom, float pixLeft, float pixTop, float pixRight, float pixBottom) {
    const Quad pixels =
        pixelQuad(physLeft, physTop, physRight, physBottom, pixLeft, pixTop, pixRight, pixBottom);
    const Quad headRef = headRefQuad(distance, distanceBottom, physLeft, physTop, physRight, physBottom);
    const Matrix3 a = squareToQuad(headRef);
    const Matrix3 b = squareToQuad(pixels);
    const Matrix3 bAdjugate = adjugate(b);
    const std::lock_guard<std::mutex> lock(gLock);
    emptyHistory(gState.history[0]);
    emptyHistory(gState.history[1]);
    gState.a = a;
    gState.b = b;
    gState.bAdjugate = bAdjugate;
    return 0;
}

PpdProbe probePpd(float xExtent, float yExtent, const Sample& sample, int eye) {
    PpdProbe result;
    const double gx = sample.gazeX[eye];
    const double gy = sample.gazeY[eye];
    const double hx = sample.headRefX[eye];
    const double hy = sample.headRefY[eye];

    // Horizontal probe; when it cannot be made, the vertical one is skipped.
    const double dx = (static_cast<double>(xExtent) + 1.0) / 50.0;
    double px = 0.0;
    double py = 0.0;
    if (!pixelToHeadRef(gx + dx, gy, px, py)) return result;
    double angle = headRefAngle(px, py, hx, hy);
    if (angle < kMinimumAngle) return result;
    result.x = std::fabs(dx / angle);

    const double dy = (static_cast<double>(yExtent) + 1.0) / 50.0;
    if (!pixelToHeadRef(gx, gy + dy, px, py)) return result;
    angle = headRefAngle(px, py, hx, hy);
    if (angle < kMinimumAngle) return result;
    result.y = std::fabs(dy / angle);
    return result;
}

double roundPpd(double average) {
    const auto tenths = truncToInt32((average + 0.05) * 10.0);
    if (!tenths) return kPpdMissing;
    return static_cast<double>(*tenths) / 10.0;
}

void recordPpd(int eye, const PpdProbe& probe, double& ppdX, double& ppdY) {
    PpdHistory& history = gState.history[static_cast<std::size_t>(eye)];
    // A NaN probe value fails this test, so it does not empty the history;
    // it is stored but never counts in the average.
    if (probe.x < 1.0 || probe.y < 1.0) {
        emptyHistory(history);
        ppdX = ppdY = kPpdMissing;
        return;
    }
    history.x[static_cast<std::size_t>(history.position)] = probe.x;
    history.y[static_cast<std::size_t>(history.position)] = probe.y;
    history.position = (history.position + 1) % kPpdHistorySize;

    double sumX = 0.0;
    double sumY = 0.0;
    int count = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(kPpdHistorySize); ++i) {
        if (history.x[i] > 1.0 && history.y[i] > 1.0) {
            sumX += history.x[i];
            sumY += history.y[i];
            ++count;
        }
    }
    if (count == 0) {
        ppdX = ppdY = kPpdMissing;
        return;
    }
    ppdX = roundPpd(sumX / count);
    ppdY = roundPpd(sumY / count);
}

void calculatePpd(float xExtent, float yExtent, const Sample* sample, int eye, double* ppdX, double* ppdY) {
    const bool usable = sample != nullptr && ppdX != nullptr && ppdY != nullptr && validEye(eye) &&
                        (sample->flags & VOK_SAMPLE_GAZE) != 0 && (sample->flags & VOK_SAMPLE_HEADREF) != 0;
    if (!usable) {
        if (ppdX != nullptr) *ppdX = kPpdMissing;
        if (ppdY != nullptr) *ppdY = kPpdMissing;
        return;
    }
    const std::lock_guard<std::mutex> lock(gLock);
    recordPpd(eye, probePpd(xExtent, yExtent, *sample, eye), *ppdX, *ppdY);
}

}  // namespace vok

extern "C" VOKAPI_EXPORT int vok_compute_physical_setup(float distance, float distance_bottom,
                                                        float phys_left, float phys_top, float phys_right,
                                                        float phys_bottom, float pix_left, float pix_top,
                                                        float pix_right, float pix_bottom) {
    return vok::computePhysicalSetup(distance, distance_bottom, phys_left, phys_top, phys_right, phys_bottom,
                                     pix_left, pix_top, pix_right, pix_bottom);
}

extern "C" VOKAPI_EXPORT void vok_calculate_ppd(float x_extent, float y_extent, Sample* sample, int eye,
                                                double* ppd_x, double* ppd_y) {
    vok::calculatePpd(x_extent, y_extent, sample, eye, ppd_x, ppd_y);
}
