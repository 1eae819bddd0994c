#include "load/ItemIndex.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vok {

namespace {

using detail::kKinds;

inline bool isPaired(int type) { return (type >= 1 && type <= 8) || (type >= 15 && type <= 18); }
inline bool isStartType(int type) { return isPaired(type) && (type & 1) != 0; }
inline bool isEndType(int type) { return isPaired(type) && (type & 1) == 0; }

}  // namespace

std::uint64_t detail::recordingSortKey(const ItemEntry& e) {
    const RecordingInfo* r = e.recording;
    if (r == nullptr) return 0;
    std::uint64_t key = r->timeHalfMs;
    // A merged end and start of one millisecond t: the end sorts at 2t+1,
    // after every item of t, and the start at 2t+2, before the next block's
    // samples of t+1 (1000 Hz) or t+0.5 (2000 Hz keys 2t+2 and up), which
    // would otherwise fall between the two and be dropped as lying outside
    // every block.  The start's item time is t+1 either way.
    if (r->merged) key += r->state == 1 ? 2 : 1;
    return key;
}

bool detail::itemLessSameKey(const ItemEntry& a, const ItemEntry& b) {
    const int ta = itemType(a), tb = itemType(b);
    const int kindA = kKinds[ta], kindB = kKinds[tb];
    const bool pairedA = kindA == kKindEvent && isPaired(ta);
    const bool pairedB = kindB == kKindEvent && isPaired(tb);

    // 1. a paired event against a sample: starts before, ends after it.
    if (pairedA && kindB == kKindSample) return isStartType(ta);
    if (kindA == kKindSample && pairedB) return isEndType(tb);

    // 2-4. recordings: an end before a start; a start before anything else,
    // anything but a paired start before an end.
    const bool recA = kindA == kKindRecording, recB = kindB == kKindRecording;
    if (recA && recB) {
        const bool startA = a.recording != nullptr && a.recording->state != 0;
        const bool startB = b.recording != nullptr && b.recording->state != 0;
        return !startA && startB;
    }
    if (recA) return a.recording != nullptr && a.recording->state != 0;
    if (recB) {
        if (b.recording != nullptr && b.recording->state != 0) return false;
        return !pairedA || isEndType(ta);
    }

    // 5. a saccade start before a blink start.
    if (ta == SSACC && tb == SBLINK) return true;
    if (ta == SBLINK && tb == SSACC) return false;
    // 6. a blink end before a saccade end.
    if (ta == EBLINK && tb == ESACC) return true;
    if (ta == ESACC && tb == EBLINK) return false;
    // 7. blink start before blink end of the same eye; between eyes, the
    // left eye's event goes first whatever the kinds.
    if ((ta == SBLINK && tb == EBLINK) || (ta == EBLINK && tb == SBLINK)) {
        if (eyeSlot(a) == eyeSlot(b)) return ta == SBLINK;
        return eyeSlot(a) < eyeSlot(b);
    }
    // 8. a start before an end.
    if (isStartType(ta) && isEndType(tb)) return true;
    if (isEndType(ta) && isStartType(tb)) return false;
    // 9. a message before a sample.
    if (ta == MESSAGEEVENT && kindB == kKindSample) return true;
    if (kindA == kKindSample && tb == MESSAGEEVENT) return false;
    // 10. file order for unpaired events and events of one type, and for a
    // sample against an unpaired event.  A placeholder (-1) goes first.
    const bool eventA = kindA == kKindEvent, eventB = kindB == kKindEvent;
    const bool fileOrder = (eventA && eventB && (!pairedA || !pairedB || ta == tb)) ||
                           (kindA == kKindSample && eventB && !pairedB) ||
                           (eventA && !pairedA && kindB == kKindSample);
    if (fileOrder) {
        return static_cast<std::int32_t>(a.position) < static_cast<std::int32_t>(b.position);
    }
    // 11. no order.
    return false;
}

