// The item cursor and its data calls: stepping, typed data calls, repeated
// reads, the time offset fixup, the search for a sample by time, the
// mending of event start times at the repair level, and the record kind
// checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
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
using vokgen::EyeEventSpec;
using vokgen::SampleSpec;
using vokgen::TimeForm;
using FileHandle = std::unique_ptr<VOKFile, test::FileCloser>;

class Rec : public vokgen::VokWriter {
public:
    Rec() {
        magic();
        standardPreamble(2, 4);
        endPreamble();
    }
    // Samples and events start (or end) of a left-eye block.
    Rec& begin(std::uint32_t t, double rate = 1000.0) {
        BlockStartSpec b;
        b.time = t;
        b.sampleRate = rate;
        b.eye = Eye::Left;
        b.gazeScale = 1;
        startSamples(b);
        startEvents(b);
        return *this;
    }
    Rec& end(std::uint32_t t) {
        endSamples(t);
        endEvents(t);
        return *this;
    }
    // A left-eye sample; gazeY tells samples of one millisecond apart.
    Rec& at(std::uint32_t t, std::int16_t gazeY = 0) {
        SampleSpec s;
        s.flags = VOK_SAMPLE_LEFT | VOK_SAMPLE_GAZE;
        s.time = t;
        s.timeForm = TimeForm::Full;
        s.gazeX[0] = static_cast<std::int16_t>(t % 20000);
        s.gazeY[0] = gazeY;
        sample(s);
        return *this;
    }
    Rec& run(std::uint32_t from, std::uint32_t to) {
        for (std::uint32_t t = from; t <= to; ++t) at(t);
        return *this;
    }
    Rec& msg(std::uint32_t t, std::string_view text) {
        message(t, text);
        return *this;
    }
    Rec& eye(ItemType type, std::uint32_t start, std::uint32_t endTime = 0) {
        EyeEventSpec e;
        e.startTime = start;
        e.endTime = endTime;
        e.startGaze = vokgen::Point{100, 200};
        eyeEvent(type, e);
        return *this;
    }
    Rec& finish() {
        endOfRecords();
        return *this;
    }
};

using Opened = test::OpenedRecording;

Opened openRec(const test::TempDir& dir, const vokgen::VokWriter& w, int consistency) {
    return test::openWritten(dir, w, consistency);
}

// The record of an item of the given type, in a few telling fields.
std::string describe(const FloatData* d, int type) {
    if (d == nullptr) return "null";
    if (type == SAMPLE_TYPE) {
        const Sample& s = d->sample;
        return "S t" + std::to_string(s.time) + " f" + std::to_string(s.flags) + " g" +
               std::to_string(s.gazeX[0]) + "," + std::to_string(s.gazeY[0]) + " v" +
               std::to_string(s.gazeVelX[0]);
    }
    if (type == RECORDING_INFO) {
        const RecordingInfo& r = d->recording;
        return "R t" + std::to_string(r.time) + " s" + std::to_string(r.state) + " k" +
               std::to_string(r.recordType) + " rate" + std::to_string(r.sampleRate);
    }
    const Event& e = d->event;
    std::string out = "E" + std::to_string(e.type) + " t" + std::to_string(e.time) + " " +
                      std::to_string(e.startTime) + "-" + std::to_string(e.endTime) + " eye" +
                      std::to_string(e.eye) + " g" + std::to_string(e.startGazeX) + " r" +
                      std::to_string(e.read);
    if (e.message != nullptr)
        out += " '" + std::string(e.message->c, static_cast<std::size_t>(e.message->length)) + "'";
    return out;
}

struct Item {
    int type;
    std::string text;
};

// Walks from the cursor to the end reading every item.
std::vector<Item> walk(VOKFile* f) {
    std::vector<Item> items;
    for (int type; (type = vok_get_next_data(f)) != 0;)
        items.push_back({type, describe(vok_get_float_data(f), type)});
    return items;
}

