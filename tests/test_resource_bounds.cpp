// Memory bounds, counted through the test program's operator new: opening,
// walking and splitting any recording into trials keeps at most a small
// multiple of 16 bytes per index entry plus fixed buffers (the sample
// window, the read and inflate buffers), and the index never holds many
// more entries than the record stream has bytes.  The recordings are the
// heavy ones of the writer (built to cost the most per byte) and randomly
// damaged copies of the fuzz seeds.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "FuzzCorpus.h"
#include "nav/VOKFile.h"
#include "support/AllocationHook.h"
#include "support/TestSupport.h"

namespace vok::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Fixed buffers: the sample window, the file and inflate buffers and the
// index's first reservation come to some 770 KiB; the rest is headroom.
constexpr std::size_t kFixedBytes = 1u << 20;
// Per index entry: the entry itself (16 bytes), a growing index's old and
// new arrays while it is copied, and the recording blocks and trials that
// entries can stand for.
constexpr std::size_t kBytesPerEntry = 16 * 6;

void quiet(const char*) {}

struct Measured {
    bool opened = false;
    std::size_t elements = 0;
    std::size_t peak = 0;
    std::size_t streamBytes = 0;
};

Measured measure(const std::string& path, int consistency) {
    Measured m;
    vok_set_log_function(quiet);
    const std::size_t base = allocation::liveBytes();
    allocation::resetPeak();
    int err = 0;
    VOKFile* file = vok_open_file(path.c_str(), consistency, 1, 1, &err);
    if (file != nullptr) {
        m.opened = true;
        m.elements = vok_get_element_count(file);
        while (vok_get_next_data(file) != 0) vok_get_float_data(file);
        vok_set_trial_identifier(file, "TRIAL_START", "TRIAL_END");
        for (int t = 0; t < vok_get_trial_count(file); ++t) vok_jump_to_trial(file, t);
        m.streamBytes = static_cast<std::size_t>(file->recording.bodySize);
        vok_close_file(file);
    }
    m.peak = allocation::peakBytes() - base;
    EXPECT_EQ(allocation::liveBytes(), base) << "bytes left allocated";
    vok_set_log_function(nullptr);
    return m;
}

void checkBounds(const Measured& m, const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_LE(m.peak, kFixedBytes + kBytesPerEntry * m.elements)
        << "peak " << m.peak << " bytes for " << m.elements << " entries";
    // A record takes at least two bytes; gap filling adds at most four
    // placeholders per real sample beyond the first 10000.
    EXPECT_LE(m.elements, 10000 + 5 * (m.streamBytes / 2 + 1)) << m.streamBytes << " bytes of records";
}

TEST(ResourceBounds, HeavyRecordingsStayWithinTheDocumentedMemory) {
    TempDir dir;
    for (const vokgen::HeavyRecording& heavy : vokgen::heavyRecordings(64 * 1024)) {
        const std::string path = dir.write("heavy.vok", std::string(heavy.bytes.begin(), heavy.bytes.end()));
        for (int consistency : {0, 1, 2, 2 | VOK_TOLERANT_READING}) {
            const Measured m = measure(path, consistency);
            EXPECT_TRUE(m.opened) << heavy.name;
            checkBounds(m, heavy.name + ", consistency " + std::to_string(consistency));
            std::printf("%-32s consistency %2d: %8zu bytes, %7zu entries, peak %9zu bytes\n",
                        heavy.name.c_str(), consistency, heavy.bytes.size(), m.elements, m.peak);
        }
    }
}

TEST(ResourceBounds, DamagedRecordingsStayWithinTheDocumentedMemory) {
    TempDir dir;
    const std::vector<Bytes> recordings = vokgen::fuzzRecordings();
    for (std::size_t r = 0; r < recordings.size(); ++r) {
        for (unsigned seed = 1; seed <= 100; ++seed) {
            std::mt19937 rng(seed);
            Bytes copy = recordings[r];
            for (std::size_t k = 0; k < copy.size() / 50 + 1; ++k)
                copy[rng() % copy.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
            const std::string path = dir.write("damaged.vok", std::string(copy.begin(), copy.end()));
            checkBounds(measure(path, static_cast<int>(seed % 4) | VOK_TOLERANT_READING),
                        "recording " + std::to_string(r) + " damaged with seed " + std::to_string(seed));
            if (testing::Test::HasFailure()) return;
        }
    }
}

}  // namespace
}  // namespace vok::test
