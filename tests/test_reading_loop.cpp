// The reading loop seen through a whole open: time keys, gap filling, the
// merging of block boundary records, the load options, tolerant and strict
// reading at a damaged tail, and the file facts it records.  Recordings are
// written with the writer; the results are read from the file object's
// index and recording list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
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

constexpr int kTolerant = VOK_TOLERANT_READING;
// Tolerant reading steps over the end word and reads one more tag, which
// finds the end of the file: every tolerant open of a complete file ends
// its log with these lines.
const std::string kTolerantTail =
    "error reading vok file 7a r = 0 \n"
    "Error reading items End of file Exception \n";

// A recording written record by record.  Samples carry the left eye's gaze
// with the time in it, so each one can be told apart.
class Rec : public vokgen::VokWriter {
public:
    Rec() {
        magic();
        standardPreamble(2, 4);
        endPreamble();
    }
    Rec& samplesStart(std::uint32_t time, double rate = 1000.0, std::uint8_t parsedBy = 0,
                      std::uint16_t flags = 0) {
        startSamples(block(time, rate, parsedBy, flags));
        return *this;
    }
    Rec& eventsStart(std::uint32_t time, double rate = 1000.0, std::uint8_t parsedBy = 0) {
        startEvents(block(time, rate, parsedBy, 0));
        return *this;
    }
    // A full-time sample; extra flag bits add groups (input, head data).
    Rec& at(std::uint32_t time, std::uint16_t extraFlags = 0, std::uint8_t headDataType = 0,
            std::uint16_t inputWord = 0) {
        SampleSpec s;
        s.flags = static_cast<std::uint16_t>(VOK_SAMPLE_LEFT | VOK_SAMPLE_GAZE | extraFlags);
        s.time = time;
        s.timeForm = TimeForm::Full;
        s.gazeX[0] = static_cast<std::int16_t>(time % 30000);
        s.gazeY[0] = 7;
        s.headDataType = headDataType;
        s.input = inputWord;
        sample(s);
        return *this;
    }
    Rec& samplesAt(std::initializer_list<std::uint32_t> times) {
        for (std::uint32_t t : times) at(t);
        return *this;
    }
    Rec& finish() {
        endOfRecords();
        return *this;
    }
    // The writer's event calls, returning this class for chaining.
    Rec& endSamples(std::uint32_t t) {
        VokWriter::endSamples(t);
        return *this;
    }
    Rec& endEvents(std::uint32_t t) {
        VokWriter::endEvents(t);
        return *this;
    }
    Rec& message(std::uint32_t t, std::string_view text) {
        VokWriter::message(t, text);
        return *this;
    }
    Rec& input(std::uint32_t t, std::uint16_t word) {
        VokWriter::input(t, word);
        return *this;
    }
    Rec& button(std::uint32_t t, std::uint16_t word) {
        VokWriter::button(t, word);
        return *this;
    }
    Rec& fixationStart(const vokgen::EyeEventSpec& e) {
        VokWriter::fixationStart(e);
        return *this;
    }
    Rec& fixationEnd(const vokgen::EyeEventSpec& e) {
        VokWriter::fixationEnd(e);
        return *this;
    }

private:
    static BlockStartSpec block(std::uint32_t time, double rate, std::uint8_t parsedBy, std::uint16_t flags) {
        BlockStartSpec b;
        b.time = time;
        b.sampleRate = rate;
        b.eye = Eye::Left;
        b.parsedBy = parsedBy;
        b.flags = flags;
        return b;
    }
};

struct Opened {
    FileHandle file;
    int err = 99;
    std::string log;
};

Opened openRec(const test::TempDir& dir, const vokgen::VokWriter& w, int consistency, int loadEvents = 1,
               int loadSamples = 1) {
    static int counter = 0;
    const std::string path = dir.write("r" + std::to_string(counter++) + ".vok", w);
    test::LogCapture capture;
    Opened o;
    o.file.reset(vok_open_file(path.c_str(), consistency, loadEvents, loadSamples, &o.err));
    o.log = capture.text();
    return o;
}

std::vector<std::uint64_t> sampleKeys(const VOKFile& f) {
    std::vector<std::uint64_t> keys;
    for (const ItemEntry& e : f.recording.items.index) {
        if (itemType(e) == SAMPLE_TYPE) keys.push_back(sortKey(e));
    }
    return keys;
}

