// Sample velocities: neighbour offsets, the classic and the rate-scaled
// formulas at each rate band, the three resolution sources, gaps and the
// edges of the window.  Windows move along polynomials whose velocity
// estimates are worked out by hand below; values that single-precision
// rounding fixes are written as literal numbers.
#include <gtest/gtest.h>

#include <algorithm>
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
// The samples' own resolution.
constexpr float kResX = 8.0f;
constexpr float kResY = 32.0f;
// The head-referenced resolution at the centre position (3000, -4000) of
// every window below, by hand: (3000² + 4000² + 15000²) / √(4000² + 15000²)
// / 57.2958 across, and with √(3000² + 15000²) down.
constexpr double kHeadResX = 281.066250;
constexpr double kHeadResY = 285.239254;

using Pair = float[2];
using Series = std::array<float, 39>;

// Every position is base + m * p(t), t being the sample's distance from the
// window's centre sample, with p(t) = v t + q t² + r t³ and a multiplier m of
// its own for each field and eye, so that reading a wrong one shows.
struct Poly {
    float v, q, r;
    float at(int t) const {
        const float ft = static_cast<float>(t);
        return v * ft + q * ft * ft + r * ft * ft * ft;
    }
};
// Estimates of the classic forms, in position units per sample, for p:
// the four-neighbour one ((p1 - (p-1 + p-2)) + p2) / 6 = v + 3r, the central
// difference (p1 - p-1) / 2 = v + r, the one-sided differences p1 - p0 =
// v + q + r and p0 - p-1 = v - q + r.  All distinct for this p.
constexpr Poly kCubic{4.0f, 1.0f, 1.0f};
constexpr double kFourNeighbour = 7.0;
constexpr double kCentral = 5.0;
constexpr double kForward = 6.0;
constexpr double kBackward = 4.0;

struct Field {
    Pair Sample::*pos;
    float base;
    float m[2];  // per eye
};
constexpr Field kFields[] = {
    {&Sample::gazeX, 640.0f, {1.0f, 2.0f}},      {&Sample::gazeY, 512.0f, {-3.0f, 5.0f}},
    {&Sample::headRefX, 3000.0f, {4.0f, -6.0f}}, {&Sample::headRefY, -4000.0f, {7.0f, 3.0f}},
    {&Sample::pupilX, 100.0f, {-2.0f, 9.0f}},    {&Sample::pupilY, -50.0f, {6.0f, -5.0f}},
};

double multiplier(Pair Sample::*pos, int eye) {
    for (const Field& f : kFields) {
        if (f.pos == pos) return f.m[eye];
    }
    return 0.0;
}

Sample sampleAt(int t, Poly p, unsigned eyes) {
    Sample s{};
    s.flags = static_cast<std::uint16_t>(eyes | kAllGroups);
    for (const Field& f : kFields) {
        for (int e = 0; e < 2; ++e) (s.*f.pos)[e] = f.base + f.m[e] * p.at(t);
    }
    s.pupilSize[0] = s.pupilSize[1] = 800.0f;
    s.resolutionX = kResX;
    s.resolutionY = kResY;
    return s;
}

