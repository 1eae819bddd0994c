// Video frame lookup: lookup table records and files (damaged ones too), the
// frame search and iteration, loading by recording name with the converter
// run for a missing table (a fake converter script observes the call), the
// frame messages of playback, and the process calls of the platform layer
// that running the converter needs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "video/AVIVOKTimeLookupTime.h"
#include "video/FrameLookup.h"
#include "java/VideoPort.h"

namespace vok::video {
namespace {

namespace fs = std::filesystem;

// ---- helpers ----

std::string le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

struct Frame {
    std::uint32_t frame;
    std::uint32_t time;
};

LookupRecord recordAt(std::uint32_t frame, std::uint32_t time) {
    LookupRecord r;
    r.frameWord = frame;
    r.baseTime = time;
    return r;
}

// Table file bytes: count, magic, records.
std::string tableBytes(const std::vector<LookupRecord>& records) {
    std::string s = le32(static_cast<std::uint32_t>(records.size())) + le32(kLookupMagic);
    for (const LookupRecord& r : records) {
        unsigned char b[kLookupRecordSize];
        encodeLookupRecord(r, b);
        s.append(reinterpret_cast<const char*>(b), sizeof b);
    }
    return s;
}

std::string tableBytes(const std::vector<Frame>& frames) {
    std::vector<LookupRecord> records;
    for (const Frame& f : frames) records.push_back(recordAt(f.frame, f.time));
    return tableBytes(records);
}

// Collects what goes to standard output while it lives.
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        testing::internal::CaptureStdout();
    }
    ~StdoutCapture() {
        if (!taken_) testing::internal::GetCapturedStdout();
    }
    std::string take() {
        taken_ = true;
        return testing::internal::GetCapturedStdout();
    }

private:
    bool taken_ = false;
};

// Sets an environment variable for its lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        platform::setEnvironment(name, value.c_str());
    }
    ~ScopedEnv() { platform::setEnvironment(name_, hadOld_ ? old_.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::string old_;
    bool hadOld_ = false;
};

// Works in another directory for its lifetime.
class ScopedCwd {
public:
    explicit ScopedCwd(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
    ~ScopedCwd() { fs::current_path(old_); }
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

private:
    fs::path old_;
};

std::string readText(const fs::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A stand-in converter on the search path (tests/support/fake_converter.cpp,
// installed as "avi2vkt" in a folder of its own): writes its working
// directory and arguments to $FAKE_LOG, copies $FAKE_TABLE to the table the
// library asked for when that is set, and exits with $FAKE_STATUS.
class FakeConverter {
public:
    FakeConverter()
        : path_("PATH", bin_.path().string() + platform::searchPathSeparator() + safePath()),
          log_("FAKE_LOG", (bin_.path() / "calls.log").string()) {
        const fs::path program = VOKAPI_FAKE_CONVERTER_PATH;
        fs::copy_file(program, bin_.path() / ("avi2vkt" + program.extension().string()));
    }
    std::string calls() const { return readText(bin_.path() / "calls.log"); }
    bool called() const { return fs::exists(bin_.path() / "calls.log"); }

private:
    // Where the system's own programs are.
    static std::string safePath() {
        if (!test::kWindows) return std::string("/usr/bin") + platform::searchPathSeparator() + "/bin";
        const char* root = std::getenv("SystemRoot");
        const std::string windows = root != nullptr ? root : "C:\\windows";
        return windows + "\\system32" + platform::searchPathSeparator() + windows;
    }
    test::TempDir bin_;
    ScopedEnv path_;
    ScopedEnv log_;
};

class VideoLookup : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // The first converter run of the process extends the search path
        // (and may say so); do it here so that the tests see only their own
        // lines.
        StdoutCapture capture;
        runInDirectory("", {"true"});
    }
    void SetUp() override { dropTable(); }
    void TearDown() override { dropTable(); }

    std::string recording(const std::string& stem) const { return (dir_.path() / (stem + ".vok")).string(); }
    std::string writeTable(const std::string& name, const std::string& bytes) const {
        return dir_.write(name, bytes);
    }
    // Loads name, video n, without the converter; returns the result.
    int load(const std::string& name, std::uint32_t n, std::string* out = nullptr) {
        StdoutCapture capture;
        int r = loadTable(name.c_str(), n, false);
        std::string text = capture.take();
        if (out != nullptr) *out = text;
        return r;
    }

    test::TempDir dir_;
};

// ---- records ----

TEST(LookupRecord, DecodesLittleEndianAndCorrects) {
    struct Case {
        std::uint32_t base;
        std::uint16_t correction;
        std::uint32_t time;
    };
    const Case cases[] = {
        {1000, 0x2005, 995},                                    // bit 13: subtract
        {1000, 0x0005, 1005},                                   // add
        {1000, 0xC005, 1005},                                   // bits 14 and 15 ignored
        {1000, 0xE005, 995},      {1000, 0x1FFF, 1000 + 8191},  // the largest correction
        {3, 0x2005, 0xFFFFFFFEu},                               // 32-bit arithmetic
        {0xFFFFFFFFu, 0x0002, 1},
    };
    for (const Case& c : cases) {
        const unsigned char b[12] = {0x07,
                                     0x00,
                                     0x00,
                                     0x80,  // frame 7, bit 31 set
                                     static_cast<unsigned char>(c.base),
                                     static_cast<unsigned char>(c.base >> 8),
                                     static_cast<unsigned char>(c.base >> 16),
                                     static_cast<unsigned char>(c.base >> 24),
                                     static_cast<unsigned char>(c.correction),
                                     static_cast<unsigned char>(c.correction >> 8),
                                     0xAA,
                                     0xBB};
        LookupRecord r = decodeLookupRecord(b);
        EXPECT_EQ(r.time(), c.time) << c.base << " " << c.correction;
        EXPECT_EQ(r.frameNumber(), 7);
        EXPECT_EQ(r.baseTime, c.base);
        unsigned char again[12];
        encodeLookupRecord(r, again);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(b), 12),
                  std::string(reinterpret_cast<const char*>(again), 12));
    }
}

