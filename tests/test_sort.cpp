// The order of the item index: the tie rules of itemLess, the windowed sort
// of large indexes, and a sort that stays inside the index whatever the
// rules answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "load/ItemIndex.h"

namespace vok {
namespace {

ItemEntry entry(int type, std::uint64_t key, std::uint32_t position = 100, int slot = 0) {
    ItemEntry e{};
    e.position = position;
    e.code = static_cast<std::uint16_t>(type | (slot << 8));
    e.timeHalfMs = key;
    return e;
}

struct Recordings {
    std::vector<std::unique_ptr<RecordingInfo>> owned;
    ItemEntry make(bool start, std::uint64_t key, bool merged = false) {
        auto r = std::make_unique<RecordingInfo>();
        r->state = start ? 1 : 0;
        r->timeHalfMs = key;
        r->merged = merged ? 1 : 0;
        ItemEntry e{};
        e.code = RECORDING_INFO;
        e.recording = r.get();
        owned.push_back(std::move(r));
        return e;
    }
};

TEST(ItemOrder, KindsAndKeys) {
    EXPECT_EQ(itemKind(entry(SFIX, 0)), kKindEvent);
    EXPECT_EQ(itemKind(entry(INPUTEVENT, 0)), kKindEvent);
    EXPECT_EQ(itemKind(entry(SAMPLE_TYPE, 0)), kKindSample);
    EXPECT_EQ(itemKind(entry(11, 0)), kKindUnknown);
    EXPECT_EQ(itemKind(entry(0, 0)), kKindUnknown);
    Recordings recs;
    EXPECT_EQ(sortKey(recs.make(true, 200, true)), 202u) << "a merged start sorts after everything at its time";
    EXPECT_EQ(sortKey(recs.make(false, 200, true)), 201u);
    EXPECT_EQ(sortKey(recs.make(false, 200, false)), 200u);
}

TEST(ItemOrder, TieRules) {
    Recordings recs;
    const ItemEntry start = recs.make(true, 10), end = recs.make(false, 10);
    const ItemEntry sample = entry(SAMPLE_TYPE, 10, 500);
    struct Case {
        ItemEntry a, b;
        bool aFirst, bFirst;
        const char* what;
    } cases[] = {
        {entry(SSACC, 10), sample, true, false, "a start goes before a sample"},
        {entry(ESACC, 10), sample, false, true, "a sample goes before an end"},
        {end, start, true, false, "recording end before recording start"},
        {start, entry(MESSAGEEVENT, 10), true, false, "recording start before anything"},
        {entry(EFIX, 10), end, true, false, "an end event before a recording end"},
        {entry(SFIX, 10), end, false, false, "a start event and a recording end: no order"},
        {entry(MESSAGEEVENT, 10), end, true, false, "an unpaired event before a recording end"},
        {entry(SSACC, 10), entry(SBLINK, 10), true, false, "saccade start before blink start"},
        {entry(EBLINK, 10), entry(ESACC, 10), true, false, "blink end before saccade end"},
        {entry(SBLINK, 10, 100, 1), entry(EBLINK, 10, 50, 1), true, false, "blink start before its end"},
        {entry(EBLINK, 10, 100, 1), entry(SBLINK, 10, 50, 2), true, false, "left eye first between eyes"},
        {entry(SFIX, 10), entry(EFIX, 10), true, false, "start before end"},
        {entry(MESSAGEEVENT, 10, 900), sample, true, false, "a message before a sample"},
        {entry(BUTTONEVENT, 10, 5), entry(MESSAGEEVENT, 10, 7), true, false, "file order"},
        {entry(SFIX, 10, 5), entry(SFIX, 10, 7), true, false, "same type: file order"},
        {entry(SAMPLE_TYPE, 10, kPlaceholder), entry(BUTTONEVENT, 10, 7), true, false, "placeholder first"},
        {sample, entry(SAMPLE_TYPE, 10, 900), false, false, "two samples: no order"},
        {entry(11, 10, 1), entry(12, 10, 2), false, false, "unknown kinds: no order"},
        {entry(SFIX, 9), entry(SAMPLE_TYPE, 10), true, false, "smaller key first"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(itemLess(c.a, c.b), c.aFirst) << c.what;
        EXPECT_EQ(itemLess(c.b, c.a), c.bFirst) << c.what << " (reversed)";
    }
}

TEST(ItemOrder, RecordingStartSampleAndSaccadeEnd) {
    Recordings recs;
    ItemIndex index = {entry(ESACC, 40, 300), entry(SAMPLE_TYPE, 40, 200), recs.make(true, 40)};
    sortItemIndex(index);
    EXPECT_EQ(itemType(index[0]), RECORDING_INFO);
    EXPECT_EQ(itemType(index[1]), SAMPLE_TYPE);
    EXPECT_EQ(itemType(index[2]), ESACC);
}

TEST(ItemOrder, MergedEndAndStartSortAroundTheirTime) {
    Recordings recs;
    ItemIndex index = {recs.make(true, 20, true), entry(SAMPLE_TYPE, 20, 50), recs.make(false, 20, true),
                       entry(MESSAGEEVENT, 21, 60)};
    sortItemIndex(index);
    // The end sorts at 2t+1 with the message of that half millisecond (an
    // unpaired event goes before a recording end), the start at 2t+2.
    EXPECT_EQ(itemType(index[0]), SAMPLE_TYPE);
    EXPECT_EQ(itemType(index[1]), MESSAGEEVENT);
    ASSERT_EQ(itemType(index[2]), RECORDING_INFO);
    EXPECT_EQ(index[2].recording->state, 0);
    ASSERT_EQ(itemType(index[3]), RECORDING_INFO);
    EXPECT_EQ(index[3].recording->state, 1);
}

// Samples every 2 half-ms in file order, with events placed a little late in
// the file, as a tracker writes them.
ItemIndex nearlySorted(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    ItemIndex index;
    std::uint32_t position = 0;
    for (std::size_t i = 0; index.size() < n; ++i) {
        index.push_back(entry(SAMPLE_TYPE, 2 * i, position += 30));
        if (rng() % 20 == 0 && i > 40) {
            index.push_back(entry(SFIX + 0, 2 * (i - rng() % 40), position += 20, 1));
        }
    }
    index.resize(n);
    return index;
}

TEST(Sort, NearlySortedIndexEndsInKeyOrderAndKeepsSampleFileOrder) {
    for (std::size_t n : {0u, 1u, 2u, 1000u, 20000u, 20001u, 100000u}) {
        ItemIndex index = nearlySorted(n, 7);
        ItemIndex before = index;
        sortItemIndex(index);
        ASSERT_EQ(index.size(), n);
        for (std::size_t i = 1; i < n; ++i) {
            ASSERT_FALSE(itemLess(index[i], index[i - 1])) << "n=" << n << " at " << i;
        }
        auto byPosition = [](const ItemEntry& a, const ItemEntry& b) { return a.position < b.position; };
        std::sort(before.begin(), before.end(), byPosition);
        ItemIndex after = index;
        std::sort(after.begin(), after.end(), byPosition);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(before[i].position, after[i].position);
    }
}

TEST(Sort, LargeIndexIsSortedInOverlappingWindows) {
    // 20001 entries in order, but the smallest key sits at 14000: only the
    // second window (10500-20000) sees it, so it can move no further up.
    ItemIndex index;
    for (std::uint32_t i = 0; i < 20001; ++i) index.push_back(entry(SAMPLE_TYPE, 100 + 2 * i, i));
    index[14000].timeHalfMs = 1;
    sortItemIndex(index);
    EXPECT_EQ(index[10500].timeHalfMs, 1u);
    EXPECT_EQ(index[0].timeHalfMs, 100u);

    // With exactly 20000 entries the whole index is sorted at once.
    index.clear();
    for (std::uint32_t i = 0; i < 20000; ++i) index.push_back(entry(SAMPLE_TYPE, 100 + 2 * i, i));
    index[14000].timeHalfMs = 1;
    sortItemIndex(index);
    EXPECT_EQ(index[0].timeHalfMs, 1u);
}

TEST(Sort, StaysInsideTheIndexWhateverTheRulesAnswer) {
    // Many entries sharing few keys, of every kind: the rules contradict
    // each other here; the sort must only permute the entries.
    Recordings recs;
    std::mt19937 rng(99);
    const int types[] = {SFIX, EFIX, SSACC, ESACC, SBLINK, EBLINK, MESSAGEEVENT, BUTTONEVENT, INPUTEVENT,
                         SAMPLE_TYPE, 11, STARTSAMPLES, ENDSAMPLES, MARKA};
    for (int round = 0; round < 50; ++round) {
        ItemIndex index;
        const std::size_t n = 1 + rng() % 3000;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t key = rng() % 4;
            if (rng() % 10 == 0) {
                index.push_back(recs.make(rng() % 2 == 0, key, rng() % 2 == 0));
            } else {
                index.push_back(entry(types[rng() % std::size(types)], key, static_cast<std::uint32_t>(rng()),
                                      static_cast<int>(rng() % 3)));
            }
        }
        ItemIndex before = index;
        sortItemIndex(index);
        auto raw = [](const ItemEntry& a, const ItemEntry& b) {
            return std::tie(a.position, a.code, a.timeHalfMs) < std::tie(b.position, b.code, b.timeHalfMs);
        };
        std::sort(before.begin(), before.end(), raw);
        std::sort(index.begin(), index.end(), raw);
        ASSERT_EQ(before.size(), index.size());
        for (std::size_t i = 0; i < n; ++i) {
            ASSERT_EQ(before[i].position, index[i].position);
            ASSERT_EQ(before[i].timeHalfMs, index[i].timeHalfMs);
        }
    }
}

}  // namespace
}  // namespace vok