// A small block: samples, eye events, messages.
Rec smallRecording(std::uint32_t t0) {
    Rec w;
    w.begin(t0).run(t0, t0 + 4);
    w.eye(SFIX, t0 + 2).msg(t0 + 4, "TRIAL_START 1");
    w.run(t0 + 5, t0 + 9).eye(EFIX, t0 + 2, t0 + 9);
    w.run(t0 + 10, t0 + 12).msg(t0 + 12, "TRIAL_END 1");
    w.end(t0 + 13).finish();
    return w;
}

// ---------------------------------------------------------------------------
// Stepping and data calls

TEST(Cursor, EmptyFileHasNoItems) {
    test::TempDir dir;
    const vokgen::VokWriter w = test::minimalRecording();
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();
    EXPECT_EQ(vok_get_element_count(f), 0u);
    EXPECT_EQ(vok_get_float_data(f), nullptr);
    EXPECT_EQ(vok_get_next_data(f), 0);
    EXPECT_EQ(vok_get_next_data(f), 0);
    EXPECT_EQ(vok_get_float_data(f), nullptr);
    EXPECT_EQ(vok_get_event_data(f), nullptr);
    EXPECT_EQ(vok_get_sample_data(f), nullptr);
    EXPECT_EQ(vok_get_recording_data(f), nullptr);
    EXPECT_EQ(vok_get_sample_close_to_time(f, 0), nullptr);
    EXPECT_EQ(f->cursor.position, 0u);
}

TEST(Cursor, DataCallReadsTheItemOfTheLastStep) {
    test::TempDir dir;
    const Rec w = smallRecording(5000);
    Opened ref = openRec(dir, w, 0);
    ASSERT_NE(ref.file, nullptr);
    const std::vector<Item> items = walk(ref.file.get());
    ASSERT_EQ(items.size(), vok_get_element_count(ref.file.get()));
    ASSERT_GT(items.size(), 20u);

    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();
    EXPECT_EQ(vok_get_float_data(f), nullptr);  // no step yet
    for (std::size_t i = 0; i + 1 < items.size(); ++i) {
        SCOPED_TRACE(i);
        gotoIndex(*f, static_cast<int>(i));
        EXPECT_EQ(vok_get_next_data(f), items[i].type);
        EXPECT_EQ(vok_get_next_data(f), items[i + 1].type);
        // Samples read after a jump may lack their recording and so their
        // velocities: compare the records without them.
        const auto withoutVelocity = [](const std::string& text) { return text.substr(0, text.find(" v")); };
        EXPECT_EQ(withoutVelocity(describe(vok_get_float_data(f), items[i + 1].type)),
                  withoutVelocity(items[i + 1].text));
    }
    // Past the end: 0, and the cursor stays.
    gotoIndex(*f, static_cast<int>(items.size() - 1));
    EXPECT_EQ(vok_get_next_data(f), items.back().type);
    const std::uint32_t atEnd = f->cursor.position;
    EXPECT_EQ(vok_get_next_data(f), 0);
    EXPECT_EQ(vok_get_next_data(f), 0);
    EXPECT_EQ(f->cursor.position, atEnd);
}

TEST(Cursor, TypedDataCallsRefuseOtherKindsAndLeaveTheCursor) {
    test::TempDir dir;
    const Rec w = smallRecording(5000);
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();
    std::vector<int> kindsSeen(3, 0);
    for (int type; (type = vok_get_next_data(f)) != 0;) {
        SCOPED_TRACE(type);
        const int kind = type == SAMPLE_TYPE ? 1 : type == RECORDING_INFO ? 2 : 0;
        ++kindsSeen[static_cast<std::size_t>(kind)];
        const std::uint32_t cursor = f->cursor.position;
        const std::string expected = describe(vok_get_float_data(f), type);
        FloatData* (*const calls[])(VOKFile*) = {vok_get_event_data, vok_get_sample_data,
                                                 vok_get_recording_data};
        for (int k = 0; k < 3; ++k) {
            FloatData* d = calls[k](f);
            if (k == kind) {
                EXPECT_EQ(describe(d, type), expected);
            } else {
                EXPECT_EQ(d, nullptr) << k;
            }
            EXPECT_EQ(f->cursor.position, cursor);
        }
        // The refused calls changed nothing: the item reads as before.
        EXPECT_EQ(describe(vok_get_float_data(f), type), expected);
    }
    EXPECT_EQ(kindsSeen, (std::vector<int>{8, 13, 2}));
}

