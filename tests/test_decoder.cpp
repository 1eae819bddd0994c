// The record decoders on bytes in memory: framing, every field tag and
// conversion, block starts (scales, the rate step, the mode word), message
// texts and time offsets, short records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/VOKException.h"
#include "format/RecordDecoder.h"
#include "support/TestSupport.h"

namespace vok {
namespace {

// A reader over the given record bytes, past its preamble.
struct Reader {
    explicit Reader(const vokgen::VokWriter& w, int revision = 2) {
        const auto& b = w.bytes();
        r.stream = std::make_unique<MemoryInputStream>(b.data(), b.size());
        r.endOfPreamble = true;
        r.revision = static_cast<std::uint16_t>(revision);
    }
    RecordReader r;
};

// True when body raises RecordError with this status.
template <typename Body>
bool failsWith(int status, Body body) {
    try {
        body();
    } catch (const RecordError& e) {
        return e.status() == status;
    }
    return false;
}

Sample decodeOne(Reader& rd, std::uint32_t expected = 0) {
    Sample s{};
    EXPECT_NO_THROW(decodeSample(rd.r, s, expected));
    return s;
}

Event decodeEventOne(Reader& rd) {
    Event e{};
    EXPECT_NO_THROW(decodeEvent(rd.r, e));
    return e;
}

TEST(TagReader, Results) {
    vokgen::VokWriter w;
    w.u16(0x0800).u16(0xE401).u16(0);
    Reader rd(w);
    std::uint16_t out = 0;
    EXPECT_EQ(readTag(rd.r, &out), kTagEvent);
    EXPECT_EQ(out, 0x08);
    EXPECT_EQ(readTag(rd.r, &out), kTagSample);
    EXPECT_EQ(out, 0xE401);
    EXPECT_EQ(readTag(rd.r, &out), kTagEnd);
    rd.r.endOfPreamble = false;
    EXPECT_EQ(readTag(rd.r, &out), kTagNoPreamble);
    rd.r.stream.reset();
    EXPECT_EQ(readTag(rd.r, &out), kTagEnd);
}

TEST(TagReader, OneByteLeftRaises) {
    vokgen::VokWriter w;
    w.u8(7);
    Reader rd(w);
    test::LogCapture capture;
    EXPECT_THROW(readTag(rd.r, nullptr), VOKException);
    EXPECT_EQ(capture.text(), "error reading vok file 7a r = 1 \n");
    // Now at the end: the tag reader reports a sample without reading.
    EXPECT_EQ(readTag(rd.r, nullptr), kTagSample);
}

TEST(SampleDecoder, FullTimeBothEyesGaze) {
    vokgen::VokWriter w;
    w.u16(0xE401).u32(10000).i16(100).i16(200).i16(300).i16(-32768);
    Reader rd(w);
    rd.r.gazeScale = 10.0f;
    Sample s = decodeOne(rd);
    EXPECT_EQ(s.time, 10000u);
    EXPECT_EQ(rd.r.runningTime, 10000u);
    EXPECT_EQ(s.flags, 0xE401);
    EXPECT_EQ(s.gazeX[0], 10.0f);
    EXPECT_EQ(s.gazeY[0], 20.0f);
    EXPECT_EQ(s.gazeX[1], 30.0f);
    EXPECT_EQ(s.gazeY[1], 1e8f) << "a stored -32768 is missing, not -32768 / scale";
    EXPECT_EQ(s.pupilX[0], -32768.0f);
    EXPECT_EQ(s.headRefY[1], -32768.0f);
    EXPECT_EQ(s.resolutionX, 1e8f);
    EXPECT_EQ(s.resolutionY, 1e8f);
    EXPECT_EQ(s.input, 0x8000);
    EXPECT_EQ(s.errors, 0x8000);
    EXPECT_EQ(s.buttons, 0);
    EXPECT_EQ(s.headDataType, -32768);
}

TEST(SampleDecoder, IncrementAndExpectedTime) {
    vokgen::VokWriter w;
    w.u16(0x8401).u8(2).i16(5125).i16(7);
    Reader rd(w);
    rd.r.runningTime = 10000;
    rd.r.gazeScale = 10.0f;
    Sample s = decodeOne(rd);
    EXPECT_EQ(s.time, 10002u);
    EXPECT_EQ(s.gazeX[0], 512.5f);
    EXPECT_EQ(s.gazeX[1], -32768.0f);
    EXPECT_EQ(s.gazeY[1], -32768.0f);
    // Re-read after a seek with the time its item had.
    rd.r.stream->seek(2);
    rd.r.pendingTag = 0x8401;
    s = decodeOne(rd, 20002);
    EXPECT_EQ(s.time, 20002u);
    EXPECT_EQ(rd.r.runningTime, 20002u);
}

TEST(SampleDecoder, ScaleRules) {
    for (float scale : {0.0f, 0.05f, -10.0f}) {
        vokgen::VokWriter w;
        w.u16(0x8601).u8(1).i16(512).i16(-512).i16(300).i16(400);
        Reader rd(w);
        rd.r.gazeScale = scale;
        Sample s = decodeOne(rd);
        EXPECT_EQ(s.gazeX[0], 512.0f) << scale;
        EXPECT_EQ(s.gazeY[0], -512.0f);
        EXPECT_EQ(s.resolutionX, 300.0f);
        EXPECT_EQ(s.resolutionY, 400.0f);
    }
}

TEST(SampleDecoder, EveryGroupInOrder) {
    vokgen::VokWriter w;
    w.u16(0xFFF9).u32(77);                 // both eyes, everything but 0x0002 and the second skip
    w.i16(1).i16(2).i16(3).i16(4);        // pupil L, R
    w.i16(5).i16(6).i16(7).i16(8);        // head-ref L, R
    w.i16(90).i16(100).i16(110).i16(120); // gaze L, R
    w.i16(130).i16(140);                  // resolution
    w.i16(15).i16(16);                    // pupil sizes
    w.u16(0x1111).u16(0x2222).u16(0x3333);  // errors, input, buttons
    w.u8(0x04).i16(-1).i16(2).i16(3).i16(4);  // head data: type 4, 4 words
    w.u8(0x02).u8(0x07).u8(0xAA).u8(0xBB).u8(0x00);  // skippable block, 5 bytes
    w.u16(0xBEEF);                        // what follows
    Reader rd(w);
    rd.r.gazeScale = 10.0f;
    Sample s{};
    s.headData[5] = 99;
    ASSERT_NO_THROW(decodeSample(rd.r, s, 0));
    EXPECT_EQ(s.pupilX[0], 1.0f);
    EXPECT_EQ(s.pupilY[1], 4.0f);
    EXPECT_EQ(s.headRefX[1], 7.0f);
    EXPECT_EQ(s.gazeX[0], 9.0f);
    EXPECT_EQ(s.gazeY[1], 12.0f);
    EXPECT_EQ(s.resolutionX, 13.0f);
    EXPECT_EQ(s.resolutionY, 14.0f);
    EXPECT_EQ(s.pupilSize[0], 15.0f);
    EXPECT_EQ(s.pupilSize[1], 16.0f);
    EXPECT_EQ(s.errors, 0x1111);
    EXPECT_EQ(s.input, 0x2222);
    EXPECT_EQ(s.buttons, 0x3333);
    EXPECT_EQ(s.headDataType, 4);
    EXPECT_EQ(s.headData[0], -1);
    EXPECT_EQ(s.headData[3], 4);
    EXPECT_EQ(s.headData[4], 0);
    EXPECT_EQ(s.headData[5], 0) << "words past the count are cleared";
    EXPECT_EQ(rd.r.stream->readU16(), 0xBEEF) << "the skippable block is five bytes";
}

TEST(SampleDecoder, HeadDataCountIsCappedAndTypeUnsigned) {
    vokgen::VokWriter w;
    w.u16(0x8011).u8(0).u8(0xCA);
    for (int i = 0; i < 8; ++i) w.i16(static_cast<std::int16_t>(i + 1));
    w.u16(0xBEEF);
    Reader rd(w);
    Sample s = decodeOne(rd);
    EXPECT_EQ(s.headDataType, 0xCA) << "read as an unsigned byte";
    EXPECT_EQ(s.headData[7], 8);
    EXPECT_EQ(rd.r.stream->readU16(), 0xBEEF) << "min(10, 8) = 8 words";
}

TEST(SampleDecoder, PupilSizesKeptWithoutTheirBit) {
    vokgen::VokWriter w;
    w.u16(0x4101).u8(0).i16(42).u16(0x4001).u8(0);
    Reader rd(w);
    Sample s{};
    s.pupilSize[0] = 5.0f;
    s.pupilSize[1] = 6.0f;
    ASSERT_NO_THROW(decodeSample(rd.r, s, 0));
    EXPECT_EQ(s.pupilSize[0], -32768.0f) << "absent eye";
    EXPECT_EQ(s.pupilSize[1], 42.0f);
    ASSERT_NO_THROW(decodeSample(rd.r, s, 0));
    EXPECT_EQ(s.pupilSize[1], 42.0f) << "left as it was";
}

TEST(SampleDecoder, PendingEventIsNotConsumed) {
    vokgen::VokWriter w;
    w.u16(0x0800).u8(0);
    Reader rd(w);
    Sample s{};
    EXPECT_TRUE(failsWith(RecordError::kOtherClass, [&] { decodeSample(rd.r, s, 0); }));
    EXPECT_EQ(rd.r.pendingTag, 0x0800);
    Event e{};
    EXPECT_NO_THROW(decodeEvent(rd.r, e));
    EXPECT_EQ(e.type, EFIX);
}

TEST(SampleDecoder, ShortRecordRaisesTheStreamsFailure) {
    vokgen::VokWriter w;
    w.u16(0x8401).u8(1).i16(5);
    {
        Reader rd(w);
        test::LogCapture capture;
        Sample s{};
        EXPECT_THROW(decodeSample(rd.r, s, 0), VOKException);
        EXPECT_EQ(capture.text(), "error reading vok file 7a r = 0 \n");
    }
}

TEST(EventDecoder, TagWordGivesTypeEyeAndParsedBy) {
    struct Case {
        std::uint16_t tag;
        int type, eye, parsedBy;
    } cases[] = {{0x4700, 7, 1, 0}, {0x8700, 7, 0, 0}, {0xC700, 7, 0, 0}, {0x07FE, 7, 0, 0xFE}, {0x1802, 24, 0, 2}};
    for (const auto& c : cases) {
        vokgen::VokWriter w;
        w.u16(c.tag).u8(0);
        Reader rd(w);
        Event e = decodeEventOne(rd);
        EXPECT_EQ(e.type, c.type) << std::hex << c.tag;
        EXPECT_EQ(e.eye, c.eye) << std::hex << c.tag;
        EXPECT_EQ(e.parsedBy, c.parsedBy) << std::hex << c.tag;
    }
}

TEST(EventDecoder, TimesAndReadBits) {
    {
        vokgen::VokWriter w;
        w.u16(0x0800).u8(33).u32(1000).u8(0);
        Reader rd(w);
        Event e = decodeEventOne(rd);
        EXPECT_EQ(e.startTime, 1000u);
        EXPECT_EQ(e.endTime, 0u);
        EXPECT_EQ(e.read, 0x0001);
    }
    {
        vokgen::VokWriter w;
        w.u16(0x0800).u8(65).u32(1500).u8(0);
        Reader rd(w);
        Event e = decodeEventOne(rd);
        EXPECT_EQ(e.startTime, 1500u) << "the start is copied from the end";
        EXPECT_EQ(e.endTime, 1500u);
        EXPECT_EQ(e.read, 0x0040);
    }
    {
        vokgen::VokWriter w;  // neither time: the end is cleared
        w.u16(0x0800).u8(81).i16(5).u8(0);
        Reader rd(w);
        Event e{};
        e.endTime = 99;
        ASSERT_NO_THROW(decodeEvent(rd.r, e));
        EXPECT_EQ(e.endTime, 0u);
    }
}

TEST(EventDecoder, EveryFieldTag) {
    vokgen::VokWriter w;
    w.u16(0x0600);
    w.u8(33).u32(100).u8(65).u32(200);
    w.u8(40).i16(1).i16(2).u8(72).i16(3).i16(4).u8(104).i16(5).i16(6);
    w.u8(41).i16(-32768).i16(12).u8(73).i16(13).i16(14).u8(105).i16(15).i16(16);
    w.u8(42).i16(4000).i16(-32768).u8(74).i16(230).i16(240).u8(106).i16(250).i16(260);
    w.u8(48).i16(31).u8(81).i16(32).u8(114).i16(33);
    w.u8(43).i16(400).i16(410).u8(75).i16(420).i16(430);
    w.u8(51).i16(500).u8(83).i16(510).u8(115).i16(520).u8(147).i16(530);
    w.u8(85).u16(0x8001).u8(86).u16(0x0002).u8(180).u16(0x1234);
    w.u8(200).u8(1).u8(250);  // tags without a payload
    w.u8(0);
    Reader rd(w);
    rd.r.gazeScale = 10.0f;
    rd.r.velocityScale = 10.0f;
    Event e = decodeEventOne(rd);
    EXPECT_EQ(e.type, ESACC);
    EXPECT_EQ(e.startTime, 100u);
    EXPECT_EQ(e.endTime, 200u);
    EXPECT_EQ(e.startHeadRefX, 1e8f) << "field 41 overrides field 40, marked";
    EXPECT_EQ(e.startHeadRefY, 12.0f);
    EXPECT_EQ(e.startGazeX, 400.0f);
    EXPECT_EQ(e.startGazeY, 1e8f);
    EXPECT_EQ(e.endHeadRefX, 13.0f);
    EXPECT_EQ(e.endGazeX, 23.0f);
    EXPECT_EQ(e.avgHeadRefY, 16.0f);
    EXPECT_EQ(e.avgGazeY, 26.0f);
    EXPECT_EQ(e.startPupilSize, 31.0f);
    EXPECT_EQ(e.endPupilSize, 32.0f);
    EXPECT_EQ(e.avgPupilSize, 33.0f);
    EXPECT_EQ(e.startResolutionX, 40.0f);
    EXPECT_EQ(e.startResolutionY, 41.0f);
    EXPECT_EQ(e.endResolutionX, 42.0f);
    EXPECT_EQ(e.endResolutionY, 43.0f);
    EXPECT_EQ(e.startVelocity, 50.0f);
    EXPECT_EQ(e.endVelocity, 51.0f);
    EXPECT_EQ(e.avgVelocity, 52.0f);
    EXPECT_EQ(e.peakVelocity, 53.0f);
    EXPECT_EQ(e.input, 0x8001);
    EXPECT_EQ(e.buttons, 0x0002);
    EXPECT_EQ(e.flags, 0x1234);
    EXPECT_EQ(e.message, nullptr);
    EXPECT_EQ(e.read, 0x0001 | 0x0040 | 0x0408 | 0x0410 | 0x0420 | 0x0808 | 0x0810 | 0x0820 | 0x1008 |
                          0x1010 | 0x1020 | 0x0081 | 0x0082 | 0x0084 | 0x0201 | 0x0202 | 0x0101 | 0x0102 |
                          0x0104 | 0x2000);
}

TEST(EventDecoder, PlainPositionsGoToBothPairs) {
    vokgen::VokWriter w;
    w.u16(0x0700).u8(40).i16(100).i16(200).u8(0);
    Reader rd(w);
    Event e = decodeEventOne(rd);
    EXPECT_EQ(e.startHeadRefX, 100.0f);
    EXPECT_EQ(e.startGazeX, 100.0f);
    EXPECT_EQ(e.startHeadRefY, 200.0f);
    EXPECT_EQ(e.startGazeY, 200.0f);
    EXPECT_EQ(e.read, 0x0408);
}

TEST(EventDecoder, MessageTextAndLengthLimits) {
    {
        vokgen::VokWriter w;
        w.u16(0x1800).u8(33).u32(5).u8(94).i16(5).raw("hello").u8(0);
        Reader rd(w);
        Event e = decodeEventOne(rd);
        ASSERT_NE(e.message, nullptr);
        EXPECT_EQ(e.message->length, 5);
        EXPECT_STREQ(e.message->c, "hello");
    }
    for (int length : {-1, 499, 32767}) {
        vokgen::VokWriter w;
        w.u16(0x1800).u8(94).i16(static_cast<std::int16_t>(length)).raw(std::string(600, 'x')).u8(0);
        Reader rd(w);
        Event e{};
        EXPECT_TRUE(failsWith(RecordError::kUnreadable, [&] { decodeEvent(rd.r, e); })) << length;
    }
    {
        vokgen::VokWriter w;
        w.u16(0x1800).u8(94).i16(498).raw(std::string(498, 'y')).u8(0);
        Reader rd(w);
        Event e = decodeEventOne(rd);
        EXPECT_EQ(std::strlen(e.message->c), 498u);
    }
}

TEST(EventDecoder, MessageTimeOffsets) {
    struct Case {
        std::string text;
        std::uint32_t time;
        std::string after;
        int length;
    } cases[] = {
        {"-12 two words", 5012, " two words", 10},
        {"  30 late", 4970, " late", 7},  // spaces are dropped with the token
        {"1000 x", 5000, "1000 x", 6},
        {"word x", 5000, "word x", 6},
        {"42", 5000, "42", 2},            // nothing but the number
    };
    for (const auto& c : cases) {
        vokgen::VokWriter w;
        w.u16(0x1800).u8(33).u32(5000).u8(94).i16(static_cast<std::int16_t>(c.text.size())).raw(c.text).u8(0);
        Reader rd(w);
        rd.r.messageTimeOffsets = true;
        Event e = decodeEventOne(rd);
        EXPECT_EQ(e.startTime, c.time) << c.text;
        EXPECT_EQ(std::string(e.message->c), c.after) << c.text;
        EXPECT_EQ(e.message->length, c.length) << c.text;
    }
}

// A samples-block start with the given optional fields.
vokgen::VokWriter blockStart(std::uint32_t rate16, bool withButtons, int modeWord) {
    vokgen::VokWriter w;
    w.u16(15 << 8).u8(33).u32(5000);
    if (rate16 != 0) w.u8(65).u32(rate16);
    w.u8(48).i16(10).u8(81).i16(20);
    if (modeWord >= 0) w.u8(75).i16(static_cast<std::int16_t>(modeWord)).i16(0);
    if (withButtons) w.u8(86).u16(0);
    w.u8(147).i16(77).u8(0);
    return w;
}

TEST(BlockStart, ScalesRateAndModeWords) {
    Reader rd(blockStart(65536000, false, 0x0312));
    Event e = decodeEventOne(rd);
    EXPECT_EQ(rd.r.gazeScale, 10.0f);
    EXPECT_EQ(rd.r.velocityScale, 20.0f);
    EXPECT_EQ(rd.r.sampleRate, 1000.0f);
    EXPECT_EQ(e.avgVelocity, 1000.0f);
    EXPECT_EQ(e.endTime, 5000u) << "the end time becomes the start time";
    EXPECT_EQ(rd.r.recordingModeWord, 3);
    EXPECT_EQ(rd.r.filterWord, 1);
    EXPECT_EQ(e.buttons, 1) << "no field 86";
    EXPECT_EQ(e.peakVelocity, 0.0f) << "field 147 is read but not kept";
    EXPECT_EQ(e.read & 0x0104, 0) << "field 147 sets no read bits here";
}

TEST(BlockStart, RateStepWithoutRate) {
    test::LogCapture capture;
    {
        Reader rd(blockStart(0, true, 0));
        rd.r.sampleRate = 1000.0f;
        Event e = decodeEventOne(rd);
        EXPECT_EQ(rd.r.sampleRate, 250.0f);
        EXPECT_EQ(e.avgVelocity, 250.0f);
        EXPECT_EQ(capture.text(), "Possible miss handle! sample per second is 1000.000000 resetting to 250 \n");
        EXPECT_EQ(e.peakVelocity, 0.0f);
    }
    capture.clear();
    {
        Reader rd(blockStart(0, true, 0));
        rd.r.sampleRate = 500.0f;
        Event e = decodeEventOne(rd);
        EXPECT_EQ(rd.r.sampleRate, 500.0f);
        EXPECT_EQ(e.avgVelocity, 0.0f) << "not written";
        EXPECT_EQ(capture.text(), "");
    }
    {
        Reader rd(blockStart(65536000, true, 0x0312), /*revision*/ 0);
        Event e = decodeEventOne(rd);
        EXPECT_EQ(rd.r.sampleRate, 250.0f) << "revision 0 always means 250 Hz";
        EXPECT_EQ(rd.r.recordingModeWord, 9);
        EXPECT_EQ(rd.r.filterWord, 1);
        EXPECT_EQ(e.endTime, 5000u);
    }
}

TEST(EventDecoder, StatusChecks) {
    vokgen::VokWriter w;
    w.u16(0x0800).u8(0);
    test::LogCapture capture;
    Reader rd(w);
    rd.r.endOfPreamble = false;
    Event e{};
    EXPECT_TRUE(failsWith(RecordError::kUnreadable, [&] { decodeEvent(rd.r, e); }));
    rd.r.endOfPreamble = true;
    rd.r.stream.reset();
    EXPECT_TRUE(failsWith(RecordError::kUnreadable, [&] { decodeEvent(rd.r, e); }));
    EXPECT_EQ(capture.text(), " bad status  2\n bad status  -1\n");
}

TEST(EventDecoder, TruncatedEveryWhere) {
    vokgen::VokWriter w;
    w.u16(0x0600).u8(33).u32(100).u8(94).i16(3).raw("abc").u8(42).i16(1).i16(2).u8(0);
    const auto& full = w.bytes();
    for (std::size_t cut = 2; cut < full.size(); ++cut) {
        vokgen::VokWriter part;
        part.raw(std::string(reinterpret_cast<const char*>(full.data()), cut));
        Reader rd(part);
        test::LogCapture capture;
        Event e{};
        EXPECT_THROW(decodeEvent(rd.r, e), VOKException) << cut;
    }
}

}  // namespace
}  // namespace vok