namespace {

// Bottom-up natural merge sort.  The index arrives almost in time order: long
// runs of samples with a few events placed late, so finding the runs and
// merging neighbours (after trimming what is already in place) costs little
// more than one pass.  Every access is bounded by the run ends, so a
// predicate that contradicts itself can only give a different order, never
// a read outside the range.
class MergeSorter {
public:
    void sort(ItemEntry* first, ItemEntry* last) {
        const std::size_t n = static_cast<std::size_t>(last - first);
        if (n < 2) return;
        runs_.clear();
        runs_.push_back(0);
        for (std::size_t i = 1; i < n; ++i) {
            if (itemLess(first[i], first[i - 1])) runs_.push_back(i);
        }
        runs_.push_back(n);
        // Merge neighbouring runs pairwise until one is left; a lone last
        // run is carried to the next pass.
        while (runs_.size() > 2) {
            std::size_t out = 1;
            std::size_t r = 0;
            while (r + 2 < runs_.size()) {
                merge(first, runs_[r], runs_[r + 1], runs_[r + 2]);
                runs_[out++] = runs_[r + 2];
                r += 2;
            }
            if (r + 1 < runs_.size()) runs_[out++] = runs_[r + 1];
            runs_.resize(out);
        }
    }

private:
    void merge(ItemEntry* base, std::size_t lo, std::size_t mid, std::size_t hi) {
        if (!itemLess(base[mid], base[mid - 1])) return;  // already in order
        // Entries of the left run that go before the right run's first stay.
        std::size_t a = upperBound(base, lo, mid, base[mid]);
        // Entries of the right run that do not go before the left run's last stay.
        std::size_t b = lowerBound(base, mid, hi, base[mid - 1]);
        if (a >= mid || b <= mid) return;
        const std::size_t leftCount = mid - a;
        buffer_.resize(std::max(buffer_.size(), leftCount));
        std::memcpy(buffer_.data(), base + a, leftCount * sizeof(ItemEntry));
        const ItemEntry* l = buffer_.data();
        const ItemEntry* lEnd = l + leftCount;
        ItemEntry* r = base + mid;
        ItemEntry* rEnd = base + b;
        ItemEntry* out = base + a;
        while (l < lEnd && r < rEnd) {
            if (itemLess(*r, *l)) {
                *out++ = *r++;
            } else {
                *out++ = *l++;
            }
        }
        while (l < lEnd) *out++ = *l++;
        // What is left of the right run is already in place.
    }

    // First position in [lo, hi) whose entry goes after value.
    static std::size_t upperBound(const ItemEntry* base, std::size_t lo, std::size_t hi, const ItemEntry& value) {
        while (lo < hi) {
            std::size_t m = lo + (hi - lo) / 2;
            if (itemLess(value, base[m])) {
                hi = m;
            } else {
                lo = m + 1;
            }
        }
        return lo;
    }
    // First position in [lo, hi) whose entry does not go before value.
    static std::size_t lowerBound(const ItemEntry* base, std::size_t lo, std::size_t hi, const ItemEntry& value) {
        while (lo < hi) {
            std::size_t m = lo + (hi - lo) / 2;
            if (itemLess(base[m], value)) {
                lo = m + 1;
            } else {
                hi = m;
            }
        }
        return lo;
    }

    std::vector<std::size_t> runs_;
    std::vector<ItemEntry> buffer_;
};

constexpr std::size_t kWholeSortLimit = 20000;
constexpr std::size_t kWindow = 13500;
constexpr std::size_t kOverlap = 3000;

}  // namespace

void sortRange(ItemEntry* first, ItemEntry* last) {
    MergeSorter sorter;
    sorter.sort(first, last);
}

void sortItemIndex(ItemIndex& index) {
    const std::size_t n = index.size();
    MergeSorter sorter;
    if (n <= kWholeSortLimit) {
        sorter.sort(index.data(), index.data() + n);
        return;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(start + kWindow, n);
        sorter.sort(index.data() + start, index.data() + end);
        if (end == n) break;
        start = end - kOverlap;
    }
}

}  // namespace vok