std::vector<std::uint64_t> placeholderKeys(const VOKFile& f) {
    std::vector<std::uint64_t> keys;
    for (const ItemEntry& e : f.recording.items.index) {
        if (itemType(e) == SAMPLE_TYPE && e.position == kPlaceholder) {
            EXPECT_EQ(e.tag, 0);
            keys.push_back(sortKey(e));
        }
    }
    return keys;
}

std::vector<std::uint64_t> range(std::uint64_t from, std::uint64_t to, std::uint64_t step) {
    std::vector<std::uint64_t> v;
    for (std::uint64_t k = from; k <= to; k += step) v.push_back(k);
    return v;
}

std::map<int, int> typeCounts(const VOKFile& f) {
    std::map<int, int> counts;
    for (const ItemEntry& e : f.recording.items.index) ++counts[itemType(e)];
    return counts;
}

std::vector<const RecordingInfo*> recordingEntries(const VOKFile& f) {
    std::vector<const RecordingInfo*> out;
    for (const ItemEntry& e : f.recording.items.index) {
        if (itemType(e) == RECORDING_INFO) out.push_back(e.recording);
    }
    return out;
}

int countOf(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// ---------------------------------------------------------------------------
// Time keys and gap filling

TEST(ReadingLoopKeys, SecondSampleOfAMillisecondTakesTheHalfMillisecondKey) {
    test::TempDir dir;
    Rec w;
    w.samplesStart(99, 2000.0).samplesAt({100, 100, 101, 101}).finish();
    for (int consistency : {0, 2}) {
        Opened o = openRec(dir, w, consistency);
        ASSERT_NE(o.file, nullptr) << o.log;
        EXPECT_EQ(sampleKeys(*o.file), (std::vector<std::uint64_t>{200, 201, 202, 203})) << consistency;
        EXPECT_TRUE(placeholderKeys(*o.file).empty());

        // Served back, the second sample of each millisecond carries 0x0002.
        std::vector<std::uint16_t> halfFlags;
        std::vector<std::uint32_t> times;
        for (int t; (t = vok_get_next_data(o.file.get())) != 0;) {
            if (t != SAMPLE_TYPE) continue;
            const Sample* s = vok_get_sample(vok_get_float_data(o.file.get()));
            ASSERT_NE(s, nullptr);
            halfFlags.push_back(s->flags & VOK_SAMPLE_HALFMS);
            times.push_back(s->time);
        }
        EXPECT_EQ(halfFlags, (std::vector<std::uint16_t>{0, 2, 0, 2}));
        EXPECT_EQ(times, (std::vector<std::uint32_t>{100, 100, 101, 101}));
    }
}

TEST(ReadingLoopGaps, MissingSamplesAreFilledWithPlaceholdersAtTheRepairLevel) {
    test::TempDir dir;
    Rec w;
    w.samplesStart(100).samplesAt({100, 101, 102, 108}).finish();
    Opened o = openRec(dir, w, 2);
    ASSERT_NE(o.file, nullptr) << o.log;
    EXPECT_EQ(sampleKeys(*o.file), range(200, 216, 2));
    EXPECT_EQ(placeholderKeys(*o.file), range(206, 214, 2));
    EXPECT_EQ(o.log,
              "Missing 6 samples. Inserting dummy samples \n"
              "Missing (102-108) samples. Calculating speriod \n");
}

TEST(ReadingLoopGaps, NothingIsFilledBelowTheRepairLevel) {
    test::TempDir dir;
    Rec w;
    w.samplesStart(100).samplesAt({100, 101, 102, 108}).finish();
    for (int consistency : {0, 1, 3, kTolerant, 1 | kTolerant}) {
        Opened o = openRec(dir, w, consistency);
        ASSERT_NE(o.file, nullptr) << o.log;
        EXPECT_EQ(sampleKeys(*o.file), (std::vector<std::uint64_t>{200, 202, 204, 216})) << consistency;
        EXPECT_EQ(o.log.find("Missing"), std::string::npos) << consistency;
    }
}

TEST(ReadingLoopGaps, FillingNeedsAPeriodMeasuredFromTwoEarlierSamples) {
    test::TempDir dir;
    struct Case {
        const char* what;
        std::vector<std::uint32_t> times;
        std::vector<std::uint64_t> keys;
    } cases[] = {
        // A first spacing of 10 half-milliseconds is too large to measure a period.
        {"spacing too large", {100, 101, 106}, {200, 202, 212}},
        // Two samples are not enough: the gap after the second is not filled.
        {"second sample", {100, 108}, {200, 216}},
    };
    for (const Case& c : cases) {
        Rec w;
        w.samplesStart(100);
        for (std::uint32_t t : c.times) w.at(t);
        w.finish();
        Opened o = openRec(dir, w, 2);
        ASSERT_NE(o.file, nullptr) << c.what;
        EXPECT_EQ(sampleKeys(*o.file), c.keys) << c.what;
        EXPECT_TRUE(placeholderKeys(*o.file).empty()) << c.what;
        EXPECT_EQ(o.log, "") << c.what;
    }

    // Across a block start: the samples 100, 101 of the first block and 120
    // of the next do not make a gap.
    Rec w;
    w.samplesStart(100).samplesAt({100, 101}).endSamples(110);
    w.samplesStart(120).samplesAt({120, 121}).finish();
    Opened o = openRec(dir, w, 2);
    ASSERT_NE(o.file, nullptr);
    EXPECT_EQ(sampleKeys(*o.file), (std::vector<std::uint64_t>{200, 202, 240, 242}));
    EXPECT_EQ(o.log, "");
}

TEST(ReadingLoopGaps, PeriodThatDisagreesWithTheRateGivesWayToTheRate) {
    test::TempDir dir;
    Rec w;
    w.samplesStart(100).samplesAt({100, 101, 103, 104, 107}).finish();
    Opened o = openRec(dir, w, 2);
    ASSERT_NE(o.file, nullptr) << o.log;
    // 103 measures 4 and takes the rate's 2: one placeholder at 204.  The
    // period then stays 2: 107 adds two placeholders and no second warning.
    EXPECT_EQ(placeholderKeys(*o.file), (std::vector<std::uint64_t>{204, 210, 212}));
    EXPECT_EQ(sampleKeys(*o.file), (std::vector<std::uint64_t>{200, 202, 204, 206, 208, 210, 212, 214}));
    const std::string mismatch =
        "Intersample period does not match with the sample rate given by the start recording event! "
        "Using start recording sample rate. 2 4 202 206 \n";
    EXPECT_EQ(countOf(o.log, mismatch), 1) << o.log;
    EXPECT_EQ(countOf(o.log, "Intersample period"), 1);
    EXPECT_NE(o.log.find("Missing 2 samples. Inserting dummy samples \n"), std::string::npos);
    EXPECT_NE(o.log.find("Missing (101-103) samples. Calculating speriod \n"), std::string::npos);
    EXPECT_NE(o.log.find("Missing 3 samples. Inserting dummy samples \n"), std::string::npos);
    EXPECT_NE(o.log.find("Missing (104-107) samples. Calculating speriod \n"), std::string::npos);
}

TEST(ReadingLoopGaps, AGapOfTenThousandIsFilledAndOneMoreIsNot) {
    test::TempDir dir;
    {
        // n = (2 * 10102 - 204) / 2 = 10000: 9999 placeholders.
        Rec w;
        w.samplesStart(100).samplesAt({100, 101, 102, 10102}).finish();
        Opened o = openRec(dir, w, 2);
        ASSERT_NE(o.file, nullptr);
        const std::vector<std::uint64_t> ph = placeholderKeys(*o.file);
        ASSERT_EQ(ph.size(), 9999u);
        EXPECT_EQ(ph.front(), 206u);
        EXPECT_EQ(ph.back(), 20202u);
        EXPECT_EQ(sampleKeys(*o.file), range(200, 20204, 2));
        EXPECT_NE(o.log.find("Missing 10000 samples. Inserting dummy samples \n"), std::string::npos);
        EXPECT_EQ(o.log.find("over 10000"), std::string::npos);
    }
    {
        Rec w;
        w.samplesStart(100).samplesAt({100, 101, 102, 10103}).finish();
        Opened o = openRec(dir, w, 2);
        ASSERT_NE(o.file, nullptr);
        EXPECT_TRUE(placeholderKeys(*o.file).empty());
        EXPECT_EQ(sampleKeys(*o.file), (std::vector<std::uint64_t>{200, 202, 204, 20206}));
        EXPECT_EQ(o.log,
                  "Missing 10001 samples. Inserting dummy samples \n"
                  "Missing (102-10103) samples. Calculating speriod \n"
                  "Missing samples are over 10000, skip it without addimg missing samples\n ");
    }
}

TEST(ReadingLoopGaps, GapAfterAHalfMillisecondSampleStopsBeforeTheNextRealKey) {
    // At 2000 Hz the last sample before the gap has an odd key; the
    // placeholders continue from it and end one step before the next sample.
    test::TempDir dir;
    Rec w;
    w.samplesStart(100, 2000.0).samplesAt({100, 100, 101, 101, 103}).finish();
    Opened o = openRec(dir, w, 2);
    ASSERT_NE(o.file, nullptr);
    EXPECT_EQ(placeholderKeys(*o.file), (std::vector<std::uint64_t>{204, 205}));
    EXPECT_EQ(sampleKeys(*o.file), range(200, 206, 1));
}

// ---------------------------------------------------------------------------
// Block boundaries

TEST(ReadingLoopBoundaries, StartPairWithinTwoPeriodsMergesIntoOneRecord) {
    test::TempDir dir;
    struct Case {
        double rate;
        bool samplesFirst;
        std::uint32_t samplesTime, eventsTime;
        bool merge;
    } cases[] = {
        {1000.0, true, 5000, 5001, true},   {1000.0, false, 5000, 5001, true},
        {1000.0, true, 5000, 6000, true},   {1000.0, true, 5000, 6001, false},
        {1000.0, false, 6001, 5000, false}, {500.0, true, 5000, 5500, true},
        {500.0, false, 5500, 5000, true},   {500.0, true, 5000, 5501, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, samples " << c.samplesTime << ", events "
                                        << c.eventsTime << (c.samplesFirst ? ", samples first" : ""));
        Rec w;
        // Only the second record of the pair carries a position type, so the
        // merged record shows that it took the missing one.
        if (c.samplesFirst) {
            w.samplesStart(c.samplesTime, c.rate, 0).eventsStart(c.eventsTime, c.rate, 6);
        } else {
            w.eventsStart(c.eventsTime, c.rate, 0).samplesStart(c.samplesTime, c.rate, 6);
        }
        w.finish();
        Opened o = openRec(dir, w, 0);
        ASSERT_NE(o.file, nullptr) << o.log;
        const VOKFile& f = *o.file;
        // Both start events keep their entries.
        std::map<int, int> counts = typeCounts(f);
        EXPECT_EQ(counts[STARTSAMPLES], 1);
        EXPECT_EQ(counts[STARTEVENTS], 1);
        const std::vector<const RecordingInfo*> recs = recordingEntries(f);
        ASSERT_EQ(recs.size(), f.recording.items.recordings.size());
        if (c.merge) {
            ASSERT_EQ(recs.size(), 1u);
            const RecordingInfo& r = *recs[0];
            const std::uint32_t t = std::min(c.samplesTime, c.eventsTime);
            EXPECT_EQ(r.recordType, 3);
            EXPECT_EQ(r.time, t);
            EXPECT_EQ(r.timeHalfMs, 2ull * t);
            EXPECT_EQ(r.state, 1);
            EXPECT_EQ(r.positionType, 6);
            EXPECT_EQ(r.eye, 1);
            EXPECT_EQ(r.sampleRate, static_cast<float>(c.rate));
        } else {
            ASSERT_EQ(recs.size(), 2u);
            std::vector<int> types = {recs[0]->recordType, recs[1]->recordType};
            std::sort(types.begin(), types.end());
            EXPECT_EQ(types, (std::vector<int>{1, 2}));
        }
    }
}

TEST(ReadingLoopBoundaries, EndPairMergesAtTheLaterTime) {
    test::TempDir dir;
    Rec w;
    w.samplesStart(5000).eventsStart(5000).samplesAt({5000, 5001, 5002});
    w.endSamples(9000).endEvents(9003).finish();
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr) << o.log;
    const std::vector<const RecordingInfo*> recs = recordingEntries(*o.file);
    ASSERT_EQ(recs.size(), 2u);
    ASSERT_EQ(o.file->recording.items.recordings.size(), 2u);
    const RecordingInfo& end = *o.file->recording.items.recordings[1];
    EXPECT_EQ(end.state, 0);
    EXPECT_EQ(end.recordType, 3);
    EXPECT_EQ(end.time, 9003u);
    EXPECT_EQ(end.timeHalfMs, 18006u);
    EXPECT_EQ(end.eye, 1);  // copied from the start record
    std::map<int, int> counts = typeCounts(*o.file);
    EXPECT_EQ(counts[ENDSAMPLES], 1);
    EXPECT_EQ(counts[ENDEVENTS], 1);
}

