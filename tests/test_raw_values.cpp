// Uncorrected pupil and corneal-reflection values: both layouts of every
// unpacking function, the overlap correction, and the markers for values
// that cannot be unpacked.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "measures/RawValues.h"

namespace vok {
namespace {

constexpr float kMissing = 100000000.0f;
constexpr int kMissingInt = 100000000;
constexpr RawPoint kMissingPoint{kMissing, kMissing};
constexpr RawIntPair kMissingPair{kMissingInt, kMissingInt};
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

RawSetup scale(float s) { return RawSetup{s, 176, 190}; }

// A sample in the packed layout for `eye`; the other eye is in the header
// layout so that reading the wrong element shows.
Sample packed(int eye, float pupilSize = -32000.0f) {
    Sample s{};
    s.pupilSize[eye] = pupilSize;
    s.pupilSize[1 - eye] = 500.0f;
    s.headDataType = -32768;
    return s;
}

// A sample in the header layout for both eyes, with a pupil and a CR.
Sample header() {
    Sample s{};
    s.pupilSize[0] = s.pupilSize[1] = 500.0f;
    s.headData[4] = 1000;
    s.headData[5] = 40;
    s.input = 0;
    s.headDataType = 0x18;
    return s;
}

std::int16_t word(unsigned value) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(value)); }

template <typename T>
bool sameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// ---------------------------------------------------------------------------
// Areas

TEST(RawValues, PupilAreaInBothLayouts) {
    struct Case {
        float pupilSize;
        int area;
    };
    const Case cases[] = {
        {-32700.0f, 0}, {-32699.5f, 0}, {-32000.0f, 700}, {-40000.0f, 0},
        {-0.5f, 32699}, {0.0f, -5},     {250.0f, -5},     {kNaN, -5},  // header: headData[4]
    };
    for (int eye : {0, 1}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "eye " << eye << " p " << c.pupilSize);
            Sample s = packed(eye, c.pupilSize);
            s.headData[4] = -5;
            EXPECT_EQ(uncorrectedPupilArea(&s, eye), c.area);
        }
    }
}

TEST(RawValues, CrAreaRoundsTheScaledResolutionHalfUp) {
    struct Case {
        float resolution, scale;
        int area;
    };
    const Case cases[] = {
        {2.5f, 1.0f, 3},
        {-2.5f, 1.0f, -2},
        {2.49f, 1.0f, 2},
        {10.0f, 0.5f, 5},
        {1e8f, 1.0f, 100000000},            // a missing resolution still fits
        {2147483520.0f, 1.0f, 2147483520},  // largest float below 2^31
        // Values without a 32-bit result count as no CR.
        {2147483648.0f, 1.0f, 0},
        {1e8f, 100.0f, 0},
        {1e8f, 1e30f, 0},
        {-1e8f, 100.0f, 0},
        {3.0f, kNaN, 0},
        {kInf, 1.0f, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.resolution << " * " << c.scale);
        Sample s = packed(0);
        s.resolutionX = c.resolution;
        s.resolutionY = 7.0f;
        EXPECT_EQ(uncorrectedCrArea(&s, 0, scale(c.scale)), c.area);
        // The right eye reads resolutionY.
        Sample r = packed(1);
        r.resolutionX = 7.0f;
        r.resolutionY = c.resolution;
        EXPECT_EQ(uncorrectedCrArea(&r, 1, scale(c.scale)), c.area);
    }
    Sample h = header();
    h.headData[5] = -7;
    EXPECT_EQ(uncorrectedCrArea(&h, 0, scale(1.0f)), -7);
    EXPECT_EQ(uncorrectedCrArea(&h, 1, scale(1.0f)), -7);
}

// ---------------------------------------------------------------------------
// Raw positions

