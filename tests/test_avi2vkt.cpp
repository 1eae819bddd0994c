// The avi2vkt converter: AVI headers (well-formed and damaged), frame times
// and the table file, and the built program end to end on recordings made
// by the writer and AVI files made here, alone and run by the library when
// a table is missing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AviHeader.h"
#include "FrameTable.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "video/AVIVOKTimeLookupTime.h"
#include "video/FrameLookup.h"

#ifndef VOKAPI_AVI2VKT_PATH
#error "VOKAPI_AVI2VKT_PATH must name the built converter"
#endif

namespace avi2vkt {
namespace {

namespace fs = std::filesystem;

// ---- AVI files ----

std::string le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string chunk(const std::string& id, const std::string& data) {
    std::string s = id + le32(static_cast<std::uint32_t>(data.size())) + data;
    if (data.size() % 2 != 0) s += '\0';
    return s;
}

std::string list(const std::string& type, const std::string& body) { return chunk("LIST", type + body); }

std::string mainHeader(std::uint32_t microSecPerFrame, std::uint32_t frames,
                       std::size_t size = kMainHeaderSize) {
    std::string d = le32(microSecPerFrame) + le32(1000000) + le32(0) + le32(0x10) + le32(frames) + le32(0) +
                    le32(1) + le32(0) + le32(640) + le32(480);
    d.resize(size, '\0');
    return chunk("avih", d);
}

std::string riff(const std::string& body, const std::string& form = "AVI ") {
    return "RIFF" + le32(static_cast<std::uint32_t>(4 + body.size())) + form + body;
}

// The frame data: one empty chunk per frame.
std::string movi(std::uint32_t frames) {
    std::string body;
    for (std::uint32_t i = 0; i < frames; ++i) body += chunk("00dc", "");
    return list("movi", body);
}

std::string aviFile(std::uint32_t microSecPerFrame, std::uint32_t frames) {
    return riff(list("hdrl", mainHeader(microSecPerFrame, frames) +
                                 list("strl", chunk("strh", std::string(56, '\0')))) +
                movi(frames));
}

struct HeaderCase {
    const char* what;
    std::string bytes;
    bool ok;
    std::uint32_t microSecPerFrame = 0;
    std::uint32_t frames = 0;
    const char* error = "";  // part of the reason
};

TEST(AviHeader, ReadsTheMainHeaderAndRefusesDamagedFiles) {
    const std::string hdrl = list("hdrl", mainHeader(33367, 4));
    const std::string good = riff(hdrl + movi(4));
    std::string truncated = good.substr(0, 40);
    std::string hugeChunk = riff(
        list("hdrl", chunk("strn", "abc").substr(0, 4) + le32(0xFFFFFFF0u) + mainHeader(40000, 4)) + movi(4));
    const HeaderCase cases[] = {
        {"plain", good, true, 33367, 4},
        {"junk before the header list", riff(chunk("JUNK", std::string(7, 'j')) + hdrl + movi(4)), true,
         33367, 4},
        {"odd-sized chunk before the main header",
         riff(list("hdrl", chunk("strn", "abc") + mainHeader(40000, 3)) + movi(3)), true, 40000, 3},
        {"OpenDML count beyond the first RIFF",
         riff(list("hdrl",
                   mainHeader(40000, 2) + list("odml", chunk("dmlh", le32(6) + std::string(244, '\0')))) +
              movi(6)),
         true, 40000, 6},
        {"RIFF size beyond the file", good.substr(0, 4) + le32(0x7FFFFFFF) + good.substr(8), true, 33367, 4},
        {"empty file", "", false, 0, 0, "not an AVI file"},
        {"not RIFF", "RIFX" + good.substr(4), false, 0, 0, "not an AVI file"},
        {"another RIFF form", riff(hdrl, "WAVE"), false, 0, 0, "not an AVI file"},
        {"header list cut short", truncated, false, 0, 0, "runs past the end of the file"},
        {"main header too short", riff(list("hdrl", mainHeader(40000, 4, 40)) + movi(4)), false, 0, 0,
         "damaged 'avih'"},
        {"no main header", riff(list("hdrl", list("strl", "")) + movi(1)), false, 0, 0, "no 'avih'"},
        {"no header list", riff(movi(2)), false, 0, 0, "no 'hdrl'"},
        {"chunk size beyond its list", hugeChunk, false, 0, 0, "damaged header list"},
        {"list without a type", riff(chunk("LIST", "ab")), false, 0, 0, "damaged list"},
    };
    vok::test::TempDir dir;
    for (const HeaderCase& c : cases) {
        const std::string path = dir.write("v.avi", c.bytes);
        AviHeader h;
        std::string error;
        EXPECT_EQ(readAviHeader(path, h, error), c.ok) << c.what << ": " << error;
        if (c.ok) {
            EXPECT_EQ(h.microSecPerFrame, c.microSecPerFrame) << c.what;
            EXPECT_EQ(h.totalFrames, c.frames) << c.what;
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
        }
    }
    AviHeader h;
    std::string error;
    EXPECT_FALSE(readAviHeader((dir.path() / "missing.avi").string(), h, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos);
}

TEST(AviHeader, EveryTruncationFailsCleanly) {
    const std::string good = aviFile(40000, 3);
    vok::test::TempDir dir;
    const std::size_t hdrlEnd = good.find("movi") - 8;
    for (std::size_t cut = 0; cut < hdrlEnd; ++cut) {
        const std::string path = dir.write("v.avi", good.substr(0, cut));
        AviHeader h;
        std::string error;
        EXPECT_FALSE(readAviHeader(path, h, error)) << cut;
        EXPECT_FALSE(error.empty()) << cut;
    }
}

// ---- frame times and the table file ----

TEST(FrameTable, TimesAreTheRoundedMultiplesOfThePeriod) {
    struct Case {
        std::uint32_t start;
        std::uint32_t micro;
        std::vector<std::uint32_t> times;
    };
    const Case cases[] = {
        {1000, 40000, {1000, 1040, 1080, 1120}},
        {1000, 33367, {1000, 1033, 1067, 1100, 1133, 1167}},  // 33.367 ms: 66.734 rounds up
        {0, 1500, {0, 2, 3, 5, 6}},                           // 1.5 ms: halves round up
        {7, 999, {7, 8, 9, 10}},
    };
    for (const Case& c : cases) {
        std::vector<FrameRecord> records;
        std::string error;
        ASSERT_TRUE(
            frameRecords(c.start, c.micro, static_cast<std::uint32_t>(c.times.size()), records, error));
        ASSERT_EQ(records.size(), c.times.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].time(), c.times[i]) << c.micro << " frame " << i;
            EXPECT_EQ(records[i].frameWord, i);
            EXPECT_EQ(records[i].baseTime, c.start + i * c.micro / 1000) << "the floor";
        }
    }
    // A long video does not drift: within half a millisecond of the exact
    // time all along.
    std::vector<FrameRecord> records;
    std::string error;
    ASSERT_TRUE(frameRecords(5000, 33367, 100000, records, error));
    for (std::size_t i = 0; i < records.size(); i += 997) {
        const double exact = 5000.0 + static_cast<double>(i) * 33.367;
        EXPECT_LE(std::fabs(records[i].time() - exact), 0.5) << i;
        if (i > 0) {
            EXPECT_GT(records[i].time(), records[i - 997].time());
        }
    }
}

TEST(FrameTable, RefusesWhatATableCannotHold) {
    std::vector<FrameRecord> records;
    std::string error;
    EXPECT_FALSE(frameRecords(0, 0, 10, records, error));
    EXPECT_NE(error.find("no frame period"), std::string::npos);
    EXPECT_FALSE(frameRecords(0, 40000, 0x80000000u, records, error));
    EXPECT_NE(error.find("too many frames"), std::string::npos);
    EXPECT_FALSE(frameRecords(0xFFFFFF00u, 40000, 10, records, error)) << "past the clock's end";
    EXPECT_TRUE(frameRecords(0xFFFFFF00u, 40000, 7, records, error)) << "ends at 0xFFFFFFF0";
    EXPECT_TRUE(frameRecords(100, 40000, 0, records, error));
    EXPECT_TRUE(records.empty());

    FrameRecord r;
    ASSERT_TRUE(makeRecord(5, 1000, 995, r));
    EXPECT_EQ(r.correction, 0x2005);
    EXPECT_EQ(r.time(), 995u);
    ASSERT_TRUE(makeRecord(5, 1000, 1000 + 8191, r));
    EXPECT_EQ(r.correction, 0x1FFF);
    EXPECT_FALSE(makeRecord(5, 1000, 1000 + 8192, r));
    EXPECT_FALSE(makeRecord(5, 10000, 10000 - 8192, r));
}

TEST(FrameTable, TheLibraryReadsWhatTheConverterWrites) {
    std::vector<FrameRecord> records;
    std::string error;
    ASSERT_TRUE(frameRecords(20000, 33367, 300, records, error));
    ASSERT_TRUE(makeRecord(300, 40000, 39990, records.emplace_back()));  // a subtracting record
    vok::test::TempDir dir;
    const std::string path = (dir.path() / "t.vkt").string();
    ASSERT_TRUE(writeTable(path, records, error)) << error;
    EXPECT_FALSE(fs::exists(path + ".part"));
    EXPECT_EQ(fs::file_size(path), 8 + 12 * records.size());

    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    vok::video::AVIVOKTimeLookupTime table(0);
    ASSERT_TRUE(table.read(f));
    std::fclose(f);
    ASSERT_EQ(table.recordCount(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(table.records()[i].time(), records[i].time()) << i;
        EXPECT_EQ(table.records()[i].frameNumber(), static_cast<int>(records[i].frameWord)) << i;
    }
    EXPECT_EQ(table.frameForTime(20000 + 100 * 33367 / 1000), 100);

    EXPECT_FALSE(writeTable((dir.path() / "no" / "t.vkt").string(), records, error));
    EXPECT_NE(error.find("cannot create"), std::string::npos);
}

// ---- the program ----

// A realistic recording of two blocks at 500 Hz, with eye events, messages
// and events blocks beside the sample blocks, written by the project's
// writer.
vokgen::GenResult twoBlockRecording() {
    vokgen::GenOptions o;
    o.seed = 7;
    o.blocks = 2;
    o.durationMs = 4000;
    o.pauseMs = 1500;
    o.sampleRate = 500;
    o.startTime = 5000;
    return vokgen::generateRecording(o);
}

struct RunResult {
    int status;
    std::string errors;
};

// Runs the built converter in dir with the arguments; collects its
// standard error.
RunResult runConverter(const fs::path& dir, const std::vector<std::string>& args) {
    const fs::path errors = dir / "stderr.txt";
    std::vector<std::string> argv = {VOKAPI_AVI2VKT_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r{-1, ""};
    {
        vok::test::StderrToFile redirect(errors.string());
        const std::string before = vok::platform::currentDirectory();
        if (!vok::platform::changeDirectory(dir.string().c_str())) return r;
        r.status = vok::platform::runProgram(argv);
        vok::platform::changeDirectory(before.c_str());
    }
    std::ifstream in(errors);
    r.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
}

std::vector<std::uint32_t> tableTimes(const fs::path& path) {
    std::vector<std::uint32_t> times;
    std::FILE* f = std::fopen(path.string().c_str(), "rb");
    if (f == nullptr) return times;
    vok::video::AVIVOKTimeLookupTime table(0);
    testing::internal::CaptureStdout();
    const bool ok = table.read(f);
    testing::internal::GetCapturedStdout();
    std::fclose(f);
    if (ok) {
        for (const auto& r : table.records()) times.push_back(r.time());
    }
    return times;
}

class Converter : public testing::Test {
protected:
    void SetUp() override {
        const vokgen::GenResult rec = twoBlockRecording();
        ASSERT_EQ(rec.blocks.size(), 2u);
        start0_ = rec.blocks[0].startTime;
        start1_ = rec.blocks[1].startTime;
        ASSERT_EQ(start0_, 5000u);
        ASSERT_GT(start1_, start0_ + 2000);
        dir_.write("s1.vok", std::string(rec.bytes.begin(), rec.bytes.end()));
        dir_.write("s10.avi", aviFile(40000, 10));
        dir_.write("s11.avi", aviFile(33367, 50));
    }
    fs::path at(const std::string& name) const { return dir_.path() / name; }
    vok::test::TempDir dir_;
    std::uint32_t start0_ = 0;
    std::uint32_t start1_ = 0;
};

TEST_F(Converter, MakesTheMissingTablesFromTheVideosAndBlockStarts) {
    const RunResult r = runConverter(dir_.path(), {"s1", "2"});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.errors, "");
    const std::vector<std::uint32_t> t0 = tableTimes(at("s10.vkt"));
    ASSERT_EQ(t0.size(), 10u);
    for (std::size_t i = 0; i < t0.size(); ++i) EXPECT_EQ(t0[i], start0_ + 40 * i);
    const std::vector<std::uint32_t> t1 = tableTimes(at("s11.vkt"));
    ASSERT_EQ(t1.size(), 50u);
    for (std::size_t i = 0; i < t1.size(); ++i) {
        EXPECT_EQ(t1[i], start1_ + (i * 33367 + 500) / 1000) << i;
    }

    // Tables that are there are left alone.
    fs::remove(at("s11.vkt"));
    const auto before = fs::last_write_time(at("s10.vkt"));
    dir_.write("s10.avi", "damaged now");
    const RunResult again = runConverter(dir_.path(), {"s1", "2"});
    EXPECT_EQ(again.status, 0) << again.errors;
    EXPECT_EQ(fs::last_write_time(at("s10.vkt")), before);
    EXPECT_EQ(tableTimes(at("s11.vkt")).size(), 50u);
}

TEST_F(Converter, FailsWithAReasonOnStandardError) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* reason;
    };
    dir_.write("s12.avi", aviFile(40000, 5));
    dir_.write("s13.avi", "RIFF....WAVEfmt ");
    dir_.write("s14.avi", riff(list("hdrl", mainHeader(40000, 1000000)) + movi(3)));
    const Case cases[] = {
        {"missing video", {"s1", "6"}, "missing video file s15.avi"},
        {"no such block", {"s1", "3"}, "has no recording block 2 (it has 2)"},
        {"not an AVI file", {"s1", "4"}, "s13.avi is not an AVI file"},
        {"implausible frame count", {"s1", "5"}, "more than the file can hold"},
        {"missing recording", {"nothing", "1"}, "missing video file nothing0.avi"},
        {"bad count", {"s1", "0"}, "COUNT"},
        {"no count", {"s1"}, "COUNT"},
    };
    for (const Case& c : cases) {
        const RunResult r = runConverter(dir_.path(), c.args);
        EXPECT_NE(r.status, 0) << c.what;
        EXPECT_NE(r.errors.find(c.reason), std::string::npos) << c.what << ": " << r.errors;
    }
    // The video exists but the recording does not.
    fs::copy_file(at("s10.avi"), at("other0.avi"));
    const RunResult r = runConverter(dir_.path(), {"other", "1"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.errors.find("cannot open the recording other.vok"), std::string::npos) << r.errors;
    EXPECT_FALSE(fs::exists(at("other0.vkt")));
}

TEST_F(Converter, OnlyTheVideoAskedForDecidesTheStatus) {
    // Block 0 has no video; the table of block 1 is still made.
    fs::remove(at("s10.avi"));
    RunResult r = runConverter(dir_.path(), {"s1", "2"});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_FALSE(fs::exists(at("s10.vkt")));
    EXPECT_EQ(tableTimes(at("s11.vkt")).size(), 50u);

    // A damaged video below is reported, but does not fail the run.
    fs::remove(at("s11.vkt"));
    dir_.write("s10.avi", "not a video");
    r = runConverter(dir_.path(), {"s1", "2"});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(r.errors.find("s10.avi is not an AVI file"), std::string::npos) << r.errors;
    EXPECT_TRUE(fs::exists(at("s11.vkt")));
}

TEST_F(Converter, TheLibraryRunsItForAMissingTable) {
    // The converter is found on the search path, as next to a host program.
    const std::string old = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    const std::string bin = fs::path(VOKAPI_AVI2VKT_PATH).parent_path().string();
    vok::platform::setEnvironment("PATH", (bin + vok::platform::searchPathSeparator() + old).c_str());
    vok::video::dropTable();
    testing::internal::CaptureStdout();
    const int loaded = vok::video::loadTable(at("s1.vok").string().c_str(), 1, true);
    const std::string out = testing::internal::GetCapturedStdout();
    vok::platform::setEnvironment("PATH", old.c_str());
    ASSERT_EQ(loaded, 0) << out;
    EXPECT_NE(out.find("creating lookup table file avi2vkt s1 2 \n"), std::string::npos) << out;
    EXPECT_NE(out.find("Done Loading vkt file " + at("s11.vkt").string() + " \n"), std::string::npos);
    EXPECT_TRUE(fs::exists(at("s10.vkt"))) << "the videos below are made on the way";

    const vok::video::AVIVOKTimeLookupTime* table = vok::video::currentTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->recordCount(), 50u);
    EXPECT_EQ(vok::video::frameForTime(start1_), 0);
    EXPECT_EQ(vok::video::frameForTime(start1_ + 1001), 30);  // 30 * 33.367 = 1001.01
    EXPECT_EQ(vok::video::frameForTime(start1_ - 10), -1) << "before the first frame";
    testing::internal::CaptureStdout();
    EXPECT_EQ(vok::video::findFrameForRecordingTime(0, start0_ + 40 * 7), 7) << "video 0's table";
    testing::internal::GetCapturedStdout();
    vok::video::dropTable();
}

}  // namespace
}  // namespace avi2vkt