TEST(ReadingLoopBoundaries, ALoneStartWithinToleranceOfNothingIsKept) {
    // A samples start at time 1000 at 1000 Hz has the key 2000, exactly the
    // tolerance, so it "matches" the empty events member of the pair; with
    // no other record to merge into, it stays a record of its own.
    test::TempDir dir;
    Rec w;
    w.samplesStart(1000).samplesAt({1000, 1001}).endSamples(1002).finish();
    Opened o = openRec(dir, w, 0);
    ASSERT_NE(o.file, nullptr);
    const std::vector<const RecordingInfo*> recs = recordingEntries(*o.file);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0]->state, 1);
    EXPECT_EQ(recs[0]->recordType, 1);
    EXPECT_EQ(recs[0]->time, 1000u);
    EXPECT_EQ(recs[1]->state, 0);
}

TEST(ReadingLoopBoundaries, NoRecordIsLostAfterABlockWithoutAnEventsStart) {
    // The first block has a samples start only; the pair state it leaves
    // behind must not make the next block's merge drop a record.
    test::TempDir dir;
    for (bool eventsFirst : {true, false}) {
        SCOPED_TRACE(eventsFirst ? "events start first" : "samples start first");
        Rec w;
        w.samplesStart(3000).samplesAt({3000, 3001, 3002}).endSamples(3003);
        if (eventsFirst) {
            w.eventsStart(5000).samplesStart(5000);
        } else {
            w.samplesStart(5000).eventsStart(5000);
        }
        w.samplesAt({5000, 5001, 5002}).endSamples(5003).endEvents(5003).finish();
        for (int consistency : {0, 2}) {
            Opened o = openRec(dir, w, consistency);
            ASSERT_NE(o.file, nullptr) << o.log;
            VOKFile* f = o.file.get();
            const std::vector<const RecordingInfo*> recs = recordingEntries(*f);
            ASSERT_EQ(recs.size(), f->recording.items.recordings.size());
            for (const RecordingInfo* r : recs) {
                const bool owned = std::any_of(f->recording.items.recordings.begin(), f->recording.items.recordings.end(),
                                               [&](const auto& p) { return p.get() == r; });
                EXPECT_TRUE(owned);
            }
            // Walked: start, end of the first block; merged start and end of the second.
            std::vector<std::vector<unsigned>> walked;
            for (int t; (t = vok_get_next_data(f)) != 0;) {
                if (t != RECORDING_INFO) continue;
                const RecordingInfo* r = vok_get_recording(vok_get_float_data(f));
                ASSERT_NE(r, nullptr);
                walked.push_back({r->state, r->recordType, r->time});
            }
            EXPECT_EQ(walked, (std::vector<std::vector<unsigned>>{
                                  {1, 1, 3000}, {0, 1, 3003}, {1, 3, 5000}, {0, 3, 5003}}))
                << consistency;
        }
    }
}