TEST(RawValues, RawPupilUnpacksWholePartsAndFractions) {
    struct Case {
        const char* what;
        float scale, gazeX, pupilX, pupilY;
        RawPoint expected;
    };
    const Case cases[] = {
        // Scale 0: the packed word is 32700 (0x7FBC), fractions 11 and 12.
        {"scale 0", 0.0f, 123.0f, -32000.0f, -32690.0f, {11211.0f / 256, 172.0f / 256}},
        // 2 * 50 + 32700 = 0x8020: fractions 2 and 0.
        {"scale 2", 2.0f, 50.0f, -32000.0f, -32690.0f, {11202.0f / 256, 160.0f / 256}},
        // -40000 + 32700 = -7300; the shift is arithmetic: fractions 7 and 12.
        {"negative word", 1.0f, -40000.0f, 0.0f, 0.0f, {523207.0f / 256, 523212.0f / 256}},
    };
    for (int eye : {0, 1}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << " eye " << eye);
            Sample s = packed(eye);
            s.gazeX[eye] = c.gazeX;
            s.pupilX[eye] = c.pupilX;
            s.pupilY[eye] = c.pupilY;
            EXPECT_EQ(uncorrectedRawPupil(&s, eye, scale(c.scale)), c.expected);
        }
    }
}

TEST(RawValues, RawPupilIsMissingWithoutPupilOrParts) {
    Sample s = packed(0);
    s.gazeX[0] = 10.0f;
    ASSERT_NE(uncorrectedRawPupil(&s, 0, scale(1.0f)), kMissingPoint);
    for (float* field : {&s.pupilX[0], &s.pupilY[0], &s.gazeX[0]}) {
        const float saved = *field;
        *field = kMissing;
        EXPECT_EQ(uncorrectedRawPupil(&s, 0, scale(1.0f)), kMissingPoint);
        *field = saved;
    }
    s.pupilSize[0] = -32700.0f;
    EXPECT_EQ(uncorrectedRawPupil(&s, 0, scale(1.0f)), kMissingPoint);
}

TEST(RawValues, PackedWordWithoutAnIntegerValueIsMissing) {
    struct Case {
        float scale, gaze;
    };
    const Case cases[] = {{1e30f, 5.0f}, {1e5f, 1e5f}, {1.0f, -3e9f}, {1.0f, kNaN},
                          {kNaN, 5.0f},  {1.0f, kInf}, {kInf, 0.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.scale << " * " << c.gaze);
        Sample s = packed(0);
        s.gazeX[0] = c.gaze;
        s.gazeY[0] = c.gaze;
        s.resolutionX = 2.0f;
        EXPECT_EQ(uncorrectedRawPupil(&s, 0, scale(c.scale)), kMissingPoint);
        EXPECT_EQ(uncorrectedRawCr(&s, 0, scale(c.scale)), kMissingPoint);
        // Each dimension comes from its own word: a good word still counts.
        s.gazeY[0] = 0.0f;
        if (!std::isnan(c.scale) && !std::isinf(c.scale)) {
            EXPECT_EQ(pupilDimension(&s, 0, scale(c.scale)), (RawIntPair{127, kMissingInt}));
        } else {
            EXPECT_EQ(pupilDimension(&s, 0, scale(c.scale)), kMissingPair);
        }
    }
}

TEST(RawValues, RawPupilInTheHeaderLayoutIsTheWindowCentrePlusTheOffset) {
    Sample s = header();
    s.headData[0] = 125;
    s.headData[1] = -250;
    EXPECT_EQ(uncorrectedRawPupil(&s, 0, RawSetup{}), (RawPoint{88.5f, 94.0f}));
    EXPECT_EQ(uncorrectedRawPupil(&s, 1, RawSetup{}), (RawPoint{88.5f, 94.0f}));

    s.headData[0] = s.headData[1] = 0;
    s.input = (3u << 9) | 5u;  // corner (20, 24)
    EXPECT_EQ(uncorrectedRawPupil(&s, 0, RawSetup{}), (RawPoint{108.0f, 119.0f}));
    s.input = 0;
    EXPECT_EQ(uncorrectedRawPupil(&s, 0, RawSetup{0.0f, 200, 101}), (RawPoint{100.0f, 50.5f}));

    s.headData[4] = 0;  // no pupil
    EXPECT_EQ(uncorrectedRawPupil(&s, 0, RawSetup{}), kMissingPoint);
}

