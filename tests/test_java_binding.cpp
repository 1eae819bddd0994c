// The parts of the Java binding that run without a Java virtual machine:
// the display area, message trimming, number texts, and the native peer
// VOKX walking recordings with and without video frame messages.  The JNI
// side is tested in a JVM (java/test).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "java/DisplayArea.h"
#include "java/FloatFormat.h"
#include "java/MessageText.h"
#include "java/VOKX.h"
#include "support/TestSupport.h"
#include "video/AVIVOKTimeLookupTime.h"
#include "video/FrameLookup.h"

namespace vok::java {
namespace {

constexpr float kUnknown = 100000000.0f;

TEST(JavaDisplayArea, ReadsFourIntegersAsScanfWould) {
    struct Case {
        const char* text;
        bool ok;
        long long values[4];
    };
    const Case cases[] = {
        {" 0 0 1023 767", true, {0, 0, 1023, 767}},
        {"\t-5 +6\n7 8 trailing", true, {-5, 6, 7, 8}},
        {"1 2 3", false, {}},
        {"1 2 x 4", false, {}},
        {"1 2 3 2147483648", false, {}},  // beyond int: refused, not wrapped
        {"1 2 3 -2147483648", true, {1, 2, 3, -2147483648LL}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        long long v[4] = {};
        EXPECT_EQ(c.ok, readFourIntegers(c.text, v)) << c.text;
        if (c.ok) {
            for (int i = 0; i < 4; ++i) EXPECT_EQ(c.values[i], v[i]) << c.text;
        }
    }
}

TEST(JavaDisplayArea, MapsGazeOntoTheWidenedArea) {
    resetDisplayArea();
    EXPECT_EQ(500.0f, displayX(500.0f)) << "nothing known: unchanged";
    noteDisplayMessage("DISPLAY_AREA_COORDS 0 0 950 760");
    EXPECT_EQ(500.0f, displayX(500.0f)) << "an area without the display size: unchanged";
    noteDisplayMessage("DISPLAY_COORDS 0 0 1000 800");
    EXPECT_EQ(1000.0f, displayArea().width);
    EXPECT_EQ(475.0f, displayX(500.0f));
    EXPECT_EQ(380.0f, displayY(400.0f));
    EXPECT_EQ(-50.0f, displayX(0.0f));
    EXPECT_EQ(kUnknown, displayX(kUnknown)) << "missing stays missing";
    EXPECT_EQ(-32768.0f, displayY(-32768.0f)) << "an absent eye keeps its marker";

    noteDisplayMessage("DISPLAY_COORDS 0 0 1023 767");
    EXPECT_EQ(1023.0f, displayArea().width) << "the size is c - a, not c - a + 1";
    EXPECT_EQ(767.0f, displayArea().height);

    noteDisplayMessage("prefix DISPLAY_COORDS 0 0 1000 800");
    EXPECT_EQ(kUnknown, displayArea().width) << "the numbers are read 14 characters into the text";
    EXPECT_EQ(500.0f, displayX(500.0f));

    noteDisplayMessage("DISPLAY_AREA_COORDS 1 2 3");
    EXPECT_EQ(kUnknown, displayArea().left);
    noteDisplayMessage("TRIAL_START 1");
    EXPECT_EQ(kUnknown, displayArea().left) << "other texts change nothing";
    noteDisplayMessage("DISPLAY_AREA_COORDS 10 20 30 40");
    EXPECT_EQ(10.0f, displayArea().left);
    EXPECT_EQ(40.0f, displayArea().bottom);
    resetDisplayArea();
    EXPECT_EQ(kUnknown, displayArea().left);
    EXPECT_EQ(kUnknown, displayArea().width);
}

// An LString with the library's room for the text.
struct MessageBuffer {
    std::int16_t length = 0;
    char text[500] = {};

    MessageBuffer(std::int16_t n, const std::string& bytes) : length(n) {
        std::memcpy(text, bytes.data(), bytes.size());
    }
    LString& get() { return *reinterpret_cast<LString*>(this); }
};

TEST(JavaMessageText, Trimming) {
    struct Case {
        const char* what;
        std::int16_t length;
        std::string bytes;
        std::string result;
    };
    const std::string x300(300, 'x');
    const Case cases[] = {
        {"300 characters", 300, x300, std::string(249, 'x')},
        {"250 characters", 250, std::string(250, 'x'), std::string(249, 'x')},
        {"249 characters without a NUL", 249, std::string(249, 'x'), std::string(249, 'x')},
        {"249 characters and the NUL", 250, std::string(249, 'x') + '\0', std::string(249, 'x')},
        {"a tracker's text with its NUL", 5, std::string("abc\n\0", 5), "abc"},
        {"a text without NUL keeps its last character", 5, "hello", "hello"},
        {"a line feed without NUL", 4, "abc\n", "abc"},
        {"only one line feed goes", 6, std::string("ab\n\n\0", 6), "ab\n"},
        {"a line feed behind four NULs", 8, std::string("ab\n\0\0\0\0\0", 8), "ab"},
        {"a line feed behind five NULs stays", 9, std::string("ab\n\0\0\0\0\0\0", 9), "ab\n"},
        {"a line feed at 249 of a long text", 300, std::string(248, 'x') + "\n" + std::string(51, 'y'),
         std::string(248, 'x')},
        {"empty", 0, "", ""},
        {"a lone line feed", 1, "\n", ""},
    };
    for (const Case& c : cases) {
        MessageBuffer m(c.length, c.bytes);
        trimMessage(m.get());
        EXPECT_EQ(c.result, std::string(m.text)) << c.what;
        EXPECT_EQ(c.length, m.length) << c.what << ": the length field is kept";
    }
    MessageBuffer negative(-1, "keep\n");
    trimMessage(negative.get());
    EXPECT_EQ("keep\n", std::string(negative.text));
}

TEST(JavaFloatFormat, EveryPrecisionFitsTheBuffer) {
    const float values[] = {0.0f, -0.0f, 1.5f, -999.999f, 99999.9f, -3.4028235e38f, 3.4028235e38f, 1e-30f};
    for (float v : values) {
        for (int p = -100; p <= 200; ++p) {
            char text[kFloatTextSize];
            std::memset(text, 'Z', sizeof text);
            const int n = formatFloatValue(v, p, text);
            ASSERT_EQ(static_cast<std::size_t>(n), std::strlen(text)) << v << " " << p;
            ASSERT_LT(n, static_cast<int>(kFloatTextSize));
            ASSERT_EQ('\t', text[0]);
        }
    }
    char a[kFloatTextSize], b[kFloatTextSize];
    formatFloatValue(-999.999f, 50, a);
    formatFloatValue(-999.999f, 49, b);
    EXPECT_STREQ(b, a) << "precisions above 49 count as 49";
    formatFloatValue(12345.678f, 2, a);
    EXPECT_STREQ("\t 1.2e+04", a);
    formatFloatValue(123.456f, 2, a);
    EXPECT_STREQ("\t 123.46", a);
    formatFloatValue(7.25f, 0, a);
    EXPECT_STREQ("\t      7", a);
}

class JavaVOKX : public ::testing::Test {
protected:
    void TearDown() override { video::dropTable(); }

    test::TempDir dir;
};

TEST_F(JavaVOKX, RefusesNamesLongerThanItsBuffer) {
    test::LogCapture log;
    const std::string name = (dir.path() / std::string(VOKX::kMaxFileNameLength, 'n')).string();
    int error = 0;
    VOKX x(name.c_str(), 0, 1, 1, 0, &error);
    EXPECT_EQ(-1, error);
    EXPECT_EQ(nullptr, x.file());
    EXPECT_TRUE(log.contains("The file name is too long")) << log.text();
    EXPECT_EQ(0, x.nextData());
    EXPECT_EQ(ItemForJava::None, x.prepareItem(SAMPLE_TYPE).kind);

    int nullError = 0;
    VOKX none(nullptr, 0, 1, 1, 0, &nullError);
    EXPECT_EQ(-1, nullError);
}

TEST_F(JavaVOKX, BindingOptions) {
    const std::string path = dir.write("rec.vok", test::minimalRecording());
    struct Case {
        int option;
        bool display, video;
    };
    for (const Case c : {Case{0, false, false}, Case{1, true, false}, Case{2, false, true},
                         Case{3, true, true}, Case{4, false, false}, Case{-1, false, false}}) {
        int error = -1;
        VOKX x(path.c_str(), 0, 1, 1, c.option, &error);
        ASSERT_EQ(0, error);
        EXPECT_EQ(c.display, x.displayOption()) << c.option;
        EXPECT_EQ(c.video, x.playback().videoOption) << c.option;
        EXPECT_STREQ(path.c_str(), x.fileName());
    }
}

TEST_F(JavaVOKX, AnItemOfAnotherKindIsNotHandedOut) {
    vokgen::GenOptions o;
    o.durationMs = 100;
    o.sampleRate = 500;
    const vokgen::GenResult g = vokgen::generateRecording(o);
    const std::string path = dir.write("rec.vok", std::string(g.bytes.begin(), g.bytes.end()));
    int error = -1;
    VOKX x(path.c_str(), 0, 1, 1, 0, &error);
    ASSERT_EQ(0, error);
    int type;
    do {
        type = x.nextData();
    } while (type != SAMPLE_TYPE && type != 0);
    ASSERT_EQ(SAMPLE_TYPE, type);
    test::LogCapture log;
    EXPECT_EQ(ItemForJava::None, x.prepareItem(MESSAGEEVENT).kind);
    EXPECT_EQ(ItemForJava::None, x.prepareItem(RECORDING_INFO).kind);
    EXPECT_TRUE(log.contains("Types not matched \n"));
    EXPECT_EQ(ItemForJava::None, x.prepareItem(77).kind) << "codes without records fill nothing";
    const ItemForJava item = x.prepareItem(SAMPLE_TYPE);
    ASSERT_EQ(ItemForJava::SampleItem, item.kind);
    EXPECT_NE(nullptr, item.sample);
}

// Writes the lookup table of a video: frames every periodMs from start.
void writeTable(const std::string& path, std::uint32_t start, std::uint32_t periodMs, int frames) {
    std::ofstream out(path, std::ios::binary);
    auto le32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.put(static_cast<char>(v >> (8 * i)));
    };
    le32(static_cast<std::uint32_t>(frames));
    le32(video::kLookupMagic);
    for (int i = 0; i < frames; ++i) {
        video::LookupRecord r;
        r.frameWord = static_cast<std::uint32_t>(i);
        r.baseTime = start + periodMs * static_cast<std::uint32_t>(i);
        unsigned char bytes[video::kLookupRecordSize];
        video::encodeLookupRecord(r, bytes);
        out.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
    }
}

// Frame messages stand in the stream where their frame's time is, also on
// a tracker clock past 2^31 ms, whose item keys (in half milliseconds) no
// longer fit 32 bits.
TEST_F(JavaVOKX, FrameMessagesStandAtTheirTime) {
    for (std::uint32_t start : {1000000u, 0x80000000u + 1000u}) {
        SCOPED_TRACE(start);
        vokgen::GenOptions o;
        o.seed = 5;
        o.durationMs = 400;
        o.sampleRate = 500;
        o.startTime = start;
        o.eyeEvents = false;
        o.messages = false;
        o.trialsPerBlock = 0;
        o.buttonPresses = 0;
        o.inputChanges = 0;
        const vokgen::GenResult g = vokgen::generateRecording(o);
        const std::string path = dir.write("rec.vok", std::string(g.bytes.begin(), g.bytes.end()));
        writeTable((dir.path() / "rec0.vkt").string(), start, 40, 15);

        int error = -1;
        // Times as recorded: without the time offset fixup.
        VOKX x(path.c_str(), VOK_NO_TIME_FIXUP, 1, 1, kBindingVideo, &error);
        ASSERT_EQ(0, error);
        std::vector<std::uint32_t> frameTimes;
        std::vector<int> frames;
        std::uint32_t lastSample = 0;
        bool messageWaitsForSample = false;
        for (int type = x.nextData(); type != 0; type = x.nextData()) {
            const ItemForJava item = x.prepareItem(type);
            if (item.kind == ItemForJava::SampleItem) {
                lastSample = item.sample->time;
                if (messageWaitsForSample) {
                    EXPECT_LE(frameTimes.back(), lastSample) << "the message comes before later samples";
                    messageWaitsForSample = false;
                }
            } else if (item.kind == ItemForJava::EventItem && item.event->message != nullptr &&
                       std::strncmp(item.event->message->c, "!V VFRAME ", 10) == 0) {
                int frame = -1;
                char name[32] = {};
                ASSERT_EQ(2, std::sscanf(item.event->message->c, "!V VFRAME %d %31s", &frame, name));
                EXPECT_STREQ("rec0.avi", name);
                EXPECT_EQ(start + 40u * static_cast<std::uint32_t>(frame), item.event->startTime);
                EXPECT_LE(lastSample, item.event->startTime) << "the message comes after earlier samples";
                frames.push_back(frame);
                frameTimes.push_back(item.event->startTime);
                messageWaitsForSample = true;
            }
        }
        ASSERT_GE(frames.size(), 8u) << "about ten frames in 400 ms";
        for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_LT(frames[i - 1], frames[i]);
        video::dropTable();
    }
}

}  // namespace
}  // namespace vok::java
