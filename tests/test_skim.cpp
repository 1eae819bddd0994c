// The reading loop indexes samples by skimming their records, and a
// compressed body read from a file is indexed while a second thread
// inflates it.  Both must build exactly what decoding every record after
// inflating the whole body builds: the same index, recording records, file
// facts and log lines, on whole, damaged and cut recordings, strict and
// tolerant.  The references come from the same loop over a stream that
// holds one byte at a time, where no record is ever whole in the buffer and
// so every sample goes through the full decoder, and from the serial
// inflation of the memory open.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/VOKException.h"
#include "load/Recording.h"
#include "nav/VOKFile.h"
#include "platform/FaultInjection.h"
#include "support/TestSupport.h"
#include "vokapi_ext.h"

namespace vok::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A stream over bytes whose buffer never holds more than one of them.
class TrickleStream final : public InputStream {
public:
    explicit TrickleStream(const Bytes& bytes) : bytes_(bytes) { begin_ = cur_ = end_ = bytes_.data(); }
    std::int64_t size() const override { return static_cast<std::int64_t>(bytes_.size()); }

protected:
    bool refill() override {
        const std::uint64_t at = position();
        if (at >= bytes_.size()) return false;
        bufferOffset_ = at;
        begin_ = cur_ = bytes_.data() + at;
        end_ = cur_ + 1;
        return true;
    }
    int seekSource(std::uint64_t offset) override {
        bufferOffset_ = offset;
        begin_ = cur_ = end_ = bytes_.data() + (offset < bytes_.size() ? offset : bytes_.size());
        return 0;
    }

private:
    Bytes bytes_;
};

// Everything an open built, with the recording entries' records spelled out
// so that two opens compare.
struct Built {
    bool opened = false;
    std::vector<std::string> log;
    std::vector<std::uint8_t> entries;
    std::uint32_t firstRecordTime = 0, largestTime = 0, inputType = 0;

    void take(const Items& items) {
        for (const ItemEntry& e : items.index) {
            ItemEntry copy = e;
            if (itemType(e) == RECORDING_INFO && e.recording != nullptr) copy.recording = nullptr;
            append(&copy, sizeof copy);
            if (itemType(e) == RECORDING_INFO && e.recording != nullptr) append(e.recording, sizeof *e.recording);
        }
        firstRecordTime = items.firstRecordTime;
        largestTime = items.largestTime;
        inputType = items.inputType;
    }
    void append(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        entries.insert(entries.end(), b, b + n);
    }
};

void expectSame(const Built& a, const Built& b) {
    EXPECT_EQ(a.opened, b.opened);
    EXPECT_EQ(a.log, b.log);
    EXPECT_EQ(a.entries.size(), b.entries.size());
    EXPECT_TRUE(a.entries == b.entries) << "the indexes differ";
    EXPECT_EQ(a.firstRecordTime, b.firstRecordTime);
    EXPECT_EQ(a.largestTime, b.largestTime);
    EXPECT_EQ(a.inputType, b.inputType);
}

Built openStream(std::unique_ptr<InputStream> stream, int consistency) {
    Built built;
    LogCapture capture;
    Recording recording;
    OpenOptions options;
    options.consistency = consistency;
    const float none[2] = {1e8f, 1e8f};
    try {
        openRecording(recording, std::move(stream), nullptr, options, none);
        built.opened = true;
        built.take(recording.items);
    } catch (const VOKException& e) {
        built.log.push_back(std::string("raised ") + e.what());
    }
    built.log.insert(built.log.begin(), capture.lines().begin(), capture.lines().end());
    return built;
}

// Skimming over whole buffers against full decoding over a trickle.
void expectSkimmingDecodes(const Bytes& bytes, const std::string& what) {
    for (int consistency : {0, 2, VOK_TOLERANT_READING, 2 | VOK_TOLERANT_READING}) {
        SCOPED_TRACE(what + ", consistency " + std::to_string(consistency));
        const Built skimmed = openStream(std::make_unique<MemoryInputStream>(bytes.data(), bytes.size()), consistency);
        expectSame(skimmed, openStream(std::make_unique<TrickleStream>(bytes), consistency));
    }
}

Bytes generated(std::uint64_t seed, bool compressed, std::uint32_t durationMs) {
    vokgen::GenOptions o;
    o.seed = seed;
    o.durationMs = durationMs;
    o.blocks = 1 + static_cast<int>(seed % 3);
    o.sampleRate = seed % 2 ? 1000 : 500;
    o.eyes = seed % 3 == 0 ? vokgen::Eye::Left : vokgen::Eye::Both;
    // Head data and the skippable blocks lie after the fixed part; the
    // full time appears now and then.
    if (seed % 2) o.sampleGroups |= VOK_SAMPLE_HEADDATA | VOK_SAMPLE_ERRORS;
    o.gaps = seed % 4 == 1;
    o.fullTimeEvery = static_cast<std::uint32_t>(seed % 5);
    o.compressed = compressed;
    o.expectation = vokgen::Expectation::None;
    return vokgen::generateRecording(o).bytes;
}