TEST(Cursor, EveryDataCallDecodesAfresh) {
    test::TempDir dir;
    // Low times (no fixup) and times past 0x3FFFFFFF (fixup on): a second
    // read gives the same values, the shift being applied to a fresh record.
    for (std::uint32_t t0 : {5000u, 0x7FFFFFF0u}) {
        SCOPED_TRACE(t0);
        const Rec w = smallRecording(t0);
        Opened o = openRec(dir, w, 0);
        ASSERT_NE(o.file, nullptr);
        VOKFile* f = o.file.get();
        test::LogCapture quiet;
        int items = 0;
        for (int type; (type = vok_get_next_data(f)) != 0; ++items) {
            FloatData* d = vok_get_float_data(f);
            ASSERT_NE(d, nullptr);
            const std::string first = describe(d, type);
            std::memset(static_cast<void*>(d), 0x55, sizeof(FloatData));  // scribble over the buffer
            EXPECT_EQ(describe(vok_get_float_data(f), type), first);
        }
        EXPECT_EQ(items, 23);
    }
}

TEST(Cursor, ItemOfUnknownKindIsAReadError) {
    test::TempDir dir;
    Rec w;
    w.begin(1000).run(1000, 1002);
    w.beginEvent(11).fieldU32(33, 1001).endEvent();  // kept by the loop, not loadable
    w.run(1003, 1004).end(1005).finish();
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();
    std::vector<int> types;
    test::LogCapture capture;
    for (int type; (type = vok_get_next_data(f)) != 0;) {
        types.push_back(type);
        if (type != 11) {
            EXPECT_NE(vok_get_float_data(f), nullptr);
            continue;
        }
        capture.clear();
        EXPECT_EQ(vok_get_float_data(f), nullptr);
        EXPECT_EQ(capture.text(), "Read error \n");
        EXPECT_EQ(vok_get_event_data(f), nullptr);  // not of the event kind
        EXPECT_EQ(capture.text(), "Read error \n");
    }
    EXPECT_EQ(std::count(types.begin(), types.end(), 11), 1);
    EXPECT_EQ(std::count(types.begin(), types.end(), SAMPLE_TYPE), 5);
}

// ---------------------------------------------------------------------------
// Time offset fixup

TEST(Fixup, TimesBelowTheLimitAreNeverShifted) {
    test::TempDir dir;
    const Rec w = smallRecording(0x3FFF0000u);
    Opened ref = openRec(dir, w, VOK_NO_TIME_FIXUP);
    ASSERT_NE(ref.file, nullptr);
    const std::vector<Item> unshifted = walk(ref.file.get());

    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    EXPECT_LT(o.file->recording.items.largestTime, 0x3FFFFFFFu);
    test::LogCapture capture;
    const std::vector<Item> items = walk(o.file.get());
    EXPECT_TRUE(o.file->cursor.fixup.disabled);
    EXPECT_EQ(capture.text().find("fixup"), std::string::npos);
    ASSERT_EQ(items.size(), unshifted.size());
    for (std::size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i].text, unshifted[i].text) << i;
}

TEST(Fixup, LimitIsTheLargestTimeOf0x3FFFFFFF) {
    test::TempDir dir;
    for (std::uint32_t largest : {0x3FFFFFFEu, 0x3FFFFFFFu}) {
        SCOPED_TRACE(largest);
        Rec w;
        w.begin(1000).run(1000, 1003).msg(largest, "LATE").end(1004).finish();
        Opened o = openRec(dir, w, 0);
        ASSERT_NE(o.file, nullptr);
        test::LogCapture capture;
        ASSERT_EQ(vok_get_next_data(o.file.get()), RECORDING_INFO);
        const RecordingInfo* r = vok_get_recording(vok_get_float_data(o.file.get()));
        ASSERT_NE(r, nullptr);
        const bool on = largest == 0x3FFFFFFFu;
        EXPECT_EQ(r->time, on ? 0u : 1000u);
        EXPECT_EQ(capture.text(), on ? "Enabling time offset fixup\n" : "");
    }
}