TEST(RawValues, HeaderOffsetIsAddedInDouble) {
    // Every offset: the sum is rounded once, so x is the float nearest to the
    // exact centre + offset / 250.  The centre is 52 * 4 + 177 / 2 = 296.5.
    // x * 250 and the exact value times 250 are exact in double, so the
    // error is measured exactly; no value lies halfway between two floats.
    Sample s = header();
    s.input = 0x1234;
    const RawSetup setup{0.0f, 177, 190};
    const double cx = 296.5;
    int differsFromFloatSum = 0;
    for (int offset = -32768; offset <= 32767; ++offset) {
        s.headData[0] = static_cast<std::int16_t>(offset);
        const float x = uncorrectedRawPupil(&s, 0, setup)[0];
        const double error = static_cast<double>(x) * 250 - (cx * 250 + offset);  // x - exact, times 250
        const double up = static_cast<double>(std::nextafter(x, kInf)) - x;
        const double down = static_cast<double>(x) - std::nextafter(x, -kInf);
        ASSERT_LT(error, down * 125) << offset;
        ASSERT_GT(error, -up * 125) << offset;
        if (x != static_cast<float>(cx) + static_cast<float>(offset) / 250.0f) ++differsFromFloatSum;
    }
    EXPECT_GT(differsFromFloatSum, 0);  // a sum rounded twice would show
}

TEST(RawValues, RawCrUsesHeadRefAndGazeYInThePackedLayout) {
    for (int eye : {0, 1}) {
        SCOPED_TRACE(eye);
        Sample s = packed(eye);
        s.gazeY[eye] = 100.0f;  // 0x8020 at scale 1: fractions 2 and 0
        s.headRefX[eye] = -32000.0f;
        s.headRefY[eye] = -32690.0f;
        s.gazeX[eye] = kMissing;  // the pupil's word does not matter
        (eye == 0 ? s.resolutionX : s.resolutionY) = 30.0f;
        EXPECT_EQ(uncorrectedRawCr(&s, eye, scale(1.0f)), (RawPoint{11202.0f / 256, 160.0f / 256}));
        for (float* field : {&s.headRefX[eye], &s.headRefY[eye], &s.gazeY[eye]}) {
            const float saved = *field;
            *field = kMissing;
            EXPECT_EQ(uncorrectedRawCr(&s, eye, scale(1.0f)), kMissingPoint);
            *field = saved;
        }
        // No CR area: the resolution of this eye is 0.
        (eye == 0 ? s.resolutionX : s.resolutionY) = 0.0f;
        (eye == 0 ? s.resolutionY : s.resolutionX) = 30.0f;
        EXPECT_EQ(uncorrectedRawCr(&s, eye, scale(1.0f)), kMissingPoint);
    }
}

TEST(RawValues, RawCrInTheHeaderLayout) {
    Sample s = header();
    s.headData[2] = 500;
    s.headData[3] = -125;
    EXPECT_EQ(uncorrectedRawCr(&s, 1, RawSetup{}), (RawPoint{90.0f, 94.5f}));
    s.headData[5] = 0;
    EXPECT_EQ(uncorrectedRawCr(&s, 1, RawSetup{}), kMissingPoint);
}

// ---------------------------------------------------------------------------
// Dimensions and window

