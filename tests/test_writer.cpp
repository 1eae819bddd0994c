// The recording writer: exact record bytes, the running time, the reader
// state it follows (scales, rate, time keys), compressed output, and the
// generator's determinism and bookkeeping.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "VokWriter.h"

namespace {

using vokgen::EventField;
using vokgen::EventSpec;
using vokgen::ExpectedItem;
using vokgen::SampleSpec;
using vokgen::VokWriter;
using Bytes = std::vector<std::uint8_t>;

// The bytes written since `from`.
Bytes tail(const VokWriter& w, std::size_t from) {
    return Bytes(w.bytes().begin() + static_cast<long>(from), w.bytes().end());
}

// A writer positioned at the start of the record stream.
VokWriter body(int revision = 4) {
    VokWriter w;
    w.magic().standardPreamble(2, revision).endPreamble();
    return w;
}

TEST(WriterSample, FullTimeAndGazeOfBothEyes) {
    VokWriter w = body();
    const std::size_t start = w.size();
    SampleSpec s;
    s.flags = 0xE401;
    s.time = 10000;
    s.gazeX[0] = 100;
    s.gazeY[0] = 200;
    s.gazeX[1] = 300;
    s.gazeY[1] = -32768;
    s.pupilSize[0] = 77;  // group not flagged: not written
    w.sample(s);
    EXPECT_EQ(tail(w, start),
              (Bytes{0xE4, 0x01, 0x00, 0x00, 0x27, 0x10, 0x00, 0x64, 0x00, 0xC8, 0x01, 0x2C, 0x80, 0x00}));
    EXPECT_EQ(w.runningTime(), 10000u);

    ASSERT_EQ(w.items().size(), 1u);
    const ExpectedItem& item = w.items()[0];
    EXPECT_EQ(item.offset, start + 2);
    EXPECT_EQ(item.tag, 0xE401);
    EXPECT_EQ(item.timeHalfMs, 20000u);
    const Sample& d = w.sampleOf(item);
    EXPECT_EQ(d.time, 10000u);
    EXPECT_FLOAT_EQ(d.gazeX[0], 100.0f);
    EXPECT_FLOAT_EQ(d.gazeY[1], 1e8f);  // stored -32768 in a scaled field
    EXPECT_FLOAT_EQ(d.pupilX[0], -32768.0f);
    EXPECT_FLOAT_EQ(d.headRefY[1], -32768.0f);
    EXPECT_FLOAT_EQ(d.resolutionX, 1e8f);
    EXPECT_EQ(d.input, 0x8000);
    EXPECT_EQ(d.errors, 0x8000);
    EXPECT_EQ(d.buttons, 0);
    EXPECT_EQ(d.headDataType, -32768);
}

TEST(WriterSample, IncrementsFollowTheRunningTime) {
    VokWriter w = body();
    SampleSpec s;
    s.flags = 0x2401 | 0x8000;
    s.time = 10000;
    w.sample(s);

    s.flags = 0x8401;
    s.time = 10002;
    s.gazeX[0] = 5;
    s.gazeY[0] = 6;
    std::size_t start = w.size();
    w.sample(s);
    EXPECT_EQ(tail(w, start), (Bytes{0x84, 0x01, 0x02, 0x00, 0x05, 0x00, 0x06}));
    EXPECT_EQ(w.runningTime(), 10002u);
    const Sample& d = w.sampleOf(w.items().back());
    EXPECT_EQ(d.time, 10002u);
    EXPECT_FLOAT_EQ(d.gazeX[1], -32768.0f);

    // Going back in time or jumping more than a byte is refused, and writes nothing.
    start = w.size();
    s.time = 10001;
    EXPECT_THROW(w.sample(s), std::invalid_argument);
    s.time = 10002 + 256;
    EXPECT_THROW(w.sample(s), std::invalid_argument);
    EXPECT_EQ(w.size(), start);
    s.time = 10002 + 255;
    EXPECT_NO_THROW(w.sample(s));

    // Either form can be forced whatever the flags say.
    s.time = 70000;
    s.timeForm = vokgen::TimeForm::Full;
    start = w.size();
    w.sample(s);
    EXPECT_EQ(tail(w, start), (Bytes{0xA4, 0x01, 0x00, 0x01, 0x11, 0x70, 0x00, 0x05, 0x00, 0x06}));
    s.flags = 0xA401;
    s.time = 70003;
    s.timeForm = vokgen::TimeForm::Increment;
    start = w.size();
    w.sample(s);
    EXPECT_EQ(tail(w, start)[0], 0x84);
    EXPECT_EQ(tail(w, start)[2], 3);

    // A raw increment is written as it is and moves the running time.
    s.timeForm = vokgen::TimeForm::ByFlags;
    s.flags = 0x8401;
    s.rawIncrement = 200;
    s.time = 1;  // ignored
    w.sample(s);
    EXPECT_EQ(w.runningTime(), 70203u);
    EXPECT_EQ(w.sampleOf(w.items().back()).time, 70203u);
}

TEST(WriterSample, EveryGroupInLayoutOrder) {
    VokWriter w = body();
    w.setGazeScale(10.0f);
    SampleSpec s;
    s.flags = 0xFFFF & ~0x0002;  // every group, both eyes, full time
    s.time = 0x01020304;
    s.pupilX[0] = 0x0A01;
    s.pupilY[0] = 0x0A02;
    s.pupilX[1] = 0x0A03;
    s.pupilY[1] = 0x0A04;
    s.headRefX[0] = 0x0B01;
    s.headRefY[0] = 0x0B02;
    s.headRefX[1] = 0x0B03;
    s.headRefY[1] = 0x0B04;
    s.gazeX[0] = 5125;
    s.gazeY[0] = 0x0C02;
    s.gazeX[1] = 0x0C03;
    s.gazeY[1] = 0x0C04;
    s.resolutionX = 0x0D01;
    s.resolutionY = 0x0D02;
    s.pupilSize[0] = 0x0E01;
    s.pupilSize[1] = 0x0E02;
    s.errors = 0x0F01;
    s.input = 0x0F02;
    s.buttons = 0x0F03;
    s.headDataType = 0x9A;  // 10 words named, 8 written
    for (int i = 0; i < 8; ++i) s.headData[i] = static_cast<std::uint16_t>(0x1000 + i);
    s.skip1 = {vokgen::SkipChunk{0x07, {0xAA, 0xBB}}};
    s.skip2 = {};
    const std::size_t start = w.size();
    w.sample(s);
    // clang-format off
    Bytes expected = {0xFF, 0xFD, 0x01, 0x02, 0x03, 0x04,          // tag, full time
                      0x0A, 0x01, 0x0A, 0x02, 0x0A, 0x03, 0x0A, 0x04,  // pupil left, right
                      0x0B, 0x01, 0x0B, 0x02, 0x0B, 0x03, 0x0B, 0x04,  // head-referenced
                      0x14, 0x05, 0x0C, 0x02, 0x0C, 0x03, 0x0C, 0x04,  // gaze
                      0x0D, 0x01, 0x0D, 0x02,                          // resolution
                      0x0E, 0x01, 0x0E, 0x02,                          // pupil sizes
                      0x0F, 0x01, 0x0F, 0x02, 0x0F, 0x03,              // errors, input, buttons
                      0x9A};                                           // head data type
    // clang-format on
    for (int i = 0; i < 8; ++i) {
        expected.push_back(0x10);
        expected.push_back(static_cast<std::uint8_t>(i));
    }
    for (std::uint8_t b : {0x02, 0x07, 0xAA, 0xBB, 0x00}) expected.push_back(b);  // first skippable block
    expected.push_back(0x00);                                                     // second one, empty
    EXPECT_EQ(tail(w, start), expected);

    const Sample& d = w.sampleOf(w.items().back());
    EXPECT_FLOAT_EQ(d.gazeX[0], 512.5f);
    EXPECT_EQ(d.headDataType, 0x9A);
    EXPECT_EQ(d.headData[7], 0x1007);
    EXPECT_EQ(d.input, 0x0F02);

    // Type 0x04 writes four words; the others read back as 0.
    s.flags = 0x8011;
    s.timeForm = vokgen::TimeForm::Increment;
    s.time = 0x01020304;
    s.headDataType = 0x04;
    const std::size_t second = w.size();
    w.sample(s);
    EXPECT_EQ(w.size() - second, 2u + 1u + 1u + 8u);
    EXPECT_EQ(w.sampleOf(w.items().back()).headData[4], 0);

    // A skippable chunk holds 1 to 255 bytes.
    s.flags = 0x8009;
    s.skip1 = {vokgen::SkipChunk{0, {}}};
    EXPECT_THROW(w.sample(s), std::invalid_argument);
}

TEST(WriterEvent, FieldsAndTagWord) {
    VokWriter w = body();
    std::size_t start = w.size();
    w.beginEvent(EFIX).fieldU32(33, 1000).endEvent();
    EXPECT_EQ(tail(w, start), (Bytes{0x08, 0x00, 0x21, 0x00, 0x00, 0x03, 0xE8, 0x00}));
    const Event& e = w.eventOf(w.items().back());
    EXPECT_EQ(e.startTime, 1000u);
    EXPECT_EQ(e.endTime, 0u);
    EXPECT_EQ(e.read, 0x0001);
    EXPECT_EQ(w.items().back().timeHalfMs, 0u);  // an end keyed by its (absent) end time

    // The end time alone is copied to the start time.
    w.beginEvent(EFIX).fieldU32(65, 1500).endEvent();
    EXPECT_EQ(w.eventOf(w.items().back()).startTime, 1500u);
    EXPECT_EQ(w.items().back().timeHalfMs, 3000u);

    // Generic form: eye bits, parsedBy, unknown tags, text, no terminator.
    EventSpec spec;
    spec.type = SFIX;
    spec.eyeBits = 0x40;
    spec.lowByte = 0x13;
    spec.fields = {EventField::u32(33, 7), EventField::bare(200), EventField::pair(40, 100, 200),
                   EventField::text("abc")};
    spec.terminate = false;
    start = w.size();
    w.event(spec);
    EXPECT_EQ(tail(w, start), (Bytes{0x47, 0x12, 0x21, 0, 0, 0, 7, 0xC8, 0x28, 0x00, 0x64, 0x00, 0xC8, 0x5E,
                                     0x00, 0x03, 'a', 'b', 'c'}));
    const ExpectedItem& item = w.items().back();
    const Event& g = w.eventOf(item);
    EXPECT_EQ(g.eye, 1);
    EXPECT_EQ(g.parsedBy, 0x12);
    EXPECT_FLOAT_EQ(g.startHeadRefX, 100.0f);
    EXPECT_FLOAT_EQ(g.startGazeY, 200.0f);
    EXPECT_EQ(g.read, 0x0001 | 0x0408);
    EXPECT_EQ(w.messages().at(item.textIndex), "abc");

    // A text length the reader refuses is written all the same, and noted.
    spec.fields = {EventField::u32(33, 7), EventField::textWithLength(600, "xy")};
    spec.terminate = true;
    start = w.size();
    w.event(spec);
    EXPECT_EQ(tail(w, start), (Bytes{0x47, 0x12, 0x21, 0, 0, 0, 7, 0x5E, 0x02, 0x58, 'x', 'y', 0x00}));
    EXPECT_FALSE(w.items().back().decodable);

    // A payload that the tag does not carry is refused.
    EXPECT_THROW(w.beginEvent(SFIX).fieldI16(33, 1), std::invalid_argument);
    EXPECT_THROW(w.fieldU32(40, 1), std::invalid_argument);
    EXPECT_THROW(w.endEvent(false).beginEvent(64), std::invalid_argument);
}

TEST(WriterEvent, BlockStartSetsRateAndScales) {
    VokWriter w = body();
    vokgen::BlockStartSpec b;
    b.time = 5000;
    b.sampleRate = 1000.0;
    b.gazeScale = 10;
    b.velocityScale = 20;
    b.recordingMode = 3;
    b.filter = 1;
    b.eye = vokgen::Eye::Left;
    b.flags = 0x0601;
    std::size_t start = w.size();
    w.startSamples(b);
    EXPECT_EQ(tail(w, start),
              (Bytes{0x0F, 0x00, 33,   0x00, 0x00, 0x13, 0x88, 65,   0x03, 0xE8, 0x00, 0x00, 48,  0x00,
                     0x0A, 81,   0x00, 0x14, 75,   0x03, 0x10, 0x00, 0x00, 180,  0x86, 0x01, 0x00}));
    EXPECT_FLOAT_EQ(w.gazeScale(), 10.0f);
    EXPECT_FLOAT_EQ(w.velocityScale(), 20.0f);
    EXPECT_FLOAT_EQ(w.sampleRate(), 1000.0f);
    const Event& e = w.eventOf(w.items().back());
    EXPECT_EQ(e.endTime, 5000u);
    EXPECT_FLOAT_EQ(e.avgVelocity, 1000.0f);
    EXPECT_FLOAT_EQ(e.endResolutionX, 784.0f);  // 0x0310, plain in a block start
    EXPECT_EQ(e.buttons, 1);
    EXPECT_FLOAT_EQ(e.peakVelocity, 1.0f);
    EXPECT_EQ(e.read, 0x0001 | 0x0040 | 0x0081 | 0x0082 | 0x0202 | 0x2000);

    // The events start names the left eye with 0x4000 in its input word.
    start = w.size();
    w.startEvents(b);
    const Bytes t = tail(w, start);
    const Bytes field85 = {85, 0x40, 0x00};
    EXPECT_NE(std::search(t.begin(), t.end(), field85.begin(), field85.end()), t.end());
    EXPECT_EQ(w.eventOf(w.items().back()).input, 0x4000);

    // Converting physical values uses the scales now in force.
    vokgen::EyeEventSpec fe;
    fe.startTime = 5010;
    fe.endTime = 5200;
    fe.eye = vokgen::Eye::Right;
    fe.startGaze = vokgen::Point{512.5, vokgen::kMissing};
    fe.peakVelocity = 33.3;
    w.fixationEnd(fe);
    const ExpectedItem& fix = w.items().back();
    EXPECT_EQ(fix.tag, 0x4800);
    EXPECT_EQ(fix.timeHalfMs, 10400u);
    const Event& f = w.eventOf(fix);
    EXPECT_FLOAT_EQ(f.startGazeX, 512.5f);
    EXPECT_FLOAT_EQ(f.startGazeY, 1e8f);
    EXPECT_FLOAT_EQ(f.peakVelocity, 666.0f / 20.0f);
    const Bytes fixBytes(w.bytes().begin() + static_cast<long>(fix.offset), w.bytes().end());
    EXPECT_EQ(fixBytes, (Bytes{33, 0, 0, 0x13, 0x92, 65, 0, 0, 0x14, 0x50, 42, 0x14, 0x05, 0x80, 0x00, 147,
                               0x02, 0x9A, 0}));

    // Without a rate field a rate other than 500 falls back to 250.
    b.sampleRate.reset();
    w.startSamples(b);
    EXPECT_FLOAT_EQ(w.sampleRate(), 250.0f);
}

TEST(WriterEvent, RevisionZeroFixesTheRateAt250) {
    VokWriter w;
    w.magic().standardPreamble(2, 0).endPreamble();
    EXPECT_EQ(w.revision(), 0);
    w.startSamples({});
    EXPECT_FLOAT_EQ(w.sampleRate(), 250.0f);
    VokWriter v;
    v.magic().preambleLine("VERSION: TARNVIK MK 0.9").endPreamble();
    EXPECT_EQ(v.revision(), 1);
}

TEST(WriterValues, StoredConversion) {
    EXPECT_EQ(vokgen::toStored(512.5, 10.0), 5125);
    EXPECT_EQ(vokgen::toStored(-2.5, 1.0), -3);  // halves away from zero
    EXPECT_EQ(vokgen::toStored(2.5, 0.1), 3);    // a scale of 0.1 or less is not applied
    EXPECT_EQ(vokgen::toStored(40000.0, 1.0), 32767);
    EXPECT_EQ(vokgen::toStored(-40000.0, 1.0), -32767);  // -32768 only for missing
    EXPECT_EQ(vokgen::toStored(vokgen::kMissing, 10.0), -32768);
    EXPECT_FLOAT_EQ(vokgen::decodeScaled(5125, 10.0f), 512.5f);
    EXPECT_FLOAT_EQ(vokgen::decodeScaled(512, 0.0f), 512.0f);
    EXPECT_FLOAT_EQ(vokgen::decodeScaled(-32768, 10.0f), 1e8f);
}

TEST(WriterKeys, SecondSampleOfAMillisecondAndBlockBoundaries) {
    VokWriter w = body();
    SampleSpec s;
    s.flags = 0x8001;
    for (std::uint32_t t : {100u, 100u, 101u, 101u}) {
        s.time = t;
        w.sample(s);
    }
    w.endSamples(102);
    s.time = 102;
    w.sample(s);
    ASSERT_EQ(w.items().size(), 6u);
    EXPECT_EQ(w.items()[0].timeHalfMs, 200u);
    EXPECT_EQ(w.items()[1].timeHalfMs, 201u);
    EXPECT_EQ(w.items()[2].timeHalfMs, 202u);
    EXPECT_EQ(w.items()[3].timeHalfMs, 203u);
    EXPECT_EQ(w.items()[4].timeHalfMs, 204u);  // the block end, keyed by its end time
    EXPECT_EQ(w.items()[5].timeHalfMs, 204u);  // the end reset the previous-sample time
}

std::vector<std::uint8_t> inflateAll(const std::uint8_t* data, std::size_t size, std::size_t expectedSize) {
    std::vector<std::uint8_t> out(expectedSize + 1);
    uLongf outSize = static_cast<uLongf>(out.size());
    int rc = uncompress(out.data(), &outSize, data, static_cast<uLong>(size));
    EXPECT_EQ(rc, Z_OK);
    out.resize(outSize);
    return out;
}

TEST(WriterCompressed, BodyIsOneZlibStream) {
    VokWriter w;
    w.magic(vokgen::Magic::CompressedCrlf).standardPreamble().endPreamble();
    EXPECT_TRUE(w.compressed());
    vokgen::BlockStartSpec start;
    start.time = 100;
    w.startSamples(start);
    SampleSpec s;
    s.flags = 0xC401;
    for (std::uint32_t t = 100; t < 400; ++t) {
        s.time = t;
        s.gazeX[0] = static_cast<std::int16_t>(t);
        w.sample(s);
    }
    w.message(250, "TRIAL_START 1").endSamples(400).endOfRecords();

    const Bytes file = w.fileBytes();
    const std::size_t head = w.bodyOffset();
    ASSERT_GT(head, 0u);
    EXPECT_TRUE(std::equal(w.bytes().begin(), w.bytes().begin() + static_cast<long>(head), file.begin()));
    EXPECT_EQ(std::string(file.begin(), file.begin() + 28), "ZK_MORAVELT_7700FILE ZIP\r\nSO");
    EXPECT_EQ(file[head], 0x78);  // zlib header, not gzip
    const Bytes plainBody(w.bytes().begin() + static_cast<long>(head), w.bytes().end());
    EXPECT_EQ(inflateAll(file.data() + head, file.size() - head, plainBody.size()), plainBody);
    EXPECT_LT(file.size(), w.size());

    // Records are found in the inflated stream, which the reader reads from its start.
    for (const ExpectedItem& item : w.items()) EXPECT_EQ(item.streamPosition, item.offset - head);

    // Cut and damaged variants.
    EXPECT_EQ(w.cutAt(head + 10), Bytes(file.begin(), file.begin() + static_cast<long>(head + 10)));
    EXPECT_EQ(w.cutAt(file.size() + 5), file);
    const Bytes damaged = w.damagedFileBytes(20, 0xFF);
    ASSERT_EQ(damaged.size(), file.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < file.size(); ++i) differing += damaged[i] != file[i];
    EXPECT_EQ(differing, 1u);
    EXPECT_NE(damaged[head + 20], file[head + 20]);
    EXPECT_THROW(w.damagedFileBytes(file.size(), 1), std::out_of_range);

    // Writing the plain layout under the compressed magic stays possible.
    w.setCompressed(false);
    EXPECT_EQ(w.fileBytes(), w.bytes());
}

// ---------------------------------------------------------------------------
// An independent walk over a generated record stream: every record begins
// where the item list says, and the stored values give the expected ones.

struct Walker {
    const Bytes& b;
    std::size_t pos;
    std::uint8_t u8() {
        if (pos >= b.size()) throw std::out_of_range("walked past the end");
        return b[pos++];
    }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() << 8 | u8()); }
    std::int16_t i16() { return static_cast<std::int16_t>(u16()); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(u16()) << 16 | u16(); }
};