// A block at 2^31 ms whose first record is a message ten milliseconds
// before the block: the first record time is t0 - 10.
constexpr std::uint32_t kHigh = 0x80000000u;
Rec highRecording() {
    Rec w;
    w.msg(kHigh - 10, "EARLY");
    w.begin(kHigh).run(kHigh, kHigh + 4);
    w.eye(SFIX, kHigh + 2).run(kHigh + 5, kHigh + 9).eye(EFIX, kHigh + 2, kHigh + 9);
    w.run(kHigh + 10, kHigh + 20).end(kHigh + 21).finish();
    return w;
}

struct Shifted {
    std::vector<int> types;
    std::vector<FloatData> records;  // message pointers not kept
    std::string log;
};

// Walks the high recording.  Items before `firstRead` are stepped over
// without reading; after the walk they are read through a jump back.
Shifted walkHigh(const test::TempDir& dir, int consistency, int firstRead) {
    const Rec w = highRecording();
    Opened o = openRec(dir, w, consistency);
    EXPECT_NE(o.file, nullptr);
    if (o.file == nullptr) return {};
    VOKFile* f = o.file.get();
    test::LogCapture capture;
    Shifted out;
    const std::size_t n = f->recording.items.index.size();
    out.types.resize(n);
    out.records.resize(n);
    auto keep = [&](std::size_t i, int type) {
        const FloatData* d = vok_get_float_data(f);
        EXPECT_NE(d, nullptr) << i;
        if (d == nullptr) return;
        out.types[i] = type;
        std::memcpy(static_cast<void*>(&out.records[i]), d, sizeof(FloatData));
        if (type != SAMPLE_TYPE && type != RECORDING_INFO) out.records[i].event.message = nullptr;
    };
    for (std::size_t i = 0; i < n; ++i) {
        const int type = vok_get_next_data(f);
        if (static_cast<int>(i) >= firstRead) keep(i, type);
    }
    for (int i = 0; i < firstRead; ++i) {
        gotoIndex(*f, i);
        keep(static_cast<std::size_t>(i), vok_get_next_data(f));
    }
    out.log = capture.text();
    return out;
}