TEST(RawValues, PupilDimensionInBothLayouts) {
    struct Case {
        const char* what;
        float scale, gazeX, gazeY;
        RawIntPair expected;
    };
    const Case cases[] = {
        {"scale 0", 0.0f, 5.0f, 6.0f, {127, 127}},
        {"width from gazeY", 1.0f, 100.0f, -200.0f, {126, 128}},  // 0x7EF4, 0x8020
        {"negative word", 1.0f, 0.0f, -40000.0f, {227, 127}},     // -7300 >> 8 = -29
        {"gazeX missing", 1.0f, kMissing, 0.0f, kMissingPair},
        {"gazeY missing", 1.0f, 0.0f, kMissing, kMissingPair},
    };
    for (int eye : {0, 1}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << " eye " << eye);
            Sample s = packed(eye);
            s.gazeX[eye] = c.gazeX;
            s.gazeY[eye] = c.gazeY;
            EXPECT_EQ(pupilDimension(&s, eye, scale(c.scale)), c.expected);
        }
    }
    Sample none = packed(0, -32700.0f);
    EXPECT_EQ(pupilDimension(&none, 0, scale(0.0f)), (RawIntPair{0, 0}));

    Sample h = header();
    h.headData[6] = word(0x80FF);
    EXPECT_EQ(pupilDimension(&h, 0, RawSetup{}), (RawIntPair{255, -128}));
    h.headData[6] = word(0x7F01);
    EXPECT_EQ(pupilDimension(&h, 1, RawSetup{}), (RawIntPair{1, 127}));
    h.headData[4] = 0;
    EXPECT_EQ(pupilDimension(&h, 1, RawSetup{}), (RawIntPair{0, 0}));
}

TEST(RawValues, CrDimensionIgnoresTheLayout) {
    for (Sample s : {header(), packed(0), packed(1)}) {
        s.headData[7] = word(0x80FF);
        s.headDataType = 200;
        EXPECT_EQ(crDimension(&s), kMissingPair);
        for (std::int16_t type : {std::int16_t{196}, std::int16_t{0x18}, std::int16_t{-32768}}) {
            s.headDataType = type;
            EXPECT_EQ(crDimension(&s), (RawIntPair{255, -128}));
        }
    }
    EXPECT_EQ(crDimension(nullptr), kMissingPair);
}

TEST(RawValues, WindowPositionTruncatesTheCentre) {
    struct Case {
        std::uint16_t input;
        std::uint32_t width, height;
        RawIntPair expected;
    };
    const Case cases[] = {
        {0, 176, 190, {88, 95}},
        {0xFFFF, 176, 190, {2132, 1111}},
        {0, 177, 191, {88, 95}},
        {0, 4294967040u, 190, {2147483520, 95}},   // largest float below 2^31 after halving
        {0, 4294967295u, 190, {kMissingInt, 95}},  // 2^31: no 32-bit value
        {0xFFFF, 176, 4294967295u, {2132, kMissingInt}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.input << " " << c.width << "x" << c.height);
        Sample s = header();
        s.input = c.input;
        EXPECT_EQ(windowPosition(&s, RawSetup{0.0f, c.width, c.height}), c.expected);
    }
    EXPECT_EQ(windowPosition(nullptr, RawSetup{}), kMissingPair);
}

// ---------------------------------------------------------------------------
// Second corneal reflection

Sample cr2Sample(int eye, std::int16_t type) {
    Sample s = packed(eye);
    s.headDataType = type;
    const std::int16_t words[8] = {10, -3, word(0x80FF), 9, 20, 7, word(0x4001), 11};
    std::memcpy(s.headData, words, sizeof words);
    return s;
}

TEST(RawValues, SecondCrReadsTheWordsOfItsType) {
    const RawPoint first{9.5f, -3.0f + 255.0f / 256};  // headData[0..2]
    const RawPoint second{20.25f, 7.0f + 1.0f / 256};  // headData[4..6]
    struct Case {
        std::int16_t type;
        int eye, area;
        RawPoint position;
    };
    const Case cases[] = {
        {200, 0, 9, first}, {200, 1, 11, second},       {196, 0, 9, first},
        {196, 1, 9, first}, {197, 0, 0, kMissingPoint}, {0x18, 1, 0, kMissingPoint},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " eye " << c.eye);
        const Sample s = cr2Sample(c.eye, c.type);
        EXPECT_EQ(uncorrectedCr2Area(&s, c.eye), c.area);
        EXPECT_EQ(uncorrectedRawCr2(&s, c.eye), c.position);
    }
}