// ---------------------------------------------------------------------------
// Load options

// A block with both kinds of start and end, samples, eye events, a message,
// a button and an input change.
Rec mixedBlock() {
    Rec w;
    w.samplesStart(1000, 500.0).eventsStart(1000, 500.0);
    w.at(1000, VOK_SAMPLE_INPUT, 0, 5).at(1002, VOK_SAMPLE_INPUT, 0, 5);
    vokgen::EyeEventSpec fix;
    fix.startTime = 1002;
    fix.endTime = 1006;
    w.fixationStart(fix);
    w.at(1004).message(1004, "TRIAL_START 1").button(1004, 0x0101).input(1004, 3);
    w.at(1006).fixationEnd(fix).at(1008);
    w.endSamples(1010).endEvents(1010).finish();
    return w;
}

TEST(ReadingLoopOptions, LoadFlagsChooseWhatIsKept) {
    test::TempDir dir;
    const Rec w = mixedBlock();
    struct Case {
        int loadEvents, loadSamples;
        std::map<int, int> counts;
        std::vector<int> recordTypes;
        std::uint32_t inputType;
    } cases[] = {
        {1,
         1,
         {{RECORDING_INFO, 2},
          {STARTSAMPLES, 1},
          {STARTEVENTS, 1},
          {ENDSAMPLES, 1},
          {ENDEVENTS, 1},
          {SFIX, 1},
          {EFIX, 1},
          {MESSAGEEVENT, 1},
          {BUTTONEVENT, 1},
          {INPUTEVENT, 1},
          {SAMPLE_TYPE, 5}},
         {3, 3},
         3},
        {0, 1, {{RECORDING_INFO, 2}, {STARTSAMPLES, 1}, {ENDSAMPLES, 1}, {SAMPLE_TYPE, 5}}, {1, 1}, 2},
        {1,
         0,
         {{RECORDING_INFO, 2},
          {STARTEVENTS, 1},
          {ENDEVENTS, 1},
          {SFIX, 1},
          {EFIX, 1},
          {MESSAGEEVENT, 1},
          {BUTTONEVENT, 1},
          {INPUTEVENT, 1}},
         {2, 2},
         1},
        {0, 0, {}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "loadEvents " << c.loadEvents << ", loadSamples " << c.loadSamples);
        Opened o = openRec(dir, w, 0, c.loadEvents, c.loadSamples);
        ASSERT_NE(o.file, nullptr) << o.log;
        EXPECT_EQ(typeCounts(*o.file), c.counts);
        std::vector<int> types;
        for (const auto& r : o.file->recording.items.recordings) types.push_back(r->recordType);
        EXPECT_EQ(types, c.recordTypes);
        EXPECT_EQ(getInputType(*o.file), static_cast<int>(c.inputType));
        EXPECT_EQ(vok_get_element_count(o.file.get()), o.file->recording.items.index.size());
        // The whole file was read whatever was kept.
        EXPECT_EQ(o.file->recording.items.largestTime, 1010u);
    }
}