// ---- reading table files ----

struct DamagedCase {
    const char* what;
    std::string bytes;
    bool ok;
    const char* output;
    std::uint32_t records = 0;
};

std::vector<DamagedCase> damagedCases() {
    const std::string rec(12, '\x01');
    const std::string magic = le32(kLookupMagic);
    return {
        {"empty", "", false, "Read Error. Cannot read the number of records\n"},
        {"short count", "\x02\x00\x00", false, "Read Error. Cannot read the number of records\n"},
        {"no magic", le32(2), false, "Bad magic! aborting read!!! \n"},
        {"short magic", le32(2) + "\x00\x10\x5A", false, "Bad magic! aborting read!!! \n"},
        {"big-endian magic", le32(1) + "\xAE\x5A\x10\x00" + rec, false, "Bad magic! aborting read!!! \n"},
        {"short record", le32(2) + magic + rec + rec.substr(0, 11), false,
         "Read Error. Cannot read record 1! Aborting....\n"},
        {"no records", le32(3) + magic, false, "Read Error. Cannot read record 0! Aborting....\n"},
        {"huge count", le32(0x7FFFFFFF) + magic + rec, false,
         "Read Error. Cannot read record 1! Aborting....\n"},
        {"count 0xFFFFFFF0 (negative)", le32(0xFFFFFFF0u) + magic + rec, true, ""},
        {"count 0", le32(0) + magic, true, ""},
        {"two records", le32(2) + magic + rec + rec, true, "", 2},
        {"extra bytes after the records", le32(1) + magic + rec + "xyz", true, "", 1},
    };
}

TEST_F(VideoLookup, ReadsTableFilesAndRefusesDamagedOnes) {
    for (const DamagedCase& c : damagedCases()) {
        const std::string path = writeTable("t.vkt", c.bytes);
        std::FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        AVIVOKTimeLookupTime table(0);
        StdoutCapture capture;
        const bool ok = table.read(f);
        std::fclose(f);
        EXPECT_EQ(ok, c.ok) << c.what;
        EXPECT_EQ(capture.take(), c.output) << c.what;
        if (ok) {
            EXPECT_EQ(table.recordCount(), c.records) << c.what;
        }
    }
}

TEST_F(VideoLookup, ReadsFromAStreamOfUnknownSize) {
    // Not a regular file: the count cannot be checked against the size,
    // and the array grows only as records arrive.
    std::string bytes = le32(0x7FFFFFFF) + le32(kLookupMagic) + std::string(24, '\x02');
    std::FILE* f = test::pipeStream(bytes);
    ASSERT_NE(f, nullptr);
    AVIVOKTimeLookupTime table(0);
    StdoutCapture capture;
    EXPECT_FALSE(table.read(f));
    std::fclose(f);
    EXPECT_EQ(capture.take(), "Read Error. Cannot read record 2! Aborting....\n");

    std::string good = tableBytes(std::vector<Frame>{{0, 10}, {1, 43}});
    f = test::pipeStream(good);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(table.read(f));
    std::fclose(f);
    EXPECT_EQ(table.recordCount(), 2u);
    EXPECT_EQ(table.records()[1].time(), 43u);
}

