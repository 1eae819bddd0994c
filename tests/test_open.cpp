// Opening and closing: the magic lines, the error contract (null handle,
// error value -1, the texts in the log in order), the override pair shared
// across opens, and what goes to standard output.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "nav/VOKFile.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

namespace vok {
namespace {

struct OpenResult {
    VOKFile* file;
    int err;
    std::string log;
};

OpenResult openBytes(const test::TempDir& dir, const std::string& bytes, int consistency = 0) {
    test::LogCapture capture;
    std::string path = dir.write("r.vok", bytes);
    OpenResult r{nullptr, 99, ""};
    r.file = vok_open_file(path.c_str(), consistency, 1, 1, &r.err);
    r.log = capture.text();
    return r;
}

std::string body() { return "SOURCE: TARNVIK MK\nENDP:\n" + std::string(2, '\0'); }

TEST(Magic, TheFourPlainLinesOpen) {
    test::TempDir dir;
    for (const char* magic : {"ZK_MORAVELT_COMBFILE\n", "ZK_MORAVELT_COMBFILE\r\n",
                              "ZK_MORAVELT_7700FILE\n", "ZK_MORAVELT_7700FILE\r\n"}) {
        OpenResult r = openBytes(dir, magic + body());
        EXPECT_NE(r.file, nullptr) << magic << r.log;
        EXPECT_EQ(r.err, 0);
        EXPECT_EQ(r.log, "");
        vok_close_file(r.file);
    }
}

TEST(Magic, NearMissesFailAsBadMagic) {
    test::TempDir dir;
    for (const std::string& magic : std::vector<std::string>{"ZK_MORAVELT_7700FILE \r\n", "ZK_MORAVELT_7700FIL\n", "zk_moravelt_7700file\n",
                              "ZK_MORAVELT_7700FILE\r\r\n",
                              "XZK_MORAVELT_COMBFILE\n", "\n",
                              // longer than 34 characters: compared in its first 34 only
                              "ZK_MORAVELT_7700FILE ZIP" + std::string(20, ' ') + "\n",
                              "ZK_MORAVELT_7700FILE" + std::string(10'000'000, 'x') + "\n",
                              std::string("ZK_MORAVELT_COMBFILE\0\n", 22)}) {
        OpenResult r = openBytes(dir, magic + body());
        EXPECT_EQ(r.file, nullptr) << magic.substr(0, 40);
        EXPECT_EQ(r.err, -1);
        EXPECT_EQ(r.log, "Bad magic.  Corrupt vok file. \n\n") << magic.substr(0, 40);
    }
}

TEST(Magic, MatchTableRecognisesTheVariants) {
    MagicVariant v;
    ASSERT_TRUE(matchMagic("ZK_MORAVELT_7700FILE ZIP\n", v));
    EXPECT_EQ(v, MagicVariant::Compressed);
    ASSERT_TRUE(matchMagic("ZK_MORAVELT_7700FILE ZIP\r\n", v));
    EXPECT_EQ(v, MagicVariant::Compressed);
    ASSERT_TRUE(matchMagic("ZK_MORAVELT_COMBFILE\r\n", v));
    EXPECT_EQ(v, MagicVariant::Plain);
    EXPECT_FALSE(matchMagic("ZK_MORAVELT_COMBFILE", v));
}

TEST(ErrorContract, EmptyFileAndMissingFile) {
    test::TempDir dir;
    OpenResult empty = openBytes(dir, "");
    EXPECT_EQ(empty.file, nullptr);
    EXPECT_EQ(empty.err, -1);
    EXPECT_EQ(empty.log, "error reading vok file 6\nEnd of file Exception\n");

    test::LogCapture capture;
    int err = 0;
    std::string missing = (dir.path() / "missing.vok").string();
    EXPECT_EQ(vok_open_file(missing.c_str(), 0, 1, 1, &err), nullptr);
    EXPECT_EQ(err, -1);
    EXPECT_EQ(capture.text(), "fname = " + missing + " \nThe file " + missing +
                                  " could not be opened\nFile Could not be opened!\n");
}

TEST(ErrorContract, PreambleWithoutEndLine) {
    test::TempDir dir;
    OpenResult r = openBytes(dir, "ZK_MORAVELT_7700FILE\nSOURCE: TARNVIK MK\n");
    EXPECT_EQ(r.file, nullptr);
    EXPECT_EQ(r.err, -1);
    EXPECT_EQ(r.log, "error reading vok file 6\nEnd of file Exception\n");
}

TEST(ErrorContract, NullArgumentsAreHandled) {
    test::LogCapture capture;
    EXPECT_EQ(vok_open_file(nullptr, 0, 1, 1, nullptr), nullptr);
    EXPECT_EQ(vok_close_file(nullptr), 0);
    EXPECT_EQ(vok_get_preamble_text_length(nullptr), 0);
    EXPECT_EQ(vok_get_revision(nullptr), -1);
    EXPECT_EQ(vok_get_tarnvik_revision(nullptr), -1);
    char buf[4];
    EXPECT_EQ(vok_get_preamble_text(nullptr, buf, 4), -1);
}

TEST(Open, LoadEventsLineGoesToStandardOutput) {
    test::TempDir dir;
    std::string path = dir.write("r.vok", test::minimalRecording());
    test::LogCapture capture;
    testing::internal::CaptureStdout();
    int err = 0;
    VOKFile* f = vok_open_file(path.c_str(), 0, 0x1a, 1, &err);
    // Bit 1 of loadEvents also asks for the extra message file beside the recording.
    const std::string logName = (dir.path() / "mb_messages.log").string();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "loadEvents = 1a\nLog file name " + logName + " \n");
    EXPECT_EQ(capture.text(), "");
    ASSERT_NE(f, nullptr);
    vok_close_file(f);
}

TEST(Open, ConsistencyBitsSetTheOptions) {
    test::TempDir dir;
    std::string path = dir.write("r.vok", test::minimalRecording());
    int err = 0;
    VOKFile* f = vok_open_file(path.c_str(), 6, 1, 1, &err);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->recording.options.repair());
    EXPECT_TRUE(f->recording.options.tolerant());
    vok_close_file(f);
    f = vok_open_file(path.c_str(), 0x18 | 1, 1, 1, &err);
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(f->recording.options.repair());
    EXPECT_TRUE(f->recording.reader.messageTimeOffsets);
    vok_close_file(f);
}

