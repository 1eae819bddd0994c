// Physical setup and pixels per degree: the two distance models, the
// projective mapping, the probes, and the per-eye result history.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "measures/PhysicalSetup.h"

namespace vok {
namespace {

constexpr double kMissing = 100000000.0;
constexpr float kSingleDistance = 100000000.0f;

Sample gazeSample(int eye, float gazeX, float gazeY, float headX, float headY) {
    Sample s{};
    s.flags =
        VOK_SAMPLE_IS_SAMPLE | VOK_SAMPLE_GAZE | VOK_SAMPLE_HEADREF | VOK_SAMPLE_LEFT | VOK_SAMPLE_RIGHT;
    s.gazeX[eye] = gazeX;
    s.gazeY[eye] = gazeY;
    s.headRefX[eye] = headX;
    s.headRefY[eye] = headY;
    return s;
}

bool sameBits(const PhysicalSetupState& a, const PhysicalSetupState& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class PpdTest : public testing::Test {
protected:
    void SetUp() override { resetPhysicalSetup(); }
    void TearDown() override { resetPhysicalSetup(); }

    PpdHistory& history(int eye) { return physicalSetupState().history[static_cast<std::size_t>(eye)]; }

    // Stores a probe result and returns the smoothed pair.
    std::pair<double, double> record(int eye, double x, double y) {
        double ox = -1.0;
        double oy = -1.0;
        recordPpd(eye, PpdProbe{x, y}, ox, oy);
        return {ox, oy};
    }
};

// ---------------------------------------------------------------------------
// Setup models

TEST_F(PpdTest, SingleDistanceModelScalesByDepthOverDistance) {
    // Ratios that are binary fractions give exact corners: -320 / 640 * 15000
    // = -7500, 160 / 640 * 15000 = 3750, -80 / 640 * -15000 = 1875 and
    // 400 / 640 * -15000 = -9375.
    const Quad q = headRefQuad(640.0f, kSingleDistance, -320.0f, -80.0f, 160.0f, 400.0f);
    EXPECT_EQ(q.x, (std::array<double, 4>{-7500, -7500, 3750, 3750}));
    EXPECT_EQ(q.y, (std::array<double, 4>{1875, -9375, 1875, -9375}));
    // Otherwise each corner is within rounding of its ratio.
    const Quad r = headRefQuad(600.0f, kSingleDistance, -200.0f, -150.0f, 210.0f, 170.0f);
    EXPECT_DOUBLE_EQ(r.x[0], -5000.0);
    EXPECT_DOUBLE_EQ(r.x[3], 5250.0);
    EXPECT_DOUBLE_EQ(r.y[0], 3750.0);
    EXPECT_DOUBLE_EQ(r.y[3], -4250.0);
}

TEST_F(PpdTest, TopEdgeWithPositivePhysicalYLiesBelowTheEye) {
    const Quad q = headRefQuad(500.0f, kSingleDistance, 0.0f, 100.0f, 300.0f, 400.0f);
    EXPECT_DOUBLE_EQ(q.y[0], -3000.0);
    EXPECT_LT(q.y[0], 0.0);
    EXPECT_GT(q.y[0], q.y[1]);  // the bottom edge lies further down
}

TEST_F(PpdTest, OnlyTheExactMarkerSelectsTheSingleDistanceModel) {
    const float nearMarker = std::nextafter(kSingleDistance, 0.0f);
    const Quad single = headRefQuad(600.0f, kSingleDistance, -200.0f, 10.0f, 200.0f, 300.0f);
    for (float bottom : {nearMarker, std::nextafter(kSingleDistance, 1e9f), 1e9f, 650.0f}) {
        SCOPED_TRACE(bottom);
        const Quad two = headRefQuad(600.0f, bottom, -200.0f, 10.0f, 200.0f, 300.0f);
        EXPECT_NE(two.y, single.y);
    }
}

// The two-distance model finds the edges from the triangle of the eye, the
// top edge and the bottom edge, and the trigonometry of the platform's maths
// library may differ in the last bits: the corners are checked by what they
// mean, within a tolerance.  In the vertical plane through the eye (height,
// depth), the top edge T lies `distance` from the eye, the bottom edge B
// `distanceBottom`; T and B lie H = bottom - top (formed in single
// precision) apart, and T lies |top| from the point straight ahead at the
// depth distanceBottom.  Each edge's depth follows from its x corner
// (x = left / depth * 15000), its height from its y corner.
struct EdgePoint {
    double height, depth;
};

double between(EdgePoint a, EdgePoint b) { return std::hypot(a.height - b.height, a.depth - b.depth); }

std::array<EdgePoint, 2> edgePoints(const Quad& q, double left) {
    const double zt = left * 15000 / q.x[0];
    const double zb = left * 15000 / q.x[1];
    return {EdgePoint{q.y[0] * zt / 15000, zt}, EdgePoint{q.y[1] * zb / 15000, zb}};
}

// Physical units; the trigonometry's rounding stays below 1e-9 of them
// for these sizes.
constexpr double kEdgeTolerance = 1e-7;

void expectEdgeTriangle(float d1, float d2, float left, float top, float right, float bottom) {
    SCOPED_TRACE(testing::Message() << d1 << " " << d2 << " " << left << " " << top << " " << right << " "
                                    << bottom);
    const Quad q = headRefQuad(d1, d2, left, top, right, bottom);
    for (double v : q.y) ASSERT_TRUE(std::isfinite(v));
    const auto [t, b] = edgePoints(q, left);
    const EdgePoint eye{0, 0};
    EXPECT_NEAR(between(t, eye), d1, kEdgeTolerance);
    EXPECT_NEAR(between(b, eye), d2, kEdgeTolerance);
    EXPECT_NEAR(between(t, b), static_cast<double>(bottom - top), kEdgeTolerance);
    EXPECT_NEAR(between(t, EdgePoint{0, d2}), std::fabs(static_cast<double>(top)), kEdgeTolerance);
    EXPECT_LE(t.height, 0.0);  // on the side of negative y, as a positive top in the other model
    EXPECT_LT(t.height, b.height);
    // The right corners share the edges' depths and heights.
    EXPECT_DOUBLE_EQ(q.x[2] / q.x[0], static_cast<double>(right) / left);
    EXPECT_DOUBLE_EQ(q.x[3] / q.x[1], static_cast<double>(right) / left);
    EXPECT_EQ(q.y[2], q.y[0]);
    EXPECT_EQ(q.y[3], q.y[1]);
}

TEST_F(PpdTest, TwoDistanceModelFollowsTheEdgeTriangle) {
    expectEdgeTriangle(600, 640, -250, 50, 250, 330);
    expectEdgeTriangle(550, 600, -300, -60, 310, 290);  // only |top| counts
    expectEdgeTriangle(700, 700, -200, 0, 200, 300);
    expectEdgeTriangle(640, 600, -250, 60, 250, 330);   // bottom edge nearer
}

TEST_F(PpdTest, TwoDistanceWithEqualDistancesAndTopAtZeroLooksStraightAtTheTopEdge) {
    // Top edge at physical y 0 with equal distances: its angle is 0, so it
    // lies on the eye's axis at depth D.  With D = 500 and H = 600 the
    // triangle's apex has cosine (2 * 500² - 600²) / (2 * 500²) = 7 / 25, so
    // the bottom edge lies at depth 500 * 7 / 25 = 140 and height 480:
    // y = 15000 * 24 / 7, x = left / 140 * 15000.
    const Quad q = headRefQuad(500.0f, 500.0f, -140.0f, 0.0f, 280.0f, 600.0f);
    EXPECT_EQ(q.y[0], 0.0);
    EXPECT_DOUBLE_EQ(q.x[0], -4200.0);
    EXPECT_DOUBLE_EQ(q.x[2], 8400.0);
    EXPECT_NEAR(q.y[1], 360000.0 / 7, 1e-7);
    EXPECT_NEAR(q.x[1], -15000.0, 1e-8);
    EXPECT_NEAR(q.x[3], 30000.0, 1e-8);
}

TEST_F(PpdTest, HeightIsFormedInSinglePrecision) {
    const float top = 0.3f;
    const float bottom = 1000.1f;
    // Precondition: the float difference differs from the exact one by far
    // more than the tolerance.
    const double floatHeight = static_cast<double>(bottom - top);
    ASSERT_GT(std::fabs(floatHeight - (static_cast<double>(bottom) - static_cast<double>(top))),
              100 * kEdgeTolerance);
    expectEdgeTriangle(900.0f, 900.2f, -100.0f, top, 100.0f, bottom);
}

TEST_F(PpdTest, PixelScaleIsFormedInSinglePrecision) {
    // One physical unit over three pixels: the float quotient is not 1/3, so
    // the right edge lands next to pixel 3, not on it.
    const Quad q = pixelQuad(0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 3.0f, 3.0f);
    // 1 / 0.3333333433 (the float of 1/3) = 2.99999991059...
    EXPECT_EQ(q.x[2], 0x1.7fffff4000006p+1);
    EXPECT_EQ(q.x[0], 0.0);
}

TEST_F(PpdTest, PixelQuadCornersAreTheCornersOfThePixelRectangle) {
    const Quad q = pixelQuad(-200.0f, -150.0f, 200.0f, 150.0f, 0.0f, 0.0f, 1600.0f, 1200.0f);
    EXPECT_EQ(q.x, (std::array<double, 4>{0, 0, 1600, 1600}));
    EXPECT_EQ(q.y, (std::array<double, 4>{0, 1200, 0, 1200}));
}

// Maps (u, v) of the unit square through m with the homogeneous division.
std::pair<double, double> mapUnit(const Matrix3& m, double u, double v) {
    const auto r = applyMatrix({u, v, 1.0}, m);
    return {r[0] / r[2], r[1] / r[2]};
}

TEST_F(PpdTest, SquareToQuadMapsTheUnitCornersOntoTheQuadCorners) {
    const Quad affine = pixelQuad(-200.0f, -150.0f, 200.0f, 150.0f, 0.0f, 0.0f, 1280.0f, 1024.0f);
    const Quad perspective = headRefQuad(600.0f, 640.0f, -250.0f, 50.0f, 250.0f, 330.0f);
    ASSERT_NE(perspective.x[0], perspective.x[1]);  // a trapezoid, not a rectangle
    for (const Quad& q : {affine, perspective}) {
        const Matrix3 m = squareToQuad(q);
        const std::pair<double, double> corners[4] = {mapUnit(m, 0, 1), mapUnit(m, 0, 0), mapUnit(m, 1, 1),
                                                      mapUnit(m, 1, 0)};
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(corners[i].first, q.x[static_cast<std::size_t>(i)], 1e-9) << i;
            EXPECT_NEAR(corners[i].second, q.y[static_cast<std::size_t>(i)], 1e-9) << i;
        }
    }
}

TEST_F(PpdTest, AdjugateTimesMatrixIsTheDeterminantTimesIdentity) {
    const Matrix3 m{2, -1, 0.5, 3, 4, -2, 1, 7, 5};
    const Matrix3 adj = adjugate(m);
    // By hand: 2 (20 + 14) + (15 + 2) + 0.5 (21 - 4).
    const double det = 93.5;
    for (int r = 0; r < 3; ++r) {
        const std::array<double, 3> row{m[3 * r], m[3 * r + 1], m[3 * r + 2]};
        const auto p = applyMatrix(row, adj);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(p[static_cast<std::size_t>(c)], r == c ? det : 0.0);
    }
}

TEST_F(PpdTest, SetupMapsPixelCornersOntoHeadReferencedCorners) {
    vok_compute_physical_setup(600.0f, 640.0f, -250.0f, 50.0f, 250.0f, 330.0f, 0.0f, 0.0f, 1280.0f, 1024.0f);
    const Quad head = headRefQuad(600.0f, 640.0f, -250.0f, 50.0f, 250.0f, 330.0f);
    const double px[4] = {0, 0, 1280, 1280};
    const double py[4] = {0, 1024, 0, 1024};
    for (std::size_t i = 0; i < 4; ++i) {
        double hx = 0;
        double hy = 0;
        ASSERT_TRUE(pixelToHeadRef(px[i], py[i], hx, hy));
        EXPECT_NEAR(hx, head.x[i], 1e-6) << i;
        EXPECT_NEAR(hy, head.y[i], 1e-6) << i;
    }
}

TEST_F(PpdTest, SetupEmptiesBothHistoriesAndReturnsZero) {
    record(0, 20.0, 20.0);
    record(1, 30.0, 30.0);
    EXPECT_EQ(vok_compute_physical_setup(600.0f, kSingleDistance, -200, -150, 200, 150, 0, 0, 1280, 1024), 0);
    for (int eye : {0, 1}) {
        EXPECT_EQ(history(eye).position, 0);
        for (int i = 0; i < kPpdHistorySize; ++i) {
            EXPECT_EQ(history(eye).x[static_cast<std::size_t>(i)], 0.0);
            EXPECT_EQ(history(eye).y[static_cast<std::size_t>(i)], 0.0);
        }
    }
}

TEST_F(PpdTest, DegenerateGeometryIsAcceptedAndGivesNoValue) {
    struct Case {
        const char* what;
        float values[10];
    };
    const Case cases[] = {
        {"all zero", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"zero distance", {0, kSingleDistance, -200, -150, 200, 150, 0, 0, 1280, 1024}},
        {"zero-width pixels", {600, kSingleDistance, -200, -150, 200, 150, 0, 0, 0, 1024}},
        {"impossible triangle", {100, 100, -200, 5000, 200, 9000, 0, 0, 1280, 1024}},
    };
    Sample s = gazeSample(0, 640, 512, 0, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const float* v = c.values;
        EXPECT_EQ(vok_compute_physical_setup(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9]), 0);
        double x = 0;
        double y = 0;
        vok_calculate_ppd(49, 49, &s, 0, &x, &y);
        EXPECT_EQ(x, kMissing);
        EXPECT_EQ(y, kMissing);
    }
}

TEST_F(PpdTest, BeforeAnySetupEveryCallGivesNoValue) {
    for (int eye : {0, 1}) {
        Sample s = gazeSample(eye, 640, 512, 0, 0);
        double x = 0;
        double y = 0;
        vok_calculate_ppd(49, 49, &s, eye, &x, &y);
        EXPECT_EQ(x, kMissing);
        EXPECT_EQ(y, kMissing);
        EXPECT_EQ(history(eye).position, 0);
    }
}

// ---------------------------------------------------------------------------
// Probes

// A display 15000 units away (head-referenced = physical) whose pixels span
// the given head-referenced sizes: one pixel is kx by ky units.
void setUpFlatDisplay(double kx, double ky) {
    const float halfW = static_cast<float>(1280 * kx / 2);
    const float halfH = static_cast<float>(1024 * ky / 2);
    vok_compute_physical_setup(15000.0f, kSingleDistance, -halfW, -halfH, halfW, halfH, 0, 0, 1280, 1024);
}

// Units per pixel that make one pixel span 1/ppd degrees at the centre.
double unitsForPpd(double ppd) { return 15000.0 * std::tan(1.0 / (ppd * 57.2958)); }

TEST_F(PpdTest, ProbeAtTheCentreMeasuresTheAngleOfOneStep) {
    setUpFlatDisplay(unitsForPpd(23.456), unitsForPpd(25.04));
    // The reference point is where the gaze position maps (near, but not at,
    // the origin: the single-precision pixel scale shifts it slightly).
    double hx = 0;
    double hy = 0;
    ASSERT_TRUE(pixelToHeadRef(640, 512, hx, hy));
    EXPECT_NEAR(hx, 0.0, 1e-3);
    EXPECT_NEAR(hy, 0.0, 1e-3);
    const Sample s = gazeSample(0, 640, 512, static_cast<float>(hx), static_cast<float>(hy));
    for (float extent : {49.0f, 99.0f, 4.0f}) {
        SCOPED_TRACE(extent);
        const PpdProbe p = probePpd(extent, extent, s, 0);
        EXPECT_NEAR(p.x, 23.456, 1e-4);
        EXPECT_NEAR(p.y, 25.04, 1e-4);
    }
}

TEST_F(PpdTest, FirstGoodCallRoundsToOneDecimal) {
    setUpFlatDisplay(unitsForPpd(23.456), unitsForPpd(25.04));
    Sample s = gazeSample(1, 640, 512, 0, 0);
    double x = 0;
    double y = 0;
    vok_calculate_ppd(49, 49, &s, 1, &x, &y);
    EXPECT_EQ(x, 23.5);
    EXPECT_EQ(y, 25.0);
}

TEST_F(PpdTest, AStepOntoTheReferencePointStopsProbing) {
    // The head-referenced position is where the horizontal probe lands: the
    // angle is 0, so neither probe gives a value and the history empties.
    setUpFlatDisplay(10.0, 10.0);
    Sample s = gazeSample(0, 640, 512, 0, 0);
    double hx = 0;
    double hy = 0;
    ASSERT_TRUE(pixelToHeadRef(641, 512, hx, hy));
    s.headRefX[0] = static_cast<float>(hx);
    s.headRefY[0] = static_cast<float>(hy);
    const PpdProbe p = probePpd(49, 49, s, 0);
    EXPECT_EQ(p.x, 0.0);
    EXPECT_EQ(p.y, 0.0);

    record(0, 20.0, 20.0);
    double x = 0;
    double y = 0;
    vok_calculate_ppd(49, 49, &s, 0, &x, &y);
    EXPECT_EQ(x, kMissing);
    EXPECT_EQ(y, kMissing);
    EXPECT_EQ(history(0).x[0], 0.0);
}

TEST_F(PpdTest, CallsAverageTheProbesOfTheEye) {
    setUpFlatDisplay(unitsForPpd(30.0), unitsForPpd(30.0));
    // Moving the reference point against the probe direction widens the
    // angles and lowers the values.
    const Sample a = gazeSample(0, 640, 512, 0, 0);
    const Sample b = gazeSample(0, 640, 512, -8.0f, 9.0f);
    const PpdProbe pa = probePpd(49, 49, a, 0);
    const PpdProbe pb = probePpd(49, 49, b, 0);
    ASSERT_GT(std::fabs(pa.x - pb.x), 1.0);
    double x = 0;
    double y = 0;
    Sample sa = a;
    Sample sb = b;
    vok_calculate_ppd(49, 49, &sa, 0, &x, &y);
    vok_calculate_ppd(49, 49, &sb, 0, &x, &y);
    // The mean of both, to one decimal.
    EXPECT_NEAR(x, (pa.x + pb.x) / 2, 0.05);
    EXPECT_NEAR(y, (pa.y + pb.y) / 2, 0.05);
    EXPECT_EQ(x * 10, std::round(x * 10));
}

TEST_F(PpdTest, HugeExtentGivesNoValueInsteadOfAnOverflow) {
    setUpFlatDisplay(10.0, 10.0);
    Sample s = gazeSample(0, 640, 512, 0, 0);
    double x = 0;
    double y = 0;
    vok_calculate_ppd(1e30f, 49, &s, 0, &x, &y);
    EXPECT_EQ(x, kMissing);  // ~1e26 pixels per degree
    // The other direction is unaffected: one pixel of 10 units at 15000
    // spans atan(1 / 1500) * 57.2958 = 0.0381971 degrees, 26.18 pixels per
    // degree.
    EXPECT_EQ(y, 26.2);

    for (float bad : {std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
        vok_calculate_ppd(bad, bad, &s, 0, &x, &y);
        EXPECT_EQ(x, kMissing);
        EXPECT_EQ(y, kMissing);
    }
}

// ---------------------------------------------------------------------------
// History

TEST_F(PpdTest, RoundingExamples) {
    EXPECT_EQ(record(0, 23.456, 25.04), std::make_pair(23.5, 25.0));
    resetPhysicalSetup();
    // 1.04 rounds down to 1.0, 20.449999 down to 20.4, 1.0999 up to 1.1.
    EXPECT_EQ(record(0, 1.04, 20.449999), std::make_pair(1.0, 20.4));
    EXPECT_EQ(roundPpd(1.0999), 1.1);
}

TEST_F(PpdTest, RoundingOfAnUnrepresentableAverageGivesNoValue) {
    EXPECT_EQ(roundPpd(214748364.0), 214748364.0);  // 2147483640.5 still fits
    EXPECT_EQ(roundPpd(214748364.8), kMissing);     // 2147483648.5 does not
    EXPECT_EQ(roundPpd(std::numeric_limits<double>::infinity()), kMissing);
    EXPECT_EQ(roundPpd(std::numeric_limits<double>::quiet_NaN()), kMissing);
    EXPECT_EQ(record(0, 3e8, 20.0), std::make_pair(kMissing, 20.0));
}

TEST_F(PpdTest, ExactlyOneIsStoredButNeverAveraged) {
    EXPECT_EQ(record(0, 1.0, 30.0), std::make_pair(kMissing, kMissing));
    EXPECT_EQ(history(0).position, 1);
    EXPECT_EQ(history(0).x[0], 1.0);
    // The stored pair is skipped: only the new one counts.
    EXPECT_EQ(record(0, 20.0, 20.0), std::make_pair(20.0, 20.0));
    EXPECT_EQ(record(0, 30.0, 1.0), std::make_pair(20.0, 20.0));
    EXPECT_EQ(history(0).position, 3);
}

TEST_F(PpdTest, EleventhResultOverwritesTheOldest) {
    record(0, 100.0, 50.0);
    std::pair<double, double> r;
    for (int i = 0; i < 9; ++i) r = record(0, 20.0, 30.0);
    EXPECT_EQ(r, std::make_pair(28.0, 32.0));  // (100 + 9 * 20) / 10, (50 + 9 * 30) / 10
    EXPECT_EQ(history(0).position, 0);
    EXPECT_EQ(record(0, 20.0, 30.0), std::make_pair(20.0, 30.0));
    EXPECT_EQ(history(0).position, 1);
}

TEST_F(PpdTest, AfterWrappingTheAverageCoversTheTenLatest) {
    // Eleven distinct results: the first is gone; slot 0 holds the newest.
    const double values[11] = {1.7, 2.3, 3.1, 4.9, 5.3, 6.1, 7.7, 8.3, 9.9, 10.1, 11.3};
    std::pair<double, double> r;
    for (double v : values) r = record(1, v, v + 0.07);
    // 2.3 + ... + 11.3 = 69.0: 6.9 and 6.97; with 1.7 instead of 11.3 it
    // would be 5.9 and 6.0.
    EXPECT_EQ(r, std::make_pair(6.9, 7.0));
}

TEST_F(PpdTest, AResultBelowOneEmptiesOnlyThatEye) {
    record(0, 20.0, 20.0);
    record(0, 40.0, 40.0);
    record(1, 30.0, 30.0);
    const PpdHistory other = history(1);
    for (auto bad : {std::make_pair(0.99, 30.0), std::make_pair(30.0, 0.0)}) {
        record(0, 20.0, 20.0);
        EXPECT_EQ(record(0, bad.first, bad.second), std::make_pair(kMissing, kMissing));
        EXPECT_EQ(history(0).position, 0);
        EXPECT_EQ(history(0).x, (std::array<double, kPpdHistorySize>{}));
        EXPECT_EQ(std::memcmp(&history(1), &other, sizeof other), 0);
        // The next good result stands alone.
        EXPECT_EQ(record(0, 12.0, 13.0), std::make_pair(12.0, 13.0));
    }
}

TEST_F(PpdTest, EyesKeepSeparateHistories) {
    EXPECT_EQ(record(0, 20.0, 21.0), std::make_pair(20.0, 21.0));
    EXPECT_EQ(record(1, 40.0, 41.0), std::make_pair(40.0, 41.0));
    EXPECT_EQ(record(0, 22.0, 23.0), std::make_pair(21.0, 22.0));
    EXPECT_EQ(record(1, 42.0, 43.0), std::make_pair(41.0, 42.0));
}

TEST_F(PpdTest, NotANumberNeitherEmptiesNorCounts) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    record(0, 20.0, 20.0);
    EXPECT_EQ(record(0, nan, 30.0), std::make_pair(20.0, 20.0));
    EXPECT_EQ(history(0).position, 2);
    EXPECT_EQ(record(0, 30.0, nan), std::make_pair(20.0, 20.0));
}

// ---------------------------------------------------------------------------
// Guards of the exported call

TEST_F(PpdTest, SampleWithoutGazeOrHeadRefLeavesTheHistoryAlone) {
    setUpFlatDisplay(unitsForPpd(30.0), unitsForPpd(30.0));
    record(0, 20.0, 20.0);
    const PhysicalSetupState before = physicalSetupState();
    for (std::uint16_t drop : {std::uint16_t{VOK_SAMPLE_GAZE}, std::uint16_t{VOK_SAMPLE_HEADREF}}) {
        Sample s = gazeSample(0, 640, 512, 0, 0);
        s.flags = static_cast<std::uint16_t>(s.flags & ~drop);
        double x = 0;
        double y = 0;
        vok_calculate_ppd(49, 49, &s, 0, &x, &y);
        EXPECT_EQ(x, kMissing);
        EXPECT_EQ(y, kMissing);
        EXPECT_TRUE(sameBits(physicalSetupState(), before));
    }
}

TEST_F(PpdTest, EyeOutsideZeroAndOneGivesNoValueAndTouchesNothing) {
    setUpFlatDisplay(unitsForPpd(30.0), unitsForPpd(30.0));
    record(0, 20.0, 20.0);
    record(1, 30.0, 30.0);
    const PhysicalSetupState before = physicalSetupState();
    Sample s = gazeSample(0, 640, 512, 0, 0);
    for (int eye : {-1, 2, 3, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(eye);
        double x = 0;
        double y = 0;
        vok_calculate_ppd(49, 49, &s, eye, &x, &y);
        EXPECT_EQ(x, kMissing);
        EXPECT_EQ(y, kMissing);
        EXPECT_TRUE(sameBits(physicalSetupState(), before));
    }
}

TEST_F(PpdTest, NullPointersWriteWhatCanBeWritten) {
    setUpFlatDisplay(unitsForPpd(30.0), unitsForPpd(30.0));
    const PhysicalSetupState before = physicalSetupState();
    Sample s = gazeSample(0, 640, 512, 0, 0);
    double x = 0;
    double y = 0;
    vok_calculate_ppd(49, 49, nullptr, 0, &x, &y);
    EXPECT_EQ(x, kMissing);
    EXPECT_EQ(y, kMissing);
    y = 0;
    vok_calculate_ppd(49, 49, &s, 0, nullptr, &y);
    EXPECT_EQ(y, kMissing);
    x = 0;
    vok_calculate_ppd(49, 49, &s, 0, &x, nullptr);
    EXPECT_EQ(x, kMissing);
    vok_calculate_ppd(49, 49, &s, 0, nullptr, nullptr);
    EXPECT_TRUE(sameBits(physicalSetupState(), before));
}

// ---------------------------------------------------------------------------
// Properties over random geometry and samples

float randomFloat(std::mt19937& rng) {
    switch (rng() % 8) {
        case 0: {  // any bit pattern, NaN and infinities included
            const std::uint32_t bits = static_cast<std::uint32_t>(rng());
            float f;
            std::memcpy(&f, &bits, sizeof f);
            return f;
        }
        case 1:
            return 0.0f;
        case 2:
            return kSingleDistance;
        default:
            return std::uniform_real_distribution<float>(-2000.0f, 2000.0f)(rng);
    }
}

TEST_F(PpdTest, RandomInputsGiveMarkersOrRoundedValuesRepeatably) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    for (int round = 0; round < 300; ++round) {
        float g[10];
        for (float& v : g) v = randomFloat(rng);
        if (rng() % 2) {  // a plausible geometry half of the time
            g[0] = 600;
            g[2] = -200;
            g[3] = -150;
            g[4] = 200;
            g[5] = 150;
            g[6] = 0;
            g[7] = 0;
            g[8] = 1280;
            g[9] = 1024;
        }
        vok_compute_physical_setup(g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7], g[8], g[9]);
        for (int call = 0; call < 15; ++call) {
            const int eye = static_cast<int>(rng() % 4) - 1;
            Sample s{};
            for (float* f : {s.gazeX, s.gazeY, s.headRefX, s.headRefY}) {
                f[0] = randomFloat(rng);
                f[1] = randomFloat(rng);
            }
            s.flags = static_cast<std::uint16_t>(rng());
            const float ex = randomFloat(rng);
            const float ey = randomFloat(rng);
            if (eye == 0 || eye == 1) {
                const PpdProbe p1 = probePpd(ex, ey, s, eye);
                const PpdProbe p2 = probePpd(ex, ey, s, eye);
                EXPECT_EQ(std::memcmp(&p1, &p2, sizeof p1), 0);
            }
            double x = 0;
            double y = 0;
            vok_calculate_ppd(ex, ey, &s, eye, &x, &y);
            for (double v : {x, y}) {
                if (v == kMissing) continue;
                EXPECT_GE(v, 1.0);
                EXPECT_EQ(v, std::round(v * 10) / 10);
            }
            for (int e : {0, 1}) {
                EXPECT_GE(history(e).position, 0);
                EXPECT_LT(history(e).position, kPpdHistorySize);
            }
        }
    }
}

}  // namespace
}  // namespace vok