TEST(Fixup, HighTimesAreShiftedByTheFirstRecordTime) {
    test::TempDir dir;
    const std::uint32_t first = kHigh - 10;
    const Shifted raw = walkHigh(dir, VOK_NO_TIME_FIXUP, 0);
    EXPECT_EQ(raw.log, "");
    ASSERT_EQ(raw.types.size(), 30u);
    ASSERT_EQ(raw.types[0], MESSAGEEVENT);
    EXPECT_EQ(raw.records[0].event.startTime, first);
    ASSERT_EQ(raw.types[1], RECORDING_INFO);
    ASSERT_EQ(raw.types[4], SAMPLE_TYPE);

    struct Case {
        const char* what;
        int firstRead;       // index of the first item handed out
        std::uint32_t base;  // fixup base: what recordings are shifted by
        const char* log;
    } cases[] = {
        {"message first", 0, first, "Enabling time offset fixup \n"},
        {"recording first", 1, kHigh, "Enabling time offset fixup\n"},
        {"sample first", 4, kHigh, "Enabling time offset fixup\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Shifted s = walkHigh(dir, 0, c.firstRead);
        EXPECT_EQ(s.log, c.log);  // once for the whole walk
        ASSERT_EQ(s.types, raw.types);
        for (std::size_t i = 0; i < s.types.size(); ++i) {
            SCOPED_TRACE(i);
            const FloatData& a = s.records[i];
            const FloatData& b = raw.records[i];
            switch (s.types[i]) {
                case SAMPLE_TYPE:
                    EXPECT_EQ(a.sample.time, b.sample.time - first);
                    EXPECT_EQ(a.sample.gazeX[0], b.sample.gazeX[0]);
                    EXPECT_EQ(a.sample.flags, b.sample.flags);
                    break;
                case RECORDING_INFO:
                    EXPECT_EQ(a.recording.time, b.recording.time - c.base);
                    EXPECT_EQ(a.recording.state, b.recording.state);
                    break;
                default:
                    // Every time field of an event, the unfilled `time` too.
                    EXPECT_EQ(a.event.time, b.event.time - first);
                    EXPECT_EQ(a.event.startTime, b.event.startTime - first);
                    EXPECT_EQ(a.event.endTime, b.event.endTime - first);
                    EXPECT_EQ(a.event.type, b.event.type);
                    break;
            }
        }
        EXPECT_EQ(s.records[4].sample.time, 10u);
        EXPECT_EQ(s.records.back().recording.time, kHigh + 21 - c.base);
    }
}

TEST(Fixup, ConsistencyBit8TurnsItOff) {
    test::TempDir dir;
    for (int consistency : {VOK_NO_TIME_FIXUP, VOK_NO_TIME_FIXUP | 1, VOK_NO_TIME_FIXUP | 2}) {
        SCOPED_TRACE(consistency);
        const Shifted s = walkHigh(dir, consistency, 0);
        EXPECT_EQ(s.log.find("fixup"), std::string::npos);
        ASSERT_GE(s.types.size(), 5u);
        EXPECT_EQ(s.records[0].event.startTime, kHigh - 10);
        EXPECT_EQ(s.records[1].recording.time, kHigh);
        EXPECT_EQ(s.records[4].sample.time, kHigh);
    }
}

// ---------------------------------------------------------------------------
// Sample by time

TEST(SampleByTime, FindsTheEvenKeySampleOfASharedMillisecond) {
    test::TempDir dir;
    Rec w;
    w.begin(1000, 2000.0);
    for (std::uint32_t t = 1000; t < 1010; ++t) w.at(t, 1).at(t, 2);
    w.end(1010).finish();
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    test::LogCapture quiet;  // no current recording: a warning per sample
    for (std::uint32_t t = 1000; t < 1010; ++t) {
        const Sample* s = vok_get_sample_close_to_time(o.file.get(), t);
        ASSERT_NE(s, nullptr) << t;
        EXPECT_EQ(s->time, t);
        EXPECT_EQ(s->gazeY[0], 1.0f) << t;
        EXPECT_EQ(s->flags & VOK_SAMPLE_HALFMS, 0);
    }
}

TEST(SampleByTime, NullWithoutASampleOfThatTime) {
    test::TempDir dir;
    Rec w;
    w.begin(1000).run(1000, 1010).msg(1012, "ONLY_AN_EVENT").run(1020, 1030).end(1031).finish();
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    test::LogCapture quiet;  // no current recording: a warning per sample
    for (std::uint32_t t : {0u, 999u, 1011u, 1012u, 1015u, 1031u, 1032u, 0xFFFFFFFFu}) {
        EXPECT_EQ(vok_get_sample_close_to_time(o.file.get(), t), nullptr) << t;
    }
    for (std::uint32_t t : {1000u, 1010u, 1020u, 1030u}) {
        const Sample* s = vok_get_sample_close_to_time(o.file.get(), t);
        ASSERT_NE(s, nullptr) << t;
        EXPECT_EQ(s->time, t);
    }
}

TEST(SampleByTime, FindsTheSampleAtIndexPositionZero) {
    test::TempDir dir;
    Rec w;  // samples without a block start: the first item is a sample
    w.run(1000, 1005).finish();
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    ASSERT_EQ(itemType(o.file->recording.items.index[0]), SAMPLE_TYPE);
    test::LogCapture quiet;  // no recording: a warning per sample read
    for (std::uint32_t t = 1000; t <= 1005; ++t) {
        const Sample* s = vok_get_sample_close_to_time(o.file.get(), t);
        ASSERT_NE(s, nullptr) << t;
        EXPECT_EQ(s->time, t);
    }
}

TEST(SampleByTime, WorksPastTwoToThe31Milliseconds) {
    test::TempDir dir;
    const Rec w = highRecording();
    for (int consistency : {VOK_NO_TIME_FIXUP, 0}) {
        SCOPED_TRACE(consistency);
        Opened o = openRec(dir, w, consistency);
        ASSERT_NE(o.file, nullptr);
        test::LogCapture capture;
        for (std::uint32_t t = kHigh; t <= kHigh + 20; ++t) {
            const Sample* s = vok_get_sample_close_to_time(o.file.get(), t);
            ASSERT_NE(s, nullptr) << t;
            EXPECT_EQ(s->time, consistency == 0 ? t - (kHigh - 10) : t);
            EXPECT_EQ(s->gazeX[0], static_cast<float>(t % 20000));
        }
        // Decided once, on the first sample handed out; the searches run
        // without a current recording and warn for each sample.
        const std::string log = capture.text();
        const std::size_t enabling = log.find("Enabling time offset fixup\n");
        EXPECT_EQ(enabling != std::string::npos, consistency == 0) << log;
        if (enabling != std::string::npos) {
            EXPECT_EQ(log.find("fixup", enabling + 27), std::string::npos);  // once
        }
        EXPECT_EQ(vok_get_sample_close_to_time(o.file.get(), kHigh - 1), nullptr);
    }
}

TEST(SampleByTime, LeavesTheCursorAndTheCurrentItemAlone) {
    test::TempDir dir;
    const Rec w = smallRecording(5000);
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();
    int type = 0;
    while ((type = vok_get_next_data(f)) != 0 && type != SFIX) {
    }
    ASSERT_EQ(type, SFIX);
    const std::string current = describe(vok_get_float_data(f), type);
    const std::uint32_t cursor = f->cursor.position;
    const int nextType = itemType(f->recording.items.index[cursor]);

    const Sample* s = vok_get_sample_close_to_time(f, 5010);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->time, 5010u);
    EXPECT_EQ(f->cursor.position, cursor);
    EXPECT_EQ(describe(vok_get_float_data(f), type), current);
    EXPECT_EQ(vok_get_next_data(f), nextType);
}