Bytes damaged(Bytes bytes, unsigned seed) {
    std::mt19937 rng(seed);
    const std::size_t head = bytes.size() / 8;  // leave the preamble mostly whole
    for (std::size_t k = 0; k < bytes.size() / 200 + 1; ++k)
        bytes[head + rng() % (bytes.size() - head)] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    return bytes;
}

TEST(Skimming, IndexesRandomAndDamagedRecordingsAsFullDecoding) {
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        const Bytes bytes = generated(seed, false, 3000);
        expectSkimmingDecodes(bytes, "seed " + std::to_string(seed));
        for (unsigned d = 1; d <= 4; ++d) expectSkimmingDecodes(damaged(bytes, d), "seed " + std::to_string(seed) + " damaged " + std::to_string(d));
        if (HasFailure()) return;
    }
}

TEST(Skimming, IndexesEveryTruncationAsFullDecoding) {
    for (std::uint64_t seed : {1u, 2u}) {
        const Bytes bytes = generated(seed, false, 25);
        ASSERT_GT(bytes.size(), 400u);
        for (std::size_t n = 0; n <= bytes.size(); ++n) {
            expectSkimmingDecodes(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)),
                                  "seed " + std::to_string(seed) + " cut at " + std::to_string(n));
            if (HasFailure()) return;
        }
    }
}

// The file open (inflating beside the reading loop) against the memory open
// (inflating first), and no temporary file left behind.
// Opens a recording with open, which is handed the error slot, and keeps
// what it built and logged.
template <class Open>
Built openedBy(Open&& open) {
    Built built;
    LogCapture capture;
    int err = 0;
    VOKFile* file = open(&err);
    built.log = capture.lines();
    if (file != nullptr) {
        built.opened = true;
        built.take(file->recording.items);
        vok_close_file(file);
    }
    return built;
}

Built openFile(const std::string& path, int consistency) {
    return openedBy([&](int* err) { return vok_open_file(path.c_str(), consistency, 1, 1, err); });
}

Built openMemory(const Bytes& bytes, int consistency) {
    return openedBy([&](int* err) { return vokext_open_memory(bytes.data(), bytes.size(), consistency, 1, 1, err); });
}

void expectFileOpenAsMemoryOpen(const Bytes& bytes, const std::string& what) {
    TempDir recordings;
    TempDir tmp;
    TempDirectoryOverride env(tmp.path());
    const std::string path = recordings.write("c.vok", std::string(bytes.begin(), bytes.end()));
    for (int consistency : {0, 2 | VOK_TOLERANT_READING}) {
        SCOPED_TRACE(what + ", consistency " + std::to_string(consistency));
        expectSame(openFile(path, consistency), openMemory(bytes, consistency));
        EXPECT_TRUE(std::filesystem::is_empty(tmp.path())) << "a temporary file was left behind";
    }
}

TEST(InflatingOpen, IndexesCompressedRecordingsAsInflatingFirst) {
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
        const Bytes bytes = generated(seed, true, 60000);
        expectFileOpenAsMemoryOpen(bytes, "seed " + std::to_string(seed));
        expectFileOpenAsMemoryOpen(damaged(bytes, static_cast<unsigned>(seed)), "damaged, seed " + std::to_string(seed));
        for (std::size_t n : {bytes.size() / 3, bytes.size() / 2, bytes.size() - 5})
            expectFileOpenAsMemoryOpen(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)),
                                       "cut at " + std::to_string(n));
        if (HasFailure()) return;
    }
}

TEST(InflatingOpen, AFailingInflaterFailsTheOpenAndLeavesNoFile) {
    TempDir recordings;
    TempDir tmp;
    TempDirectoryOverride env(tmp.path());
    const Bytes bytes = generated(4, true, 60000);
    const std::string path = recordings.write("c.vok", std::string(bytes.begin(), bytes.end()));
    // The reads (of the recording, by the inflater, and of the temporary
    // file) and the inflater's writes: the first, one in the middle, the last.
    for (fault::Point point : {fault::Point::TempWrite, fault::Point::Read}) {
        fault::arm(point, ~0ull);
        openFile(path, VOK_TOLERANT_READING);
        const std::uint64_t calls = fault::calls(point);
        fault::disarm();
        ASSERT_GT(calls, 10u);
        for (std::uint64_t nth : {std::uint64_t{1}, calls / 2, calls}) {
            fault::arm(point, nth);
            const Built built = openFile(path, VOK_TOLERANT_READING);
            const bool fired = fault::fired(point);
            fault::disarm();
            SCOPED_TRACE(std::to_string(static_cast<int>(point)) + " fails at " + std::to_string(nth));
            ASSERT_TRUE(fired);
            if (point == fault::Point::TempWrite) {
                EXPECT_FALSE(built.opened);
                ASSERT_FALSE(built.log.empty());
                EXPECT_EQ(built.log.back(), "Failed to decompress the recording into a temp file \n\n");
            }
            EXPECT_TRUE(std::filesystem::is_empty(tmp.path())) << "a temporary file was left behind";
        }
    }
}

}  // namespace
}  // namespace vok::test
