// Bookmarks: setting (once per position, not at the end), walking in the
// order set, freeing and the current bookmark, failures that change nothing.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "nav/VOKFile.h"
#include "nav/Cursor.h"
#include "support/TestSupport.h"

namespace vok {
namespace {

using FilePtr = std::unique_ptr<VOKFile, test::FileCloser>;

// One block of 25 samples at 1000 Hz: 29 items.
FilePtr openBlock(const test::TempDir& dir) {
    vokgen::VokWriter w;
    w.magic().standardPreamble(2, 4).endPreamble();
    vokgen::BlockStartSpec block;
    block.time = 1000;
    block.eye = vokgen::Eye::Left;
    w.startSamples(block);
    for (std::uint32_t t = 1000; t < 1025; ++t) {
        vokgen::SampleSpec s;
        s.flags = VOK_SAMPLE_LEFT | VOK_SAMPLE_GAZE;
        s.time = t;
        s.timeForm = vokgen::TimeForm::Full;
        s.gazeX[0] = static_cast<std::int16_t>(t);
        w.sample(s);
    }
    w.endSamples(1025).endOfRecords();
    int err = 1;
    testing::internal::CaptureStdout();
    VOKFile* f = vok_open_file(dir.write("b.vok", w).c_str(), 0, 1, 1, &err);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(err, 0);
    EXPECT_EQ(f->recording.items.index.size(), 29u);
    return FilePtr(f);
}

BookMark setAt(VOKFile* f, std::uint32_t position) {
    gotoIndex(*f, static_cast<int>(position));
    BookMark b{12345};
    EXPECT_EQ(vok_set_bookmark(f, &b), 0);
    return b;
}

TEST(Bookmarks, SamePositionTwiceIsOneBookmark) {
    test::TempDir dir;
    FilePtr f = openBlock(dir);
    BookMark a = setAt(f.get(), 10);
    BookMark b = setAt(f.get(), 10);
    EXPECT_EQ(a.id, 10u);
    EXPECT_EQ(b.id, 10u);
    EXPECT_EQ(f->bookmarks.ids, std::vector<std::uint32_t>{10});
    EXPECT_EQ(f->bookmarks.current, 0u) << "setting does not change the current bookmark";
}

TEST(Bookmarks, AtTheEndSettingFails) {
    test::TempDir dir;
    FilePtr f = openBlock(dir);
    while (vok_get_next_data(f.get()) != 0) {
    }
    BookMark b{77};
    EXPECT_EQ(vok_set_bookmark(f.get(), &b), -1);
    EXPECT_EQ(b.id, 77u);
    EXPECT_TRUE(f->bookmarks.ids.empty());
}

TEST(Bookmarks, GoingBackReturnsTheSameItem) {
    test::TempDir dir;
    FilePtr f = openBlock(dir);
    for (int i = 0; i < 12; ++i) vok_get_next_data(f.get());
    BookMark b{};
    ASSERT_EQ(vok_set_bookmark(f.get(), &b), 0);
    ASSERT_EQ(vok_get_next_data(f.get()), SAMPLE_TYPE);
    const std::uint32_t time = vok_get_float_data(f.get())->sample.time;
    for (int i = 0; i < 5; ++i) vok_get_next_data(f.get());
    ASSERT_EQ(vok_goto_bookmark(f.get(), &b), 0);
    EXPECT_EQ(f->cursor.position, b.id);
    ASSERT_EQ(vok_get_next_data(f.get()), SAMPLE_TYPE);
    EXPECT_EQ(vok_get_float_data(f.get())->sample.time, time);
}

TEST(Bookmarks, WalkedInTheOrderSet) {
    test::TempDir dir;
    FilePtr f = openBlock(dir);
    BookMark b10 = setAt(f.get(), 10);
    setAt(f.get(), 5);
    setAt(f.get(), 20);
    gotoIndex(*f, 0);

    // Right after opening the first bookmark is current: previous fails,
    // next goes to the second one.
    EXPECT_EQ(vok_goto_previous_bookmark(f.get()), -1);
    EXPECT_EQ(f->cursor.position, 0u);
    ASSERT_EQ(vok_goto_next_bookmark(f.get()), 0);
    EXPECT_EQ(f->cursor.position, 5u);

    ASSERT_EQ(vok_goto_bookmark(f.get(), &b10), 0);
    EXPECT_EQ(f->cursor.position, 10u);
    std::vector<std::uint32_t> forward;
    while (vok_goto_next_bookmark(f.get()) == 0) forward.push_back(f->cursor.position);
    EXPECT_EQ(forward, (std::vector<std::uint32_t>{5, 20}));
    EXPECT_EQ(f->cursor.position, 20u) << "a failed next changes nothing";
    EXPECT_EQ(f->bookmarks.current, 2u);
    std::vector<std::uint32_t> backward;
    while (vok_goto_previous_bookmark(f.get()) == 0) backward.push_back(f->cursor.position);
    EXPECT_EQ(backward, (std::vector<std::uint32_t>{5, 10}));
    EXPECT_EQ(f->bookmarks.current, 0u);
}

TEST(Bookmarks, FreeingKeepsTheCurrentBookmark) {
    test::TempDir dir;
    FilePtr f = openBlock(dir);
    BookMark b10 = setAt(f.get(), 10);
    BookMark b5 = setAt(f.get(), 5);
    BookMark b20 = setAt(f.get(), 20);

    // A bookmark before the current one: the current one keeps its bookmark.
    ASSERT_EQ(vok_goto_bookmark(f.get(), &b20), 0);
    ASSERT_EQ(vok_free_bookmark(f.get(), &b5), 0);
    EXPECT_EQ(f->bookmarks.ids, (std::vector<std::uint32_t>{10, 20}));
    EXPECT_EQ(f->bookmarks.current, 1u);
    ASSERT_EQ(vok_goto_previous_bookmark(f.get()), 0);
    EXPECT_EQ(f->cursor.position, 10u);

    // A bookmark after the current one: nothing moves.
    ASSERT_EQ(vok_free_bookmark(f.get(), &b20), 0);
    EXPECT_EQ(f->bookmarks.current, 0u);

    // Going to a freed bookmark, or freeing it again, fails and changes nothing.
    const std::uint32_t cursor = f->cursor.position;
    EXPECT_EQ(vok_goto_bookmark(f.get(), &b5), -1);
    EXPECT_EQ(vok_free_bookmark(f.get(), &b5), -1);
    EXPECT_EQ(f->cursor.position, cursor);
    EXPECT_EQ(f->bookmarks.ids, std::vector<std::uint32_t>{10});
    EXPECT_EQ(f->bookmarks.current, 0u);

    ASSERT_EQ(vok_free_bookmark(f.get(), &b10), 0);
    EXPECT_EQ(vok_free_bookmark(f.get(), &b10), -1) << "empty list";
    EXPECT_EQ(vok_goto_bookmark(f.get(), &b10), -1);
}

TEST(Bookmarks, FreeingTheCurrentFirstThenNextGoesToTheNewFirst) {
    test::TempDir dir;
    FilePtr f = openBlock(dir);
    BookMark b10 = setAt(f.get(), 10);
    BookMark b5 = setAt(f.get(), 5);
    setAt(f.get(), 20);
    setAt(f.get(), 3);
    ASSERT_EQ(vok_goto_bookmark(f.get(), &b10), 0);
    ASSERT_EQ(vok_free_bookmark(f.get(), &b10), 0);
    EXPECT_EQ(f->bookmarks.current, 0xFFFFFFFFu) << "before the first bookmark";
    EXPECT_EQ(vok_goto_previous_bookmark(f.get()), -1);

    // Freeing the new first one keeps the current bookmark before the first.
    ASSERT_EQ(vok_free_bookmark(f.get(), &b5), 0);
    EXPECT_EQ(f->bookmarks.current, 0xFFFFFFFFu);
    ASSERT_EQ(vok_goto_next_bookmark(f.get()), 0);
    EXPECT_EQ(f->cursor.position, 20u);
    EXPECT_EQ(f->bookmarks.current, 0u);
    ASSERT_EQ(vok_goto_next_bookmark(f.get()), 0);
    EXPECT_EQ(f->cursor.position, 3u);
}

TEST(Bookmarks, LeaveTheCurrentTrialAlone) {
    test::TempDir dir;
    FilePtr f = openBlock(dir);
    BookMark b = setAt(f.get(), 20);
    ASSERT_EQ(vok_jump_to_trial(f.get(), 0), 0);
    f->trials.current = 7;  // a value that no move of the bookmarks may touch
    ASSERT_EQ(vok_goto_bookmark(f.get(), &b), 0);
    EXPECT_EQ(f->trials.current, 7);
}

TEST(Bookmarks, NullHandleAndRecord) {
    BookMark b{3};
    EXPECT_EQ(vok_set_bookmark(nullptr, &b), -1);
    EXPECT_EQ(vok_free_bookmark(nullptr, &b), -1);
    EXPECT_EQ(vok_goto_bookmark(nullptr, &b), -1);
    EXPECT_EQ(vok_goto_next_bookmark(nullptr), -1);
    EXPECT_EQ(vok_goto_previous_bookmark(nullptr), -1);
    test::TempDir dir;
    FilePtr f = openBlock(dir);
    EXPECT_EQ(vok_set_bookmark(f.get(), nullptr), -1);
    EXPECT_TRUE(f->bookmarks.ids.empty());
    setAt(f.get(), 4);
    EXPECT_EQ(vok_free_bookmark(f.get(), nullptr), -1);
    EXPECT_EQ(vok_goto_bookmark(f.get(), nullptr), -1);
    EXPECT_EQ(f->bookmarks.ids.size(), 1u);
    EXPECT_EQ(b.id, 3u);
}

}  // namespace
}  // namespace vok