// A sample followed by an end event of the same key (the sample sorts
// first) must be found too.
TEST(SampleByTime, FindsASampleSharingItsKeyWithAnEndEvent) {
    test::TempDir dir;
    Rec w;
    w.begin(1000).run(1000, 1008).eye(EFIX, 1000, 1008).run(1009, 1012).end(1013).finish();
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    test::LogCapture quiet;  // no current recording: a warning per sample
    for (std::uint32_t t = 1000; t <= 1012; ++t) {
        const Sample* s = vok_get_sample_close_to_time(o.file.get(), t);
        ASSERT_NE(s, nullptr) << t;
        EXPECT_EQ(s->time, t);
    }
}

// ---------------------------------------------------------------------------
// Repairs through the cursor

// A block with a fixation whose end record states another start time, and a
// saccade with a blink inside whose end record does too.
Rec mendRecording() {
    Rec w;
    w.begin(1000).run(1000, 1012);
    w.eye(SFIX, 1010).run(1013, 1050).eye(EFIX, 1015, 1050);
    w.run(1051, 1062).eye(SSACC, 1060);
    w.run(1063, 1067).eye(SBLINK, 1065);
    w.run(1068, 1080).eye(EBLINK, 1065, 1080);
    w.run(1081, 1090).eye(ESACC, 1062, 1090);
    w.run(1091, 1096).eye(SSACC, 1092).run(1097, 1098).eye(ESACC, 1094, 1098);
    w.run(1099, 1100).end(1101).finish();
    return w;
}

// Steps to the n-th item of the type (0 for the first); false at the end.
bool stepToNth(VOKFile* f, int type, int n = 0) {
    for (int t; (t = vok_get_next_data(f)) != 0;) {
        if (t == type && n-- == 0) return true;
    }
    return false;
}