float scaled(std::int16_t v, float scale) {
    if (v == -32768) return 1e8f;
    return scale > 0.1f ? static_cast<float>(v) / scale : static_cast<float>(v);
}

void walkAndCompare(const vokgen::GenResult& r) {
    const Bytes& bytes = r.layout();
    Walker in{bytes, r.bodyOffset};
    float gazeScale = 1.0f;
    std::uint32_t running = 0;
    for (const ExpectedItem& item : r.items) {
        const std::uint16_t tag = in.u16();
        ASSERT_EQ(in.pos, item.offset);
        ASSERT_EQ(tag, item.tag);
        ASSERT_EQ(item.streamPosition, r.compressed ? item.offset - r.bodyOffset : item.offset);
        if (item.kind == vokgen::ItemKind::Sample) {
            ASSERT_EQ(tag & 1, 1);
            const Sample& want = r.samples.at(item.index);
            running = (tag & 0x2000) ? in.u32() : running + in.u8();
            ASSERT_EQ(running, want.time);
            const bool eye[2] = {(tag & 0x8000) != 0, (tag & 0x4000) != 0};
            for (int e = 0; e < 2; ++e)
                if ((tag & 0x1000) && eye[e]) {
                    ASSERT_EQ(static_cast<float>(in.i16()), want.pupilX[e]);
                    ASSERT_EQ(static_cast<float>(in.i16()), want.pupilY[e]);
                }
            for (int e = 0; e < 2; ++e)
                if ((tag & 0x0800) && eye[e]) {
                    ASSERT_EQ(static_cast<float>(in.i16()), want.headRefX[e]);
                    ASSERT_EQ(static_cast<float>(in.i16()), want.headRefY[e]);
                }
            for (int e = 0; e < 2; ++e) {
                if ((tag & 0x0400) && eye[e]) {
                    ASSERT_EQ(scaled(in.i16(), gazeScale), want.gazeX[e]);
                    ASSERT_EQ(scaled(in.i16(), gazeScale), want.gazeY[e]);
                } else {
                    ASSERT_EQ(want.gazeX[e], -32768.0f);
                }
            }
            if (tag & 0x0200) {
                ASSERT_EQ(scaled(in.i16(), gazeScale), want.resolutionX);
                ASSERT_EQ(scaled(in.i16(), gazeScale), want.resolutionY);
            } else {
                ASSERT_EQ(want.resolutionX, 1e8f);
            }
            for (int e = 0; e < 2; ++e)
                if ((tag & 0x0100) && eye[e]) {
                    ASSERT_EQ(static_cast<float>(in.i16()), want.pupilSize[e]);
                }
            ASSERT_EQ((tag & 0x0080) ? in.u16() : 0x8000, want.errors);
            ASSERT_EQ((tag & 0x0040) ? in.u16() : 0x8000, want.input);
            ASSERT_EQ((tag & 0x0020) ? in.u16() : 0, want.buttons);
            if (tag & 0x0010) {
                const std::uint8_t type = in.u8();
                ASSERT_EQ(type, want.headDataType);
                for (int k = 0; k < std::min(type & 15, 8); ++k) ASSERT_EQ(in.i16(), want.headData[k]);
            }
            for (std::uint16_t bit : {0x0008, 0x0004})
                if (tag & bit)
                    for (std::uint8_t len = in.u8(); len != 0; len = in.u8()) in.pos += 1u + len;
        } else {
            ASSERT_EQ(tag & 1, 0);
            ASSERT_EQ(item.type, tag >> 8 & 63);
            const Event& want = r.events.at(item.index);
            const bool blockStart = item.type == STARTSAMPLES || item.type == STARTEVENTS;
            std::string text;
            for (std::uint8_t f = in.u8(); f != 0; f = in.u8()) {
                switch (vokgen::fieldPayload(f)) {
                    case vokgen::FieldPayload::U32: {
                        const std::uint32_t v = in.u32();
                        if (f == 33) {
                            ASSERT_EQ(v, want.startTime);
                        }
                        break;
                    }
                    case vokgen::FieldPayload::Pair:
                        in.u32();
                        break;
                    case vokgen::FieldPayload::I16: {
                        const std::int16_t v = in.i16();
                        if (blockStart && f == 48) gazeScale = static_cast<float>(v);
                        break;
                    }
                    case vokgen::FieldPayload::U16:
                        in.u16();
                        break;
                    case vokgen::FieldPayload::Text: {
                        const std::int16_t n = in.i16();
                        ASSERT_GE(n, 0);
                        text.assign(bytes.begin() + static_cast<long>(in.pos),
                                    bytes.begin() + static_cast<long>(in.pos) + n);
                        in.pos += static_cast<std::size_t>(n);
                        break;
                    }
                    case vokgen::FieldPayload::None:
                        break;
                }
            }
            if (item.type == MESSAGEEVENT) {
                ASSERT_EQ(r.messages.at(item.textIndex), text);
            }
        }
    }
    ASSERT_EQ(in.u16(), 0);  // end of records
    ASSERT_EQ(in.pos, bytes.size());
}

