// The exported raw pupil and CR calls take the raw scale and camera window
// of the recording block that covers the sample's time.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace vok {
namespace {

TEST(RawValuesApi, ScaleComesFromTheCoveringBlock) {
    vokgen::VokWriter w;
    w.magic().standardPreamble(2, 4).endPreamble();
    vokgen::BlockStartSpec b;
    b.time = 1000;
    b.gazeScale = 10;  // also the block's raw scale
    b.flags = VOK_SAMPLE_PUPILSIZE | VOK_SAMPLE_RESOLUTION;
    b.eye = vokgen::Eye::Left;
    w.startSamples(b);
    for (std::uint32_t t = 1000; t < 1005; ++t) {
        vokgen::SampleSpec s;
        s.flags = VOK_SAMPLE_LEFT | VOK_SAMPLE_PUPILSIZE | VOK_SAMPLE_RESOLUTION;
        s.time = t;
        s.timeForm = t == 1000 ? vokgen::TimeForm::Full : vokgen::TimeForm::Increment;
        s.pupilSize[0] = -32000;  // packed layout: area 700
        s.resolutionX = 50;       // 5.0 after the gaze scale
        s.resolutionY = 60;
        w.sample(s);
    }
    w.endSamples(1005).endOfRecords();
    test::TempDir dir;
    test::LogCapture capture;
    int err = 0;
    VOKFile* f = vok_open_file(dir.write("raw.vok", w).c_str(), 0, 1, 1, &err);
    ASSERT_NE(f, nullptr) << capture.text();
    const Sample* found = vok_get_sample_close_to_time(f, 1002);
    ASSERT_NE(found, nullptr);
    Sample s = *found;
    testing::internal::CaptureStdout();
    EXPECT_EQ(vok_get_uncorrected_pupil_area(f, &s, 0), 700);
    EXPECT_EQ(vok_get_uncorrected_cr_area(f, &s, 0), 50) << "5.0 x raw scale 10";
    EXPECT_EQ(vok_get_uncorrected_cr_area(nullptr, &s, 0), 0) << "no handle: raw scale 0";
    s.time = 9000;  // no trial covers it
    EXPECT_EQ(vok_get_uncorrected_cr_area(f, &s, 0), 0);
    int xy[2] = {-1, -1};
    vok_get_window_position(f, &s, xy);
    EXPECT_EQ(xy[0], 88 + (s.input & 0x1FF) * 4);
    EXPECT_EQ(xy[1], 95 + (s.input >> 9) * 8);
    float point[2] = {0, 0};
    vok_get_uncorrected_raw_pupil(f, &s, 5, point);
    EXPECT_EQ(point[0], 1e8f) << "an eye other than 0 or 1 gives the missing value";
    vok_get_uncorrected_raw_pupil(f, nullptr, 0, point);
    EXPECT_EQ(point[1], 1e8f);
    testing::internal::GetCapturedStdout();
    vok_close_file(f);
}

}  // namespace
}  // namespace vok