TEST_F(VideoLookup, DamagedTableLeavesNoTable) {
    writeTable("s10.vkt", tableBytes(std::vector<Frame>{{0, 1000}, {1, 1033}}));
    ASSERT_EQ(load(recording("s1"), 0), 0);
    ASSERT_NE(currentTable(), nullptr);
    EXPECT_EQ(frameForTime(1000), 0);

    writeTable("s11.vkt", le32(5) + le32(kLookupMagic) + std::string(30, '\0'));
    std::string out;
    EXPECT_EQ(load(recording("s1"), 1, &out), -1);
    const std::string table = (dir_.path() / "s11.vkt").string();
    EXPECT_EQ(out, "Loading vkt file " + table + " \nRead Error. Cannot read record 2! Aborting....\n");
    EXPECT_EQ(currentTable(), nullptr);
    EXPECT_EQ(frameForTime(1000), -1);
    EXPECT_EQ(nextFrameTime(), kNoTime);
    EXPECT_EQ(currentFrameNumber(), -1);
    EXPECT_STREQ(currentBaseName(), "");
}

// ---- frame for time ----

TEST(FrameForTime, BisectsWithinThirtyMilliseconds) {
    struct Case {
        const char* what;
        std::vector<Frame> frames;
        std::uint32_t t;
        int frame;
    };
    const std::uint32_t top = 0xFFFFFFFFu;
    const Case cases[] = {
        {"the upper end starts past the last record", {{1, 980}, {2, 1029}}, 1000, 2},
        {"nothing near on the path", {{1, 900}, {2, 1031}}, 1000, -1},
        {"after the last, though within 30", {{1, 1000}, {2, 1040}}, 1050, -1},
        {"before the first, though within 30", {{1, 1000}, {2, 1040}}, 990, -1},
        {"exactly the last", {{1, 1000}, {2, 1040}}, 1040, 2},
        {"empty table", {}, 1000, -1},
        {"one record", {{5, 700}}, 700, 5},
        {"near 0: t - 30 below zero", {{1, 0}, {2, 33}, {3, 66}}, 5, 2},
        {"at 0", {{1, 0}, {2, 33}, {3, 66}}, 0, 1},
        {"near 2^32: t + 30 above 32 bits", {{1, top - 0xFF}, {2, top - 15}}, top - 20, 2},
        {"the last millisecond of the clock", {{1, top - 40}, {2, top}}, top, 2},
        {"times above 2^31 are not negative", {{1, 0x80000000u}, {2, 0x80000021u}}, 0x80000010u, 2},
        {"times above 2^31 against a small t", {{1, 0x80000000u}}, 10, -1},
        {"frame word bit 31 ignored", {{0x80000009u, 50}, {0x8000000Au, 83}}, 83, 10},
        {"long table", {}, 0, -1},  // filled below
    };
    for (const Case& c0 : cases) {
        Case c = c0;
        if (std::string(c.what) == "long table") {
            for (std::uint32_t i = 0; i < 1000; ++i) c.frames.push_back({i, 5000 + i * 33 + i % 2});
            c.t = 5000 + 617 * 33 + 1 + 3;
            c.frame = 617;
        }
        AVIVOKTimeLookupTime table(0);
        std::string bytes = tableBytes(c.frames);
        std::FILE* f = test::pipeStream(bytes);
        ASSERT_NE(f, nullptr);
        ASSERT_TRUE(table.read(f)) << c.what;
        std::fclose(f);
        EXPECT_EQ(table.frameForTime(c.t), c.frame) << c.what;
        EXPECT_EQ(table.readPosition(), 0) << "the search does not iterate";
    }
}

// ---- frame iteration ----