TEST(RawValues, SecondCrOnlyInThePackedLayout) {
    for (float p : {0.0f, 500.0f, kNaN}) {
        Sample s = cr2Sample(0, 200);
        s.pupilSize[0] = p;
        EXPECT_EQ(uncorrectedCr2Area(&s, 0), 0);
        EXPECT_EQ(uncorrectedRawCr2(&s, 0), kMissingPoint);
    }
    Sample s = cr2Sample(0, 200);
    s.headData[3] = 0;
    EXPECT_EQ(uncorrectedRawCr2(&s, 0), kMissingPoint);
    s.headData[3] = -4;  // sign-extended, and present
    EXPECT_EQ(uncorrectedCr2Area(&s, 0), -4);
    EXPECT_EQ(uncorrectedRawCr2(&s, 0), (RawPoint{9.5f, -3.0f + 255.0f / 256}));
}

// ---------------------------------------------------------------------------
// Overlap correction

// Values of the overlap correction computed once in double precision from
// the disc geometry; the single-precision steps stay within 1e-4 pixel of
// them.  With a CR area of 20 and the margin 3, the enlarged CR disc has the
// radius rc = sqrt(20 / 3.14159) + 3 = 5.5231336 and the area 95.834217.
constexpr float kPixelTolerance = 1e-4f;

void expectPoint(const RawPoint& actual, double x, double y) {
    EXPECT_NEAR(actual[0], x, kPixelTolerance);
    EXPECT_NEAR(actual[1], y, kPixelTolerance);
}

TEST(OverlapCorrection, DiscClearOfThePupilChangesNothing) {
    const RawPoint p{100.0f, 100.0f};
    const OverlapCorrection c = correctPupilOverlap(p, 314, RawPoint{200.0f, 100.0f}, 28);
    EXPECT_TRUE(sameBits(c.pupil, p));
    EXPECT_EQ(c.area, 314u);
}

TEST(OverlapCorrection, CentredCrMovesThePupilToTheCentroid) {
    // A pupil of area 10000 (radius 56.4) around the enlarged CR disc: the
    // weight clamps to 1 and the pupil moves to the centroid of both discs,
    // by 95.834217 / 10095.834217 = 0.0094924 of the way to the CR; the area
    // becomes the sum, 10095.83.
    const RawPoint p{50.25f, 60.5f};
    const OverlapCorrection same = correctPupilOverlap(p, 10000, p, 20);
    expectPoint(same.pupil, 50.25, 60.5);
    EXPECT_EQ(same.area, 10095u);
    const OverlapCorrection near = correctPupilOverlap(p, 10000, RawPoint{52.0f, 60.75f}, 20);
    expectPoint(near.pupil, 50.26661179, 60.50237311);
    EXPECT_EQ(near.area, 10095u);
}

TEST(OverlapCorrection, PartialOverlapRefinesTheWeight) {
    const RawPoint p{50.0f, 60.0f};
    const RawPoint r{62.0f, 61.0f};
    // The centroid of both discs is (52.806039, 60.233837), their total area
    // 409.834.  The first weight is 0.3149; each refinement, taken from the
    // moved pupil, raises it (0.4377, 0.4851, 0.5033, 0.5103), always moving
    // from the original pupil towards the centroid.
    struct Case {
        int passes;
        double x, y;
        std::uint32_t area;
    };
    const Case cases[] = {{1, 50.88375835, 60.07364653, 344},  // area 344.18
                          {2, 51.22829269, 60.10235772, 355},  // 355.95
                          {5, 51.43183354, 60.11931946, 362}};  // 362.90
    for (const Case& e : cases) {
        SCOPED_TRACE(e.passes);
        const OverlapCorrection c = correctPupilOverlap(p, 314, r, 20, 3.0f, e.passes);
        expectPoint(c.pupil, e.x, e.y);
        EXPECT_EQ(c.area, e.area);
    }
    EXPECT_EQ(correctPupilOverlap(p, 314, r, 20).pupil, correctPupilOverlap(p, 314, r, 20, 3.0f, 5).pupil);
}

