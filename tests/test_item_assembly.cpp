// Item assembly seen through the cursor: how the sample window follows a
// walk (refill at slot 448, shift, reset), placeholders for missing
// samples, samples next to events and gaps read from every starting point,
// repeated reads, and the sample that cannot be located.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "load/ItemIndex.h"
#include "nav/VOKFile.h"
#include "nav/Cursor.h"
#include "support/TestSupport.h"

namespace vok {
namespace {

using vokgen::BlockStartSpec;
using vokgen::Eye;
using vokgen::SampleSpec;
using vokgen::TimeForm;
using FileHandle = std::unique_ptr<VOKFile, test::FileCloser>;

constexpr float kMissing = 1e8f;

// Stored values of the sample at time t: the left eye's gaze and pupil
// size follow the time, so a sample read back shows which record it came
// from.
std::int16_t gazeOf(std::uint32_t t) { return static_cast<std::int16_t>(t % 20000); }
std::int16_t pupilOf(std::uint32_t t) { return static_cast<std::int16_t>(600 + t % 97); }

class Rec : public vokgen::VokWriter {
public:
    explicit Rec(std::uint32_t blockStart = 0, double rate = 1000.0) {
        magic();
        standardPreamble(2, 4);
        endPreamble();
        if (blockStart != 0) {
            BlockStartSpec b;
            b.time = blockStart;
            b.sampleRate = rate;
            b.eye = Eye::Left;
            b.gazeScale = 1;
            startSamples(b);
        }
    }
    // A left-eye sample with gaze and pupil size; a one-byte increment when
    // it fits, else the full time.
    Rec& at(std::uint32_t t, bool pupil = true) {
        SampleSpec s;
        s.flags = static_cast<std::uint16_t>(VOK_SAMPLE_LEFT | VOK_SAMPLE_GAZE | VOK_SAMPLE_RESOLUTION |
                                             (pupil ? VOK_SAMPLE_PUPILSIZE : 0));
        s.time = t;
        s.timeForm =
            first_ || t < runningTime() || t - runningTime() > 255 ? TimeForm::Full : TimeForm::Increment;
        first_ = false;
        s.gazeX[0] = gazeOf(t);
        s.gazeY[0] = 3;
        s.pupilSize[0] = pupilOf(t);
        s.resolutionX = 30;
        s.resolutionY = 31;
        sample(s);
        return *this;
    }
    Rec& run(std::uint32_t from, std::uint32_t to, std::uint32_t step = 1) {
        for (std::uint32_t t = from; t <= to; t += step) at(t);
        return *this;
    }
    Rec& msg(std::uint32_t t, std::string_view text) {
        message(t, text);
        return *this;
    }
    Rec& finish() {
        endOfRecords();
        return *this;
    }

private:
    bool first_ = true;
};

using Opened = test::OpenedRecording;

Opened openRec(const test::TempDir& dir, const vokgen::VokWriter& w, int consistency) {
    return test::openWritten(dir, w, consistency);
}

// Index position of the sample item with the key, or -1.
int positionOfKey(const VOKFile& f, std::uint64_t key) {
    for (std::size_t i = 0; i < f.recording.items.index.size(); ++i) {
        if (itemType(f.recording.items.index[i]) == SAMPLE_TYPE && sortKey(f.recording.items.index[i]) == key) return static_cast<int>(i);
    }
    return -1;
}

// Moves the cursor onto the sample with the key and reads it.
const Sample* readSampleAt(VOKFile* f, std::uint64_t key) {
    const int pos = positionOfKey(*f, key);
    EXPECT_GE(pos, 0) << key;
    if (pos < 0) return nullptr;
    gotoIndex(*f, pos);
    EXPECT_EQ(vok_get_next_data(f), SAMPLE_TYPE);
    return vok_get_sample(vok_get_float_data(f));
}

std::string hex(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%a", static_cast<double>(v));
    return buf;
}

// Every field of a sample, floats exactly.
std::string describe(const Sample& s) {
    std::string out = "t" + std::to_string(s.time) + " f" + std::to_string(s.flags);
    auto pair = [&](const char* name, const float* v) {
        out += std::string(" ") + name + hex(v[0]) + "," + hex(v[1]);
    };
    pair("px", s.pupilX);
    pair("py", s.pupilY);
    pair("hx", s.headRefX);
    pair("hy", s.headRefY);
    pair("ps", s.pupilSize);
    pair("gx", s.gazeX);
    pair("gy", s.gazeY);
    out += " r" + hex(s.resolutionX) + "," + hex(s.resolutionY);
    const float* vel[] = {s.gazeVelX,        s.gazeVelY,        s.headRefVelX,   s.headRefVelY,
                          s.pupilVelX,       s.pupilVelY,       s.fastGazeVelX,  s.fastGazeVelY,
                          s.fastHeadRefVelX, s.fastHeadRefVelY, s.fastPupilVelX, s.fastPupilVelY};
    for (const float* v : vel) pair("v", v);
    for (std::int16_t w : s.headData) out += " " + std::to_string(w);
    out += " i" + std::to_string(s.input) + " b" + std::to_string(s.buttons) + " ht" +
           std::to_string(s.headDataType) + " e" + std::to_string(s.errors);
    return out;
}

// ---------------------------------------------------------------------------
// The window during a walk

TEST(SampleWindowWalk, ForwardWalkRefillsAtSlot448KeepingTheNewest384) {
    test::TempDir dir;
    constexpr std::uint32_t kFirst = 1000;
    constexpr int kCount = 1200;
    Rec w(kFirst);
    for (int j = 0; j < kCount; ++j) {
        const std::uint32_t t = kFirst + static_cast<std::uint32_t>(j);
        w.at(t);
        if (j % 50 == 7) w.msg(t, "TICK");  // events between the samples
    }
    w.finish();
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();

    int j = 0;
    for (int type; (type = vok_get_next_data(f)) != 0;) {
        if (type != SAMPLE_TYPE) continue;
        const Sample* s = vok_get_sample(vok_get_float_data(f));
        ASSERT_NE(s, nullptr) << j;
        ASSERT_EQ(s->time, kFirst + static_cast<std::uint32_t>(j));
        ASSERT_EQ(s->gazeX[0], static_cast<float>(gazeOf(s->time)));
        // Refills so far: the first at sample 448, then every 128 samples.
        const int refills = j < 448 ? 0 : 1 + (j - 448) / 128;
        const int firstInWindow = 128 * refills;
        ASSERT_EQ(f->decoder.window().key(0), 2ull * (kFirst + static_cast<std::uint32_t>(firstInWindow))) << j;
        ASSERT_EQ(f->decoder.window().count(), std::min(512, kCount - firstInWindow)) << j;
        ++j;
    }
    EXPECT_EQ(j, kCount);
}

TEST(SampleWindowWalk, JumpsShiftOrResetTheWindow) {
    test::TempDir dir;
    constexpr std::uint32_t kFirst = 1000;
    constexpr int kCount = 1000;
    Rec w(kFirst);
    w.run(kFirst, kFirst + kCount - 1).finish();
    auto key = [](int j) { return 2ull * (kFirst + static_cast<std::uint32_t>(j)); };
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();
    test::LogCapture quiet;  // reads after a jump have no current recording

    ASSERT_NE(readSampleAt(f, key(0)), nullptr);
    ASSERT_EQ(f->decoder.window().count(), 512);
    ASSERT_EQ(f->decoder.window().key(511), key(511));

    // Exactly one step past the last key: the oldest 128 go, reading goes on.
    const Sample* s = readSampleAt(f, key(512));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->time, kFirst + 512);
    EXPECT_EQ(f->decoder.window().key(0), key(128));
    EXPECT_EQ(f->decoder.window().count(), 512);
    EXPECT_EQ(f->decoder.window().key(511), key(639));

