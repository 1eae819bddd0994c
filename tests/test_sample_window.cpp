// The sample window: appending in key order, pupil-size memory, shifting,
// constant-time and linear lookups, and the refill decision.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "load/SampleWindow.h"

namespace vok {
namespace {

constexpr std::uint64_t kTop = std::numeric_limits<std::uint64_t>::max();

// A left-eye sample whose gazeX records the key it was made for, so a slot's
// content can be traced back after shifting.
Sample tracedSample(std::uint64_t key) {
    Sample s{};
    s.time = static_cast<std::uint32_t>(key / 2);
    s.flags = VOK_SAMPLE_LEFT | VOK_SAMPLE_GAZE | VOK_SAMPLE_IS_SAMPLE;
    s.gazeX[0] = static_cast<float>(key);
    return s;
}

void fill(SampleWindow& w, const std::vector<std::uint64_t>& keys) {
    for (std::uint64_t k : keys) w.append(tracedSample(k), k);
}

std::vector<std::uint64_t> evenKeys(std::uint64_t first, std::uint64_t step, int n) {
    std::vector<std::uint64_t> keys;
    for (int i = 0; i < n; ++i) keys.push_back(first + step * static_cast<std::uint64_t>(i));
    return keys;
}

TEST(SampleWindow, AppendKeepsKeysStrictlyIncreasing) {
    SampleWindow w;
    EXPECT_TRUE(w.empty());
    fill(w, {10, 12, 12, 11, 14, 3});  // the repeated and the lower keys are ignored
    ASSERT_EQ(w.count(), 3);
    EXPECT_EQ(w.key(0), 10u);
    EXPECT_EQ(w.key(1), 12u);
    EXPECT_EQ(w.key(2), 14u);
    EXPECT_EQ(w.slot(1).gazeX[0], 12.0f);  // the first sample with key 12 stays
    EXPECT_EQ(w.slot(2).timeHalfMs, 14u);
}

TEST(SampleWindow, AppendStopsWhenFull) {
    SampleWindow w;
    fill(w, evenKeys(100, 2, SampleWindow::kCapacity + 5));
    EXPECT_TRUE(w.full());
    EXPECT_EQ(w.count(), SampleWindow::kCapacity);
    EXPECT_EQ(w.key(SampleWindow::kCapacity - 1), 100u + 2u * (SampleWindow::kCapacity - 1));
}

TEST(SampleWindow, PupilSizesAreRememberedAndPassedOn) {
    SampleWindow w;
    Sample withSizes = tracedSample(4);
    withSizes.flags |= VOK_SAMPLE_PUPILSIZE;
    withSizes.pupilSize[0] = 812.0f;
    withSizes.pupilSize[1] = 640.0f;
    Sample without = tracedSample(2);
    without.pupilSize[0] = 5.0f;  // not carried: overwritten
    without.pupilSize[1] = 6.0f;

    w.append(without, 2);  // nothing remembered yet
    EXPECT_EQ(w.slot(0).pupilSize[0], 1000.0f);
    EXPECT_EQ(w.slot(0).pupilSize[1], 1000.0f);
    w.append(withSizes, 4);
    EXPECT_EQ(w.slot(1).pupilSize[0], 812.0f);
    w.append(without, 6);
    EXPECT_EQ(w.slot(2).pupilSize[0], 812.0f);
    EXPECT_EQ(w.slot(2).pupilSize[1], 640.0f);
    w.append(placeholderSample(4), 8);  // a stand-in gets them too
    EXPECT_EQ(w.slot(3).pupilSize[1], 640.0f);

    // An ignored append does not change the memory.
    Sample late = withSizes;
    late.pupilSize[0] = 1.0f;
    w.append(late, 8);
    w.append(without, 10);
    EXPECT_EQ(w.slot(4).pupilSize[0], 812.0f);

    w.shiftOut128();  // shifting keeps the memory
    w.append(without, 12);
    EXPECT_EQ(w.slot(0).pupilSize[0], 812.0f);

    w.reset();
    EXPECT_TRUE(w.empty());
    w.append(without, 2);  // a key below the old ones is accepted after a reset
    EXPECT_EQ(w.slot(0).pupilSize[0], 1000.0f);
    EXPECT_EQ(w.slot(0).pupilSize[1], 1000.0f);
}

TEST(SampleWindow, ShiftOut128KeepsTheNewest) {
    SampleWindow w;
    fill(w, evenKeys(0, 2, 300));
    w.shiftOut128();
    ASSERT_EQ(w.count(), 172);
    for (int i = 0; i < w.count(); ++i) {
        const std::uint64_t expected = 2u * static_cast<std::uint64_t>(i + 128);
        ASSERT_EQ(w.key(i), expected) << i;
        ASSERT_EQ(w.slot(i).gazeX[0], static_cast<float>(expected)) << i;
    }
    // Appending continues after the kept samples.
    w.append(tracedSample(600), 600);
    EXPECT_EQ(w.count(), 173);
    EXPECT_EQ(w.key(172), 600u);

    SampleWindow small;
    fill(small, evenKeys(0, 2, 100));
    small.shiftOut128();
    EXPECT_TRUE(small.empty());
    small.append(tracedSample(0), 0);  // a shifted-out key may come back
    EXPECT_EQ(small.count(), 1);
}

TEST(SampleWindow, StepFromTheFirstOrTheLastTwoKeys) {
    SampleWindow w;
    EXPECT_EQ(w.step(), 0u);
    fill(w, {40});
    EXPECT_EQ(w.step(), 0u);
    w.append(tracedSample(48), 48);
    EXPECT_EQ(w.step(), 8u);

    SampleWindow irregular;  // first spacing above 8: the last two decide
    fill(irregular, {0, 20, 24, 27});
    EXPECT_EQ(irregular.step(), 3u);
}

TEST(SampleWindow, FindAtEveryRateStep) {
    for (std::uint64_t step : {1u, 2u, 4u, 8u}) {
        SCOPED_TRACE(step);
        SampleWindow w;
        const std::uint64_t first = 1001;
        fill(w, evenKeys(first, step, 400));
        const std::uint64_t last = w.key(399);
        for (int i = 0; i < w.count(); ++i) ASSERT_EQ(w.find(w.key(i)), i);
        EXPECT_EQ(w.find(first - 1), -1);
        EXPECT_EQ(w.find(last + step), -1);
        EXPECT_EQ(w.find(0), -1);
        EXPECT_EQ(w.find(kTop), -1);
        if (step > 1) {
            for (std::uint64_t k = first + 1; k < first + 4 * step; ++k) {
                if ((k - first) % step != 0) {
                    EXPECT_EQ(w.find(k), -1) << k;
                }
            }
        }
    }
}

TEST(SampleWindow, FindWithIrregularKeys) {
    // A gap in the middle: keys before it are counted from the front, keys
    // after it from the back.
    SampleWindow gap;
    std::vector<std::uint64_t> keys = evenKeys(100, 2, 50);
    const std::vector<std::uint64_t> rest = evenKeys(300, 2, 50);
    keys.insert(keys.end(), rest.begin(), rest.end());
    fill(gap, keys);
    for (int i = 0; i < gap.count(); ++i) ASSERT_EQ(gap.find(gap.key(i)), i) << i;
    EXPECT_EQ(gap.find(250), -1);  // inside the gap
    EXPECT_EQ(gap.findLinear(250), -1);

    // Gaps on both sides: the middle is only found by the linear search.
    SampleWindow twoGaps;
    fill(twoGaps, {10, 12, 14, 20, 22, 24, 30, 32, 34});
    EXPECT_EQ(twoGaps.find(22), -1);
    EXPECT_EQ(twoGaps.findLinear(22), 4);
    EXPECT_EQ(twoGaps.find(12), 1);
    EXPECT_EQ(twoGaps.find(32), 7);

    // First spacing above 8: the spacing of the last two keys counts back.
    SampleWindow wideStart;
    fill(wideStart, {0, 100, 102, 104, 106});
    EXPECT_EQ(wideStart.find(102), 2);
    EXPECT_EQ(wideStart.find(104), 3);
    EXPECT_EQ(wideStart.find(50), -1);

    // A spacing of 3 is no rate step: only the ends are found directly.
    SampleWindow odd;
    fill(odd, evenKeys(9, 3, 20));
    EXPECT_EQ(odd.find(9), 0);
    EXPECT_EQ(odd.find(9 + 3 * 19), 19);
    EXPECT_EQ(odd.find(12), -1);
    EXPECT_EQ(odd.findLinear(12), 1);
    EXPECT_EQ(odd.findLinear(13), -1);

    // Estimates far outside the slots in use are rejected, not read.
    SampleWindow far;
    fill(far, {0, 1, 2, 100000});
    EXPECT_EQ(far.find(50000), -1);
    EXPECT_EQ(far.find(2), 2);
    EXPECT_EQ(far.find(100000), 3);
}

TEST(SampleWindow, FindInSmallWindows) {
    SampleWindow w;
    EXPECT_EQ(w.find(0), -1);
    EXPECT_EQ(w.findLinear(0), -1);
    w.append(tracedSample(6), 6);
    EXPECT_EQ(w.find(6), 0);
    EXPECT_EQ(w.find(7), -1);
    w.append(tracedSample(8), 8);
    EXPECT_EQ(w.find(6), 0);
    EXPECT_EQ(w.find(8), 1);
    EXPECT_EQ(w.find(7), -1);
}

TEST(SampleWindow, ReachesBeyond) {
    SampleWindow w;
    EXPECT_FALSE(w.reachesBeyond(0));
    EXPECT_FALSE(w.reachesBeyond(1000));

    fill(w, evenKeys(100, 2, 10));  // 100 .. 118
    struct Case {
        std::uint64_t key;
        bool beyond;
    } cases[] = {
        {99, true},    // before the first key
        {0, true},
        {100, false},  // inside
        {107, false},
        {118, false},  // the last key
        {119, false},
        {120, false},  // exactly one step past: read on
        {121, true},   // more than one step past
        {kTop, true},
    };
    for (const Case& c : cases) EXPECT_EQ(w.reachesBeyond(c.key), c.beyond) << c.key;

    SampleWindow two;
    fill(two, {100, 102});
    EXPECT_TRUE(two.reachesBeyond(103));
    EXPECT_FALSE(two.reachesBeyond(102));
    EXPECT_TRUE(two.reachesBeyond(99));

    // Near the top of the key range the step must not wrap.
    SampleWindow top;
    fill(top, {kTop - 5, kTop - 3, kTop - 1});
    EXPECT_FALSE(top.reachesBeyond(kTop));
}

TEST(SampleWindow, PlaceholderSample) {
    const Sample p = placeholderSample(4321);
    EXPECT_EQ(p.time, 4321u);
    EXPECT_EQ(p.flags, 0xC000);
    EXPECT_EQ(p.input, 0);
    EXPECT_EQ(p.buttons, 0);
    EXPECT_EQ(p.errors, 0);
    EXPECT_EQ(static_cast<std::uint16_t>(p.headDataType), 0xE100);
    for (std::int16_t word : p.headData) EXPECT_EQ(static_cast<std::uint16_t>(word), 0xE100);
    const float* const pairs[] = {
        p.pupilX,      p.pupilY,      p.headRefX,        p.headRefY,        p.pupilSize,
        p.gazeX,       p.gazeY,       p.gazeVelX,        p.gazeVelY,        p.headRefVelX,
        p.headRefVelY, p.pupilVelX,   p.pupilVelY,       p.fastGazeVelX,    p.fastGazeVelY,
        p.fastHeadRefVelX, p.fastHeadRefVelY, p.fastPupilVelX, p.fastPupilVelY,
    };
    for (const float* pair : pairs) {
        EXPECT_EQ(pair[0], 1e8f);
        EXPECT_EQ(pair[1], 1e8f);
    }
    EXPECT_EQ(p.resolutionX, 1e8f);
    EXPECT_EQ(p.resolutionY, 1e8f);

    SampleWindow w;
    w.append(p, 8643);
    EXPECT_EQ(w.slot(0).timeHalfMs, 8643u);
    EXPECT_EQ(w.slot(0).pupilSize[0], 1000.0f);  // remembered, not 1e8
}

TEST(SampleWindow, FindAfterTheSpacingBreaksAndAfterShifting) {
    SampleWindow w;
    // Even keys 0..100, then a key 3 past the last: counted from the front
    // with the step 2 it still sits where its distance puts it.
    fill(w, evenKeys(0, 2, 51));
    fill(w, {103, 105});
    EXPECT_EQ(w.find(50), 25);
    EXPECT_EQ(w.find(103), 51);
    EXPECT_EQ(w.find(105), 52);
    EXPECT_EQ(w.find(104), -1);

    // A first gap of 5 is no usable spacing: inner keys are not found in
    // constant time until shifting drops that gap.
    w.reset();
    fill(w, {0});
    fill(w, evenKeys(5, 2, 300));
    EXPECT_EQ(w.find(7), -1);
    EXPECT_EQ(w.findLinear(7), 2);
    w.shiftOut128();
    ASSERT_EQ(w.key(0), 259u);
    EXPECT_EQ(w.find(279), 10);
    EXPECT_EQ(w.find(280), -1);
    EXPECT_EQ(w.find(w.key(w.count() - 1)), w.count() - 1);
    // Appending keeps the spacing known only while the step holds.
    const std::uint64_t past = w.key(w.count() - 1) + 4;
    w.append(tracedSample(past), past);
    EXPECT_EQ(w.find(past), w.count() - 1);
    EXPECT_EQ(w.find(279), 10);
}

}  // namespace
}  // namespace vok