// ---------------------------------------------------------------------------
// Tolerant reading

TEST(ReadingLoopTolerant, TimeZeroDropsEyeStartsButNotBlockStarts) {
    test::TempDir dir;
    Rec w;
    w.samplesStart(0).samplesAt({1, 2, 3});
    vokgen::EyeEventSpec fix;
    fix.startTime = 0;
    fix.endTime = 3;
    w.fixationStart(fix).fixationEnd(fix);
    // An event of type 0 and a start/end mark pair at time 0.
    // (Its tag word needs a parsedBy bit: a zero word ends the records.)
    w.beginEvent(0, 0, 2).fieldU32(33, 2).endEvent();
    w.beginEvent(SMARK).fieldU32(33, 0).endEvent();
    w.beginEvent(EMARK).fieldU32(33, 0).endEvent();
    w.endSamples(4).finish();

    Opened tolerant = openRec(dir, w, kTolerant);
    ASSERT_NE(tolerant.file, nullptr) << tolerant.log;
    std::map<int, int> counts = typeCounts(*tolerant.file);
    EXPECT_EQ(counts[STARTSAMPLES], 1);
    EXPECT_EQ(counts[SFIX], 0);
    EXPECT_EQ(counts[EFIX], 1);  // end events are kept without a time check
    EXPECT_EQ(counts[0], 0);
    EXPECT_EQ(counts[SMARK] + counts[EMARK], 0);
    ASSERT_FALSE(tolerant.file->recording.items.recordings.empty());
    EXPECT_EQ(tolerant.file->recording.items.recordings[0]->time, 0u);
    EXPECT_EQ(tolerant.log,
              "Unexpected time stamp 0. Skipping event \n"
              "Unexpected event type tag 0. Skipping event \n"
              "Unexpected time stamp 0. Skipping event \n" +
                  kTolerantTail);

    // Strict reading keeps the fixation start and drops the others silently.
    Opened strict = openRec(dir, w, 0);
    ASSERT_NE(strict.file, nullptr) << strict.log;
    counts = typeCounts(*strict.file);
    EXPECT_EQ(counts[SFIX], 1);
    EXPECT_EQ(counts[0], 0);
    EXPECT_EQ(counts[SMARK] + counts[EMARK], 0);
    EXPECT_EQ(strict.log, "");
}

