// The extra message file: choosing it, loading (synchronisation lines, the
// time conversion, lines left out, long lines, "Quit logger"), the message
// records, the merged walk of the cursor, the element count.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ExtraLogWriter.h"
#include "load/ExtraMessages.h"
#include "nav/VOKFile.h"
#include "nav/Cursor.h"
#include "support/BlockRecording.h"
#include "support/TestSupport.h"

namespace vok {
namespace {

using Recording = test::BlockRecording;

using FilePtr = std::unique_ptr<VOKFile, test::FileCloser>;

// Puts the process-wide name back to "none" at the end of a test.
struct NameReset {
    ~NameReset() { vok_set_extra_message_file(nullptr); }
};

std::string logPath(const test::TempDir& dir) { return (dir.path() / "mb_messages.log").string(); }

ExtraMessages load(const test::TempDir& dir, const vokgen::ExtraLogWriter& log, std::string* out = nullptr) {
    log.writeFile(logPath(dir));
    ExtraMessages extra;
    testing::internal::CaptureStdout();
    loadExtraMessages(extra, logPath(dir));
    const std::string printed = testing::internal::GetCapturedStdout();
    if (out != nullptr) *out = printed;
    return extra;
}

std::vector<std::uint64_t> times(const ExtraMessages& extra) {
    std::vector<std::uint64_t> t;
    for (const ExtraEntry& e : extra.entries) t.push_back(e.time);
    return t;
}

// Opens the recording with the log beside it (loadEvents 3: all events and
// the extra message file).
FilePtr openWithLog(const test::TempDir& dir, Recording& r, const vokgen::ExtraLogWriter* log,
                    std::string* printed = nullptr, int loadEvents = 3) {
    vok_set_extra_message_file(nullptr);
    if (log != nullptr) log->writeFile(logPath(dir));
    int err = 1;
    testing::internal::CaptureStdout();
    VOKFile* f = vok_open_file(dir.write("r.vok", r.done()).c_str(), 0, loadEvents, 1, &err);
    const std::string out = testing::internal::GetCapturedStdout();
    if (printed != nullptr) *printed = out;
    EXPECT_EQ(err, 0);
    return FilePtr(f);
}

TEST(ExtraMessages, LinesAreAlignedToTrackerTime) {
    test::TempDir dir;
    vokgen::ExtraLogWriter log;
    log.message(10, "before any synchronisation: ignored").sync(1000.0, 5000.0, 7).message(1010.5, "hello");
    log.sync(2000.0, 9000.0).message(2005, "later").quit(2010).message(2020, "after the end");
    ExtraMessages extra = load(dir, log);
    EXPECT_EQ(times(extra), (std::vector<std::uint64_t>{5000, 5011, 9000, 9005}));
    EXPECT_EQ(extra.count, 4);
    EXPECT_TRUE(extra.present);
    ASSERT_EQ(extra.syncPoints.size(), 2u);
    EXPECT_EQ(extra.syncPoints[0].messageIndex, 0u);
    EXPECT_EQ(extra.syncPoints[0].third, 7);
    EXPECT_EQ(extra.syncPoints[0].localTime, 1000.0);
    EXPECT_EQ(extra.syncPoints[0].trackerTime, 5000.0);
    EXPECT_EQ(extra.syncPoints[1].messageIndex, 2u);

    // The text is the time followed by the rest of the line after its number.
    ASSERT_TRUE(readExtraText(extra, 1));
    EXPECT_EQ(extra.text, "5011 hello\n");
    ASSERT_TRUE(readExtraText(extra, 0));
    EXPECT_EQ(extra.text, "5000 TRACKER_TIME 7 5000\n");
    EXPECT_FALSE(readExtraText(extra, 4));
}

TEST(ExtraMessages, WithoutQuitLoggerCountedButNotMerged) {
    test::TempDir dir;
    vokgen::ExtraLogWriter log;
    log.sync(1000.0, 5000.0).message(1010.5, "hello");
    ExtraMessages extra = load(dir, log);
    EXPECT_EQ(extra.count, 2);
    EXPECT_FALSE(extra.present);
}

TEST(ExtraMessages, QuitWithoutSynchronisationGivesNothing) {
    test::TempDir dir;
    vokgen::ExtraLogWriter log;
    log.message(1000, "a").quit(1001).sync(1002, 5000).message(1003, "b");
    ExtraMessages extra = load(dir, log);
    // "Quit logger" before any synchronisation line does not end the log.
    EXPECT_EQ(times(extra), (std::vector<std::uint64_t>{5000, 5001}));
    EXPECT_FALSE(extra.present) << "no quit line after the synchronisation";

    vokgen::ExtraLogWriter none;
    none.message(1000, "a").quit(1001);
    extra = load(dir, none);
    EXPECT_EQ(extra.count, 0);
    EXPECT_FALSE(extra.present);
}

TEST(ExtraMessages, MalformedSynchronisationLines) {
    test::TempDir dir;
    struct Case {
        const char* line;
        const char* why;
    };
    for (const Case& c : std::vector<Case>{{"1000 TRACKER_TIME", "fields missing"},
                                           {"TRACKER_TIME 1000 0 5000", "no leading number"},
                                           {"1000 TRACKER_TIME x 5000", "third field not a number"},
                                           {"1000 TRACKER_TIME 0 5e12", "tracker time beyond 32 bits"},
                                           {"1000 TRACKER_TIME 0 nan", "tracker time not a number"},
                                           {"inf TRACKER_TIME 0 5000", "local time infinite"}}) {
        vokgen::ExtraLogWriter log;
        // The malformed line starts the taken lines, but without a
        // synchronisation point nothing is timed until a good one comes.
        log.line(c.line).message(1001, "untimed").sync(2000, 7000).message(2001, "timed").quit(2002);
        std::string printed;
        ExtraMessages extra = load(dir, log, &printed);
        EXPECT_EQ(printed, "TRACKER_TIME format not right \n") << c.why;
        EXPECT_EQ(times(extra), (std::vector<std::uint64_t>{7000, 7001})) << c.why;
        EXPECT_TRUE(extra.present) << c.why;

        vokgen::ExtraLogWriter alone;
        alone.line(c.line).message(1001, "untimed").quit(1002).sync(2000, 7000);
        extra = load(dir, alone, &printed);
        EXPECT_EQ(extra.count, 0) << c.why;
        EXPECT_FALSE(extra.present) << "the quit line ends the log; no synchronisation point: " << c.why;
    }
    // A word as long as the line is read without overflowing anything.
    vokgen::ExtraLogWriter log;
    log.line("1000 TRACKER_TIME" + std::string(5000, 'W') + " 0 5000").quit(1001);
    std::string printed;
    ExtraMessages extra = load(dir, log, &printed);
    EXPECT_EQ(printed, "TRACKER_TIME format not right \n");
}

TEST(ExtraMessages, LinesWithoutAUsableTimeAreLeftOut) {
    test::TempDir dir;
    vokgen::ExtraLogWriter log;
    log.sync(1000.0, 5000.0);
    log.line("no number here").line("").line("   ").line("nan not a time").line("inf neither");
    log.message(-5000, "before the tracker clock started").message(1e30, "far beyond its end");
    log.message(1001, "kept").message(-4000, "time 0 is kept").quit(1002);
    ExtraMessages extra = load(dir, log);
    EXPECT_EQ(times(extra), (std::vector<std::uint64_t>{5000, 5001, 0}));
    ASSERT_TRUE(readExtraText(extra, 1));
    EXPECT_EQ(extra.text, "5001 kept\n");
}

TEST(ExtraMessages, LongLinesStayOneLine) {
    test::TempDir dir;
    vokgen::ExtraLogWriter log;
    const std::string longText(10000, 'x');
    log.sync(1000.0, 5000.0).message(1001, longText).message(1002, "short").quit(1003);
    ExtraMessages extra = load(dir, log);
    EXPECT_EQ(times(extra), (std::vector<std::uint64_t>{5000, 5001, 5002}));

    FloatData* d = buildExtraRecord(extra, 1);
    ASSERT_NE(d, nullptr);
    ASSERT_NE(d->event.message, nullptr);
    EXPECT_EQ(d->event.message->length, ExtraMessages::kMaxRecordText)
        << "the length is what the record holds";
    EXPECT_EQ(std::string(d->event.message->c), " " + std::string(259, 'x'));
    EXPECT_EQ(extra.text.size(), std::string("5001").size() + ExtraMessages::kMaxLine);

    d = buildExtraRecord(extra, 2);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->event.message->length, 7);
    EXPECT_STREQ(d->event.message->c, " short\n");
}

TEST(ExtraMessages, RecordOfAnEntry) {
    test::TempDir dir;
    vokgen::ExtraLogWriter log;
    log.sync(1000.0, 5000.0).message(1010.5, "hello").quit(1020);
    ExtraMessages extra = load(dir, log);
    FloatData* d = buildExtraRecord(extra, 1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->event.type, MESSAGEEVENT);
    EXPECT_EQ(d->event.startTime, 5011u);
    EXPECT_EQ(d->event.endTime, 0u);
    EXPECT_EQ(d->event.read, 0);
    EXPECT_EQ(d->event.message->length, 7);
    EXPECT_STREQ(d->event.message->c, " hello\n");
    EXPECT_EQ(extra.text, "5011 hello\n");
    EXPECT_EQ(vok_get_event(d), &d->event);
    EXPECT_EQ(vok_get_sample(d), nullptr);
    EXPECT_EQ(buildExtraRecord(extra, 3), nullptr);
}

// A log written on Windows ends its lines in carriage return and line feed.
// The offsets of the lines stay exact, and the texts end as the platform's
// text mode reads them: in a bare line feed on Windows, unchanged elsewhere.
TEST(ExtraMessages, LinesEndingInCarriageReturnAndLineFeed) {
    test::TempDir dir;
    vokgen::ExtraLogWriter log;
    log.raw("1000 TRACKER_TIME 0 5000\r\n1010.5 hello\r\n1012 second line\r\n1020 Quit logger\r\n");
    ExtraMessages extra = load(dir, log);
    EXPECT_EQ(times(extra), (std::vector<std::uint64_t>{5000, 5011, 5012}));
    const std::string end = test::kWindows ? "\n" : "\r\n";
    FloatData* d = buildExtraRecord(extra, 1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(std::string(d->event.message->c), " hello" + end);
    EXPECT_EQ(extra.text, "5011 hello" + end);
    d = buildExtraRecord(extra, 2);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(std::string(d->event.message->c), " second line" + end);
    EXPECT_EQ(d->event.message->length, static_cast<int>(12 + end.size()));
}

TEST(ExtraMessages, ChoosingTheFile) {
    NameReset reset;
    vok_set_extra_message_file(nullptr);
    EXPECT_EQ(chooseExtraMessageFile("C:\\data\\rec.vok"), "C:\\data\\mb_messages.log");
    EXPECT_EQ(chooseExtraMessageFile("rec.vok"), "mb_messages.log");
    EXPECT_EQ(chooseExtraMessageFile(nullptr), "mb_messages.log");
#if !defined(_WIN32)
    EXPECT_EQ(chooseExtraMessageFile("/data/x/rec.vok"), "/data/x/mb_messages.log");
    EXPECT_EQ(chooseExtraMessageFile("a\\b/rec.vok"), "a\\b/mb_messages.log");
#else
    EXPECT_EQ(chooseExtraMessageFile("/data/x/rec.vok"), "mb_messages.log");
#endif
    EXPECT_EQ(vok_set_extra_message_file("elsewhere.log"), 0);
    EXPECT_EQ(chooseExtraMessageFile("C:\\data\\rec.vok"), "elsewhere.log");
    const std::string longName(100000, 'n');
    EXPECT_EQ(vok_set_extra_message_file(longName.c_str()), 0);
    EXPECT_EQ(chooseExtraMessageFile("rec.vok"), longName);
    EXPECT_EQ(vok_set_extra_message_file(nullptr), 0) << "NULL clears the name";
    EXPECT_FALSE(extraMessageFileName().has_value());
    EXPECT_EQ(chooseExtraMessageFile("C:\\data\\rec.vok"), "C:\\data\\mb_messages.log");
}

TEST(ExtraMessages, OpeningReadsTheLogBesideTheRecording) {
    NameReset reset;
    test::TempDir dir;
    Recording r;
    r.blockStart(4990).sample(4990).sample(5000).blockEnd(5010);
    vokgen::ExtraLogWriter log;
    log.sync(1000.0, 5000.0).message(1001, "one").message(1002, "two");  // no quit line
    std::string printed;
    FilePtr f = openWithLog(dir, r, &log, &printed);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(printed, "loadEvents = 3\nLog file name " + logPath(dir) + " \n");
    EXPECT_EQ(f->recording.extra.count, 3);
    EXPECT_EQ(vok_get_element_count(f.get()), f->recording.items.index.size() + 3);
    // Counted but not merged: the walk returns the list items only.
    std::vector<int> codes;
    for (int c; (c = vok_get_next_data(f.get())) != 0;) codes.push_back(c);
    EXPECT_EQ(codes, (std::vector<int>{RECORDING_INFO, STARTSAMPLES, SAMPLE_TYPE, SAMPLE_TYPE, ENDSAMPLES,
                                       RECORDING_INFO}));

    // Without bit 1 of loadEvents no log is read.
    test::TempDir other;
    Recording r2;
    r2.blockStart(4990).sample(4990).blockEnd(5010);
    f = openWithLog(other, r2, &log, &printed, 1);
    EXPECT_EQ(printed, "loadEvents = 1\n");
    EXPECT_EQ(f->recording.extra.count, -1);
    EXPECT_EQ(vok_get_element_count(f.get()), f->recording.items.index.size());
}

TEST(ExtraMessages, TheNamesThatLoadNothing) {
    NameReset reset;
    test::TempDir dir;
    Recording r;
    r.blockStart(4990).sample(4990).blockEnd(5010);
    vokgen::ExtraLogWriter log;
    log.sync(1000.0, 5000.0).message(1001, "one").quit(1002);
    log.writeFile(logPath(dir));
    const std::string path = dir.write("r.vok", r.done());
    for (const std::string& name :
         {std::string(), (dir.path() / "missing.log").string(), std::string(5000, 'm')}) {
        vok_set_extra_message_file(name.c_str());
        int err = 1;
        testing::internal::CaptureStdout();
        FilePtr f(vok_open_file(path.c_str(), 0, 3, 1, &err));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "loadEvents = 3\nLog file name " + name + " \n");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->recording.extra.count, -1);
        EXPECT_EQ(vok_get_element_count(f.get()), f->recording.items.index.size());
    }
    // NULL brings the file beside the recording back.
    vok_set_extra_message_file(nullptr);
    int err = 1;
    testing::internal::CaptureStdout();
    FilePtr f(vok_open_file(path.c_str(), 0, 3, 1, &err));
    testing::internal::GetCapturedStdout();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->recording.extra.count, 2);
    EXPECT_TRUE(f->recording.extra.present);
}