    // Before the first key: a fresh window from the requested sample.
    s = readSampleAt(f, key(10));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->time, kFirst + 10);
    EXPECT_EQ(f->decoder.window().key(0), key(10));
    EXPECT_EQ(f->decoder.window().count(), 512);

    // Two steps past the last key (521): a fresh window too.
    s = readSampleAt(f, key(523));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->time, kFirst + 523);
    EXPECT_EQ(f->decoder.window().key(0), key(523));
    EXPECT_EQ(f->decoder.window().count(), kCount - 523);

    // Inside the window below slot 448: served without refilling.
    s = readSampleAt(f, key(700));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->time, kFirst + 700);
    EXPECT_EQ(f->decoder.window().key(0), key(523));
}

// ---------------------------------------------------------------------------
// Placeholders

TEST(SampleWindowPlaceholders, ReadBackAsStandInsWithRememberedPupilSizes) {
    test::TempDir dir;
    Rec w(1000);
    w.run(1000, 1010).run(1014, 1030).finish();  // 1011..1013 missing
    Opened o = openRec(dir, w, 2);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();

    std::vector<std::uint32_t> times;
    for (int type; (type = vok_get_next_data(f)) != 0;) {
        if (type != SAMPLE_TYPE) continue;
        const Sample* s = vok_get_sample(vok_get_float_data(f));
        ASSERT_NE(s, nullptr);
        times.push_back(s->time);
        if (s->time < 1011 || s->time > 1013) {
            EXPECT_EQ(s->flags, VOK_SAMPLE_LEFT | VOK_SAMPLE_GAZE | VOK_SAMPLE_RESOLUTION |
                                    VOK_SAMPLE_PUPILSIZE | VOK_SAMPLE_IS_SAMPLE |
                                    (s->time == 1000 ? VOK_SAMPLE_FULLTIME : 0));
            EXPECT_EQ(s->gazeX[0], static_cast<float>(gazeOf(s->time)));
            EXPECT_EQ(s->pupilSize[0], static_cast<float>(pupilOf(s->time)));
            continue;
        }
        SCOPED_TRACE(s->time);
        EXPECT_EQ(s->flags, 0xC000);
        for (int e = 0; e < 2; ++e) {
            EXPECT_EQ(s->gazeX[e], kMissing);
            EXPECT_EQ(s->gazeY[e], kMissing);
            EXPECT_EQ(s->pupilX[e], kMissing);
            EXPECT_EQ(s->pupilY[e], kMissing);
            EXPECT_EQ(s->headRefX[e], kMissing);
            EXPECT_EQ(s->headRefY[e], kMissing);
        }
        EXPECT_EQ(s->resolutionX, kMissing);
        EXPECT_EQ(s->resolutionY, kMissing);
        EXPECT_EQ(s->input, 0);
        EXPECT_EQ(s->buttons, 0);
        EXPECT_EQ(s->errors, 0);
        EXPECT_EQ(static_cast<std::uint16_t>(s->headDataType), 0xE100);
        // The sizes of the last sample that carried them (1010; the right
        // eye is absent there).
        EXPECT_EQ(s->pupilSize[0], static_cast<float>(pupilOf(1010)));
        EXPECT_EQ(s->pupilSize[1], -32768.0f);
    }
    std::vector<std::uint32_t> expected;
    for (std::uint32_t t = 1000; t <= 1030; ++t) expected.push_back(t);
    EXPECT_EQ(times, expected);

    // After a reset nothing is remembered: a window that starts at a
    // placeholder gives it 1000.0.
    Opened fresh = openRec(dir, w, 2);
    ASSERT_NE(fresh.file, nullptr);
    f = fresh.file.get();
    test::LogCapture quiet;  // reads after a jump have no current recording
    ASSERT_NE(readSampleAt(f, 2 * 1020), nullptr);
    ASSERT_EQ(f->decoder.window().key(0), 2u * 1020);
    const Sample* ph = readSampleAt(f, 2 * 1012);  // before the window: reset
    ASSERT_NE(ph, nullptr);
    EXPECT_EQ(ph->time, 1012u);
    EXPECT_EQ(ph->flags, 0xC000);
    EXPECT_EQ(ph->pupilSize[0], 1000.0f);
    EXPECT_EQ(ph->pupilSize[1], 1000.0f);
    EXPECT_EQ(f->decoder.window().key(0), 2u * 1012);
}