TEST(RepairThroughTheCursor, EndEventsTakeTheRememberedStart) {
    test::TempDir dir;
    const Rec w = mendRecording();
    for (int level : {1, 2}) {
        SCOPED_TRACE(level);
        const bool repair = level == 2;
        Opened o = openRec(dir, w, level);
        ASSERT_NE(o.file, nullptr);
        VOKFile* f = o.file.get();
        ASSERT_TRUE(stepToNth(f, EFIX));
        const Event* e = vok_get_event(vok_get_float_data(f));
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->startTime, repair ? 1010u : 1015u);
        EXPECT_EQ(e->endTime, 1050u);

        // The saccade with a blink inside: its start time comes from the
        // saccade start that the cursor passed; the memory is then emptied,
        // so the second read gives the stored time.
        ASSERT_TRUE(stepToNth(f, ESACC));
        e = vok_get_event(vok_get_float_data(f));
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->startTime, repair ? 1060u : 1062u);
        e = vok_get_event(vok_get_float_data(f));
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->startTime, 1062u);

        // A saccade without a blink keeps its stored start.
        ASSERT_TRUE(stepToNth(f, ESACC));
        e = vok_get_event(vok_get_float_data(f));
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->startTime, 1094u);
    }
}

TEST(RepairThroughTheCursor, FixationEndAfterAJumpKeepsItsStoredStart) {
    test::TempDir dir;
    const Rec w = mendRecording();
    Opened o = openRec(dir, w, 2);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();
    int pos = -1;
    for (std::size_t i = 0; i < f->recording.items.index.size(); ++i) {
        if (itemType(f->recording.items.index[i]) == EFIX) pos = static_cast<int>(i);
    }
    ASSERT_GE(pos, 0);
    gotoIndex(*f, pos);
    ASSERT_EQ(vok_get_next_data(f), EFIX);
    const Event* e = vok_get_event(vok_get_float_data(f));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->startTime, 1015u);

    // Walked from the start, the fixation start is remembered on the way,
    // even without reading it.
    gotoIndex(*f, 0);
    ASSERT_TRUE(stepToNth(f, EFIX));
    e = vok_get_event(vok_get_float_data(f));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->startTime, 1010u);
}

// ---------------------------------------------------------------------------
// Record kinds

TEST(RecordKind, LibraryRecordsAreRecognisedByKind) {
    test::TempDir dir;
    const Rec w = smallRecording(5000);
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();
    int n = 0;
    for (int type; (type = vok_get_next_data(f)) != 0; ++n) {
        SCOPED_TRACE(type);
        FloatData* d = vok_get_float_data(f);
        ASSERT_NE(d, nullptr);
        // A sample's and a recording's bytes where an event keeps its type
        // hold a float (pupil position, sample rate): the kind is not read
        // from there.
        EXPECT_EQ(vok_get_event(d), type != SAMPLE_TYPE && type != RECORDING_INFO ? &d->event : nullptr);
        EXPECT_EQ(vok_get_sample(d), type == SAMPLE_TYPE ? &d->sample : nullptr);
        EXPECT_EQ(vok_get_recording(d), type == RECORDING_INFO ? &d->recording : nullptr);
        // A copy the client keeps is recognised the same way.
        FloatData copy;
        std::memcpy(static_cast<void*>(&copy), d, sizeof copy);
        EXPECT_EQ(vok_get_sample(&copy) != nullptr, type == SAMPLE_TYPE);
    }
    EXPECT_EQ(n, 23);
}

TEST(RecordKind, ClientBuiltRecordsGoByTheirTypeField) {
    struct Case {
        int type;
        bool event, sample, recording;
    } cases[] = {
        {SFIX, true, false, false},        {MESSAGEEVENT, true, false, false},   {0, true, false, false},
        {SAMPLE_TYPE, false, true, false}, {RECORDING_INFO, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        FloatData d;
        std::memset(static_cast<void*>(&d), 0, sizeof d);
        d.event.type = static_cast<std::int16_t>(c.type);
        EXPECT_EQ(vok_get_event(&d), c.event ? &d.event : nullptr);
        EXPECT_EQ(vok_get_sample(&d), c.sample ? &d.sample : nullptr);
        EXPECT_EQ(vok_get_recording(&d), c.recording ? &d.recording : nullptr);
    }
    EXPECT_EQ(vok_get_event(nullptr), nullptr);
    EXPECT_EQ(vok_get_sample(nullptr), nullptr);
    EXPECT_EQ(vok_get_recording(nullptr), nullptr);
}

}  // namespace
}  // namespace vok