TEST_F(VideoLookup, IteratesFramesConsumingBothRecordsOfAFrame) {
    writeTable("s10.vkt",
               tableBytes(std::vector<Frame>{{7, 500}, {7, 498}, {8, 533}, {9, 566}, {9, 566}, {10, 600}}));
    EXPECT_EQ(nextFrameTime(), kNoTime) << "no table yet";
    EXPECT_EQ(currentFrameNumber(), -1);
    ASSERT_EQ(load(recording("s1"), 0), 0);
    const AVIVOKTimeLookupTime* table = currentTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(currentFrameNumber(), -1);

    EXPECT_EQ(nextFrameTime(), 498u) << "the earlier of the frame's two records";
    EXPECT_EQ(currentFrameNumber(), 7);
    EXPECT_EQ(table->readPosition(), 2) << "both records consumed";

    EXPECT_EQ(nextFrameTime(), 533u);
    EXPECT_EQ(currentFrameNumber(), 8);
    EXPECT_EQ(table->readPosition(), 3) << "the record of frame 9 is handed out again";

    EXPECT_EQ(nextFrameTime(), 566u);
    EXPECT_EQ(currentFrameNumber(), 9);
    EXPECT_EQ(table->readPosition(), 5);

    EXPECT_EQ(nextFrameTime(), 600u) << "only one record left";
    EXPECT_EQ(currentFrameNumber(), 10);

    EXPECT_EQ(nextFrameTime(), kNoTime);
    EXPECT_EQ(currentFrameNumber(), -1);
    EXPECT_EQ(nextFrameTime(), kNoTime);
}

// ---- loading by recording name ----

TEST_F(VideoLookup, RefusesNamesThatAreNotRecordings) {
    for (const char* name : {"", "s.vo", ".vok", "abcd", "s1.vox", "s1.avi", "vok"}) {
        std::string out;
        EXPECT_EQ(load(name, 0, &out), -1) << name;
        EXPECT_EQ(out, std::string("given vok file is not valid ") + name + " \n");
    }
}

TEST_F(VideoLookup, LoadsTheTableBesideTheRecording) {
    writeTable("S10.vkt", tableBytes(std::vector<Frame>{{0, 1000}, {1, 1033}}));
    writeTable("S13.vkt", tableBytes(std::vector<Frame>{{0, 9000}, {1, 9033}, {2, 9066}}));
    const std::string table = (dir_.path() / "S10.vkt").string();
    std::string out;
    ASSERT_EQ(load(recording("S1").substr(0, recording("S1").size() - 3) + "VOK", 0, &out), 0)
        << "the suffix in capitals";
    EXPECT_EQ(out, "Loading vkt file " + table + " \nDone Loading vkt file " + table + " \n");
    const AVIVOKTimeLookupTime* t = currentTable();
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->baseName(), "S1");
    EXPECT_EQ(t->directory(), dir_.path().string());
    EXPECT_EQ(t->separator(), static_cast<char>(fs::path::preferred_separator));
    EXPECT_EQ(t->videoNumber(), 0u);
    EXPECT_EQ(t->recordCount(), 2u);
    EXPECT_EQ(recordingNameOf(*t), recording("S1"));
    EXPECT_STREQ(currentBaseName(), "S1");

    // Another video of the same recording, found from the table.
    {
        StdoutCapture capture;
        EXPECT_EQ(findFrameForRecordingTime(3, 9040), 1);
        const std::string t3 = (dir_.path() / "S13.vkt").string();
        EXPECT_EQ(capture.take(), "Loading vkt file " + t3 + " \nDone Loading vkt file " + t3 + " \n");
    }
    EXPECT_EQ(currentTable()->videoNumber(), 3u);
    EXPECT_EQ(findFrameForRecordingTime(3, 9066), 2) << "the same video: no load";

    std::string missing = (dir_.path() / "S12.vkt").string();
    {
        StdoutCapture capture;
        EXPECT_EQ(findFrameForRecordingTime(2, 1000), -1);
        EXPECT_EQ(capture.take(), "Loading vkt file " + missing + " \nCannot read file " + missing + "\n");
    }
    EXPECT_EQ(currentTable(), nullptr) << "a failed load leaves no table";
    EXPECT_EQ(findFrameForRecordingTime(3, 9040), -1) << "nothing to find from";
}

TEST_F(VideoLookup, RefusesNamesTooLongForItsBuffers) {
    const std::string base19(19, 'b');
    writeTable(base19 + "0.vkt", tableBytes(std::vector<Frame>{{0, 10}}));
    EXPECT_EQ(load(recording(base19), 0), 0) << "19 characters fit";
    EXPECT_STREQ(currentBaseName(), base19.c_str());

    const std::string base20(20, 'b');
    writeTable(base20 + "0.vkt", tableBytes(std::vector<Frame>{{0, 10}}));
    std::string out;
    EXPECT_EQ(load(recording(base20), 0, &out), -1);
    EXPECT_EQ(out, "vok file name too long for a video lookup table " + recording(base20) + " \n");
    EXPECT_EQ(currentTable(), nullptr);

    const std::string longName = "/" + std::string(1100, 'd') + "/s1.vok";
    EXPECT_EQ(load(longName, 0, &out), -1);
    EXPECT_EQ(out, "vok file name too long for a video lookup table " + longName + " \n");
    // The table name needs room for the video number too.
    const std::string edge = "/" + std::string(1018, 'd') + "/s.vok";  // stem of 1021
    EXPECT_EQ(load(edge, 4000000000u, &out), -1);
    EXPECT_EQ(out.rfind("vok file name too long", 0), 0u);
}

