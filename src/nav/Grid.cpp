// The regular time grid of the extension API: which samples share one grid
// and on which row each sample lands, worked out from the item index alone.
#include <cmath>
#include <cstdint>
#include <exception>
#include <vector>

#include "core/Log.h"
#include "load/VOKFile.h"
#include "vokapi_ext.h"

namespace vok {

namespace {

// A gap may add this many empty rows, plus four per sample placed before it;
// beyond that a new segment begins, so that damaged times cannot ask for a
// grid of billions of rows.
constexpr std::uint64_t kGapAllowance = 10000;

bool usableRate(float rate) { return std::isfinite(rate) && rate > 0.0f && rate <= 100000.0f; }

double stepHalfMs(float rate) { return 2000.0 / static_cast<double>(rate); }

// Row of key within a segment, counted from its row 0; negative before it.
std::int64_t rowInSegment(std::uint64_t key, const VOKEXT_GridSegment& s) {
    const double d = static_cast<double>(key) - static_cast<double>(s.firstKey);
    return std::llround(d / stepHalfMs(s.rate));
}

// The time the walk serves for a sample of this key: the time offset fixup
// subtracts the first record's time once the recording's times reach 2^30.
double servedTimeMs(const VOKFile& file, std::uint64_t key) {
    std::uint32_t shift = 0;
    if ((file.options.consistency & VOK_NO_TIME_FIXUP) == 0 && file.largestTime >= 0x3FFFFFFFu) {
        shift = file.firstRecordTime;
    }
    const auto ms = static_cast<std::uint32_t>(static_cast<std::uint32_t>(key >> 1) - shift);
    return static_cast<double>(ms) + ((key & 1) != 0 ? 0.5 : 0.0);
}

class GridPlanner {
public:
    GridPlanner(const VOKFile& file, std::uint32_t mode) : file_(file), continuous_(mode == VOKEXT_GRID_CONTINUOUS) {}

    std::vector<VOKEXT_GridSegment> plan() {
        const ItemIndex& index = file_.index;
        for (std::size_t i = 0; i < index.size(); ++i) {
            const ItemEntry& e = index[i];
            const int kind = itemKind(e);
            if (kind == kKindRecording) {
                // The cursor's rule for the current block.
                if (e.recording != nullptr) {
                    const RecordingInfo& r = *e.recording;
                    if (r.state == 0) {
                        inBlock_ = false;
                    } else if (!inBlock_ || r.sampleRate != blockRate_) {
                        inBlock_ = true;
                        blockPosition_ = static_cast<std::uint32_t>(i);
                        blockRate_ = r.sampleRate;
                    }
                }
                continue;
            }
            if (kind != kKindSample) continue;
            place(static_cast<std::uint32_t>(i), sortKey(e));
        }
        close();
        return std::move(segments_);
    }

private:
    void place(std::uint32_t position, std::uint64_t key) {
        if (!inBlock_) {
            // Outside every block: only a continuous grid already under way
            // takes the sample, and a gap too long for it ends that grid.
            if (!continuous_ || !open_) return;
            const std::int64_t r = rowInSegment(key, current_);
            if (r > lastRow_ && !gapAllowed(r)) {
                close();
                return;
            }
            extend(position, r);
            return;
        }
        if (!usableRate(blockRate_)) {
            close();
            return;
        }
        if (open_) {
            const bool sameBlock = current_.lastBlockPosition == blockPosition_;
            const std::int64_t r = rowInSegment(key, current_);
            if (sameBlock || (continuous_ && joins(key, r))) {
                if (r <= lastRow_ || gapAllowed(r)) {
                    current_.lastBlockPosition = blockPosition_;
                    extend(position, r);
                    return;
                }
            }
        }
        start(position, key);
    }

    // A later block continues the grid: same rate, and its first sample
    // within a quarter of a millisecond of a grid time.
    bool joins(std::uint64_t key, std::int64_t r) const {
        if (current_.rate != blockRate_) return false;
        const double offGrid = static_cast<double>(key) - static_cast<double>(current_.firstKey) -
                               static_cast<double>(r) * stepHalfMs(current_.rate);
        return std::fabs(offGrid) <= 0.5;
    }

    bool gapAllowed(std::int64_t r) const {
        const auto empty = static_cast<std::uint64_t>(r - lastRow_ - 1);
        return empty <= kGapAllowance + 4 * placed_;
    }

    void extend(std::uint32_t position, std::int64_t r) {
        if (r <= lastRow_) return;  // its row is taken: on no row
        lastRow_ = r;
        current_.rows = static_cast<std::uint64_t>(r) + 1;
        current_.endPosition = position + 1;
        ++current_.samples;
        ++placed_;
    }

