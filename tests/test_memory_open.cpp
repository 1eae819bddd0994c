// Opening from memory: a recording given as bytes opens exactly as a file of
// the same bytes (same items, records, messages, failures), without copying
// them and without a temporary file, and reads the extra message file only
// when one is named.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "ExtraLogWriter.h"
#include "VokWriter.h"
#include "support/TestSupport.h"
#include "vokapi_ext.h"

namespace vok::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Everything a client sees of one open: the error value, the log, and every
// step with its record (message texts instead of their pointers).
struct Seen {
    int err = 0;
    std::string log;
    unsigned count = 0;
    std::vector<std::string> items;
};

Seen walk(VOKFile* file, int err, std::string log) {
    Seen seen;
    seen.err = err;
    seen.log = std::move(log);
    if (file == nullptr) return seen;
    seen.count = vok_get_element_count(file);
    for (int type; (type = vok_get_next_data(file)) != 0;) {
        std::string item = std::to_string(type) + ":";
        if (const FloatData* d = vok_get_float_data(file)) {
            FloatData copy = *d;
            if (type != SAMPLE_TYPE && type != RECORDING_INFO) {
                if (copy.event.message != nullptr) item.append(copy.event.message->c, copy.event.message->length);
                copy.event.message = nullptr;
            }
            item.append(reinterpret_cast<const char*>(&copy), sizeof copy);
        }
        seen.items.push_back(item);
    }
    vok_close_file(file);
    return seen;
}

Seen fromFile(const TempDir& dir, const Bytes& bytes, int consistency, int loadEvents = 1) {
    const std::string path = dir.write("same.vok", std::string(bytes.begin(), bytes.end()));
    LogCapture capture;
    int err = 7;
    VOKFile* f = vok_open_file(path.c_str(), consistency, loadEvents, 1, &err);
    return walk(f, err, capture.text());
}

Seen fromMemory(const Bytes& bytes, int consistency, int loadEvents = 1) {
    LogCapture capture;
    int err = 7;
    VOKFile* f = vokext_open_memory(bytes.data(), bytes.size(), consistency, loadEvents, 1, &err);
    return walk(f, err, capture.text());
}

void expectSame(const Seen& file, const Seen& memory, const std::string& what) {
    EXPECT_EQ(memory.err, file.err) << what;
    EXPECT_EQ(memory.log, file.log) << what;
    EXPECT_EQ(memory.count, file.count) << what;
    ASSERT_EQ(memory.items.size(), file.items.size()) << what;
    for (std::size_t i = 0; i < file.items.size(); ++i) {
        ASSERT_EQ(memory.items[i], file.items[i]) << what << ", item " << i;
    }
}

TEST(MemoryOpen, RandomAndDamagedRecordingsOpenAsTheirFilesDo) {
    TempDir dir;
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
        vokgen::GenOptions o;
        o.seed = seed;
        o.durationMs = 3000;
        o.blocks = 1 + static_cast<int>(seed % 2);
        o.sampleRate = seed == 3 ? 2000 : 500;
        o.gaps = seed % 2 == 0;
        o.compressed = seed >= 3;
        o.expectation = vokgen::Expectation::None;
        const Bytes whole = vokgen::generateRecording(o).bytes;
        std::mt19937 rng(static_cast<unsigned>(seed));
        Bytes damaged = whole;
        for (int k = 0; k < 8; ++k) damaged[200 + rng() % (damaged.size() - 200)] ^= 0x5A;
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() * 2 / 3));
        const std::string name = "seed " + std::to_string(seed) + (o.compressed ? " compressed" : " plain");
        for (int consistency : {0, 2, 1 | VOK_TOLERANT_READING, 2 | VOK_TOLERANT_READING}) {
            const std::string c = ", consistency " + std::to_string(consistency);
            expectSame(fromFile(dir, whole, consistency), fromMemory(whole, consistency), name + c);
            expectSame(fromFile(dir, damaged, consistency), fromMemory(damaged, consistency), name + " damaged" + c);
            expectSame(fromFile(dir, cut, consistency), fromMemory(cut, consistency), name + " cut" + c);
        }
    }
    // Failures that happen before any record: the same error and text.
    for (const std::string& bytes : {std::string(), std::string("NOT A RECORDING\n"),
                                     std::string("ZK_MORAVELT_7700FILE\n** DATE: none\n")}) {
        const Bytes b(bytes.begin(), bytes.end());
        const Seen memory = fromMemory(b, 0);
        EXPECT_EQ(memory.err, -1) << bytes;
        expectSame(fromFile(dir, b, 0), memory, "head \"" + bytes + "\"");
    }
}

TEST(MemoryOpen, NoTemporaryFileAndNoBytesWithoutAPointer) {
    TempDir temp;
    TempDirectoryOverride redirect(temp.path());
    vokgen::GenOptions o;
    o.durationMs = 1000;
    o.compressed = true;
    const Bytes bytes = vokgen::generateRecording(o).bytes;
    int err = 7;
    VOKFile* f = vokext_open_memory(bytes.data(), bytes.size(), 0, 1, 1, &err);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(std::filesystem::is_empty(temp.path())) << "a compressed body is inflated into memory";
    EXPECT_GT(vok_get_element_count(f), 100u);
    vok_close_file(f);

    LogCapture capture;
    EXPECT_EQ(vokext_open_memory(nullptr, 10, 0, 1, 1, &err), nullptr);
    EXPECT_EQ(err, -1);
    EXPECT_TRUE(capture.contains("No recording bytes given"));
}

TEST(MemoryOpen, ExtraMessagesOnlyFromANamedFile) {
    TempDir dir;
    vokgen::GenOptions o;
    o.durationMs = 2000;
    o.startTime = 5000;
    const Bytes bytes = vokgen::generateRecording(o).bytes;
    vokgen::ExtraLogWriter lines;
    lines.sync(100.0, 5000.0).message(300.0, "from the log").quit(400.0);
    const std::string logPath = dir.write("named.log", lines.text());

    const Seen none = fromMemory(bytes, 0, 3);
    EXPECT_EQ(none.count, fromMemory(bytes, 0, 1).count) << "no folder to find mb_messages.log in";

    vok_set_extra_message_file(logPath.c_str());
    const Seen named = fromMemory(bytes, 0, 3);
    expectSame(fromFile(dir, bytes, 0, 3), named, "with a named extra message file");
    vok_set_extra_message_file(nullptr);
    EXPECT_EQ(named.count, none.count + 2) << "the synchronisation line and the message";
}

}  // namespace
}  // namespace vok::test