TEST_F(VideoLookup, RunsTheConverterInTheRecordingsDirectory) {
    FakeConverter converter;
    const std::string made = writeTable("made.vkt", tableBytes(std::vector<Frame>{{0, 10}, {1, 43}}));
    ScopedEnv table("FAKE_TABLE", made);
    const fs::path before = fs::current_path();
    StdoutCapture capture;
    ASSERT_EQ(loadTable(recording("s1").c_str(), 0, true), 0);
    const std::string t = (dir_.path() / "s10.vkt").string();
    EXPECT_EQ(capture.take(), "Loading vkt file " + t + " \ncreating lookup table file avi2vkt s1 1 \n" +
                                  "Loading vkt file " + t + " \nDone Loading vkt file " + t + " \n");
    EXPECT_EQ(converter.calls(), fs::canonical(dir_.path()).string() + "\n[s1]\n[1]\n");
    EXPECT_EQ(fs::current_path(), before) << "the working directory is restored";
    ASSERT_NE(currentTable(), nullptr);
    EXPECT_EQ(currentTable()->recordCount(), 2u);

    // Video 4: the converter gets the count of videos, 5.
    StdoutCapture again;
    ASSERT_EQ(loadTable(recording("s1").c_str(), 4, true), 0);
    EXPECT_NE(again.take().find("creating lookup table file avi2vkt s1 5 \n"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir_.path() / "s14.vkt"));
}

TEST_F(VideoLookup, ConverterFailures) {
    FakeConverter converter;
    const std::string t = (dir_.path() / "s10.vkt").string();
    writeTable("s15.vkt", tableBytes(std::vector<Frame>{{0, 10}}));
    {
        ASSERT_EQ(load(recording("s1"), 5), 0);
        ScopedEnv status("FAKE_STATUS", "3");
        StdoutCapture capture;
        EXPECT_EQ(loadTable(recording("s1").c_str(), 0, true), -1);
        EXPECT_EQ(capture.take(), "Loading vkt file " + t +
                                      " \ncreating lookup table file avi2vkt s1 1 \n"
                                      "failed to create lookup table. avi2vkt s1 1 \n");
        EXPECT_EQ(currentTable(), nullptr) << "the older table is gone too";
    }
    {
        // Success reported, but no table made: one more try, then give up.
        StdoutCapture capture;
        EXPECT_EQ(loadTable(recording("s1").c_str(), 0, true), -1);
        EXPECT_EQ(capture.take(), "Loading vkt file " + t +
                                      " \ncreating lookup table file avi2vkt s1 1 \n"
                                      "Loading vkt file " +
                                      t + " \nCannot read file " + t + "\n");
    }
    {
        // No converter on the search path.
        ScopedEnv path("PATH", dir_.path().string());
        StdoutCapture capture;
        EXPECT_EQ(loadTable(recording("s1").c_str(), 0, true), -1);
        EXPECT_NE(capture.take().find("failed to create lookup table. avi2vkt s1 1 \n"), std::string::npos);
    }
    {
        // A recording in a directory that is not there.
        const std::string nowhere = (dir_.path() / "gone" / "s1.vok").string();
        StdoutCapture capture;
        EXPECT_EQ(loadTable(nowhere.c_str(), 0, true), -1);
        const std::string out = capture.take();
        EXPECT_NE(out.find("Cannot change to directory " + (dir_.path() / "gone").string() + "\n"),
                  std::string::npos);
        EXPECT_NE(out.find("failed to create lookup table."), std::string::npos);
    }
}