// n samples at keys firstKey, firstKey + step, ..., moving by p around the
// sample in slot centre.
void buildWindow(SampleWindow& w, std::uint64_t firstKey, std::uint64_t step, int n, int centre,
                 Poly p = kCubic, unsigned eyes = kBothEyes) {
    w.reset();
    for (int i = 0; i < n; ++i) {
        const std::uint64_t key = firstKey + step * static_cast<std::uint64_t>(i);
        Sample s = sampleAt(i - centre, p, eyes);
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

// A single-precision result of a dozen rounded steps against its exact
// value: each step rounds by at most 6e-8 of the value.
void expectClose(float actual, double expected) {
    EXPECT_NEAR(actual, expected, 2e-6 * std::fabs(expected)) << "expected " << expected;
}

// Degrees per second of a field of the given eye that moves perSample x its
// multiplier position units per sample, at rate, over resolution res.
double degreesPerSecond(Pair Sample::*pos, int eye, double perSample, int rate, double res) {
    return multiplier(pos, eye) * perSample * rate / res;
}

// Checks the x and y output of one eye: the normal or fast estimate per
// sample, the sample's own resolution or (head-referenced) the one at the
// centre position.
void expectOutput(const Sample& s, const Output& o, int eye, int rate, double normal, double fast) {
    SCOPED_TRACE(testing::Message() << o.name << " eye " << eye);
    const double rx = o.headRef ? kHeadResX : kResX;
    const double ry = o.headRef ? kHeadResY : kResY;
    const double perSample = o.fast ? fast : normal;
    expectClose((s.*o.velX)[eye], degreesPerSecond(o.posX, eye, perSample, rate, rx));
    expectClose((s.*o.velY)[eye], degreesPerSecond(o.posY, eye, perSample, rate, ry));
}

// ---- neighbourhood ----

TEST(Velocities, NeighbourOffsetsAtEachRate) {
    SampleWindow w;
    buildWindow(w, 0, 1, SampleWindow::kCapacity, 316);  // every half-millisecond key 0..511
    const int centreSlot = 316;
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
            EXPECT_EQ(n[19 - j]->timeHalfMs, 316 - c.perPeriod * j);
            EXPECT_EQ(n[19 + j]->timeHalfMs, 316 + c.perPeriod * j);
        }
    }

    // A rate whose period is not a whole number of half-milliseconds.  The
    // period 1000 / 120 rounds to the f32 8.333333015 and j * p * 2 is
    // rounded to f32 before it is truncated: 3 periods make 50 (49.99999809
    // without that rounding), 15 make 249 (the exact offset is 250).
    constexpr std::uint64_t kOffsets120[19] = {16,  33,  50,  66,  83,  100, 116, 133, 150, 166,
                                               183, 200, 216, 233, 249, 266, 283, 300, 316};
    Neighbourhood n;
    findNeighbours(w, centre, 120, n);
    for (std::size_t j = 1; j <= 19; ++j) {
        ASSERT_NE(n[19 - j], nullptr) << j;
        EXPECT_EQ(n[19 - j]->timeHalfMs, 316 - kOffsets120[j - 1]) << j;
        // After the centre the window ends at key 511.
        if (316 + kOffsets120[j - 1] <= 511) {
            ASSERT_NE(n[19 + j], nullptr) << j;
            EXPECT_EQ(n[19 + j]->timeHalfMs, 316 + kOffsets120[j - 1]) << j;
        } else {
            EXPECT_EQ(n[19 + j], nullptr) << j;
        }
    }
}

TEST(Velocities, NeighbourKeysDoNotWrap) {
    constexpr std::uint64_t kTop = std::numeric_limits<std::uint64_t>::max();
    // Keys 0..40 and the largest key: a key below 0 that wrapped around would
    // find the last slot.
    SampleWindow low;
    buildWindow(low, 0, 1, 41, 1);
    low.append(sampleAt(0, kCubic, kBothEyes), kTop);
    const Sample lowCentre = centreCopy(low, 1);
    Neighbourhood n;
    findNeighbours(low, lowCentre, 2000, n);
    EXPECT_EQ(n[18], &low.slot(0));
    for (int i = 0; i < 18; ++i) EXPECT_EQ(n[static_cast<std::size_t>(i)], nullptr) << i;
    EXPECT_EQ(n[20], &low.slot(2));

    // Key 0 and keys up to the largest: a key past the top that wrapped
    // around would find slot 0.
    SampleWindow high;
    high.append(sampleAt(0, kCubic, kBothEyes), 0);
    for (std::uint64_t k = kTop - 40; k != 0; ++k) high.append(sampleAt(1, kCubic, kBothEyes), k);
    ASSERT_EQ(high.key(high.count() - 1), kTop);
    const Sample highCentre = centreCopy(high, high.count() - 2);  // key kTop - 1
    findNeighbours(high, highCentre, 2000, n);
    EXPECT_EQ(n[20], &high.slot(high.count() - 1));
    for (int i = 21; i < 39; ++i) EXPECT_EQ(n[static_cast<std::size_t>(i)], nullptr) << i;
    EXPECT_EQ(n[18], &high.slot(high.count() - 3));
}

