// The preamble: revisions, text, the end line, the text cap and the text
// encoding flag.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "format/Preamble.h"
#include "support/TestSupport.h"

namespace vok {
namespace {

struct Opened {
    VOKFile* file = nullptr;
    int err = 99;
    ~Opened() { vok_close_file(file); }
};

// Opens a recording whose preamble consists of the given lines.
void openWithPreamble(Opened& out, const test::TempDir& dir, const std::vector<std::string>& lines) {
    vokgen::VokWriter w;
    w.magic();
    for (const auto& line : lines) w.raw(line);
    w.endPreamble().u16(0);
    std::string path = dir.write("p.vok", w);
    out.file = vok_open_file(path.c_str(), 0, 1, 1, &out.err);
}

std::string preambleOf(VOKFile* file) {
    int length = vok_get_preamble_text_length(file);
    std::string text(static_cast<std::size_t>(length), '#');
    vok_get_preamble_text(file, text.data(), length);
    return text.substr(0, text.find('\0'));
}

TEST(Preamble, RevisionsAndText) {
    test::TempDir dir;
    test::LogCapture capture;
    Opened o;
    openWithPreamble(o, dir, {"SOURCE: TARNVIK RX\n", "VERSION: TARNVIK MK 4.56\n"});
    ASSERT_NE(o.file, nullptr) << capture.text();
    EXPECT_EQ(o.err, 0);
    EXPECT_EQ(vok_get_tarnvik_revision(o.file), 3);
    EXPECT_EQ(vok_get_revision(o.file), 4);
    const std::string expected = "** SOURCE: TARNVIK RX\n** VERSION: TARNVIK MK 4.56\n";
    EXPECT_EQ(preambleOf(o.file), expected);
    EXPECT_EQ(vok_get_preamble_text_length(o.file), static_cast<int>(expected.size()) + 1);
}

TEST(Preamble, RevisionRules) {
    test::TempDir dir;
    struct Case {
        std::vector<std::string> lines;
        int revision;
        int tracker;
    } cases[] = {
        {{"VERSION: TARNVIK MK 0\n"}, 1, 1},  // zero is stored as one
        {{"DATE: today\n"}, 0, 1},            // no version line
        {{"SOURCE: TARNVIK MK II\n"}, 0, 2},
        {{"SOURCE: TARNVIK XYZ\n"}, 0, 1},    // neither MK nor RX
        {{"VERSION: TARNVIK MK\n"}, 0, 1},    // no space after MK: not a version line
        {{"VERSION: TARNVIK MK 70000\n"}, 70000 & 0xFFFF, 1},
    };
    for (const auto& c : cases) {
        Opened o;
        openWithPreamble(o, dir, c.lines);
        ASSERT_NE(o.file, nullptr);
        EXPECT_EQ(vok_get_revision(o.file), c.revision) << c.lines[0];
        EXPECT_EQ(vok_get_tarnvik_revision(o.file), c.tracker) << c.lines[0];
    }
}

TEST(Preamble, EndLineMustBeExact) {
    test::TempDir dir;
    test::LogCapture capture;
    // "ENDP:" without its line end at the very end of the file.
    vokgen::VokWriter w;
    w.magic().preambleLine("SOURCE: TARNVIK MK").raw("ENDP:");
    int err = 0;
    VOKFile* f = vok_open_file(dir.write("a.vok", w).c_str(), 0, 1, 1, &err);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(err, -1);
    EXPECT_EQ(capture.text(), "error reading vok file 6\nEnd of file Exception\n");

    // "ENDP:\r\n" is an ordinary line, so the preamble never ends.
    capture.clear();
    vokgen::VokWriter crlf;
    crlf.magic().raw("ENDP:\r\n");
    f = vok_open_file(dir.write("b.vok", crlf).c_str(), 0, 1, 1, &err);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(capture.text(), "error reading vok file 6\nEnd of file Exception\n");
}

TEST(Preamble, NulBytesInALineDoNotShiftTheRecordStream) {
    test::TempDir dir;
    Opened o;
    openWithPreamble(o, dir, {std::string("NOTE: a\0b\n", 10), "VERSION: TARNVIK MK 3\n"});
    ASSERT_NE(o.file, nullptr);
    EXPECT_EQ(vok_get_revision(o.file), 3);
    EXPECT_EQ(preambleOf(o.file), "** NOTE: a** VERSION: TARNVIK MK 3\n");
}

TEST(Preamble, TextIsCappedAnd100000LinesAreRead) {
    test::TempDir dir;
    vokgen::VokWriter w;
    w.magic();
    for (int i = 0; i < 100000; ++i) w.preambleLine("LINE " + std::to_string(i));
    w.preambleLine(std::string(10'000'000, 'q'));  // a 10 MB line
    w.preambleLine("VERSION: TARNVIK MK 9");
    w.endPreamble().u16(0);
    int err = 0;
    VOKFile* f = vok_open_file(dir.write("big.vok", w).c_str(), 0, 1, 1, &err);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(vok_get_revision(f), 9) << "lines past the cap are still interpreted";
    EXPECT_EQ(vok_get_preamble_text_length(f), 2000);
    std::string text = preambleOf(f);
    EXPECT_EQ(text.size(), 1999u);
    EXPECT_EQ(text.substr(0, 10), "** LINE 0\n");
    vok_close_file(f);
}

TEST(Preamble, CopyRespectsTheBufferSize) {
    test::TempDir dir;
    Opened o;
    openWithPreamble(o, dir, {"SOURCE: TARNVIK MK\n"});
    ASSERT_NE(o.file, nullptr);
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(vok_get_preamble_text(o.file, buf, 1), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], '#');
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(vok_get_preamble_text(o.file, buf, 0), 0);
    EXPECT_EQ(buf[0], '#') << "size 0 writes nothing";
    EXPECT_EQ(vok_get_preamble_text(o.file, buf, 5), 0);
    EXPECT_STREQ(buf, "** S");
}

TEST(TextEncoding, FlagRules) {
    struct Case {
        const char* text;
        int before;
        int after;
    } cases[] = {
        {"** ZKMB1.7.2\n", 0, 1},
        {"** ZKMB1.5.0\n", 1, 0},
        {"** ZKMB1.6", 0, 1},        // number runs to the end of the text
        {"** ZKMB3.1 x\n", 0, 1},
        {"** ZKMB9.1 x\n", 0, 0},    // digit out of range: unchanged
        {"** ZKMB9.1 x\n", 1, 1},
        {"** ZKMB3x\n", 0, 0},       // no dot after the digit
        {"** ZKMB3.", 0, 0},         // fewer than 7 characters from the Z
        {"** nothing\n", 1, 1},
    };
    for (const auto& c : cases) {
        setTextEncodingFlag(c.before);
        deriveTextEncoding(c.text);
        EXPECT_EQ(textEncodingFlag(), c.after) << c.text << " from " << c.before;
    }
    setTextEncodingFlag(0);
}

}  // namespace
}  // namespace vok
