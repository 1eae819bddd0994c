// The regular time grid: segments and rows worked out by hand on small
// recordings, and on random ones the invariant that every sample the walk
// serves stands at its row's grid time.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/TestSupport.h"
#include "vokapi_ext.h"

namespace vok {
namespace {

using vokgen::BlockStartSpec;
using vokgen::SampleSpec;
using vokgen::TimeForm;

class Rec : public vokgen::VokWriter {
public:
    Rec() { magic().standardPreamble(2, 4).endPreamble(); }
    Rec& begin(std::uint32_t t, double rate) {
        BlockStartSpec b;
        b.time = t;
        b.sampleRate = rate;
        b.eye = vokgen::Eye::Left;
        startSamples(b);
        startEvents(b);
        return *this;
    }
    Rec& end(std::uint32_t t) {
        endSamples(t);
        endEvents(t);
        return *this;
    }
    Rec& at(std::uint32_t t) {
        SampleSpec s;
        s.flags = VOK_SAMPLE_LEFT | VOK_SAMPLE_GAZE;
        s.time = t;
        s.timeForm = TimeForm::Full;
        sample(s);
        return *this;
    }
};

struct Planned {
    std::vector<VOKEXT_GridSegment> segments;
    std::vector<double> times;  // served sample times, walk order
    std::vector<std::int64_t> rows;
    VOKEXT_GridCursor cursor{};
};

// Plans the grid and places every sample the walk serves, a few per call.
Planned plan(VOKFile* f, std::uint32_t mode) {
    Planned p;
    const std::int64_t n = vokext_grid_plan(f, mode, nullptr, 0);
    EXPECT_GE(n, 0);
    p.segments.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(vokext_grid_plan(f, mode, p.segments.data(), static_cast<std::uint32_t>(n)), n);
    EXPECT_EQ(vokext_rewind(f), 0);
    std::vector<std::uint32_t> position(3);
    std::vector<double> time(3);
    for (;;) {
        VOKEXT_Batch b{};
        b.kinds = VOKEXT_SAMPLES;
        b.sampleCapacity = 3;
        b.samples.position = position.data();
        b.samples.timeMs = time.data();
        const int more = vokext_read_batch(f, &b);
        EXPECT_GE(more, 0);
        std::vector<std::int64_t> rows(b.sampleCount);
        EXPECT_EQ(vokext_grid_rows(f, p.segments.data(), static_cast<std::uint32_t>(n), &p.cursor, position.data(),
                                   b.sampleCount, rows.data()),
                  0);
        p.rows.insert(p.rows.end(), rows.begin(), rows.end());
        p.times.insert(p.times.end(), time.begin(), time.begin() + b.sampleCount);
        if (more <= 0) break;
    }
    return p;
}

test::OpenedRecording open(const test::TempDir& dir, Rec& r, int consistency = 0) {
    r.endOfRecords();
    return test::openWritten(dir, r, consistency);
}

TEST(GridTest, MissingSamplesInsideABlockAreEmptyRows) {
    test::TempDir dir;
    Rec r;
    r.begin(1000, 500).at(1000).at(1002).at(1004).at(1010).end(1011);
    auto rec = open(dir, r);
    const Planned p = plan(rec.file.get(), VOKEXT_GRID_BLOCKS);
    ASSERT_EQ(p.segments.size(), 1u);
    const VOKEXT_GridSegment& s = p.segments[0];
    EXPECT_EQ(s.rows, 6u);
    EXPECT_EQ(s.firstRow, 0u);
    EXPECT_DOUBLE_EQ(s.firstTimeMs, 1000.0);
    EXPECT_DOUBLE_EQ(s.stepMs, 2.0);
    EXPECT_EQ(s.rate, 500.0f);
    EXPECT_EQ(s.samples, 4u);
    EXPECT_EQ(p.rows, (std::vector<std::int64_t>{0, 1, 2, 5}));
    EXPECT_EQ(p.cursor.unplaced, 0u);
}

TEST(GridTest, BlocksAtOneRateJoinOnlyInTheContinuousMode) {
    test::TempDir dir;
    Rec r;
    r.begin(100, 1000).at(100).at(101).at(102).at(103).at(104).end(105);
    r.begin(110, 1000).at(110).at(111).at(112).end(113);
    auto rec = open(dir, r);

    const Planned blocks = plan(rec.file.get(), VOKEXT_GRID_BLOCKS);
    ASSERT_EQ(blocks.segments.size(), 2u);
    EXPECT_EQ(blocks.segments[0].rows, 5u);
    EXPECT_EQ(blocks.segments[1].rows, 3u);
    EXPECT_EQ(blocks.segments[1].firstRow, 5u);
    EXPECT_DOUBLE_EQ(blocks.segments[1].firstTimeMs, 110.0);
    EXPECT_NE(blocks.segments[0].firstBlockPosition, blocks.segments[1].firstBlockPosition);
    EXPECT_EQ(blocks.rows, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6, 7}));