TEST(OverlapCorrection, MissingInputsChangeNothing) {
    const RawPoint p{50.0f, 60.0f};
    const RawPoint r{51.0f, 60.0f};
    struct Case {
        RawPoint pupil;
        int area;
        RawPoint cr;
        int crArea;
    };
    const Case cases[] = {
        {p, 0, r, 20},
        {p, 10000, r, 0},
        {p, 10000, r, -3},
        {{kMissing, 60.0f}, 10000, r, 20},
        {{50.0f, kMissing}, 10000, r, 20},
        {p, 10000, {kMissing, 60.0f}, 20},
        {p, 10000, {51.0f, kMissing}, 20},
    };
    for (const Case& c : cases) {
        const OverlapCorrection o = correctPupilOverlap(c.pupil, c.area, c.cr, c.crArea);
        EXPECT_TRUE(sameBits(o.pupil, c.pupil));
        EXPECT_EQ(o.area, static_cast<std::uint32_t>(c.area));
    }
}

TEST(OverlapCorrection, NegativePupilAreaIsReadModulo2To32) {
    // -1 reads as 4294967295, a huge disc: the weight clamps to 1 and the
    // corrected area 2^32 has no 32-bit value.
    const RawPoint p{50.0f, 60.0f};
    const RawPoint r{51.0f, 60.0f};
    // The CR's share of the centroid, 95.8 / 2^32, is below float
    // resolution: the pupil stays where it is.
    const OverlapCorrection c = correctPupilOverlap(p, -1, r, 20);
    EXPECT_EQ(c.pupil, p);
    EXPECT_EQ(c.area, 0u);
    // Without a CR the area is passed on as read.
    EXPECT_EQ(correctPupilOverlap(p, -5, r, 0).area, 4294967291u);
}

// ---------------------------------------------------------------------------
// Pupil minus CR

TEST(PupilMinusCr, WithoutCrTheMissingMarkerEntersTheDifference) {
    Sample s = header();
    s.headData[0] = 125;
    s.headData[1] = -250;
    s.headData[5] = 0;
    // 1.02 * 1e8 is the float 102000000; 88.5 and 94 less that round to
    // floats 8 apart.
    EXPECT_EQ(pupilMinusCr(&s, 0, RawSetup{}), (RawPoint{-101999912.0f, -101999904.0f}));
}

TEST(PupilMinusCr, CrClearOfThePupil) {
    Sample s = header();
    s.headData[0] = 2500;   // pupil (98, 95)
    s.headData[2] = -2500;  // CR (78, 95)
    s.headData[4] = 314;
    s.headData[5] = 28;
    // 98 - 1.02 * 78 = 18.44 and 95 - 1.02 * 95 = -1.9, with 1.02 as the
    // float 1.0199999809 and each step rounded to float.
    EXPECT_EQ(pupilMinusCr(&s, 1, RawSetup{}), (RawPoint{18.4400024f, -1.90000153f}));
}

TEST(PupilMinusCr, CrOnThePupilUsesTheCentroid) {
    Sample s = header();
    s.headData[4] = 10000;
    s.headData[5] = 20;
    s.headData[2] = 250;  // CR one pixel right of the pupil at (88, 95)
    // The pupil moves 0.0094924 towards the CR (as in
    // CentredCrMovesThePupilToTheCentroid): 88.0094924 - 1.02 * 89 and
    // 95 - 1.02 * 95.
    expectPoint(pupilMinusCr(&s, 0, RawSetup{}), -2.77050755, -1.9);
}

