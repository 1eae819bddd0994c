// Sample velocities: neighbour offsets, the classic and the rate-scaled
// formulas at each rate band, the three resolution sources, gaps and the
// edges of the window.  Expected values are written out step by step in the
// same f32/double precision, or derived by hand.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "load/SampleWindow.h"
#include "load/Velocities.h"

namespace vok {
namespace {

constexpr float kMissing = 1e8f;
constexpr float kUntouched = -7.0f;  // pre-set in outputs that must stay as they are
constexpr unsigned kBothEyes = VOK_SAMPLE_LEFT | VOK_SAMPLE_RIGHT;
constexpr unsigned kAllGroups = VOK_SAMPLE_PUPILXY | VOK_SAMPLE_HEADREF | VOK_SAMPLE_GAZE |
                                VOK_SAMPLE_RESOLUTION | VOK_SAMPLE_PUPILSIZE |
                                VOK_SAMPLE_IS_SAMPLE;
constexpr float kResX = 37.5f;
constexpr float kResY = 35.25f;

using Pair = float[2];
using Series = std::array<float, 39>;

// Sample number i of a recording in which every position moves along its
// own curve, so each group and eye has its own velocities.
Sample movingSample(int i, unsigned eyes) {
    Sample s{};
    s.flags = static_cast<std::uint16_t>(eyes | kAllGroups);
    const float fi = static_cast<float>(i);
    for (int e = 0; e < 2; ++e) {
        const float fe = static_cast<float>(e);
        s.gazeX[e] = 100.0f + 3.25f * fi + 0.125f * fi * fi + 7.0f * fe;
        s.gazeY[e] = 400.0f - 1.5f * fi + 0.0625f * fi * fi - 3.0f * fe * fi;
        s.headRefX[e] = 2000.0f + 41.0f * fi + 0.5f * fi * fi + 11.0f * fe;
        s.headRefY[e] = -1500.0f + 25.0f * fi - 0.25f * fi * fi;
        s.pupilX[e] = 300.0f + 0.75f * fi * fi + 5.0f * fe * fi;
        s.pupilY[e] = -200.0f + 2.5f * fi;
        s.pupilSize[e] = 800.0f;
    }
    s.resolutionX = kResX;
    s.resolutionY = kResY;
    return s;
}

void buildWindow(SampleWindow& w, std::uint64_t firstKey, std::uint64_t step, int n,
                 unsigned eyes = kBothEyes) {
    w.reset();
    for (int i = 0; i < n; ++i) {
        const std::uint64_t key = firstKey + step * static_cast<std::uint64_t>(i);
        Sample s = movingSample(i, eyes);
        s.time = static_cast<std::uint32_t>(key / 2);
        w.append(s, key);
    }
}

// The copy of slot that the loader would hand to the velocity computation,
// with every velocity pre-set to a value the computation never produces.
Sample centreCopy(const SampleWindow& w, int slot) {
    Sample s = w.slot(slot);
    Pair* velocities[] = {&s.gazeVelX,        &s.gazeVelY,        &s.headRefVelX,
                          &s.headRefVelY,     &s.pupilVelX,       &s.pupilVelY,
                          &s.fastGazeVelX,    &s.fastGazeVelY,    &s.fastHeadRefVelX,
                          &s.fastHeadRefVelY, &s.fastPupilVelX,   &s.fastPupilVelY};
    for (Pair* v : velocities) {
        (*v)[0] = kUntouched;
        (*v)[1] = kUntouched;
    }
    return s;
}

// The six outputs in the order they are computed, with the positions each reads.
struct Output {
    const char* name;
    bool fast;
    bool headRef;
    Pair Sample::*posX;
    Pair Sample::*posY;
    Pair Sample::*velX;
    Pair Sample::*velY;
};
constexpr Output kOutputs[] = {
    {"gaze", false, false, &Sample::gazeX, &Sample::gazeY, &Sample::gazeVelX, &Sample::gazeVelY},
    {"headRef", false, true, &Sample::headRefX, &Sample::headRefY, &Sample::headRefVelX,
     &Sample::headRefVelY},
    {"pupil", false, false, &Sample::pupilX, &Sample::pupilY, &Sample::pupilVelX,
     &Sample::pupilVelY},
    {"fastGaze", true, false, &Sample::gazeX, &Sample::gazeY, &Sample::fastGazeVelX,
     &Sample::fastGazeVelY},
    {"fastHeadRef", true, true, &Sample::headRefX, &Sample::headRefY, &Sample::fastHeadRefVelX,
     &Sample::fastHeadRefVelY},
    {"fastPupil", true, false, &Sample::pupilX, &Sample::pupilY, &Sample::fastPupilVelX,
     &Sample::fastPupilVelY},
};

// Series of one position of a regular window: neighbour j periods away is
// slot centreSlot + j; slots outside the window give 1e8.
Series seriesOf(const SampleWindow& w, int centreSlot, Pair Sample::*field, int eye) {
    Series s{};
    for (int j = -19; j <= 19; ++j) {
        const int slot = centreSlot + j;
        s[static_cast<std::size_t>(j + 19)] =
            slot >= 0 && slot < w.count() ? (w.slot(slot).*field)[eye] : kMissing;
    }
    return s;
}

// ---- expected values, step by step ----

void expectedHeadRefResolution(float cx, float cy, float& rx, float& ry) {
    const float cx2 = cx * cx;
    const float cy2 = cy * cy;
    const float f2 = 15000.0f * 15000.0f;
    const double numerator = (static_cast<double>(cx2) + cy2) + f2;
    rx = static_cast<float>(numerator / std::sqrt(static_cast<double>(cy2) + f2) / 57.2958);
    ry = static_cast<float>(numerator / std::sqrt(static_cast<double>(cx2) + f2) / 57.2958);
}

// Classic form with the four neighbours around the centre present.
float classicNormal(const Series& s, float rate, float res) {
    float v = s[18] + s[17];
    v = s[20] - v;
    v = v + s[21];
    v = v * rate;
    v = v / 6.0f;
    return v / res;
}

float classicFast(const Series& s, float rate, float res) {
    float v = s[20] - s[18];
    v = v * rate;
    v = v * 0.5f;
    return v / res;
}

float pairMean(float x, float y) { return (x + y) * 0.5f; }
float quadMean(float w, float x, float y, float z) { return (((w + x) + y) + z) * 0.25f; }

float rateScaled(bool fast, const Series& s, float rate, float res) {
    float a, b, c, d;
    float factor = 1.0f;
    if (rate < 500.0f) {
        a = s[17];
        b = s[18];
        c = s[20];
        d = s[21];
    } else if (rate < 1000.0f) {
        a = pairMean(s[15], s[16]);
        b = pairMean(s[17], s[18]);
        c = pairMean(s[20], s[21]);
        d = pairMean(s[22], s[23]);
        factor = 1.2f;
    } else if (rate < 2000.0f) {
        a = quadMean(s[10], s[11], s[12], s[13]);
        b = quadMean(s[14], s[15], s[16], s[17]);
        c = quadMean(s[21], s[22], s[23], s[24]);
        d = quadMean(s[25], s[26], s[27], s[28]);
        factor = 1.0909091f;
    } else {
        auto eight = [&](int i) {
            const std::size_t u = static_cast<std::size_t>(i);
            return quadMean(pairMean(s[u], s[u + 1]), pairMean(s[u + 2], s[u + 3]),
                            pairMean(s[u + 4], s[u + 5]), pairMean(s[u + 6], s[u + 7]));
        };
        a = eight(0);
        b = eight(8);
        c = eight(23);
        d = eight(31);
        factor = 1.0434783f;
    }
    float v = fast ? (c - b) * 0.5f : ((c + d) - (a + b)) * 0.167f;
    if (rate >= 500.0f) v = v * factor;
    const float scale = 250.0f / res;
    return scale * v;
}

// ---- neighbourhood ----

TEST(Velocities, NeighbourOffsetsAtEachRate) {
    SampleWindow w;
    buildWindow(w, 0, 1, 500);  // every half-millisecond key 0..499
    const int centreSlot = 200;
    const Sample centre = centreCopy(w, centreSlot);
    struct Case {
        int rate;
        std::uint64_t perPeriod;  // half-milliseconds per period
    } cases[] = {{250, 8}, {500, 4}, {1000, 2}, {2000, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        Neighbourhood n;
        findNeighbours(w, centre, c.rate, n);
        EXPECT_EQ(n[19], &centre);
        for (std::uint64_t j = 1; j <= 19; ++j) {
            ASSERT_NE(n[19 - j], nullptr) << j;
            ASSERT_NE(n[19 + j], nullptr) << j;
            EXPECT_EQ(n[19 - j]->timeHalfMs, 200 - c.perPeriod * j);
            EXPECT_EQ(n[19 + j]->timeHalfMs, 200 + c.perPeriod * j);
        }
    }

    // A rate whose period is not a whole number of half-milliseconds: the
    // offset is the truncated f32 product.
    Neighbourhood n;
    findNeighbours(w, centre, 300, n);
    const float period = static_cast<float>(1000.0 / 300);
    for (int j = 1; j <= 19; ++j) {
        const float product = static_cast<float>(j) * period * 2.0f;
        const auto offset = static_cast<std::uint64_t>(std::trunc(product));
        ASSERT_NE(n[static_cast<std::size_t>(19 + j)], nullptr);
        EXPECT_EQ(n[static_cast<std::size_t>(19 + j)]->timeHalfMs, 200 + offset) << j;
    }
    EXPECT_EQ(n[22]->timeHalfMs, 220u);  // 3 periods of 3.33 ms: exactly 10 ms in f32
}

TEST(Velocities, NeighbourKeysDoNotWrap) {
    constexpr std::uint64_t kTop = std::numeric_limits<std::uint64_t>::max();
    // Keys 0..40 and the largest key: a key below 0 that wrapped around would
    // find the last slot.
    SampleWindow low;
    buildWindow(low, 0, 1, 41);
    low.append(movingSample(0, kBothEyes), kTop);
    const Sample lowCentre = centreCopy(low, 1);
    Neighbourhood n;
    findNeighbours(low, lowCentre, 2000, n);
    EXPECT_EQ(n[18], &low.slot(0));
    for (int i = 0; i < 18; ++i) EXPECT_EQ(n[static_cast<std::size_t>(i)], nullptr) << i;
    EXPECT_EQ(n[20], &low.slot(2));

    // Key 0 and keys up to the largest: a key past the top that wrapped
    // around would find slot 0.
    SampleWindow high;
    high.append(movingSample(0, kBothEyes), 0);
    for (std::uint64_t k = kTop - 40; k != 0; ++k) high.append(movingSample(1, kBothEyes), k);
    ASSERT_EQ(high.key(high.count() - 1), kTop);
    const Sample highCentre = centreCopy(high, high.count() - 2);  // key kTop - 1
    findNeighbours(high, highCentre, 2000, n);
    EXPECT_EQ(n[20], &high.slot(high.count() - 1));
    for (int i = 21; i < 39; ++i) EXPECT_EQ(n[static_cast<std::size_t>(i)], nullptr) << i;
    EXPECT_EQ(n[18], &high.slot(high.count() - 3));
}

TEST(Velocities, RateZeroOrNegativeGivesNoNeighbours) {
    SampleWindow w;
    buildWindow(w, 1000, 2, 100);
    for (int rate : {0, -1, -1000, std::numeric_limits<int>::min()}) {
        SCOPED_TRACE(rate);
        Sample centre = centreCopy(w, 50);
        Neighbourhood n;
        findNeighbours(w, centre, rate, n);
        for (int i = 0; i < 39; ++i) {
            if (i != 19) {
                EXPECT_EQ(n[static_cast<std::size_t>(i)], nullptr);
            }
        }
        for (int revision : {2, 3}) {
            centre = centreCopy(w, 50);
            EXPECT_EQ(computeSampleVelocities(w, centre, kMissing, kMissing, rate, revision), 0);
            for (const Output& o : kOutputs) {
                for (int eye = 0; eye < 2; ++eye) {
                    EXPECT_EQ((centre.*o.velX)[eye], kMissing) << o.name;
                    EXPECT_EQ((centre.*o.velY)[eye], kMissing) << o.name;
                }
            }
        }
    }
}

// ---- the two formulas through the whole computation ----

// Checks every output of both eyes of the sample in slot centreSlot of a
// regular window against the written-out formula.
void checkAllOutputs(const SampleWindow& w, int centreSlot, int rate, int revision) {
    Sample centre = centreCopy(w, centreSlot);
    ASSERT_EQ(computeSampleVelocities(w, centre, kMissing, kMissing, rate, revision), 0);
    const float rateF = static_cast<float>(rate);
    for (int eye = 0; eye < 2; ++eye) {
        for (const Output& o : kOutputs) {
            SCOPED_TRACE(testing::Message() << o.name << " eye " << eye);
            const Series xs = seriesOf(w, centreSlot, o.posX, eye);
            const Series ys = seriesOf(w, centreSlot, o.posY, eye);
            float rx = kResX;
            float ry = kResY;
            if (o.headRef) expectedHeadRefResolution(xs[19], ys[19], rx, ry);
            float ex, ey;
            if (revision < 3) {
                ex = o.fast ? classicFast(xs, rateF, rx) : classicNormal(xs, rateF, rx);
                ey = o.fast ? classicFast(ys, rateF, ry) : classicNormal(ys, rateF, ry);
            } else {
                ex = rateScaled(o.fast, xs, rateF, rx);
                ey = rateScaled(o.fast, ys, rateF, ry);
            }
            EXPECT_EQ((centre.*o.velX)[eye], ex);
            EXPECT_EQ((centre.*o.velY)[eye], ey);
            EXPECT_NE(ex, kMissing);
        }
    }
}

struct RateCase {
    int rate;
    std::uint64_t keyStep;  // half-milliseconds between samples at that rate
};
constexpr RateCase kRates[] = {{250, 8}, {500, 4}, {1000, 2}, {2000, 1}};

TEST(Velocities, ClassicAtEachRate) {
    for (const RateCase& c : kRates) {
        SCOPED_TRACE(c.rate);
        SampleWindow w;
        buildWindow(w, 5000 + c.keyStep, c.keyStep, 120);
        checkAllOutputs(w, 60, c.rate, 2);
    }
}

TEST(Velocities, RateScaledAtEachRate) {
    for (const RateCase& c : kRates) {
        SCOPED_TRACE(c.rate);
        SampleWindow w;
        buildWindow(w, 5000 + c.keyStep, c.keyStep, 120);
        checkAllOutputs(w, 60, c.rate, 3);
    }
}

TEST(Velocities, SteadyMotionByHand) {
    // gazeX moves 2 pixels per sample at 1000 Hz, 10 pixels per degree:
    // 2000 px/s = 200 deg/s by both classic forms.
    SampleWindow w;
    for (int i = 0; i < 60; ++i) {
        Sample s{};
        s.flags = VOK_SAMPLE_LEFT | VOK_SAMPLE_GAZE | VOK_SAMPLE_RESOLUTION;
        s.gazeX[0] = 2.0f * static_cast<float>(i);
        s.gazeY[0] = 50.0f;
        s.resolutionX = 10.0f;
        s.resolutionY = 10.0f;
        w.append(s, 2 * static_cast<std::uint64_t>(i));
    }
    Sample centre = centreCopy(w, 30);
    computeSampleVelocities(w, centre, kMissing, kMissing, 1000, 2);
    EXPECT_EQ(centre.gazeVelX[0], 200.0f);
    EXPECT_EQ(centre.fastGazeVelX[0], 200.0f);
    EXPECT_EQ(centre.gazeVelY[0], 0.0f);
    EXPECT_EQ(centre.pupilVelX[0], kMissing);  // no pupil positions recorded
    EXPECT_EQ(centre.headRefVelX[0], kMissing);

    // Rate-scaled at 1000 Hz: groups of four 7 samples apart; the fast form
    // is 14 px / 2 * 25 * 1.0909091 = 190.9 deg/s.
    centre = centreCopy(w, 30);
    computeSampleVelocities(w, centre, kMissing, kMissing, 1000, 3);
    EXPECT_NEAR(centre.fastGazeVelX[0], 190.909f, 0.001f);
    EXPECT_NEAR(centre.gazeVelX[0], 44.0f * 0.167f * 1.0909091f * 25.0f, 0.001f);
}

// ---- edges and gaps ----

TEST(Velocities, FrontOfAFreshWindow) {
    SampleWindow w;
    buildWindow(w, 2000, 2, 40);
    for (int revision : {2, 3}) {
        Sample centre = centreCopy(w, 0);
        computeSampleVelocities(w, centre, kMissing, kMissing, 1000, revision);
        for (const Output& o : kOutputs) {
            SCOPED_TRACE(testing::Message() << o.name << " revision " << revision);
            const Series xs = seriesOf(w, 0, o.posX, 0);
            float rx = kResX;
            float ry = kResY;
            if (o.headRef) expectedHeadRefResolution(xs[19], seriesOf(w, 0, o.posY, 0)[19], rx, ry);
            if (revision < 3) {
                float expected = xs[20] - xs[19];
                expected = expected * 1000.0f;
                expected = expected / rx;
                EXPECT_EQ((centre.*o.velX)[0], expected);
            } else {
                EXPECT_EQ((centre.*o.velX)[0], kMissing);
                EXPECT_EQ((centre.*o.velY)[1], kMissing);
            }
        }
    }
}

TEST(Velocities, SmallPupilsAreGaps) {
    SampleWindow w;
    buildWindow(w, 100, 2, 80);
    // The centre's left pupil is too small: a gap at the centre of its own series.
    Sample centre = centreCopy(w, 40);
    centre.pupilSize[0] = 14.5f;

    Sample rev3 = centre;
    computeSampleVelocities(w, rev3, kMissing, kMissing, 1000, 3);
    for (const Output& o : kOutputs) {
        EXPECT_EQ((rev3.*o.velX)[0], kMissing) << o.name;
        EXPECT_EQ((rev3.*o.velY)[0], kMissing) << o.name;
        EXPECT_NE((rev3.*o.velX)[1], kMissing) << o.name;  // the right eye is fine
    }

    Sample rev2 = centre;
    computeSampleVelocities(w, rev2, kMissing, kMissing, 1000, 2);
    const Series gx = seriesOf(w, 40, &Sample::gazeX, 0);
    EXPECT_EQ(rev2.gazeVelX[0], classicNormal(gx, 1000.0f, kResX));
    EXPECT_EQ(rev2.fastGazeVelX[0], classicFast(gx, 1000.0f, kResX));
    // Without a centre position the head-referenced resolution falls back to
    // the sample's own.
    const Series hy = seriesOf(w, 40, &Sample::headRefY, 0);
    EXPECT_EQ(rev2.headRefVelY[0], classicNormal(hy, 1000.0f, kResY));

    // A neighbour with a small pupil is a gap too: the sample after the
    // centre is lost, so both forms use the centre and the one before.
    SampleWindow gap;
    buildWindow(gap, 100, 2, 80);
    gap.slot(41).pupilSize[0] = 3.0f;
    Sample next = centreCopy(gap, 40);
    computeSampleVelocities(gap, next, kMissing, kMissing, 1000, 2);
    float expected = gx[19] - gx[18];
    expected = expected * 1000.0f;
    expected = expected / kResX;
    EXPECT_EQ(next.gazeVelX[0], expected);
    EXPECT_EQ(next.fastGazeVelX[0], expected);
    EXPECT_EQ(next.gazeVelX[1], classicNormal(seriesOf(gap, 40, &Sample::gazeX, 1), 1000.0f, kResX));

    // A pupil below 15 without the pupil-size bit is not a lost eye.
    Sample noBit = centreCopy(w, 40);
    noBit.flags = static_cast<std::uint16_t>(noBit.flags & ~VOK_SAMPLE_PUPILSIZE);
    noBit.pupilSize[0] = 1.0f;
    computeSampleVelocities(w, noBit, kMissing, kMissing, 1000, 3);
    EXPECT_EQ(noBit.gazeVelX[0], rateScaled(false, gx, 1000.0f, kResX));
}

// ---- resolutions ----

TEST(Velocities, OverridePairIsUsedUnchanged) {
    SampleWindow w;
    buildWindow(w, 100, 2, 80);
    const Series gx = seriesOf(w, 40, &Sample::gazeX, 0);
    const Series gy = seriesOf(w, 40, &Sample::gazeY, 0);
    const Series hx = seriesOf(w, 40, &Sample::headRefX, 0);

    // Outside the range a recorded resolution must lie in, yet used as given,
    // for the head-referenced group as well.
    Sample s = centreCopy(w, 40);
    computeSampleVelocities(w, s, 20000.0f, 0.5f, 1000, 2);
    EXPECT_EQ(s.gazeVelX[0], classicNormal(gx, 1000.0f, 20000.0f));
    EXPECT_EQ(s.gazeVelY[0], classicNormal(gy, 1000.0f, 0.5f));
    EXPECT_EQ(s.headRefVelX[0], classicNormal(hx, 1000.0f, 20000.0f));

    // Only resX switches the override on; a resY at or below 0.01 gives no y.
    s = centreCopy(w, 40);
    computeSampleVelocities(w, s, 20.0f, 0.01f, 1000, 2);
    EXPECT_EQ(s.gazeVelX[0], classicNormal(gx, 1000.0f, 20.0f));
    EXPECT_EQ(s.gazeVelY[0], kMissing);

    s = centreCopy(w, 40);
    computeSampleVelocities(w, s, kMissing, 20.0f, 1000, 2);
    EXPECT_EQ(s.gazeVelY[0], classicNormal(gy, 1000.0f, kResY));  // the sample's own

    // An override at or below 0.01 in x gives no x velocity.
    s = centreCopy(w, 40);
    computeSampleVelocities(w, s, -3.0f, 20.0f, 1000, 2);
    EXPECT_EQ(s.gazeVelX[0], kMissing);
    EXPECT_EQ(s.gazeVelY[0], classicNormal(gy, 1000.0f, 20.0f));
}

TEST(Velocities, HeadReferencedResolution) {
    SampleWindow w;
    buildWindow(w, 100, 2, 80);
    w.slot(40).headRefX[0] = 0.0f;  // centre at the origin of the plane
    w.slot(40).headRefY[0] = 0.0f;
    w.slot(39).headRefX[0] = -100.0f;
    w.slot(41).headRefX[0] = 100.0f;
    Sample s = centreCopy(w, 40);
    computeSampleVelocities(w, s, kMissing, kMissing, 1000, 2);
    // Fast form: (100 - -100) * 1000 * 0.5 = 100000 position units per second.
    const float resolution = 100000.0f / s.fastHeadRefVelX[0];
    EXPECT_NEAR(resolution, 15000.0 / 57.2958, 0.001);
    EXPECT_NEAR(resolution, 261.8f, 0.01f);
    float rx, ry;
    expectedHeadRefResolution(0.0f, 0.0f, rx, ry);
    EXPECT_EQ(rx, ry);
    EXPECT_EQ(s.fastHeadRefVelX[0], 100000.0f / rx);

    // Off the origin the two axes differ.
    w.slot(40).headRefX[0] = 3000.0f;
    w.slot(40).headRefY[0] = -4000.0f;
    s = centreCopy(w, 40);
    computeSampleVelocities(w, s, kMissing, kMissing, 1000, 2);
    expectedHeadRefResolution(3000.0f, -4000.0f, rx, ry);
    EXPECT_NE(rx, ry);
    EXPECT_EQ(s.headRefVelX[0], classicNormal(seriesOf(w, 40, &Sample::headRefX, 0), 1000.0f, rx));
    EXPECT_EQ(s.headRefVelY[0], classicNormal(seriesOf(w, 40, &Sample::headRefY, 0), 1000.0f, ry));

    // Far off the plane the resolution leaves its range: no head-referenced
    // velocity, and no fallback to the sample's resolution.
    w.slot(40).headRefX[0] = 1.0e6f;
    s = centreCopy(w, 40);
    computeSampleVelocities(w, s, kMissing, kMissing, 1000, 2);
    EXPECT_EQ(s.headRefVelX[0], kMissing);
    EXPECT_EQ(s.fastHeadRefVelY[0], kMissing);
    EXPECT_NE(s.gazeVelX[0], kMissing);
}

TEST(Velocities, NoUsableRecordedResolution) {
    struct Case {
        float resX;
        float resY;
    } cases[] = {{kMissing, kMissing}, {0.01f, 30.0f}, {10000.0f, 30.0f}, {30.0f, 0.0f},
                 {std::nanf(""), 30.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.resX << " " << c.resY);
        SampleWindow w;
        buildWindow(w, 100, 2, 80);
        w.slot(40).resolutionX = c.resX;
        w.slot(40).resolutionY = c.resY;
        Sample s = centreCopy(w, 40);
        computeSampleVelocities(w, s, kMissing, kMissing, 1000, 3);
        for (const Output& o : kOutputs) {
            for (int eye = 0; eye < 2; ++eye) {
                if (o.headRef) {
                    EXPECT_NE((s.*o.velX)[eye], kMissing) << o.name;
                    EXPECT_NE((s.*o.velY)[eye], kMissing) << o.name;
                } else {
                    EXPECT_EQ((s.*o.velX)[eye], kMissing) << o.name;
                    EXPECT_EQ((s.*o.velY)[eye], kMissing) << o.name;
                }
            }
        }
    }
}

TEST(Velocities, AbsentEyeIsLeftUntouched) {
    SampleWindow w;
    buildWindow(w, 100, 2, 80, VOK_SAMPLE_RIGHT);
    Sample s = centreCopy(w, 40);
    computeSampleVelocities(w, s, kMissing, kMissing, 1000, 2);
    for (const Output& o : kOutputs) {
        EXPECT_EQ((s.*o.velX)[0], kUntouched) << o.name;
        EXPECT_EQ((s.*o.velY)[0], kUntouched) << o.name;
    }
    EXPECT_EQ(s.gazeVelX[1], classicNormal(seriesOf(w, 40, &Sample::gazeX, 1), 1000.0f, kResX));
    EXPECT_EQ(s.fastPupilVelY[1], classicFast(seriesOf(w, 40, &Sample::pupilY, 1), 1000.0f, kResY));
}

// ---- the building blocks ----

TEST(Velocities, PositionPair) {
    Sample s = movingSample(3, VOK_SAMPLE_LEFT);
    float x = 0, y = 0;
    EXPECT_TRUE(positionPair(s, 0, kGroupGaze, x, y));
    EXPECT_EQ(x, s.gazeX[0]);
    EXPECT_EQ(y, s.gazeY[0]);
    EXPECT_TRUE(positionPair(s, 0, kGroupHeadRef, x, y));
    EXPECT_EQ(x, s.headRefX[0]);
    EXPECT_TRUE(positionPair(s, 0, kGroupPupil, x, y));
    EXPECT_EQ(y, s.pupilY[0]);

    EXPECT_FALSE(positionPair(s, 1, kGroupGaze, x, y));  // right eye absent
    EXPECT_EQ(x, kMissing);
    EXPECT_FALSE(positionPair(s, 2, kGroupGaze, x, y));
    EXPECT_TRUE(positionPair(s, 0, 100, x, y));  // no such group
    EXPECT_EQ(y, kMissing);

    Sample noGaze = s;
    noGaze.flags = static_cast<std::uint16_t>(noGaze.flags & ~VOK_SAMPLE_GAZE);
    EXPECT_TRUE(positionPair(noGaze, 0, kGroupGaze, x, y));
    EXPECT_EQ(x, kMissing);
    EXPECT_TRUE(positionPair(noGaze, 0, kGroupPupil, x, y));
    EXPECT_EQ(x, s.pupilX[0]);

    Sample small = s;
    small.pupilSize[0] = 14.99f;
    EXPECT_TRUE(positionPair(small, 0, kGroupPupil, x, y));
    EXPECT_EQ(x, kMissing);
    small.pupilSize[0] = 15.0f;  // 15 itself is fine
    EXPECT_TRUE(positionPair(small, 0, kGroupPupil, x, y));
    EXPECT_EQ(x, s.pupilX[0]);
}

TEST(Velocities, WindowHasMissing) {
    Series s;
    s.fill(1.0f);
    struct Case {
        int centre, width, count;
        int missingAt;  // -1: none
        bool expected;
    } cases[] = {
        {19, 39, 39, -1, false},
        {19, 39, 38, -1, true},  // fewer values than the width
        {19, 5, 39, 17, true},   // first value of the window
        {19, 5, 39, 21, true},   // last value of the window
        {19, 5, 39, 19, true},   // the centre counts
        {19, 5, 39, 16, false},  // just outside
        {19, 5, 39, 22, false},
        {1, 5, 39, -1, true},    // starts before the series
        {37, 5, 39, -1, true},   // ends after the series
        {36, 5, 39, -1, false},
        {35, 9, 39, -1, true},   // its last value would be s[39]
        {34, 9, 39, -1, false},
        {5, 9, 9, -1, true},     // ends exactly one past the series
        {4, 9, 9, -1, false},
    };
    for (const Case& c : cases) {
        Series t = s;
        if (c.missingAt >= 0) t[static_cast<std::size_t>(c.missingAt)] = kMissing;
        EXPECT_EQ(windowHasMissing(t.data(), c.centre, c.width, c.count), c.expected)
            << c.centre << " " << c.width << " " << c.count << " " << c.missingAt;
    }
}

TEST(Velocities, ClassicFallbacks) {
    // s[i] = i * i: every difference is distinct.
    Series base;
    for (int i = 0; i < 39; ++i) base[static_cast<std::size_t>(i)] = static_cast<float>(i * i);
    const float rate = 500.0f;
    const float res = 20.0f;
    struct Case {
        std::array<int, 2> gaps;
        bool fast;
        float expected;  // by hand: squares around 19 are 289, 324, 361, 400, 441
    } cases[] = {
        // ((400 - (324 + 289)) + 441) * 500 / 6 / 20 = 228 * 500 / 120 = 950
        {{-1, -1}, false, 950.0f},
        // (400 - 324) * 500 * 0.5 / 20 = 950
        {{-1, -1}, true, 950.0f},
        {{17, -1}, false, 950.0f},    // case 1 needs s[17]: central difference
        {{18, -1}, false, 975.0f},    // (400 - 361) * 500 / 20
        {{20, -1}, true, 925.0f},     // (361 - 324) * 500 / 20
        {{18, 20}, false, kMissing},  // no neighbour next to the centre
        {{19, 20}, false, kMissing},
        {{19, -1}, true, 950.0f},     // the centre is not needed for a central difference
    };
    for (const Case& c : cases) {
        Series s = base;
        for (int g : c.gaps) {
            if (g >= 0) s[static_cast<std::size_t>(g)] = kMissing;
        }
        EXPECT_EQ(velocityClassic(c.fast, s.data(), 39, res, rate), c.expected)
            << c.gaps[0] << " " << c.gaps[1] << " fast " << c.fast;
    }
    // Series too short for any neighbour.
    EXPECT_EQ(velocityClassic(false, base.data(), 1, res, rate), kMissing);
    float two[2] = {1.0f, 3.0f};
    EXPECT_EQ(velocityClassic(false, two, 2, 1.0f, 1.0f), 2.0f);  // h = 1: s[1] - s[0]
}

TEST(Velocities, RateScaledBands) {
    Series s;
    for (int i = 0; i < 39; ++i) {
        const float fi = static_cast<float>(i);
        s[static_cast<std::size_t>(i)] = 3.0f * fi + 0.37f * fi * fi;
    }
    const float res = 33.0f;
    for (float rate : {60.0f, 250.0f, 499.0f, 500.0f, 999.0f, 1000.0f, 1999.0f, 2000.0f, 4000.0f}) {
        for (bool fast : {false, true}) {
            EXPECT_EQ(velocityRateScaled(fast, s.data(), 39, res, rate),
                      rateScaled(fast, s, rate, res))
                << rate << " fast " << fast;
        }
    }
    // Each band needs every value of its own window, and only those.
    struct Gap {
        float rate;
        int outside;  // missing without effect
        int inside;   // missing: 1e8
    } gaps[] = {{250.0f, 16, 21}, {500.0f, 14, 23}, {1000.0f, 9, 28}, {2000.0f, -1, 0}};
    for (const Gap& g : gaps) {
        Series t = s;
        if (g.outside >= 0) {
            t[static_cast<std::size_t>(g.outside)] = kMissing;
            EXPECT_NE(velocityRateScaled(false, t.data(), 39, res, g.rate), kMissing) << g.rate;
        }
        t[static_cast<std::size_t>(g.inside)] = kMissing;
        EXPECT_EQ(velocityRateScaled(true, t.data(), 39, res, g.rate), kMissing) << g.rate;
    }
    Series centreGap = s;
    centreGap[19] = kMissing;  // unused by the formula, but part of the window
    EXPECT_EQ(velocityRateScaled(false, centreGap.data(), 39, res, 250.0f), kMissing);
}

}  // namespace
}  // namespace vok

namespace vok {
namespace {

// The per-sample computation reads only the neighbours its formula needs and
// shares one series between the normal and the fast form; on any window it
// must give bit for bit what the one-pass-per-output reference gives.
TEST(Velocities, SharedSeriesMatchesThePassByPassReference) {
    std::uint32_t state = 12345;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (int round = 0; round < 400; ++round) {
        const int rates[] = {250, 500, 1000, 2000, 0, 333};
        const int rate = rates[next() % 6];
        const int revision = 2 + static_cast<int>(next() % 2);
        const int step = rate >= 2000 ? 1 : rate >= 1000 ? 2 : rate >= 500 ? 4 : 8;
        SampleWindow w;
        for (int i = 0; i < 120; ++i) {
            Sample s{};
            s.flags = static_cast<std::uint16_t>(0x0001 | (next() % 8 == 0 ? 0 : 0x8000) | (next() % 8 == 0 ? 0 : 0x4000) |
                                                 0x1000 | 0x0800 | 0x0400 | (next() % 2 ? 0x0200 : 0) |
                                                 (next() % 3 ? 0x0100 : 0));
            for (int e = 0; e < 2; ++e) {
                auto value = [&] { return next() % 20 == 0 ? 1e8f : static_cast<float>(static_cast<int>(next() % 4000) - 2000) / 7.0f; };
                s.gazeX[e] = value();
                s.gazeY[e] = value();
                s.headRefX[e] = value();
                s.headRefY[e] = value();
                s.pupilX[e] = value();
                s.pupilY[e] = value();
                s.pupilSize[e] = static_cast<float>(next() % 40);
            }
            s.resolutionX = next() % 10 == 0 ? 1e8f : 20.0f + static_cast<float>(next() % 30);
            s.resolutionY = 21.0f;
            // Mostly regular keys, now and then a gap.
            const std::uint64_t key = 1000 + static_cast<std::uint64_t>(i) * step + (next() % 30 == 0 ? 3 : 0);
            w.append(s, key);
        }
        const float resX = next() % 4 == 0 ? 33.0f : 1e8f;
        const float resY = 34.0f;
        for (int slot = 0; slot < w.count(); slot += 7) {
            Sample fast = w.slot(slot);
            Sample reference = fast;
            for (float* v = fast.gazeVelX; v < fast.fastPupilVelY + 2; ++v) *v = -1.0f;
            for (float* v = reference.gazeVelX; v < reference.fastPupilVelY + 2; ++v) *v = -1.0f;
            computeSampleVelocities(w, fast, resX, resY, rate, revision);

            Neighbourhood all;
            findNeighbours(w, reference, rate, all);
            struct Pass {
                bool isFast;
                int group;
                float (Sample::*x)[2];
                float (Sample::*y)[2];
            };
            const Pass passes[] = {
                {false, kGroupGaze, &Sample::gazeVelX, &Sample::gazeVelY},
                {false, kGroupHeadRef, &Sample::headRefVelX, &Sample::headRefVelY},
                {false, kGroupPupil, &Sample::pupilVelX, &Sample::pupilVelY},
                {true, kGroupGaze, &Sample::fastGazeVelX, &Sample::fastGazeVelY},
                {true, kGroupHeadRef, &Sample::fastHeadRefVelX, &Sample::fastHeadRefVelY},
                {true, kGroupPupil, &Sample::fastPupilVelX, &Sample::fastPupilVelY},
            };
            for (int eye = 0; eye < 2; ++eye) {
                if ((reference.flags & (eye == 0 ? 0x8000 : 0x4000)) == 0) continue;
                for (const Pass& p : passes) {
                    velocityForAxis(p.isFast, p.group, rate, resX, resY, all, eye, revision, reference.*p.x,
                                    reference.*p.y);
                }
            }
            ASSERT_EQ(std::memcmp(&fast, &reference, sizeof fast), 0)
                << "round " << round << " slot " << slot << " rate " << rate << " revision " << revision;
        }
    }
}

}  // namespace
}  // namespace vok