TEST_F(VideoLookup, ShellCharactersInANameRunNothing) {
    FakeConverter converter;
    const std::string base = "a b;touch X$(id)'";  // 17 characters
    StdoutCapture capture;
    EXPECT_EQ(loadTable(recording(base).c_str(), 0, true), -1);
    EXPECT_NE(capture.take().find("creating lookup table file avi2vkt " + base + " 1 \n"), std::string::npos);
    EXPECT_EQ(converter.calls(), fs::canonical(dir_.path()).string() + "\n[" + base + "]\n[1]\n")
        << "the name reaches the converter as one argument";
    EXPECT_FALSE(fs::exists(dir_.path() / "X"));
    EXPECT_FALSE(fs::exists(fs::current_path() / "X"));
}

TEST_F(VideoLookup, NameWithoutDirectoryUsesTheCurrentOne) {
    FakeConverter converter;
    const std::string made = writeTable("made.vkt", tableBytes(std::vector<Frame>{{0, 10}}));
    ScopedEnv table("FAKE_TABLE", made);
    ScopedCwd cwd(dir_.path());
    StdoutCapture capture;
    ASSERT_EQ(loadTable("rec.vok", 0, true), 0);
    EXPECT_EQ(capture.take(),
              "Loading vkt file rec0.vkt \ncreating lookup table file avi2vkt rec 1 \n"
              "Loading vkt file rec0.vkt \nDone Loading vkt file rec0.vkt \n");
    EXPECT_EQ(converter.calls(), fs::current_path().string() + "\n[rec]\n[1]\n");
    const AVIVOKTimeLookupTime* t = currentTable();
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->directory(), "");
    EXPECT_EQ(t->separator(), '\0');
    EXPECT_EQ(recordingNameOf(*t), "rec.vok") << "no separator is made up";
}

TEST_F(VideoLookup, RebuiltNameKeepsTheSeparatorFound) {
    // A recording in the root directory: an empty directory part, yet the
    // rebuilt name must keep its separator.
    writeTable("v0.vkt", tableBytes(std::vector<Frame>{{0, 10}}));
    AVIVOKTimeLookupTime table(0);
    ASSERT_TRUE(table.setLocation("", "v", '/'));
    EXPECT_EQ(recordingNameOf(table), "/v.vok");
    ASSERT_TRUE(table.setLocation("D:\\data", "s1", '\\'));
    EXPECT_EQ(recordingNameOf(table), "D:\\data\\s1.vok");
    EXPECT_FALSE(table.setLocation("d", std::string(20, 'x').c_str(), '/'));
    EXPECT_EQ(recordingNameOf(table), "D:\\data\\s1.vok") << "a refused location changes nothing";
}

// ---- playback: frame messages ----

struct Built {
    std::uint32_t itemTime;
    std::uint32_t time;
    std::string text;
};

// Passes the item times to frameStep and collects each message as it is
// built, delivering it at once.
std::vector<Built> play(VideoPlayback& pb, const std::vector<std::uint32_t>& times) {
    std::vector<Built> built;
    for (std::uint32_t t : times) {
        frameStep(pb, t);
        if (pb.pendingFrameMessage != nullptr && !pb.frameMessageDelivered) {
            const Event& e = *pb.pendingFrameMessage;
            EXPECT_EQ(e.type, MESSAGEEVENT);
            EXPECT_EQ(e.time, e.startTime);
            EXPECT_EQ(e.endTime, e.startTime);
            EXPECT_EQ(e.read, 0);
            EXPECT_EQ(e.startGazeX, 0.0f);
            EXPECT_EQ(e.eye, 0);
            EXPECT_EQ(e.message, pb.frameMessageText.asLString());
            const std::string text = e.message->c;
            EXPECT_EQ(e.message->length, static_cast<std::int16_t>(text.size() + 1));
            built.push_back({t, e.startTime, text});
            pb.dropPendingFrameMessage();
        }
    }
    return built;
}