TEST(ReadingLoopTolerant, EventOfTheRecordingCodeIsDropped) {
    test::TempDir dir;
    Rec w;
    w.samplesStart(1000).samplesAt({1000, 1001});
    w.beginEvent(RECORDING_INFO).fieldU32(33, 1001).endEvent();
    w.at(1002).finish();
    for (int consistency : {0, kTolerant, 2}) {
        Opened o = openRec(dir, w, consistency);
        ASSERT_NE(o.file, nullptr) << o.log;
        EXPECT_EQ(o.log, "Unexpected event type 30. Skipping event \n" +
                             std::string(consistency == kTolerant ? kTolerantTail : ""));
        // The only recording entries are the block's own.
        const std::vector<const RecordingInfo*> recs = recordingEntries(*o.file);
        ASSERT_EQ(recs.size(), 1u);
        EXPECT_EQ(recs[0], o.file->recording.items.recordings[0].get());
        EXPECT_EQ(typeCounts(*o.file)[SAMPLE_TYPE], 3);
    }
}

// A damaged or cut tail: strict reading fails the open, tolerant reading
// keeps every complete record before it.
TEST(ReadingLoopTolerant, StrictFailsAndTolerantKeepsWhatPrecedesADamagedTail) {
    test::TempDir dir;
    Rec base;
    base.samplesStart(1000).samplesAt({1000, 1001, 1002, 1003});
    const std::size_t complete = base.size();  // four samples and the start

    struct Case {
        const char* what;
        std::string tail;         // bytes after the complete records
        int samples;              // samples kept by tolerant reading
        const char* strictLog;    // in the failed strict open's log
        const char* tolerantLog;  // the tolerant open's log
    };
    // The bytes of one more sample, and of a message, to cut.
    Rec more = base;
    more.at(1004);
    const std::string sampleBytes(more.bytes().begin() + static_cast<std::ptrdiff_t>(complete),
                                  more.bytes().end());
    Rec msg = base;
    msg.message(1004, "DISPLAY_ON");
    const std::string messageBytes(msg.bytes().begin() + static_cast<std::ptrdiff_t>(complete),
                                   msg.bytes().end());
    Rec bad = base;
    bad.beginEvent(MESSAGEEVENT).fieldU32(33, 1004).fieldTextWithLength(600, "x").endEvent();
    const std::string badText(bad.bytes().begin() + static_cast<std::ptrdiff_t>(complete), bad.bytes().end());

    const Case cases[] = {
        {"cut sample", sampleBytes.substr(0, sampleBytes.size() - 3), 4, "End of file Exception",
         "Error End of file Exception \n"
         "error reading vok file 2\n"
         "Unexpected file read error while reading sample; simulating end reached. \n"},
        {"cut event", messageBytes.substr(0, messageBytes.size() - 4), 4, "End of file Exception",
         "Error End of file Exception \n"
         "error reading vok file 1\n"
         "Unexpected file read error while reading event; simulating end reached. \n"},
        {"bad text length", badText + std::string(2, '\0'), 4, "Error reading event - type(preScan)",
         "error reading vok file 1\n"
         "Unexpected file read error while reading event; simulating end reached. \n"},
        {"one stray byte", std::string(1, '\x01'), 4, "End of file Exception",
         "Error reading items End of file Exception \n"},
        {"no end word", "", 4, "End of file Exception", "Error reading items End of file Exception \n"},
        {"complete sample, no end word", sampleBytes, 5, "End of file Exception",
         "Error reading items End of file Exception \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rec w = base;
        w.raw(c.tail);
        Opened strict = openRec(dir, w, 0);
        EXPECT_EQ(strict.file, nullptr);
        EXPECT_EQ(strict.err, -1);
        EXPECT_NE(strict.log.find(c.strictLog), std::string::npos) << strict.log;

        Opened tolerant = openRec(dir, w, kTolerant);
        ASSERT_NE(tolerant.file, nullptr) << tolerant.log;
        EXPECT_EQ(tolerant.err, 0);
        EXPECT_EQ(typeCounts(*tolerant.file)[SAMPLE_TYPE], c.samples);
        EXPECT_EQ(tolerant.log.find("reading vok file 3"), std::string::npos);
        EXPECT_NE(tolerant.log.find(c.tolerantLog), std::string::npos) << tolerant.log;
        // The kept samples read back.
        std::vector<std::uint32_t> times;
        for (int t; (t = vok_get_next_data(tolerant.file.get())) != 0;) {
            if (t != SAMPLE_TYPE) continue;
            const FloatData* d = vok_get_float_data(tolerant.file.get());
            ASSERT_NE(d, nullptr);
            times.push_back(d->sample.time);
        }
        EXPECT_EQ(times.size(), static_cast<std::size_t>(c.samples));
        for (std::size_t i = 0; i < times.size(); ++i) EXPECT_EQ(times[i], 1000u + i);
    }
}

// ---------------------------------------------------------------------------
// File facts

TEST(ReadingLoopFacts, FirstRecordTimeLargestTimeAndInputType) {
    test::TempDir dir;
    vokgen::EyeEventSpec longFix;
    longFix.startTime = 1001;
    longFix.endTime = 7000;
    struct Case {
        const char* what;
        Rec rec;
        int loadEvents, loadSamples;
        std::uint32_t first, largest;
        int inputType;
    };
    std::vector<Case> cases;
    {
        Rec w;
        w.samplesStart(1000).samplesAt({1000, 1001});
        w.fixationEnd(longFix);  // an end time beyond every sample
        w.samplesAt({1002, 1003}).finish();
        cases.push_back({"block start first", w, 1, 1, 1000, 7000, 0});
    }
    {
        Rec w;  // no block start: the first record is a sample
        w.samplesAt({777, 778}).finish();
        cases.push_back({"sample first", w, 1, 1, 777, 778, 0});
    }
    {
        Rec w;
        w.message(50, "first").samplesStart(1000).at(1000, VOK_SAMPLE_INPUT, 0, 0).finish();
        cases.push_back({"sample input word", w, 1, 1, 50, 1000, 2});
        cases.push_back({"sample input word, no samples kept", w, 1, 0, 50, 1000, 0});
    }
    {
        Rec w;
        w.samplesStart(1000).at(1000).input(1000, 4).at(1001).finish();
        cases.push_back({"input event", w, 1, 1, 1000, 1001, 1});
        cases.push_back({"input event, no events kept", w, 0, 1, 1000, 1001, 0});
    }
    {
        Rec w;
        w.samplesStart(1000).at(1000, VOK_SAMPLE_INPUT, 0, 9).input(1000, 4).at(1001).finish();
        cases.push_back({"both", w, 1, 1, 1000, 1001, 3});
    }
    {
        // Times compare unsigned: one past 2^31 is the largest.
        Rec w;
        w.samplesStart(1000).at(1000).message(0x90000000u, "late").at(1001).finish();
        cases.push_back({"unsigned compare", w, 1, 1, 1000, 0x90000000u, 0});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Opened o = openRec(dir, c.rec, 0, c.loadEvents, c.loadSamples);
        ASSERT_NE(o.file, nullptr) << o.log;
        EXPECT_EQ(o.file->recording.items.firstRecordTime, c.first);
        EXPECT_EQ(o.file->recording.items.largestTime, c.largest);
        EXPECT_EQ(getInputType(*o.file), c.inputType);
    }
}

TEST(ReadingLoopFacts, HeadTrackerSamplesClearTheBlocksHeadDataFlag) {
    test::TempDir dir;
    struct Case {
        const char* what;
        bool headData;          // the last sample carries head data
        std::uint8_t headType;  // its head data type
        bool cleared;
    } cases[] = {
        {"type 0xF2", true, 0xF2, true},  {"type 0xF8", true, 0xF8, true},   {"type 0x12", true, 0x12, false},
        {"type 0xE2", true, 0xE2, false}, {"no head data", false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rec w;
        w.samplesStart(1000, 1000.0, 0, VOK_SAMPLE_HEADDATA);
        w.at(1000, VOK_SAMPLE_HEADDATA, 0x02);  // only the last sample counts
        if (c.headData) {
            w.at(1001, VOK_SAMPLE_HEADDATA, c.headType);
        } else {
            w.at(1001);
        }
        w.endSamples(1002).finish();
        Opened o = openRec(dir, w, 0);
        ASSERT_NE(o.file, nullptr) << o.log;
        ASSERT_EQ(o.file->recording.items.recordings.size(), 2u);
        const std::uint16_t expected =
            static_cast<std::uint16_t>(VOK_SAMPLE_LEFT | (c.cleared ? 0 : VOK_SAMPLE_HEADDATA));
        EXPECT_EQ(o.file->recording.items.recordings[0]->sampleFlags, expected);
        EXPECT_EQ(o.file->recording.items.recordings[0]->eye, 1);
    }
}

}  // namespace
}  // namespace vok