// Samples around a gap with events between the last real sample and the
// gap, read with the window filled from every sample in turn: each sample
// is read at its own position with its own time.
TEST(SampleWindowPlaceholders, EverySampleReadsTheSameFromEveryStartingPoint) {
    test::TempDir dir;
    Rec w(1000);
    w.run(1000, 1010);
    w.msg(1010, "BEFORE_GAP");
    vokgen::EyeEventSpec fix;
    fix.startTime = 1008;
    fix.endTime = 1010;
    w.fixationStart(fix);
    w.at(1014, false);  // after the gap, without pupil sizes
    w.run(1015, 1020);
    w.msg(1020, "BEFORE_SECOND_GAP");
    w.run(1023, 1030).finish();  // 1011..1013 and 1021..1022 missing

    for (int consistency : {0, 2}) {
        SCOPED_TRACE(consistency);
        Opened ref = openRec(dir, w, consistency);
        ASSERT_NE(ref.file, nullptr);
        std::vector<std::uint64_t> keys;
        for (const ItemEntry& e : ref.file->recording.items.index) {
            if (itemType(e) == SAMPLE_TYPE) keys.push_back(sortKey(e));
        }
        ASSERT_EQ(keys.size(), consistency == 2 ? 31u : 26u);

        // The reference: a walk from the start.
        std::vector<std::string> walked;
        for (int type; (type = vok_get_next_data(ref.file.get())) != 0;) {
            if (type != SAMPLE_TYPE) continue;
            const Sample* s = vok_get_sample(vok_get_float_data(ref.file.get()));
            ASSERT_NE(s, nullptr);
            if (s->flags != 0xC000) {
                EXPECT_EQ(s->gazeX[0], static_cast<float>(gazeOf(s->time))) << s->time;
                EXPECT_EQ(s->pupilSize[0],
                          static_cast<float>(s->time == 1014 ? pupilOf(1010) : pupilOf(s->time)))
                    << s->time;
            }
            walked.push_back(describe(*s));
        }
        ASSERT_EQ(walked.size(), keys.size());

        for (std::size_t start = 0; start < keys.size(); ++start) {
            SCOPED_TRACE(keys[start]);
            Opened o = openRec(dir, w, consistency);
            ASSERT_NE(o.file, nullptr);
            VOKFile* f = o.file.get();
            test::LogCapture quiet;  // reads after a jump have no current recording
            gotoIndex(*f, positionOfKey(*f, keys[start]));
            std::size_t k = start;
            for (int type; (type = vok_get_next_data(f)) != 0;) {
                if (type != SAMPLE_TYPE) continue;
                const Sample* s = vok_get_sample(vok_get_float_data(f));
                ASSERT_NE(s, nullptr);
                std::string got = describe(*s);
                const bool placeholder = s->flags == 0xC000;
                // Velocities and remembered pupil sizes depend on what the
                // window held; compare the record itself.
                Sample a = *s;
                const Sample* again = vok_get_sample(vok_get_float_data(f));
                ASSERT_NE(again, nullptr);
                EXPECT_EQ(describe(*again), got) << "read twice";
                EXPECT_EQ(a.time, static_cast<std::uint32_t>(keys[k] >> 1));
                if (!placeholder) {
                    EXPECT_EQ(a.gazeX[0], static_cast<float>(gazeOf(a.time)));
                    if (a.time != 1014) {
                        EXPECT_EQ(a.pupilSize[0], static_cast<float>(pupilOf(a.time)));
                    }
                }
                ++k;
            }
            EXPECT_EQ(k, keys.size());
        }
    }
}