    const Planned joined = plan(rec.file.get(), VOKEXT_GRID_CONTINUOUS);
    ASSERT_EQ(joined.segments.size(), 1u);
    EXPECT_EQ(joined.segments[0].rows, 13u);  // 100 .. 112
    EXPECT_EQ(joined.segments[0].samples, 8u);
    EXPECT_EQ(joined.segments[0].firstBlockPosition, blocks.segments[0].firstBlockPosition);
    EXPECT_EQ(joined.segments[0].lastBlockPosition, blocks.segments[1].firstBlockPosition);
    EXPECT_EQ(joined.rows, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 10, 11, 12}));
}

TEST(GridTest, ARateChangeOrAnOffGridBlockStartsANewSegment) {
    test::TempDir dir;
    Rec r;
    r.begin(100, 500).at(100).at(102).at(104).end(105);
    r.begin(107, 500).at(107).at(109).end(110);  // one millisecond off the 2 ms grid
    r.begin(120, 1000).at(120).at(121).end(122);
    auto rec = open(dir, r);
    const Planned p = plan(rec.file.get(), VOKEXT_GRID_CONTINUOUS);
    ASSERT_EQ(p.segments.size(), 3u);
    EXPECT_EQ(p.segments[0].rows, 3u);
    EXPECT_EQ(p.segments[1].rows, 2u);
    EXPECT_DOUBLE_EQ(p.segments[1].firstTimeMs, 107.0);
    EXPECT_EQ(p.segments[2].rate, 1000.0f);
    EXPECT_DOUBLE_EQ(p.segments[2].stepMs, 1.0);
    EXPECT_EQ(p.rows, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6}));
}

TEST(GridTest, HalfMillisecondsAt2000Hz) {
    test::TempDir dir;
    Rec r;
    // Two samples in one millisecond: the second has the odd key.
    r.begin(10, 2000).at(10).at(10).at(11).at(12).at(12).end(13);
    auto rec = open(dir, r);
    const Planned p = plan(rec.file.get(), VOKEXT_GRID_BLOCKS);
    ASSERT_EQ(p.segments.size(), 1u);
    EXPECT_DOUBLE_EQ(p.segments[0].stepMs, 0.5);
    EXPECT_EQ(p.segments[0].rows, 6u);  // 10 to 12.5
    EXPECT_EQ(p.rows, (std::vector<std::int64_t>{0, 1, 2, 4, 5}));
    EXPECT_EQ(p.times, (std::vector<double>{10.0, 10.5, 11.0, 12.0, 12.5}));
}

TEST(GridTest, SamplesCloserThanTheStepAndOverlongGaps) {
    test::TempDir dir;
    Rec r;
    // At 250 Hz the step is 4 ms: 101 rounds to the row of 100, which is
    // taken; 104 lands on the next row.
    r.begin(100, 250).at(100).at(101).at(104).at(108);
    // 12 samples placed: a gap may add 10000 + 48 empty rows; this one adds
    // (50108 - 108) / 4 - 1 = 12499 and begins a segment of its own.
    for (std::uint32_t t = 112; t <= 140; t += 4) r.at(t);
    r.at(50140).end(50141);
    auto rec = open(dir, r);
    const Planned p = plan(rec.file.get(), VOKEXT_GRID_BLOCKS);
    ASSERT_EQ(p.segments.size(), 2u);
    EXPECT_EQ(p.segments[0].rows, 11u);  // 100 .. 140
    EXPECT_EQ(p.segments[0].samples, 11u);
    EXPECT_EQ(p.segments[1].firstRow, 11u);
    EXPECT_EQ(p.segments[1].rows, 1u);
    ASSERT_EQ(p.rows.size(), 13u);
    EXPECT_EQ(p.rows[1], -1);
    EXPECT_EQ(p.rows[2], 1);
    EXPECT_EQ(p.rows[3], 2);
    EXPECT_EQ(p.rows[12], 11);
    EXPECT_EQ(p.cursor.unplaced, 1u);
}

