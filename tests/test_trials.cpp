// Trials: one per recording block without identifiers; start and end
// messages; "!V" messages; the open trial dropped at the end; input split;
// rebuilding; the jumps and the header; the covering recording; the cursor
// and the record put back after building.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "nav/VOKFile.h"
#include "nav/Cursor.h"
#include "nav/Trials.h"
#include "support/BlockRecording.h"
#include "support/TestSupport.h"

namespace vok {
namespace {

using Recording = test::BlockRecording;

using FilePtr = std::unique_ptr<VOKFile, test::FileCloser>;

FilePtr openRecording(const test::TempDir& dir, Recording& r) {
    int err = 1;
    testing::internal::CaptureStdout();  // the open's own progress line
    VOKFile* f = vok_open_file(dir.write("t.vok", r.done()).c_str(), 0, 1, 1, &err);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(err, 0);
    return FilePtr(f);
}

// Position of the first item of the type whose time is t (RECORDING_INFO
// items: the start or end record by state).
std::uint32_t positionOf(const VOKFile& f, int type, std::uint32_t t, int state = -1) {
    for (std::uint32_t i = 0; i < f.recording.items.index.size(); ++i) {
        const ItemEntry& e = f.recording.items.index[i];
        if (itemType(e) != type || (sortKey(e) >> 1) != t) continue;
        if (state >= 0 && e.recording->state != state) continue;
        return i;
    }
    ADD_FAILURE() << "no item of type " << type << " at " << t;
    return 0;
}

struct Expected {
    std::uint32_t startIndex, endIndex, startTime, endTime;
    const RecordingInfo* recording;
};

void expectTrials(const VOKFile& f, const std::vector<Expected>& expected) {
    ASSERT_EQ(f.trials.entries.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const TrialEntry& t = f.trials.entries[k];
        const Expected& e = expected[k];
        EXPECT_EQ(t.startIndex, e.startIndex) << "trial " << k;
        EXPECT_EQ(t.endIndex, e.endIndex) << "trial " << k;
        EXPECT_EQ(t.startTime, e.startTime) << "trial " << k;
        EXPECT_EQ(t.endTime, e.endTime) << "trial " << k;
        EXPECT_EQ(t.duration, e.endTime - e.startTime) << "trial " << k;
        EXPECT_EQ(t.recording, e.recording) << "trial " << k;
    }
}

const RecordingInfo* startRecord(const VOKFile& f, std::uint32_t t) {
    return f.recording.items.index[positionOf(f, RECORDING_INFO, t, 1)].recording;
}

Recording twoBlocks() {
    Recording r;
    r.blockStart(1000).samples(1000, 1090, 10).message(1050, "between").blockEnd(1100);
    r.message(1500, "pause").message(1600, "pause 2");
    r.blockStart(2000).samples(2000, 2090, 10).blockEnd(2100);
    return r;
}

TEST(Trials, OnePerBlockWithoutIdentifiers) {
    test::TempDir dir;
    Recording r = twoBlocks();
    FilePtr f = openRecording(dir, r);
    ASSERT_NE(f, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(vok_get_trial_count(f.get()), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    expectTrials(*f, {{positionOf(*f, RECORDING_INFO, 1000, 1), positionOf(*f, RECORDING_INFO, 1100, 0) + 1,
                       1000, 1100, startRecord(*f, 1000)},
                      {positionOf(*f, RECORDING_INFO, 2000, 1), positionOf(*f, RECORDING_INFO, 2100, 0) + 1,
                       2000, 2100, startRecord(*f, 2000)}});
    EXPECT_EQ(f->trials.entries[1].endIndex, f->recording.items.index.size()) << "the last recording end is the last item";
    EXPECT_EQ(startRecord(*f, 1000)->state, 1);
}

TEST(Trials, StartAndEndMessagesAroundABlock) {
    // The end message inside the block, and after the block's end.
    for (std::uint32_t endAt : {1055u, 1200u}) {
        test::TempDir dir;
        Recording r;
        r.message(900, "TRIAL_START A7").blockStart(1000).samples(1000, 1090, 10);
        if (endAt < 1100) r.message(endAt, "B done");
        r.blockEnd(1100);
        if (endAt > 1100) r.message(endAt, "B done");
        FilePtr f = openRecording(dir, r);
        ASSERT_NE(f, nullptr);
        testing::internal::CaptureStdout();
        EXPECT_EQ(vok_set_trial_identifier(f.get(), "A7", "B done"), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "setTrial End:  B done\n");
        EXPECT_STREQ(vok_get_start_trial_identifier(f.get()), "A7");
        EXPECT_STREQ(vok_get_end_trial_identifier(f.get()), "B done");
        expectTrials(*f, {{positionOf(*f, MESSAGEEVENT, 900), positionOf(*f, MESSAGEEVENT, endAt) + 1, 900,
                           endAt, startRecord(*f, 1000)}});
    }
}

TEST(Trials, MessagesMarkedVCountForNeither) {
    test::TempDir dir;
    Recording r;
    r.message(900, "!V A7 frame").blockStart(1000).samples(1000, 1090, 10);
    r.message(1050, "!V B done").blockEnd(1100).message(1200, "B done");
    FilePtr f = openRecording(dir, r);
    testing::internal::CaptureStdout();
    vok_set_trial_identifier(f.get(), "A7", "B done");
    testing::internal::GetCapturedStdout();
    // The block start opens the trial; only the plain end message ends it.
    expectTrials(*f, {{positionOf(*f, RECORDING_INFO, 1000, 1), positionOf(*f, MESSAGEEVENT, 1200) + 1, 1000,
                       1200, startRecord(*f, 1000)}});
}

TEST(Trials, AMessageWithBothIdentifiersStarts) {
    test::TempDir dir;
    Recording r;
    r.message(900, "x").blockStart(1000).samples(1000, 1090, 10).message(1040, "A and B");
    r.message(1060, "B").blockEnd(1100);
    FilePtr f = openRecording(dir, r);
    testing::internal::CaptureStdout();
    vok_set_trial_identifier(f.get(), "A", "B");
    testing::internal::GetCapturedStdout();
    const RecordingInfo* rec = startRecord(*f, 1000);
    expectTrials(
        *f, {{positionOf(*f, RECORDING_INFO, 1000, 1), positionOf(*f, MESSAGEEVENT, 1040), 1000, 1040, rec},
             {positionOf(*f, MESSAGEEVENT, 1040), positionOf(*f, MESSAGEEVENT, 1060) + 1, 1040, 1060, rec}});
}

TEST(Trials, OpenTrialWithoutEndIsRemoved) {
    test::TempDir dir;
    Recording r;
    r.blockStart(1000).samples(1000, 1090, 10).blockEnd(1100).message(1200, "start A");
    FilePtr f = openRecording(dir, r);
    testing::internal::CaptureStdout();
    vok_set_trial_identifier(f.get(), "start A", nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Set TrialEndMesage Empty\nremoved last trial\n");
    // The block's trial ends just before the next start message.
    expectTrials(*f, {{0, positionOf(*f, MESSAGEEVENT, 1200), 1000, 1200, startRecord(*f, 1000)}});
}

TEST(Trials, EndOfAnUnendedTrialAtTheLastBlockEnd) {
    test::TempDir dir;
    Recording r;
    r.message(900, "x").message(950, "A").blockStart(1000).samples(1000, 1090, 10).blockEnd(1100);
    r.blockStart(2000).samples(2000, 2020, 10).blockEnd(2100);
    FilePtr f = openRecording(dir, r);
    testing::internal::CaptureStdout();
    vok_set_trial_identifier(f.get(), "A", "B");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "setTrial End:  B\n");
    // The first trial ends with its block when the next block starts; the
    // second, opened by its block start, ends with the last block end.
    expectTrials(*f, {{positionOf(*f, MESSAGEEVENT, 950), positionOf(*f, RECORDING_INFO, 1100, 0) + 1, 950,
                       1100, startRecord(*f, 1000)},
                      {positionOf(*f, RECORDING_INFO, 2000, 1), positionOf(*f, RECORDING_INFO, 2100, 0) + 1,
                       2000, 2100, startRecord(*f, 2000)}});
}

TEST(Trials, InputSplit) {
    test::TempDir dir;
    Recording r;
    r.message(900, "x").blockStart(1000).samples(1000, 1090, 10).input(1010, 5);
    r.message(1020, "inPut_type_5").message(1030, "6").input(1040, 7).input(1050, 6).blockEnd(1100);
    FilePtr f = openRecording(dir, r);
    testing::internal::CaptureStdout();
    EXPECT_EQ(vok_set_trial_identifier(f.get(), "inPut_type_5", "6"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "setTrial End:  6\n"
              "Input Split option found :inPut_type_5  5\n"
              "!!!!!!!!!!!!!!!!!!!B\n"
              "!!!!!!!!!!!!!!!!!!!!!!A\n"
              " Start Input: 5\n End Input: 6\n");
    EXPECT_STREQ(vok_get_start_trial_identifier(f.get()), "5");
    const RecordingInfo* rec = startRecord(*f, 1000);
    // Messages play no part; input 5 starts, input 6 ends.
    expectTrials(
        *f, {{positionOf(*f, RECORDING_INFO, 1000, 1), positionOf(*f, INPUTEVENT, 1010), 1000, 1010, rec},
             {positionOf(*f, INPUTEVENT, 1010), positionOf(*f, INPUTEVENT, 1050) + 1, 1010, 1050, rec}});

    // The option stays on; identifiers that are not 1 to 3 characters give 0.
    testing::internal::CaptureStdout();
    vok_set_trial_identifier(f.get(), "7", "long");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "setTrial End:  long\n!!!!!!!!!!!!!!!!!!!B\n Start Input: 7\n End Input: 0\n");
    EXPECT_TRUE(f->trials.inputSplit);
    ASSERT_EQ(f->trials.entries.size(), 2u);
    EXPECT_EQ(f->trials.entries[1].startIndex, positionOf(*f, INPUTEVENT, 1040));
}

Recording blockWithRepeatedTrials() {
    Recording r;
    r.message(900, "x").blockStart(1000).samples(1000, 1090, 10);
    r.message(1010, "A").message(1020, "B").message(1030, "A").message(1040, "B").blockEnd(1100);
    r.blockStart(2000).samples(2000, 2090, 10).blockEnd(2100);
    return r;
}

TEST(Trials, RebuildKeepsTheCurrentNumberAndShrinksSafely) {
    test::TempDir dir;
    Recording r = blockWithRepeatedTrials();
    FilePtr f = openRecording(dir, r);
    testing::internal::CaptureStdout();
    vok_set_trial_identifier(f.get(), "A", "B");
    ASSERT_EQ(vok_get_trial_count(f.get()), 4);
    ASSERT_EQ(vok_jump_to_trial(f.get(), 3), 0);
    Trial header{};
    ASSERT_EQ(vok_get_trial_header(f.get(), &header), 0);
    EXPECT_EQ(header.startTime, 2000u);

    vok_set_trial_identifier(f.get(), "A", "B");  // same list again
    EXPECT_EQ(f->trials.current, 3);
    EXPECT_EQ(vok_get_trial_header(f.get(), &header), 0);

    vok_set_trial_identifier(f.get(), nullptr, nullptr);  // one trial per block
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(vok_get_trial_count(f.get()), 2);
    EXPECT_EQ(f->trials.current, 3) << "rebuilding does not reset the current trial";
    header = Trial{nullptr, 1, 2, 3};
    EXPECT_EQ(vok_get_trial_header(f.get(), &header), -1);
    EXPECT_EQ(header.duration, 1u) << "the header is left alone";
    EXPECT_EQ(currentTrialEntry(*f), nullptr);
    const std::uint32_t cursor = f->cursor.position;
    EXPECT_EQ(vok_goto_next_trial(f.get()), -1);
    EXPECT_EQ(vok_goto_previous_trial(f.get()), -1) << "trial 2 does not exist either";
    EXPECT_EQ(f->cursor.position, cursor);
    EXPECT_EQ(vok_jump_to_trial(f.get(), 1), 0);
    EXPECT_EQ(currentTrialEntry(*f), &f->trials.entries[1]);
}

TEST(Trials, SeveralTrialsInABlockThatStartsTheFile) {
    // The recording start is item 0: every trial of its block still closes.
    test::TempDir dir;
    Recording r;
    r.blockStart(1000).samples(1000, 1090, 10);
    r.message(1010, "A").message(1020, "B").message(1030, "A").message(1040, "B").blockEnd(1100);
    FilePtr f = openRecording(dir, r);
    testing::internal::CaptureStdout();
    vok_set_trial_identifier(f.get(), "A", "B");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("removed last trial"), std::string::npos) << out;
    ASSERT_EQ(vok_get_trial_count(f.get()), 3);  // the lead-in from the block start, then A..B twice
    const RecordingInfo* block = startRecord(*f, 1000);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(f->trials.entries[static_cast<std::size_t>(k)].recording, block) << k;
    EXPECT_EQ(f->trials.entries[1].startTime, 1010u);
    EXPECT_EQ(f->trials.entries[1].endTime, 1020u);
    EXPECT_EQ(f->trials.entries[2].startTime, 1030u);
    EXPECT_EQ(f->trials.entries[2].endTime, 1040u);
}

TEST(Trials, JumpsAndHeader) {
    test::TempDir dir;
    Recording r = twoBlocks();
    FilePtr f = openRecording(dir, r);
    Trial header{};
    EXPECT_EQ(vok_get_trial_header(f.get(), &header), -1) << "no current trial before a jump";
    EXPECT_EQ(vok_get_trial_header(f.get(), nullptr), -1);
    EXPECT_EQ(f->cursor.position, 0u);

    // Right after opening, next goes to trial 0; the next step returns its first item.
    ASSERT_EQ(vok_goto_next_trial(f.get()), 0);
    EXPECT_EQ(f->trials.current, 0);
    EXPECT_EQ(vok_goto_previous_trial(f.get()), -1);
    EXPECT_EQ(vok_get_next_data(f.get()), RECORDING_INFO);
    ASSERT_EQ(vok_get_trial_header(f.get(), &header), 0);
    EXPECT_EQ(header.recording, startRecord(*f, 1000));
    EXPECT_EQ(header.startTime, 1000u);
    EXPECT_EQ(header.endTime, 1100u);
    EXPECT_EQ(header.duration, 100u);
    EXPECT_EQ(f->cursor.position, 1u) << "the header does not move the cursor";

    ASSERT_EQ(vok_goto_next_trial(f.get()), 0);
    EXPECT_EQ(f->cursor.position, f->trials.entries[1].startIndex);
    const std::uint32_t cursor = f->cursor.position;
    EXPECT_EQ(vok_goto_next_trial(f.get()), -1) << "past the last trial";
    EXPECT_EQ(f->cursor.position, cursor);
    EXPECT_EQ(f->trials.current, 1);
    EXPECT_EQ(vok_jump_to_trial(f.get(), 2), -1);
    EXPECT_EQ(vok_jump_to_trial(f.get(), -1), -1);
    EXPECT_EQ(f->cursor.position, cursor);

    // Exact times only.
    EXPECT_EQ(vok_goto_trial_with_start_time(f.get(), 1001), -1);
    EXPECT_EQ(vok_goto_trial_with_end_time(f.get(), 1099), -1);
    EXPECT_EQ(f->cursor.position, cursor);
    EXPECT_EQ(f->trials.current, 1);
    EXPECT_EQ(vok_goto_trial_with_start_time(f.get(), 1000), 0);
    EXPECT_EQ(f->trials.current, 0);
    EXPECT_EQ(f->cursor.position, f->trials.entries[0].startIndex);
    EXPECT_EQ(vok_goto_trial_with_end_time(f.get(), 2100), 0);
    EXPECT_EQ(f->trials.current, 1);
    EXPECT_EQ(vok_get_next_data(f.get()), RECORDING_INFO);
    EXPECT_EQ(vok_get_float_data(f.get())->recording.time, 2000u);
}

TEST(Trials, GotoIndexUpdatesTheCurrentTrialOnceBuilt) {
    test::TempDir dir;
    Recording r = twoBlocks();
    FilePtr f = openRecording(dir, r);
    const int second = static_cast<int>(positionOf(*f, RECORDING_INFO, 2000, 1));
    gotoIndex(*f, second);
    EXPECT_EQ(f->cursor.position, static_cast<std::uint32_t>(second));
    EXPECT_FALSE(f->trials.built) << "not built by a move";
    EXPECT_EQ(f->trials.current, -1);

    ASSERT_EQ(vok_get_trial_count(f.get()), 2);
    gotoIndex(*f, 3);
    EXPECT_EQ(f->trials.current, 0);
    gotoIndex(*f, second + 2);
    EXPECT_EQ(f->trials.current, 1);
    // Between the blocks: no trial covers it, the current one stays.
    gotoIndex(*f, static_cast<int>(positionOf(*f, MESSAGEEVENT, 1600)));
    EXPECT_EQ(f->trials.current, 1);
    // A trial's end index (one past its last item) still counts as inside.
    gotoIndex(*f, static_cast<int>(f->trials.entries[0].endIndex));
    EXPECT_EQ(f->trials.current, 0);
    const std::uint32_t cursor = f->cursor.position;
    gotoIndex(*f, -5);
    gotoIndex(*f, static_cast<int>(f->recording.items.index.size()) + 3);
    EXPECT_EQ(f->cursor.position, cursor);
    EXPECT_EQ(f->trials.current, 0);
}

TEST(Trials, RecordingCoveringTimeTakesTheLastTrial) {
    test::TempDir dir;
    Recording r = blockWithRepeatedTrials();
    FilePtr f = openRecording(dir, r);
    // Built on demand.
    EXPECT_EQ(recordingCoveringTime(*f, 2050), startRecord(*f, 2000));
    EXPECT_TRUE(f->trials.built);
    EXPECT_EQ(recordingCoveringTime(*f, 1500), nullptr);
    EXPECT_EQ(recordingCoveringTime(*f, 10), nullptr);

    testing::internal::CaptureStdout();
    vok_set_trial_identifier(f.get(), "A", "B");
    testing::internal::GetCapturedStdout();
    // Time 1010 ends trial 0 and starts trial 1; both carry the first block,
    // and the last one is taken.
    ASSERT_GE(f->trials.entries.size(), 2u);
    f->trials.entries[0].recording =
        f->recording.items.index[positionOf(*f, RECORDING_INFO, 2000, 1)].recording;  // tell the two apart
    EXPECT_EQ(recordingCoveringTime(*f, 1010), startRecord(*f, 1000));
    EXPECT_EQ(recordingCoveringTime(*f, 1005), startRecord(*f, 2000));
}

TEST(Trials, BuildingPutsTheCursorAndTheRecordBack) {
    test::TempDir dir;
    Recording r = blockWithRepeatedTrials();
    FilePtr f = openRecording(dir, r);
    ASSERT_EQ(vok_get_next_data(f.get()), MESSAGEEVENT);
    FloatData* d = vok_get_float_data(f.get());
    ASSERT_NE(d, nullptr);
    ASSERT_NE(d->event.message, nullptr);
    ASSERT_STREQ(d->event.message->c, "x");
    const FloatData before = *d;

    testing::internal::CaptureStdout();
    vok_set_trial_identifier(f.get(), "A", "B");  // reads every message
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(f->cursor.position, 1u);
    EXPECT_EQ(std::memcmp(d, &before, sizeof before), 0);
    EXPECT_STREQ(d->event.message->c, "x");
    EXPECT_EQ(vok_get_next_data(f.get()), RECORDING_INFO);
}

TEST(Trials, UnreadableMessagesMatchNothing) {
    test::TempDir dir;
    Recording r;
    r.message(900, "x").blockStart(1000).samples(1000, 1050, 10).message(1060, "A").blockEnd(1100);
    FilePtr f = openRecording(dir, r);
    // Point the message at a byte that is not a record.
    f->recording.items.index[positionOf(*f, MESSAGEEVENT, 1060)].position = 0x7FFFFFF0u;
    test::LogCapture capture;
    testing::internal::CaptureStdout();
    vok_set_trial_identifier(f.get(), "A", "B");
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(capture.contains("Error ")) << capture.text();
    ASSERT_EQ(f->trials.entries.size(), 1u);
    EXPECT_EQ(f->trials.entries[0].startIndex, positionOf(*f, RECORDING_INFO, 1000, 1));
}

TEST(Trials, NullHandleAndPointers) {
    EXPECT_EQ(vok_set_trial_identifier(nullptr, "a", "b"), -1);
    EXPECT_EQ(vok_get_start_trial_identifier(nullptr), nullptr);
    EXPECT_EQ(vok_get_end_trial_identifier(nullptr), nullptr);
    EXPECT_EQ(vok_get_trial_count(nullptr), 0);
    EXPECT_EQ(vok_jump_to_trial(nullptr, 0), -1);
    Trial t{};
    EXPECT_EQ(vok_get_trial_header(nullptr, &t), -1);
    EXPECT_EQ(vok_goto_previous_trial(nullptr), -1);
    EXPECT_EQ(vok_goto_next_trial(nullptr), -1);
    EXPECT_EQ(vok_goto_trial_with_start_time(nullptr, 0), -1);
    EXPECT_EQ(vok_goto_trial_with_end_time(nullptr, 0), -1);

    test::TempDir dir;
    Recording r;
    FilePtr f = openRecording(dir, r);  // no items at all
    EXPECT_EQ(vok_get_trial_count(f.get()), 0);
    EXPECT_EQ(vok_goto_next_trial(f.get()), -1);
    EXPECT_EQ(vok_get_start_trial_identifier(f.get()), nullptr);
}

}  // namespace
}  // namespace vok