TEST(Open, ResolutionOverridePairIsSharedAcrossOpens) {
    test::TempDir dir;
    std::string path = dir.write("r.vok", test::minimalRecording());
    int err = 0;
    VOKFile* first = vok_open_file(path.c_str(), 0, 1, 1, &err);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(sharedResolutionOverride().x, 1e8f);
    const float pair[2] = {40.0f, 41.0f};
    VOKFile* second = vok_open_file_ex(path.c_str(), 0, 1, 1, pair, &err);
    ASSERT_NE(second, nullptr);
    // The first file sees the values of the most recent open that set them.
    EXPECT_EQ(sharedResolutionOverride().x, 40.0f);
    EXPECT_EQ(sharedResolutionOverride().y, 41.0f);
    VOKFile* third = vok_open_file_ex(path.c_str(), 0, 1, 1, nullptr, &err);
    EXPECT_EQ(sharedResolutionOverride().x, 40.0f) << "a null pointer leaves the pair";
    VOKFile* fourth = vok_open_file(path.c_str(), 0, 1, 1, &err);
    EXPECT_EQ(sharedResolutionOverride().x, 1e8f) << "vok_open_file resets the pair";
    EXPECT_EQ(sharedResolutionOverride().y, 1e8f);
    for (VOKFile* f : {first, second, third, fourth}) vok_close_file(f);
}

// A folder and file whose names hold letters outside any one code page.
// Names are passed as UTF-8: on Windows the open in the system code page
// fails, says so in the log and the wide-character open finds the file; on
// POSIX the bytes are the name.
TEST(Open, NonAsciiNamesOpenAsUtf8) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const fs::path folder = dir.path() / fs::path(u8"Grüße 日本");
    fs::create_directories(folder);
    for (vokgen::Magic magic : {vokgen::Magic::Plain7700, vokgen::Magic::Compressed}) {
        vokgen::VokWriter w;
        w.magic(magic).standardPreamble(2, 4).endPreamble();
        w.u16(0);
        const fs::path file = folder / fs::path(u8"запись ё.vok");
        {
            const std::vector<std::uint8_t> bytes = w.fileBytes();
            std::ofstream out(file, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            ASSERT_TRUE(out.good());
        }
        const std::u8string name8 = file.u8string();
        const std::string name(name8.begin(), name8.end());
        ASSERT_TRUE(platform::isValidUtf8(name.c_str()));

        test::LogCapture capture;
        int err = 99;
        VOKFile* f = vok_open_file(name.c_str(), 0, 1, 1, &err);
        EXPECT_NE(f, nullptr) << capture.text();
        EXPECT_EQ(err, 0);
        EXPECT_EQ(capture.text(), test::kWindows ? "fname = " + name + " \n" : "");
        if (f != nullptr) {
            EXPECT_EQ(f->recording.tempFileName.empty(), magic == vokgen::Magic::Plain7700);
            EXPECT_EQ(vok_get_next_data(f), 0);
            vok_close_file(f);
        }
    }
    std::error_code ec;
    EXPECT_TRUE(fs::remove_all(folder, ec) > 0 && !ec) << "nothing left open: " << ec.message();
}

TEST(Open, VersionText) {
    EXPECT_STREQ(vok_get_version(), "4.2.1197.0 Windows   standalone Sep 27 2024");
}

}  // namespace
}  // namespace vok