struct Step {
    int code;
    std::uint32_t time;
    std::string text;  // message text, empty for other items
    bool operator==(const Step&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
    return os << "{" << s.code << ", " << s.time << ", \"" << s.text << "\"}";
}

std::vector<Step> walk(VOKFile* f) {
    std::vector<Step> steps;
    for (int guard = 0; guard < 1000; ++guard) {
        const int code = vok_get_next_data(f);
        if (code == 0) break;
        FloatData* d = vok_get_float_data(f);
        Step s{code, 0, ""};
        if (d != nullptr) {
            if (code == SAMPLE_TYPE) {
                s.time = d->sample.time;
            } else if (code == RECORDING_INFO) {
                s.time = d->recording.time;
            } else {
                s.time = d->event.startTime;
                if (d->event.message != nullptr) s.text = d->event.message->c;
            }
        }
        steps.push_back(s);
    }
    EXPECT_EQ(vok_get_next_data(f), 0) << "the end repeats";
    return steps;
}

TEST(ExtraMessages, MergedByTime) {
    test::TempDir dir;
    Recording r;
    r.blockStart(4990).sample(4990).sample(5000).sample(5010).sample(5020).message(5025, "listed");
    r.sample(5030).blockEnd(5050);
    vokgen::ExtraLogWriter log;
    log.sync(1000.0, 5000.0).message(1003, "three").message(1025, "same time").message(1100, "after all");
    log.quit(1200);
    FilePtr f = openWithLog(dir, r, &log);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(vok_get_element_count(f.get()), f->recording.items.index.size() + 4);
    const std::vector<Step> expected{{RECORDING_INFO, 4990, ""},
                                     {STARTSAMPLES, 4990, ""},
                                     {SAMPLE_TYPE, 4990, ""},
                                     // The log's own synchronisation line at 5000 is dropped.
                                     {SAMPLE_TYPE, 5000, ""},
                                     {MESSAGEEVENT, 5003, " three\n"},
                                     {SAMPLE_TYPE, 5010, ""},
                                     {SAMPLE_TYPE, 5020, ""},
                                     // Within 2 ms and not later: the extra message first.
                                     {MESSAGEEVENT, 5025, " same time\n"},
                                     {MESSAGEEVENT, 5025, "listed"},
                                     {SAMPLE_TYPE, 5030, ""},
                                     {ENDSAMPLES, 5050, ""},
                                     {RECORDING_INFO, 5050, ""},
                                     // After the list is exhausted, the rest one per step.
                                     {MESSAGEEVENT, 5100, " after all\n"}};
    EXPECT_EQ(walk(f.get()), expected);
}

TEST(ExtraMessages, SynchronisationLinesOnBothSidesAreDropped) {
    test::TempDir dir;
    Recording r;
    r.blockStart(4990).sample(4990).message(5001, "TRACKER_TIME a").sample(5020);
    r.message(5030, "TRACKER_TIME b").sample(5040).blockEnd(5050);
    vokgen::ExtraLogWriter log;
    log.sync(1000.0, 5000.0).message(1031, "near").quit(1200);
    FilePtr f = openWithLog(dir, r, &log);
    ASSERT_NE(f, nullptr);
    const std::vector<Step> expected{
        {RECORDING_INFO, 4990, ""},
        {STARTSAMPLES, 4990, ""},
        {SAMPLE_TYPE, 4990, ""},
        // Both synchronisation lines at 5000/5001 are gone.
        {SAMPLE_TYPE, 5020, ""},
        // The listed one at 5030 goes when a later extra message lies within 2 ms.
        {MESSAGEEVENT, 5031, " near\n"},
        {SAMPLE_TYPE, 5040, ""},
        {ENDSAMPLES, 5050, ""},
        {RECORDING_INFO, 5050, ""}};
    EXPECT_EQ(walk(f.get()), expected);
}

TEST(ExtraMessages, DataCallsOnAnExtraMessage) {
    test::TempDir dir;
    Recording r;
    r.blockStart(4990).sample(4990).sample(5000).sample(5010).blockEnd(5050);
    vokgen::ExtraLogWriter log;
    log.sync(1000.0, 3000.0).message(1001, "early").message(3005, "after a sample").quit(1200);
    FilePtr f = openWithLog(dir, r, &log);
    ASSERT_NE(f, nullptr);
    test::LogCapture capture;

    // Before the first list item (cursor 0): a message event all the same.
    ASSERT_EQ(vok_get_next_data(f.get()), MESSAGEEVENT);
    EXPECT_EQ(f->cursor.position, 0u);
    FloatData* d = vok_get_float_data(f.get());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->event.startTime, 3000u);
    EXPECT_STREQ(d->event.message->c, " TRACKER_TIME 0 3000\n");
    EXPECT_EQ(vok_get_event_data(f.get()), d);
    EXPECT_EQ(vok_get_sample_data(f.get()), nullptr);
    EXPECT_EQ(vok_get_recording_data(f.get()), nullptr);
    ASSERT_EQ(vok_get_next_data(f.get()), MESSAGEEVENT);
    EXPECT_STREQ(vok_get_float_data(f.get())->event.message->c, " early\n");

