// Consistency checks: ordering of block boundaries, mending of events stamped
// between blocks, samples outside blocks, blink pairing, joined blinks and
// samples inside blinks.  The step tests build index contents directly in a
// small notation; the end-to-end tests open recordings made by the writer.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "load/Consistency.h"
#include "load/ItemIndex.h"
#include "nav/VOKFile.h"
#include "support/TestSupport.h"

namespace vok {
namespace {

// ---------------------------------------------------------------------------
// Index notation: space-separated items "name@key", in file order.  Names:
// start, end (recording records), smp (sample), or an event "XX.E" with XX one
// of SB EB SS ES SF EF MSG and E the eye slot (L = 1, R = 2, or a digit).
// describe() writes an index back in the same notation, with the marks as
// "/A" (0x1000) and "/B" (0x2000).

struct EventName {
    const char* name;
    int type;
};
constexpr EventName kEventNames[] = {{"SB", SBLINK}, {"EB", EBLINK}, {"SS", SSACC}, {"ES", ESACC},
                                     {"SF", SFIX},   {"EF", EFIX},   {"MSG", MESSAGEEVENT}};

struct Items {
    ItemIndex index;
    RecordingList recordings;
};

Items build(const std::string& notation) {
    Items items;
    std::istringstream in(notation);
    std::string token;
    std::uint32_t position = 16;
    while (in >> token) {
        const auto at = token.find('@');
        if (at == std::string::npos) throw std::runtime_error("bad token " + token);
        const std::string name = token.substr(0, at);
        const std::uint64_t key = std::stoull(token.substr(at + 1));
        ItemEntry e{};
        e.position = position;
        position += 10;
        if (name == "start" || name == "end") {
            auto record = std::make_unique<RecordingInfo>();
            record->state = name == "start" ? 1 : 0;
            record->timeHalfMs = key;
            record->time = static_cast<std::uint32_t>(key >> 1);
            e.position = 0;
            e.code = RECORDING_INFO;
            e.recording = record.get();
            items.recordings.push_back(std::move(record));
        } else if (name == "smp") {
            e.code = SAMPLE_TYPE;
            e.timeHalfMs = key;
        } else {
            const auto dot = name.find('.');
            if (dot == std::string::npos) throw std::runtime_error("bad token " + token);
            const std::string kind = name.substr(0, dot);
            const std::string eye = name.substr(dot + 1);
            int type = -1;
            for (const EventName& n : kEventNames) {
                if (kind == n.name) type = n.type;
            }
            if (type < 0) throw std::runtime_error("bad event " + token);
            const int slot = eye == "L" ? 1 : eye == "R" ? 2 : std::stoi(eye);
            e.code = static_cast<std::uint16_t>(type | slot << 8);
            e.timeHalfMs = key;
        }
        items.index.push_back(e);
    }
    return items;
}

std::string describe(const ItemIndex& index) {
    std::string out;
    for (const ItemEntry& e : index) {
        if (!out.empty()) out += ' ';
        const int type = itemType(e);
        if (type == RECORDING_INFO) {
            out += e.recording->state != 0 ? "start" : "end";
        } else if (type == SAMPLE_TYPE) {
            out += "smp";
        } else {
            for (const EventName& n : kEventNames) {
                if (n.type == type) out += n.name;
            }
            const int slot = eyeSlot(e);
            out += '.';
            out += slot == 1 ? "L" : slot == 2 ? "R" : std::to_string(slot);
        }
        out += '@' + std::to_string(sortKey(e));
        if (e.code & (kMarkA | kMarkB)) {
            out += '/';
            if (e.code & kMarkA) out += 'A';
            if (e.code & kMarkB) out += 'B';
        }
    }
    return out;
}

struct PassResult {
    std::string index;
    std::string log;
};

PassResult runPass(const std::string& notation, int level) {
    test::LogCapture capture;
    Items items = build(notation);
    checkConsistency(items.index, items.recordings, level);
    return {describe(items.index), capture.text()};
}

struct PassCase {
    const char* what;
    const char* input;
    const char* expected;
    const char* log;
};

void expectCases(const std::vector<PassCase>& cases, std::initializer_list<int> levels) {
    for (int level : levels) {
        for (const PassCase& c : cases) {
            PassResult r = runPass(c.input, level);
            EXPECT_EQ(r.index, c.expected) << c.what << " (level " << level << ")";
            EXPECT_EQ(r.log, c.log) << c.what << " (level " << level << ")";
        }
    }
}

// ---------------------------------------------------------------------------
// Recording neighbours

TEST(MergedNeighbours, KeysCloserThanSixHalfMillisecondsMergeBothRecords) {
    struct Case {
        std::vector<std::uint64_t> keys;
        std::vector<int> merged;
    };
    const std::vector<Case> cases = {
        {{200, 200}, {1, 1}},
        {{200, 205}, {1, 1}},
        {{200, 206}, {0, 0}},
        {{205, 200}, {1, 1}},
        {{206, 200}, {0, 0}},
        {{100, 200, 203, 300}, {0, 1, 1, 0}},
        // Only neighbours in creation order are compared.
        {{200, 900, 202}, {0, 0, 0}},
        // The difference is taken as a signed 32-bit value.
        {{0x100000000ull + 200, 202}, {1, 1}},
    };
    for (const Case& c : cases) {
        RecordingList list;
        for (std::size_t i = 0; i < c.keys.size(); ++i) {
            auto r = std::make_unique<RecordingInfo>();
            r->state = static_cast<std::uint8_t>(i % 2 == 0 ? 0 : 1);
            r->timeHalfMs = c.keys[i];
            list.push_back(std::move(r));
        }
        markMergedNeighbours(list);
        for (std::size_t i = 0; i < c.keys.size(); ++i) {
            EXPECT_EQ(list[i]->merged, c.merged[i]) << "record " << i << " of case starting " << c.keys[0];
        }
    }
}

TEST(MergedNeighbours, KeysAsTheyStandIncludeAnEarlierMerge) {
    // The start merged with the end before it now sorts at 202; the end after
    // it at 207 is 5 away from that key (but 7 from the raw key).
    Items items = build("end@200 start@200 end@207");
    markMergedNeighbours(items.recordings);
    EXPECT_EQ(items.recordings[2]->merged, 1);
}

// ---------------------------------------------------------------------------
// Levels 1 and 3: ordering, gap mending, samples outside recordings, blink report

TEST(Level1, EndAndStartOfOneMillisecondSortEndFirst) {
    expectCases(
        {
            {"same millisecond", "start@100 smp@110 end@200 start@200 smp@204 end@300",
             "start@100 smp@110 end@201 start@202 smp@204 end@300", ""},
            {"an event of that millisecond goes before both",
             "start@100 smp@110 start@200 SF.L@200 end@200 smp@204 end@300",
             "start@100 smp@110 SF.L@200 end@201 start@202 smp@204 end@300", ""},
        },
        {1, 2, 3});
}

TEST(Level1, EventsInTheGapBetweenBlocksMoveToTheBlockEdges) {
    expectCases(
        {
            {"fixation", "start@100 smp@110 end@200 SF.L@210 EF.L@220 start@300 smp@310 end@400",
             "start@100 smp@110 EF.L@200/A end@200 start@300 SF.L@300/A smp@310 end@400", ""},
            {"saccade of the other eye", "start@100 end@200 SS.R@210 ES.R@220 start@300 end@400",
             "start@100 ES.R@200/A end@200 start@300 SS.R@300/A end@400", ""},
            {"an event at the end's own key is not in the gap",
             "start@100 end@200 SF.L@200 start@300 EF.L@310 end@400",
             "start@100 end@200 SF.L@200 start@300 EF.L@310 end@400", ""},
            {"nothing before the first end is in a gap", "SF.L@50 start@100 EF.L@150 end@200",
             "SF.L@50 start@100 EF.L@150 end@200", ""},
            {"a start in the gap with no block after it stays", "start@100 end@200 SS.L@210",
             "start@100 end@200 SS.L@210", ""},
            {"blink start moved: the blink end after the next start is marked B",
             "start@100 end@200 SB.L@210 start@300 EB.L@304 end@400",
             "start@100 end@200 start@300 SB.L@300/A EB.L@304/B end@400", ""},
            {"blink wholly in the gap", "start@100 end@200 SB.L@210 EB.L@220 start@300 end@400",
             "start@100 EB.L@200/AB end@200 start@300 SB.L@300/A end@400", ""},
        },
        {1, 2, 3});
}

TEST(Level1, SamplesOutsideRecordingsAreRemoved) {
    expectCases(
        {
            {"gap and lead",
             "smp@50 start@100 smp@110 end@200 smp@205 smp@206 start@300 smp@310 end@400 smp@402",
             "start@100 smp@110 end@200 start@300 smp@310 end@400",
             "WARNING: VOK FILE MAY BE CORRUPTED. Sample at 25 found without start recording. Skipping this sample \n"
             "WARNING: VOK FILE MAY BE CORRUPTED. Sample at 102 found without start recording. Skipping this sample \n"
             "WARNING: VOK FILE MAY BE CORRUPTED. Sample at 103 found without start recording. Skipping this sample \n"
             "WARNING: VOK FILE MAY BE CORRUPTED. Sample at 201 found without start recording. Skipping this sample \n"},
        },
        {1, 2, 3});
}

TEST(Level1, EndSharingTheKeyOfTheStartBeforeItMovesInFrontOfIt) {
    // Such an order cannot come out of the sort, so the step is run alone.
    test::LogCapture capture;
    Items items = build("start@100 smp@102 start@200 SS.L@200 end@200 smp@204 smp@206 end@300 smp@310");
    EXPECT_TRUE(placeSamplesAndPairBlinks(items.index, true));
    EXPECT_EQ(describe(items.index), "start@100 smp@102 end@200 start@200 SS.L@200 smp@204 smp@206 end@300");
    EXPECT_EQ(capture.text(),
              "WARNING: VOK FILE MAY BE CORRUPTED. Sample at 155 found without start recording. Skipping this sample \n");

    Items sorted = build("start@100 end@200 start@200 smp@204");
    EXPECT_FALSE(placeSamplesAndPairBlinks(sorted.index, true));
}

TEST(Level1, UnpairedBlinksAreReported) {
    expectCases(
        {
            {"two left blink starts; the right eye does not matter",
             "start@100 SB.L@110 SB.R@112 EB.R@114 SB.L@120 EB.L@130 end@200",
             "start@100 SB.L@110 SB.R@112 EB.R@114 SB.L@120 EB.L@130 end@200",
             "No matching EBLINK found for SBLINK  60 \n"},
            {"a second blink end without a start", "start@100 SB.L@110 EB.L@120 EB.R@125 EB.L@130 EB.L@140 end@200",
             "start@100 SB.L@110 EB.L@120 EB.R@125 EB.L@130 EB.L@140 end@200",
             "found EBLINK  with no SBLINK 70 \n"},
            {"a recording item starts afresh", "start@100 SB.L@110 end@200 start@300 SB.L@310 EB.L@320 end@400",
             "start@100 SB.L@110 end@200 start@300 SB.L@310 EB.L@320 end@400", ""},
        },
        {1, 2, 3});
}

TEST(Level1, NoKeyChangesAndNoSampleMarksBeyondTheReport) {
    const char* input = "start@100 smp@104 EB.L@110 smp@112 SB.L@114 smp@116 SB.R@118 smp@120 EB.R@122 end@200";
    expectCases({{"orphan blink end and a right blink", input, input, ""}}, {1, 3});
}

// ---------------------------------------------------------------------------
// Level 2: orphan blink starts, joined blinks, samples in blinks

TEST(Level2, BlinkStartAfterAnOrphanEndTakesTheOrphansKey) {
    expectCases(
        {
            {"late blink start", "start@100 smp@104 EB.L@110 smp@112 SB.L@114 smp@116 end@200",
             "start@100 smp@104 SB.L@110/A EB.L@110 smp@112 smp@116 end@200", ""},
            {"the other eye's start does not take it", "start@100 EB.L@110 SB.R@114 EB.R@116 end@200",
             "start@100 EB.L@110 SB.R@114 EB.R@116 end@200", ""},
        },
        {2});
}

TEST(Level2, BlinksWithinOneSaccadeAreJoined) {
    expectCases(
        {
            {"two blinks", "start@100 SS.L@110 SB.L@112 smp@114 EB.L@116 smp@118 SB.L@120 EB.L@124 ES.L@130 end@200",
             "start@100 SS.L@110 SB.L@112 smp@114/A smp@118/A EB.L@124/B ES.L@130 end@200", ""},
            {"three blinks", "start@100 SS.L@110 SB.L@112 EB.L@114 SB.L@116 EB.L@118 SB.L@120 EB.L@122 ES.L@130 end@200",
             "start@100 SS.L@110 SB.L@112 EB.L@122/B ES.L@130 end@200", ""},
            {"both eyes interleaved",
             "start@100 SS.L@110 SS.R@111 SB.L@112 EB.L@114 SB.R@115 EB.R@116 SB.L@118 EB.L@119 SB.R@120 EB.R@121 "
             "ES.L@130 ES.R@131 end@200",
             "start@100 SS.L@110 SS.R@111 SB.L@112 SB.R@115 EB.L@119/B EB.R@121/B ES.L@130 ES.R@131 end@200", ""},
            {"not in a saccade", "start@100 SB.L@112 EB.L@114 SB.L@118 EB.L@119 end@200",
             "start@100 SB.L@112 EB.L@114 SB.L@118 EB.L@119 end@200", ""},
            {"in the other eye's saccade", "start@100 SS.R@110 SB.L@112 EB.L@114 SB.L@118 EB.L@119 ES.R@130 end@200",
             "start@100 SS.R@110 SB.L@112 EB.L@114 SB.L@118 EB.L@119 ES.R@130 end@200", ""},
            {"two saccades", "start@100 SS.L@110 SB.L@112 EB.L@114 ES.L@116 SS.L@117 SB.L@118 EB.L@119 ES.L@130 end@200",
             "start@100 SS.L@110 SB.L@112 EB.L@114 ES.L@116 SS.L@117 SB.L@118 EB.L@119 ES.L@130 end@200", ""},
        },
        {2});
}

TEST(Level2, SamplesInsideBlinksAreMarkedPerEye) {
    expectCases(
        {
            {"overlapping blinks",
             "start@100 smp@110 SB.L@111 smp@112 SB.R@113 smp@114 EB.L@115 smp@118 EB.R@119 smp@120 end@200",
             "start@100 smp@110 SB.L@111 smp@112/A SB.R@113 smp@114/AB EB.L@115 smp@118/B EB.R@119 smp@120 end@200",
             ""},
            {"a recording item ends the blink", "start@100 SB.L@110 smp@112 end@200 start@300 smp@302 end@400",
             "start@100 SB.L@110 smp@112/A end@200 start@300 smp@302 end@400", ""},
        },
        {2});
}

TEST(Level2, EventsOfNoKnownEyeTakeNoPartInThePerEyeSteps) {
    const char* input =
        "start@100 SS.0@110 SB.0@112 SB.3@113 smp@114 EB.0@116 SB.0@118 EB.15@120 SB.15@121 smp@122 ES.0@130 "
        "end@200";
    expectCases({{"eye slots 0, 3 and 15", input, input, ""}}, {1, 2});
}

TEST(Level2, LargeIndexIsHandledInOnePass) {
    // Blocks of samples, each with a saccade holding two blinks, followed by
    // a gap holding a fixation start and stray samples: about 200000 entries,
    // with tens of thousands of removals and joins.
    Items items;
    std::uint64_t key = 1000;
    std::uint32_t position = 16;
    auto push = [&](int code, std::uint64_t k) {
        ItemEntry e{};
        e.position = position++;
        e.code = static_cast<std::uint16_t>(code);
        e.timeHalfMs = k;
        items.index.push_back(e);
    };
    auto record = [&](std::uint8_t state, std::uint64_t k) {
        auto r = std::make_unique<RecordingInfo>();
        r->state = state;
        r->timeHalfMs = k;
        ItemEntry e{};
        e.code = RECORDING_INFO;
        e.recording = r.get();
        items.recordings.push_back(std::move(r));
        items.index.push_back(e);
    };
    const int blocks = 4200;
    const int gapSamples = 10;
    for (int b = 0; b < blocks; ++b) {
        record(1, key);
        for (int s = 0; s < 30; ++s) {
            const int left = 1 << 8, right = 2 << 8;
            if (s == 5) push(SSACC | left, key);
            if (s == 7) push(SBLINK | left, key);
            if (s == 9) push(EBLINK | left, key);
            if (s == 11) push(SBLINK | left, key);
            if (s == 13) push(EBLINK | left, key);
            if (s == 15) push(ESACC | left, key);
            if (s == 20) push(SBLINK | right, key);
            push(SAMPLE_TYPE, key);
            if (s == 22) push(EBLINK | right, key);
            key += 2;
        }
        record(0, key);
        key += 2;
        push(SFIX | 1 << 8, key);
        for (int s = 0; s < gapSamples; ++s) push(SAMPLE_TYPE, key += 2);
        key += 20;
    }
    const std::size_t before = items.index.size();
    ASSERT_GT(before, 200000u);

    test::LogCapture capture;
    checkConsistency(items.index, items.recordings, 2);
    EXPECT_EQ(items.index.size(), before - blocks * gapSamples - blocks * 2);
    EXPECT_EQ(capture.lines().size(), static_cast<std::size_t>(blocks * gapSamples));

    // Every block now reads the same way.
    std::size_t joinedEnds = 0, movedStarts = 0, leftMarked = 0, rightMarked = 0;
    for (const ItemEntry& e : items.index) {
        if (itemType(e) == EBLINK && (e.code & kMarkB)) ++joinedEnds;
        if (itemType(e) == SFIX && (e.code & kMarkA)) ++movedStarts;
        if (itemKind(e) == kKindSample && (e.code & kMarkA)) ++leftMarked;
        if (itemKind(e) == kKindSample && (e.code & kMarkB)) ++rightMarked;
    }
    EXPECT_EQ(joinedEnds, static_cast<std::size_t>(blocks));
    EXPECT_EQ(movedStarts, static_cast<std::size_t>(blocks - 1));  // the last gap has no block after it
    // A blink end sorts after the sample of its own key: samples 7 to 13 of
    // the joined left blink, 20 to 22 of the right one.
    EXPECT_EQ(leftMarked, static_cast<std::size_t>(blocks * 7));
    EXPECT_EQ(rightMarked, static_cast<std::size_t>(blocks * 3));
}

TEST(Level0, NothingChanges) {
    const char* input = "smp@50 start@100 end@200 start@200 SB.L@210 SB.L@212 end@300 smp@310";
    expectCases({{"level 0", input, input, ""}}, {0, 4});
}

// ---------------------------------------------------------------------------
// End to end: recordings written by the writer, opened at each level.

class Recording : public vokgen::VokWriter {
public:
    Recording() {
        magic();
        standardPreamble();
        endPreamble();
    }
    // A samples block start at 500 Hz, gaze scale 1, both eyes.
    Recording& blockStart(std::uint32_t time) {
        u16(STARTSAMPLES << 8);
        u8(33).u32(time);
        u8(65).u32(500u << 16);
        u8(48).i16(1);
        u8(81).i16(10);
        u8(180).u16(0xC000);
        u8(0);
        return *this;
    }
    Recording& blockEnd(std::uint32_t time) {
        u16(ENDSAMPLES << 8);
        u8(65).u32(time);
        u8(0);
        return *this;
    }
    // eye 0 left, 1 right; endTime 0 writes no end field.
    Recording& event(int type, int eye, std::uint32_t startTime, std::uint32_t endTime = 0) {
        u16(static_cast<std::uint16_t>((type | (eye == 1 ? 0x40 : 0)) << 8));
        u8(33).u32(startTime);
        if (endTime != 0) u8(65).u32(endTime);
        u8(0);
        return *this;
    }
    // Both eyes with gaze, full time: left gaze (100, 200), right (300, 400).
    Recording& sample(std::uint32_t time) {
        u16(0xE401);
        u32(time);
        i16(100).i16(200).i16(300).i16(400);
        return *this;
    }
    Recording& samples(std::uint32_t from, std::uint32_t to) {
        for (std::uint32_t t = from; t <= to; t += 2) sample(t);
        return *this;
    }
    Recording& finish() {
        u16(0);
        return *this;
    }
};

using FileHandle = std::unique_ptr<VOKFile, test::FileCloser>;

struct Opened {
    FileHandle file;
    std::string log;
};

Opened open(const test::TempDir& dir, const Recording& rec, int consistency) {
    test::LogCapture capture;
    const std::string path = dir.write("c" + std::to_string(consistency) + ".vok", rec);
    int err = 99;
    FileHandle file(vok_open_file(path.c_str(), consistency, 1, 1, &err));
    EXPECT_EQ(err, 0) << capture.text();
    return {std::move(file), capture.text()};
}

// Steps to the first item of the type at or after the cursor; false at the end.
bool stepTo(VOKFile* file, int type) {
    for (int t; (t = vok_get_next_data(file)) != 0;) {
        if (t == type) return true;
    }
    return false;
}

const ItemEntry* findEntry(const VOKFile& file, int type) {
    for (const ItemEntry& e : file.recording.items.index) {
        if (itemType(e) == type) return &e;
    }
    return nullptr;
}

TEST(EndToEnd, BlockEndAndNextStartInOneMillisecondAreMerged) {
    test::TempDir dir;
    Recording rec;
    rec.blockStart(1000).samples(1000, 1008).blockEnd(1010);
    rec.blockStart(1010).samples(1012, 1020).blockEnd(1022).finish();
    for (int level : {1, 2}) {
        Opened o = open(dir, rec, level);
        ASSERT_NE(o.file, nullptr);
        VOKFile* f = o.file.get();
        std::vector<std::pair<int, int>> recs;  // state, merged
        std::vector<std::uint64_t> keys;
        for (const ItemEntry& e : f->recording.items.index) {
            if (itemType(e) == RECORDING_INFO) keys.push_back(sortKey(e));
        }
        while (stepTo(f, RECORDING_INFO)) {
            const RecordingInfo* r = &vok_get_recording_data(f)->recording;
            recs.emplace_back(r->state, r->merged);
        }
        EXPECT_EQ(recs, (std::vector<std::pair<int, int>>{{1, 0}, {0, 1}, {1, 1}, {0, 0}})) << level;
        EXPECT_EQ(keys, (std::vector<std::uint64_t>{2000, 2021, 2022, 2044})) << level;
        EXPECT_EQ(o.log, "");
    }
}

TEST(EndToEnd, FirstSamplesAfterAMergedBoundaryAreKept) {
    // The next block's sample one millisecond after the shared boundary
    // sorts after the merged start, so it is not taken for a sample outside
    // every block.
    test::TempDir dir;
    Recording rec;
    rec.blockStart(1000).samples(1000, 1010).blockEnd(1010);
    rec.blockStart(1010).samples(1011, 1020).blockEnd(1020).finish();
    for (int level : {1, 2}) {
        Opened o = open(dir, rec, level);
        ASSERT_NE(o.file, nullptr);
        EXPECT_EQ(o.log, "") << level;
        std::vector<std::uint32_t> times;
        while (stepTo(o.file.get(), SAMPLE_TYPE)) times.push_back(vok_get_sample_data(o.file.get())->sample.time);
        ASSERT_EQ(times.size(), 11u) << level;  // every 2 ms: 6 + 5
        EXPECT_EQ(times[6], 1011u);
    }
}

TEST(EndToEnd, EventsStampedBetweenBlocksMoveToTheBlockEdges) {
    test::TempDir dir;
    Recording rec;
    rec.blockStart(1000).samples(1000, 1020).blockEnd(1020);
    rec.event(SFIX, 0, 1025).event(EFIX, 0, 1025, 1030);
    rec.event(SSACC, 1, 1026).event(ESACC, 1, 1026, 1031);
    rec.blockStart(1100).samples(1100, 1120).blockEnd(1120).finish();
    for (int level : {1, 2}) {
        Opened o = open(dir, rec, level);
        ASSERT_NE(o.file, nullptr);
        VOKFile* f = o.file.get();
        for (int type : {SFIX, SSACC}) {
            const ItemEntry* e = findEntry(*f, type);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(sortKey(*e), 2200u) << type;
            EXPECT_TRUE(e->code & kMarkA) << type;
        }
        for (int type : {EFIX, ESACC}) {
            const ItemEntry* e = findEntry(*f, type);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(sortKey(*e), 2040u) << type;
            EXPECT_TRUE(e->code & kMarkA) << type;
        }
        // The moved saccade start reads with the time of the block it was
        // moved into when repairing, with its stored time otherwise.
        ASSERT_TRUE(stepTo(f, SSACC));
        const Event* ev = vok_get_event(vok_get_float_data(f));
        ASSERT_NE(ev, nullptr);
        EXPECT_EQ(ev->startTime, level == 2 ? 1100u : 1026u) << level;
    }
}

TEST(EndToEnd, SampleBetweenBlocksIsRemovedWithAWarning) {
    test::TempDir dir;
    Recording rec;
    rec.blockStart(1000).samples(1000, 1010).blockEnd(1010);
    rec.sample(1025);
    rec.blockStart(1100).samples(1100, 1110).blockEnd(1110).finish();
    Opened plain = open(dir, rec, 0);
    Opened checked = open(dir, rec, 1);
    ASSERT_NE(plain.file, nullptr);
    ASSERT_NE(checked.file, nullptr);
    EXPECT_EQ(vok_get_element_count(checked.file.get()), vok_get_element_count(plain.file.get()) - 1);
    EXPECT_EQ(checked.log,
              "WARNING: VOK FILE MAY BE CORRUPTED. Sample at 1025 found without start recording. Skipping this sample \n");
    EXPECT_EQ(plain.log, "");
}

TEST(EndToEnd, TwoLeftBlinkStartsWithoutEndAreReportedOnce) {
    test::TempDir dir;
    Recording rec;
    rec.blockStart(1000).samples(1000, 1000);
    rec.event(SBLINK, 0, 1002).event(SBLINK, 1, 1003).event(EBLINK, 1, 1003, 1004);
    rec.event(SBLINK, 0, 1006).event(EBLINK, 0, 1006, 1008);
    rec.samples(1010, 1012).blockEnd(1012).finish();
    Opened o = open(dir, rec, 1);
    ASSERT_NE(o.file, nullptr);
    EXPECT_EQ(o.log, "No matching EBLINK found for SBLINK  1006 \n");
}

// Reads every sample and returns its left and right gaze x by time.
std::vector<std::pair<float, float>> gazeOfSamples(VOKFile* f) {
    std::vector<std::pair<float, float>> out;
    while (stepTo(f, SAMPLE_TYPE)) {
        const Sample* s = vok_get_sample(vok_get_float_data(f));
        if (s == nullptr) {
            ADD_FAILURE() << "sample not read";
            break;
        }
        out.emplace_back(s->gazeX[0], s->gazeX[1]);
    }
    return out;
}

TEST(EndToEnd, SamplesInsideABlinkLoseThatEyesGazeWhenRepairing) {
    test::TempDir dir;
    Recording rec;
    rec.blockStart(1000).samples(1000, 1002);
    rec.event(SBLINK, 1, 1004).samples(1004, 1010).event(EBLINK, 1, 1004, 1010);
    rec.samples(1012, 1014).blockEnd(1014).finish();
    const float g = 1e8f;
    const std::vector<std::pair<float, float>> repaired = {{100, 300}, {100, 300}, {100, g},   {100, g},
                                                           {100, g},   {100, g},   {100, 300}, {100, 300}};
    const std::vector<std::pair<float, float>> untouched(8, {100.0f, 300.0f});
    for (int level : {1, 2, 3}) {
        Opened o = open(dir, rec, level);
        ASSERT_NE(o.file, nullptr);
        EXPECT_EQ(gazeOfSamples(o.file.get()), level == 2 ? repaired : untouched) << level;
    }
}

TEST(EndToEnd, LateBlinkStartMovesOnlyWhenRepairing) {
    test::TempDir dir;
    Recording rec;
    rec.blockStart(1000).samples(1000, 1010);
    rec.event(EBLINK, 0, 1004, 1010).event(SBLINK, 0, 1012);
    rec.samples(1012, 1016).blockEnd(1016).finish();
    for (int level : {1, 2}) {
        Opened o = open(dir, rec, level);
        ASSERT_NE(o.file, nullptr);
        const ItemEntry* sb = findEntry(*o.file, SBLINK);
        ASSERT_NE(sb, nullptr);
        EXPECT_EQ(sortKey(*sb), level == 2 ? 2020u : 2024u);
        EXPECT_EQ((sb->code & kMarkA) != 0, level == 2);
        std::size_t marked = 0;
        for (const ItemEntry& e : o.file->recording.items.index) {
            if (itemKind(e) == kKindSample && (e.code & (kMarkA | kMarkB))) ++marked;
        }
        // At level 2 the blink now spans the sample of its end time.
        EXPECT_EQ(marked, level == 2 ? 1u : 0u);
        EXPECT_EQ(o.log, "");
    }
}

TEST(EndToEnd, TwoBlinksInOneSaccadeReadAsOne) {
    test::TempDir dir;
    Recording rec;
    rec.blockStart(1000).samples(1000, 1002);
    rec.event(SSACC, 0, 1002);
    rec.event(SBLINK, 0, 1004).samples(1004, 1006).event(EBLINK, 0, 1004, 1006);
    rec.event(SBLINK, 0, 1008).samples(1008, 1010).event(EBLINK, 0, 1008, 1010);
    rec.event(ESACC, 0, 1002, 1012).samples(1012, 1014).blockEnd(1014).finish();

    Opened o = open(dir, rec, 2);
    ASSERT_NE(o.file, nullptr);
    VOKFile* f = o.file.get();
    std::vector<std::pair<int, std::uint32_t>> blinks;  // type, startTime
    for (int t; (t = vok_get_next_data(f)) != 0;) {
        if (t != SBLINK && t != EBLINK) continue;
        const Event* ev = vok_get_event(vok_get_float_data(f));
        ASSERT_NE(ev, nullptr);
        blinks.emplace_back(t, ev->startTime);
    }
    // The remaining end carries the first start's time, not its own 1008.
    EXPECT_EQ(blinks, (std::vector<std::pair<int, std::uint32_t>>{{SBLINK, 1004}, {EBLINK, 1004}}));
    EXPECT_EQ(o.log, "");

    Opened checked = open(dir, rec, 1);
    ASSERT_NE(checked.file, nullptr);
    EXPECT_EQ(vok_get_element_count(checked.file.get()), vok_get_element_count(f) + 2);
}

}  // namespace
}  // namespace vok
