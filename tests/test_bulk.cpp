// The bulk walk of the extension API against the per-item cursor calls: on
// writer-made recordings of every peculiarity, at every consistency level,
// the batches give exactly the records, positions and texts that stepping
// and reading item by item gives, however small the batches are.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Cases.h"
#include "ExtraLogWriter.h"
#include "nav/VOKFile.h"
#include "support/TestSupport.h"
#include "vokapi_ext.h"

namespace vok {
namespace {

using FilePtr = std::unique_ptr<VOKFile, test::FileCloser>;

struct Walked {
    std::vector<Sample> samples;
    std::vector<std::uint32_t> samplePositions;
    std::vector<Event> events;
    std::vector<std::uint32_t> eventPositions;
    std::vector<std::uint8_t> eventExtra;
    std::vector<std::string> texts;  // "" for events without text
    std::vector<RecordingInfo> recordings;
    std::vector<std::uint32_t> recordingPositions;
    std::uint32_t unreadable = 0;
};

// Stepping and reading the items of the kinds asked for one by one.
Walked perItem(VOKFile* f, std::uint32_t kinds) {
    Walked w;
    for (;;) {
        const int code = vok_get_next_data(f);
        if (code == 0) break;
        const bool extra = f->cursor.merge.pending;
        const std::uint32_t position = extra ? f->cursor.position : f->cursor.position - 1;
        const std::uint32_t kind =
            code == SAMPLE_TYPE ? VOKEXT_SAMPLES : code == RECORDING_INFO ? VOKEXT_RECORDINGS : VOKEXT_EVENTS;
        if ((kinds & kind) == 0) continue;
        const FloatData* d = vok_get_float_data(f);
        if (d == nullptr) {
            ++w.unreadable;
            continue;
        }
        if (kind == VOKEXT_SAMPLES) {
            w.samples.push_back(d->sample);
            w.samplePositions.push_back(position);
        } else if (kind == VOKEXT_RECORDINGS) {
            w.recordings.push_back(d->recording);
            w.recordingPositions.push_back(position);
        } else {
            Event e = d->event;
            std::string text;
            if (e.type == MESSAGEEVENT && e.message != nullptr && e.message->length > 0)
                text.assign(e.message->c, ::strnlen(e.message->c, static_cast<std::size_t>(e.message->length)));
            e.message = nullptr;
            w.events.push_back(e);
            w.eventPositions.push_back(position);
            w.eventExtra.push_back(extra ? 1 : 0);
            w.texts.push_back(text);
        }
    }
    return w;
}

// The bulk walk with outputs of the given sizes, emptied after every call.
Walked bulk(VOKFile* f, std::uint32_t kinds, std::uint32_t rows, std::uint32_t textBytes = VOKEXT_TEXT_ROOM) {
    Walked w;
    std::vector<Sample> samples(rows);
    std::vector<std::uint32_t> samplePositions(rows), eventPositions(rows), eventText(rows), recordingPositions(rows);
    std::vector<Event> events(rows);
    std::vector<std::uint8_t> extra(rows);
    std::vector<RecordingInfo> recordings(rows);
    std::vector<char> text(textBytes);
    VOKEXT_Batch b{};
    b.kinds = kinds;
    b.sampleCapacity = b.eventCapacity = b.recordingCapacity = rows;
    b.samples.records = samples.data();
    b.samples.position = samplePositions.data();
    b.events = events.data();
    b.eventPosition = eventPositions.data();
    b.eventExtra = extra.data();
    b.eventText = eventText.data();
    b.recordings = recordings.data();
    b.recordingPosition = recordingPositions.data();
    b.text = text.data();
    b.textCapacity = textBytes;
    int result;
    int calls = 0;
    do {
        result = vokext_read_batch(f, &b);
        EXPECT_GE(result, 0);
        if (result < 0) break;
        ++calls;
        for (std::uint32_t i = 0; i < b.sampleCount; ++i) {
            w.samples.push_back(samples[i]);
            w.samplePositions.push_back(samplePositions[i]);
        }
        for (std::uint32_t i = 0; i < b.eventCount; ++i) {
            w.events.push_back(events[i]);
            w.eventPositions.push_back(eventPositions[i]);
            w.eventExtra.push_back(extra[i]);
            w.texts.push_back(eventText[i] == 0xFFFFFFFFu ? std::string() : std::string(text.data() + eventText[i]));
        }
        for (std::uint32_t i = 0; i < b.recordingCount; ++i) {
            w.recordings.push_back(recordings[i]);
            w.recordingPositions.push_back(recordingPositions[i]);
        }
        b.sampleCount = b.eventCount = b.recordingCount = b.textUsed = 0;
    } while (result == 1 && calls < 10000000);
    w.unreadable = b.unreadable;
    return w;
}

// Bitwise equality of the members (padding left out).
#define SAME(a, b, m) (std::memcmp(&(a).m, &(b).m, sizeof((a).m)) == 0)

bool sameSample(const Sample& a, const Sample& b) {
    return SAME(a, b, time) && SAME(a, b, pupilX) && SAME(a, b, pupilY) && SAME(a, b, headRefX) &&
           SAME(a, b, headRefY) && SAME(a, b, pupilSize) && SAME(a, b, gazeX) && SAME(a, b, gazeY) &&
           SAME(a, b, resolutionX) && SAME(a, b, resolutionY) && SAME(a, b, gazeVelX) && SAME(a, b, gazeVelY) &&
           SAME(a, b, headRefVelX) && SAME(a, b, headRefVelY) && SAME(a, b, pupilVelX) && SAME(a, b, pupilVelY) &&
           SAME(a, b, fastGazeVelX) && SAME(a, b, fastGazeVelY) && SAME(a, b, fastHeadRefVelX) &&
           SAME(a, b, fastHeadRefVelY) && SAME(a, b, fastPupilVelX) && SAME(a, b, fastPupilVelY) &&
           SAME(a, b, headData) && SAME(a, b, flags) && SAME(a, b, input) && SAME(a, b, buttons) &&
           SAME(a, b, headDataType) && SAME(a, b, errors) && SAME(a, b, timeHalfMs);
}

bool sameEvent(const Event& a, const Event& b) {
    // Every member up to the message pointer, which the bulk walk clears.
    return std::memcmp(&a, &b, offsetof(Event, parsedBy) + sizeof a.parsedBy) == 0;
}

bool sameRecording(const RecordingInfo& a, const RecordingInfo& b) {
    return SAME(a, b, time) && SAME(a, b, sampleRate) && SAME(a, b, eventFlags) && SAME(a, b, sampleFlags) &&
           SAME(a, b, state) && SAME(a, b, recordType) && SAME(a, b, pupilType) && SAME(a, b, recordingMode) &&
           SAME(a, b, filterType) && SAME(a, b, positionType) && SAME(a, b, eye) && SAME(a, b, timeHalfMs) &&
           SAME(a, b, rawScale) && SAME(a, b, windowHeight) && SAME(a, b, windowWidth) && SAME(a, b, merged);
}

void expectSame(const Walked& want, const Walked& got, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(got.samples.size(), want.samples.size());
    for (std::size_t i = 0; i < want.samples.size(); ++i) {
        ASSERT_TRUE(sameSample(got.samples[i], want.samples[i])) << "sample " << i << " at " << want.samples[i].time;
    }
    EXPECT_EQ(got.samplePositions, want.samplePositions);
    ASSERT_EQ(got.events.size(), want.events.size());
    for (std::size_t i = 0; i < want.events.size(); ++i) {
        ASSERT_TRUE(sameEvent(got.events[i], want.events[i])) << "event " << i;
    }
    EXPECT_EQ(got.eventPositions, want.eventPositions);
    EXPECT_EQ(got.eventExtra, want.eventExtra);
    EXPECT_EQ(got.texts, want.texts);
    ASSERT_EQ(got.recordings.size(), want.recordings.size());
    for (std::size_t i = 0; i < want.recordings.size(); ++i) {
        EXPECT_TRUE(sameRecording(got.recordings[i], want.recordings[i])) << "recording " << i;
    }
    EXPECT_EQ(got.recordingPositions, want.recordingPositions);
    EXPECT_EQ(got.unreadable, want.unreadable);
}

FilePtr openPath(const std::string& path, int consistency, int loadEvents = 1) {
    int err = 0;
    testing::internal::CaptureStdout();
    VOKFile* f = vok_open_file(path.c_str(), consistency, loadEvents, 1, &err);
    testing::internal::GetCapturedStdout();
    return FilePtr(f);
}

// Opens the recording twice, walks it both ways and compares, for every
// combination of kinds and a few batch sizes.
void compareBothWays(const std::string& path, int consistency, const std::string& what, int loadEvents = 1) {
    const std::uint32_t kindSets[] = {VOKEXT_SAMPLES | VOKEXT_EVENTS | VOKEXT_RECORDINGS, VOKEXT_SAMPLES,
                                      VOKEXT_EVENTS | VOKEXT_RECORDINGS};
    for (std::uint32_t kinds : kindSets) {
        for (std::uint32_t rows : {1u, 7u, 4096u}) {
            test::LogCapture quiet;
            FilePtr a = openPath(path, consistency, loadEvents);
            FilePtr b = openPath(path, consistency, loadEvents);
            if (a == nullptr) {
                EXPECT_EQ(b, nullptr);
                return;
            }
            ASSERT_NE(b, nullptr);
            const Walked want = perItem(a.get(), kinds);
            const Walked got = bulk(b.get(), kinds, rows);
            expectSame(want, got, what + " kinds " + std::to_string(kinds) + " rows " + std::to_string(rows));
            if (testing::Test::HasFatalFailure()) return;
        }
    }
}

std::string writeGenerated(const test::TempDir& dir, const std::string& name, const vokgen::GenOptions& o) {
    const vokgen::GenResult r = vokgen::generateRecording(o);
    return dir.write(name, std::string(r.bytes.begin(), r.bytes.end()));
}

// A generated recording with gaps in a temporary folder, opened quietly.
struct GappedRecording {
    GappedRecording(std::uint64_t seed, std::uint32_t durationMs, int consistency)
        : path(writeGenerated(dir, "r.vok", options(seed, durationMs))), file(openPath(path, consistency)) {}
    static vokgen::GenOptions options(std::uint64_t seed, std::uint32_t durationMs) {
        vokgen::GenOptions o;
        o.seed = seed;
        o.durationMs = durationMs;
        o.gaps = true;
        return o;
    }
    test::TempDir dir;
    std::string path;
    test::LogCapture quiet;
    FilePtr file;
};

TEST(BulkWalk, GeneratedRecordingsMatchTheCursorAtEveryLevel) {
    test::TempDir dir;
    struct Variant {
        const char* name;
        void (*adjust)(vokgen::GenOptions&);
    };
    const Variant variants[] = {
        {"binocular-1000", [](vokgen::GenOptions&) {}},
        {"gaps", [](vokgen::GenOptions& o) { o.gaps = true; }},
        {"2000hz", [](vokgen::GenOptions& o) { o.sampleRate = 2000; }},
        {"left-250", [](vokgen::GenOptions& o) { o.eyes = vokgen::Eye::Left; o.sampleRate = 250; }},
        {"head-data", [](vokgen::GenOptions& o) {
             o.sampleGroups |= VOK_SAMPLE_HEADDATA | VOK_SAMPLE_ERRORS;
         }},
        {"near-2-31", [](vokgen::GenOptions& o) { o.startTime = vokgen::startTimeNear2pow31(o); }},
        {"compressed", [](vokgen::GenOptions& o) { o.compressed = true; }},
    };
    for (const Variant& v : variants) {
        vokgen::GenOptions o;
        o.seed = 77;
        o.durationMs = 4000;
        o.blocks = 2;
        o.trialsPerBlock = 2;
        v.adjust(o);
        const std::string path = writeGenerated(dir, std::string(v.name) + ".vok", o);
        for (int level : {0, 1, 2}) {
            compareBothWays(path, level, std::string(v.name) + " level " + std::to_string(level));
            if (testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(BulkWalk, PeculiarRecordingsMatchTheCursor) {
    test::TempDir dir;
    for (const std::filesystem::path& path : vokgen::writeRecordingCases(dir.path())) {
        for (int consistency : {0, 1, 2, 2 | VOK_TOLERANT_READING}) {
            compareBothWays(path.string(), consistency,
                            path.filename().string() + " consistency " + std::to_string(consistency));
            if (testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(BulkWalk, MergedExtraMessagesMatchTheCursorAndComeBackAfterRewinding) {
    test::TempDir dir;
    vokgen::GenOptions o;
    o.seed = 5;
    o.durationMs = 3000;
    o.startTime = 5000;
    const std::string path = writeGenerated(dir, "r.vok", o);
    vokgen::ExtraLogWriter log;
    log.sync(100.0, 5000.0).message(600.5, "first extra").message(1500, "second extra");
    log.message(2200, "third extra").quit(2500);
    log.writeFile((dir.path() / "mb_messages.log").string());
    vok_set_extra_message_file(nullptr);
    compareBothWays(path, 1, "extra messages", 3);

    test::LogCapture quiet;
    FilePtr f = openPath(path, 1, 3);
    ASSERT_NE(f, nullptr);
    const Walked first = bulk(f.get(), VOKEXT_EVENTS, 64);
    int extras = 0;
    for (std::uint8_t e : first.eventExtra) extras += e;
    EXPECT_GE(extras, 2);
    ASSERT_EQ(vokext_rewind(f.get()), 0);
    expectSame(first, bulk(f.get(), VOKEXT_EVENTS, 64), "after rewinding");
}

TEST(BulkWalk, RewindAfterTrialJumpsGivesTheFirstWalkAgain) {
    const GappedRecording r(9, 3000, 2);
    const FilePtr& f = r.file;
    ASSERT_NE(f, nullptr);
    const std::uint32_t all = VOKEXT_SAMPLES | VOKEXT_EVENTS | VOKEXT_RECORDINGS;
    const Walked first = bulk(f.get(), all, 1000);
    testing::internal::CaptureStdout();
    ASSERT_EQ(vok_jump_to_trial(f.get(), 0), 0);
    testing::internal::GetCapturedStdout();
    bulk(f.get(), VOKEXT_SAMPLES, 10);
    ASSERT_EQ(vokext_rewind(f.get()), 0);
    expectSame(first, bulk(f.get(), all, 333), "second walk");
}

TEST(BulkWalk, VelocitiesOffLeaveOnlyTheVelocityFieldsMissing) {
    const GappedRecording r(31, 2000, 1);
    const FilePtr& f = r.file;
    ASSERT_NE(f, nullptr);
    const Walked with = bulk(f.get(), VOKEXT_SAMPLES, 1000);
    ASSERT_EQ(vokext_set_velocities(f.get(), 0), 0);
    ASSERT_EQ(vokext_rewind(f.get()), 0);
    const Walked without = bulk(f.get(), VOKEXT_SAMPLES, 1000);
    ASSERT_EQ(without.samples.size(), with.samples.size());
    std::size_t computed = 0;
    for (std::size_t i = 0; i < with.samples.size(); ++i) {
        Sample expected = with.samples[i];
        float* first = expected.gazeVelX;
        for (float* v = first; v < expected.fastPupilVelY + 2; ++v) {
            computed += *v != 1e8f;
            *v = 1e8f;
        }
        ASSERT_EQ(std::memcmp(&expected, &without.samples[i], sizeof expected), 0) << "sample " << i;
    }
    EXPECT_GT(computed, with.samples.size());  // the walk with them on did compute them
    ASSERT_EQ(vokext_set_velocities(f.get(), 1), 0);
    ASSERT_EQ(vokext_rewind(f.get()), 0);
    expectSame(with, bulk(f.get(), VOKEXT_SAMPLES, 1000), "velocities on again");
    EXPECT_EQ(vokext_set_velocities(nullptr, 1), -1);
}

TEST(BulkWalk, AColumnOfOneVelocityGroupGetsTheValuesOfTheWholeRecord) {
    test::TempDir dir;
    for (int revision : {2, 3}) {
        vokgen::GenOptions o;
        o.seed = 12;
        o.durationMs = 1500;
        o.gaps = true;
        o.trackerRevision = revision;
        const std::string path = writeGenerated(dir, "g" + std::to_string(revision) + ".vok", o);
        test::LogCapture quiet;
        FilePtr f = openPath(path, 1);
        ASSERT_NE(f, nullptr);
        const Walked whole = bulk(f.get(), VOKEXT_SAMPLES, 4096);
        const std::size_t n = whole.samples.size();
        ASSERT_GT(n, 500u);
        // One column of each group, each walk taking only that one.
        std::vector<float> gaze(n), headRef(n), pupil(n);
        const auto walkOne = [&](std::vector<float>& out, void (*place)(VOKEXT_SampleColumns&, float*)) {
            VOKEXT_Batch b{};
            b.kinds = VOKEXT_SAMPLES;
            b.sampleCapacity = static_cast<std::uint32_t>(n) + 1;  // room to meet the end
            place(b.samples, out.data());
            ASSERT_EQ(vokext_rewind(f.get()), 0);
            ASSERT_EQ(vokext_read_batch(f.get(), &b), 0);
            ASSERT_EQ(b.sampleCount, n);
        };
        walkOne(gaze, [](VOKEXT_SampleColumns& c, float* p) { c.gazeVelY[1] = p; });
        walkOne(headRef, [](VOKEXT_SampleColumns& c, float* p) { c.fastHeadRefVelX[0] = p; });
        walkOne(pupil, [](VOKEXT_SampleColumns& c, float* p) { c.pupilVelX[1] = p; });
        std::size_t computed = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const Sample& s = whole.samples[i];
            computed += s.gazeVelY[1] != 1e8f && s.fastHeadRefVelX[0] != 1e8f && s.pupilVelX[1] != 1e8f;
            ASSERT_EQ(std::memcmp(&gaze[i], &s.gazeVelY[1], 4), 0) << "revision " << revision << " sample " << i;
            ASSERT_EQ(std::memcmp(&headRef[i], &s.fastHeadRefVelX[0], 4), 0) << "sample " << i;
            ASSERT_EQ(std::memcmp(&pupil[i], &s.pupilVelX[1], 4), 0) << "sample " << i;
        }
        EXPECT_GT(computed, n / 2);
        // The batches leave the item-by-item reads all their velocities.
        ASSERT_EQ(vokext_rewind(f.get()), 0);
        expectSame(whole, perItem(f.get(), VOKEXT_SAMPLES), "per item after the one-column batches");
    }
}

TEST(BulkWalk, NanColumnsFollowTheRecordsAndNeverHoldMarkers) {
    test::TempDir dir;
    vokgen::GenOptions o;
    o.seed = 3;
    o.durationMs = 3000;
    o.gaps = true;
    o.eyes = vokgen::Eye::Right;
    const std::string path = writeGenerated(dir, "r.vok", o);
    test::LogCapture quiet;
    FilePtr f = openPath(path, 2);
    ASSERT_NE(f, nullptr);
    constexpr std::uint32_t kRows = 8000;
    std::vector<Sample> records(kRows);
    // Both the packed and the strided layout.
    std::vector<float> gazeX(2 * kRows), velX(2 * kRows), res(kRows);
    struct Row {
        double t;
        float pupil[2];
    };
    std::vector<Row> rows(kRows);
    VOKEXT_Batch b{};
    b.kinds = VOKEXT_SAMPLES;
    b.options = VOKEXT_MISSING_AS_NAN;
    b.sampleCapacity = kRows;
    b.samples.records = records.data();
    b.samples.gazeX[0] = gazeX.data();
    b.samples.gazeX[1] = gazeX.data() + kRows;
    b.samples.gazeVelX[1] = velX.data() + kRows;
    b.samples.resolutionX = res.data();
    ASSERT_EQ(vokext_read_batch(f.get(), &b), 0);
    const std::uint32_t n = b.sampleCount;
    ASSERT_GT(n, 1000u);
    ASSERT_EQ(vokext_rewind(f.get()), 0);
    VOKEXT_Batch s{};
    s.kinds = VOKEXT_SAMPLES;
    s.options = VOKEXT_MISSING_AS_NAN;
    s.sampleCapacity = kRows;
    s.samples.stride = sizeof(Row);
    s.samples.timeMs = &rows[0].t;
    s.samples.pupilSize[0] = &rows[0].pupil[0];
    s.samples.pupilSize[1] = &rows[0].pupil[1];
    ASSERT_EQ(vokext_read_batch(f.get(), &s), 0);
    ASSERT_EQ(s.sampleCount, n);
    int placeholders = 0, missingVelocities = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const Sample& r = records[i];
        EXPECT_TRUE(std::isnan(gazeX[i])) << "left eye not recorded";
        EXPECT_TRUE(std::isnan(rows[i].pupil[0]));
        const bool gaze = (r.flags & VOK_SAMPLE_GAZE) && r.gazeX[1] != 1e8f && r.gazeX[1] != -32768.0f;
        if (gaze) {
            EXPECT_EQ(gazeX[kRows + i], r.gazeX[1]) << i;
        } else {
            EXPECT_TRUE(std::isnan(gazeX[kRows + i])) << i;
            ++placeholders;
        }
        if (r.gazeVelX[1] == 1e8f) {
            EXPECT_TRUE(std::isnan(velX[kRows + i]));
            ++missingVelocities;
        } else {
            EXPECT_EQ(velX[kRows + i], r.gazeVelX[1]);
        }
        const bool size = (r.flags & VOK_SAMPLE_PUPILSIZE) && r.pupilSize[1] != -32768.0f && r.pupilSize[1] != 1e8f;
        if (size) EXPECT_EQ(rows[i].pupil[1], r.pupilSize[1]); else EXPECT_TRUE(std::isnan(rows[i].pupil[1]));
        EXPECT_EQ(rows[i].t, r.time + ((r.flags & VOK_SAMPLE_HALFMS) ? 0.5 : 0.0));
        EXPECT_FALSE(res[i] == 1e8f || res[i] == -32768.0f);
    }
    EXPECT_GT(placeholders, 0) << "the gaps give placeholder samples at the repair level";
    EXPECT_GT(missingVelocities, 0) << "block edges have no velocities";
}

TEST(BulkWalk, BadRequestsAreRefusedWithoutSteppingAndLogged) {
    test::TempDir dir;
    vokgen::GenOptions o;
    o.durationMs = 500;
    const std::string path = writeGenerated(dir, "r.vok", o);
    test::LogCapture log;
    FilePtr f = openPath(path, 0);
    ASSERT_NE(f, nullptr);
    VOKEXT_Batch b{};
    EXPECT_EQ(vokext_read_batch(nullptr, &b), -1);
    EXPECT_EQ(vokext_read_batch(f.get(), nullptr), -1);
    EXPECT_TRUE(log.contains("NULL"));

    std::vector<Event> events(4);
    b.kinds = VOKEXT_EVENTS;
    b.eventCapacity = 4;
    EXPECT_EQ(vokext_read_batch(f.get(), &b), -1) << "no event array";
    b.events = events.data();
    b.eventCount = 5;
    EXPECT_EQ(vokext_read_batch(f.get(), &b), -1) << "count beyond the capacity";
    b.eventCount = 0;
    char small[16];
    b.text = small;
    b.textCapacity = sizeof small;
    EXPECT_EQ(vokext_read_batch(f.get(), &b), -1) << "text buffer below the room of one message";
    EXPECT_TRUE(log.contains("vokext_read_batch"));
    EXPECT_EQ(f->cursor.position, 0u) << "nothing was stepped";

    // A full output stops before stepping.
    b.text = nullptr;
    b.textCapacity = 0;
    b.eventCount = 4;
    EXPECT_EQ(vokext_read_batch(f.get(), &b), 1);
    EXPECT_EQ(f->cursor.position, 0u);
    EXPECT_EQ(vokext_rewind(nullptr), -1);
}

TEST(BulkWalk, TrialRangesAreTheStretchesTheJumpsGoTo) {
    test::TempDir dir;
    vokgen::GenOptions o;
    o.seed = 11;
    o.durationMs = 6000;
    o.blocks = 2;
    o.trialsPerBlock = 3;
    const std::string path = writeGenerated(dir, "r.vok", o);
    test::LogCapture quiet;
    FilePtr f = openPath(path, 1);
    ASSERT_NE(f, nullptr);
    testing::internal::CaptureStdout();
    const int set = vok_set_trial_identifier(f.get(), "TRIAL_START", "TRIAL_END");
    const int count = vok_get_trial_count(f.get());
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(set, 0);
    // Each block start also opens a short trial before the first start message.
    ASSERT_EQ(count, 8);
    int byMessages = 0;
    for (int k = 0; k < count; ++k) {
        std::uint32_t first = 0, end = 0;
        ASSERT_EQ(vokext_get_trial_range(f.get(), k, &first, &end), 0);
        ASSERT_EQ(vok_jump_to_trial(f.get(), k), 0);
        BookMark mark{};
        ASSERT_EQ(vok_set_bookmark(f.get(), &mark), 0);
        EXPECT_EQ(mark.id, first);
        ASSERT_LT(first, end);
        f->cursor.position = first;
        const int firstType = vok_get_next_data(f.get());
        if (firstType != MESSAGEEVENT) continue;
        // A stretch that begins with the start message ends with the end message.
        ++byMessages;
        EXPECT_NE(std::string(vok_get_float_data(f.get())->event.message->c).find("TRIAL_START"), std::string::npos);
        f->cursor.position = end - 1;
        ASSERT_EQ(vok_get_next_data(f.get()), MESSAGEEVENT);
        EXPECT_NE(std::string(vok_get_float_data(f.get())->event.message->c).find("TRIAL_END"), std::string::npos);
    }
    EXPECT_EQ(byMessages, 6);
    std::uint32_t a = 0, e = 0;
    EXPECT_EQ(vokext_get_trial_range(f.get(), count, &a, &e), -1);
    EXPECT_EQ(vokext_get_trial_range(f.get(), -1, &a, &e), -1);
    EXPECT_EQ(vokext_get_trial_range(f.get(), 0, nullptr, &e), -1);
    EXPECT_EQ(vokext_get_trial_range(nullptr, 0, &a, &e), -1);
}

TEST(BulkMeasures, GiveTheSingleCallValues) {
    test::TempDir dir;
    vokgen::GenOptions o;
    o.seed = 21;
    o.durationMs = 1500;
    o.sampleGroups |= VOK_SAMPLE_HEADDATA;
    o.headDataType = 0x08;
    const std::string path = writeGenerated(dir, "r.vok", o);
    test::LogCapture quiet;
    FilePtr f = openPath(path, 1);
    ASSERT_NE(f, nullptr);
    const Walked w = bulk(f.get(), VOKEXT_SAMPLES, 4096);
    const auto n = static_cast<std::uint32_t>(w.samples.size());
    ASSERT_GT(n, 100u);
    std::vector<Sample> copy = w.samples;
    testing::internal::CaptureStdout();
    for (int eye : {0, 1}) {
        vok_compute_physical_setup(600, 1e8f, -300, 200, 300, -200, 0, 0, 1919, 1079);
        std::vector<double> px(n), py(n);
        ASSERT_EQ(vokext_calculate_ppd(1919, 1079, w.samples.data(), n, eye, px.data(), py.data()), 0);
        vok_compute_physical_setup(600, 1e8f, -300, 200, 300, -200, 0, 0, 1919, 1079);
        for (std::uint32_t i = 0; i < n; ++i) {
            double x = 0, y = 0;
            vok_calculate_ppd(1919, 1079, &copy[i], eye, &x, &y);
            ASSERT_EQ(px[i], x) << i;
            ASSERT_EQ(py[i], y) << i;
        }
        std::vector<int> pupilArea(n), crArea(n), dim(2 * n), crDim(2 * n), window(2 * n), cr2Area(n);
        std::vector<float> rawPupil(2 * n), rawCr(2 * n), pupilCr(2 * n), rawCr2(2 * n);
        VOKEXT_RawColumns out{pupilArea.data(), rawPupil.data(), crArea.data(), rawCr.data(), dim.data(),
                              crDim.data(), window.data(), pupilCr.data(), cr2Area.data(), rawCr2.data()};
        ASSERT_EQ(vokext_raw_values(f.get(), w.samples.data(), n, eye, &out), 0);
        for (std::uint32_t i = 0; i < n; i += 7) {
            Sample* s = &copy[i];
            float xy[2];
            int wh[2];
            EXPECT_EQ(pupilArea[i], vok_get_uncorrected_pupil_area(f.get(), s, eye));
            vok_get_uncorrected_raw_pupil(f.get(), s, eye, xy);
            EXPECT_TRUE(rawPupil[2 * i] == xy[0] && rawPupil[2 * i + 1] == xy[1]);
            EXPECT_EQ(crArea[i], vok_get_uncorrected_cr_area(f.get(), s, eye));
            vok_get_uncorrected_raw_cr(f.get(), s, eye, xy);
            EXPECT_TRUE(rawCr[2 * i] == xy[0] && rawCr[2 * i + 1] == xy[1]);
            vok_get_pupil_dimension(f.get(), s, eye, wh);
            EXPECT_TRUE(dim[2 * i] == wh[0] && dim[2 * i + 1] == wh[1]);
            vok_get_cr_dimension(f.get(), s, wh);
            EXPECT_TRUE(crDim[2 * i] == wh[0] && crDim[2 * i + 1] == wh[1]);
            vok_get_window_position(f.get(), s, wh);
            EXPECT_TRUE(window[2 * i] == wh[0] && window[2 * i + 1] == wh[1]);
            vok_get_pupil_cr(f.get(), s, eye, xy);
            EXPECT_TRUE((pupilCr[2 * i] == xy[0] || (std::isnan(xy[0]) && std::isnan(pupilCr[2 * i]))));
            EXPECT_EQ(cr2Area[i], vok_get_uncorrected_cr2_area(f.get(), s, eye));
            vok_get_uncorrected_raw_cr2(f.get(), s, eye, xy);
            EXPECT_TRUE(rawCr2[2 * i] == xy[0] && rawCr2[2 * i + 1] == xy[1]);
        }
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(vokext_calculate_ppd(1, 1, nullptr, 0, 0, nullptr, nullptr), 0);
    EXPECT_EQ(vokext_calculate_ppd(1, 1, nullptr, 3, 0, nullptr, nullptr), -1);
    EXPECT_EQ(vokext_raw_values(f.get(), w.samples.data(), 3, 0, nullptr), -1);
}

}  // namespace
}  // namespace vok