TEST(PupilMinusCr, PackedLayoutCombinesBothUnpackings) {
    Sample s = packed(1, -22700.0f);  // area 10000
    s.pupilX[1] = -31000.0f;
    s.pupilY[1] = -31100.0f;
    s.headRefX[1] = -31000.0f;
    s.headRefY[1] = -31100.0f;
    s.gazeX[1] = 0.0f;
    s.gazeY[1] = 0.0f;
    s.resolutionY = 20.0f;
    const RawSetup setup = scale(1.0f);
    // Whole parts 1700 and 1600 sixteenths, fractions 11 and 12 of the word
    // 32700: (27200 + 11) / 256 and (25600 + 12) / 256 for both.
    const RawPoint p = uncorrectedRawPupil(&s, 1, setup);
    EXPECT_EQ(p, (RawPoint{106.29296875f, 100.046875f}));
    EXPECT_EQ(uncorrectedRawCr(&s, 1, setup), p);
    // The CR is centred on the pupil, which stays put: P - 1.02 P.
    expectPoint(pupilMinusCr(&s, 1, setup), -2.12585938, -2.0009375);
}

// ---------------------------------------------------------------------------
// Eye and pointer guards, setup helpers

TEST(RawValues, EyeOutsideZeroAndOneGivesMarkers) {
    Sample s = cr2Sample(0, 196);
    s.pupilSize[1] = -32000.0f;
    for (int eye : {-1, 2, 3, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(eye);
        EXPECT_EQ(uncorrectedPupilArea(&s, eye), 0);
        EXPECT_EQ(uncorrectedCrArea(&s, eye, scale(1.0f)), 0);
        EXPECT_EQ(uncorrectedRawPupil(&s, eye, scale(1.0f)), kMissingPoint);
        EXPECT_EQ(uncorrectedRawCr(&s, eye, scale(1.0f)), kMissingPoint);
        EXPECT_EQ(pupilDimension(&s, eye, scale(1.0f)), kMissingPair);
        EXPECT_EQ(uncorrectedCr2Area(&s, eye), 0);
        EXPECT_EQ(uncorrectedRawCr2(&s, eye), kMissingPoint);
        EXPECT_EQ(pupilMinusCr(&s, eye, scale(1.0f)), kMissingPoint);
    }
}

TEST(RawValues, NullSampleGivesMarkers) {
    EXPECT_EQ(uncorrectedPupilArea(nullptr, 0), 0);
    EXPECT_EQ(uncorrectedCrArea(nullptr, 0, RawSetup{}), 0);
    EXPECT_EQ(uncorrectedRawPupil(nullptr, 0, RawSetup{}), kMissingPoint);
    EXPECT_EQ(uncorrectedRawCr(nullptr, 1, RawSetup{}), kMissingPoint);
    EXPECT_EQ(pupilDimension(nullptr, 0, RawSetup{}), kMissingPair);
    EXPECT_EQ(uncorrectedCr2Area(nullptr, 1), 0);
    EXPECT_EQ(uncorrectedRawCr2(nullptr, 1), kMissingPoint);
    EXPECT_EQ(pupilMinusCr(nullptr, 0, RawSetup{}), kMissingPoint);
}

TEST(RawValues, SetupFromTheRecordingOrDefaults) {
    const RawSetup none = rawSetupOf(nullptr);
    EXPECT_EQ(none.rawScale, 0.0f);
    EXPECT_EQ(none.windowWidth, 176u);
    EXPECT_EQ(none.windowHeight, 190u);
    RecordingInfo rec{};
    rec.rawScale = 0.25f;
    rec.windowWidth = 320;
    rec.windowHeight = 240;
    const RawSetup s = rawSetupOf(&rec);
    EXPECT_EQ(s.rawScale, 0.25f);
    EXPECT_EQ(s.windowWidth, 320u);
    EXPECT_EQ(s.windowHeight, 240u);

    float xy[2] = {0, 0};
    storePair(xy, RawPoint{1.5f, -2.5f});
    EXPECT_EQ(xy[0], 1.5f);
    EXPECT_EQ(xy[1], -2.5f);
    storePair(static_cast<int*>(nullptr), RawIntPair{1, 2});  // ignored
}

// ---------------------------------------------------------------------------
// Random samples

float randomField(std::mt19937& rng) {
    switch (rng() % 6) {
        case 0: {
            const std::uint32_t bits = static_cast<std::uint32_t>(rng());
            float f;
            std::memcpy(&f, &bits, sizeof f);
            return f;
        }
        case 1:
            return kMissing;
        case 2:
            return std::uniform_real_distribution<float>(-32768.0f, -32000.0f)(rng);
        default:
            return static_cast<float>(static_cast<int>(rng() % 70000) - 35000);
    }
}

TEST(RawValues, RandomSamplesGiveBoundedRepeatableResults) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    for (int round = 0; round < 5000; ++round) {
        Sample s{};
        for (float* f : {s.pupilX, s.pupilY, s.headRefX, s.headRefY, s.pupilSize, s.gazeX, s.gazeY}) {
            f[0] = randomField(rng);
            f[1] = randomField(rng);
        }
        s.resolutionX = randomField(rng);
        s.resolutionY = randomField(rng);
        for (auto& w : s.headData) w = static_cast<std::int16_t>(rng());
        s.input = static_cast<std::uint16_t>(rng());
        const std::int16_t types[] = {196, 200, 0x18, static_cast<std::int16_t>(rng())};
        s.headDataType = types[rng() % 4];
        const float scales[] = {0.0f, 1.0f, 0.03125f, randomField(rng)};
        const RawSetup setup{scales[rng() % 4], 176, 190};
        const int eye = static_cast<int>(rng() % 4) - 1;

        const RawIntPair dim = pupilDimension(&s, eye, setup);
        EXPECT_TRUE(sameBits(dim, pupilDimension(&s, eye, setup)));
        EXPECT_TRUE(sameBits(uncorrectedRawPupil(&s, eye, setup), uncorrectedRawPupil(&s, eye, setup)));
        EXPECT_TRUE(sameBits(uncorrectedRawCr(&s, eye, setup), uncorrectedRawCr(&s, eye, setup)));
        EXPECT_TRUE(sameBits(uncorrectedRawCr2(&s, eye), uncorrectedRawCr2(&s, eye)));
        EXPECT_TRUE(sameBits(pupilMinusCr(&s, eye, setup), pupilMinusCr(&s, eye, setup)));
        EXPECT_EQ(uncorrectedCrArea(&s, eye, setup), uncorrectedCrArea(&s, eye, setup));

        if (eye != 0 && eye != 1) {
            EXPECT_EQ(dim, kMissingPair);
            continue;
        }
        const float p = s.pupilSize[eye];
        const int area = uncorrectedPupilArea(&s, eye);
        if (p < 0) {
            EXPECT_GE(area, 0);
            EXPECT_LE(area, 32700);  // a tiny negative size rounds up to 32700
            for (int v : dim) EXPECT_TRUE((v >= 0 && v <= 255) || v == kMissingInt) << v;
        } else {
            EXPECT_EQ(area, s.headData[4]);
            if (area != 0) {
                EXPECT_GE(dim[0], 0);
                EXPECT_LE(dim[0], 255);
                EXPECT_GE(dim[1], -128);
                EXPECT_LE(dim[1], 127);
            }
        }
        const int cr2 = uncorrectedCr2Area(&s, eye);
        EXPECT_TRUE(cr2 == 0 || cr2 == s.headData[3] || cr2 == s.headData[7]);
        const RawIntPair window = windowPosition(&s, RawSetup{});
        EXPECT_GE(window[0], 88);
        EXPECT_LE(window[0], 2132);
        EXPECT_GE(window[1], 95);
        EXPECT_LE(window[1], 1111);
    }
}

}  // namespace
}  // namespace vok