// ---------------------------------------------------------------------------
// Repeated reads, unlocatable samples, velocity fields

TEST(ItemRead, SameItemReadTwiceGivesTheSameRecord) {
    test::TempDir dir;
    Rec w(1000, 2000.0);
    for (std::uint32_t t = 1000; t < 1040; ++t) w.at(t).at(t);
    w.finish();
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();
    int samples = 0;
    for (int type; (type = vok_get_next_data(f)) != 0;) {
        const FloatData* d = vok_get_float_data(f);
        ASSERT_NE(d, nullptr);
        if (type != SAMPLE_TYPE) continue;
        const std::string first = describe(d->sample);
        d = vok_get_float_data(f);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(describe(d->sample), first);
        ++samples;
    }
    EXPECT_EQ(samples, 80);
}

TEST(ItemRead, GroupsASampleLacksReadAsOnAClearedRecord) {
    // Samples with and without head data in turn: one without holds no
    // words of its own, nor of the sample read before it.
    test::TempDir dir;
    Rec w(1000);
    for (std::uint32_t t = 1000; t < 1010; ++t) {
        SampleSpec s;
        s.flags = static_cast<std::uint16_t>(VOK_SAMPLE_LEFT | VOK_SAMPLE_GAZE |
                                             (t % 2 == 0 ? VOK_SAMPLE_HEADDATA : 0));
        s.time = t;
        s.timeForm = TimeForm::Full;
        s.headDataType = 0x04;
        for (int k = 0; k < 4; ++k) s.headData[k] = static_cast<std::uint16_t>(11 * (k + 1));
        w.sample(s);
    }
    w.finish();
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();
    int n = 0;
    for (int type; (type = vok_get_next_data(f)) != 0;) {
        if (type != SAMPLE_TYPE) continue;
        const Sample* s = vok_get_sample(vok_get_float_data(f));
        ASSERT_NE(s, nullptr);
        SCOPED_TRACE(s->time);
        const bool head = s->time % 2 == 0;
        EXPECT_EQ(s->headDataType, head ? 4 : -32768);
        for (int k = 0; k < 8; ++k) EXPECT_EQ(s->headData[k], head && k < 4 ? 11 * (k + 1) : 0) << k;
        EXPECT_EQ(s->pupilSize[0], 1000.0f);  // no sample carries sizes
        EXPECT_EQ(s->pupilSize[1], 1000.0f);
        ++n;
    }
    EXPECT_EQ(n, 10);
}

