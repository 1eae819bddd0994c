// The case recordings of `vokgen cases`: each one opened with the library,
// which must react to it as the case intends (the diagnostics, repairs and
// failures it exists to show), and the writing of all of them into a folder.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Cases.h"
#include "load/ItemIndex.h"
#include "nav/VOKFile.h"
#include "support/TestSupport.h"
#include "vokapi.h"

namespace vok {
namespace {

using FileHandle = std::unique_ptr<VOKFile, test::FileCloser>;

const std::map<std::string, std::vector<std::uint8_t>>& caseBytes() {
    static const std::map<std::string, std::vector<std::uint8_t>> cases = [] {
        std::map<std::string, std::vector<std::uint8_t>> m;
        for (vokgen::RecordingCase& c : vokgen::recordingCases()) m[c.name] = std::move(c.bytes);
        return m;
    }();
    return cases;
}

struct Opened {
    FileHandle file;
    int err = 99;
    std::string log;
};

Opened openCase(const test::TempDir& dir, const std::string& name, int consistency) {
    const std::vector<std::uint8_t>& bytes = caseBytes().at(name);
    const std::string path = dir.write(name, std::string(bytes.begin(), bytes.end()));
    test::LogCapture capture;
    Opened o;
    o.file.reset(vok_open_file(path.c_str(), consistency, 1, 1, &o.err));
    o.log = capture.text();
    return o;
}

// Keys of the index entries of a type (and eye slot, when not 0), with a mark.
std::vector<std::uint64_t> keysOf(const VOKFile& f, int type, std::uint16_t mark = 0, int eye = 0) {
    std::vector<std::uint64_t> keys;
    for (const ItemEntry& e : f.recording.items.index) {
        if (itemType(e) != type || (eye != 0 && eyeSlot(e) != eye)) continue;
        if ((e.code & mark) == mark) keys.push_back(sortKey(e));
    }
    return keys;
}

std::size_t samplesIn(const VOKFile& f) { return keysOf(f, SAMPLE_TYPE).size(); }

const std::string kOutside = "WARNING: VOK FILE MAY BE CORRUPTED. Sample at ";
const std::string kOutsideEnd = " found without start recording. Skipping this sample \n";

TEST(VokgenCases, EveryCaseIsWrittenIntoTheFolder) {
    test::TempDir dir;
    const auto target = dir.path() / "cases";
    const std::vector<std::filesystem::path> written = vokgen::writeRecordingCases(target);
    const std::vector<vokgen::RecordingCase> list = vokgen::recordingCaseList();

    const std::set<std::string> expected = {"sound.vok",
                                            "events-after-block-end.vok",
                                            "block-end-start-same-ms.vok",
                                            "orphan-blink-end.vok",
                                            "sblink-without-eblink.vok",
                                            "two-blinks-in-saccade.vok",
                                            "samples-between-blocks.vok",
                                            "gap-in-block.vok",
                                            "experiment-messages.vok",
                                            "truncated-tail.vok",
                                            "damaged-compressed-body.vok",
                                            "bad-magic.vok"};
    std::set<std::string> names;
    for (const vokgen::RecordingCase& c : list) {
        names.insert(c.name);
        EXPECT_FALSE(c.description.empty()) << c.name;
    }
    EXPECT_EQ(names, expected);
    ASSERT_EQ(written.size(), list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(written[i], target / list[i].name);
        std::ifstream in(written[i], std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes, caseBytes().at(list[i].name)) << list[i].name;
        EXPECT_GT(bytes.size(), 1000u) << list[i].name;
    }
    // The same bytes on every build.
    for (const vokgen::RecordingCase& c : vokgen::recordingCases())
        EXPECT_EQ(c.bytes, caseBytes().at(c.name));
}

TEST(VokgenCases, ReadableCasesOpenStrictlyWithoutChecksAndSilently) {
    // Apart from its one peculiarity each of these is a valid recording: at
    // level 0 nothing is checked, so nothing may be logged.
    test::TempDir dir;
    for (const char* name : {"sound.vok", "events-after-block-end.vok", "block-end-start-same-ms.vok",
                             "orphan-blink-end.vok", "sblink-without-eblink.vok", "two-blinks-in-saccade.vok",
                             "samples-between-blocks.vok", "gap-in-block.vok", "experiment-messages.vok"}) {
        Opened o = openCase(dir, name, 0);
        ASSERT_NE(o.file, nullptr) << name << ": " << o.log;
        EXPECT_EQ(o.err, 0) << name;
        EXPECT_EQ(o.log, "") << name;
        EXPECT_GE(samplesIn(*o.file), 1980u) << name;
    }
}

TEST(VokgenCases, SoundRecordingLogsNothingAtAnyLevel) {
    test::TempDir dir;
    for (int level : {1, 2}) {
        Opened o = openCase(dir, "sound.vok", level);
        ASSERT_NE(o.file, nullptr) << o.log;
        EXPECT_EQ(o.log, "") << level;
        EXPECT_EQ(samplesIn(*o.file), 2000u) << level;
        EXPECT_EQ(keysOf(*o.file, SBLINK).size(), 8u) << level;  // two blinks of both eyes per block
        EXPECT_EQ(keysOf(*o.file, SFIX, kMarkA).size(), 0u) << level;
    }
}

TEST(VokgenCases, DiagnosticsAtLevelsOneAndTwo) {
    struct Case {
        const char* name;
        const char* level1;
        const char* level2;
    };
    const std::string outside3002 = kOutside + "3002" + kOutsideEnd;
    const std::string outside3004 = kOutside + "3004" + kOutsideEnd;
    const std::string between = outside3002 + outside3004;
    const Case cases[] = {
        {"samples-between-blocks.vok", between.c_str(), between.c_str()},
        {"sblink-without-eblink.vok", "No matching EBLINK found for SBLINK  2614 \n",
         "No matching EBLINK found for SBLINK  2614 \n"},
        // The first orphan is noticed only when a second end of that eye
        // follows it with no start in between.
        {"orphan-blink-end.vok", "found EBLINK  with no SBLINK 2738 \n",
         "found EBLINK  with no SBLINK 2738 \n"},
        {"events-after-block-end.vok", "", ""},
        {"block-end-start-same-ms.vok", "", ""},
        {"two-blinks-in-saccade.vok", "", ""},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        Opened o1 = openCase(dir, c.name, 1);
        Opened o2 = openCase(dir, c.name, 2);
        ASSERT_NE(o1.file, nullptr) << c.name;
        ASSERT_NE(o2.file, nullptr) << c.name;
        EXPECT_EQ(o1.log, c.level1) << c.name;
        EXPECT_EQ(o2.log, c.level2) << c.name;
    }
}

TEST(VokgenCases, SamplesBetweenBlocksAreRemoved) {
    test::TempDir dir;
    Opened plain = openCase(dir, "samples-between-blocks.vok", 0);
    Opened checked = openCase(dir, "samples-between-blocks.vok", 1);
    ASSERT_NE(plain.file, nullptr);
    ASSERT_NE(checked.file, nullptr);
    EXPECT_EQ(samplesIn(*plain.file), 2002u);
    EXPECT_EQ(samplesIn(*checked.file), 2000u);
    EXPECT_EQ(vok_get_element_count(checked.file.get()), vok_get_element_count(plain.file.get()) - 2);
}

TEST(VokgenCases, GapInABlockIsFilledOnlyWhenRepairing) {
    test::TempDir dir;
    Opened checked = openCase(dir, "gap-in-block.vok", 1);
    Opened repaired = openCase(dir, "gap-in-block.vok", 2);
    ASSERT_NE(checked.file, nullptr);
    ASSERT_NE(repaired.file, nullptr);
    EXPECT_EQ(checked.log, "");
    // Counted from the last sample before the gap (2098) to the first after
    // it (2140) in sample periods.
    EXPECT_NE(repaired.log.find("Missing 21 samples. Inserting dummy samples \n"), std::string::npos)
        << repaired.log;
    EXPECT_EQ(samplesIn(*checked.file), 1980u);
    EXPECT_EQ(samplesIn(*repaired.file), 2000u);
    std::vector<std::uint64_t> placeholders;
    for (const ItemEntry& e : repaired.file->recording.items.index) {
        if (itemType(e) == SAMPLE_TYPE && e.position == 0xFFFFFFFFu) placeholders.push_back(sortKey(e));
    }
    ASSERT_EQ(placeholders.size(), 20u);
    EXPECT_EQ(placeholders.front(), 2u * 2100);
    EXPECT_EQ(placeholders.back(), 2u * 2138);
}

TEST(VokgenCases, EventsAfterABlockEndMoveToTheBlockEdges) {
    test::TempDir dir;
    Opened plain = openCase(dir, "events-after-block-end.vok", 0);
    ASSERT_NE(plain.file, nullptr);
    // As stamped: the fixation ends at 3004 and the next starts at 3010.
    EXPECT_EQ(keysOf(*plain.file, EFIX, 0).size(), 20u);
    EXPECT_EQ(keysOf(*plain.file, EFIX, kMarkA), std::vector<std::uint64_t>{});
    EXPECT_EQ(keysOf(*plain.file, SFIX, 0).front(), 2u * 1000);
    for (int level : {1, 2}) {
        Opened o = openCase(dir, "events-after-block-end.vok", level);
        ASSERT_NE(o.file, nullptr);
        EXPECT_EQ(keysOf(*o.file, EFIX, kMarkA), (std::vector<std::uint64_t>{6000, 6000})) << level;
        EXPECT_EQ(keysOf(*o.file, SFIX, kMarkA), (std::vector<std::uint64_t>{8000, 8000})) << level;
    }
    std::size_t stamped = 0;
    for (const ItemEntry& e : plain.file->recording.items.index) {
        if ((itemType(e) == EFIX && sortKey(e) == 6008) || (itemType(e) == SFIX && sortKey(e) == 6020))
            ++stamped;
    }
    EXPECT_EQ(stamped, 4u);
}

TEST(VokgenCases, BlockEndAndStartInOneMillisecondAreMerged) {
    // Merged, the end sorts after every item of 3000 and the start just
    // after it; block 2's first sample (3000) still counts.
    test::TempDir dir;
    for (int level : {0, 1, 2}) {
        Opened o = openCase(dir, "block-end-start-same-ms.vok", level);
        ASSERT_NE(o.file, nullptr);
        std::vector<std::pair<std::uint64_t, int>> records;  // key, merged
        for (const ItemEntry& e : o.file->recording.items.index) {
            if (itemType(e) == RECORDING_INFO) records.emplace_back(sortKey(e), e.recording->merged);
        }
        const std::vector<std::pair<std::uint64_t, int>> expected =
            level == 0
                ? std::vector<std::pair<std::uint64_t, int>>{{2000, 0}, {6000, 0}, {6000, 0}, {10000, 0}}
                : std::vector<std::pair<std::uint64_t, int>>{{2000, 0}, {6001, 1}, {6002, 1}, {10000, 0}};
        EXPECT_EQ(records, expected) << level;
        EXPECT_EQ(samplesIn(*o.file), 2000u) << level;
    }
}

TEST(VokgenCases, OrphanBlinkEndTakesTheNextStartOnlyWhenRepairing) {
    // In block 2 the orphan end at 4958 is followed by a complete blink from
    // 5614: repairing moves that start back to the orphan.
    test::TempDir dir;
    Opened checked = openCase(dir, "orphan-blink-end.vok", 1);
    Opened repaired = openCase(dir, "orphan-blink-end.vok", 2);
    ASSERT_NE(checked.file, nullptr);
    ASSERT_NE(repaired.file, nullptr);
    EXPECT_EQ(keysOf(*checked.file, SBLINK, 0, 1), (std::vector<std::uint64_t>{2u * 5614}));
    EXPECT_EQ(keysOf(*checked.file, SBLINK, kMarkA, 1), std::vector<std::uint64_t>{});
    EXPECT_EQ(keysOf(*repaired.file, SBLINK, kMarkA, 1), (std::vector<std::uint64_t>{2u * 4958}));
    // The right eye's blinks are complete and stay where they are.
    EXPECT_EQ(keysOf(*repaired.file, SBLINK, 0, 2),
              (std::vector<std::uint64_t>{2u * 1820, 2u * 2614, 2u * 4820, 2u * 5614}));
}

TEST(VokgenCases, TwoBlinksInOneSaccadeAreJoinedWhenRepairing) {
    test::TempDir dir;
    Opened checked = openCase(dir, "two-blinks-in-saccade.vok", 1);
    Opened repaired = openCase(dir, "two-blinks-in-saccade.vok", 2);
    ASSERT_NE(checked.file, nullptr);
    ASSERT_NE(repaired.file, nullptr);
    EXPECT_EQ(vok_get_element_count(checked.file.get()), vok_get_element_count(repaired.file.get()) + 4);
    for (int eye : {1, 2}) {
        EXPECT_EQ(keysOf(*checked.file, SBLINK, 0, eye).size(), 5u) << eye;
        EXPECT_EQ(keysOf(*repaired.file, SBLINK, 0, eye).size(), 4u) << eye;
        EXPECT_EQ(keysOf(*repaired.file, EBLINK, kMarkB, eye), (std::vector<std::uint64_t>{2u * 1958}))
            << eye;
        EXPECT_EQ(keysOf(*checked.file, EBLINK, kMarkB, eye), std::vector<std::uint64_t>{}) << eye;
    }
}

TEST(VokgenCases, CutAndDamagedFilesFailStrictlyAndOpenTolerantly) {
    test::TempDir dir;
    for (const char* name : {"truncated-tail.vok", "damaged-compressed-body.vok"}) {
        for (int level : {0, 1, 2}) {
            Opened strict = openCase(dir, name, level);
            EXPECT_EQ(strict.file, nullptr) << name << " " << level;
            EXPECT_EQ(strict.err, -1) << name << " " << level;
            EXPECT_NE(strict.log, "") << name << " " << level;

            Opened tolerant = openCase(dir, name, level | VOK_TOLERANT_READING);
            ASSERT_NE(tolerant.file, nullptr) << name << " " << level << ": " << tolerant.log;
            EXPECT_EQ(tolerant.err, 0);
            EXPECT_NE(tolerant.log, "") << name << " " << level;
            // Every record before the cut: block 1 and block 2 up to 4998.
            const std::vector<std::uint64_t> samples = keysOf(*tolerant.file, SAMPLE_TYPE);
            EXPECT_EQ(samples.size(), 1500u) << name << " " << level;
            ASSERT_FALSE(samples.empty());
            EXPECT_EQ(samples.back(), 2u * 4998) << name << " " << level;
        }
    }
}

TEST(VokgenCases, BadMagicFailsAtEveryLevel) {
    test::TempDir dir;
    for (int consistency : {0, 1, 2, 1 | VOK_TOLERANT_READING}) {
        Opened o = openCase(dir, "bad-magic.vok", consistency);
        EXPECT_EQ(o.file, nullptr) << consistency;
        EXPECT_EQ(o.err, -1) << consistency;
        EXPECT_NE(o.log.find("Bad magic.  Corrupt vok file. \n"), std::string::npos) << o.log;
    }
}

}  // namespace
}  // namespace vok
