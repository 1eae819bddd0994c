// The byte streams and their strict reads: values, positions, short reads
// with their exact messages, lines, seeks, and agreement between the file and
// the memory stream across buffer boundaries.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/VOKException.h"
#include "format/InputStream.h"
#include "support/TestSupport.h"

namespace vok {
namespace {

MemoryInputStream mem(const std::string& bytes) { return MemoryInputStream(bytes.data(), bytes.size()); }

void expectEndOfFile(const std::function<void()>& read, const std::string& message) {
    test::LogCapture capture;
    try {
        read();
        FAIL() << "no exception";
    } catch (const VOKException& e) {
        EXPECT_STREQ(e.what(), "End of file Exception");
    }
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0], message);
}

TEST(StrictReads, BigEndianValuesAdvanceThePosition) {
    auto s = mem(std::string("\x01\x02\x00\x00\x01\x00\xFF\x80\x00", 9));
    EXPECT_EQ(s.readU16(), 258);
    EXPECT_EQ(s.position(), 2u);
    EXPECT_EQ(s.readU32(), 256u);
    EXPECT_EQ(s.readByte(), 0xFF);
    EXPECT_EQ(s.readI16(), -32768);
    EXPECT_EQ(s.position(), 9u);
    EXPECT_FALSE(s.atEnd());
}

TEST(StrictReads, ShortReadsLogTheirMessageAndRaise) {
    {
        auto s = mem(std::string("\x05", 1));
        expectEndOfFile([&] { s.readU16(); }, "error reading vok file 7a r = 1 \n");
        EXPECT_EQ(s.position(), 1u) << "the byte that arrived is counted";
        EXPECT_TRUE(s.atEnd());
    }
    {
        auto s = mem("abc");
        expectEndOfFile([&] { s.readU32(); }, "error reading vok file 9\n");
    }
    {
        auto s = mem("");
        expectEndOfFile([&] { s.readByte(); }, "error reading vok file 11\n");
    }
    {
        auto s = mem("abc");
        char buf[8];
        expectEndOfFile([&] { s.readBytes(buf, 4); }, "error reading vok file 12\n");
    }
    {
        auto s = mem("ab");
        expectEndOfFile([&] { s.skipBytes(3); }, "error reading vok file 11\n");
    }
    {
        auto s = mem("");
        char buf[8];
        expectEndOfFile([&] { s.readLineStrict(buf, sizeof buf); }, "error reading vok file 6\n");
    }
}

TEST(ReadLine, KeepsLineEndsAndCountsConsumedBytes) {
    auto s = mem(std::string("abc\r\nde\0f\nlast", 14));
    char buf[35];
    EXPECT_EQ(s.readLine(buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "abc\r\n");
    // A NUL inside a line: the count is of bytes consumed, not the string.
    EXPECT_EQ(s.readLine(buf, sizeof buf), 5);
    EXPECT_EQ(s.position(), 10u);
    EXPECT_EQ(s.readLine(buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "last");
    EXPECT_EQ(s.readLine(buf, sizeof buf), -1);
    EXPECT_TRUE(s.atEnd());
}

TEST(ReadLine, LongLineIsReadInPiecesOfSizeMinusOne) {
    auto s = mem(std::string(40, 'z') + "\n");
    char buf[35];
    EXPECT_EQ(s.readLine(buf, sizeof buf), 34);
    EXPECT_EQ(std::string(buf), std::string(34, 'z'));
    EXPECT_EQ(s.readLine(buf, sizeof buf), 7);
}

TEST(Seek, SetsThePositionEvenPastTheEnd) {
    auto s = mem("0123456789");
    EXPECT_EQ(s.seek(4), 0);
    EXPECT_EQ(s.readByte(), '4');
    s.seek(100);
    EXPECT_EQ(s.position(), 100u);
    char c;
    EXPECT_EQ(s.read(&c, 1), 0u);
    EXPECT_TRUE(s.atEnd());
    s.seek(9);
    EXPECT_FALSE(s.atEnd());
    EXPECT_EQ(s.readByte(), '9');
}

TEST(FileStream, AgreesWithMemoryStreamAcrossBufferBoundaries) {
    test::TempDir dir;
    std::mt19937 rng(1234);
    std::string bytes(FileInputStream::kBufferSize * 3 + 17, '\0');
    for (auto& b : bytes) b = static_cast<char>(rng());
    std::string path = dir.write("data.bin", bytes);

    FileInputStream file(path.c_str());
    MemoryInputStream memory(bytes.data(), bytes.size());
    EXPECT_EQ(file.size(), static_cast<std::int64_t>(bytes.size()));
    // Mixed reads, with seeks both inside and outside the current buffer.
    std::uint64_t expectedPosition = 0;
    while (expectedPosition + 8 < bytes.size()) {
        switch (rng() % 5) {
            case 0: EXPECT_EQ(file.readByte(), memory.readByte()); expectedPosition += 1; break;
            case 1: EXPECT_EQ(file.readU16(), memory.readU16()); expectedPosition += 2; break;
            case 2: EXPECT_EQ(file.readU32(), memory.readU32()); expectedPosition += 4; break;
            case 3: {
                std::uint64_t target = rng() % bytes.size();
                if (target + 8 >= bytes.size()) target = expectedPosition;
                file.seek(target);
                memory.seek(target);
                expectedPosition = target;
                break;
            }
            default: file.skipBytes(3); memory.skipBytes(3); expectedPosition += 3; break;
        }
        ASSERT_EQ(file.position(), expectedPosition);
        ASSERT_EQ(memory.position(), expectedPosition);
    }
}

TEST(FileStream, MissingFileLogsAndRaises) {
    test::LogCapture capture;
    try {
        FileInputStream s("/nonexistent/dir/file.vok");
        FAIL();
    } catch (const VOKException& e) {
        EXPECT_STREQ(e.what(), "File Could not be opened!");
    }
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[0], "fname = /nonexistent/dir/file.vok \n");
    EXPECT_EQ(capture.lines()[1], "The file /nonexistent/dir/file.vok could not be opened\n");
}

}  // namespace
}  // namespace vok