    // After a sample: the record is still the message, not a sample.
    for (int i = 0; i < 3; ++i) vok_get_next_data(f.get());
    ASSERT_EQ(currentItemType(*f), SAMPLE_TYPE);
    ASSERT_EQ(vok_get_next_data(f.get()), SAMPLE_TYPE);
    ASSERT_EQ(vok_get_next_data(f.get()), MESSAGEEVENT);
    EXPECT_EQ(vok_get_sample_data(f.get()), nullptr);
    d = vok_get_event_data(f.get());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->event.startTime, 5005u);
    // Asked again, the same record.
    d = vok_get_float_data(f.get());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->event.startTime, 5005u);
    EXPECT_STREQ(d->event.message->c, " after a sample\n");
    // The next step reads the list item again.
    ASSERT_EQ(vok_get_next_data(f.get()), SAMPLE_TYPE);
    EXPECT_EQ(vok_get_float_data(f.get())->sample.time, 5010u);
    EXPECT_EQ(capture.text(), "");
}

TEST(ExtraMessages, TimeOffsetFixupOnAnExtraMessage) {
    // Times above 0x3FFFFFFF switch the fixup on; the first record handed out
    // is an extra message before the first list item.
    const std::uint32_t base = 0x40000000u;
    test::TempDir dir;
    Recording r;
    r.blockStart(base + 100).sample(base + 100).blockEnd(base + 200);
    vokgen::ExtraLogWriter log;
    log.sync(0.0, static_cast<double>(base + 50)).message(10, "early").quit(20);
    FilePtr f = openWithLog(dir, r, &log);
    ASSERT_NE(f, nullptr);
    test::LogCapture capture;
    ASSERT_EQ(vok_get_next_data(f.get()), MESSAGEEVENT);
    FloatData* d = vok_get_float_data(f.get());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(capture.text(), "Enabling time offset fixup \n");
    EXPECT_EQ(d->event.startTime, static_cast<std::uint32_t>(base + 50 - f->recording.items.firstRecordTime));
    // Asked again: fixed up once, from a fresh record.
    d = vok_get_float_data(f.get());
    EXPECT_EQ(d->event.startTime, static_cast<std::uint32_t>(base + 50 - f->recording.items.firstRecordTime));
}

TEST(ExtraMessages, SetNameAcceptsNull) {
    NameReset reset;
    EXPECT_EQ(vok_set_extra_message_file(nullptr), 0);
    EXPECT_EQ(vok_set_extra_message_file(nullptr), 0);
    EXPECT_FALSE(extraMessageFileName().has_value());
}

}  // namespace
}  // namespace vok