TEST_F(VideoLookup, FrameStepBuildsAMessageForEachFrameReached) {
    writeTable("s12.vkt",
               tableBytes(std::vector<Frame>{{0, 1000}, {1, 1033}, {2, 1066}, {2, 1067}, {3, 1100}}));
    VideoPlayback pb;
    pb.fileName = recording("s1");
    pb.videoOption = true;
    pb.videoNumber = 2;
    {
        StdoutCapture capture;
        startVideoLookup(pb, 1000.0f);
    }
    EXPECT_EQ(pb.samplePeriod, 1u);
    EXPECT_EQ(pb.lastItemTime, kNoTime);
    EXPECT_EQ(pb.nextFrameTime, kNoTime);
    EXPECT_TRUE(pb.frameMessageDelivered);

    const std::vector<Built> built =
        play(pb, {990, 995, 1000, 1001, 1020, 1032, 1040, 1050, 1200, 1300, 5000});
    ASSERT_EQ(built.size(), 3u);
    EXPECT_EQ(built[0].itemTime, 1000u);
    EXPECT_EQ(built[0].time, 1000u) << "the next frame time plus the period";
    EXPECT_EQ(built[0].text, "!V VFRAME 0 s12.avi");
    EXPECT_EQ(built[1].itemTime, 1032u) << "reached exactly";
    EXPECT_EQ(built[1].time, 1033u);
    EXPECT_EQ(built[1].text, "!V VFRAME 1 s12.avi");
    EXPECT_EQ(built[2].itemTime, 1200u);
    EXPECT_EQ(built[2].time, 1066u) << "the earlier record of frame 2";
    EXPECT_EQ(built[2].text, "!V VFRAME 2 s12.avi");
    // Frame 3 was jumped over; the table is at its end.
    EXPECT_EQ(pb.nextFrameTime, kNoTime - 1);
    EXPECT_EQ(pb.lastItemTime, 5000u);
}

TEST_F(VideoLookup, FrameStepWithTheVideoOptionOffOnlyNotesTheTime) {
    writeTable("s10.vkt", tableBytes(std::vector<Frame>{{0, 1000}, {1, 1033}}));
    ASSERT_EQ(load(recording("s1"), 0), 0);
    VideoPlayback pb;
    EXPECT_TRUE(play(pb, {900, 1000, 1100}).empty());
    EXPECT_EQ(pb.lastItemTime, 1100u);
    EXPECT_EQ(currentTable()->readPosition(), 0);
}

TEST_F(VideoLookup, FailedStartFindsNoFrames) {
    writeTable("s10.vkt", tableBytes(std::vector<Frame>{{0, 1000}, {1, 1033}, {2, 1066}}));
    ASSERT_EQ(load(recording("s1"), 0), 0);
    VideoPlayback pb;
    pb.fileName = recording("s1");
    pb.videoOption = true;
    pb.videoNumber = 1;  // no table, and no converter to make one
    test::LogCapture log;
    {
        ScopedEnv path("PATH", dir_.path().string());
        StdoutCapture capture;
        startVideoLookup(pb, 500.0f);
    }
    EXPECT_EQ(log.text(),
              "could not open or create lookup table file. The avi files may not be found or "
              "renamed or DirectX 9 is not installed!\n");
    EXPECT_EQ(currentTable(), nullptr) << "video 0's table must not serve video 1";
    EXPECT_TRUE(play(pb, {900, 1000, 1040, 1070, 2000}).empty());
}

TEST(SamplePeriod, TruncatesAndRefusesRatesThatAreNotPositive) {
    struct Case {
        float rate;
        bool valid;
        std::uint32_t period;
    };
    const Case cases[] = {
        {1000.0f, true, 1},
        {500.0f, true, 2},
        {250.0f, true, 4},
        {2000.0f, true, 0},
        {60.0f, true, 16},
        {0.5f, true, 2000},
        {0.0f, false, 0},
        {-0.0f, false, 0},
        {-250.0f, false, 0},
        {std::nanf(""), false, 0},
        {std::numeric_limits<float>::infinity(), false, 0},
        {1e-7f, false, 0},  // a period beyond 32 bits
    };
    for (const Case& c : cases) {
        bool valid = !c.valid;
        EXPECT_EQ(samplePeriodFor(c.rate, valid), c.period) << c.rate;
        EXPECT_EQ(valid, c.valid) << c.rate;
    }
}

TEST_F(VideoLookup, InvalidSampleRateGivesNoVideoLookup) {
    writeTable("s10.vkt", tableBytes(std::vector<Frame>{{0, 1000}, {1, 1033}}));
    FakeConverter converter;
    for (float rate : {0.0f, -1000.0f, std::nanf("")}) {
        ASSERT_EQ(load(recording("s1"), 0), 0);
        VideoPlayback pb;
        pb.fileName = recording("s1");
        pb.videoOption = true;
        test::LogCapture log;
        StdoutCapture capture;
        startVideoLookup(pb, rate);
        EXPECT_EQ(capture.take(), "") << "no table is loaded";
        EXPECT_TRUE(log.contains("no video frame lookup")) << rate;
        EXPECT_EQ(currentTable(), nullptr);
        EXPECT_EQ(pb.samplePeriod, 0u);
        EXPECT_TRUE(play(pb, {900, 1000, 1040, 2000}).empty()) << rate;
    }
    EXPECT_FALSE(converter.called());
}

