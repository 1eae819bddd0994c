// Whole recordings written by the generator and walked with the cursor:
// every item comes back as written, in time order; gaps are filled exactly
// at the repair level; and a recording cut at any byte either fails cleanly
// or gives back exactly the records before the cut.
#include <gtest/gtest.h>

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "load/ItemIndex.h"
#include "nav/VOKFile.h"
#include "support/TestSupport.h"

namespace vok {
namespace {

using vokgen::ExpectedItem;
using vokgen::Eye;
using vokgen::GenOptions;
using vokgen::GenResult;
using vokgen::ItemKind;
using FileHandle = std::unique_ptr<VOKFile, test::FileCloser>;

// The shortest text that reads back as exactly this float.
std::string exact(float v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// A sample, every field but the velocities, floats exactly.  The pupil
// sizes of a sample without the pupil-size group are the ones the sample
// window remembered; where no sample carries them that is 1000.0.
std::string describeSample(const Sample& s) {
    std::string out =
        "S t" + std::to_string(s.time) + " k" + std::to_string(s.timeHalfMs) + " f" + std::to_string(s.flags);
    auto pair = [&](const char* name, const float* v) {
        out += std::string(" ") + name + exact(v[0]) + "," + exact(v[1]);
    };
    pair("px", s.pupilX);
    pair("py", s.pupilY);
    pair("hx", s.headRefX);
    pair("hy", s.headRefY);
    pair("ps", s.pupilSize);
    pair("gx", s.gazeX);
    pair("gy", s.gazeY);
    out += " r" + exact(s.resolutionX) + "," + exact(s.resolutionY) + " hd";
    for (std::int16_t w : s.headData) out += " " + std::to_string(w);
    out += " i" + std::to_string(s.input) + " b" + std::to_string(s.buttons) + " ht" +
           std::to_string(s.headDataType) + " e" + std::to_string(s.errors);
    return out;
}

// An event, every field; the message by its text.
std::string describeEvent(const Event& e, const std::string* text) {
    std::string out = "E" + std::to_string(e.type) + " t" + std::to_string(e.time) + " rd" +
                      std::to_string(e.read) + " " + std::to_string(e.startTime) + "-" +
                      std::to_string(e.endTime);
    const float values[] = {e.startHeadRefX,  e.startHeadRefY,    e.startGazeX,    e.startGazeY,
                            e.startPupilSize, e.endHeadRefX,      e.endHeadRefY,   e.endGazeX,
                            e.endGazeY,       e.endPupilSize,     e.avgHeadRefX,   e.avgHeadRefY,
                            e.avgGazeX,       e.avgGazeY,         e.avgPupilSize,  e.avgVelocity,
                            e.peakVelocity,   e.startVelocity,    e.endVelocity,   e.startResolutionX,
                            e.endResolutionX, e.startResolutionY, e.endResolutionY};
    for (float v : values) out += " " + exact(v);
    out += " eye" + std::to_string(e.eye) + " st" + std::to_string(e.status) + " fl" +
           std::to_string(e.flags) + " in" + std::to_string(e.input) + " bt" + std::to_string(e.buttons) +
           " pb" + std::to_string(e.parsedBy);
    out += text != nullptr ? " '" + *text + "'" : " null";
    return out;
}

std::string describeExpected(const GenResult& g, const ExpectedItem& item) {
    if (item.kind == ItemKind::Sample) {
        Sample s = g.samples.at(item.index);
        if (item.timeHalfMs & 1) s.flags |= VOK_SAMPLE_HALFMS;
        if (!(s.flags & VOK_SAMPLE_PUPILSIZE)) s.pupilSize[0] = s.pupilSize[1] = 1000.0f;
        return describeSample(s);
    }
    const std::string* text = item.textIndex != vokgen::kNoValue ? &g.messages.at(item.textIndex) : nullptr;
    return describeEvent(g.events.at(item.index), text);
}

using ByKey = std::map<std::uint64_t, std::multiset<std::string>>;

// The written items' descriptions, in file order.
std::vector<std::string> describeAll(const GenResult& g) {
    std::vector<std::string> out;
    out.reserve(g.items.size());
    for (const ExpectedItem& item : g.items) out.push_back(describeExpected(g, item));
    return out;
}

// The first `count` written items by key.
ByKey expectedByKey(const GenResult& g, const std::vector<std::string>& described, std::size_t count) {
    ByKey out;
    for (std::size_t i = 0; i < count; ++i) out[g.items[i].timeHalfMs].insert(described[i]);
    return out;
}

struct Walked {
    ByKey byKey;  // samples and events
    std::vector<RecordingInfo> recordings;
    std::size_t items = 0;
    std::string disorder;  // the first step back in time, if any
    std::string failure;   // the first item that did not read
};

// Walks the whole file and reads every item.
Walked walkAll(VOKFile* f) {
    Walked w;
    std::uint64_t lastTime = 0;
    for (int type; (type = vok_get_next_data(f)) != 0;) {
        ++w.items;
        const FloatData* d = vok_get_float_data(f);
        const std::uint64_t key = sortKey(f->recording.items.index[f->cursor.position - 1]);
        if (d == nullptr) {
            if (w.failure.empty())
                w.failure = "item " + std::to_string(w.items - 1) + " (type " + std::to_string(type) +
                            ") did not read";
            continue;
        }
        std::uint64_t time = 0;
        if (type == RECORDING_INFO) {
            w.recordings.push_back(d->recording);
            time = d->recording.time;
        } else if (type == SAMPLE_TYPE) {
            w.byKey[key].insert(describeSample(d->sample));
            time = d->sample.time;
        } else {
            const Event& e = d->event;
            std::string text;
            if (e.message != nullptr) text.assign(e.message->c, static_cast<std::size_t>(e.message->length));
            w.byKey[key].insert(describeEvent(e, e.message != nullptr ? &text : nullptr));
            const bool endKeyed = e.type == EBLINK || e.type == ESACC || e.type == EFIX ||
                                  e.type == ENDSAMPLES || e.type == ENDEVENTS;
            time = endKeyed ? e.endTime : e.startTime;
        }
        if (time < lastTime && w.disorder.empty()) {
            w.disorder = "item " + std::to_string(w.items - 1) + " at " + std::to_string(time) + " after " +
                         std::to_string(lastTime);
        }
        lastTime = time;
    }
    return w;
}

// Reports the keys whose items differ.
void expectSameItems(const ByKey& got, const ByKey& expected) {
    int reported = 0;
    auto report = [&](std::uint64_t key, const std::multiset<std::string>& a,
                      const std::multiset<std::string>& b) {
        if (++reported > 3) return;
        std::string msg = "key " + std::to_string(key) + "\n  read:";
        for (const auto& s : a) msg += "\n    " + s;
        msg += "\n  written:";
        for (const auto& s : b) msg += "\n    " + s;
        ADD_FAILURE() << msg;
    };
    static const std::multiset<std::string> none;
    for (const auto& [key, items] : expected) {
        auto it = got.find(key);
        const auto& read = it == got.end() ? none : it->second;
        if (read != items) report(key, read, items);
    }
    for (const auto& [key, items] : got) {
        if (expected.count(key) == 0) report(key, items, none);
    }
    EXPECT_EQ(reported, 0) << "keys with differences";
}

std::string bytesOf(const std::vector<std::uint8_t>& b) { return std::string(b.begin(), b.end()); }

// ---------------------------------------------------------------------------
// Round trips

struct RoundTrip {
    const char* what;
    GenOptions options;
    int consistency;
};

GenOptions base(std::uint64_t seed, int rate, std::uint64_t samples) {
    GenOptions o;
    o.seed = seed;
    o.sampleRate = rate;
    o.sampleCount = samples;
    o.blocks = 2;
    return o;
}

std::vector<RoundTrip> roundTrips() {
    std::vector<RoundTrip> cases;
    cases.push_back({"1000 Hz, both eyes", base(1, 1000, 3000), 0});
    {
        GenOptions o = base(2, 2000, 4000);
        o.eyes = Eye::Left;
        o.gaps = true;
        cases.push_back({"2000 Hz, left eye, gaps", o, 0});
    }
    {
        GenOptions o = base(3, 500, 2500);
        o.eyes = Eye::Right;
        o.compressed = true;
        o.revision = 3;
        o.trackerRevision = 3;
        o.sampleGroups = VOK_SAMPLE_PUPILXY | VOK_SAMPLE_GAZE | VOK_SAMPLE_RESOLUTION | VOK_SAMPLE_BUTTONS;
        cases.push_back({"500 Hz, right eye, compressed, revision 3, no pupil sizes", o, 0});
    }
    {
        GenOptions o = base(4, 250, 1500);
        o.revision = 0;
        o.gaps = true;
        o.blocks = 3;
        o.sampleGroups = 0x1FFC;  // every group, head data and both skippable blocks
        o.headDataType = 0x9A;
        cases.push_back({"250 Hz, revision 0, gaps, every group", o, 0});
    }
    {
        GenOptions o = base(5, 2000, 3000);
        o.revision = 2;
        o.fullTimeEvery = 7;
        o.compressed = true;
        o.crlf = true;
        cases.push_back({"2000 Hz, revision 2, full times, compressed", o, 0});
    }
    {
        GenOptions o = base(6, 1000, 2000);
        o.eyeEvents = false;
        o.eventBlocks = false;
        o.blocks = 1;
        cases.push_back({"1000 Hz, samples blocks only", o, 0});
    }
    {
        // Times around 2^31 ms, without the time offset fixup.
        GenOptions o = base(7, 1000, 3000);
        o.startTime = vokgen::startTimeNear2pow31(o);
        cases.push_back({"1000 Hz around 2^31 ms", o, VOK_NO_TIME_FIXUP});
    }
    return cases;
}

TEST(RoundTrip, EveryItemComesBackAsWritten) {
    test::TempDir dir;
    for (const RoundTrip& c : roundTrips()) {
        SCOPED_TRACE(testing::Message() << c.what << ", seed " << c.options.seed);
        const GenResult g = vokgen::generateRecording(c.options);
        const std::string path = dir.write("rt" + std::to_string(c.options.seed) + ".vok", bytesOf(g.bytes));
        test::LogCapture capture;
        int err = 99;
        FileHandle f(vok_open_file(path.c_str(), c.consistency, 1, 1, &err));
        ASSERT_NE(f, nullptr) << capture.text();
        EXPECT_EQ(err, 0);

        const Walked w = walkAll(f.get());
        EXPECT_EQ(w.failure, "");
        EXPECT_EQ(w.disorder, "");
        expectSameItems(w.byKey, expectedByKey(g, describeAll(g), g.items.size()));
        EXPECT_EQ(vok_get_element_count(f.get()), w.items);
        EXPECT_EQ(w.items, g.items.size() + w.recordings.size());
        EXPECT_EQ(capture.text(), "");

        // One start and one end record per block, both kinds merged.
        const bool merged = c.options.eventBlocks;
        ASSERT_EQ(w.recordings.size(), 2 * g.blocks.size());
        for (std::size_t b = 0; b < g.blocks.size(); ++b) {
            SCOPED_TRACE(b);
            const vokgen::BlockSummary& block = g.blocks[b];
            const RecordingInfo& start = w.recordings[2 * b];
            const RecordingInfo& end = w.recordings[2 * b + 1];
            EXPECT_EQ(start.state, 1);
            EXPECT_EQ(start.time, block.startTime);
            EXPECT_EQ(end.state, 0);
            EXPECT_EQ(end.time, block.endTime);
            EXPECT_EQ(start.recordType, merged ? 3 : 1);
            EXPECT_EQ(end.recordType, merged ? 3 : 1);
            EXPECT_EQ(start.sampleRate, c.options.revision == 0 ? 250.0f : block.sampleRate);
            EXPECT_EQ(start.sampleFlags, block.sampleFlags);
            EXPECT_EQ(start.eye, block.eye == Eye::Left ? 1 : block.eye == Eye::Right ? 2 : 3);
            EXPECT_EQ(end.eye, start.eye);
        }
    }
}

TEST(RoundTrip, GapsAreFilledExactlyAtTheRepairLevel) {
    test::TempDir dir;
    for (const RoundTrip& c : roundTrips()) {
        if (!c.options.gaps) continue;
        SCOPED_TRACE(testing::Message() << c.what << ", seed " << c.options.seed);
        const GenResult g = vokgen::generateRecording(c.options);
        const std::string path = dir.write("gap" + std::to_string(c.options.seed) + ".vok", bytesOf(g.bytes));
        test::LogCapture capture;
        int err = 99;
        FileHandle f(vok_open_file(path.c_str(), 2, 1, 1, &err));
        ASSERT_NE(f, nullptr) << capture.text();

        // Written samples, and the keys each block's sample grid misses.
        std::set<std::uint64_t> real, missing;
        for (const ExpectedItem& item : g.items) {
            if (item.kind == ItemKind::Sample) real.insert(item.timeHalfMs);
        }
        const std::uint64_t step = 2000u / static_cast<unsigned>(c.options.sampleRate);
        for (const vokgen::BlockSummary& b : g.blocks) {
            const std::uint64_t lastKey = 2ull * b.lastSampleTime + (step == 1 ? 1 : 0);
            for (std::uint64_t k = 2ull * b.firstSampleTime; k <= lastKey; k += step) {
                if (real.count(k) == 0) missing.insert(k);
            }
        }
        ASSERT_FALSE(missing.empty());

        std::set<std::uint64_t> gotReal, gotPlaceholders;
        for (const ItemEntry& e : f->recording.items.index) {
            if (itemType(e) != SAMPLE_TYPE) continue;
            (e.position == kPlaceholder ? gotPlaceholders : gotReal).insert(sortKey(e));
        }
        EXPECT_EQ(gotReal, real);
        EXPECT_EQ(gotPlaceholders, missing);

        // Walked, the placeholders read as stand-ins at their times.
        std::size_t standIns = 0;
        for (int type; (type = vok_get_next_data(f.get())) != 0;) {
            if (type != SAMPLE_TYPE) continue;
            const Sample* s = vok_get_sample(vok_get_float_data(f.get()));
            ASSERT_NE(s, nullptr);
            const std::uint64_t key = sortKey(f->recording.items.index[f->cursor.position - 1]);
            EXPECT_EQ(s->time, key >> 1);
            if (missing.count(key) != 0) {
                EXPECT_EQ(s->flags & ~VOK_SAMPLE_HALFMS, 0xC000);
                EXPECT_EQ(s->gazeX[0], 1e8f);
                ++standIns;
            }
        }
        EXPECT_EQ(standIns, missing.size());
    }
}

// ---------------------------------------------------------------------------
// Truncation

// A small realistic recording: two blocks with eye events, messages, a
// button press and an input change.
GenOptions smallOptions() {
    GenOptions o;
    o.seed = 21;
    o.sampleCount = 40;
    o.sampleGroups = VOK_SAMPLE_GAZE | VOK_SAMPLE_PUPILSIZE | VOK_SAMPLE_RESOLUTION;
    o.blocks = 2;
    o.sampleRate = 500;
    o.pauseMs = 40;
    o.trialsPerBlock = 1;
    o.buttonPresses = 1;
    o.inputChanges = 1;
    o.startTime = 5000;
    return o;
}

// Byte offset in the layout where each record ends (just before the next
// tag word; the last one before the end word).
std::vector<std::size_t> recordEnds(const GenResult& g) {
    std::vector<std::size_t> ends;
    for (std::size_t i = 0; i < g.items.size(); ++i) {
        ends.push_back(i + 1 < g.items.size() ? static_cast<std::size_t>(g.items[i + 1].offset) - 2
                                              : g.layout().size() - 2);
    }
    return ends;
}

std::string describeRecording(const RecordingInfo& r) {
    return "R t" + std::to_string(r.time) + " rate" + exact(r.sampleRate) + " ef" +
           std::to_string(r.eventFlags) + " sf" + std::to_string(r.sampleFlags) + " st" +
           std::to_string(r.state) + " pt" + std::to_string(r.pupilType) + " rm" +
           std::to_string(r.recordingMode) + " ft" + std::to_string(r.filterType) + " pos" +
           std::to_string(r.positionType) + " eye" + std::to_string(r.eye) + " k" +
           std::to_string(r.timeHalfMs) + " raw" + exact(r.rawScale) + " win" + std::to_string(r.windowHeight) +
           "x" + std::to_string(r.windowWidth) + " m" + std::to_string(r.merged);
}

// The recordings of a cut file equal those of the whole file, except that a
// boundary whose second record was cut off holds one kind only.
void expectRecordingsOfPrefix(const std::vector<RecordingInfo>& got,
                              const std::vector<RecordingInfo>& whole) {
    ASSERT_LE(got.size(), whole.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        RecordingInfo a = got[i];
        const RecordingInfo& b = whole[i];
        EXPECT_EQ(a.recordType & ~b.recordType, 0);
        EXPECT_NE(a.recordType, 0);
        a.recordType = b.recordType;
        EXPECT_EQ(describeRecording(a), describeRecording(b));
    }
}

// The first `length` bytes of a file, written to a file of their own
// (rewriting one file in place can make the file system flush each time)
// and removed afterwards.
struct CutFile {
    CutFile(const test::TempDir& dir, const std::vector<std::uint8_t>& bytes, std::size_t length)
        : path(dir.write("cut" + std::to_string(length) + ".vok",
                         std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)))) {}
    ~CutFile() { std::remove(path.c_str()); }
    CutFile(const CutFile&) = delete;
    CutFile& operator=(const CutFile&) = delete;
    std::string path;
};

TEST(Truncation, EveryCutOpensWithTheRecordsBeforeItOrFailsCleanly) {
    const GenResult g = vokgen::generateRecording(smallOptions());
    ASSERT_FALSE(g.compressed);
    ASSERT_LT(g.bytes.size(), 2000u);  // every cut is opened twice: keep it small
    ASSERT_GT(g.items.size(), 60u);
    const std::vector<std::size_t> ends = recordEnds(g);
    const std::vector<std::string> described = describeAll(g);
    test::TempDir dir;

    std::vector<RecordingInfo> wholeRecordings;
    {
        int err = 99;
        const std::string path = dir.write("whole.vok", bytesOf(g.bytes));
        FileHandle f(vok_open_file(path.c_str(), 0, 1, 1, &err));
        ASSERT_NE(f, nullptr);
        const Walked w = walkAll(f.get());
        expectSameItems(w.byKey, expectedByKey(g, described, g.items.size()));
        wholeRecordings = w.recordings;
    }

    int strictOpens = 0;
    for (std::size_t length = g.bodyOffset; length <= g.bytes.size(); ++length) {
        SCOPED_TRACE(testing::Message() << "cut after " << length << " of " << g.bytes.size() << " bytes");
        const CutFile cut(dir, g.bytes, length);
        const std::string& path = cut.path;
        std::size_t complete = 0;
        while (complete < ends.size() && ends[complete] <= length) ++complete;
        const ByKey expected = expectedByKey(g, described, complete);

        test::LogCapture capture;
        int err = 99;
        FileHandle strict(vok_open_file(path.c_str(), 0, 1, 1, &err));
        if (strict != nullptr) {
            ++strictOpens;
            EXPECT_EQ(err, 0);
            const Walked w = walkAll(strict.get());
            EXPECT_EQ(w.failure, "");
            expectSameItems(w.byKey, expected);
        } else {
            EXPECT_EQ(err, -1);
        }
        strict.reset();

        err = 99;
        FileHandle tolerant(vok_open_file(path.c_str(), VOK_TOLERANT_READING, 1, 1, &err));
        ASSERT_NE(tolerant, nullptr) << capture.text();
        EXPECT_EQ(err, 0);
        const Walked w = walkAll(tolerant.get());
        EXPECT_EQ(w.failure, "");
        EXPECT_EQ(w.disorder, "");
        expectSameItems(w.byKey, expected);
        expectRecordingsOfPrefix(w.recordings, wholeRecordings);
        if (testing::Test::HasFailure()) break;  // one cut's report is enough
    }
    EXPECT_EQ(strictOpens, 1);  // the whole file only: a cut file has no end word
}

TEST(Truncation, CompressedBodyCutAnywhereGivesAPrefixOfTheRecords) {
    GenOptions o = smallOptions();
    o.compressed = true;
    const GenResult g = vokgen::generateRecording(o);
    ASSERT_TRUE(g.compressed);
    const std::vector<std::string> described = describeAll(g);
    test::TempDir dir;
    std::size_t lastKept = 0;
    for (std::size_t length = g.bodyOffset; length <= g.bytes.size(); ++length) {
        SCOPED_TRACE(testing::Message() << "cut after " << length << " of " << g.bytes.size() << " bytes");
        const CutFile cut(dir, g.bytes, length);
        const std::string& path = cut.path;
        test::LogCapture capture;
        int err = 99;
        FileHandle f(vok_open_file(path.c_str(), VOK_TOLERANT_READING, 1, 1, &err));
        ASSERT_NE(f, nullptr) << capture.text();
        const Walked w = walkAll(f.get());
        EXPECT_EQ(w.failure, "");
        // Whatever was inflated before the cut: the first records, whole.
        const std::size_t kept = w.items - w.recordings.size();
        EXPECT_GE(kept, lastKept);
        lastKept = kept;
        expectSameItems(w.byKey, expectedByKey(g, described, kept));
        if (testing::Test::HasFailure()) break;
    }
    EXPECT_EQ(lastKept, g.items.size());
}

}  // namespace
}  // namespace vok