struct GenCase {
    const char* name;
    int rate;
    vokgen::Eye eyes;
    bool gaps;
    bool compressed;
    std::uint16_t extraGroups;
    bool near2pow31;
};

TEST(Generator, ItemsDescribeTheBytes) {
    const GenCase cases[] = {
        {"250 Hz left", 250, vokgen::Eye::Left, false, false, 0, false},
        {"500 Hz right, gaps", 500, vokgen::Eye::Right, true, false, VOK_SAMPLE_ERRORS, false},
        {"1000 Hz both, compressed", 1000, vokgen::Eye::Both, false, true, 0, false},
        {"2000 Hz both, gaps, every group", 2000, vokgen::Eye::Both, true, false,
         VOK_SAMPLE_HEADDATA | VOK_SAMPLE_ERRORS | VOK_SAMPLE_SKIP1 | VOK_SAMPLE_SKIP2, false},
        {"1000 Hz near 2^31", 1000, vokgen::Eye::Both, true, true, 0, true},
    };
    for (const GenCase& c : cases) {
        SCOPED_TRACE(c.name);
        vokgen::GenOptions o;
        o.seed = 42;
        o.durationMs = 12000;
        o.blocks = 3;
        o.sampleRate = c.rate;
        o.eyes = c.eyes;
        o.gaps = c.gaps;
        o.compressed = c.compressed;
        o.sampleGroups |= c.extraGroups;
        o.headDataType = 0x96;
        if (c.near2pow31) o.startTime = vokgen::startTimeNear2pow31(o);
        const vokgen::GenResult r = vokgen::generateRecording(o);
        walkAndCompare(r);
        if (c.compressed) {
            const Bytes body = inflateAll(r.bytes.data() + r.bodyOffset, r.bytes.size() - r.bodyOffset,
                                          r.plain.size() - r.bodyOffset);
            EXPECT_TRUE(
                std::equal(body.begin(), body.end(), r.plain.begin() + static_cast<long>(r.bodyOffset)));
        }
        ASSERT_EQ(r.blocks.size(), 3u);
        std::uint64_t samples = 0;
        for (const ExpectedItem& item : r.items) samples += item.kind == vokgen::ItemKind::Sample;
        EXPECT_EQ(samples, r.sampleCount);
        if (!c.gaps) {
            EXPECT_EQ(samples, 12000u * static_cast<unsigned>(c.rate) / 1000u);
        }
        if (c.near2pow31) {
            EXPECT_LT(r.blocks.front().startTime, 0x80000000u);
            EXPECT_GT(r.blocks.back().endTime, 0x80000000u);
        }
    }
}