TEST(ItemRead, SampleTheWindowCannotLocateIsAReadError) {
    test::TempDir dir;
    Rec w(1000);
    w.run(1000, 1099).finish();
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();
    test::LogCapture capture;
    ASSERT_NE(readSampleAt(f, 2000), nullptr);  // the window now covers all 100
    ASSERT_EQ(f->decoder.window().count(), 100);

    // An entry whose key lies inside the window but matches no slot.
    const int pos = positionOfKey(*f, 2100);
    ASSERT_GE(pos, 0);
    f->recording.items.index[static_cast<std::size_t>(pos)].timeHalfMs = 2101;
    capture.clear();
    gotoIndex(*f, pos);
    ASSERT_EQ(vok_get_next_data(f), SAMPLE_TYPE);
    EXPECT_EQ(vok_get_float_data(f), nullptr);
    EXPECT_EQ(vok_get_sample_data(f), nullptr);
    EXPECT_EQ(capture.text(), "Read error \nRead error \n");

    // The next sample is served as usual.
    ASSERT_EQ(vok_get_next_data(f), SAMPLE_TYPE);
    const Sample* s = vok_get_sample(vok_get_float_data(f));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->time, 1051u);
}

// Every velocity field of the eye is 1e8.
void expectNoVelocities(const Sample& s, int eye) {
    const float* vel[] = {s.gazeVelX,        s.gazeVelY,        s.headRefVelX,   s.headRefVelY,
                          s.pupilVelX,       s.pupilVelY,       s.fastGazeVelX,  s.fastGazeVelY,
                          s.fastHeadRefVelX, s.fastHeadRefVelY, s.fastPupilVelX, s.fastPupilVelY};
    for (const float* v : vel) EXPECT_EQ(v[eye], kMissing);
}

TEST(ItemRead, VelocitiesNotComputedReadAsMissing) {
    test::TempDir dir;
    // Samples before any block start: no recording, no velocities.
    Rec loose;
    loose.run(1000, 1040).finish();
    {
        Opened o = openRec(dir, loose, 0);
        ASSERT_NE(o.file, nullptr);
        test::LogCapture capture;
        const Sample* s = readSampleAt(o.file.get(), 2 * 1020);
        ASSERT_NE(s, nullptr);
        expectNoVelocities(*s, 0);
        expectNoVelocities(*s, 1);
        EXPECT_EQ(capture.text(),
                  "WARNING: VOK FILE MAY BE CORRUPTED. Samples 1020 found without start recording \n");
    }
    // Inside a block: the left eye's gaze moves and has velocities; the
    // absent right eye has none.
    Rec block(1000);
    block.run(1000, 1040).finish();
    {
        Opened o = openRec(dir, block, 0);
        ASSERT_NE(o.file, nullptr);
        VOKFile* f = o.file.get();
        const Sample* s = nullptr;
        for (int type; (type = vok_get_next_data(f)) != 0;) {
            if (type != SAMPLE_TYPE) continue;
            s = vok_get_sample(vok_get_float_data(f));
            ASSERT_NE(s, nullptr);
            if (s->time == 1020) break;
        }
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->time, 1020u);
        // 1 pixel per ms at 30 pixels per degree.
        EXPECT_NEAR(s->gazeVelX[0], 1000.0f / 30.0f, 1.0f);
        EXPECT_NE(s->fastGazeVelX[0], kMissing);
        expectNoVelocities(*s, 1);
    }
}

TEST(ItemRead, HalfMillisecondFlagHoldsForTimesPastTwoToThe31) {
    // Above 2^31 ms the doubled time no longer fits 32 bits; the flag must
    // still mark only the second sample of each millisecond.
    test::TempDir dir;
    const std::uint32_t t0 = 0x80000010u;
    Rec w(t0, 2000.0);
    for (std::uint32_t t = t0; t < t0 + 20; ++t) w.at(t).at(t);
    w.finish();
    for (int consistency : {VOK_NO_TIME_FIXUP, 0}) {
        SCOPED_TRACE(consistency);
        Opened o = openRec(dir, w, consistency);
        ASSERT_NE(o.file, nullptr);
        VOKFile* f = o.file.get();
        int n = 0;
        for (int type; (type = vok_get_next_data(f)) != 0;) {
            if (type != SAMPLE_TYPE) continue;
            const Sample* s = vok_get_sample(vok_get_float_data(f));
            ASSERT_NE(s, nullptr);
            EXPECT_EQ(s->flags & VOK_SAMPLE_HALFMS, n % 2 == 1 ? VOK_SAMPLE_HALFMS : 0) << n;
            const std::uint32_t t = t0 + static_cast<std::uint32_t>(n / 2);
            EXPECT_EQ(s->time, consistency == 0 ? t - t0 : t) << n;
            ++n;
        }
        EXPECT_EQ(n, 40);
    }
}

}  // namespace
}  // namespace vok
