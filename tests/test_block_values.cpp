// Records read again after loading are decoded with the scales of their own
// recording block, not those of the last block the reading loop passed.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace vok {
namespace {

void block(vokgen::VokWriter& w, std::uint32_t start, std::int16_t gazeScale, std::int16_t velocityScale) {
    vokgen::BlockStartSpec b;
    b.time = start;
    b.gazeScale = gazeScale;
    b.velocityScale = velocityScale;
    b.flags = VOK_SAMPLE_GAZE;
    b.eye = vokgen::Eye::Left;
    w.startSamples(b);
    for (std::uint32_t t = start; t < start + 10; ++t) {
        vokgen::SampleSpec s;
        s.flags = VOK_SAMPLE_LEFT | VOK_SAMPLE_GAZE;
        s.time = t;
        s.timeForm = t == start ? vokgen::TimeForm::Full : vokgen::TimeForm::Increment;
        s.gazeX[0] = 1000;
        s.gazeY[0] = 2000;
        w.sample(s);
    }
    w.beginEvent(EFIX, vokgen::kEyeLeftBits).fieldU32(33, start + 2).fieldU32(65, start + 5);
    w.fieldPair(42, 1000, 2000).fieldI16(115, 500).endEvent();
    w.endSamples(start + 10);
}

TEST(BlockValues, EachBlockIsReadWithItsOwnScales) {
    vokgen::VokWriter w;
    w.magic().standardPreamble(2, 4).endPreamble();
    block(w, 1000, 10, 10);
    block(w, 5000, 1, 100);
    w.endOfRecords();
    test::TempDir dir;
    test::LogCapture capture;
    int err = 0;
    VOKFile* f = vok_open_file(dir.write("scales.vok", w).c_str(), 0, 1, 1, &err);
    ASSERT_NE(f, nullptr) << capture.text();
    // Straight after opening, without walking past the first block's start.
    const Sample* early = vok_get_sample_close_to_time(f, 1003);
    ASSERT_NE(early, nullptr);
    EXPECT_EQ(early->gazeX[0], 100.0f);
    // Walking backwards in time through the blocks.
    const Sample* late = vok_get_sample_close_to_time(f, 5003);
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(late->gazeX[0], 1000.0f);
    early = vok_get_sample_close_to_time(f, 1008);
    ASSERT_NE(early, nullptr);
    EXPECT_EQ(early->gazeX[0], 100.0f);
    int samples = 0, fixations = 0;
    int type;
    while ((type = vok_get_next_data(f)) != 0) {
        FloatData* d = vok_get_float_data(f);
        ASSERT_NE(d, nullptr);
        if (type == SAMPLE_TYPE) {
            const bool first = d->sample.time < 5000;
            EXPECT_EQ(d->sample.gazeX[0], first ? 100.0f : 1000.0f) << d->sample.time;
            EXPECT_EQ(d->sample.gazeY[0], first ? 200.0f : 2000.0f) << d->sample.time;
            ++samples;
        } else if (type == EFIX) {
            const bool first = d->event.startTime < 5000;
            EXPECT_EQ(d->event.startGazeX, first ? 100.0f : 1000.0f);
            EXPECT_EQ(d->event.avgVelocity, first ? 50.0f : 5.0f);
            ++fixations;
        }
    }
    EXPECT_EQ(samples, 20);
    EXPECT_EQ(fixations, 2);
    vok_close_file(f);
}

}  // namespace
}  // namespace vok