TEST(Generator, SameSeedSameRecording) {
    vokgen::GenOptions o;
    o.seed = 9;
    o.durationMs = 4000;
    o.blocks = 2;
    o.gaps = true;
    const vokgen::GenResult a = vokgen::generateRecording(o);
    const vokgen::GenResult b = vokgen::generateRecording(o);
    EXPECT_EQ(a.bytes, b.bytes);
    ASSERT_EQ(a.items.size(), b.items.size());
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        EXPECT_EQ(a.items[i].offset, b.items[i].offset);
        EXPECT_EQ(a.items[i].timeHalfMs, b.items[i].timeHalfMs);
    }
    EXPECT_EQ(0, std::memcmp(a.samples.data(), b.samples.data(), a.samples.size() * sizeof(Sample)));
    o.seed = 10;
    EXPECT_NE(vokgen::generateRecording(o).bytes, a.bytes);
}

TEST(Generator, RealisticStructure) {
    vokgen::GenOptions o;
    o.seed = 5;
    o.durationMs = 60000;
    o.blocks = 2;
    o.sampleRate = 2000;
    o.trialsPerBlock = 2;
    const vokgen::GenResult r = vokgen::generateRecording(o);

    int trialIds = 0, trialResults = 0, blinksInSaccades = 0, buttons = 0, inputs = 0;
    bool inSaccade[2] = {false, false};
    std::uint64_t lastSampleKey = 0;
    std::int64_t previousSampleTime = -1;
    for (const ExpectedItem& item : r.items) {
        if (item.kind == vokgen::ItemKind::Sample) {
            const Sample& s = r.samples[item.index];
            // Two samples per millisecond: the second one on the half millisecond.
            EXPECT_EQ(item.timeHalfMs, 2ull * s.time + (s.time == previousSampleTime ? 1 : 0));
            EXPECT_GT(item.timeHalfMs, lastSampleKey);
            lastSampleKey = item.timeHalfMs;
            previousSampleTime = s.time;
            continue;
        }
        const Event& e = r.events[item.index];
        switch (item.type) {
            case STARTSAMPLES:
            case ENDSAMPLES:
                previousSampleTime = -1;
                break;
            case MESSAGEEVENT: {
                const std::string& text = r.messages[item.textIndex];
                trialIds += text.rfind("TRIAL_START ", 0) == 0;
                trialResults += text.rfind("TRIAL_END ", 0) == 0;
                break;
            }
            case SSACC:
                inSaccade[e.eye] = true;
                break;
            case ESACC:
                inSaccade[e.eye] = false;
                break;
            case SBLINK:
                blinksInSaccades += inSaccade[e.eye];
                break;
            case BUTTONEVENT:
                ++buttons;
                break;
            case INPUTEVENT:
                ++inputs;
                break;
            case SFIX:
            case EFIX:
                // A start is reported after its start time has been sampled.
                EXPECT_LE(item.type == SFIX ? e.startTime : e.endTime, lastSampleKey / 2);
                break;
            default:
                break;
        }
    }
    EXPECT_EQ(trialIds, 4);
    EXPECT_EQ(trialResults, 4);
    EXPECT_GT(blinksInSaccades, 0);
    EXPECT_GT(buttons, 0);
    EXPECT_GT(inputs, 0);
}

TEST(Generator, RejectsImpossibleOptions) {
    vokgen::GenOptions o;
    o.sampleRate = 300;
    EXPECT_THROW(vokgen::generateRecording(o), std::invalid_argument);
    o.sampleRate = 1000;
    o.startTime = 0xFFFFF000u;
    EXPECT_THROW(vokgen::generateRecording(o), std::invalid_argument);
}

}  // namespace