    void start(std::uint32_t position, std::uint64_t key) {
        close();
        current_ = VOKEXT_GridSegment{};
        current_.firstKey = key;
        current_.firstTimeMs = servedTimeMs(file_, key);
        current_.rate = blockRate_;
        current_.stepMs = 1000.0 / static_cast<double>(blockRate_);
        current_.firstRow = totalRows_;
        current_.firstBlockPosition = current_.lastBlockPosition = blockPosition_;
        current_.firstPosition = position;
        open_ = true;
        lastRow_ = -1;
        extend(position, 0);
    }

    void close() {
        if (!open_) return;
        segments_.push_back(current_);
        totalRows_ += current_.rows;
        open_ = false;
    }

    const VOKFile& file_;
    const bool continuous_;
    std::uint32_t blockPosition_ = 0;
    bool inBlock_ = false;
    float blockRate_ = 0.0f;
    bool open_ = false;
    VOKEXT_GridSegment current_{};
    std::int64_t lastRow_ = -1;  // within the open segment
    std::uint64_t placed_ = 0;
    std::uint64_t totalRows_ = 0;
    std::vector<VOKEXT_GridSegment> segments_;
};

int gridRows(const VOKFile& file, const VOKEXT_GridSegment* segments, std::uint32_t count,
             VOKEXT_GridCursor& cursor, const std::uint32_t* positions, std::size_t n, std::int64_t* rows) {
    const ItemIndex& index = file.index;
    if (!cursor.started) {
        cursor.segment = 0;
        cursor.lastRow = -1;
        cursor.started = 1;
    } else if (n > 0 && positions[0] <= cursor.lastPosition) {
        log("vokext_grid_rows: position %u is not after %u\n", positions[0], cursor.lastPosition);
        return -1;
    }
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint32_t p = positions[k];
        if (p >= index.size() || itemKind(index[p]) != kKindSample) {
            log("vokext_grid_rows: item %u is not a sample\n", p);
            return -1;
        }
        if (k > 0 && p <= positions[k - 1]) {
            log("vokext_grid_rows: position %u is not after %u\n", p, positions[k - 1]);
            return -1;
        }
        cursor.lastPosition = p;
        while (cursor.segment < count && segments[cursor.segment].endPosition <= p) ++cursor.segment;
        std::int64_t row = -1;
        if (cursor.segment < count && p >= segments[cursor.segment].firstPosition) {
            const VOKEXT_GridSegment& s = segments[cursor.segment];
            const std::int64_t r = rowInSegment(sortKey(index[p]), s);
            if (r >= 0 && static_cast<std::uint64_t>(r) < s.rows) {
                const auto overall = static_cast<std::int64_t>(s.firstRow) + r;
                if (overall > cursor.lastRow) row = cursor.lastRow = overall;
            }
        }
        if (row < 0) ++cursor.unplaced;
        rows[k] = row;
    }
    return 0;
}

}  // namespace
}  // namespace vok

extern "C" {

VOKAPI_EXPORT int64_t vokext_grid_plan(VOKFile* file, uint32_t mode, VOKEXT_GridSegment* segments,
                                       uint32_t capacity) {
    if (file == nullptr || (segments == nullptr && capacity > 0)) {
        vok::log("vokext_grid_plan: %s is NULL\n", file == nullptr ? "the handle" : "the segment array");
        return -1;
    }
    if (mode != VOKEXT_GRID_BLOCKS && mode != VOKEXT_GRID_CONTINUOUS) {
        vok::log("vokext_grid_plan: unknown mode %u\n", mode);
        return -1;
    }
    try {
        const std::vector<VOKEXT_GridSegment> plan = vok::GridPlanner(*file, mode).plan();
        for (std::size_t k = 0; k < plan.size() && k < capacity; ++k) segments[k] = plan[k];
        return static_cast<int64_t>(plan.size());
    } catch (const std::exception& e) {
        vok::log("%s\n", e.what());
    } catch (...) {
    }
    return -1;
}

VOKAPI_EXPORT int vokext_grid_rows(VOKFile* file, const VOKEXT_GridSegment* segments, uint32_t count,
                                   VOKEXT_GridCursor* cursor, const uint32_t* positions, size_t n, int64_t* rows) {
    if (file == nullptr || cursor == nullptr || (segments == nullptr && count > 0) ||
        (n > 0 && (positions == nullptr || rows == nullptr))) {
        vok::log("vokext_grid_rows: a NULL argument\n");
        return -1;
    }
    try {
        return vok::gridRows(*file, segments, count, *cursor, positions, n, rows);
    } catch (const std::exception& e) {
        vok::log("%s\n", e.what());
    } catch (...) {
    }
    return -1;
}

}  // extern "C"