TEST(Velocities, RateZeroOrNegativeGivesNoNeighbours) {
    SampleWindow w;
    buildWindow(w, 1000, 2, 100, 50);
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

struct RateCase {
    int rate;
    std::uint64_t keyStep;  // half-milliseconds between samples at that rate
};
constexpr RateCase kRates[] = {{250, 8}, {500, 4}, {1000, 2}, {2000, 1}};

TEST(Velocities, ClassicAtEachRate) {
    // Both estimates of the classic forms at every rate; the curvature q
    // cancels in both.
    for (const RateCase& c : kRates) {
        SCOPED_TRACE(c.rate);
        SampleWindow w;
        buildWindow(w, 5000 + c.keyStep, c.keyStep, 120, 60);
        Sample s = centreCopy(w, 60);
        ASSERT_EQ(computeSampleVelocities(w, s, kMissing, kMissing, c.rate, 2), 0);
        for (int eye = 0; eye < 2; ++eye) {
            for (const Output& o : kOutputs) expectOutput(s, o, eye, c.rate, kFourNeighbour, kCentral);
        }
    }
}

TEST(Velocities, OffsetsCarriedAcrossRatesFollowTheRate) {
    // A walk keeps one set of offsets from block to block: at each new rate
    // (and back at an earlier one) they must be those of that rate.
    NeighbourOffsets offsets;
    for (int round = 0; round < 2; ++round) {
        for (const RateCase& c : kRates) {
            SCOPED_TRACE(testing::Message() << c.rate << " round " << round);
            SampleWindow w;
            buildWindow(w, 5000 + c.keyStep, c.keyStep, 120, 60);
            Sample s = centreCopy(w, 60);
            ASSERT_EQ(computeSampleVelocities(w, s, kMissing, kMissing, c.rate, 2, offsets), 0);
            for (const Output& o : kOutputs) expectOutput(s, o, 1, c.rate, kFourNeighbour, kCentral);
        }
    }
}

// The rate-scaled form places its four groups as at 250 Hz, so at each band
// (rate / 250 = 1, 2, 4, 8 samples per 250 Hz period) steady motion of v per
// sample gives, by hand:
//  - normal: (c + d) - (a + b) spans 6, 10, 22, 46 v; times 0.167 and the
//    band's factor (1, 1.2, 12/11, 24/23) that is 1.002 v per sample at every
//    band;
//  - fast: c - b spans 2, 3, 7, 15 v; times 0.5 and the factor, over the
//    band's samples per period: 1, 0.9, 21/22, 45/46 v per sample.
// A symmetric part of the motion (q) cancels in both.
constexpr double kRateScaledNormal = 1.002;
struct Band {
    float lowest;         // lowest rate of the band
    double samples;       // samples per 250 Hz period
    double fastPerSample; // fast estimate per unit of v
};
constexpr Band kBands[] = {{0.0f, 1, 1.0}, {500.0f, 2, 0.9}, {1000.0f, 4, 21.0 / 22}, {2000.0f, 8, 45.0 / 46}};

const Band& bandOf(float rate) {
    const Band* b = &kBands[0];
    for (const Band& band : kBands) {
        if (rate >= band.lowest) b = &band;
    }
    return *b;
}

TEST(Velocities, RateScaledAtEachRate) {
    const Poly steady{4.0f, 1.0f, 0.0f};
    for (const RateCase& c : kRates) {
        SCOPED_TRACE(c.rate);
        SampleWindow w;
        buildWindow(w, 5000 + c.keyStep, c.keyStep, 120, 60, steady);
        Sample s = centreCopy(w, 60);
        ASSERT_EQ(computeSampleVelocities(w, s, kMissing, kMissing, c.rate, 3), 0);
        const double fast = steady.v * bandOf(static_cast<float>(c.rate)).fastPerSample;
        for (int eye = 0; eye < 2; ++eye) {
            for (const Output& o : kOutputs) expectOutput(s, o, eye, c.rate, kRateScaledNormal * steady.v, fast);
        }
    }
}

// ---- edges and gaps ----

TEST(Velocities, FrontOfAFreshWindow) {
    // The centre is the first sample: the classic forms fall back to the
    // forward difference; the rate-scaled ones have no window.
    SampleWindow w;
    buildWindow(w, 2000, 2, 40, 0);
    for (int revision : {2, 3}) {
        SCOPED_TRACE(revision);
        Sample s = centreCopy(w, 0);
        computeSampleVelocities(w, s, kMissing, kMissing, 1000, revision);
        for (int eye = 0; eye < 2; ++eye) {
            for (const Output& o : kOutputs) {
                if (revision < 3) {
                    expectOutput(s, o, eye, 1000, kForward, kForward);
                } else {
                    EXPECT_EQ((s.*o.velX)[eye], kMissing) << o.name;
                    EXPECT_EQ((s.*o.velY)[eye], kMissing) << o.name;
                }
            }
        }
    }
}

TEST(Velocities, SmallPupilsAreGaps) {
    SampleWindow w;
    buildWindow(w, 100, 2, 80, 40);
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

    // The classic forms do not need the centre.  Without a centre position
    // the head-referenced resolution falls back to the sample's own.
    Sample rev2 = centre;
    computeSampleVelocities(w, rev2, kMissing, kMissing, 1000, 2);
    expectClose(rev2.gazeVelX[0], degreesPerSecond(&Sample::gazeX, 0, kFourNeighbour, 1000, kResX));
    expectClose(rev2.fastGazeVelX[0], degreesPerSecond(&Sample::gazeX, 0, kCentral, 1000, kResX));
    expectClose(rev2.headRefVelY[0], degreesPerSecond(&Sample::headRefY, 0, kFourNeighbour, 1000, kResY));
    expectOutput(rev2, kOutputs[0], 1, 1000, kFourNeighbour, kCentral);

    // A neighbour with a small pupil is a gap too: the sample after the
    // centre is lost, so both forms use the centre and the one before.
    SampleWindow gap;
    buildWindow(gap, 100, 2, 80, 40);
    gap.slot(41).pupilSize[0] = 3.0f;
    Sample next = centreCopy(gap, 40);
    computeSampleVelocities(gap, next, kMissing, kMissing, 1000, 2);
    for (const Output& o : kOutputs) expectOutput(next, o, 0, 1000, kBackward, kBackward);
    for (const Output& o : kOutputs) expectOutput(next, o, 1, 1000, kFourNeighbour, kCentral);

    // A pupil below 15 without the pupil-size bit is not a lost eye.
    Sample noBit = centreCopy(w, 40);
    noBit.flags = static_cast<std::uint16_t>(noBit.flags & ~VOK_SAMPLE_PUPILSIZE);
    Sample normalPupil = noBit;
    noBit.pupilSize[0] = 1.0f;
    computeSampleVelocities(w, noBit, kMissing, kMissing, 1000, 3);
    computeSampleVelocities(w, normalPupil, kMissing, kMissing, 1000, 3);
    EXPECT_NE(noBit.gazeVelX[0], kMissing);
    EXPECT_EQ(noBit.gazeVelX[0], normalPupil.gazeVelX[0]);
}

// ---- resolutions ----

TEST(Velocities, OverridePairIsUsedUnchanged) {
    SampleWindow w;
    buildWindow(w, 100, 2, 80, 40);
    auto normalX = [](Pair Sample::*pos, double res) {
        return degreesPerSecond(pos, 0, kFourNeighbour, 1000, res);
    };

    // Outside the range a recorded resolution must lie in, yet used as given,
    // for the head-referenced group as well.
    Sample s = centreCopy(w, 40);
    computeSampleVelocities(w, s, 20000.0f, 0.5f, 1000, 2);
    expectClose(s.gazeVelX[0], normalX(&Sample::gazeX, 20000.0));
    expectClose(s.gazeVelY[0], normalX(&Sample::gazeY, 0.5));
    expectClose(s.headRefVelX[0], normalX(&Sample::headRefX, 20000.0));

    // Only resX switches the override on; a resY at or below 0.01 gives no y.
    s = centreCopy(w, 40);
    computeSampleVelocities(w, s, 20.0f, 0.01f, 1000, 2);
    expectClose(s.gazeVelX[0], normalX(&Sample::gazeX, 20.0));
    EXPECT_EQ(s.gazeVelY[0], kMissing);

    s = centreCopy(w, 40);
    computeSampleVelocities(w, s, kMissing, 20.0f, 1000, 2);
    expectClose(s.gazeVelY[0], normalX(&Sample::gazeY, kResY));  // the sample's own

    // An override at or below 0.01 in x gives no x velocity.
    s = centreCopy(w, 40);
    computeSampleVelocities(w, s, -3.0f, 20.0f, 1000, 2);
    EXPECT_EQ(s.gazeVelX[0], kMissing);
    expectClose(s.gazeVelY[0], normalX(&Sample::gazeY, 20.0));
}

// The fast head-referenced velocity of a left-eye sample at (cx, cy) whose
// neighbours lie 1.5 units before and after it on both axes, at 1000 Hz:
// 1.5 * 2 * 1000 * 0.5 = 1500 position units per second over the resolution.
std::pair<float, float> headRefStepVelocity(float cx, float cy) {
    SampleWindow w;
    for (int i = 0; i < 3; ++i) {
        Sample s{};
        s.flags = VOK_SAMPLE_LEFT | VOK_SAMPLE_HEADREF | VOK_SAMPLE_GAZE | VOK_SAMPLE_RESOLUTION;
        const float step = 1.5f * static_cast<float>(i - 1);
        s.headRefX[0] = cx + step;
        s.headRefY[0] = cy + step;
        s.gazeX[0] = s.gazeY[0] = 0.0f;
        s.resolutionX = s.resolutionY = 30.0f;
        w.append(s, 2 * static_cast<std::uint64_t>(i));
    }
    Sample s = centreCopy(w, 1);
    computeSampleVelocities(w, s, kMissing, kMissing, 1000, 2);
    EXPECT_NE(s.gazeVelX[0], kMissing);  // the sample's own resolution is fine
    return {s.fastHeadRefVelX[0], s.fastHeadRefVelY[0]};
}

TEST(Velocities, HeadReferencedResolution) {
    // At the centre of the plane both axes have 15000 / 57.2958 units per
    // degree: 1500 units per second are 0.1 * 57.2958 degrees per second,
    // one f32 step above 5.72958 since the resolution is rounded down to
    // the f32 261.7992859.
    EXPECT_EQ(headRefStepVelocity(0.0f, 0.0f), std::make_pair(5.7295804f, 5.7295804f));

    // Off the centre the axes differ.  The squares are single precision:
    // 12345.6² in double would give a resolution one step higher
    // (439.16022 instead of 439.16019) and an x velocity one step lower.
    const auto off = headRefStepVelocity(12345.6f, -321.7f);
    EXPECT_EQ(off.first, 3.41561007f);   // 1500 / 439.16019
    EXPECT_EQ(off.second, 4.42268562f);  // 1500 / 339.16043
    // Only the distances from the centre count, and the axes swap with the
    // coordinates.
    EXPECT_EQ(headRefStepVelocity(-12345.6f, 321.7f), off);
    EXPECT_EQ(headRefStepVelocity(-321.7f, 12345.6f), std::make_pair(off.second, off.first));

    // Far off the plane the resolution leaves its range: no head-referenced
    // velocity, and no fallback to the sample's resolution.
    const auto far = headRefStepVelocity(1.0e6f, 0.0f);
    EXPECT_EQ(far.first, kMissing);
    EXPECT_EQ(far.second, kMissing);
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
        buildWindow(w, 100, 2, 80, 40);
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
    buildWindow(w, 100, 2, 80, 40, kCubic, VOK_SAMPLE_RIGHT);
    Sample s = centreCopy(w, 40);
    computeSampleVelocities(w, s, kMissing, kMissing, 1000, 2);
    for (const Output& o : kOutputs) {
        EXPECT_EQ((s.*o.velX)[0], kUntouched) << o.name;
        EXPECT_EQ((s.*o.velY)[0], kUntouched) << o.name;
        expectOutput(s, o, 1, 1000, kFourNeighbour, kCentral);
    }
}

// ---- the building blocks ----

TEST(Velocities, PositionPair) {
    Sample s = sampleAt(3, kCubic, VOK_SAMPLE_LEFT);
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
    // Steady motion of 3 units per sample with a symmetric part; the band,
    // not the rate itself, sets the scale (see kBands).
    Series s;
    for (int i = 0; i < 39; ++i) {
        const float t = static_cast<float>(i - 19);
        s[static_cast<std::size_t>(i)] = 3.0f * t + t * t;
    }
    const float res = 32.0f;
    for (float rate : {60.0f, 250.0f, 499.0f, 500.0f, 999.0f, 1000.0f, 1999.0f, 2000.0f, 4000.0f}) {
        SCOPED_TRACE(rate);
        const Band& band = bandOf(rate);
        const double perPeriod = 3.0 * band.samples * 250.0 / res;
        expectClose(velocityRateScaled(false, s.data(), 39, res, rate), kRateScaledNormal * perPeriod);
        expectClose(velocityRateScaled(true, s.data(), 39, res, rate), band.fastPerSample * perPeriod);
    }

    // Running time backwards negates every velocity: the groups before and
    // after the centre mirror each other.  The sums of this motion are exact,
    // so the results match bit for bit.
    Series any;
    Series reversed;
    for (int i = 0; i < 39; ++i) {
        const float t = static_cast<float>(i - 19);
        any[static_cast<std::size_t>(i)] = 5.0f * t - 0.75f * t * t + 0.125f * t * t * t + (i % 3 == 0 ? 7.0f : 0.0f);
    }
    std::reverse_copy(any.begin(), any.end(), reversed.begin());
    for (float rate : {250.0f, 500.0f, 1000.0f, 2000.0f}) {
        for (bool fast : {false, true}) {
            const float forward = velocityRateScaled(fast, any.data(), 39, res, rate);
            EXPECT_NE(forward, 0.0f);
            EXPECT_EQ(velocityRateScaled(fast, reversed.data(), 39, res, rate), -forward) << rate << fast;
            EXPECT_EQ(velocityClassic(fast, reversed.data(), 39, res, rate),
                      -velocityClassic(fast, any.data(), 39, res, rate))
                << rate << fast;
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

// A window of 120 samples of random eyes, groups, positions (now and then
// 1e8), pupil sizes (some below 15) and resolutions, keys step apart with
// now and then a gap of 3 (one in gapChance; never when gapChance is 0);
// each position group is missing from one sample in six.
template <class Next>
void randomWindow(SampleWindow& w, Next& next, int step, unsigned gapChance) {
    w.reset();
    for (int i = 0; i < 120; ++i) {
        Sample s{};
        s.flags = static_cast<std::uint16_t>(0x0001 | (next() % 8 == 0 ? 0 : 0x8000) | (next() % 8 == 0 ? 0 : 0x4000) |
                                             (next() % 6 ? 0x1000 : 0) | (next() % 6 ? 0x0800 : 0) |
                                             (next() % 6 ? 0x0400 : 0) | (next() % 2 ? 0x0200 : 0) |
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
        const bool gap = gapChance != 0 && next() % gapChance == 0;
        w.append(s, 1000 + static_cast<std::uint64_t>(i) * static_cast<std::uint64_t>(step) + (gap ? 3 : 0));
    }
}

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
        randomWindow(w, next, step, 30);
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

// The walk works out the velocities of a run of window slots together; each
// slot must get bit for bit what the sample-by-sample computation gives a
// copy of it, for every rate against every key spacing, resolution source
// and choice of groups.
TEST(Velocities, SlotBatchMatchesSampleBySample) {
    std::uint32_t state = 777;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    int batches = 0;
    for (int round = 0; round < 300; ++round) {
        const int rates[] = {250, 500, 1000, 2000, 4000, 333, 0, -5};
        const int rate = rates[next() % 8];
        const int step = 1 << (next() % 4);
        SampleWindow w;
        randomWindow(w, next, step, round % 10 == 0 ? 40 : 0);
        const float resX = next() % 4 == 0 ? 33.0f : 1e8f;
        const unsigned groups = 1 + next() % 7;
        const int first = static_cast<int>(next() % 120);
        const int end = std::min(120, first + 1 + static_cast<int>(next() % kSlotBatch));
        NeighbourOffsets offsets;
        SampleVelocities batch[kSlotBatch];
        if (!slotVelocities(w, first, end, resX, 34.0f, rate, 2, offsets, groups, batch)) continue;
        ++batches;
        for (int slot = first; slot < end; ++slot) {
            Sample one = w.slot(slot);
            for (float* v = one.gazeVelX; v < one.fastPupilVelY + 2; ++v) *v = 1e8f;
            computeSampleVelocities(w, one, resX, 34.0f, rate, 2, offsets, groups);
            ASSERT_EQ(std::memcmp(one.gazeVelX, batch[slot - first].v, sizeof(SampleVelocities)), 0)
                << "round " << round << " slot " << slot << " rate " << rate << " step " << step;
        }
    }
    // The even windows at every rate take the batch; an uneven window and
    // the rate-scaled formulas go sample by sample.
    EXPECT_GT(batches, 200);
    SampleWindow w;
    randomWindow(w, next, 2, 0);
    NeighbourOffsets offsets;
    SampleVelocities batch[kSlotBatch];
    EXPECT_FALSE(slotVelocities(w, 0, 8, 1e8f, 1e8f, 1000, 3, offsets, kVelocitiesOfAll, batch));
    w.append(w.slot(0), 100000);
    EXPECT_FALSE(slotVelocities(w, 0, 8, 1e8f, 1e8f, 1000, 2, offsets, kVelocitiesOfAll, batch));
}

}  // namespace
}  // namespace vok