TEST(GridTest, BadArguments) {
    test::TempDir dir;
    Rec r;
    r.begin(100, 1000).at(100).at(101).end(102);
    auto rec = open(dir, r);
    VOKFile* f = rec.file.get();
    EXPECT_EQ(vokext_grid_plan(nullptr, VOKEXT_GRID_BLOCKS, nullptr, 0), -1);
    EXPECT_EQ(vokext_grid_plan(f, 7, nullptr, 0), -1);
    EXPECT_EQ(vokext_grid_plan(f, VOKEXT_GRID_BLOCKS, nullptr, 1), -1);
    VOKEXT_GridSegment s[1];
    ASSERT_EQ(vokext_grid_plan(f, VOKEXT_GRID_BLOCKS, s, 1), 1);
    VOKEXT_GridCursor c{};
    std::int64_t rows[2];
    const std::uint32_t notSample[1] = {0};  // the block start
    EXPECT_EQ(vokext_grid_rows(f, s, 1, &c, notSample, 1, rows), -1);
    c = VOKEXT_GridCursor{};
    const std::uint32_t backwards[2] = {s[0].firstPosition + 1, s[0].firstPosition};
    EXPECT_EQ(vokext_grid_rows(f, s, 1, &c, backwards, 2, rows), -1);
    EXPECT_EQ(vokext_grid_rows(f, s, 1, nullptr, backwards, 1, rows), -1);
}

// Whatever the recording, every sample served stands on its row's grid
// time, rows only increase and lie inside their segment, and the segments'
// sample counts add up to the samples placed.
TEST(GridTest, EveryServedSampleStandsAtItsGridTime) {
    const int rates[] = {250, 500, 1000, 2000};
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        vokgen::GenOptions o;
        o.seed = seed;
        o.durationMs = 3000;
        o.blocks = 3;
        o.sampleRate = rates[seed % 4];
        o.gaps = true;
        o.pauseMs = seed % 2 ? 40 : 0;
        if (seed % 3 == 0) o.startTime = vokgen::startTimeNear2pow31(o);  // times the fixup shifts
        const vokgen::GenResult g = vokgen::generateRecording(o);
        test::TempDir dir;
        const std::string path = dir.write("r.vok", std::string(g.bytes.begin(), g.bytes.end()));
        for (int consistency : {0, 1, 2}) {
            for (std::uint32_t mode : {VOKEXT_GRID_BLOCKS, VOKEXT_GRID_CONTINUOUS}) {
                SCOPED_TRACE(testing::Message() << "seed " << seed << " consistency " << consistency << " mode " << mode);
                int err = 0;
                std::unique_ptr<VOKFile, test::FileCloser> f(vok_open_file(path.c_str(), consistency, 1, 1, &err));
                ASSERT_NE(f, nullptr);
                const Planned p = plan(f.get(), mode);
                ASSERT_FALSE(p.segments.empty());
                std::uint64_t total = 0, placed = 0;
                for (const VOKEXT_GridSegment& s : p.segments) {
                    EXPECT_EQ(s.firstRow, total);
                    total += s.rows;
                    placed += s.samples;
                }
                std::size_t seg = 0;
                std::int64_t last = -1;
                for (std::size_t k = 0; k < p.rows.size(); ++k) {
                    const std::int64_t row = p.rows[k];
                    if (row < 0) continue;
                    EXPECT_GT(row, last);
                    last = row;
                    while (p.segments[seg].firstRow + p.segments[seg].rows <= static_cast<std::uint64_t>(row)) ++seg;
                    const VOKEXT_GridSegment& s = p.segments[seg];
                    EXPECT_DOUBLE_EQ(p.times[k], s.firstTimeMs + static_cast<double>(row - static_cast<std::int64_t>(s.firstRow)) * s.stepMs);
                }
                EXPECT_EQ(placed, p.rows.size() - p.cursor.unplaced);
                EXPECT_LT(last, static_cast<std::int64_t>(total));
                if (mode == VOKEXT_GRID_BLOCKS) {
                    EXPECT_EQ(p.segments.size(), 3u);
                }
            }
        }
    }
}

}  // namespace
}  // namespace vok