TEST_F(VideoLookup, FrameStepEndsAtTheEndOfTheClock) {
    // The last frame lies within the last period of the 32-bit clock: an
    // item after it must not keep the step looking for frames forever.
    writeTable("s10.vkt", tableBytes(std::vector<Frame>{{4, 0xFFFFFF00u}}));
    VideoPlayback pb;
    pb.fileName = recording("s1");
    pb.videoOption = true;
    {
        StdoutCapture capture;
        startVideoLookup(pb, 62.5f);
    }
    ASSERT_EQ(pb.samplePeriod, 16u);
    const std::vector<Built> built = play(pb, {0xFFFFFE00u, 0xFFFFFFF8u, 0xFFFFFFFEu});
    ASSERT_EQ(built.size(), 1u);
    EXPECT_EQ(built[0].time, 0xFFFFFF00u);
    EXPECT_EQ(built[0].text, "!V VFRAME 4 s10.avi");
    EXPECT_EQ(pb.lastItemTime, 0xFFFFFFFEu);
}

// ---- platform: processes ----

TEST(PlatformProcess, RunsProgramsWithoutAShell) {
    test::TempDir dir;
    const std::string program = VOKAPI_FAKE_CONVERTER_PATH;
    const fs::path log = dir.path() / "calls.log";
    ScopedEnv logTo("FAKE_LOG", log.string());
    {
        ScopedEnv status("FAKE_STATUS", "7");
        EXPECT_EQ(platform::runProgram({program}), 7);
    }
    EXPECT_EQ(platform::runProgram({program}), 0);
    EXPECT_EQ(platform::runProgram({"no-such-program-here"}), -1);
    EXPECT_EQ(platform::runProgram({}), -1);

    // Every argument arrives as it was given: blanks, quotes, backslashes
    // and the characters of command interpreters.
    fs::remove(log);
    const std::vector<std::string> tricky = {"a b;c $(touch bad) \"q\" *", "", "back\\slash\\", "\\\"",
                                             "%PATH% & | <x> ^"};
    std::vector<std::string> arguments = {program};
    arguments.insert(arguments.end(), tricky.begin(), tricky.end());
    EXPECT_EQ(platform::runProgram(arguments), 0);
    std::string expected = fs::canonical(fs::current_path()).string() + "\n";
    for (const std::string& a : tricky) expected += "[" + a + "]\n";
    EXPECT_EQ(readText(log), expected);
    EXPECT_FALSE(fs::exists(fs::current_path() / "bad"));
}

TEST(PlatformProcess, AProgramEndedBySignalIsNoExit) {
    if (test::kWindows) GTEST_SKIP() << "signals end programs on POSIX only";
    EXPECT_EQ(platform::runProgram({"sh", "-c", "kill -9 $$"}), -1) << "killed, not an exit";
}

TEST(PlatformProcess, DirectoriesAndPaths) {
    const std::string exe = platform::executablePath();
    EXPECT_EQ(fs::path(exe).stem(), "vokapi_tests");
    EXPECT_TRUE(fs::path(exe).is_absolute());

    test::TempDir dir;
    const std::string before = platform::currentDirectory();
    EXPECT_EQ(before, fs::current_path().string());
    ASSERT_TRUE(platform::changeDirectory(dir.path().string().c_str()));
    EXPECT_EQ(fs::path(platform::currentDirectory()), fs::canonical(dir.path()));
    EXPECT_FALSE(platform::changeDirectory((dir.path() / "missing").string().c_str()));
    ASSERT_TRUE(platform::changeDirectory(before.c_str()));
    EXPECT_EQ(platform::currentDirectory(), before);

    const char sep = platform::searchPathSeparator();
    EXPECT_EQ(sep, test::kWindows ? ';' : ':');
    {
        const std::string start = std::string("first") + sep + "second";
        ScopedEnv path("PATH", start);
        ASSERT_TRUE(platform::appendToSearchPath(dir.path().string().c_str()));
        EXPECT_EQ(std::string(std::getenv("PATH")), start + sep + dir.path().string());
    }
    {
        const char* oldPath = std::getenv("PATH");
        const std::string old = oldPath != nullptr ? oldPath : "";
        platform::setEnvironment("PATH", nullptr);
        EXPECT_FALSE(platform::appendToSearchPath("/x"));
        platform::setEnvironment("PATH", oldPath != nullptr ? old.c_str() : nullptr);
    }
}

}  // namespace
}  // namespace vok::video
